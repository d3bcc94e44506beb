#include "platform/windows/portable/PassThroughBlocks.h"

#include <algorithm>
#include <cstring>

namespace brisquel::winpt {

namespace {

// A block of a header and, at dataOffset, `length` bytes of data goes in with
// its data for data-out and comes back with it for data-in; with no data it
// goes in as the header and comes back up to the data area.
BlockSizes SizesFor(DataDirection direction, std::size_t length, std::size_t headerSize,
                    std::size_t dataOffset) {
  const auto header = static_cast<std::uint32_t>(headerSize);
  const auto data = static_cast<std::uint32_t>(dataOffset);
  const auto n = static_cast<std::uint32_t>(length);
  switch (direction) {
    case DataDirection::in:
      return {data, data + n};
    case DataDirection::out:
      return {data + n, data};
    case DataDirection::none:
      break;
  }
  return {header, data};
}

void CopyDataOut(std::vector<std::uint8_t>& block, std::size_t dataOffset, DataDirection direction,
                 std::span<const std::uint8_t> data) {
  if (direction == DataDirection::out)
    std::copy(data.begin(), data.end(), block.begin() + dataOffset);
}

void CopyDataIn(const std::vector<std::uint8_t>& block, std::size_t dataOffset,
                DataDirection direction, std::span<std::uint8_t> data) {
  if (direction == DataDirection::in)
    std::copy_n(block.begin() + dataOffset, data.size(), data.begin());
}

std::uint8_t DataInField(DataDirection direction) {
  switch (direction) {
    case DataDirection::in:
      return scsiptx::SCSI_IOCTL_DATA_IN_;
    case DataDirection::out:
      return scsiptx::SCSI_IOCTL_DATA_OUT_;
    case DataDirection::none:
      break;
  }
  return scsiptx::SCSI_IOCTL_DATA_UNSPECIFIED_;
}

// Hands the block over as one request, in place. False when the system
// refused it; the answer then says why.
template <typename Answer>
bool Carry(IoControl& io, OsHandle handle, std::uint32_t code, std::vector<std::uint8_t>& block,
           BlockSizes sizes, Answer& answer) {
  std::uint32_t bytesReturned = 0;
  if (io.DeviceIoControl(handle, code, block.data(), sizes.input, block.data(), sizes.output,
                         &bytesReturned)) {
    return true;
  }
  answer.delivered = false;
  answer.systemError = io.GetLastError();
  return false;
}

}  // namespace

std::vector<std::uint8_t> BuildAtaPassThroughEx(const AtaRequest& request) {
  using namespace ataptx;
  const AtaTaskFile& regs = request.regs;
  std::vector<std::uint8_t> block(kHeaderSize + request.data.size(), 0);
  std::uint8_t* p = block.data();

  std::uint16_t flags = ATA_FLAGS_DRDY_REQUIRED_ | ATA_FLAGS_48BIT_COMMAND_;
  if (request.direction == DataDirection::in) flags |= ATA_FLAGS_DATA_IN_;
  if (request.direction == DataDirection::out) flags |= ATA_FLAGS_DATA_OUT_;

  PutU16(p + kLength, static_cast<std::uint16_t>(kHeaderSize));
  PutU16(p + kAtaFlags, flags);
  PutU32(p + kDataTransferLength, static_cast<std::uint32_t>(request.data.size()));
  PutU32(p + kTimeOutValue, request.timeLimit);
  PutU64(p + kDataBufferOffset, kHeaderSize);

  const std::uint8_t previous[] = {regs.featuresPrev, regs.countPrev, regs.lbaLowPrev,
                                   regs.lbaMidPrev, regs.lbaHighPrev};
  std::memcpy(p + kPreviousTaskFile, previous, sizeof previous);
  const std::uint8_t current[] = {regs.features, regs.count,  regs.lbaLow, regs.lbaMid,
                                  regs.lbaHigh,  regs.device, regs.command};
  std::memcpy(p + kCurrentTaskFile, current, sizeof current);

  CopyDataOut(block, kHeaderSize, request.direction, request.data);
  return block;
}

BlockSizes AtaPassThroughSizes(const AtaRequest& request) {
  return SizesFor(request.direction, request.data.size(), ataptx::kHeaderSize, ataptx::kHeaderSize);
}

AtaAnswer SendAtaPassThroughEx(IoControl& io, OsHandle handle, const AtaRequest& request) {
  using namespace ataptx;
  std::vector<std::uint8_t> block = BuildAtaPassThroughEx(request);
  AtaAnswer answer;
  if (!Carry(io, handle, IOCTL_ATA_PASS_THROUGH_, block, AtaPassThroughSizes(request), answer)) {
    return answer;
  }
  // The block comes back with the drive's registers in place of the request's.
  const std::uint8_t* c = block.data() + kCurrentTaskFile;
  const std::uint8_t* p = block.data() + kPreviousTaskFile;
  answer.returned = {c[0], c[1], c[2], c[3], c[4], c[5], c[6], p[0], p[1], p[2], p[3], p[4]};
  answer.registersReturned = true;
  answer.bytesMoved = GetU32(block.data() + kDataTransferLength);
  CopyDataIn(block, kHeaderSize, request.direction, request.data);
  return answer;
}

std::vector<std::uint8_t> BuildScsiPassThrough(const ScsiRequest& request) {
  using namespace scsiptx;
  std::vector<std::uint8_t> block(kDataOffset + request.data.size(), 0);
  std::uint8_t* p = block.data();
  PutU16(p + kLength, static_cast<std::uint16_t>(kHeaderSize));
  p[kTargetId] = kSatTargetId;
  p[kCdbLength] = request.cdb.length;
  p[kSenseInfoLength] = static_cast<std::uint8_t>(kSenseSize);
  p[kDataIn] = DataInField(request.direction);
  PutU32(p + kDataTransferLength, static_cast<std::uint32_t>(request.data.size()));
  PutU32(p + kTimeOutValue, request.timeLimit);
  PutU64(p + kDataBufferOffset, kDataOffset);
  PutU32(p + kSenseInfoOffset, static_cast<std::uint32_t>(kSenseOffset));
  const std::span<const std::uint8_t> cdb = request.cdb.Sent();
  std::copy(cdb.begin(), cdb.end(), p + kCdb);
  CopyDataOut(block, kDataOffset, request.direction, request.data);
  return block;
}

BlockSizes ScsiPassThroughSizes(const ScsiRequest& request) {
  return SizesFor(request.direction, request.data.size(), scsiptx::kHeaderSize,
                  scsiptx::kDataOffset);
}

ScsiAnswer SendScsiPassThrough(IoControl& io, OsHandle handle, const ScsiRequest& request) {
  using namespace scsiptx;
  std::vector<std::uint8_t> block = BuildScsiPassThrough(request);
  ScsiAnswer answer;
  if (!Carry(io, handle, IOCTL_SCSI_PASS_THROUGH_, block, ScsiPassThroughSizes(request), answer)) {
    return answer;
  }
  answer.scsiStatus = block[kScsiStatus];
  const auto sense = block.begin() + kSenseOffset;
  answer.sense.assign(sense, sense + kSenseSize);
  answer.bytesMoved = GetU32(block.data() + kDataTransferLength);
  CopyDataIn(block, kDataOffset, request.direction, request.data);
  return answer;
}

}  // namespace brisquel::winpt
