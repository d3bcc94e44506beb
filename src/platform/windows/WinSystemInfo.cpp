#include "platform/windows/WinSystemInfo.h"

#include <cstdint>
#include <cstring>

#include <windows.h>

namespace brisquel::winpt {
namespace {

static_assert(sizeof(void*) == 8, "the offsets and the architecture word are a 64-bit process's");

// The shared user data page sits at this address in every process.
constexpr std::uintptr_t kSharedUserDataAddress = 0x7FFE0000;

// The thread block is at gs:0; its word at 0x60 points to the process block.
const std::byte* ProcessEnvironmentBlock() {
  const std::byte* peb;
  asm("movq %%gs:0x60, %0" : "=r"(peb));
  return peb;
}

std::uint32_t Dword(const std::byte* block, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, block + offset, sizeof value);
  return value;
}

}  // namespace

WindowsVersionData ReadWindowsVersionData(const std::byte* peb, const std::byte* sharedUserData) {
  WindowsVersionData v;
  v.platformId = Dword(peb, kPebOsPlatformId);
  v.major = Dword(peb, kPebOsMajorVersion);
  v.minor = Dword(peb, kPebOsMinorVersion);
  v.buildValue = Dword(peb, kPebOsBuildValue);
  v.productType = Dword(sharedUserData, kSharedDataNtProductType);
  v.wow64 = true;
  return v;
}

WindowsVersionData RunningWindowsVersionData() {
  return ReadWindowsVersionData(ProcessEnvironmentBlock(),
                                reinterpret_cast<const std::byte*>(kSharedUserDataAddress));
}

std::string WinSystemInfo::SystemName() {
  return WindowsVersionName(RunningWindowsVersionData());
}

bool WinSystemInfo::HasAdministratorRights() {
  // An elevated token: what the window restarts itself for when it lacks one.
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool read =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
  CloseHandle(token);
  return read && elevation.TokenIsElevated != 0;
}

}  // namespace brisquel::winpt
