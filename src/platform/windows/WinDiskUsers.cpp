#include "platform/windows/WinDiskUsers.h"

#include <windows.h>
#include <winioctl.h>

#include <cwchar>
#include <memory>

#include "platform/windows/WideText.h"
#include "text/Trim.h"

namespace brisquel::winpt {
namespace {

constexpr DWORD kMaxExtents = 64;  // a volume spread over more disks than this is unheard of

struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// No access asked: the questions below need none, and so no rights.
Handle OpenForQueries(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  return Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The volume calls want the name with its last backslash, CreateFileW without.
std::wstring WithoutLastSlash(std::wstring name) {
  if (!name.empty() && name.back() == L'\\') name.pop_back();
  return name;
}

class RealVolumeCalls : public VolumeCalls {
 public:
  std::optional<std::uint32_t> DiskNumber(const std::string& devicePath) override {
    const Handle disk = OpenForQueries(Wide(devicePath));
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!disk || !DeviceIoControl(disk.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                                  sizeof number, &returned, nullptr)) {
      return Failed();
    }
    return number.DeviceNumber;
  }

  std::optional<std::vector<std::string>> Volumes() override {
    std::vector<std::string> volumes;
    wchar_t name[MAX_PATH];
    HANDLE find = FindFirstVolumeW(name, MAX_PATH);
    if (find == INVALID_HANDLE_VALUE) return Failed();
    do {
      volumes.push_back(Utf8(name));
    } while (FindNextVolumeW(find, name, MAX_PATH));
    const DWORD error = GetLastError();
    FindVolumeClose(find);
    if (error != ERROR_NO_MORE_FILES) {
      error_ = error;
      return std::nullopt;
    }
    return volumes;
  }

  std::optional<std::vector<std::uint32_t>> DisksOf(const std::string& volume) override {
    const std::wstring name = Wide(volume);
    // Optical drives are no disk's, and their driver does not answer for extents.
    if (GetDriveTypeW(name.c_str()) == DRIVE_CDROM) return std::vector<std::uint32_t>{};
    const Handle handle = OpenForQueries(WithoutLastSlash(name));
    const DWORD size = offsetof(VOLUME_DISK_EXTENTS, Extents) + kMaxExtents * sizeof(DISK_EXTENT);
    std::vector<std::uint64_t> buffer((size + 7) / 8);
    DWORD returned = 0;
    if (!handle || !DeviceIoControl(handle.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                    buffer.data(), size, &returned, nullptr)) {
      return Failed();
    }
    const auto& extents = *reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
    std::vector<std::uint32_t> disks;
    for (DWORD i = 0; i < extents.NumberOfDiskExtents && i < kMaxExtents; ++i) {
      disks.push_back(extents.Extents[i].DiskNumber);
    }
    return disks;
  }

  std::optional<std::vector<std::string>> MountPoints(const std::string& volume) override {
    const std::wstring name = Wide(volume);
    DWORD length = 0;
    std::wstring names(MAX_PATH, L'\0');
    while (!GetVolumePathNamesForVolumeNameW(name.c_str(), names.data(),
                                             static_cast<DWORD>(names.size()), &length)) {
      if (GetLastError() != ERROR_MORE_DATA) return Failed();
      names.resize(length);
    }
    // One name after another, each ending in a nul, the last list with two.
    std::vector<std::string> points;
    for (const wchar_t* p = names.c_str(); *p; p += wcslen(p) + 1) points.push_back(Utf8(p));
    return points;
  }

  std::optional<std::string> WindowsVolume() override {
    wchar_t folder[MAX_PATH], root[MAX_PATH], volume[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !GetVolumePathNameW(folder, root, MAX_PATH) ||
        !GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH)) {
      return Failed();
    }
    return Utf8(volume);
  }

  std::optional<std::string> BootVolume() override {
    // Setup keeps the system partition as a device name ("\Device\HarddiskVolume1");
    // the volume whose name leads to that device is the one.
    wchar_t device[MAX_PATH];
    DWORD size = sizeof device;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Setup", L"SystemPartition",
                                        RRF_RT_REG_SZ, nullptr, device, &size);
    if (status != ERROR_SUCCESS) {
      error_ = static_cast<DWORD>(status);
      return std::nullopt;
    }
    const auto volumes = Volumes();
    if (!volumes) return std::nullopt;
    for (const std::string& volume : *volumes) {
      // QueryDosDeviceW takes "Volume{...}", without "\\?\" and the last backslash.
      const std::wstring name = WithoutLastSlash(Wide(volume)).substr(4);
      wchar_t target[MAX_PATH];
      if (QueryDosDeviceW(name.c_str(), target, MAX_PATH) && _wcsicmp(target, device) == 0) {
        return volume;
      }
    }
    // Set up from a partition that is no volume now: none of these is it.
    return std::string();
  }

  bool HasPageFile(const std::string& mountPoint) override {
    return GetFileAttributesW(Wide(mountPoint + "pagefile.sys").c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::string Failure() override {
    wchar_t text[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error_, 0, text, 256, nullptr);
    const std::string message(TrimEnd(Utf8(std::wstring_view(text, length)), " \r\n."));
    return message.empty() ? "error " + std::to_string(error_) : message;
  }

 private:
  std::nullopt_t Failed() {
    error_ = GetLastError();
    return std::nullopt;
  }
  DWORD error_ = 0;
};

}  // namespace

DiskUse DiskUseOf(const VolumeUses& uses) {
  if (uses.unknown) return DiskUse::Unknown(*uses.unknown);
  if (uses.uses.empty()) return DiskUse::Free();
  std::string what;
  for (const std::string& use : uses.uses) what += (what.empty() ? "" : "; ") + use;
  return DiskUse::InUse(what, uses.holdsWindows ? RunningSystem::windows : RunningSystem::none);
}

DiskUse WinDiskUsers::OfDisk(const std::string& devicePath) {
  RealVolumeCalls calls;
  return DiskUseOf(UsesOfDisk(devicePath, calls));
}

}  // namespace brisquel::winpt
