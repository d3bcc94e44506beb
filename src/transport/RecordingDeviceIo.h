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

class RecordingDeviceIo : public DeviceIo {
 public:
  RecordingDeviceIo(DeviceIo& inner, CommandRecorder& recorder)
      : inner_(inner), recorder_(recorder) {}

  OsHandle CreateFileA(const std::string& path, std::uint32_t desiredAccess,
                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                       std::uint32_t flagsAndAttributes) override {
    return inner_.CreateFileA(path, desiredAccess, shareMode, creationDisposition,
                              flagsAndAttributes);
  }
  bool CloseHandle(OsHandle handle) override { return inner_.CloseHandle(handle); }
  std::uint32_t GetLastError() override { return inner_.GetLastError(); }
  std::string SystemMessageText(std::uint32_t code) override {
    return inner_.SystemMessageText(code);
  }
  bool CallsBlock() override { return inner_.CallsBlock(); }
  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override;
  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override;
  NvmeAdminAnswer NvmeAdmin(OsHandle handle, const NvmeAdminRequest& request) override;

 private:
  DeviceIo& inner_;
  CommandRecorder& recorder_;
};

}  // namespace brisquel
