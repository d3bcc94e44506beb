#include "ops/AtaFirmware.h"

#include "ops/DlmcModes.h"
#include "ops/DownloadCheck.h"
#include "ops/StandardDownload.h"
#include "ops/UpdateProcedure.h"
#include "transport/SatForms.h"

namespace brisquel {
namespace {

class AtaFirmware : public FirmwareProtocol {
 public:
  AtaFirmware(OperationContext& ops, const UpdateRequest& request, UpdateReport& report)
      : ops_(ops), t_(ops.transport), r_(request), report_(report) {}

  std::optional<std::string> RequestRefusal() override {
    if (!r_.slot && !r_.activateNow) return std::nullopt;
    return "a firmware slot and when new firmware runs are chosen on NVMe drives; an ATA "
           "drive's mode says both";
  }

  IdentifyOutcome ReadDrive() override {
    IdentifyOutcome identity = ReadIdentity(t_);
    if (identity.Answered() && identity.sector.size() >= kSectorSize) {
      report_.capabilities = CapabilitiesOf(std::span(identity.sector).first<kSectorSize>());
    }
    return identity;
  }

  const char* IdentifyName() const override { return "IDENTIFY DEVICE"; }

  std::vector<std::string> SupportRefusals() override {
    if (r_.kind != UpdateRequest::Kind::dlmc || !report_.capabilities) return {};
    if (auto refusal = DlmcPreflightRefusal(*report_.capabilities, Mode())) return {*refusal};
    return {};
  }

  bool SwitchesAtOnce() const override {
    const DlmcMode* mode = FindDlmcMode(Mode());
    return mode && mode->switchesAtOnce;
  }

  std::optional<std::string> ImageRefusal(std::size_t imageBytes) override {
    // What the bridge takes decides what can go over it: asked once per drive.
    const bool whole = !DlmcModeUsesOffsets(Mode());
    JudgeSatBridge(t_, whole && imageBytes > kScsiMaxBlocksPerCommand * kSectorSize);
    return DownloadRefusal(t_.state.DriveTarget, Mode(), imageBytes, r_.queueBytes);
  }

  std::optional<std::string> PlanPieces(std::size_t imageBytes) override {
    if (!DlmcModeUsesOffsets(Mode())) return std::nullopt;
    const auto blocks = static_cast<std::uint32_t>((imageBytes + kSectorSize - 1) / kSectorSize);
    SegmentPlan plan = PlanSegments(report_.capabilities.value_or(DriveCapabilities{}),
                                    TransportSegmentLimit(t_.state.DriveTarget.kind, r_.queueBytes),
                                    r_.segments, blocks);
    report_.segments = plan;
    ops_.segments = plan;
    return plan.refusal;
  }

  std::uint32_t LargestPiece() const override {
    return report_.segments.value_or(SegmentPlan{}).largest * std::uint32_t{kSectorSize};
  }

  DownloadOutcome Send(const std::string& file, std::span<const std::uint8_t> image) override {
    return SendStandardDownload(ops_, Mode(), file, image);
  }

  CommandResult Finish() override { return ActivateDeferredMicrocode(t_); }
  const char* FinishName() const override { return "DOWNLOAD MICROCODE"; }

  void ReadBack(RetryClock& clock) override {
    if (const auto after = IdentifyAfterDownload(t_, clock)) {
      report_.revisionAfter = after->firmware;
      report_.revisionUnchanged = RevisionChangeDue(report_.download) && report_.before.command &&
                                  report_.before.firmware == after->firmware;
    } else {
      report_.revisionWaitStopped = t_.state.BreakFlag;
    }
  }

 private:
  std::uint8_t Mode() const {
    return r_.kind == UpdateRequest::Kind::vendor ? kVendorDownloadMode : r_.mode.value_or(0);
  }

  OperationContext& ops_;
  TransportContext& t_;
  const UpdateRequest& r_;
  UpdateReport& report_;
};

}  // namespace

std::unique_ptr<FirmwareProtocol> MakeAtaFirmware(OperationContext& ops,
                                                  const UpdateRequest& request,
                                                  UpdateReport& report) {
  return std::make_unique<AtaFirmware>(ops, request, report);
}

}  // namespace brisquel
