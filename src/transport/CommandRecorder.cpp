#include "transport/CommandRecorder.h"

#include <algorithm>

#include "transport/AtaProtocol.h"
#include "transport/NvmeProtocol.h"
#include "transport/SatForms.h"

namespace brisquel {

void MaskIdentifyData(std::span<std::uint8_t> sector) {
  if (sector.size() < kSectorSize) return;
  // Serial number, words 10-19: every character but the padding becomes "X".
  for (std::size_t i = 20; i < 40; ++i) {
    if (sector[i] != ' ' && sector[i] != 0) sector[i] = 'X';
  }
  // World wide name, words 108-111: NAA (4 bits) and OUI (24 bits) stay; the
  // 36 bits that name this one drive go.
  if (sector[216] | sector[217] | sector[218] | sector[219] | sector[220] | sector[221] |
      sector[222] | sector[223]) {
    sector[218] &= 0xF0;  // word 109: OUI bits 11-0 above, the ID's top four bits below
    std::fill(sector.begin() + 220, sector.begin() + 224, std::uint8_t{0});
  }
  if (sector[510] == 0xA5) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + sector[i]);
    sector[511] = static_cast<std::uint8_t>(-sum);
  }
}

void MaskNvmeSerial(std::span<std::uint8_t> data) {
  if (data.size() < kNvmeIdSerial + kNvmeIdSerialBytes) return;
  for (std::size_t i = kNvmeIdSerial; i < kNvmeIdSerial + kNvmeIdSerialBytes; ++i) {
    if (data[i] != ' ' && data[i] != 0) data[i] = 'X';
  }
}

namespace {

// The command register of a recorded command; over SCSI, in its command block.
std::uint8_t CommandOf(const RecordedCommand& c) {
  if (c.kind == RecordedKind::nvme) return 0;
  if (c.kind != RecordedKind::scsi) return c.regs.command;
  if (c.cdb.size() == 16) return c.cdb[14];
  return c.cdb.size() >= 10 ? c.cdb[9] : 0;
}

bool IsIdentifyController(const RecordedCommand& c) {
  return c.kind == RecordedKind::nvme && c.opcode == kNvmeIdentify &&
         (c.cdw[0] & 0xFF) == kNvmeCnsController;
}

}  // namespace

void CommandRecorder::Write(const std::string& text) {
  out_ << text << std::flush;
}

void CommandRecorder::Target(const RecordedTarget& target) {
  if (targetWritten_) return;
  targetWritten_ = true;
  Write(RecordingTargetLines(target));
}

void CommandRecorder::Out(const RecordedCommand& command) {
  Write(RecordedOutLine(command));
}

void CommandRecorder::Back(RecordedCommand command) {
  if (!keepSerial_ && CommandOf(command) == kAtaIdentifyDevice &&
      command.data.size() >= kSectorSize) {
    MaskIdentifyData(std::span(command.data).first(kSectorSize));
  }
  if (!keepSerial_ && IsIdentifyController(command)) MaskNvmeSerial(command.data);
  Write(RecordedBackLines(command));
}

void CommandRecorder::CommandStarting(const DriveTarget& target, const AtaCommand& c) {
  if (target.kind == TransportKind::scsiPassThrough) {
    const std::string form = std::string("form ") + SatFormName(TargetSatForm(target)) + "\n";
    if (form != form_) Write(form);
    form_ = form;
  } else if (target.kind == TransportKind::pio) {
    pio_ = {};
    pio_.kind = RecordedKind::pio;
    pio_.regs = c.regs;
    pio_.regs.device = PioDeviceByte(target, c.regs.device);  // as the channel gets it
    pio_.lba48 = c.form == TaskFileForm::lba48;
    if (!pio_.lba48) {
      pio_.regs.featuresPrev = pio_.regs.countPrev = pio_.regs.lbaLowPrev = 0;
      pio_.regs.lbaMidPrev = pio_.regs.lbaHighPrev = 0;
    }
    pio_.direction = c.pioData == PioData::none ? DataDirection::none : c.direction;
    pio_.length = static_cast<std::uint32_t>(
        std::min<std::size_t>(PioDataBytes(c), c.buffer.size()));
    if (pio_.direction == DataDirection::out) {
      pio_.dataHash = Fnv1a64(c.buffer.first(pio_.length));
    }
    Out(pio_);
  }
  if (next_) next_->CommandStarting(target, c);
}

void CommandRecorder::NvmeCommandStarting(const DriveTarget& target, const NvmeAdminRequest& r) {
  if (next_) next_->NvmeCommandStarting(target, r);
}

void CommandRecorder::NvmeCommandEnded(const DriveTarget& target, const NvmeAdminRequest& r,
                                       const NvmeAdminAnswer& a, std::chrono::nanoseconds t) {
  if (next_) next_->NvmeCommandEnded(target, r, a, t);
}

void CommandRecorder::CommandEnded(const DriveTarget& target, const AtaCommand& c,
                                   const CommandReturn& back) {
  if (target.kind == TransportKind::pio) {
    pio_.returned.command = back.status;
    pio_.returned.features = back.error;
    pio_.count = back.result.returnedCount;
    pio_.moved = std::min(back.bytesMoved, pio_.length);
    if (pio_.direction == DataDirection::in) {
      const auto data = c.buffer.first(pio_.moved);
      pio_.data.assign(data.begin(), data.end());
    }
    Back(pio_);
  }
  if (next_) next_->CommandEnded(target, c, back);
}

}  // namespace brisquel
