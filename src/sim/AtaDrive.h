// A simulated ATA drive, seen through its task-file registers the way a
// channel's ports or a host adapter see it. Deterministic: "busy" lasts a set
// number of status reads; no sleeps, no threads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/BenchFirmware.h"
#include "sim/IdentifySector.h"

namespace brisquel::sim {

// The bench's clock: every status read is one millisecond of the drive's time.
// Nothing sleeps; a host that polls this many times has waited a second.
inline constexpr std::uint32_t kStatusReadsPerSecond = 1000;

// Faults a test or a bench file can switch on.
struct DriveFaults {
  std::optional<std::uint8_t> abortCommand;        // ERR+ABRT for this command opcode
  std::optional<std::uint8_t> abortFeatures;       // ... only when features match too
  std::optional<std::uint16_t> vendorPrimaryCode;  // answered in the vendor status sector
  std::optional<std::uint16_t> vendorSecondCode;
  std::optional<std::uint16_t> vendorThirdCode;
  std::optional<std::uint32_t> vendorRequestedSectors;  // reply to the download key sector
  bool stayBusy = false;                                // BSY never clears
  bool neverSetDsc = false;                             // DSC never set
  // An aborted command leaves DSC clear (status 41h), as real drives and
  // QEMU's do; this keeps it set (51h).
  bool dscAfterAbort = false;
  unsigned busyReads = 0;  // status reads that show BSY after each command
  // The count register after every completed DOWNLOAD MICROCODE segment, in
  // place of the drive's own 01h (more expected), 02h (applied) or 03h (saved).
  std::optional<std::uint8_t> segmentAnswer;
  // IDENTIFY DEVICE completes with data no drive would send: all zeros (a
  // bridge that passes nothing on), all ones (a bus nothing drives), or a
  // sector whose integrity word does not sum to zero.
  enum class IdentifyData { asBuilt, zeros, ones, badChecksum };
  IdentifyData identifyData = IdentifyData::asBuilt;
  // Seconds (of the bench's clock) the drive stays busy writing a firmware
  // image it accepted to flash, after the last segment or the whole image.
  std::uint32_t flashSeconds = 0;
};

class AtaDrive {
 public:
  explicit AtaDrive(DriveIdentity identity = {});
  ~AtaDrive();
  AtaDrive(const AtaDrive&) = delete;
  AtaDrive& operator=(const AtaDrive&) = delete;

  // Register access at offsets 1..7 of the command block (+6 device, +7
  // command/status). A write to +7 starts the command; a read of +7 is a status
  // read and counts toward the busy time. 48-bit commands write +1..+5 twice,
  // the previous byte first, as on a real drive.
  void WriteRegister(std::uint8_t offset, std::uint8_t value);
  std::uint8_t ReadRegister(std::uint8_t offset);
  // The 16-bit data register (+0).
  void WriteData(std::uint16_t word);
  std::uint16_t ReadData();

  DriveFaults& Faults();
  const DriveIdentity& Identity() const;
  // The firmware revision IDENTIFY reports now.
  std::string FirmwareRevision() const;

  // Every command the drive has started, for tests: the registers at the
  // moment the command register was written.
  struct CommandRecord {
    std::uint8_t features, count, lbaLow, lbaMid, lbaHigh, device, command;
    std::uint8_t featuresPrev, countPrev, lbaLowPrev, lbaMidPrev, lbaHighPrev;
    std::uint32_t dataWordsIn = 0;   // words the host wrote to the data register
    std::uint32_t dataWordsOut = 0;  // words the host read from it
  };
  const std::vector<CommandRecord>& History() const;

  // Firmware kept beyond the active one: what survives a power cycle, and
  // what a deferred download (mode 0x0E) saved for a later activation.
  std::string PermanentRevision() const;
  std::optional<std::string> DeferredRevision() const;
  bool VendorMode() const;

  // Software reset (SRST): ends a transfer under way and any busy time,
  // keeps the firmware and the vendor command mode.
  void SoftReset();
  // Power off and on: temporary firmware (mode 0x01) is gone, vendor command
  // mode ends, a download in progress is dropped.
  void PowerCycle();

  // The firmware state as a few "key=value" lines, so a bench can be
  // remembered between runs. Load returns false (and changes nothing) for
  // text it cannot read.
  std::string SaveFirmwareState() const;
  bool LoadFirmwareState(const std::string& text);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brisquel::sim
