// What a firmware update asks of the drive's own protocol: ATA's DOWNLOAD
// MICROCODE with its count register, NVMe's Firmware Image Download and
// Commit with slots. The update procedure keeps the checks, the questions,
// the system-disk rule and the report; each protocol reads the drive, says
// what it supports, plans and sends the pieces, finishes and reads the
// revision back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ops/DownloadOutcome.h"
#include "ops/Identify.h"
#include "ops/OperationContext.h"

namespace brisquel {

struct UpdateRequest;
struct UpdateReport;
class RetryClock;

class FirmwareProtocol {
 public:
  virtual ~FirmwareProtocol() = default;

  // Why the request cannot go to this kind of drive at all, known before
  // anything is sent to it; none when it can.
  virtual std::optional<std::string> RequestRefusal() = 0;
  // The drive's identity before anything is sent, and what it says of
  // firmware updates, kept in the report.
  virtual IdentifyOutcome ReadDrive() = 0;
  // The identify command's name in the lines that say how it failed.
  virtual const char* IdentifyName() const = 0;
  // Why the drive, by what it says of itself, should not take the request;
  // the user may send anyway. Each is one reason.
  virtual std::vector<std::string> SupportRefusals() = 0;
  // Whether the request switches the drive to new firmware as soon as it
  // completes, under whatever runs from it.
  virtual bool SwitchesAtOnce() const = 0;
  // The image once read: why it cannot go at all (none when it can), and the
  // plan of pieces, whose refusal the user may override (none when it fits).
  virtual std::optional<std::string> ImageRefusal(std::size_t imageBytes) = 0;
  virtual std::optional<std::string> PlanPieces(std::size_t imageBytes) = 0;
  // The largest piece as planned, in bytes.
  virtual std::uint32_t LargestPiece() const = 0;
  // "Start", the pieces and the closing line.
  virtual DownloadOutcome Send(const std::string& file, std::span<const std::uint8_t> image) = 0;
  // What completes a request that carries no image (an activation), and the
  // command's name for its failure.
  virtual CommandResult Finish() = 0;
  virtual const char* FinishName() const = 0;
  // After a completed request: the revision the drive reports, in the report.
  virtual void ReadBack(RetryClock& clock) = 0;
};

// The protocol of the target the transport has selected.
std::unique_ptr<FirmwareProtocol> FirmwareProtocolFor(OperationContext& ops,
                                                      const UpdateRequest& request,
                                                      UpdateReport& report);

}  // namespace brisquel
