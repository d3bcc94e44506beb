#include "sim/SimDeviceIo.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sim/HostAdapter.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel::sim {

void SimDeviceIo::AddPath(const std::string& path, SimEndpoint endpoint) {
  paths_[path] = std::move(endpoint);
}

void SimDeviceIo::Unplug(const std::string& path) {
  paths_.erase(path);
}

bool SimDeviceIo::Fail(std::uint32_t code) {
  lastError_ = code;
  return false;
}

OsHandle SimDeviceIo::CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                                  std::uint32_t shareMode, std::uint32_t creationDisposition,
                                  std::uint32_t flagsAndAttributes) {
  opens_.push_back({path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes});
  auto it = paths_.find(path);
  if (it == paths_.end()) {
    lastError_ = win32::ERROR_FILE_NOT_FOUND_;
    return kInvalidHandle;
  }
  if (it->second.failsToOpen || !it->second.drive) {
    lastError_ = win32::ERROR_ACCESS_DENIED_;
    return kInvalidHandle;
  }
  const OsHandle handle = nextHandle_;
  nextHandle_ += 4;
  handles_[handle] = path;
  lastError_ = win32::ERROR_SUCCESS_;
  return handle;
}

bool SimDeviceIo::CloseHandle(OsHandle handle) {
  return handles_.erase(handle) != 0 || Fail(win32::ERROR_INVALID_HANDLE_);
}

bool SimDeviceIo::DeviceIoControl(OsHandle handle, std::uint32_t ioControlCode, void* inBuffer,
                                  std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                  std::uint32_t* bytesReturned) {
  requests_.push_back(ioControlCode);
  if (bytesReturned) {
    *bytesReturned = 0;
  }
  auto handleIt = handles_.find(handle);
  if (handleIt == handles_.end()) {
    return Fail(win32::ERROR_INVALID_HANDLE_);
  }
  auto pathIt = paths_.find(handleIt->second);
  if (pathIt == paths_.end()) {
    return Fail(win32::ERROR_DEVICE_NOT_CONNECTED_);
  }
  const Request request{static_cast<std::uint8_t*>(inBuffer), inSize,
                        static_cast<std::uint8_t*>(outBuffer), outSize, bytesReturned};
  switch (ioControlCode) {
    case IOCTL_ATA_PASS_THROUGH_:
      return AtaPassThrough(pathIt->second, request);
    case IOCTL_SCSI_PASS_THROUGH_:
      return ScsiPassThrough(pathIt->second, request);
    default:
      return Fail(win32::ERROR_INVALID_FUNCTION_);
  }
}

namespace {

// The data area a request names, checked as a port driver checks it: behind
// the header and inside the buffer that carries it. Null data on a bad layout.
bool DataArea(std::uint8_t* buffer, std::uint32_t bufferSize, std::uint64_t offset,
              std::uint32_t length, std::size_t headerSize, std::span<std::uint8_t>& data) {
  if (length == 0) {
    data = {};
    return true;
  }
  if (offset < headerSize || offset > bufferSize || length > bufferSize - offset) {
    return false;
  }
  data = std::span<std::uint8_t>(buffer + offset, length);
  return true;
}

}  // namespace

bool SimDeviceIo::AtaPassThrough(const SimEndpoint& endpoint, const Request& r) {
  using namespace ataptx;
  if (endpoint.bridge) {
    return Fail(endpoint.bridge->Behaviour().ataIoctlError);
  }
  if (!r.in || !r.out || r.inSize < kHeaderSize || r.outSize < kHeaderSize) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }
  std::array<std::uint8_t, kHeaderSize> header;
  std::memcpy(header.data(), r.in, kHeaderSize);
  const std::uint16_t flags = GetU16(&header[kAtaFlags]);
  const bool dataIn = flags & ATA_FLAGS_DATA_IN;
  const bool dataOut = flags & ATA_FLAGS_DATA_OUT;
  const std::uint32_t length = GetU32(&header[kDataTransferLength]);
  if (GetU16(&header[kLength]) != kHeaderSize || (dataIn && dataOut) ||
      (!dataIn && !dataOut && length != 0)) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }
  const DataDirection direction = dataIn    ? DataDirection::in
                                  : dataOut ? DataDirection::out
                                            : DataDirection::none;
  std::span<std::uint8_t> data;
  if (!DataArea(dataIn ? r.out : r.in, dataIn ? r.outSize : r.inSize,
                GetU64(&header[kDataBufferOffset]), length, kHeaderSize, data)) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }

  HostCommand command;
  const std::uint8_t* prev = &header[kPreviousTaskFile];
  const std::uint8_t* cur = &header[kCurrentTaskFile];
  command.regs = {cur[0], cur[1],  cur[2],  cur[3],  cur[4],  cur[5],
                  cur[6], prev[0], prev[1], prev[2], prev[3], prev[4]};
  command.lba48 = flags & ATA_FLAGS_48BIT_COMMAND;
  command.direction = direction;
  command.data = data;
  command.waitForDrdy = flags & ATA_FLAGS_DRDY_REQUIRED;
  command.timeoutSeconds = GetU32(&header[kTimeOutValue]);
  const HostResult result = RunHostCommand(*endpoint.drive, command);
  if (result.outcome == HostOutcome::timedOut) {
    return Fail(win32::ERROR_SEM_TIMEOUT_);
  }
  if (result.outcome == HostOutcome::dataPhaseError) {
    return Fail(win32::ERROR_IO_DEVICE_);
  }

  // The previous bytes go back as they came: the bench cannot read them back.
  const AtaTaskFile& t = result.returned;
  const std::uint8_t returned[8] = {t.features, t.count,  t.lbaLow,  t.lbaMid,
                                    t.lbaHigh,  t.device, t.command, 0};
  std::memcpy(&header[kCurrentTaskFile], returned, sizeof returned);
  std::memcpy(r.out, header.data(), kHeaderSize);
  if (r.bytesReturned) {
    *r.bytesReturned =
        static_cast<std::uint32_t>(dataIn && length ? (data.data() - r.out) + length : kHeaderSize);
  }
  return true;
}

bool SimDeviceIo::ScsiPassThrough(const SimEndpoint& endpoint, const Request& r) {
  using namespace scsiptx;
  if (!r.in || !r.out || r.inSize < kHeaderSize || r.outSize < kHeaderSize) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }
  std::array<std::uint8_t, kHeaderSize> header;
  std::memcpy(header.data(), r.in, kHeaderSize);
  const std::uint8_t cdbLength = header[kCdbLength];
  const std::uint8_t dataInCode = header[kDataIn];
  const std::uint8_t senseLength = header[kSenseInfoLength];
  const std::uint32_t senseOffset = GetU32(&header[kSenseInfoOffset]);
  const std::uint32_t length = GetU32(&header[kDataTransferLength]);
  if (GetU16(&header[kLength]) != kHeaderSize || cdbLength == 0 || cdbLength > 16 ||
      dataInCode > SCSI_IOCTL_DATA_UNSPECIFIED ||
      (senseLength != 0 &&
       (senseOffset < kHeaderSize || std::uint64_t{senseOffset} + senseLength > r.outSize))) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }
  const DataDirection direction = dataInCode == SCSI_IOCTL_DATA_IN    ? DataDirection::in
                                  : dataInCode == SCSI_IOCTL_DATA_OUT ? DataDirection::out
                                                                      : DataDirection::none;
  const bool fromOut = direction != DataDirection::out;
  std::span<std::uint8_t> data;
  if (!DataArea(fromOut ? r.out : r.in, fromOut ? r.outSize : r.inSize,
                GetU64(&header[kDataBufferOffset]), length, kHeaderSize, data)) {
    return Fail(win32::ERROR_INVALID_PARAMETER_);
  }

  const UsbBridge& bridge = endpoint.bridge ? *endpoint.bridge : systemSat_;
  const ScsiOutcome outcome =
      bridge.Execute(*endpoint.drive, std::span<const std::uint8_t>(&header[kCdb], cdbLength),
                     direction, data, GetU32(&header[kTimeOutValue]));
  if (!outcome.completed) {
    return Fail(outcome.win32Error);
  }

  const std::size_t senseBytes = std::min<std::size_t>(outcome.sense.size(), senseLength);
  header[kScsiStatus] = outcome.scsiStatus;
  header[kSenseInfoLength] = static_cast<std::uint8_t>(senseBytes);
  PutU32(&header[kDataTransferLength], outcome.bytesTransferred);
  std::memcpy(r.out, header.data(), kHeaderSize);
  if (senseLength != 0) {
    std::memset(r.out + senseOffset, 0, senseLength);
    std::copy_n(outcome.sense.begin(), senseBytes, r.out + senseOffset);
  }
  if (r.bytesReturned) {
    std::size_t end = senseLength != 0 ? senseOffset + senseLength : kHeaderSize;
    if (direction == DataDirection::in && outcome.bytesTransferred != 0) {
      end = std::max<std::size_t>(end, (data.data() - r.out) + outcome.bytesTransferred);
    }
    *r.bytesReturned = static_cast<std::uint32_t>(end);
  }
  return true;
}

}  // namespace brisquel::sim
