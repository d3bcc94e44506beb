#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "discovery/uSetupApiEnum.h"
#include "sim/Bench.h"
#include "sim/BenchFile.h"

namespace brisquel::sim {
namespace {

const std::string kShippedDefault = BRISQUEL_TEST_DATA "/../../bench-files/default.ini";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(BenchFile, TheShippedDefaultIsTheBuiltInBench) {
  EXPECT_EQ(ReadFile(kShippedDefault), kDefaultBenchText);
}

TEST(BenchFile, TheDefaultBenchHasTheControllerTheDrivesAndTheBridge) {
  const BenchParse parse = ParseBenchText(kDefaultBenchText);
  ASSERT_TRUE(parse.bench) << parse.error;
  std::unique_ptr<Bench> bench = Bench::Default();
  ASSERT_TRUE(bench);

  // ICH7 IDE at bus 0 device 31 function 1, legacy, on a multi-function device.
  PortBus& ports = bench->Ports();
  EXPECT_EQ(ports.ReadPciConfigDword(PciAddress(0, 31, 1), 0x00), 0x27DF8086u);
  EXPECT_EQ(ports.ReadPciConfigDword(PciAddress(0, 31, 1), 0x08), 0x01018A80u);
  EXPECT_EQ(ports.ReadPciConfigDword(PciAddress(0, 31, 0), 0x0C) & 0x00800000u, 0x00800000u);
  ASSERT_NE(bench->Channel(0x1F0), nullptr);
  EXPECT_EQ(bench->Channel(0x1F0)->Drive(0), bench->Drive("ide0"));
  EXPECT_EQ(bench->Channel(0x170)->Drive(0), nullptr);

  // The API list: SATA, the IDE drive again, the USB drive behind its
  // bridge, and last the NVMe drive.
  DiscoveryState discovery;
  ASSERT_EQ(EnumeratePhysicalDrives(bench->Disks(), discovery), 4);
  EXPECT_EQ(bench->Disks().Begun(), bench->Disks().Ended());
  const std::uint8_t busTypes[] = {11, 3, 7, 17};
  for (int i = 0; i < 4; ++i) {
    const TST_PhysicalDrive& d = discovery.DriveTable[i];
    EXPECT_EQ(d.BusType, busTypes[i]);
    EXPECT_EQ(d.DevicePath, DefaultDiskPath(i));
    EXPECT_EQ(d.PhysicalDrivePath, "\\\\.\\PhysicalDrive" + std::to_string(i));
  }
  EXPECT_EQ(discovery.DriveTable[2].DisplayName, "WDC WD10EZEX-00SIMC0 USB Device");
  SimDeviceIo& io = bench->Io();
  const OsHandle usb = io.CreateFileA(DefaultDiskPath(2), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  ASSERT_NE(usb, kInvalidHandle);
  const AtaAnswer refused = io.AtaPassThrough(usb, {.regs = {.device = 0xA0, .command = 0xE7}});
  EXPECT_FALSE(refused.delivered);
  EXPECT_EQ(refused.systemError, win32::ERROR_INVALID_FUNCTION_);
}

TEST(BenchFile, EveryKeyReachesTheBench) {
  const char* text = R"(
; a comment
[library]
ready = no
dll-status = -1
driver-type = 0
[enumeration]
available = yes
device-set-opens = no
[pci 32:1f.7]
vendor = 0x1095
device = 3112
class = 01018F02
header-type = 0
multifunction = yes
bar0 = D001
bar1 = cc01
bar2 = C801
bar3 = C401
bar4 = B001
bar5 = FEB00000
[pci 01:00.0]
kind = ace-dual
bar0 = E001
[drive d1]
model = "  LEADING BLANKS KEPT "
firmware = FW=1.0
serial = S/N:1
abort-command = 92
abort-features = 07
vendor-primary-code = B017
vendor-second-code = 1
vendor-third-code = FFFF
vendor-requested-sectors = 70000
stay-busy = yes
never-set-dsc = yes
dsc-after-abort = yes
busy-reads = 12
flash-seconds = 130
[bridge b1]
forms = 16
ck-cond = ignored
ata-ioctl-error = 50
a1-length = 12
tpsiu = no
drops = EC 0x92
[channel D000]
device1 = d1
[disk]
drive = d1
bridge = b1
path = \\?\usbstor#disk#1
name = Friendly
number = 7
bus = usb
max-transfer = 65536
[disk]
fails-to-open = yes
adapter = no
)";
  const BenchParse parse = ParseBenchText(text);
  ASSERT_TRUE(parse.bench) << parse.error;
  const BenchDescription& d = *parse.bench;
  EXPECT_FALSE(d.library.ready);
  EXPECT_EQ(d.library.dllStatus, -1);
  EXPECT_EQ(d.library.driverType, 0);
  EXPECT_FALSE(d.deviceSetOpens);

  ASSERT_EQ(d.pci.size(), 2u);
  EXPECT_EQ(d.pci[0].at, (PciLocation{0x32, 0x1F, 7}));
  const PciFunctionConfig& f = d.pci[0].config;
  EXPECT_EQ(f.vendorId, 0x1095);
  EXPECT_EQ(f.deviceId, 0x3112);
  EXPECT_EQ(f.classDword, 0x01018F02u);
  EXPECT_TRUE(f.multiFunction);
  EXPECT_EQ(f.bars,
            (std::array<std::uint32_t, 6>{0xD001, 0xCC01, 0xC801, 0xC401, 0xB001, 0xFEB00000}));
  EXPECT_EQ(d.pci[1].config.deviceId, pci::kAceDual);
  EXPECT_EQ(d.pci[1].config.bars[0], 0xE001u);

  ASSERT_EQ(d.drives.size(), 1u);
  const BenchDrive& drive = d.drives[0];
  EXPECT_EQ(drive.identity.model, "  LEADING BLANKS KEPT ");
  EXPECT_EQ(drive.identity.firmware, "FW=1.0");
  EXPECT_EQ(drive.identity.serial, "S/N:1");
  EXPECT_EQ(drive.faults.abortCommand, 0x92);
  EXPECT_EQ(drive.faults.abortFeatures, 0x07);
  EXPECT_EQ(drive.faults.vendorPrimaryCode, 0xB017);
  EXPECT_EQ(drive.faults.vendorSecondCode, 0x0001);
  EXPECT_EQ(drive.faults.vendorThirdCode, 0xFFFF);
  EXPECT_EQ(drive.faults.vendorRequestedSectors, 70000u);
  EXPECT_TRUE(drive.faults.stayBusy);
  EXPECT_TRUE(drive.faults.neverSetDsc);
  EXPECT_TRUE(drive.faults.dscAfterAbort);
  EXPECT_EQ(drive.faults.busyReads, 12u);
  EXPECT_EQ(drive.faults.flashSeconds, 130u);

  ASSERT_EQ(d.bridges.size(), 1u);
  BridgeBehaviour bridge{false, true, false, 50, true, false, {}};
  bridge.drops.set(0xEC).set(0x92);
  EXPECT_EQ(d.bridges[0].behaviour, bridge);
  ASSERT_EQ(d.channels.size(), 1u);
  EXPECT_EQ(d.channels[0].basePort, 0xD000);
  EXPECT_EQ(d.channels[0].device[0], "");
  EXPECT_EQ(d.channels[0].device[1], "d1");

  ASSERT_EQ(d.disks.size(), 2u);
  EXPECT_EQ(d.disks[0].path, "\\\\?\\usbstor#disk#1");
  EXPECT_EQ(d.disks[0].friendlyName, "Friendly");
  EXPECT_EQ(d.disks[0].number, 7);
  EXPECT_EQ(d.disks[0].busType, 7);
  EXPECT_EQ(d.disks[0].maxTransferLength, 65536u);
  EXPECT_EQ(d.disks[1].path, DefaultDiskPath(1));
  EXPECT_TRUE(d.disks[1].failsToOpen);
  EXPECT_FALSE(d.disks[1].adapterValid);
  EXPECT_EQ(d.disks[1].busType, 0);

  // Built: the drive answers through the bench, the failing disk fails.
  Bench bench(d);
  EXPECT_EQ(bench.Drive("d1")->Faults().busyReads, 12u);
  EXPECT_EQ(bench.Channel(0xD000)->Drive(1), bench.Drive("d1"));
  EXPECT_EQ(bench.Io().CreateFileA(DefaultDiskPath(1), GENERIC_ALL_, 3, OPEN_EXISTING_, 0),
            kInvalidHandle);
  EXPECT_EQ(bench.Io().GetLastError(), win32::ERROR_ACCESS_DENIED_);
  DiskInterfaceInfo info;
  EXPECT_EQ(bench.Disks().Query(1, info), DiskStep::failed);
  EXPECT_FALSE(bench.Disks().Begin());
}

TEST(BenchFile, RefusesBadInputWithTheLineAndTheReason) {
  struct Case {
    const char* text;
    int line;
    const char* reason;
  };
  const Case cases[] = {
      {"key = 1\n", 1, "key outside any section"},
      {"[drive d]\nmodel\n", 2, "expected \"key = value\""},
      {"[drive d]\n= x\n", 2, "missing key"},
      {"[drives d]\n", 1, "unknown section [drives d]"},
      {"[drive d\n", 1, "without a closing ]"},
      {"[drive]\n", 1, "needs an argument"},
      {"[library x]\n", 1, "takes no argument"},
      {"[library]\n[library]\n", 2, "more than 1 [library]"},
      {"[drive d]\nmodle = X\n", 2, "unknown key \"modle\" in [drive d]"},
      {"[drive d]\nmodel = A\nmodel = B\n", 3, "given twice in [drive d] (first on line 2)"},
      {"[drive d]\nmodel = 12345678901234567890123456789012345678901\n", 2,
       "longer than 40 characters"},
      {"[drive d]\nfirmware = \x01\n", 2, "character 0x1 is not allowed"},
      {"[drive d]\nserial = caf\xC3\xA9\n", 2, "character 0xC3 is not allowed"},
      {"[drive d]\nabort-command = 100\n", 2, "100 is above FF"},
      {"[drive d]\nabort-command = x1\n", 2, "\"x1\" is not a hexadecimal number"},
      {"[drive d]\nabort-features = 03\n", 2, "needs abort-command"},
      {"[drive d]\nbusy-reads = 1000001\n", 2, "outside 0..1000000"},
      {"[drive d]\nflash-seconds = 3601\n", 2, "outside 0..3600"},
      {"[drive d]\nbusy-reads = 1e3\n", 2, "not a decimal number"},
      {"[drive d]\nstay-busy = true\n", 2, "expected yes or no"},
      {"[drive d!]\n", 1, "is not a name"},
      {"[drive d]\n[drive d]\n", 2, "[drive d] appears twice"},
      {"[pci 0:1f]\n", 1, "expected bus:device.function"},
      {"[pci 00:20.0]\nkind = network\n", 1, "device: 20 is above 1F"},
      {"[pci 00:1f.8]\nkind = network\n", 1, "function: 8 is above 7"},
      {"[pci 00:1f.1]\nvendor = 8086\n", 1, "needs vendor, device and class, or a kind"},
      {"[pci 00:1f.1]\nkind = scsi\n", 2, "unknown kind \"scsi\""},
      {"[pci 00:1f.1]\nkind = network\n[pci 00:1F.1]\nkind = network\n", 3, "appears twice"},
      {"[pci 00:1f.1]\nkind = network\nheader-type = 80\n", 3, "80 is above 7F"},
      {"[channel 1F0]\n[channel 1F4]\n", 2, "[channel 1F4] overlaps [channel 1F0]"},
      {"[channel FFFA]\n", 1, "FFFA is above FFF8"},
      {"[channel 1F0]\ndevice0 = hd9\n", 2, "no [drive hd9]"},
      {"[drive d]\n[channel 1F0]\ndevice0 = d\ndevice1 = d\n", 4,
       "drive d is already at [channel 1F0] device0"},
      {"[disk]\nname = X\n", 1, "needs a drive (or fails-to-open = yes)"},
      {"[drive d]\n[disk]\ndrive = d\nbridge = b\n", 4, "no [bridge b]"},
      {"[drive d]\n[disk]\ndrive = d\npath = p\n[disk]\ndrive = d\npath = p\n", 7,
       "path p is already used on line 4"},
      {"[drive d]\n[disk]\ndrive = d\nbus = 256\n", 4, "outside 0..255"},
      {"[drive d]\n[disk]\ndrive = d\nbus = FIREWIRE\n", 4, "neither a bus type name"},
      {"[drive d]\n[disk]\ndrive = d\nadapter = no\nbus = SATA\n", 5, "has no bus"},
      {"[drive d]\n[disk]\ndrive = d\nnumber = -1\n", 4, "outside 0..2147483647"},
      {"[bridge b]\nforms = 12 12\n", 2, "expected \"12\", \"16\", \"12 16\" or \"none\""},
      {"[bridge b]\nforms = none 16\n", 2, "expected \"12\", \"16\""},
      {"[bridge b]\na1-length = 16\n", 2, "a1-length: expected 10 or 12"},
      {"[bridge b]\ndrops = EC 100\n", 2, "drops: 100 is above"},
      {"[bridge b]\ndrops = \"\"\n", 2, "drops: needs opcodes"},
      {"[bridge b]\ntpsiu = maybe\n", 2, "tpsiu"},
      {"[bridge b]\nck-cond = maybe\n", 2, "expected honoured or ignored"},
      {"[nvme n]\nslot2 = X\n", 2, "slot2: the controller has 1 slot"},
      {"[nvme n]\nslots = 8\n", 2, "outside 1..7"},
      {"[nvme n]\nslots = 2\nactive-slot = 3\n", 3, "outside 1..2"},
      {"[nvme n]\nslots = 2\nactive-slot = 2\n", 1, "the active slot 2 holds no firmware"},
      {"[nvme n]\nslot1 = 123456789\n", 2, "longer than 8 characters"},
      {"[nvme n]\nrefuse-status = 4001\n", 2, "needs refuse-opcode"},
      {"[nvme n]\nrefuse-opcode = 06\nrefuse-status = 0\n", 3, "0 is success"},
      {"[nvme n]\nrefuse-opcode = 06\nrefuse-status = 8001\n", 3, "8001 is above 47FF"},
      {"[drive n]\n[nvme n]\n", 2, "[nvme n] appears twice"},
      {"[nvme n]\n[disk]\ndrive = n\n", 3, "no [drive n]"},
      {"[nvme n]\n[channel 1F0]\ndevice0 = n\n", 3, "no [drive n]"},
      {"[drive d]\n[disk]\nnvme = d\n", 3, "no [nvme d]"},
      {"[drive d]\n[nvme n]\n[disk]\ndrive = d\nnvme = n\n", 5, "not both"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const BenchParse parse = ParseBenchText(c.text);
    EXPECT_FALSE(parse.bench.has_value());
    EXPECT_EQ(parse.line, c.line);
    EXPECT_NE(parse.error.find(c.reason), std::string::npos) << parse.error;
    EXPECT_EQ(parse.error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << parse.error;
  }
}

TEST(BenchFile, AnNvmeDriveTakesEveryKeyAndADiskNamesIt) {
  const BenchParse parse = ParseBenchText(
      "[nvme n]\nmodel = M\nserial = S\nslots = 3\nslot1 = A\nslot3 = C\nactive-slot = 3\n"
      "next-slot = 1\nslot1-read-only = yes\nactivate-without-reset = yes\n"
      "firmware-commands = no\nfwug = 255\nmdts = 0\nmtfa = 600\nrefuse-opcode = 11\n"
      "refuse-status = 4107\n[disk]\nnvme = n\n");
  ASSERT_TRUE(parse.bench) << parse.error;
  ASSERT_EQ(parse.bench->nvmes.size(), 1u);
  const BenchNvme& n = parse.bench->nvmes[0];
  EXPECT_EQ(n.identity.model, "M");
  EXPECT_EQ(n.identity.serial, "S");
  EXPECT_EQ(n.identity.slotCount, 3);
  EXPECT_EQ(n.identity.slotRevisions[0], "A");
  EXPECT_EQ(n.identity.slotRevisions[1], "");
  EXPECT_EQ(n.identity.slotRevisions[2], "C");
  EXPECT_EQ(n.identity.activeSlot, 3);
  EXPECT_EQ(n.identity.nextSlot, 1);
  EXPECT_TRUE(n.identity.slot1ReadOnly);
  EXPECT_TRUE(n.identity.activateWithoutReset);
  EXPECT_FALSE(n.identity.firmwareCommands);
  EXPECT_EQ(n.identity.fwug, 255);
  EXPECT_EQ(n.identity.mdts, 0);
  EXPECT_EQ(n.identity.mtfa, 600);
  EXPECT_EQ(n.faults.refuseOpcode, 0x11);
  EXPECT_EQ(n.faults.refuseStatus, (NvmeStatus{1, 0x07, true}));
  ASSERT_EQ(parse.bench->disks.size(), 1u);
  EXPECT_EQ(parse.bench->disks[0].nvme, "n");
  EXPECT_EQ(parse.bench->disks[0].busType, 17) << "an NVMe disk's bus, unless it says otherwise";
}

TEST(BenchFile, SizesAreBounded) {
  std::string longLine = "[drive d]\nmodel = " + std::string(kMaxBenchLineLength, 'A') + "\n";
  EXPECT_NE(ParseBenchText(longLine).error.find("line 2: longer than 512"), std::string::npos);
  const std::string huge(kMaxBenchFileBytes + 1, '\n');
  EXPECT_EQ(ParseBenchText(huge).error, "larger than 1048576 bytes");

  // More disks than the drive table holds, as a test of the 41-record limit needs.
  std::string many = "[drive d]\n";
  for (int i = 0; i < 50; ++i) many += "[disk]\ndrive = d\n";
  const BenchParse parse = ParseBenchText(many);
  ASSERT_TRUE(parse.bench) << parse.error;
  Bench bench(*parse.bench);
  DiskInterfaceInfo info;
  EXPECT_EQ(bench.Disks().Query(49, info), DiskStep::found);
  EXPECT_EQ(info.devicePath, DefaultDiskPath(49));
  EXPECT_EQ(bench.Disks().Query(50, info), DiskStep::noMoreItems);

  std::string tooMany;
  for (std::size_t i = 0; i <= kMaxBenchDisks; ++i) tooMany += "[disk]\nfails-to-open = yes\n";
  EXPECT_NE(ParseBenchText(tooMany).error.find("more than 128 [disk] sections"), std::string::npos);
}

TEST(BenchFile, LoadingNamesTheSourceOfAnError) {
  // With the system's reason, in the system's words.
  const std::string missing = Bench::FromFile("/nonexistent/bench.ini").error;
  EXPECT_EQ(missing.rfind("/nonexistent/bench.ini: cannot be read: ", 0), 0u) << missing;
  EXPECT_GT(missing.size(), std::string("/nonexistent/bench.ini: cannot be read: ").size());
  const BenchLoad load = Bench::FromText("[drive d]\nmodel = A\r\nfirmware\r\n", "mine.ini");
  EXPECT_EQ(load.bench, nullptr);
  EXPECT_EQ(load.error, "mine.ini: line 3: expected \"key = value\" or a [section]");
  const BenchLoad shipped = Bench::FromFile(kShippedDefault);
  ASSERT_NE(shipped.bench, nullptr) << shipped.error;
  EXPECT_NE(shipped.bench->Drive("usb0"), nullptr);
}

#ifndef _WIN32
// What is not a regular file is refused at once by what it is: a FIFO would
// wait for a writer, a directory would read as an empty bench.
TEST(BenchFile, OnlyRegularFilesAreRead) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("brisquel-bench-kinds-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string ide = "[drive d]\nidentify-file = ";
  struct Case {
    BenchLoad load;
    std::string error;
  };
  const std::string d = dir.string();
  const Case cases[] = {
      {Bench::FromFile(d + "/folder"), d + "/folder: cannot be read: is a directory"},
      {Bench::FromFile(d + "/fifo"), d + "/fifo: cannot be read: is a FIFO, not a regular file"},
      {Bench::FromText(ide + "fifo\n", "b.ini", dir),
       "b.ini: line 2: identify-file fifo: cannot be read: is a FIFO, not a regular file"},
      {Bench::FromText(ide + "folder\n", "b.ini", dir),
       "b.ini: line 2: identify-file folder: cannot be read: is a directory"},
      {Bench::FromText(ide + "none\n", "b.ini", dir),
       "b.ini: line 2: identify-file none: cannot be read: No such file or directory"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.load.bench, nullptr);
    EXPECT_EQ(c.load.error, c.error);
  }
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace brisquel::sim
