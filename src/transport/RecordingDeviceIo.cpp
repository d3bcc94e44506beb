#include "transport/RecordingDeviceIo.h"

#include <algorithm>

namespace brisquel {

namespace {

RecordedCommand Common(RecordedKind kind, DataDirection direction,
                       std::span<const std::uint8_t> data, std::uint32_t timeLimit) {
  RecordedCommand c;
  c.kind = kind;
  c.direction = direction;
  c.length = direction == DataDirection::none ? 0 : static_cast<std::uint32_t>(data.size());
  c.timeLimit = timeLimit;
  if (direction == DataDirection::out) c.dataHash = Fnv1a64(data);
  return c;
}

// The data a request brought back: what moved of it, never past its end.
void DataBack(RecordedCommand& c, std::span<const std::uint8_t> data, std::uint32_t moved) {
  c.moved = std::min<std::uint32_t>(moved, c.length);
  if (c.direction == DataDirection::in) c.data.assign(data.begin(), data.begin() + c.moved);
}

}  // namespace

RecordedCommand RecordedRequest(const AtaRequest& q) {
  RecordedCommand c = Common(RecordedKind::ata, q.direction, q.data, q.timeLimit);
  c.regs = q.regs;
  c.registersBack = q.registersBack;
  return c;
}

RecordedCommand RecordedRequest(const ScsiRequest& q) {
  RecordedCommand c = Common(RecordedKind::scsi, q.direction, q.data, q.timeLimit);
  const auto sent = q.cdb.Sent();
  c.cdb.assign(sent.begin(), sent.end());
  return c;
}

RecordedCommand RecordedRequest(const NvmeAdminRequest& q) {
  RecordedCommand c = Common(RecordedKind::nvme, q.direction, q.data, q.timeLimit);
  c.opcode = q.opcode;
  c.nsid = q.nsid;
  c.cdw = q.cdw;
  return c;
}

AtaAnswer RecordingDeviceIo::AtaPassThrough(OsHandle handle, const AtaRequest& request) {
  RecordedCommand c = RecordedRequest(request);
  recorder_.Out(c);
  const AtaAnswer answer = inner_.AtaPassThrough(handle, request);
  c.delivered = answer.delivered;
  c.systemError = answer.systemError;
  c.returned = answer.returned;
  c.registersReturned = answer.registersReturned;
  DataBack(c, request.data, answer.delivered ? answer.bytesMoved : 0);
  recorder_.Back(std::move(c));
  return answer;
}

ScsiAnswer RecordingDeviceIo::ScsiPassThrough(OsHandle handle, const ScsiRequest& request) {
  RecordedCommand c = RecordedRequest(request);
  recorder_.Out(c);
  ScsiAnswer answer = inner_.ScsiPassThrough(handle, request);
  c.delivered = answer.delivered;
  c.systemError = answer.systemError;
  c.scsiStatus = answer.scsiStatus;
  c.sense = answer.sense;
  DataBack(c, request.data, answer.delivered ? answer.bytesMoved : 0);
  recorder_.Back(std::move(c));
  return answer;
}

NvmeAdminAnswer RecordingDeviceIo::NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) {
  RecordedCommand c = RecordedRequest(request);
  recorder_.Out(c);
  const NvmeAdminAnswer answer = inner_.NvmeAdmin(handle, request);
  c.delivered = answer.delivered;
  c.systemError = answer.systemError;
  c.nvmeStatus = answer.status.Field();
  c.nvmeResult = answer.result;
  DataBack(c, request.data, answer.delivered ? answer.bytesMoved : 0);
  recorder_.Back(std::move(c));
  return answer;
}

}  // namespace brisquel
