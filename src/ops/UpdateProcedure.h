// One firmware update, as the window's DLMC and WD DPTM buttons and the
// command line's dlmc and dptm run it: IDENTIFY, the checks that need only the
// drive, the view's "go ahead?", the vendor unlock, the file, the checks that
// need the file, the download, and the revision read back. The views ask and
// render; what is refused, and when, is decided here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/DiskUsers.h"
#include "ops/DownloadCheck.h"
#include "ops/DownloadOutcome.h"
#include "ops/DriveCapabilities.h"
#include "ops/Identify.h"
#include "ops/OperationContext.h"
#include "ops/SystemFirmwareInterface.h"

namespace brisquel {

struct UpdateRequest {
  enum class Kind { dlmc, vendor };
  Kind kind = Kind::dlmc;
  // DOWNLOAD MICROCODE's mode; none when the mode box holds a typed text,
  // which sends the vendor unlock only.
  std::optional<std::uint8_t> mode;
  SegmentRequest segments;  // modes 03 and 0E
  // The target, for the disk-users check and the transport's limit: the
  // drive list's device path and its queue's largest transfer (API mode), or
  // none for a channel.
  std::optional<std::string> devicePath;
  std::uint32_t queueBytes = 0;
  // The firmware file, where the view names it before the update starts (the
  // command line): a whole image (01, 07) too large for one transfer is then
  // refused before any question and the unlock. Without it the view's file
  // dialog asks after the unlock, and the refusal follows the dialog.
  std::optional<std::string> file;
  // Modes 0E and 0F: through Windows' firmware interface where it can carry
  // them (automatic), or as asked.
  FirmwareVia via = FirmwareVia::automatic;
  // NVMe: the firmware slot (none: the lowest writable slot that is not the
  // active one), and activation without a reset instead of at the next one.
  std::optional<int> slot;
  bool activateNow = false;
};

// What the procedure found and did. `download` says how it ended: a stop
// before anything was sent reads `refused` (a check the view did not override,
// or a file that cannot go), `cancelled` (no file, or no consent),
// `stoppedByBreak` or `noDrive`.
struct UpdateReport {
  enum class Stage { identify, driveChecks, goAhead, unlock, file, fileChecks, send, verify, done };
  Stage stage = Stage::identify;  // where it ended
  IdentifyOutcome before;         // the drive's IDENTIFY before anything was sent
  std::optional<DriveCapabilities> capabilities;  // none when IDENTIFY gave no valid data
  std::vector<std::string> refusals;              // what the checks refused, in order
  bool sentAnyway = false;                        // the view overrode them
  std::optional<SegmentPlan> segments;            // modes 03 and 0E, once planned
  bool throughInterface = false;                  // 0E or 0F went to Windows' firmware interface
  // Why the firmware interface, asked for by name, cannot carry the download.
  std::string interfaceRefusal;
  DownloadOutcome download;

  // After a completed download: IDENTIFY again until the drive answers.
  bool verified = false;
  std::optional<std::string> revisionAfter;  // none: the drive did not answer in time
  bool revisionUnchanged = false;            // a change was due and did not come
  bool revisionWaitStopped = false;          // Break ended the wait for it, not the drive

  // NVMe: the slot written or activated, the revision the slot log shows in
  // it afterwards, and what it waits for: the next reset or the one the
  // controller named; empty when it runs now or is only stored (0E).
  std::optional<int> slot;
  std::optional<std::uint32_t> pieceBytes;  // and how that size was chosen
  std::string pieceWhy;
  std::string slotRevision;
  std::string waitsFor;
  bool storedOnly = false;

  bool Declined() const {
    return stage < Stage::send && (download.result == DownloadOutcome::Result::refused ||
                                   download.result == DownloadOutcome::Result::cancelled);
  }
};

// What each view answers.
class UpdateQuestions {
 public:
  virtual ~UpdateQuestions() = default;
  // The checks refused, one reason per check: send all the same?
  virtual bool SendAnyway(const std::vector<std::string>& why) = 0;
  // The disk holds the running system and the mode switches firmware at once:
  // a second, separate question, which a yes to SendAnyway does not answer.
  virtual bool SendToSystemDisk(const std::string& why) = 0;
  // The last word before the first command that changes the drive, with what
  // IDENTIFY and the checks found. The window has asked all it asks by then.
  virtual bool GoAhead(const UpdateReport& sofar) {
    (void)sofar;
    return true;
  }
};

struct UpdateContext {
  OperationContext& ops;
  UpdateQuestions& questions;
  DiskUsers& diskUsers;
  RetryClock& clock;
};

UpdateReport RunUpdate(UpdateContext& u, const UpdateRequest& request);

// Whether the vendor unlock of the standard download belongs to this drive:
// its model begins "WDC ", or its world wide name carries that maker's OUI.
bool IsWdcDrive(const IdentifyOutcome& identity);

// The window's line after a download: "Firmware revision A -> B", the
// deferred image's wait for activation, or why the revision was not read.
// Empty when nothing was verified.
std::string RevisionLine(const UpdateReport& report);
// The revision the drive reported before the download, or "(not read)" when
// its IDENTIFY failed or held none (a bridge that passed nothing on).
std::string RevisionBefore(const UpdateReport& report);

}  // namespace brisquel
