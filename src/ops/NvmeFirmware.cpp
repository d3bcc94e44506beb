#include "ops/NvmeFirmware.h"

#include <algorithm>

#include "ops/CommandFailure.h"
#include "ops/DownloadCheck.h"
#include "ops/StandardDownload.h"
#include "ops/SystemFirmwareInterface.h"
#include "ops/UpdateProcedure.h"
#include "transport/FirmwareCalls.h"
#include "transport/NvmeCommands.h"

namespace brisquel {
namespace {

constexpr const char* kCommitName = "Firmware Commit";
constexpr const char* kPieceName = "Firmware Image Download";
constexpr const char* kNextReset = "the next reset";
// The cap on a piece where the storage stack states no largest one.
constexpr auto kLargestStackPiece = static_cast<std::uint32_t>(kTransferBufferSize);

std::uint32_t BlocksOf(std::size_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

std::string KiB(std::uint64_t bytes) {
  return bytes % 1024 == 0 ? std::to_string(bytes / 1024) + " KiB" : std::to_string(bytes) + " bytes";
}

// The slots as the storage stack's GET_INFO lists them, in the controller's
// terms, so that one rule picks the slot on every system.
NvmeControllerFacts SlotsOf(const FirmwareInterfaceInfo& info) {
  NvmeControllerFacts c;
  c.slotCount = static_cast<int>(info.firmwareSlots.size());
  for (const FirmwareSlotState& slot : info.firmwareSlots) {
    if (slot.number == 1) c.slot1ReadOnly = slot.readOnly;
  }
  return c;
}

class NvmeFirmware : public FirmwareProtocol {
 public:
  NvmeFirmware(OperationContext& ops, const UpdateRequest& request, UpdateReport& report)
      : ops_(ops),
        t_(ops.transport),
        r_(request),
        report_(report),
        stack_(ops.transport.io.HasFirmwareInterface()) {}

  std::optional<std::string> RequestRefusal() override {
    if (r_.kind == UpdateRequest::Kind::vendor) return NvmeVendorRefusal();
    if (!r_.mode) {
      return "a typed mode sends the vendor unlock alone, an ATA command that an NVMe drive does "
             "not take";
    }
    if (r_.segments.blocks || r_.segments.fromDrive) {
      return "segment sizes are DOWNLOAD MICROCODE's; an NVMe drive's pieces follow its own "
             "limits (MDTS, FWUG)";
    }
    if (*r_.mode == kDlmcTemporary) {
      return "an NVMe drive has no temporary image (mode 01): use 07, which activates the image "
             "at the next reset";
    }
    if (!stack_ && r_.via == FirmwareVia::system) {
      return "--via system names Windows' firmware interface, which this system does not have";
    }
    return stack_ ? StackRefusal() : std::nullopt;
  }

  // Windows' storage stack takes no firmware command through its NVMe
  // pass-through: only its firmware interface, whose driver picks the commit
  // actions. What that cannot say is refused before anything goes out.
  std::optional<std::string> StackRefusal() const {
    const FirmwareInterfaceInfo& info = t_.state.FirmwareInterface;
    if (auto refusal = FirmwareInterfaceRefusal(info, TransportKind::nvme, t_.io)) {
      return "on Windows an NVMe drive's firmware goes only through the storage stack's firmware "
             "interface, and " + *refusal;
    }
    if (r_.via == FirmwareVia::passThrough) {
      return "on Windows an NVMe drive's firmware goes only through the storage stack's firmware "
             "interface, not pass-through";
    }
    if (*r_.mode == kDlmcDeferred) {
      return "on Windows the storage stack commits an NVMe image only as it activates it: storing "
             "it without an activation (0E) cannot be asked for; use 07, or 03";
    }
    if (r_.activateNow) {
      return "on Windows the storage stack's driver decides when new firmware runs (at once where "
             "the controller can, else at the next reset): leave --activate now out";
    }
    if (r_.slot) {
      const auto listed = std::find_if(info.firmwareSlots.begin(), info.firmwareSlots.end(),
                                       [&](const FirmwareSlotState& s) { return s.number == *r_.slot; });
      std::string offered;
      for (const FirmwareSlotState& s : info.firmwareSlots) {
        if (*r_.mode == kDlmcActivate || !s.readOnly) {
          offered += (offered.empty() ? "" : ", ") + std::to_string(s.number);
        }
      }
      if (listed == info.firmwareSlots.end() || (*r_.mode != kDlmcActivate && listed->readOnly)) {
        return "the storage stack does not offer slot " + std::to_string(*r_.slot) + " for this (" +
               (offered.empty() ? std::string("it offers none") : "it offers " + offered) + ")";
      }
    }
    return std::nullopt;
  }

  IdentifyOutcome ReadDrive() override {
    info_ = ReadNvmeInfo(t_);
    if (stack_) {
      // The slot the stack offers, whatever the controller's own log says.
      const FirmwareInterfaceInfo& info = t_.state.FirmwareInterface;
      NvmeSlotLog active;
      active.activeSlot = info.activeSlot;
      slot_ = ChooseNvmeSlot(SlotsOf(info), active, r_.slot);
      report_.slot = slot_;
    } else if (info_.controller) {
      slot_ = ChooseNvmeSlot(*info_.controller, info_.slots, r_.slot);
      report_.slot = slot_;
    }
    return info_.identity;
  }

  const char* IdentifyName() const override { return "Identify Controller"; }

  std::vector<std::string> SupportRefusals() override {
    std::vector<std::string> why;
    if (!info_.controller) return why;
    const NvmeControllerFacts& c = *info_.controller;
    if (!c.firmwareCommands) {
      why.push_back("the controller does not list Firmware Image Download and Commit among its "
                    "commands (OACS bit 2 clear)");
    }
    if (c.slotCount == 0) why.push_back("the controller states no firmware slots (FRMW bits 3:1)");
    if (r_.slot && *r_.slot > c.slotCount) {
      why.push_back("slot " + std::to_string(*r_.slot) + " is not there: the controller has " +
                    std::to_string(c.slotCount) + (c.slotCount == 1 ? " slot" : " slots"));
    }
    if (!slot_ && !info_.slots) {
      why.push_back("the firmware slot log cannot be read (" + info_.logFailure +
                    "), so which slot is active is unknown: name one with --slot");
    }
    if (!slot_) {
      // Sent anyway: the lowest slot that takes an image.
      slot_ = c.slot1ReadOnly && c.slotCount > 1 ? 2 : 1;
      report_.slot = slot_;
    }
    const bool stores = *r_.mode != kDlmcActivate;
    if (stores && *slot_ == 1 && c.slot1ReadOnly) {
      why.push_back(std::string(r_.slot ? "slot 1" : "slot 1, the only slot,") +
                    " is read-only (FRMW bit 0): the controller keeps its image there");
    }
    if (!stores && info_.slots && *slot_ <= kNvmeMaxSlots &&
        info_.slots->revisions[static_cast<std::size_t>(*slot_ - 1)].empty()) {
      why.push_back("slot " + std::to_string(*slot_) + " holds no firmware to activate");
    }
    if (r_.activateNow && !c.activateWithoutReset) {
      why.push_back("the controller does not activate firmware without a reset (FRMW bit 4 "
                    "clear); without --activate now it runs the new firmware after the next reset");
    }
    return why;
  }

  bool SwitchesAtOnce() const override { return r_.activateNow && r_.mode != kDlmcDeferred; }

  std::optional<std::string> ImageRefusal(std::size_t imageBytes) override {
    if (auto refusal = ImageSizeRefusal(imageBytes)) return refusal;
    if (imageBytes % 4 != 0) {
      return "Refused: the file has " + std::to_string(imageBytes) +
             " bytes, no whole number of dwords (4 bytes), which Firmware Image Download carries";
    }
    const FirmwareInterfaceInfo& info = t_.state.FirmwareInterface;
    if (stack_ && !FirmwarePieceBytes(imageBytes, info, kLargestStackPiece)) {
      return "Refused: the file's " + std::to_string(imageBytes) +
             " bytes do not go in pieces of the storage stack's alignment (" +
             std::to_string(info.alignment) + " bytes) of at most " +
             std::to_string(info.maxPiece) + " bytes";
    }
    return std::nullopt;
  }

  std::optional<std::string> PlanPieces(std::size_t imageBytes) override {
    if (stack_) {
      // The driver splits each piece by the controller's limits itself.
      const FirmwareInterfaceInfo& info = t_.state.FirmwareInterface;
      pieceBytes_ = FirmwarePieceBytes(imageBytes, info, kLargestStackPiece).value_or(0);
      report_.pieceBytes = pieceBytes_;
      report_.pieceWhy = "the storage stack's alignment " + KiB(info.alignment) +
                         ", largest piece " + KiB(info.maxPiece);
      return std::nullopt;
    }
    const NvmePiecePlan plan =
        PlanNvmePieces(info_.controller.value_or(NvmeControllerFacts{}), r_.queueBytes);
    report_.pieceWhy = plan.why;
    pieceBytes_ = plan.bytes.value_or(plan.granularity);
    report_.pieceBytes = pieceBytes_;
    if (plan.bytes) return std::nullopt;
    return "the controller's update granularity (" + KiB(plan.granularity) +
           ") is larger than the largest transfer (" + KiB(plan.largestTransfer) +
           "): no piece size fits both";
  }

  std::uint32_t LargestPiece() const override { return pieceBytes_; }

  DownloadOutcome Send(const std::string& file, std::span<const std::uint8_t> image) override {
    if (stack_) return SendThroughStack(file, image);
    const std::uint8_t mode = *r_.mode;
    DownloadOutcome outcome;
    if (!BeginDownload(ops_.host, outcome, mode, file, image.size())) return outcome;
    TransportState& s = t_.state;
    CommandResult last{CommandEnd::completed};
    const char* failed = kPieceName;
    std::size_t offset = 0;
    while (offset < image.size()) {
      // A piece in flight completes; Break ends the download before the next.
      if (s.BreakFlag) {
        last.end = CommandEnd::stopped;
        break;
      }
      const std::size_t n = std::min<std::size_t>(pieceBytes_, image.size() - offset);
      const auto piece = std::span(s.TransferBuffer).first(n);
      std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, piece.begin());
      NvmeAdminRequest request =
          FirmwareImageDownloadRequest(piece, static_cast<std::uint32_t>(offset));
      request.timeLimit = kNvmePieceTimeLimit;
      last = SendNvmeAdmin(t_, request).result;
      if (!last) break;
      offset += n;
      outcome.sent = BlocksOf(offset);
      ops_.host.FirmwareProgress(outcome.sent, outcome.toSend);
    }
    // The whole image is in: the commit stores it, and Break before it leaves
    // the running firmware as it was.
    if (last && s.BreakFlag) last.end = CommandEnd::stopped;
    if (last) {
      const std::uint8_t action = mode == kDlmcDeferred ? kNvmeCommitStore
                                  : r_.activateNow      ? kNvmeCommitActivateNow
                                                        : kNvmeCommitStoreAtReset;
      last = Commit(action);
      failed = kCommitName;
    }
    outcome.result = ResultOf(last);
    outcome.what = WhatEnded(last, failed, t_);
    ops_.host.LogLine(ClosingLine(outcome));
    return outcome;
  }

  CommandResult Finish() override {
    if (stack_) {
      t_.host.LogLine(kThroughFirmwareInterfaceLine);
      return FirmwareCallResult(ActivateFirmware(t_, StackSlot(), true));
    }
    return Commit(r_.activateNow ? kNvmeCommitActivateNow : kNvmeCommitActivateAtReset);
  }
  const char* FinishName() const override { return stack_ ? kFirmwareActivateCall : kCommitName; }

  void ReadBack(RetryClock& clock) override {
    const std::optional<IdentifyOutcome> after = IdentifyAfterDownload(t_, clock);
    if (!after) {
      report_.revisionWaitStopped = t_.state.BreakFlag;
      return;
    }
    report_.revisionAfter = after->firmware;
    const NvmeInfo now = ReadNvmeInfo(t_);
    if (now.slots && slot_ && *slot_ >= 1 && *slot_ <= kNvmeMaxSlots) {
      report_.slotRevision = now.slots->revisions[static_cast<std::size_t>(*slot_ - 1)];
    }
    if (r_.mode == kDlmcDeferred) {
      report_.storedOnly = true;
      return;
    }
    if (stack_) {
      // The driver chose: a revision that did not change waits for the reset.
      if (report_.before.command && report_.before.firmware == after->firmware) {
        report_.waitsFor = kNextReset;
      }
      return;
    }
    if (!r_.activateNow && report_.waitsFor.empty()) report_.waitsFor = kNextReset;
    // A change now was due: the controller said it ran the image at once.
    report_.revisionUnchanged = report_.waitsFor.empty() && report_.before.command &&
                                report_.before.firmware == after->firmware;
  }

 private:
  std::uint8_t StackSlot() const { return static_cast<std::uint8_t>(slot_.value_or(0)); }

  // The pieces by DOWNLOAD, then ACTIVATE of their slot; Break before it
  // leaves the running firmware as it was.
  DownloadOutcome SendThroughStack(const std::string& file, std::span<const std::uint8_t> image) {
    ops_.host.LogLine(kThroughFirmwareInterfaceLine);
    DownloadOutcome outcome;
    if (!BeginDownload(ops_.host, outcome, *r_.mode, file, image.size())) return outcome;
    CommandResult last = SendFirmwarePieces(ops_, outcome, StackSlot(), image, pieceBytes_);
    const char* failed = kFirmwareDownloadCall;
    if (last && t_.state.BreakFlag) last.end = CommandEnd::stopped;
    if (last) {
      last = FirmwareCallResult(ActivateFirmware(t_, StackSlot()));
      failed = kFirmwareActivateCall;
    }
    outcome.result = ResultOf(last);
    outcome.what = WhatEnded(last, failed, t_);
    ops_.host.LogLine(ClosingLine(outcome));
    return outcome;
  }

  CommandResult Commit(std::uint8_t action) {
    NvmeAdminRequest request = FirmwareCommitRequest(static_cast<std::uint8_t>(slot_.value_or(0)), action);
    request.timeLimit =
        NvmeCommitTimeLimit(info_.controller ? info_.controller->mtfa : std::uint16_t{0});
    const NvmeCommandOutcome sent = SendNvmeAdmin(t_, request);
    if (sent.result.end == CommandEnd::deviceError) {
      // Stored, and waiting for the reset the controller names: no failure.
      if (auto reset = NvmeResetNamed(sent.answer.status)) {
        report_.waitsFor = *reset;
        return CommandResult{CommandEnd::completed};
      }
    }
    return sent.result;
  }

  OperationContext& ops_;
  TransportContext& t_;
  const UpdateRequest& r_;
  UpdateReport& report_;
  NvmeInfo info_;
  std::optional<int> slot_;
  std::uint32_t pieceBytes_ = kNvmeDefaultPieceBytes;
  const bool stack_;  // Windows: through the storage stack's firmware interface
};

}  // namespace

std::uint32_t NvmeCommitTimeLimit(std::uint16_t mtfa) {
  // MTFA counts 100 ms; a part of a second is a whole one.
  return std::max<std::uint32_t>(kNvmePieceTimeLimit, (std::uint32_t{mtfa} + 9) / 10);
}

NvmePiecePlan PlanNvmePieces(const NvmeControllerFacts& c, std::uint32_t queueBytes) {
  NvmePiecePlan plan;
  std::vector<std::string> said;
  if (c.fwug != 0 && c.fwug != kNvmeFwugAny) {
    plan.granularity = 4096u * c.fwug;
    said.push_back("granularity " + KiB(plan.granularity));
  }
  std::uint64_t largest = 0;
  if (c.mdts != 0 && c.mdts < 20) {
    largest = std::uint64_t{4096} << c.mdts;
    said.push_back("largest transfer " + KiB(largest));
  }
  if (queueBytes != 0 && (largest == 0 || queueBytes < largest)) {
    largest = queueBytes;
    said.push_back("the queue's limit " + KiB(largest));
  }
  if (largest == 0) {
    largest = kNvmeDefaultPieceBytes;
    said.push_back("no stated limit");
  }
  largest = std::min<std::uint64_t>(largest, kTransferBufferSize);
  plan.largestTransfer = static_cast<std::uint32_t>(largest);
  const std::uint64_t bytes = largest / plan.granularity * plan.granularity;
  if (bytes != 0) plan.bytes = static_cast<std::uint32_t>(bytes);
  for (std::size_t i = 0; i < said.size(); ++i) plan.why += (i ? ", " : "") + said[i];
  return plan;
}

std::optional<int> ChooseNvmeSlot(const NvmeControllerFacts& c,
                                  const std::optional<NvmeSlotLog>& log,
                                  std::optional<int> asked) {
  if (asked) return asked;
  if (!log || c.slotCount == 0) return std::nullopt;
  const auto writable = [&](int slot) { return !(slot == 1 && c.slot1ReadOnly); };
  for (int slot = 1; slot <= c.slotCount; ++slot) {
    if (writable(slot) && slot != log->activeSlot) return slot;
  }
  for (int slot = 1; slot <= c.slotCount; ++slot) {
    if (writable(slot)) return slot;
  }
  // Every slot read-only: the first, which the checks refuse.
  return 1;
}

std::unique_ptr<FirmwareProtocol> MakeNvmeFirmware(OperationContext& ops,
                                                   const UpdateRequest& request,
                                                   UpdateReport& report) {
  return std::make_unique<NvmeFirmware>(ops, request, report);
}

}  // namespace brisquel
