// The dispatch rule every drive operation follows for every command: ATA
// pass-through if that is the target's kind, else SCSI pass-through, else PIO.
// The PIO transport needs to know a little more about the command's data phase
// than the pass-through requests do; AtaCommand carries that too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "transport/AtaTypes.h"
#include "transport/TransportState.h"

namespace brisquel {

enum class TaskFileForm { lba28, lba48 };

// How the PIO transport moves a command's data after the command's wait.
enum class PioData {
  none,
  readSector,    // PioReadSector: wait, 256 words in, wait
  readWords,     // 256 words in, then one wait
  writeSectors,  // PioWriteSectors(sectors): 256 words out and a wait per sector, Break-aware
  writeWords,    // 256 words out, then one wait, whatever BreakFlag says
};

struct AtaCommand {
  AtaTaskFile regs;
  DataDirection direction = DataDirection::none;
  // TransferBuffer or SectorBuffer of the state (empty for no data). `length`
  // bytes move over the pass-through requests, `sectors` sectors over PIO;
  // neither may reach past the end of `buffer`.
  std::span<std::uint8_t> buffer{};
  std::uint32_t length = 0;
  std::uint32_t sectors = 0;
  // Seconds: the pass-through requests' time-out, and over PIO the limit of
  // each wait (pioTimeLimit in its place where set).
  std::uint32_t timeLimit = kCommandTimeLimit;

  // SCSI pass-through only: the registers are wanted back (CK_COND, where the
  // bridge is known to honour it), and the length is the transfer's own
  // (T_LENGTH 3) rather than the count register's.
  bool registersBack = false;
  bool lengthFromTransfer = false;

  // PIO only.
  TaskFileForm form = TaskFileForm::lba28;
  PioData pioData = PioData::none;
  bool pioWaitBeforeCommand = false;  // WaitDevice before writing the task file
  bool pioDataNeedsNoError = true;    // skip the data phase when ERR is set after the wait
  bool pioReadNeedsDrq = false;       // ... or, for reads, when DRQ is clear
  bool pioZeroWhenSkipped = false;    // zero `length` bytes of the buffer when the read is skipped
  bool pioReadCount = false;          // read the count register once the command has ended
  std::uint32_t pioTimeLimit = 0;     // seconds; 0: timeLimit
};

// Whether the command goes out asking for the drive's registers back (CK_COND
// on the SCSI/ATA translations); PIO reads them itself.
bool RegistersAsked(const DriveTarget& target, const AtaCommand& command);

// The bytes a command's PIO data phase moves.
std::size_t PioDataBytes(const AtaCommand& command);

// Sends one command on DriveTarget's transport and sets ERR from the outcome:
// clear exactly when the command completed.
CommandResult Dispatch(TransportContext& t, const AtaCommand& command);

}  // namespace brisquel
