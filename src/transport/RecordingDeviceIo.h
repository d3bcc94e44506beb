// The system's device I/O with each pass-through request and its answer
// written to a recording on the way through: what the drive, its bridge and
// the system answered, exactly as the transports get it.
#pragma once

#include "transport/CommandRecorder.h"
#include "transport/DeviceIo.h"
#include "transport/PassThroughRequest.h"

namespace brisquel {

// The recorded form of a request as it goes out (the answer left empty).
RecordedCommand RecordedRequest(const AtaRequest& request);
RecordedCommand RecordedRequest(const ScsiRequest& request);
RecordedCommand RecordedRequest(const NvmeAdminRequest& request);

class RecordingDeviceIo : public ForwardingDeviceIo {
 public:
  RecordingDeviceIo(DeviceIo& inner, CommandRecorder& recorder)
      : ForwardingDeviceIo(inner), recorder_(recorder) {}

  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override;
  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override;
  NvmeAdminAnswer NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) override;
  // A recording holds pass-through commands only: a recorded run takes the
  // pass-through, so that its replay sends what it sent.
  bool HasFirmwareInterface() override { return false; }

 private:
  CommandRecorder& recorder_;
};

}  // namespace brisquel
