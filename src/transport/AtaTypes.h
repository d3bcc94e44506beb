// The vocabulary every transport shares: the task-file registers, the decoded
// status, the transport selector and the one current target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "transport/AtaProtocol.h"

namespace brisquel {

// An OS handle as the pass-through requests take it. 0 is "never opened".
using OsHandle = std::intptr_t;
inline constexpr OsHandle kInvalidHandle = -1;  // INVALID_HANDLE_VALUE
inline constexpr OsHandle kNeverOpened = 0;

inline constexpr std::size_t kSectorSize = 512;
inline constexpr std::size_t kTransferBufferSize = 16'777'218;  // 8,388,609 words
inline constexpr std::size_t kSectorBufferSize = 4'098;         // 2,049 words

// Seconds the pass-through requests give a command before the system gives up
// on it (and resets the link); over PIO, the longest any one wait may last.
inline constexpr std::uint32_t kCommandTimeLimit = 5;
// A drive writing firmware to flash can take far longer than any other command,
// and a link reset in the middle of that write can leave it without firmware.
inline constexpr std::uint32_t kFirmwareWriteTimeLimit = 120;
// Over PIO, IDENTIFY may be the first command a drive just powered on sees; ATA
// gives a drive up to 30 s from power-on or reset to clear BSY (spin-up).
inline constexpr std::uint32_t kPowerOnTimeLimit = 31;

// Twelve 8-bit registers, always in this order. Fields 8-12 are the previous
// ("HOB") bytes of a 48-bit command.
struct AtaTaskFile {
  std::uint8_t features = 0;
  std::uint8_t count = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;
  std::uint8_t featuresPrev = 0;
  std::uint8_t countPrev = 0;
  std::uint8_t lbaLowPrev = 0;
  std::uint8_t lbaMidPrev = 0;
  std::uint8_t lbaHighPrev = 0;
};

// Status register flags (BSY bit 7 .. ERR bit 0) and error register flags
// (BBK bit 7 .. AMNF bit 0).
struct AtaStatusBits {
  bool BSY = false, DRDY = false, DF = false, DSC = false;
  bool DRQ = false, CORR = false, IDX = false, ERR = false;
  bool BBK = false, UNC = false, MC = false, IDNF = false;
  bool MCR = false, ABRT = false, TK0NF = false, AMNF = false;

  void DecodeStatus(std::uint8_t status) {
    BSY = status & kStatusBsy;
    DRDY = status & kStatusDrdy;
    DF = status & kStatusDf;
    DSC = status & kStatusDsc;
    DRQ = status & kStatusDrq;
    CORR = status & kStatusCorr;
    IDX = status & kStatusIdx;
    ERR = status & kStatusErr;
  }
  std::uint8_t StatusByte() const {
    return static_cast<std::uint8_t>((BSY ? kStatusBsy : 0) | (DRDY ? kStatusDrdy : 0) |
                                     (DF ? kStatusDf : 0) | (DSC ? kStatusDsc : 0) |
                                     (DRQ ? kStatusDrq : 0) | (CORR ? kStatusCorr : 0) |
                                     (IDX ? kStatusIdx : 0) | (ERR ? kStatusErr : 0));
  }
  std::uint8_t ErrorByte() const {
    return static_cast<std::uint8_t>((BBK ? kErrorBbk : 0) | (UNC ? kErrorUnc : 0) |
                                     (MC ? kErrorMc : 0) | (IDNF ? kErrorIdnf : 0) |
                                     (MCR ? kErrorMcr : 0) | (ABRT ? kErrorAbrt : 0) |
                                     (TK0NF ? kErrorTk0nf : 0) | (AMNF ? kErrorAmnf : 0));
  }
  void DecodeError(std::uint8_t error) {
    BBK = error & kErrorBbk;
    UNC = error & kErrorUnc;
    MC = error & kErrorMc;
    IDNF = error & kErrorIdnf;
    MCR = error & kErrorMcr;
    ABRT = error & kErrorAbrt;
    TK0NF = error & kErrorTk0nf;
    AMNF = error & kErrorAmnf;
  }
};

// nvme: the drive takes NVMe admin commands, never an ATA command.
enum class TransportKind { ataPassThrough, scsiPassThrough, pio, nvme };

// How one command ended.
enum class CommandEnd {
  unset,          // nobody said how it ended: never a success
  completed,      // the drive answered with ERR and DF clear, and all its data moved
  deviceError,    // the drive, or the bridge in front of it, answered with an error
  deviceFault,    // the drive's status has DF (device fault) set, whatever ERR says
  shortTransfer,  // a data-out command's data did not all move: bytesMoved of bytesAsked
  systemRefused,  // the operating system refused the request; systemError says why
  notSent,        // refused before it went out: its data would not fit its buffer
  noDevice,       // over PIO: the bus floats, no drive answers
  stopped,        // Break ended a wait before the drive answered
  timedOut,       // the command's time limit expired: the system gave up on it mid-way
};

// What sense data said of a SCSI command, when it came with any.
struct SenseSummary {
  std::uint8_t key = 0, asc = 0, ascq = 0;
};

struct CommandResult {
  CommandEnd end = CommandEnd::unset;
  std::uint32_t systemError = 0;        // the system's error code, for systemRefused and timedOut
  std::optional<SenseSummary> sense{};  // SCSI pass-through: the sense the bridge returned
  // The count register the drive left, only where the transport really
  // returned it (never a copy of the request).
  std::optional<std::uint8_t> returnedCount{};
  // Over PIO, the data sectors that went to the drive before Break cut the
  // data phase short; the drive took them, though the command never ended.
  std::uint32_t sectorsWritten = 0;
  // An NVMe command the controller answered: its status field (NvmeStatus).
  std::optional<std::uint16_t> nvmeStatus{};
  // deviceFault: the status byte; shortTransfer: what the system moved of what
  // the command holds.
  std::uint8_t status = 0;
  std::uint32_t bytesMoved = 0, bytesAsked = 0;

  bool ok() const { return end == CommandEnd::completed; }
  // No drive answers, the user stopped, or the drive may still be busy with a
  // command the system gave up on: nothing more is worth sending.
  bool EndsTheOperation() const {
    return end == CommandEnd::noDevice || end == CommandEnd::stopped || end == CommandEnd::timedOut;
  }
  explicit operator bool() const { return ok(); }
};

// How a command that the drive answered ended, from its status alone: ERR is
// an error, DF a device fault (whatever ERR says), anything else completed.
inline CommandResult StatusResult(std::uint8_t status) {
  CommandResult result;
  result.status = status;
  result.end = (status & kStatusDf)    ? CommandEnd::deviceFault
               : (status & kStatusErr) ? CommandEnd::deviceError
                                       : CommandEnd::completed;
  return result;
}

// A data-out command whose data did not all move.
inline CommandResult ShortTransfer(std::uint32_t moved, std::uint32_t asked) {
  CommandResult result;
  result.end = CommandEnd::shortTransfer;
  result.bytesMoved = moved;
  result.bytesAsked = asked;
  return result;
}

enum class DataDirection { none, in, out };

// How the command block form of a USB bridge came to be the target's.
enum class SatFormFound {
  assumed,   // not tried yet: the first form
  answered,  // the bridge answered IDENTIFY in this form
  refused,   // the bridge refused every form; the first one is kept
  forced,    // the user chose it
};

struct DriveTarget {
  TransportKind kind = TransportKind::pio;
  std::uint16_t basePort = 0x170;
  bool slave = false;
  OsHandle ataPassHandle = kNeverOpened;
  OsHandle scsiHandle = kInvalidHandle;
  bool use16ByteCdb = false;
  // With use16ByteCdb false: ATA PASS-THROUGH(12) goes out with all twelve
  // bytes, for bridges that refuse a block cut to ten.
  bool a1WholeCdb = false;
  SatFormFound satFormFound = SatFormFound::assumed;
  // What the bridge was found to do, once asked: hand back the registers in
  // sense data (CK_COND), and take a length from the transfer (T_LENGTH 3).
  std::optional<bool> ckCondHonoured{};
  std::optional<bool> takesTransferLength{};
  bool waitBusyOnly = false;
};

// The device register as a PIO channel gets it: the pass-through transports
// address a drive by its handle; over PIO the DEV bit picks device 1.
inline std::uint8_t PioDeviceByte(const DriveTarget& target, std::uint8_t device) {
  return target.slave ? static_cast<std::uint8_t>(device | kDeviceDev) : device;
}

}  // namespace brisquel
