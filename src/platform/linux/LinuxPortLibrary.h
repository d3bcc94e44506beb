// The driver library's operations on Linux: port I/O with iopl(3), PCI
// configuration reads from sysfs. Ports that a kernel driver holds are left
// alone (see PortGuard).
#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <string>

#include "hw/uWinRing0.h"
#include "platform/linux/IoPortClaims.h"

namespace brisquel::linuxpt {

struct LinuxPortOptions {
  std::string pciDevicesDir = "/sys/bus/pci/devices";
  std::string ioportsPath = "/proc/ioports";
};

// Status codes as the caption names them.
inline constexpr std::int32_t kOlsOk = 0;
inline constexpr std::int32_t kOlsUnsupportedPlatform = 1;
inline constexpr std::int32_t kOlsDriverNotLoaded = 2;

// One 32-bit configuration register of domain 0 from sysfs; 0xFFFFFFFF when
// the function is absent, the register is beyond what the file shows (256
// bytes for root, 64 for others), unaligned, or cannot be read.
std::uint32_t ReadSysfsPciConfigDword(const std::string& pciDevicesDir, std::uint32_t pciAddress,
                                      std::uint8_t reg);

// Configuration reads from sysfs that know which functions exist: a scan reads
// every slot of 51 buses, and a failed open for each absent one cost thousands
// of system calls a scan. The directory's listing is read again once it is
// older than `listKeptFor`, so a function plugged in meanwhile is seen by the
// next scan. Without a listing every function is tried.
class SysfsPciConfig {
 public:
  explicit SysfsPciConfig(std::string devicesDir,
                          std::chrono::milliseconds listKeptFor = std::chrono::seconds(1));
  std::uint32_t Read(std::uint32_t pciAddress, std::uint8_t reg);

 private:
  bool MayExist(std::uint32_t pciAddress);

  std::string dir_;
  std::chrono::milliseconds keptFor_;
  std::chrono::steady_clock::time_point listedAt_;
  bool listedOnce_ = false;
  bool listReadable_ = false;
  std::bitset<0x10000> listed_;  // domain 0, by PciAddress
};

class LinuxPortLibrary : public PortLibrary {
 public:
  explicit LinuxPortLibrary(LinuxPortOptions options = {});

  // True only when port I/O rights were granted (root, or CAP_SYS_RAWIO).
  bool InitializeOls() override;
  // 0 after a successful start; 2 ("Driver not loaded") without the rights
  // or before InitializeOls; 1 ("Unsupported Platform") where the kernel or
  // the processor has no port I/O.
  std::int32_t GetDllStatus() override { return status_; }
  // 4 on x86-64, 2 on 32-bit x86, 0 elsewhere.
  std::int32_t GetDriverType() override;

  // Until InitializeOls succeeds, and on a port a driver holds, reads float
  // (0xFF, 0xFFFF) and writes are dropped.
  std::uint8_t ReadIoPortByte(std::uint16_t port) override;
  std::uint16_t ReadIoPortWord(std::uint16_t port) override;
  void WriteIoPortByte(std::uint16_t port, std::uint8_t value) override;
  void WriteIoPortWord(std::uint16_t port, std::uint16_t value) override;
  // 0xFFFFFFFF for every read until InitializeOls succeeds.
  std::uint32_t ReadPciConfigDword(std::uint32_t pciAddress, std::uint8_t regAddress) override;
  // Reads /proc/ioports again (at start, and then when a channel is selected
  // or an operation starts): a driver bound meanwhile keeps its ports.
  void RefreshPortClaims() override;

  // Why InitializeOls failed, in the system's words ("iopl: Operation not
  // permitted"); empty after a success.
  const std::string& FailureReason() const { return failureReason_; }

  // Where the one-time refusal notices go (the log, in the program).
  void SetNoticeSink(PortGuard::NoticeSink sink) { guard_.SetNoticeSink(std::move(sink)); }

 private:
  LinuxPortOptions options_;
  PortGuard guard_;
  SysfsPciConfig pci_;
  bool ready_ = false;
  std::int32_t status_ = kOlsDriverNotLoaded;
  std::string failureReason_;
};

}  // namespace brisquel::linuxpt
