// Recordings: every command a run sent to one drive and what came back, as
// text a person can read and the bench can replay. Written as the run goes;
// read back whole.
//
//   # brisquel recording 1
//   target drive bus 7
//   > scsi cdb A1080E0001000000A0EC dir in length 512 limit 5
//   < scsi system 0 status 00 sense - moved 512
//   = 7A420000...             (the data that came back, 32 bytes a line)
//
// Lines starting with "#" are comments; blank lines are ignored. Each "key
// value" pair of a line may come in any order; numbers are decimal, bytes hex.
//   target drive bus N [max-transfer B]  a drive of the drive list: its bus type
//                                   code, the largest transfer its disk takes
//   target channel BASE device D    a PIO channel's task-file base port (hex), 0 or 1
//   form NAME                       the command block form a USB bridge is sent
//                                   from here on (12-10, 12, 16; information only)
//   > ata|pio  regs F C L M H D CMD [prev F C L M H] dir none|in|out length N
//              [limit S] [back yes|no] [lba48 yes|no] [hash H]
//   > scsi     cdb HEX dir none|in|out length N limit S [hash H]
//   > nvme     opcode OP nsid NSID cdw D10 D11 D12 D13 D14 D15 dir none|in|out
//              length N limit S [hash H]          (an NVMe admin command, hex)
//   < ata      system -|E regs ERR C L M H D STATUS returned yes|no moved N
//   < scsi     system -|E status S sense HEX|- moved N
//   < nvme     system -|E status F result R moved N   (F: the status field, hex:
//              code bits 7-0, type 10-8, do-not-retry 14; R: Dword 0)
// `system -`: the system carried the request out; else its error code.
//   < pio      status S error E [count C] moved N
//   = HEX      data that came back, continued over as many lines as it takes
// `hash` is the 64-bit FNV-1a of the data sent; `regs` are in task-file order
// (features or error, count, LBA low, mid, high, device, command or status).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "transport/AtaTypes.h"

namespace brisquel {

inline constexpr std::string_view kRecordingFirstLine = "# brisquel recording 1";

enum class RecordedKind { ata, scsi, pio, nvme };

struct RecordedTarget {
  bool channel = false;
  std::uint8_t busType = 0;      // a drive
  std::uint32_t maxTransfer = 0;  // a drive: the largest transfer its disk queue takes
  std::uint16_t basePort = 0;    // a channel
  bool device1 = false;
};

// One command out and its answer. Fields belong to the kinds named.
struct RecordedCommand {
  RecordedKind kind = RecordedKind::ata;
  // Out.
  AtaTaskFile regs;                          // ata, pio
  bool lba48 = false;                        // pio
  std::vector<std::uint8_t> cdb;             // scsi: the bytes sent
  std::uint8_t opcode = 0;                   // nvme
  std::uint32_t nsid = 0;                    // nvme
  std::array<std::uint32_t, 6> cdw{};        // nvme: CDW10 to CDW15
  DataDirection direction = DataDirection::none;
  std::uint32_t length = 0;                  // bytes of data
  std::uint32_t timeLimit = 0;               // ata, scsi
  bool registersBack = false;                // ata
  std::optional<std::uint64_t> dataHash;     // data sent
  // Back.
  bool delivered = true;                     // ata, scsi: false, the system refused it
  std::uint32_t systemError = 0;             // ata, scsi
  AtaTaskFile returned;                      // ata: as the drive left them; pio: error, status
  bool registersReturned = false;            // ata
  std::uint8_t scsiStatus = 0;               // scsi
  std::vector<std::uint8_t> sense;           // scsi
  std::optional<std::uint8_t> count;         // pio: the count register read back
  std::uint16_t nvmeStatus = 0;              // nvme: the status field
  std::uint32_t nvmeResult = 0;              // nvme: Dword 0
  std::uint32_t moved = 0;
  std::vector<std::uint8_t> data;            // what came back
};

struct Recording {
  RecordedTarget target;
  std::vector<RecordedCommand> commands;
};

struct RecordingRead {
  std::optional<Recording> recording;
  std::string error;  // "line N: reason"
};

std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes);

// Text starts as a recording does.
bool IsRecording(std::string_view text);
RecordingRead ReadRecording(std::string_view text);

std::string RecordingTargetLines(const RecordedTarget& target);
// The "> ..." line of a command.
std::string RecordedOutLine(const RecordedCommand& command);
// The "< ..." line and the "=" lines of its data.
std::string RecordedBackLines(const RecordedCommand& command);

// Fields as the format writes them, for messages that name one as the file
// does: "ata", "in", "0A1B", "03 40 00 00 00 A0 92" (task-file order, command
// last), the five previous registers.
const char* RecordedKindName(RecordedKind kind);
const char* RecordedDirectionName(DataDirection direction);
std::string RecordedHex(std::span<const std::uint8_t> bytes);
std::string RecordedRegisters(const AtaTaskFile& regs);
std::string RecordedPreviousRegisters(const AtaTaskFile& regs);
// An NVMe command's CDW10 to CDW15: "00000001 00000000 ...".
std::string RecordedDwords(const std::array<std::uint32_t, 6>& cdw);

}  // namespace brisquel
