#include "transport/uAtaPass.h"

#include <algorithm>
#include <cstring>

#include "transport/DeviceCall.h"
#include "transport/DeviceIo.h"
#include "transport/PassThroughBlocks.h"
#include "transport/RequestRules.h"

namespace brisquel {

using namespace ataptx;

std::vector<std::uint8_t> BuildAtaPassThroughEx(const AtaTaskFile& regs, DataDirection direction,
                                                std::uint32_t length,
                                                std::span<const std::uint8_t> data,
                                                std::uint32_t timeLimit) {
  std::vector<std::uint8_t> block(kHeaderSize + length, 0);
  std::uint8_t* p = block.data();

  std::uint16_t flags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_48BIT_COMMAND;
  if (direction == DataDirection::in) flags |= ATA_FLAGS_DATA_IN;
  if (direction == DataDirection::out) flags |= ATA_FLAGS_DATA_OUT;

  PutU16(p + kLength, static_cast<std::uint16_t>(kHeaderSize));
  PutU16(p + kAtaFlags, flags);
  PutU32(p + kDataTransferLength, length);
  PutU32(p + kTimeOutValue, timeLimit);
  PutU64(p + kDataBufferOffset, kHeaderSize);

  const std::uint8_t previous[] = {regs.featuresPrev, regs.countPrev, regs.lbaLowPrev,
                                   regs.lbaMidPrev, regs.lbaHighPrev};
  std::memcpy(p + kPreviousTaskFile, previous, sizeof previous);
  const std::uint8_t current[] = {regs.features, regs.count,  regs.lbaLow, regs.lbaMid,
                                  regs.lbaHigh,  regs.device, regs.command};
  std::memcpy(p + kCurrentTaskFile, current, sizeof current);

  CopyDataOut(block, kHeaderSize, direction, length, data);
  return block;
}

RequestSizes AtaPassThroughSizes(DataDirection direction, std::uint32_t length) {
  return RequestSizesFor(direction, length, kHeaderSize, kHeaderSize);
}

std::string TrimSystemMessage(std::string text) {
  if (text.size() > 255) text.resize(255);
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text.back());
    if (c > ' ' && c != '.') break;
    text.pop_back();
  }
  return text;
}

CommandResult AtaPassThrough(TransportContext& t, const AtaTaskFile& regs,
                             std::span<std::uint8_t> buffer, std::uint32_t length,
                             DataDirection direction, std::uint32_t timeLimit) {
  if (!DataFits(t, regs.command, length, buffer.size())) return {CommandEnd::notSent};

  std::vector<std::uint8_t> block =
      BuildAtaPassThroughEx(regs, direction, length, buffer, timeLimit);
  const RequestSizes sizes = AtaPassThroughSizes(direction, length);
  const auto zeroBuffer = [&] { std::fill_n(buffer.begin(), length, std::uint8_t{0}); };

  std::uint32_t bytesReturned = 0;
  const OsHandle handle = t.state.DriveTarget.ataPassHandle;
  if (!CallDevice(t, [&] {
        return t.io.DeviceIoControl(handle, IOCTL_ATA_PASS_THROUGH_, block.data(), sizes.input,
                                    block.data(), sizes.output, &bytesReturned);
      })) {
    const std::uint32_t error = t.io.GetLastError();
    t.host.LogLine("IOCTL_ATA_PASS_THROUGH " + TrimSystemMessage(t.io.SystemMessageText(error)));
    zeroBuffer();
    return {error == win32::ERROR_SEM_TIMEOUT_ ? CommandEnd::timedOut : CommandEnd::systemRefused,
            error};
  }

  const std::uint8_t* returned = block.data() + kCurrentTaskFile;
  t.state.AtaStatusBits.DecodeStatus(returned[6]);
  t.state.AtaStatusBits.DecodeError(returned[0]);
  // Only ERR decides; DF, DRQ or BSY in the returned status do not.
  const bool success = (returned[6] & 0x01) == 0;
  if (!success) {
    zeroBuffer();
  } else if (direction == DataDirection::in) {
    std::copy_n(block.begin() + kHeaderSize, length, buffer.begin());
  }
  CommandResult result{success ? CommandEnd::completed : CommandEnd::deviceError};
  if (t.io.AtaRegistersReturned()) result.returnedCount = returned[1];
  return result;
}

}  // namespace brisquel
