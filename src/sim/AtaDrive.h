// A simulated ATA drive, seen through its task-file registers the way a
// channel's ports or a host adapter see it. Deterministic: "busy" lasts a set
// number of status reads; no sleeps, no threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisquel::sim {

struct DriveIdentity {
  std::string model = "BENCH SATA DRIVE";
  std::string firmware = "BF1.00";
  std::string serial = "SIM0000001";
};

// Faults a test or a bench file can switch on.
struct DriveFaults {
  std::optional<std::uint8_t> abortCommand;       // ERR+ABRT for this command opcode
  std::optional<std::uint8_t> abortFeatures;      // ... only when features match too
  std::optional<std::uint16_t> vendorPrimaryCode;  // answered in the vendor status sector
  std::optional<std::uint16_t> vendorSecondCode;
  std::optional<std::uint16_t> vendorThirdCode;
  std::optional<std::uint32_t> vendorRequestedSectors;  // reply to the download key sector
  bool stayBusy = false;     // BSY never clears
  bool neverSetDsc = false;  // DSC never set
  unsigned busyReads = 0;    // status reads that show BSY after each command
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

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace brisquel::sim
