#include "sim/SimDeviceIo.h"

#include <algorithm>

#include "sim/HostAdapter.h"

namespace brisquel::sim {
namespace {

// Linux's SG_IO answers EIO (the backend reads it as an invalid request when
// the length is over the queue's limit) and Windows' pass-through an invalid
// parameter: the same code either way.
bool OverTheLimit(const SimEndpoint& endpoint, std::span<const std::uint8_t> data) {
  return endpoint.maxTransfer != 0 && data.size() > endpoint.maxTransfer;
}

}  // namespace

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
  if (it->second.failsToOpen || (!it->second.drive && !it->second.nvme)) {
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

const SimEndpoint* SimDeviceIo::Endpoint(OsHandle handle, std::uint32_t& error) const {
  const auto handleIt = handles_.find(handle);
  if (handleIt == handles_.end()) {
    error = win32::ERROR_INVALID_HANDLE_;
    return nullptr;
  }
  const auto pathIt = paths_.find(handleIt->second);
  if (pathIt == paths_.end()) {
    error = win32::ERROR_DEVICE_NOT_CONNECTED_;
    return nullptr;
  }
  return &pathIt->second;
}

std::uint32_t SimDeviceIo::MaxTransfer(OsHandle handle) const {
  std::uint32_t error = 0;
  const SimEndpoint* endpoint = Endpoint(handle, error);
  return endpoint ? endpoint->maxTransfer : 0;
}

bool SimDeviceIo::IsNvmeController(OsHandle handle) const {
  std::uint32_t error = 0;
  const SimEndpoint* endpoint = Endpoint(handle, error);
  return endpoint && endpoint->nvme && !endpoint->bridge && !endpoint->replay;
}

AtaAnswer SimDeviceIo::AtaPassThrough(OsHandle handle, const AtaRequest& request) {
  std::uint32_t error = 0;
  const SimEndpoint* endpoint = Endpoint(handle, error);
  if (!endpoint) return RefusedAnswer<AtaAnswer>(error);
  if (endpoint->replay) return ReplayedAnswer(*endpoint->replay, request);
  if (endpoint->bridge)
    return RefusedAnswer<AtaAnswer>(endpoint->bridge->Behaviour().ataIoctlError);
  if (!endpoint->drive) return RefusedAnswer<AtaAnswer>(win32::ERROR_NOT_SUPPORTED_);
  if (!WellFormed(request) || OverTheLimit(*endpoint, request.data)) {
    return RefusedAnswer<AtaAnswer>(win32::ERROR_INVALID_PARAMETER_);
  }

  HostCommand command;
  command.regs = request.regs;
  command.lba48 = true;
  command.direction = request.direction;
  command.data = request.data;
  command.waitForDrdy = true;
  command.timeoutSeconds = request.timeLimit;
  const HostResult result = RunHostCommand(*endpoint->drive, command);
  if (result.outcome == HostOutcome::timedOut)
    return RefusedAnswer<AtaAnswer>(win32::ERROR_SEM_TIMEOUT_);
  if (result.outcome == HostOutcome::dataPhaseError) {
    return RefusedAnswer<AtaAnswer>(win32::ERROR_IO_DEVICE_);
  }

  AtaAnswer answer;
  answer.returned = result.returned;
  // The previous bytes go back as they came: the bench cannot read them back.
  answer.returned.featuresPrev = request.regs.featuresPrev;
  answer.returned.countPrev = request.regs.countPrev;
  answer.returned.lbaLowPrev = request.regs.lbaLowPrev;
  answer.returned.lbaMidPrev = request.regs.lbaMidPrev;
  answer.returned.lbaHighPrev = request.regs.lbaHighPrev;
  answer.registersReturned = true;
  answer.bytesMoved = result.bytesTransferred;
  ZeroUnreturned(request.direction, request.data, answer.bytesMoved);
  return answer;
}

namespace {

// ATA PASS-THROUGH to an NVMe drive: a USB enclosure's bridge has no ATA
// behind it and answers invalid operation code; a system's own stack has no
// translation for it at all.
ScsiAnswer NvmeBehindBridge(const ScsiRequest&, bool bridge) {
  if (!bridge) return RefusedAnswer<ScsiAnswer>(win32::ERROR_NOT_SUPPORTED_);
  ScsiAnswer answer;
  answer.scsiStatus = 0x02;  // CHECK CONDITION
  answer.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
  return answer;
}

}  // namespace

ScsiAnswer SimDeviceIo::ScsiPassThrough(OsHandle handle, const ScsiRequest& request) {
  std::uint32_t error = 0;
  const SimEndpoint* endpoint = Endpoint(handle, error);
  if (!endpoint) return RefusedAnswer<ScsiAnswer>(error);
  if (endpoint->replay) return ReplayedAnswer(*endpoint->replay, request);
  if (!WellFormed(request) || OverTheLimit(*endpoint, request.data)) {
    return RefusedAnswer<ScsiAnswer>(win32::ERROR_INVALID_PARAMETER_);
  }
  if (!endpoint->drive) return NvmeBehindBridge(request, endpoint->bridge != nullptr);
  const UsbBridge& bridge = endpoint->bridge ? *endpoint->bridge : systemSat_;
  const ScsiOutcome outcome = bridge.Execute(*endpoint->drive, request.cdb.Sent(),
                                             request.direction, request.data, request.timeLimit);
  if (!outcome.completed) return RefusedAnswer<ScsiAnswer>(outcome.win32Error);

  ScsiAnswer answer;
  answer.scsiStatus = outcome.scsiStatus;
  answer.sense.assign(outcome.sense.begin(),
                      outcome.sense.begin() + static_cast<std::ptrdiff_t>(
                                                  std::min(outcome.sense.size(), kScsiSenseRoom)));
  answer.bytesMoved = outcome.bytesTransferred;
  ZeroUnreturned(request.direction, request.data, answer.bytesMoved);
  return answer;
}

NvmeAdminAnswer SimDeviceIo::NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) {
  std::uint32_t error = 0;
  const SimEndpoint* endpoint = Endpoint(handle, error);
  if (!endpoint) return RefusedAnswer<NvmeAdminAnswer>(error);
  if (endpoint->replay) return ReplayedAnswer(*endpoint->replay, request);
  // A SATA disk's node, or a USB enclosure's, knows no NVMe ioctl.
  if (!endpoint->nvme || endpoint->bridge) {
    return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_NOT_SUPPORTED_);
  }
  if (!WellFormed(request) || OverTheLimit(*endpoint, request.data)) {
    return RefusedAnswer<NvmeAdminAnswer>(win32::ERROR_INVALID_PARAMETER_);
  }
  NvmeAdminAnswer answer = endpoint->nvme->Execute(request);
  ZeroUnreturned(request.direction, request.data, answer.bytesMoved);
  return answer;
}

}  // namespace brisquel::sim
