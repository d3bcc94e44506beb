// Watches the commands on their way to the drive, whatever the transport, to
// count the firmware sectors sent for the progress bar. The transports stay
// as they are: the meter sits in front of the port library and the device
// I/O the command line hands them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "hw/uWinRing0.h"
#include "transport/AtaTypes.h"
#include "transport/DeviceIo.h"

namespace brisquel::cli {

class TrafficMeter {
 public:
  // Called whenever another firmware sector has gone out.
  std::function<void(std::uint64_t sent, std::uint64_t total)> onChange;

  // The sectors to send; the drive's answer to a vendor download key sector
  // replaces it.
  void SetTotal(std::uint64_t sectors);
  std::uint64_t Sent() const { return sentBytes_ / kSectorSize; }
  std::uint64_t Total() const { return total_; }

  // A command was written to the drive (registers 1-7 matter here).
  void OnCommand(const AtaTaskFile& regs);
  // Data that moved for the current command, in order.
  void OnDataOut(std::span<const std::uint8_t> bytes);
  void OnDataIn(std::span<const std::uint8_t> bytes);

 private:
  enum class Kind { other, firmwareData, keySector, statusRead };
  void Notify();

  Kind kind_ = Kind::other;
  std::uint64_t sentBytes_ = 0;
  std::uint64_t total_ = 0;
  // The current command's first sector: a key sector's first word, or the
  // status sector that answers a download key sector.
  std::array<std::uint8_t, kSectorSize> head_{};
  std::size_t headSize_ = 0;
  bool downloadKeySent_ = false;
};

// The port library as the PIO transport sees it, reporting the channel's
// task-file writes and data words to the meter.
class MeteredPorts : public PortLibrary {
 public:
  MeteredPorts(PortLibrary& inner, const DriveTarget& target, TrafficMeter& meter)
      : inner_(inner), target_(target), meter_(meter) {}

  bool InitializeOls() override { return inner_.InitializeOls(); }
  std::int32_t GetDllStatus() override { return inner_.GetDllStatus(); }
  std::int32_t GetDriverType() override { return inner_.GetDriverType(); }
  std::uint8_t ReadIoPortByte(std::uint16_t port) override { return inner_.ReadIoPortByte(port); }
  std::uint16_t ReadIoPortWord(std::uint16_t port) override;
  void WriteIoPortByte(std::uint16_t port, std::uint8_t value) override;
  void WriteIoPortWord(std::uint16_t port, std::uint16_t value) override;
  std::uint32_t ReadPciConfigDword(std::uint32_t pciAddress, std::uint8_t regAddress) override {
    return inner_.ReadPciConfigDword(pciAddress, regAddress);
  }
  void RefreshPortClaims() override { inner_.RefreshPortClaims(); }

 private:
  PortLibrary& inner_;
  const DriveTarget& target_;
  TrafficMeter& meter_;
  AtaTaskFile regs_;
};

// The device I/O as the pass-through transports see it, reporting each
// request's command and data to the meter.
class MeteredDeviceIo : public DeviceIo {
 public:
  MeteredDeviceIo(DeviceIo& inner, TrafficMeter& meter) : inner_(inner), meter_(meter) {}

  OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override {
    return inner_.CreateFileA(path, desiredAccess, shareMode, creationDisposition,
                              flagsAndAttributes);
  }
  bool DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                       std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                       std::uint32_t* bytesReturned) override;
  bool CloseHandle(OsHandle handle) override { return inner_.CloseHandle(handle); }
  std::uint32_t GetLastError() override { return inner_.GetLastError(); }
  void SetLastError(std::uint32_t code) override { inner_.SetLastError(code); }
  std::string SystemMessageText(std::uint32_t code) override {
    return inner_.SystemMessageText(code);
  }

 private:
  DeviceIo& inner_;
  TrafficMeter& meter_;
};

}  // namespace brisquel::cli
