#include <gtest/gtest.h>

#include <memory>

#include "discovery/PciScan.h"
#include "sim/Bench.h"
#include "sim/PciBus.h"
#include "sim/PortBus.h"
#include "support/FakeUiHost.h"

namespace brisquel::sim {
namespace {

TEST(PciBus, AnswersConfigurationReadsOfPresentFunctionsOnly) {
  PciBus bus;
  bus.Add({0, 31, 1}, pci::MultiFunction(pci::LegacyIde()));
  bus.Add({2, 0, 0}, pci::NativeIde(0x1095, 0x0680, {0xD001, 0xCC01, 0xC801, 0xC401}));
  bus.Add({0, 1, 0}, pci::PciBridge());
  struct Case {
    std::uint32_t address;
    std::uint8_t reg;
    std::uint32_t value;
  };
  for (const Case& c : {
           Case{PciAddress(0, 31, 1), 0x00, 0x27DF8086},
           Case{PciAddress(0, 31, 1), 0x08, 0x01018A80},
           Case{PciAddress(0, 31, 1), 0x0C, 0x00800000},  // multi-function bit 23
           Case{PciAddress(0, 31, 1), 0x10, 0x00000000},
           Case{PciAddress(2, 0, 0), 0x00, 0x06801095}, Case{PciAddress(2, 0, 0), 0x0C, 0x00000000},
           Case{PciAddress(2, 0, 0), 0x10, 0xD001}, Case{PciAddress(2, 0, 0), 0x1C, 0xC401},
           Case{PciAddress(2, 0, 0), 0x20, 0x0},
           Case{PciAddress(0, 1, 0), 0x0C, 0x00010000},   // header type 1, single function
           Case{PciAddress(0, 31, 0), 0x00, 0xFFFFFFFF},  // empty function of a present device
           Case{PciAddress(0, 30, 1), 0x0C, 0xFFFFFFFF},  // empty slot
           Case{PciAddress(0, 31, 1), 0x0A, 0xFFFFFFFF},  // not dword-aligned
           Case{PciAddress(0, 31, 1), 0xFD, 0xFFFFFFFF},  // would run past the space
           Case{0x10000 | PciAddress(0, 31, 1), 0x00, 0xFFFFFFFF},  // bits above 15
       }) {
    EXPECT_EQ(bus.ReadConfigDword(c.address, c.reg), c.value)
        << std::hex << c.address << " reg " << int(c.reg);
  }
  bus.Find({0, 31, 1})->Write32(0xFC, 0x12345678);
  EXPECT_EQ(bus.ReadConfigDword(PciAddress(0, 31, 1), 0xFC), 0x12345678u);
  EXPECT_TRUE(bus.Remove({0, 31, 1}));
  EXPECT_EQ(bus.ReadConfigDword(PciAddress(0, 31, 1), 0x00), 0xFFFFFFFFu);
}

TEST(PciBus, PresetsCarryTheClassesAndBoardIdsTheScanLooksFor) {
  struct Case {
    PciFunctionConfig config;
    std::uint32_t reg00, classKey, bar0;
  };
  for (const Case& c : {Case{pci::SataAhci(), 0x27C58086, 0x0106, 0},
                        Case{pci::Raid(0x8086, 0x27C3, {0xE001}), 0x27C38086, 0x0104, 0xE001},
                        Case{pci::AceBoard(false, 0xE001), 0x0005ACE1, 0x0180, 0xE001},
                        Case{pci::AceBoard(true, 0xE001), 0x0006ACE1, 0x0180, 0xE001},
                        Case{pci::NetworkCard(), 0x816810EC, 0x0200, 0xE001},
                        Case{pci::HostBridge(), 0x27A08086, 0x0600, 0}}) {
    PciFunction f(c.config);
    EXPECT_EQ(f.Read32(0x00), c.reg00);
    EXPECT_EQ(f.Read32(0x08) >> 16, c.classKey);
    EXPECT_EQ(f.Read32(0x10), c.bar0);
  }
}

TEST(PortBus, DecodesChannelsAtTheirBasePortsAndFloatsEverywhereElse) {
  PciBus pci;
  PortBus ports(pci);
  auto primary = std::make_shared<IdeChannel>();
  primary->Attach(0, std::make_shared<AtaDrive>(DriveIdentity{"PORT BUS DRIVE", "P1", "S1"}));
  ASSERT_TRUE(ports.MapChannel(0x1F0, primary));
  ASSERT_TRUE(ports.MapChannel(0x170, std::make_shared<IdeChannel>()));
  EXPECT_FALSE(ports.MapChannel(0x1F4, std::make_shared<IdeChannel>()));  // overlaps 1F0..1F7
  EXPECT_FALSE(ports.MapChannel(0xFFFC, std::make_shared<IdeChannel>()));
  EXPECT_EQ(ports.ChannelAt(0x1F0), primary.get());

  ports.Record(true);
  ports.WriteIoPortByte(0x1F6, 0xA0);
  ports.WriteIoPortByte(0x1F2, 1);
  ports.WriteIoPortByte(0x1F7, 0xEC);
  while (ports.ReadIoPortByte(0x1F7) & 0x80) {
  }
  EXPECT_EQ(ports.ReadIoPortByte(0x1F7), 0x58);  // DRDY DSC DRQ
  std::string model;
  for (int word = 0; word < 256; ++word) {
    const std::uint16_t w = ports.ReadIoPortWord(0x1F0);
    if (word >= 27 && word < 34) {
      model += static_cast<char>(w >> 8);
      model += static_cast<char>(w & 0xFF);
    }
  }
  EXPECT_EQ(model, "PORT BUS DRIVE");
  EXPECT_EQ(ports.Accesses().front(), (PortAccess{PortAccess::Kind::writeByte, 0x1F6, 0xA0}));
  EXPECT_EQ(ports.Accesses().back().kind, PortAccess::Kind::readWord);

  // Ports no channel decodes, and a channel without drives, float.
  EXPECT_EQ(ports.ReadIoPortByte(0x1F8), 0xFF);
  EXPECT_EQ(ports.ReadIoPortByte(0x1EF), 0xFF);
  EXPECT_EQ(ports.ReadIoPortWord(0x3F6), 0xFFFF);
  EXPECT_EQ(ports.ReadIoPortByte(0x177), 0xFF);
  EXPECT_EQ(ports.ReadIoPortWord(0x170), 0xFFFF);
}

TEST(PortBus, ALibraryThatFailedToStartReachesNothing) {
  PciBus pci;
  pci.Add({0, 31, 1}, pci::LegacyIde());
  PortBus ports(pci);
  auto channel = std::make_shared<IdeChannel>();
  auto drive = std::make_shared<AtaDrive>();
  channel->Attach(0, drive);
  ports.MapChannel(0x1F0, channel);
  ports.Library() = {false, 3, 0};

  EXPECT_FALSE(ports.InitializeOls());
  EXPECT_EQ(ports.GetDllStatus(), 3);
  EXPECT_EQ(ports.GetDriverType(), 0);
  EXPECT_EQ(ports.ReadPciConfigDword(PciAddress(0, 31, 1), 0x00), 0xFFFFFFFFu);
  ports.WriteIoPortByte(0x1F7, 0xEC);
  EXPECT_TRUE(drive->History().empty());
  EXPECT_EQ(ports.ReadIoPortByte(0x1F7), 0xFF);
}

TEST(PortBus, TheScanFindsTheDefaultBenchsChannels) {
  std::unique_ptr<Bench> bench = Bench::Default();
  DiscoveryState discovery;
  bool breakFlag = false;
  testing::FakeUiHost host;
  ScanPciControllers({discovery, breakFlag, bench->Ports(), host, "/nonexistent"});
  ASSERT_EQ(discovery.PciScanCount, 4u);
  const std::uint32_t expected[4][3] = {
      {0x27DF, 0x1F0, 0x3F6}, {0x27DF, 0x170, 0x376}, {0x27C5, 0x0, 0x2}, {0x27C5, 0x0, 0x2}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(discovery.PciScanTable[i].deviceId, expected[i][0]) << i;
    EXPECT_EQ(discovery.PciScanTable[i].basePort, expected[i][1]) << i;
    EXPECT_EQ(discovery.PciScanTable[i].controlPort, expected[i][2]) << i;
  }
}

}  // namespace
}  // namespace brisquel::sim
