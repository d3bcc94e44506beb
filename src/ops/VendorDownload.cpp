#include "ops/VendorDownload.h"

#include <algorithm>

#include "ops/FirmwareFile.h"
#include "ops/VendorChannel.h"
#include "transport/Dispatch.h"

namespace brisquel {
namespace {

const std::string kLinePrefix = "Download Microcode (DPTM) - ";

}  // namespace

void WriteVendorData(TransportContext& t, std::uint8_t n) {
  AtaCommand c;
  c.regs = {.features = 0xD6,  // SMART WRITE LOG, log 0xBF
            .count = n,
            .lbaLow = 0xBF,
            .lbaMid = 0x4F,
            .lbaHigh = 0xC2,
            .device = 0xA0,
            .command = 0xB0};
  c.direction = DataDirection::out;
  c.buffer = t.state.TransferBuffer;
  c.length = n * std::uint32_t{kSectorSize};
  c.sectors = n;
  c.form = TaskFileForm::lba48;
  c.pioData = PioData::writeSectors;
  c.pioDataNeedsNoError = true;
  Dispatch(t, c);
}

bool SendVendorDownload(TransportContext& t, std::span<const std::uint8_t> image) {
  TransportState& s = t.state;
  EnableVendorCommands(t);
  const auto announced = static_cast<std::uint32_t>(image.size() / kSectorSize);
  std::uint32_t requested = SendKeySector(t, KeySector::Download(announced));
  const std::uint32_t asked = requested;

  std::size_t position = 0;
  bool ranPastFile = false;
  while (requested > 0 && !s.BreakFlag) {
    if (position >= image.size()) {
      // Whatever would go out now is not the user's file: stale buffer
      // contents or invented padding could be flashed as firmware.
      ranPastFile = true;
      t.host.LogLine(kLinePrefix + "Stopped at the end of the file: the drive asks for " +
                     std::to_string(asked) + " sectors, the file holds " +
                     std::to_string(asked - requested));
      break;
    }
    const std::size_t fileSectorsLeft = (image.size() - position + kSectorSize - 1) / kSectorSize;
    const auto n = static_cast<std::uint32_t>(
        std::min<std::size_t>({requested, kVendorChunkSectors, fileSectorsLeft}));
    requested -= n;
    // Only the file's trailing partial sector can be short; it is padded with zeros.
    position += StageSectors(s.TransferBuffer, image, position, n);
    // A chunk that fails does not stop the loop.
    WriteVendorData(t, static_cast<std::uint8_t>(n));
    t.host.PumpMessages();
  }

  ReadVendorStatus(t);
  const VendorStatus status = VendorStatus::From(std::span(s.SectorBuffer).first(kSectorSize));
  return status.primaryCode == 0 && !s.BreakFlag && !ranPastFile;
}

void RunVendorDownload(OperationContext& ctx) {
  ctx.transport.state.BreakFlag = false;
  const std::optional<std::string> path = ctx.host.OpenFirmwareDialog(false);
  if (!path) return;
  const std::string prefix = kLinePrefix + FileNameOf(*path) + " - ";
  const FirmwareFile file = LoadFirmwareFile(*path, UINTMAX_MAX);
  if (file.outcome != FirmwareFile::Outcome::loaded) {
    ctx.host.LogLine(prefix + "Cannot read the file " + *path);
    return;
  }

  SendVendorPreamble(ctx.transport);
  ctx.host.LogLine(prefix + "Begin");
  SendVendorDownload(ctx.transport, file.image);
  ReadVendorStatus(ctx.transport);
  // Written whatever the outcome: the status names are how a failure shows.
  ctx.host.LogLine(prefix + VendorErrorText(ctx.transport));
}

void btReplaceClick(OperationContext& ctx) {
  ctx.transport.state.BreakFlag = false;
  const OperationButtonsDisabled buttons(ctx.host);
  RunVendorDownload(ctx);
}

}  // namespace brisquel
