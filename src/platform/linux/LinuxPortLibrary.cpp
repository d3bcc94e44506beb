#include "platform/linux/LinuxPortLibrary.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define BRISQUEL_HAVE_PORT_IO 1
#else
#define BRISQUEL_HAVE_PORT_IO 0
#endif

namespace brisquel::linuxpt {

namespace {
std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return text.str();
}
}  // namespace

std::uint32_t ReadSysfsPciConfigDword(const std::string& pciDevicesDir, std::uint32_t pciAddress,
                                      std::uint8_t reg) {
  if ((pciAddress >> 16) != 0 || (reg & 3) != 0) return 0xFFFFFFFFu;
  char name[32];
  std::snprintf(name, sizeof name, "/0000:%02x:%02x.%x/config", (pciAddress >> 8) & 0xFF,
                (pciAddress >> 3) & 0x1F, pciAddress & 7);
  const int fd = open((pciDevicesDir + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0xFFFFFFFFu;
  unsigned char bytes[4];
  const ssize_t got = pread(fd, bytes, sizeof bytes, reg);
  close(fd);
  if (got != static_cast<ssize_t>(sizeof bytes)) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

SysfsPciConfig::SysfsPciConfig(std::string devicesDir, std::chrono::milliseconds listKeptFor)
    : dir_(std::move(devicesDir)), keptFor_(listKeptFor) {}

bool SysfsPciConfig::MayExist(std::uint32_t pciAddress) {
  const auto now = std::chrono::steady_clock::now();
  if (!listedOnce_ || now - listedAt_ >= keptFor_) {
    listedOnce_ = true;
    listedAt_ = now;
    listed_.reset();
    DIR* dir = opendir(dir_.c_str());
    listReadable_ = dir != nullptr;
    while (dir) {
      const dirent* entry = readdir(dir);
      if (!entry) break;
      unsigned domain, bus, device, function;
      char end;
      if (std::sscanf(entry->d_name, "%4x:%2x:%2x.%1x%c", &domain, &bus, &device, &function,
                      &end) == 4 &&
          domain == 0 && bus <= 0xFF && device <= 0x1F && function <= 7) {
        listed_.set(PciAddress(std::uint8_t(bus), std::uint8_t(device), std::uint8_t(function)));
      }
    }
    if (dir) closedir(dir);
  }
  return !listReadable_ || (pciAddress <= 0xFFFF && listed_.test(pciAddress));
}

std::uint32_t SysfsPciConfig::Read(std::uint32_t pciAddress, std::uint8_t reg) {
  if (!MayExist(pciAddress)) return 0xFFFFFFFFu;
  return ReadSysfsPciConfigDword(dir_, pciAddress, reg);
}

LinuxPortLibrary::LinuxPortLibrary(LinuxPortOptions options)
    : options_(std::move(options)),
      guard_([path = options_.ioportsPath] { return ReadWholeFile(path); }),
      pci_(options_.pciDevicesDir) {}

bool LinuxPortLibrary::InitializeOls() {
#if BRISQUEL_HAVE_PORT_IO
  if (iopl(3) == 0) {
    ready_ = true;
    status_ = kOlsOk;
    failureReason_.clear();
    guard_.Refresh();
  } else {
    ready_ = false;
    // ENOSYS: a kernel built without port I/O for user space.
    status_ = errno == ENOSYS ? kOlsUnsupportedPlatform : kOlsDriverNotLoaded;
    failureReason_ = std::string("iopl: ") + std::strerror(errno);
  }
#else
  ready_ = false;
  status_ = kOlsUnsupportedPlatform;
  failureReason_ = "this processor has no port I/O";
#endif
  return ready_;
}

std::int32_t LinuxPortLibrary::GetDriverType() {
#if defined(__x86_64__)
  return 4;
#elif defined(__i386__)
  return 2;
#else
  return 0;
#endif
}

std::uint8_t LinuxPortLibrary::ReadIoPortByte(std::uint16_t port) {
#if BRISQUEL_HAVE_PORT_IO
  if (ready_ && guard_.Allowed(port)) return inb(port);
#else
  (void)port;
#endif
  return 0xFF;
}

std::uint16_t LinuxPortLibrary::ReadIoPortWord(std::uint16_t port) {
#if BRISQUEL_HAVE_PORT_IO
  if (ready_ && guard_.Allowed(port)) return inw(port);
#else
  (void)port;
#endif
  return 0xFFFF;
}

void LinuxPortLibrary::WriteIoPortByte(std::uint16_t port, std::uint8_t value) {
#if BRISQUEL_HAVE_PORT_IO
  if (ready_ && guard_.Allowed(port)) outb(value, port);
#else
  (void)port;
  (void)value;
#endif
}

void LinuxPortLibrary::WriteIoPortWord(std::uint16_t port, std::uint16_t value) {
#if BRISQUEL_HAVE_PORT_IO
  if (ready_ && guard_.Allowed(port)) outw(value, port);
#else
  (void)port;
  (void)value;
#endif
}

void LinuxPortLibrary::RefreshPortClaims() {
  if (ready_) guard_.Refresh();
}

std::uint32_t LinuxPortLibrary::ReadPciConfigDword(std::uint32_t pciAddress,
                                                   std::uint8_t regAddress) {
  if (!ready_) return 0xFFFFFFFFu;
  return pci_.Read(pciAddress, regAddress);
}

}  // namespace brisquel::linuxpt
