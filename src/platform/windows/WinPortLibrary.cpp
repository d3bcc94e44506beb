#include "platform/windows/WinPortLibrary.h"

#include <windows.h>

#include <utility>

#include "platform/windows/RuntimeBinding.h"

namespace brisquel::winpt {

// The library's exports as it declares them.
struct WinPortLibrary::Entries {
  BOOL(WINAPI* InitializeOls)();
  DWORD(WINAPI* GetDllStatus)();
  DWORD(WINAPI* GetDriverType)();
  BYTE(WINAPI* ReadIoPortByte)(WORD);
  WORD(WINAPI* ReadIoPortWord)(WORD);
  VOID(WINAPI* WriteIoPortByte)(WORD, BYTE);
  VOID(WINAPI* WriteIoPortWord)(WORD, WORD);
  DWORD(WINAPI* ReadPciConfigDword)(DWORD, BYTE);
};

WinPortLibrary::WinPortLibrary(const char* dllName) {
  HMODULE module = LoadLibraryA(dllName);
  if (!module) return;
  auto entries = std::make_unique<Entries>();
  const bool all = Resolve(module, "InitializeOls", entries->InitializeOls) &&
                   Resolve(module, "GetDllStatus", entries->GetDllStatus) &&
                   Resolve(module, "GetDriverType", entries->GetDriverType) &&
                   Resolve(module, "ReadIoPortByte", entries->ReadIoPortByte) &&
                   Resolve(module, "ReadIoPortWord", entries->ReadIoPortWord) &&
                   Resolve(module, "WriteIoPortByte", entries->WriteIoPortByte) &&
                   Resolve(module, "WriteIoPortWord", entries->WriteIoPortWord) &&
                   Resolve(module, "ReadPciConfigDword", entries->ReadPciConfigDword);
  if (!all) {
    FreeLibrary(module);
    return;
  }
  entries_ = std::move(entries);
}

// The module stays loaded: the process ends with it, as with an ordinary import.
WinPortLibrary::~WinPortLibrary() = default;

bool WinPortLibrary::InitializeOls() {
  ready_ = entries_ && entries_->InitializeOls() != FALSE;
  return ready_;
}

std::int32_t WinPortLibrary::GetDllStatus() {
  return entries_ ? static_cast<std::int32_t>(entries_->GetDllStatus()) : kOlsDriverNotLoaded;
}

std::int32_t WinPortLibrary::GetDriverType() {
  return entries_ ? static_cast<std::int32_t>(entries_->GetDriverType()) : kDriverTypeUnknown;
}

std::uint8_t WinPortLibrary::ReadIoPortByte(std::uint16_t port) {
  return ready_ ? entries_->ReadIoPortByte(port) : 0xFF;
}

std::uint16_t WinPortLibrary::ReadIoPortWord(std::uint16_t port) {
  return ready_ ? entries_->ReadIoPortWord(port) : 0xFFFF;
}

void WinPortLibrary::WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
  if (ready_) entries_->WriteIoPortByte(port, value);
}

void WinPortLibrary::WriteIoPortWord(std::uint16_t port, std::uint16_t value) {
  if (ready_) entries_->WriteIoPortWord(port, value);
}

std::uint32_t WinPortLibrary::ReadPciConfigDword(std::uint32_t pciAddress,
                                                 std::uint8_t regAddress) {
  return ready_ ? entries_->ReadPciConfigDword(pciAddress, regAddress) : 0xFFFFFFFFu;
}

}  // namespace brisquel::winpt
