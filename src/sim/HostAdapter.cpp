#include "sim/HostAdapter.h"
#include "transport/AtaProtocol.h"

#include <algorithm>

namespace brisquel::sim {

namespace {

constexpr std::size_t kWordsPerBlock = 256;

// Polls the status register until BSY is clear (and DRDY set, when asked);
// false when the bound runs out first.
bool WaitNotBusy(AtaDrive& drive, std::uint32_t bound, bool needDrdy, std::uint8_t& status) {
  for (std::uint32_t i = 0; i < bound; ++i) {
    status = drive.ReadRegister(7);
    if (!(status & kStatusBsy) && (!needDrdy || (status & kStatusDrdy))) {
      return true;
    }
  }
  return false;
}

void WriteTaskFile(AtaDrive& drive, const AtaTaskFile& t, bool lba48) {
  drive.WriteRegister(6, t.device);
  if (lba48) {
    drive.WriteRegister(1, t.featuresPrev);
    drive.WriteRegister(2, t.countPrev);
    drive.WriteRegister(3, t.lbaLowPrev);
    drive.WriteRegister(4, t.lbaMidPrev);
    drive.WriteRegister(5, t.lbaHighPrev);
  }
  drive.WriteRegister(1, t.features);
  drive.WriteRegister(2, t.count);
  drive.WriteRegister(3, t.lbaLow);
  drive.WriteRegister(4, t.lbaMid);
  drive.WriteRegister(5, t.lbaHigh);
  drive.WriteRegister(7, t.command);
}

// One DRQ block. Bytes past the end of `data` are sent as zero or dropped.
void MoveBlock(AtaDrive& drive, DataDirection direction, std::span<std::uint8_t> data,
               std::size_t offset) {
  for (std::size_t w = 0; w < kWordsPerBlock; ++w) {
    const std::size_t at = offset + 2 * w;
    if (direction == DataDirection::in) {
      const std::uint16_t word = drive.ReadData();
      if (at < data.size()) data[at] = static_cast<std::uint8_t>(word);
      if (at + 1 < data.size()) data[at + 1] = static_cast<std::uint8_t>(word >> 8);
    } else {
      const std::uint16_t low = at < data.size() ? data[at] : 0;
      const std::uint16_t high = at + 1 < data.size() ? data[at + 1] : 0;
      drive.WriteData(static_cast<std::uint16_t>(low | (high << 8)));
    }
  }
}

}  // namespace

HostResult RunHostCommand(AtaDrive& drive, const HostCommand& command) {
  HostResult result;
  const std::uint32_t bound =
      std::max<std::uint32_t>(command.timeoutSeconds, 1) * kStatusReadsPerSecond;
  std::uint8_t status = 0;
  if (!WaitNotBusy(drive, bound, command.waitForDrdy, status)) {
    result.outcome = HostOutcome::timedOut;
    drive.SoftReset();
    return result;
  }
  WriteTaskFile(drive, command.regs, command.lba48);

  std::size_t offset = 0;
  for (;;) {
    if (!WaitNotBusy(drive, bound, false, status)) {
      result.outcome = HostOutcome::timedOut;
      result.bytesTransferred = static_cast<std::uint32_t>(std::min(offset, command.data.size()));
      drive.SoftReset();
      return result;
    }
    if (!(status & kStatusDrq) || (status & kStatusErr)) {
      break;
    }
    if (command.direction == DataDirection::none || offset >= command.data.size()) {
      result.outcome = HostOutcome::dataPhaseError;
      result.bytesTransferred = static_cast<std::uint32_t>(std::min(offset, command.data.size()));
      drive.SoftReset();
      return result;
    }
    MoveBlock(drive, command.direction, command.data, offset);
    offset += 2 * kWordsPerBlock;
  }

  result.bytesTransferred = static_cast<std::uint32_t>(std::min(offset, command.data.size()));
  AtaTaskFile& r = result.returned;
  r.features = drive.ReadRegister(1);
  r.count = drive.ReadRegister(2);
  r.lbaLow = drive.ReadRegister(3);
  r.lbaMid = drive.ReadRegister(4);
  r.lbaHigh = drive.ReadRegister(5);
  r.device = drive.ReadRegister(6);
  r.command = status;
  return result;
}

}  // namespace brisquel::sim
