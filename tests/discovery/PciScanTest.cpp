#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "Fakes.h"
#include "discovery/PciScan.h"

namespace brisquel {
namespace {

using fakes::FakeHost;
using fakes::FakePciBus;

class PciScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(::testing::TempDir()) /
          ("brisquel-scan-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  void Write(const char* name, const std::string& content) {
    std::ofstream(dir / name, std::ios::binary) << content;
  }
  void Scan() { ScanPciControllers({state, breakFlag, bus, host, dir}); }
  const PCIDevDesc& Entry(std::size_t i) const { return state.PciScanTable[i]; }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> PortPairs() const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::size_t i = 0; i < state.PciScanCount; ++i) {
      pairs.emplace_back(Entry(i).basePort, Entry(i).controlPort);
    }
    return pairs;
  }

  std::filesystem::path dir;
  DiscoveryState state;
  bool breakFlag = false;
  FakePciBus bus;
  FakeHost host;
};

using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST_F(PciScanTest, DerivesBothChannelsPortsFromModeAndBoardKind) {
  struct Case {
    const char* name;
    std::uint16_t vendor, device;
    std::uint32_t reg08;
    std::vector<std::uint32_t> bars;
    Pairs ports;
  };
  const std::vector<std::uint32_t> nativeBars{0xD001, 0xCC01, 0xC801, 0xC401};
  const std::vector<std::uint32_t> aceBars{0xE001, 0xB001, 0xC001, 0xA001};
  // clang-format off
  const Case cases[] = {
      {"legacy IDE", 0x8086, 0x27DF, 0x01018000, nativeBars,
       {{0x01F0, 0x03F6}, {0x0170, 0x0376}}},
      {"native IDE", 0x8086, 0x27C0, 0x01018F00, nativeBars,
       {{0xD000, 0xCC02}, {0xC800, 0xC402}}},
      {"primary native, secondary legacy", 0x8086, 0x27C0, 0x01018100, nativeBars,
       {{0xD000, 0xCC02}, {0x0170, 0x0376}}},
      {"RAID ignores the interface bits", 0x105A, 0x3318, 0x01040000, nativeBars,
       {{0xD000, 0xCC02}, {0xC800, 0xC402}}},
      {"SATA with zero BARs", 0x197B, 0x2363, 0x01060100, {0, 0, 0, 0},
       {{0x0000, 0x0002}, {0x0000, 0x0002}}},
      {"ACE single", 0xACE1, 0x0005, 0x01800000, aceBars,
       {{0xE000, 0xE00E}, {0x0000, 0x000E}}},
      {"ACE dual", 0xACE1, 0x0006, 0x01040000, aceBars,
       {{0xE000, 0xE00E}, {0xE020, 0xE02E}}},
      {"memory BAR keeps its low bits", 0x1095, 0x3114, 0x01800000, {0xFEBFF405, 0xFEBFF009, 0, 0},
       {{0xF404, 0xF00A}, {0x0000, 0x0002}}},
  };
  // clang-format on

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bus = FakePciBus{};
    bus.AddFunction(0, 1, 0, c.vendor, c.device, c.reg08, c.bars);
    Scan();
    EXPECT_EQ(PortPairs(), c.ports);
    for (std::size_t i = 0; i < state.PciScanCount; ++i) {
      EXPECT_EQ(Entry(i).vendorId, c.vendor);
      EXPECT_EQ(Entry(i).deviceId, c.device);
    }
  }
}

TEST_F(PciScanTest, KeepsOnlyMassStorageClassesOfAnAtaKindInScanOrder) {
  const std::uint16_t classes[] = {0x0100, 0x0101, 0x0102, 0x0103, 0x0104, 0x0105, 0x0106,
                                   0x0107, 0x0108, 0x0180, 0x0200, 0x0604, 0x0C03, 0x0C80};
  int device = 0;
  for (std::uint16_t classKey : classes) {
    bus.AddFunction(1, device++, 0, 0x1234, classKey, std::uint32_t{classKey} << 16);
  }
  Scan();
  std::vector<std::uint32_t> keptDevices;
  for (std::size_t i = 0; i < state.PciScanCount; ++i) keptDevices.push_back(Entry(i).deviceId);
  EXPECT_EQ(keptDevices,
            (std::vector<std::uint32_t>{0x0101, 0x0101, 0x0104, 0x0104, 0x0105, 0x0105, 0x0106,
                                        0x0106, 0x0107, 0x0107, 0x0108, 0x0108, 0x0180, 0x0180}));
  EXPECT_EQ(Entry(0).className, "Int ATA");
  EXPECT_EQ(Entry(12).className, "Ext ATA");
}

TEST_F(PciScanTest, EmptyBusesCostNineReadsAndEightPumpsPerSlot) {
  Scan();
  EXPECT_EQ(state.PciScanCount, 0u);
  EXPECT_EQ(bus.reads.size(), 51u * 32u * 9u);
  EXPECT_EQ(host.pumps, 51 * 32 * 8);
  EXPECT_EQ(bus.reads.back(), (FakePciBus::Read{FakePciBus::Addr(50, 31, 7), 0x00}));
  EXPECT_TRUE(host.lines.empty());
}

TEST_F(PciScanTest, ProbesTwoFunctionsOrEightByTheMultiFunctionBit) {
  // Single-function device with a stray function 2: functions 0 and 1 only.
  bus.AddFunction(0, 3, 0, 0x8086, 0x7010, 0x01018000);
  bus.AddFunction(0, 3, 1, 0x8086, 0x7011, 0x01018000);
  bus.AddFunction(0, 3, 2, 0x8086, 0x7012, 0x01018000);
  // Multi-function device: function 5 is found; a device id 0x0000 is absent.
  bus.AddFunction(0, 4, 0, 0x8086, 0x2448, 0x06040000, {}, true);
  bus.AddFunction(0, 4, 5, 0x8086, 0x27DF, 0x01018000);
  bus.AddFunction(0, 4, 6, 0x8086, 0x0000, 0x01018000);
  Scan();

  std::vector<std::uint32_t> kept;
  for (std::size_t i = 0; i < state.PciScanCount; i += 2) kept.push_back(Entry(i).deviceId);
  EXPECT_EQ(kept, (std::vector<std::uint32_t>{0x7010, 0x7011, 0x27DF}));

  auto probed = [&](int device, int function, std::uint8_t reg) {
    return std::count(bus.reads.begin(), bus.reads.end(),
                      FakePciBus::Read{FakePciBus::Addr(0, device, function), reg});
  };
  EXPECT_EQ(probed(3, 1, 0x00), 1);
  EXPECT_EQ(probed(3, 2, 0x00), 0);
  EXPECT_EQ(probed(4, 7, 0x00), 1);
  EXPECT_EQ(probed(4, 6, 0x08), 0) << "device id 0x0000 is skipped before its class is read";
  EXPECT_EQ(probed(4, 0, 0x10), 0) << "base address registers only for kept functions";
  EXPECT_EQ(probed(4, 5, 0x0C), 0) << "header read at function 0 only";
}

TEST_F(PciScanTest, ShiftLogsEveryPresentFunctionAndCtrlOnlyKeptOnes) {
  bus.AddFunction(0, 31, 0, 0x8086, 0x27B8, 0x06010000, {}, true);
  bus.AddFunction(0, 31, 1, 0x8086, 0x27DF, 0x01018A80);
  bus.AddFunction(0, 31, 2, 0x8086, 0x27C0, 0x01018F00, {0xD001, 0xCC01, 0xC801, 0xC401});

  host.shift = true;
  Scan();
  EXPECT_EQ(host.lines, (std::vector<std::string>{
                            "06010000: Bus 0,dev 31,class 0601,func 0 MF:True",
                            "ID 27B8*",
                            "",
                            "01018A80: Bus 0,dev 31,class 0101,func 1 MF:True",
                            "82801G (ICH7 Family) IDE",
                            "",
                            "01018F00: Bus 0,dev 31,class 0101,func 2 MF:True",
                            "82801GB/GR/GH (ICH7 Family) SATA IDE",
                            "",
                        }));

  host = FakeHost{};
  host.ctrl = true;
  Scan();
  EXPECT_EQ(host.lines, (std::vector<std::string>{
                            "01018A80: Bus 0,dev 31,class 0101,func 1 MF:True",
                            "8086:27DF 82801G (ICH7 Family) IDE Int ATA",
                            "8086:27DF 82801G (ICH7 Family) IDE Int ATA",
                            "01018F00: Bus 0,dev 31,class 0101,func 2 MF:True",
                            "8086:27C0 82801GB/GR/GH (ICH7 Family) SATA IDE Int ATA",
                            "8086:27C0 82801GB/GR/GH (ICH7 Family) SATA IDE Int ATA",
                        }));
  EXPECT_EQ(Entry(0).vendorName, "Intel");
}

TEST_F(PciScanTest, SingleFunctionDeviceReadsMfFalse) {
  bus.AddFunction(2, 0, 0, 0x1B4B, 0x9123, 0x01060100);
  host.ctrl = true;
  Scan();
  ASSERT_EQ(host.lines.size(), 3u);
  EXPECT_EQ(host.lines[0], "01060100: Bus 2,dev 0,class 0106,func 0 MF:False");
  EXPECT_EQ(host.lines[1], "1B4B:9123 88SE9123 PCIe SATA 6.0 Gb/s SATA");
  EXPECT_EQ(Entry(0).vendorName, "1B4B*");
}

TEST_F(PciScanTest, BreakEndsTheScanAtTheNextLoopHeadKeepingWhatWasFound) {
  bus.AddFunction(0, 1, 0, 0x8086, 0x7010, 0x01018000);
  bus.AddFunction(0, 2, 0, 0x8086, 0x7111, 0x01018000);
  bus.AddFunction(0, 3, 0, 0x8086, 0x27DF, 0x01018000);
  // Break is clicked while the pump runs just before device 2, function 0 is read.
  host.onPump = [&] {
    if (bus.reads.back() == FakePciBus::Read{FakePciBus::Addr(0, 2, 0), 0x0C}) breakFlag = true;
  };
  breakFlag = true;  // left over from an earlier operation: the scan clears it
  Scan();
  EXPECT_TRUE(breakFlag);
  ASSERT_EQ(state.PciScanCount, 4u);
  EXPECT_EQ(Entry(2).deviceId, 0x7111u);
  EXPECT_EQ(Entry(3).basePort, 0x0170u) << "both channels of the function under way are stored";
  EXPECT_EQ(bus.reads.back().address, FakePciBus::Addr(0, 2, 0)) << "nothing probed after it";
  EXPECT_EQ(host.pumps, 8 + 2 + 1);
}

TEST_F(PciScanTest, AFullTableStopsAddingAndSaysSoOnce) {
  // 17 multi-function devices of 8 IDE functions each: 136 functions, room for 128.
  for (int device = 0; device < 17; ++device) {
    for (int function = 0; function < 8; ++function) {
      bus.AddFunction(0, device, function, 0x8086,
                      static_cast<std::uint16_t>(0x100 + device * 8 + function), 0x01018F00,
                      {0x1001u + 16u * static_cast<std::uint32_t>(function)}, true);
    }
  }
  state.PciScanTable[255].deviceName = "untouched";
  Scan();
  EXPECT_EQ(state.PciScanCount, 256u);
  EXPECT_EQ(Entry(254).deviceId, 0x17Fu);
  EXPECT_EQ(Entry(255).deviceId, 0x17Fu);
  EXPECT_EQ(std::count_if(host.lines.begin(), host.lines.end(),
                          [](const std::string& l) { return l.find("full") != l.npos; }),
            1);
  EXPECT_EQ(host.lines.size(), 1u);
}

TEST(PciNameLookup, FilesOverrideTheTablesInOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> pcidevs, pciIni;
    std::uint16_t vendor, device;
    std::string vendorName, deviceName;
  };
  const std::vector<std::string> pciIdsStyle{"8086  Intel Corporation", "\t27df  From pci.ini",
                                             "\t7777  "};
  // clang-format off
  const Case cases[] = {
      {"pcidevs key wins", {"[names]", "8086:27DF=V"}, pciIdsStyle, 0x8086, 0x27DF,
       "Intel", "V"},
      {"then pci.ini", {}, pciIdsStyle, 0x8086, 0x27DF, "Intel", "From pci.ini"},
      {"then the table", {}, {}, 0x8086, 0x27DF, "Intel", "82801G (ICH7 Family) IDE"},
      {"nothing knows it", {}, pciIdsStyle, 0x1B4B, 0x7777, "1B4B*", "ID 7777*"},
      {"key case, untrimmed value", {"10de=  NV "}, {}, 0x10DE, 0x27DF,
       "  NV ", "82801G (ICH7 Family) IDE"},
      {"device key case", {"8086:27df=lower"}, {}, 0x8086, 0x27DF, "Intel", "lower"},
      {"untrimmed key does not match", {"8086 =X", "8086:27DF =Y"}, {}, 0x8086, 0x27DF,
       "Intel", "82801G (ICH7 Family) IDE"},
      {"first match wins", {"8086=First", "8086=Second"}, {}, 0x8086, 0x27DF,
       "First", "82801G (ICH7 Family) IDE"},
      {"an empty first match falls through to the table", {"8086=", "8086=Second"}, {},
       0x8086, 0x27DF, "Intel", "82801G (ICH7 Family) IDE"},
      {"value keeps later '='", {"8086:27DF=a=b"}, {}, 0x8086, 0x27DF, "Intel", "a=b"},
      {"pci.ini digits inside a vendor line", {}, pciIdsStyle, 0x1234, 0x8086,
       "1234*", "Intel Corporation"},
      {"pci.ini is case-sensitive", {}, {"\t27DF  Upper"}, 0x8086, 0x27DF,
       "Intel", "82801G (ICH7 Family) IDE"},
      {"pci.ini trims blanks and controls", {}, {"x27df\t Name \x01\r"}, 0x8086, 0x27DF,
       "Intel", "Name"},
      {"pci.ini digits with nothing behind", {}, {"\t27df  "}, 0x8086, 0x27DF,
       "Intel", "82801G (ICH7 Family) IDE"},
      {"ACE Lab skips pci.ini", {}, {"\t0005  Other"}, 0xACE1, 0x0005,
       "ACE Lab", "PC3000 PCI"},
      {"ACE Lab still uses pcidevs", {"ACE1:0005=Mine"}, {"\t0005  Other"}, 0xACE1, 0x0005,
       "ACE Lab", "Mine"},
  };
  // clang-format on

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PciNameFiles files{c.pcidevs, c.pciIni};
    EXPECT_EQ(LookupPciVendorName(files, c.vendor), c.vendorName);
    EXPECT_EQ(LookupPciDeviceName(files, c.vendor, c.device), c.deviceName);
  }
}

TEST(NameFileLines, SplitsAtAnyLineEndAndBoundsLineLength) {
  using namespace std::string_literals;
  EXPECT_EQ(SplitNameFileLines("\xEF\xBB\xBF"
                               "a=1\r\nb=2\rc=3\n\nd"),
            (std::vector<std::string>{"a=1", "b=2", "c=3", "", "d"}));
  EXPECT_EQ(SplitNameFileLines("x\n"), (std::vector<std::string>{"x"}));
  EXPECT_EQ(SplitNameFileLines("k=\0v\n"s), (std::vector<std::string>{"k=\0v"s}));
  const auto lines = SplitNameFileLines(std::string(5000, 'A') + "\nB");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string(kNameFileMaxLine, 'A'));
  EXPECT_EQ(lines[1], "B");
}

TEST_F(PciScanTest, NameFilesBesideTheProgramAreReadAtEveryScan) {
  bus.AddFunction(0, 1, 0, 0x8086, 0x27DF, 0x01018000);
  Write("pcidevs.ini", "8086=Chipzilla\r\n");
  Write("pci.ini", "\t27df  82801G IDE from the list\n");
  Scan();
  EXPECT_EQ(Entry(0).vendorName, "Chipzilla");
  EXPECT_EQ(Entry(1).deviceName, "82801G IDE from the list");

  Write("pcidevs.ini", "8086:27DF=Edited\n");
  Scan();
  EXPECT_EQ(Entry(0).vendorName, "Intel");
  EXPECT_EQ(Entry(0).deviceName, "Edited");
}

TEST_F(PciScanTest, UnreadableOrBinaryNameFilesDoNoHarm) {
  bus.AddFunction(0, 1, 0, 0x8086, 0x27DF, 0x01018000);
  std::filesystem::create_directory(dir / "pci.ini");  // exists, but cannot be read as a file
  std::string binary(200000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 131 % 256);
  Write("pcidevs.ini", binary + "\n8086:27DF=After the noise\n");
  Scan();
  ASSERT_EQ(state.PciScanCount, 2u);
  EXPECT_EQ(Entry(0).deviceName, "After the noise");
  EXPECT_EQ(Entry(0).className, "Int ATA");
}

}  // namespace

TEST(PciScan, PioLineShowsPortsInHexWithAtLeastFourDigitsAndTheNames) {
  PCIDevDesc legacy{0x8086, 0x27DF, 0x1F0, 0x3F6, "Intel", "82801G (ICH7 Family) IDE", "Int ATA"};
  EXPECT_EQ(PioLineText(legacy), "01F0/03F6 - Int ATA: Intel 82801G (ICH7 Family) IDE");
  PCIDevDesc odd{0xACE1, 0x0006, 0xE020, 0x12345, "", "", "RAID"};
  EXPECT_EQ(PioLineText(odd), "E020/12345 - RAID:  ");
}

}  // namespace brisquel
