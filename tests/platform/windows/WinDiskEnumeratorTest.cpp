// The device setup library walk against Wine's own setupapi: the system's set
// of disks (Wine lists none), and a set of our making with two disk interfaces
// whose paths and names come from the library itself; the disks are opened
// and queried through a fake device I/O.
#include <gtest/gtest.h>
#include <windows.h>

#include <deque>
#include <functional>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

#include "discovery/uSetupApiEnum.h"
#include "platform/windows/WinDeviceIo.h"
#include "platform/windows/WinDiskEnumerator.h"
#include "support/FakeDeviceIo.h"

namespace brisquel::winpt {
namespace {

using brisquel::testing::FakeDeviceIo;

const GUID kDiskClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Two devices with a disk interface each; the first has a friendly name.
class OwnSetEnumerator : public WinDiskEnumerator {
 public:
  using WinDiskEnumerator::WinDiskEnumerator;

 protected:
  void* OpenDeviceSet() override {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    for (const char* friendly : {"Test Disk", static_cast<const char*>(nullptr)}) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      EXPECT_TRUE(SetupDiCreateDeviceInfoA(set, "BRISQUELTEST", &kDiskClass, nullptr, nullptr,
                                           DICD_GENERATE_ID, &device));
      if (friendly) {
        EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME,
                                                      reinterpret_cast<const BYTE*>(friendly),
                                                      static_cast<DWORD>(strlen(friendly) + 1)));
      }
      SP_DEVICE_INTERFACE_DATA iface{};
      iface.cbSize = sizeof iface;
      EXPECT_TRUE(SetupDiCreateDeviceInterfaceA(set, &device, &kDiskClass, nullptr, 0, &iface));
    }
    return set;
  }
};

// Answers the queries in turn, on handles the fake device I/O opened.
class QueryAnswers : public IoControl {
 public:
  explicit QueryAnswers(const FakeDeviceIo& io) : io_(io) {}
  std::deque<std::function<void(std::span<std::uint8_t> out)>> answers;

  bool DeviceIoControl(OsHandle handle, std::uint32_t, void*, std::uint32_t, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override {
    if (!io_.openHandles.count(handle) || answers.empty()) return false;
    answers.front()({static_cast<std::uint8_t*>(out), outSize});
    answers.pop_front();
    if (returned) *returned = outSize;
    return true;
  }
  std::uint32_t GetLastError() override { return win32::ERROR_INVALID_FUNCTION_; }

 private:
  const FakeDeviceIo& io_;
};

// The device number (type 7, disk 3) and the adapter (SATA, 128 KiB).
void AnswerQueries(QueryAnswers& io) {
  io.answers.push_back([](std::span<std::uint8_t> out) {
    out[0] = 7;
    out[4] = 3;
  });
  io.answers.push_back([](std::span<std::uint8_t> out) {
    out[10] = 0x02;  // MaximumTransferLength 0x20000
    out[20] = 1;
    out[24] = 11;
  });
}

TEST(WinDiskEnumerator, WinesOwnSetHoldsNoDisks) {
  WinDeviceIo io;
  WinDiskEnumerator disks(io, io);
  ASSERT_TRUE(disks.Available());
  DiscoveryState state;
  EXPECT_EQ(EnumeratePhysicalDrives(disks, state), 0);
}

TEST(WinDiskEnumerator, MissingLibraryOrEntryPointFindsNothing) {
  FakeDeviceIo io;
  QueryAnswers queries(io);
  for (const char* name : {"no-such-setup-library.dll", "kernel32.dll"}) {
    WinDiskEnumerator disks(io, queries, name);
    EXPECT_FALSE(disks.Available()) << name;
    DiscoveryState state;
    EXPECT_EQ(EnumeratePhysicalDrives(disks, state), 0) << name;
  }
}

TEST(WinDiskEnumerator, WalksTheLibrarysInterfacesWithThisProcesssRecordSizes) {
  FakeDeviceIo io;
  QueryAnswers queries(io);
  OwnSetEnumerator disks(io, queries);
  ASSERT_TRUE(disks.Begin());
  DiskInterfaceInfo first, second;
  // Both paths are the library's; the fake opens only the first.
  ASSERT_EQ(disks.Query(0, first), DiskStep::failed);
  ASSERT_EQ(io.opens.size(), 1u);
  const std::string firstPath = io.opens[0].path;
  EXPECT_EQ(disks.Query(2, second), DiskStep::noMoreItems);
  disks.End();
  EXPECT_NE(firstPath.find("{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"), std::string::npos)
      << firstPath;
  EXPECT_EQ(io.opens[0].access, GENERIC_READ_ | GENERIC_WRITE_);
  EXPECT_EQ(io.opens[0].share, FILE_SHARE_READ_ | FILE_SHARE_WRITE_);

  // Now with the first disk present: its record is filled from the library's
  // friendly name and the two queries; the second fails to open and stays empty.
  io.opens.clear();
  io.AddDrive(firstPath, 0x40);
  AnswerQueries(queries);
  DiscoveryState state;
  ASSERT_EQ(EnumeratePhysicalDrives(disks, state), 2);
  const TST_PhysicalDrive& d = state.DriveTable[0];
  EXPECT_EQ(d.DevicePath, firstPath);
  EXPECT_EQ(d.DisplayName, "Test Disk");
  EXPECT_EQ(d.DeviceNumber, 3);
  EXPECT_EQ(d.PhysicalDrivePath, "\\\\.\\PhysicalDrive3");
  EXPECT_TRUE(d.AdapterValid);
  EXPECT_EQ(d.MaxTransferLength, 0x20000u);
  EXPECT_TRUE(d.AdapterUsesPio);
  EXPECT_EQ(BusTypeName(d.BusType), "SATA");
  EXPECT_EQ(state.DriveTable[1].DisplayName, "");
  EXPECT_EQ(io.opens.size(), 2u);
  EXPECT_NE(io.opens[1].path, firstPath);
  EXPECT_EQ(io.closed, std::vector<OsHandle>{0x40});
}

TEST(WinDiskEnumerator, ThirtyTwoBitRecordSizesAreRefusedByA64BitLibrary) {
  // The sizes a 32-bit process would pass; each call fails before it looks
  // for an item, so a walk built on them would leave every line empty.
  HDEVINFO set =
      SetupDiGetClassDevsA(&kDiskClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = 28;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskClass, 0, &iface));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  SP_DEVINFO_DATA device{};
  device.cbSize = 28;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &device));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  iface.cbSize = sizeof iface;
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kDiskClass, 0, &iface));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
}  // namespace brisquel::winpt
