// A SCSI/ATA translation layer as a USB bridge (or the system's own SAT layer)
// implements it: ATA PASS-THROUGH(12) 0xA1 and (16) 0x85 decoded by a pure
// function that refuses invalid fields the way the Linux SAT layer does, then
// run on the drive, the outcome returned as SCSI status and sense data.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/AtaDrive.h"
#include "transport/AtaTypes.h"
#include "transport/SatProtocol.h"

namespace brisquel::sim {

namespace scsi {
inline constexpr std::uint8_t kRecoveredError = 0x01;
inline constexpr std::uint8_t kIllegalRequest = 0x05;
inline constexpr std::uint8_t kAbortedCommand = 0x0B;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;
}  // namespace scsi

struct SatCommand {
  AtaTaskFile regs;  // previous bytes only with EXTEND in the 16-byte form
  bool extend = false;
  SatProtocol protocol = SatProtocol::nonData;
  DataDirection direction = DataDirection::none;
  std::uint32_t byteCount = 0;  // from T_LENGTH and BYT_BLOK
  bool ckCond = false;
};

// Why a command block was refused: the sense it earns.
struct SatRejection {
  std::uint8_t senseKey = scsi::kIllegalRequest;
  std::uint8_t asc = scsi::kAscInvalidFieldInCdb;
  std::uint8_t ascq = 0;
  std::optional<std::uint8_t> fieldPointer;  // CDB byte of the invalid field
  bool operator==(const SatRejection&) const = default;
};

struct SatDecode {
  std::optional<SatCommand> command;
  SatRejection rejection;  // meaningful when command is empty
};

// `cdb` holds the CdbLength bytes as sent; `direction` and `transferLength` are
// those of the SCSI request. The 12-byte form may come with only 10 bytes (the
// reserved and control bytes missing).
SatDecode DecodeSatCdb(std::span<const std::uint8_t> cdb, DataDirection direction,
                       std::uint32_t transferLength);

// Sense data as the bench's bridges build it.
std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
std::vector<std::uint8_t> RejectionSense(const SatRejection& rejection);

struct ScsiOutcome {
  // False: the request itself failed (no SCSI status); win32Error says why.
  bool completed = true;
  std::uint32_t win32Error = 0;
  std::uint8_t scsiStatus = kScsiGood;
  std::vector<std::uint8_t> sense;
  std::uint32_t bytesTransferred = 0;
};

struct BridgeBehaviour {
  bool accepts12 = true;
  bool accepts16 = true;
  bool honoursCkCond = true;
  // What the system answers IOCTL_ATA_PASS_THROUGH on a drive behind this
  // bridge: the storage stack of a USB disk does not take the request.
  std::uint32_t ataIoctlError = 1;  // ERROR_INVALID_FUNCTION
  // ATA PASS-THROUGH(12) must come with all twelve bytes; ten are refused.
  bool a1NeedsTwelve = false;
  // T_LENGTH 3: the transfer's own length, whatever the count register says.
  bool takesTransferLength = true;
  // Commands answered GOOD without reaching the drive: data-in comes back zeros.
  std::bitset<256> drops;
  // Every data-out command is answered GOOD with a residue of this many bytes
  // (whether they reached the drive is not the system's to know).
  std::uint32_t dataOutShortBy = 0;
  bool operator==(const BridgeBehaviour&) const = default;
};

// A bridge that refuses ATA PASS-THROUGH in both forms.
BridgeBehaviour RefusingBridge();

class UsbBridge {
 public:
  explicit UsbBridge(BridgeBehaviour behaviour = {}) : behaviour_(behaviour) {}
  const BridgeBehaviour& Behaviour() const { return behaviour_; }
  // The drive moved to another enclosure.
  void Replace(const BridgeBehaviour& behaviour) { behaviour_ = behaviour; }

  // One SCSI command to the drive behind the bridge. `data` is the request's
  // data area; its size is the request's transfer length.
  ScsiOutcome Execute(AtaDrive& drive, std::span<const std::uint8_t> cdb, DataDirection direction,
                      std::span<std::uint8_t> data, std::uint32_t timeoutSeconds) const;

 private:
  BridgeBehaviour behaviour_;
};

}  // namespace brisquel::sim
