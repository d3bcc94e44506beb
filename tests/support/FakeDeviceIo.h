// A DeviceIo that captures each pass-through request (as handed in) and
// answers with scripted replies. Handles behave as the system's do: a request
// on a handle that was never opened fails with ERROR_INVALID_HANDLE.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "transport/DeviceIo.h"

namespace brisquel::testing {

struct IoCall {
  OsHandle handle;
  bool scsi;         // a SCSI pass-through request, else an ATA one
  AtaTaskFile regs;  // ATA
  SatCdb cdb;        // SCSI
  DataDirection direction;
  std::uint32_t length;
  std::vector<std::uint8_t> dataOut;  // data-out bytes as they were at the call
  std::uint32_t timeLimit;
  bool registersBack;
};

struct OpenCall {
  std::string path;
  std::uint32_t access, share, disposition, flags;
};

class FakeDeviceIo : public DeviceIo {
 public:
  struct Reply {
    bool ok = true;
    std::uint32_t error = 0;  // the system's error when !ok
    // Shape the answer: an ATA one starts as the request's registers echoed
    // (so the command byte reads back as the status), a SCSI one as GOOD;
    // both with all the data moved.
    std::function<void(AtaAnswer&)> ata;
    std::function<void(ScsiAnswer&)> scsi;
    std::function<void(std::span<std::uint8_t> data)> dataIn;
  };

  static Reply AtaRegisters(std::uint8_t status, std::uint8_t error = 0) {
    Reply reply;
    reply.ata = [=](AtaAnswer& answer) {
      answer.returned.command = status;
      answer.returned.features = error;
    };
    return reply;
  }
  static Reply ScsiStatus(std::uint8_t status, std::vector<std::uint8_t> sense = {}) {
    Reply reply;
    reply.scsi = [=](ScsiAnswer& answer) {
      answer.scsiStatus = status;
      answer.sense = sense;
    };
    return reply;
  }
  static Reply Refused(std::uint32_t error) { return {false, error, {}, {}, {}}; }

  std::vector<IoCall> calls;
  std::vector<OpenCall> opens;
  std::deque<Reply> replies;  // used in turn; then defaultReply
  Reply defaultReply;
  std::map<std::string, OsHandle> drives;  // path -> handle that CreateFileA gives
  std::set<OsHandle> openHandles;
  std::vector<OsHandle> closed;
  std::map<std::uint32_t, std::string> messages = {
      {win32::ERROR_INVALID_FUNCTION_, "Incorrect function.\r\n"},
      {win32::ERROR_FILE_NOT_FOUND_, "The system cannot find the file specified.\r\n"},
      {win32::ERROR_INVALID_HANDLE_, "The handle is invalid.\r\n"},
      {win32::ERROR_NOT_SUPPORTED_, "The request is not supported.\r\n"},
      {win32::ERROR_INVALID_PARAMETER_, "The parameter is incorrect.\r\n"},
      {win32::ERROR_IO_DEVICE_,
       "The request could not be performed because of an I/O device error.\r\n"},
  };

  OsHandle AddDrive(const std::string& path, OsHandle handle) {
    drives[path] = handle;
    return handle;
  }
  // A handle that requests may use without going through CreateFileA.
  OsHandle Open(OsHandle handle) {
    openHandles.insert(handle);
    return handle;
  }

  OsHandle CreateFileA(const std::string& path, std::uint32_t access, std::uint32_t share,
                       std::uint32_t disposition, std::uint32_t flags) override {
    opens.push_back({path, access, share, disposition, flags});
    auto it = drives.find(path);
    if (it == drives.end()) {
      lastError_ = win32::ERROR_FILE_NOT_FOUND_;
      return kInvalidHandle;
    }
    return Open(it->second);
  }

  AtaAnswer AtaPassThrough(OsHandle handle, const AtaRequest& request) override {
    Record(handle, false, request.regs, {}, request.direction, request.data, request.timeLimit,
           request.registersBack);
    AtaAnswer answer;
    answer.returned = request.regs;
    answer.registersReturned = true;
    answer.bytesMoved = static_cast<std::uint32_t>(request.data.size());
    const Reply reply =
        Answer(handle, answer.delivered, answer.systemError, request.direction, request.data);
    if (answer.delivered && reply.ata) reply.ata(answer);
    return answer;
  }

  ScsiAnswer ScsiPassThrough(OsHandle handle, const ScsiRequest& request) override {
    Record(handle, true, {}, request.cdb, request.direction, request.data, request.timeLimit,
           false);
    ScsiAnswer answer;
    answer.bytesMoved = static_cast<std::uint32_t>(request.data.size());
    const Reply reply =
        Answer(handle, answer.delivered, answer.systemError, request.direction, request.data);
    if (answer.delivered && reply.scsi) reply.scsi(answer);
    return answer;
  }

  bool CloseHandle(OsHandle handle) override {
    closed.push_back(handle);
    return openHandles.erase(handle) > 0;
  }
  std::uint32_t GetLastError() override { return lastError_; }
  std::string SystemMessageText(std::uint32_t code) override {
    auto it = messages.find(code);
    return it != messages.end() ? it->second : "Unknown error " + std::to_string(code) + ".\r\n";
  }

 private:
  void Record(OsHandle handle, bool scsi, const AtaTaskFile& regs, const SatCdb& cdb,
              DataDirection direction, std::span<const std::uint8_t> data, std::uint32_t timeLimit,
              bool registersBack) {
    std::vector<std::uint8_t> out;
    if (direction == DataDirection::out) out.assign(data.begin(), data.end());
    calls.push_back({handle, scsi, regs, cdb, direction, static_cast<std::uint32_t>(data.size()),
                     std::move(out), timeLimit, registersBack});
  }

  Reply Answer(OsHandle handle, bool& delivered, std::uint32_t& error, DataDirection direction,
               std::span<std::uint8_t> data) {
    if (!openHandles.count(handle)) {
      delivered = false;
      error = win32::ERROR_INVALID_HANDLE_;
      return {};
    }
    Reply reply = defaultReply;
    if (!replies.empty()) {
      reply = replies.front();
      replies.pop_front();
    }
    if (!reply.ok) {
      delivered = false;
      error = reply.error;
      return reply;
    }
    if (reply.dataIn && direction == DataDirection::in) reply.dataIn(data);
    return reply;
  }

  std::uint32_t lastError_ = 0;
};

}  // namespace brisquel::testing
