#include "sim/Bench.h"

#include <filesystem>

#include "transport/RegularFile.h"
#include "transport/Utf8Path.h"

namespace brisquel::sim {

// bench-files/default.ini, word for word (a test keeps the two the same).
const std::string_view kDefaultBenchText =
    R"bench(# The default bench: what BRISQUEL_SIM=1 (the window) and --sim (brisquel-cli)
# set up. The program carries this text built in; this file is a copy to
# start your own benches from.
#
# PIO mode: an ICH7-style chipset whose legacy IDE function (00:1f.1) has a
# drive on its primary channel (1F0) and none on its secondary (170); its AHCI
# function (00:1f.2) has no task-file ports (BARs 0-3 read zero).
# API mode: the same IDE drive, a SATA drive, and a drive in a USB enclosure
# whose bridge translates ATA PASS-THROUGH.

[library]
ready = yes
dll-status = 0
driver-type = 4

[pci 00:00.0]
kind = host-bridge

[pci 00:02.0]
vendor = 8086
device = 27A2
class = 03000003

[pci 00:1c.0]
kind = pci-bridge
multifunction = yes

[pci 00:1f.0]
vendor = 8086
device = 27B9
class = 06010001
multifunction = yes

[pci 00:1f.1]
kind = legacy-ide
multifunction = yes

[pci 00:1f.2]
kind = sata-ahci
multifunction = yes

[pci 00:1f.3]
vendor = 8086
device = 27DA
class = 0C050001
multifunction = yes

[pci 02:00.0]
kind = network

[drive ide0]
model = WDC WD800BB-00SIMA0
firmware = 05.01C05
serial = WD-WMSIM0000001

[drive sata0]
model = WDC WD5000AAKX-00SIMB0
firmware = 15.01H15
serial = WD-WCSIM0000002

[drive usb0]
model = WDC WD10EZEX-00SIMC0
firmware = 01.01A01
serial = WD-WCSIM0000003

[channel 1F0]
device0 = ide0

[channel 170]

[bridge enclosure]
forms = 12 16
ck-cond = honoured

[disk]
drive = sata0
name = WDC WD5000AAKX-00SIMB0 ATA Device
number = 0
bus = SATA

[disk]
drive = ide0
name = WDC WD800BB-00SIMA0 ATA Device
number = 1
bus = ATA

[disk]
drive = usb0
bridge = enclosure
name = WDC WD10EZEX-00SIMC0 USB Device
number = 2
bus = USB

# An NVMe SSD on the PCIe bus: two firmware slots, slot 1 read-only (the
# factory image), running from slot 2.
[nvme nvme0]
model = WDC WDS500G2B0C-00SIMD0
serial = WD-SIMNVME00000004
slots = 2
slot1 = 211050WD
slot1-read-only = yes
slot2 = 211070WD
active-slot = 2
fwug = 1
mdts = 5
mtfa = 50

[disk]
nvme = nvme0
name = WDC WDS500G2B0C-00SIMD0
number = 3
bus = NVMe
)bench";

Bench::Bench(const BenchDescription& d) {
  ports_.Library() = d.library;
  disks_.SetAvailable(d.enumeratorAvailable);
  disks_.SetDeviceSetOpens(d.deviceSetOpens);
  for (const BenchPciFunction& f : d.pci) {
    pci_.Add(f.at, f.config);
  }
  for (const BenchDrive& entry : d.drives) {
    auto drive = std::make_shared<AtaDrive>(entry.identity);
    drive->Faults() = entry.faults;
    drives_[entry.name] = std::move(drive);
  }
  for (const BenchNvme& entry : d.nvmes) {
    auto nvme = std::make_shared<NvmeController>(entry.identity);
    nvme->Faults() = entry.faults;
    nvmes_[entry.name] = std::move(nvme);
  }
  for (const BenchBridge& entry : d.bridges) {
    bridges_[entry.name] = std::make_shared<UsbBridge>(entry.behaviour);
  }
  for (const BenchChannel& entry : d.channels) {
    auto channel = std::make_shared<IdeChannel>();
    for (int position = 0; position < 2; ++position) {
      if (!entry.device[position].empty()) {
        channel->Attach(position, drives_.at(entry.device[position]));
      }
    }
    ports_.MapChannel(entry.basePort, std::move(channel));
  }
  for (const BenchDisk& entry : d.disks) {
    SimEndpoint endpoint;
    if (!entry.drive.empty()) endpoint.drive = drives_.at(entry.drive);
    if (!entry.nvme.empty()) endpoint.nvme = nvmes_.at(entry.nvme);
    if (!entry.bridge.empty()) endpoint.bridge = bridges_.at(entry.bridge);
    endpoint.failsToOpen = entry.failsToOpen;
    // The system holds to its limit whether or not it answers the adapter query.
    endpoint.maxTransfer = entry.maxTransferLength;
    io_.AddPath(entry.path, endpoint);

    SimDisk disk;
    disk.fails = entry.failsToOpen;
    disk.inUse = entry.inUse;
    disk.system = entry.system;
    disk.controller = entry.nvme;
    DiskInterfaceInfo& info = disk.info;
    info.devicePath = entry.path;
    info.friendlyName = entry.friendlyName;
    info.deviceNumber = entry.number;
    info.adapterValid = entry.adapterValid;
    if (entry.adapterValid) {
      info.maxTransferLength = entry.maxTransferLength;
      info.maxPhysicalPages = entry.maxTransferLength / 4096 + 1;
      info.alignmentMask = 1;
      info.busType = entry.busType;
    }
    info.nvmeBehindUsb = !entry.nvme.empty() && !entry.bridge.empty();
    disks_.Add(std::move(disk));
  }
}

std::unique_ptr<Bench> Bench::Default() {
  BenchLoad load = FromText(kDefaultBenchText, "default bench");
  return std::move(load.bench);
}

namespace {

// Replaces the identity of each drive that names a captured sector with the
// sector's. The error names the line, as the parser's do.
std::string ReadIdentifyFiles(BenchDescription& bench, const std::filesystem::path& folder) {
  for (BenchDrive& d : bench.drives) {
    if (d.identifyFile.empty()) continue;
    const std::filesystem::path path = folder / PathFromUtf8(d.identifyFile);
    const std::string where =
        "line " + std::to_string(d.identifyFileLine) + ": identify-file " + d.identifyFile + ": ";
    const RegularFileRead read = ReadRegularFile(path, 512);
    if (read.tooLarge) return where + "is no 512-byte IDENTIFY sector";
    if (!read.bytes) return where + "cannot be read: " + read.problem;
    const std::vector<std::uint8_t> sector(read.bytes->begin(), read.bytes->end());
    const auto identity = IdentityFromSector(sector);
    if (!identity) return where + "is no 512-byte IDENTIFY sector";
    d.identity = *identity;
  }
  return {};
}

}  // namespace

BenchLoad Bench::FromText(std::string_view text, const std::string& source,
                          const std::filesystem::path& folder) {
  BenchLoad load;
  BenchParse parse = ParseBenchText(text);
  if (!parse.bench) {
    load.error = source + ": " + parse.error;
    return load;
  }
  if (std::string error = ReadIdentifyFiles(*parse.bench, folder); !error.empty()) {
    load.error = source + ": " + error;
    return load;
  }
  load.bench = std::make_unique<Bench>(*parse.bench);
  return load;
}

BenchLoad Bench::FromRecording(std::string_view text, const std::string& source) {
  RecordingRead read = ReadRecording(text);
  if (!read.recording) return {nullptr, source + ": " + read.error};
  const RecordedTarget target = read.recording->target;
  auto replayer = std::make_shared<Replayer>(std::move(read.recording->commands));
  auto bench = std::make_unique<Bench>();
  if (target.channel) {
    bench->ports_.MapChannel(target.basePort,
                             std::make_shared<ReplayChannel>(replayer, target.device1));
    return {std::move(bench), {}};
  }
  const std::string path = DefaultDiskPath(0);
  SimEndpoint endpoint;
  endpoint.drive = std::make_shared<AtaDrive>();  // opens the path; the recording answers
  endpoint.replay = replayer;
  bench->io_.AddPath(path, endpoint);
  SimDisk disk;
  disk.info.devicePath = path;
  disk.info.friendlyName = "Recorded drive";
  disk.info.adapterValid = true;
  disk.info.maxTransferLength = target.maxTransfer;
  disk.info.maxPhysicalPages = target.maxTransfer / 4096 + 1;
  disk.info.alignmentMask = 1;
  disk.info.busType = target.busType;
  bench->disks_.Add(std::move(disk));
  return {std::move(bench), {}};
}

BenchLoad Bench::FromFile(const std::string& path) {
  const std::filesystem::path filePath = PathFromUtf8(path);
  const RegularFileRead read = ReadRegularFile(filePath, kMaxRecordingBytes);
  if (!read.bytes && !read.tooLarge) return {nullptr, path + ": cannot be read: " + read.problem};
  if (read.bytes && IsRecording(*read.bytes)) return FromRecording(*read.bytes, path);
  if (read.tooLarge || read.bytes->size() > kMaxBenchFileBytes) {
    return {nullptr, path + ": larger than " + std::to_string(kMaxBenchFileBytes) + " bytes"};
  }
  return FromText(*read.bytes, path, filePath.parent_path());
}

AtaDrive* Bench::Drive(const std::string& name) const {
  auto it = drives_.find(name);
  return it == drives_.end() ? nullptr : it->second.get();
}

std::vector<std::string> Bench::DriveNames() const {
  std::vector<std::string> names;
  for (const auto& [name, drive] : drives_) names.push_back(name);
  return names;
}

NvmeController* Bench::Nvme(const std::string& name) const {
  auto it = nvmes_.find(name);
  return it == nvmes_.end() ? nullptr : it->second.get();
}

std::vector<std::string> Bench::NvmeNames() const {
  std::vector<std::string> names;
  for (const auto& [name, nvme] : nvmes_) names.push_back(name);
  return names;
}

UsbBridge* Bench::Bridge(const std::string& name) const {
  auto it = bridges_.find(name);
  return it == bridges_.end() ? nullptr : it->second.get();
}

}  // namespace brisquel::sim
