// The caption's version data, read from the process's own blocks, against what
// the system's version call reports; and the offsets on blocks of our making.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>

#include "platform/windows/WinSystemInfo.h"

namespace brisquel::winpt {
namespace {

void Put(std::byte* block, std::size_t offset, std::uint32_t value) {
  std::memcpy(block + offset, &value, sizeof value);
}

TEST(WinSystemInfo, ReadsTheFieldsAtTheirOffsets) {
  std::array<std::byte, 0x130> peb{};
  std::array<std::byte, 0x270> shared{};
  Put(peb.data(), kPebOsMajorVersion, 6);
  Put(peb.data(), kPebOsMinorVersion, 1);
  Put(peb.data(), kPebOsBuildValue, 0x0100'1DB1);  // build 7601, service pack 1 above it
  Put(peb.data(), kPebOsPlatformId, 2);
  Put(shared.data(), kSharedDataNtProductType, 3);
  const WindowsVersionData v = ReadWindowsVersionData(peb.data(), shared.data());
  EXPECT_EQ(v.buildValue, 0x0100'1DB1u);
  EXPECT_EQ(WindowsVersionName(v), "Windows Server 2008 R2 x64");
  Put(shared.data(), kSharedDataNtProductType, 1);
  EXPECT_EQ(WindowsVersionName(ReadWindowsVersionData(peb.data(), shared.data())), "Windows 7 x64");
}

TEST(WinSystemInfo, RunningDataAgreesWithTheSystemsVersionCall) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  ASSERT_NE(rtlGetVersion, nullptr);
  OSVERSIONINFOEXW os{};
  os.dwOSVersionInfoSize = sizeof os;
  ASSERT_EQ(rtlGetVersion(&os), 0);

  const WindowsVersionData v = RunningWindowsVersionData();
  EXPECT_EQ(v.platformId, os.dwPlatformId);
  EXPECT_EQ(v.major, os.dwMajorVersion);
  EXPECT_EQ(v.minor, os.dwMinorVersion);
  EXPECT_EQ(v.buildValue & 0xFFFF, os.dwBuildNumber & 0xFFFF);
  EXPECT_EQ(v.productType, os.wProductType);
  const std::string name = WinSystemInfo().SystemName();
  EXPECT_TRUE(name.ends_with(" x64")) << name;
  EXPECT_NE(name, "Windows x64") << "a version the table names";
}

}  // namespace
}  // namespace brisquel::winpt
