#include "platform/windows/WinDiskEnumerator.h"

#include <windows.h>
// windows.h first: these need its types.
#include <setupapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows/RuntimeBinding.h"

namespace brisquel::winpt {

// The library's entry points as it declares them.
struct WinDiskEnumerator::SetupApi {
  decltype(&SetupDiGetClassDevsA) GetClassDevsA;
  decltype(&SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList;
  decltype(&SetupDiEnumDeviceInfo) EnumDeviceInfo;
  decltype(&SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces;
  decltype(&SetupDiGetDeviceInterfaceDetailA) GetDeviceInterfaceDetailA;
  decltype(&SetupDiGetDeviceRegistryPropertyA) GetDeviceRegistryPropertyA;
  decltype(&SetupDiGetDeviceInterfaceAlias) GetDeviceInterfaceAlias;  // only required
};

namespace {

// GUID_DEVINTERFACE_DISK.
const GUID kDiskInterfaceClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// The records are sized for the process that passes them: the library checks
// cbSize against its own layout and refuses any other.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);

// The adapter descriptor fields read.
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumTransferLength) == 8);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumPhysicalPages) == 12);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) == 16);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, AdapterUsesPio) == 20);
static_assert(offsetof(STORAGE_ADAPTER_DESCRIPTOR, BusType) == 24);

constexpr std::size_t kAdapterAnswerSize = 8192;

// A text the library wrote into a buffer, up to its terminator or the buffer's end.
std::string TextIn(const char* text, std::size_t room) {
  const void* end = std::memchr(text, 0, room);
  return std::string(text, end ? static_cast<const char*>(end) : text + room);
}

}  // namespace

WinDiskEnumerator::WinDiskEnumerator(DeviceIo& io, IoControl& control, const char* setupLibrary)
    : io_(io), control_(control), set_(INVALID_HANDLE_VALUE) {
  HMODULE module = LoadLibraryA(setupLibrary);
  if (!module) return;
  auto api = std::make_unique<SetupApi>();
  const bool all =
      Resolve(module, "SetupDiGetClassDevsA", api->GetClassDevsA) &&
      Resolve(module, "SetupDiDestroyDeviceInfoList", api->DestroyDeviceInfoList) &&
      Resolve(module, "SetupDiEnumDeviceInfo", api->EnumDeviceInfo) &&
      Resolve(module, "SetupDiEnumDeviceInterfaces", api->EnumDeviceInterfaces) &&
      Resolve(module, "SetupDiGetDeviceInterfaceDetailA", api->GetDeviceInterfaceDetailA) &&
      Resolve(module, "SetupDiGetDeviceRegistryPropertyA", api->GetDeviceRegistryPropertyA) &&
      Resolve(module, "SetupDiGetDeviceInterfaceAlias", api->GetDeviceInterfaceAlias);
  if (!all) {
    FreeLibrary(module);
    return;
  }
  api_ = std::move(api);
}

// The library stays loaded until the process ends.
WinDiskEnumerator::~WinDiskEnumerator() {
  End();
}

void* WinDiskEnumerator::OpenDeviceSet() {
  return api_->GetClassDevsA(&kDiskInterfaceClass, nullptr, nullptr,
                             DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

bool WinDiskEnumerator::Begin() {
  End();
  if (!api_) return false;
  set_ = OpenDeviceSet();
  return set_ != INVALID_HANDLE_VALUE;
}

void WinDiskEnumerator::End() {
  if (set_ != INVALID_HANDLE_VALUE) api_->DestroyDeviceInfoList(set_);
  set_ = INVALID_HANDLE_VALUE;
}

DiskStep WinDiskEnumerator::Query(int index, DiskInterfaceInfo& info) {
  const auto i = static_cast<DWORD>(index);
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!api_->EnumDeviceInterfaces(set_, nullptr, &kDiskInterfaceClass, i, &interfaceData)) {
    return GetLastError() == ERROR_NO_MORE_ITEMS ? DiskStep::noMoreItems : DiskStep::failed;
  }

  DWORD required = 0;
  if (api_->GetDeviceInterfaceDetailA(set_, &interfaceData, nullptr, 0, &required, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || required < sizeof(DWORD)) {
    return DiskStep::failed;
  }
  // 64-bit words keep the record aligned as the library expects it.
  std::vector<std::uint64_t> detailBuffer((required + 7) / 8);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detailBuffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!api_->GetDeviceInterfaceDetailA(set_, &interfaceData, detail, required, nullptr, nullptr)) {
    return DiskStep::failed;
  }
  const std::string path = TextIn(
      detail->DevicePath, required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));

  const OsHandle disk = io_.CreateFileA(path, GENERIC_READ_ | GENERIC_WRITE_,
                                        FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_, 0);
  if (disk == kInvalidHandle) return DiskStep::failed;
  info = {};
  info.devicePath = path;

  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  DWORD nameSize = 0;
  if (api_->EnumDeviceInfo(set_, i, &device) &&
      !api_->GetDeviceRegistryPropertyA(set_, &device, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0,
                                        &nameSize) &&
      GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    std::vector<char> name(nameSize + 8);
    if (api_->GetDeviceRegistryPropertyA(set_, &device, SPDRP_FRIENDLYNAME, nullptr,
                                         reinterpret_cast<BYTE*>(name.data()),
                                         static_cast<DWORD>(name.size()), nullptr)) {
      info.friendlyName = TextIn(name.data(), name.size());
    }
  }

  STORAGE_DEVICE_NUMBER number{};
  std::uint32_t returned = 0;
  if (control_.DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                               sizeof number, &returned) &&
      number.DeviceType == FILE_DEVICE_DISK) {
    info.deviceNumber = static_cast<std::int32_t>(number.DeviceNumber);
  }

  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAdapterProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<std::uint64_t> answer(kAdapterAnswerSize / 8);
  info.adapterValid =
      control_.DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                               answer.data(), kAdapterAnswerSize, &returned);
  if (info.adapterValid) {
    const auto& adapter = *reinterpret_cast<const STORAGE_ADAPTER_DESCRIPTOR*>(answer.data());
    info.maxTransferLength = adapter.MaximumTransferLength;
    info.maxPhysicalPages = adapter.MaximumPhysicalPages;
    info.alignmentMask = adapter.AlignmentMask;
    info.adapterUsesPio = adapter.AdapterUsesPio != 0;
    info.busType = static_cast<std::uint8_t>(adapter.BusType);
  }

  io_.CloseHandle(disk);
  return DiskStep::found;
}

}  // namespace brisquel::winpt
