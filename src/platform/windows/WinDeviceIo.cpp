#include "platform/windows/WinDeviceIo.h"

#include <windows.h>

namespace brisquel::winpt {
namespace {

HANDLE AsHandle(OsHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

OsHandle WinDeviceIo::CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                                  std::uint32_t shareMode, std::uint32_t creationDisposition,
                                  std::uint32_t flagsAndAttributes) {
  // INVALID_HANDLE_VALUE is -1, the same value as kInvalidHandle.
  return reinterpret_cast<OsHandle>(::CreateFileA(path.c_str(), desiredAccess, shareMode, nullptr,
                                                  creationDisposition, flagsAndAttributes,
                                                  nullptr));
}

bool WinDeviceIo::DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                                  std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                  std::uint32_t* bytesReturned) {
  // Without overlapped I/O the system requires somewhere to write the count.
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(AsHandle(handle), ioControlCode, inBuffer, inSize, outBuffer,
                                    outSize, &returned, nullptr);
  if (bytesReturned) *bytesReturned = returned;
  return ok != FALSE;
}

bool WinDeviceIo::CloseHandle(OsHandle handle) {
  return ::CloseHandle(AsHandle(handle)) != FALSE;
}

std::uint32_t WinDeviceIo::GetLastError() {
  return ::GetLastError();
}

void WinDeviceIo::SetLastError(std::uint32_t code) {
  ::SetLastError(code);
}

std::string WinDeviceIo::SystemMessageText(std::uint32_t code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  return std::string(text, length);
}

}  // namespace brisquel::winpt
