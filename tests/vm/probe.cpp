// Runs inside the test guest: drives the Linux backends against QEMU's disks
// and prints one line per answer on the console for the host to check.
//   probe pci              the PCI functions, through the port library
//   probe pio 0x1F0        IDENTIFY DEVICE by raw port I/O on a channel
//   probe list             the disk list
//   probe ata /dev/sdX     IDENTIFY and a few other commands through IOCTL_ATA_PASS_THROUGH
//   probe scsi /dev/sdX    INQUIRY and a SAT IDENTIFY through IOCTL_SCSI_PASS_THROUGH
//   probe --as-nobody ...  the same without root rights
#include <grp.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hw/uWinRing0.h"
#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/LinuxDiskEnumerator.h"
#include "platform/linux/LinuxPortLibrary.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "transport/PassThroughBlocks.h"

namespace {

using namespace brisquel;
using Bytes = std::vector<std::uint8_t>;

// An ATA string: two characters a word, the first in the high byte.
std::string AtaString(const std::uint8_t* identify, int firstWord, int words) {
  std::string s;
  for (int w = firstWord; w < firstWord + words; ++w) {
    s.push_back(static_cast<char>(identify[2 * w + 1]));
    s.push_back(static_cast<char>(identify[2 * w]));
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  const auto first = s.find_first_not_of(' ');
  return first == std::string::npos ? "" : s.substr(first);
}

std::string Identity(const std::uint8_t* identify) {
  return "model=[" + AtaString(identify, 27, 20) + "] serial=[" + AtaString(identify, 10, 10) +
         "] firmware=[" + AtaString(identify, 23, 4) + "]";
}

int Pci() {
  linuxpt::LinuxPortLibrary ports;
  const bool ready = ports.InitializeOls();
  std::printf("OLS ready=%d status=%d type=%d system=[%s]\n", ready, ports.GetDllStatus(),
              ports.GetDriverType(), linuxpt::LinuxSystemInfo().SystemName().c_str());
  for (int bus = 0; bus < 256; ++bus) {
    for (int dev = 0; dev < 32; ++dev) {
      for (int fn = 0; fn < 8; ++fn) {
        const std::uint32_t id = ReadPciConfig(ports, bus, dev, fn, 0x00);
        if ((id & 0xFFFF) == 0xFFFF || (id & 0xFFFF) == 0) {
          if (fn == 0) break;
          continue;
        }
        const std::uint32_t classReg = ReadPciConfig(ports, bus, dev, fn, 0x08);
        const std::uint32_t bar0 = ReadPciConfig(ports, bus, dev, fn, 0x10);
        std::printf("PCI %02X:%02X.%X %04X:%04X class %08X bar0 %08X\n", bus, dev, fn, id & 0xFFFF,
                    id >> 16, classReg, bar0);
        const std::uint32_t header = ReadPciConfig(ports, bus, dev, fn, 0x0C);
        if (fn == 0 && !(header & 0x00800000u)) break;  // single-function device
      }
    }
  }
  return 0;
}

int Pio(std::uint16_t base) {
  linuxpt::LinuxPortLibrary ports;
  ports.SetNoticeSink([](const std::string& text) { std::printf("NOTICE %s\n", text.c_str()); });
  if (!ports.InitializeOls()) {
    std::printf("PIO %04X not started status=%d\n", base, ports.GetDllStatus());
    return 1;
  }
  ports.WriteIoPortByte(base + 6, 0xA0);
  ports.WriteIoPortByte(base + 7, 0xEC);
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t status = 0xFF;
  do {
    status = ports.ReadIoPortByte(base + 7);
  } while ((status & 0x80) && std::chrono::steady_clock::now() - start < std::chrono::seconds(2));
  if ((status & 0x89) != 0x08) {
    std::printf("PIO %04X status=%02X error=%02X no data\n", base, status,
                ports.ReadIoPortByte(base + 1));
    return 1;
  }
  std::uint8_t identify[512];
  for (int w = 0; w < 256; ++w) {
    const std::uint16_t v = ports.ReadIoPortWord(base);
    identify[2 * w] = static_cast<std::uint8_t>(v);
    identify[2 * w + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  std::printf("PIO %04X status=%02X %s after=%02X\n", base, status, Identity(identify).c_str(),
              ports.ReadIoPortByte(base + 7));
  return 0;
}

int List() {
  linuxpt::LinuxDiskEnumerator disks;
  if (!disks.Available() || !disks.Begin()) {
    std::printf("LIST unavailable\n");
    return 1;
  }
  DiskInterfaceInfo info;
  int i = 0;
  for (; disks.Query(i, info) == DiskStep::found; ++i) {
    std::printf("DISK %d path=%s bus=%d number=%d name=[%s] maxTransfer=%u\n", i,
                info.devicePath.c_str(), info.busType, info.deviceNumber.value_or(-1),
                info.friendlyName.value_or("").c_str(), info.maxTransferLength);
  }
  disks.End();
  std::printf("LIST count=%d\n", i);
  return 0;
}

// One ATA_PASS_THROUGH_EX request; prints the returned registers.
bool AtaCommand(linuxpt::LinuxDeviceIo& io, OsHandle h, const char* what, std::uint16_t flags,
                std::array<std::uint8_t, 8> current, Bytes* data) {
  using namespace ataptx;
  const std::uint32_t length = data ? static_cast<std::uint32_t>(data->size()) : 0;
  Bytes block(kHeaderSize + length);
  PutU16(&block[kLength], kHeaderSize);
  PutU16(&block[kAtaFlags], flags);
  PutU32(&block[kDataTransferLength], length);
  PutU32(&block[kTimeOutValue], 5);
  PutU64(&block[kDataBufferOffset], kHeaderSize);
  std::memcpy(&block[kCurrentTaskFile], current.data(), 8);
  const bool out = flags & ATA_FLAGS_DATA_OUT;
  if (out && data) std::memcpy(&block[kHeaderSize], data->data(), length);
  const std::uint32_t inSize = out ? kHeaderSize + length : kHeaderSize;
  const std::uint32_t outSize = out ? kHeaderSize : kHeaderSize + length;
  io.SetLastError(0);
  if (!io.DeviceIoControl(h, IOCTL_ATA_PASS_THROUGH_, block.data(), inSize, block.data(), outSize,
                          nullptr)) {
    const std::uint32_t e = io.GetLastError();
    std::string text = io.SystemMessageText(e);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::printf("ATA %s refused error=%u [%s]\n", what, e, text.c_str());
    return false;
  }
  const std::uint8_t* t = &block[kCurrentTaskFile];
  std::printf("ATA %s status=%02X error=%02X count=%02X lba=%02X%02X%02X device=%02X\n", what, t[6],
              t[0], t[1], t[4], t[3], t[2], t[5]);
  if (data && !out) std::memcpy(data->data(), &block[kHeaderSize], length);
  return !(t[6] & 1);
}

int Ata(const char* path) {
  linuxpt::LinuxDeviceIo io;
  const OsHandle h = io.CreateFileA(path, GENERIC_READ_ | GENERIC_WRITE_,
                                    FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_, 0);
  if (h == kInvalidHandle) {
    std::printf("ATA open %s error=%u\n", path, io.GetLastError());
    return 1;
  }
  Bytes identify(512);
  if (AtaCommand(io, h, "IDENTIFY", 0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, &identify)) {
    std::printf("ATA IDENTIFY %s\n", Identity(identify.data()).c_str());
  }
  AtaCommand(io, h, "CHECK-POWER-MODE", 0x09, {0, 0, 0, 0, 0, 0xA0, 0xE5, 0}, nullptr);
  Bytes log(512);
  AtaCommand(io, h, "SMART-READ-LOG-BE", 0x0B, {0xD5, 1, 0xBE, 0x4F, 0xC2, 0xA0, 0xB0, 0}, &log);
  Bytes firmware(512, 0xA5);
  AtaCommand(io, h, "DOWNLOAD-MICROCODE-07", 0x0D, {0x07, 1, 0, 0, 0, 0xA0, 0x92, 0}, &firmware);
  // 300 blocks: the count spans count (0x2C) and LBA low (0x01).
  Bytes large(300 * 512, 0x5A);
  AtaCommand(io, h, "DOWNLOAD-MICROCODE-07-300", 0x0D, {0x07, 0x2C, 0x01, 0, 0, 0xA0, 0x92, 0},
             &large);
  io.CloseHandle(h);
  AtaCommand(io, h, "CLOSED-HANDLE", 0x0B, {0, 1, 0, 0, 0, 0xA0, 0xEC, 0}, &identify);
  return 0;
}

void ScsiCommand(linuxpt::LinuxDeviceIo& io, OsHandle h, const char* what, Bytes cdb,
                 std::uint8_t cdbLength, std::uint8_t dataIn, Bytes& data) {
  using namespace scsiptx;
  const auto length = static_cast<std::uint32_t>(data.size());
  Bytes block(kDataOffset + length);
  PutU16(&block[kLength], kHeaderSize);
  block[kTargetId] = 1;
  block[kCdbLength] = cdbLength;
  block[kSenseInfoLength] = kSenseSize;
  block[kDataIn] = dataIn;
  PutU32(&block[kDataTransferLength], length);
  PutU32(&block[kTimeOutValue], 5);
  PutU64(&block[kDataBufferOffset], kDataOffset);
  PutU32(&block[kSenseInfoOffset], kSenseOffset);
  std::memcpy(&block[kCdb], cdb.data(), cdb.size());
  if (!io.DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_, block.data(), kDataOffset, block.data(),
                          kDataOffset + length, nullptr)) {
    std::printf("SCSI %s refused error=%u\n", what, io.GetLastError());
    return;
  }
  const std::uint8_t* s = &block[kSenseOffset];
  std::printf("SCSI %s status=%02X sense=%02X key=%X asc=%02X ascq=%02X\n", what,
              block[kScsiStatus], s[0], s[2] & 0x0F, s[12], s[13]);
  std::memcpy(data.data(), &block[kDataOffset], length);
}

int Scsi(const char* path) {
  linuxpt::LinuxDeviceIo io;
  const OsHandle h = io.CreateFileA(path, GENERIC_READ_ | GENERIC_WRITE_,
                                    FILE_SHARE_READ_ | FILE_SHARE_WRITE_, OPEN_EXISTING_, 0);
  if (h == kInvalidHandle) {
    std::printf("SCSI open %s error=%u\n", path, io.GetLastError());
    return 1;
  }
  Bytes inquiry(36);
  ScsiCommand(io, h, "INQUIRY", {0x12, 0, 0, 0, 36, 0}, 6, 1, inquiry);
  std::printf("SCSI INQUIRY vendor=[%.8s] product=[%.16s]\n",
              reinterpret_cast<const char*>(&inquiry[8]),
              reinterpret_cast<const char*>(&inquiry[16]));
  Bytes identify(512);
  ScsiCommand(io, h, "SAT12-IDENTIFY", {0xA1, 0x08, 0x0E, 0x00, 0x01, 0, 0, 0, 0xA0, 0xEC}, 10, 1,
              identify);
  ScsiCommand(io, h, "SAT16-IDENTIFY",
              {0x85, 0x09, 0x0E, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0xEC, 0}, 16, 1, identify);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc > 1 && std::string(argv[1]) == "--as-nobody") {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
      std::printf("AS nobody failed\n");
      return 1;
    }
    std::printf("AS uid=%d\n", static_cast<int>(getuid()));
    --argc;
    ++argv;
  }
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "pci") return Pci();
  if (command == "pio" && argc > 2)
    return Pio(static_cast<std::uint16_t>(std::stoul(argv[2], nullptr, 0)));
  if (command == "list") return List();
  if (command == "ata" && argc > 2) return Ata(argv[2]);
  if (command == "scsi" && argc > 2) return Scsi(argv[2]);
  std::fprintf(stderr, "usage: probe pci | pio BASE | list | ata NODE | scsi NODE\n");
  return 2;
}
