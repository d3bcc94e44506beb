// The caption's system text on Windows, from the version data the system
// itself keeps: the process environment block and the shared user data page,
// which compatibility settings do not alter.
#pragma once

#include <cstddef>

#include "platform/windows/portable/WindowsVersion.h"
#include "ui/SystemInfo.h"

namespace brisquel::winpt {

// Offsets of the version fields in a 64-bit process's environment block and in
// the shared user data page.
inline constexpr std::size_t kPebOsMajorVersion = 0x118;
inline constexpr std::size_t kPebOsMinorVersion = 0x11C;
inline constexpr std::size_t kPebOsBuildValue = 0x120;  // build number, service pack above it
inline constexpr std::size_t kPebOsPlatformId = 0x124;
inline constexpr std::size_t kSharedDataNtProductType = 0x264;

// The version data as these two blocks hold it. A 64-bit process has no
// 32-bit emulation layer to ask (the marker's place in its thread block is a
// thread-local slot): that it runs at all proves the system is 64-bit.
WindowsVersionData ReadWindowsVersionData(const std::byte* peb, const std::byte* sharedUserData);

// This process's own blocks.
WindowsVersionData RunningWindowsVersionData();

class WinSystemInfo : public SystemInfo {
 public:
  std::string SystemName() override;
  bool HasAdministratorRights() override;
};

}  // namespace brisquel::winpt
