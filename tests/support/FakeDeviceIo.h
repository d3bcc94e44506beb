// A DeviceIo that captures each request block (bytes and sizes, as handed in)
// and answers with scripted replies. Handles behave as the system's do: a
// request on a handle that was never opened fails with ERROR_INVALID_HANDLE.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "transport/DeviceIo.h"
#include "transport/PassThroughBlocks.h"

namespace brisquel::testing {

struct IoCall {
  OsHandle handle;
  std::uint32_t code;
  std::vector<std::uint8_t> input;  // the first inSize bytes at the time of the call
  std::uint32_t inSize;
  std::uint32_t outSize;
  bool sameBlock;  // input and output are one block
  std::uint32_t lastErrorAtCall;
};

struct OpenCall {
  std::string path;
  std::uint32_t access, share, disposition, flags;
};

class FakeDeviceIo : public DeviceIo {
 public:
  struct Reply {
    bool ok = true;
    std::uint32_t error = 0;  // last error when !ok
    // Writes the answer into the block (its first max(inSize, outSize) bytes).
    std::function<void(std::span<std::uint8_t> block)> fill;
  };

  // Ready-made answers. A reply without `fill` leaves the block as it was sent,
  // so an ATA pass-through command byte would read back as the status.
  static Reply AtaRegisters(std::uint8_t status, std::uint8_t error = 0) {
    return {true, 0, [=](std::span<std::uint8_t> block) {
              block[ataptx::kCurrentTaskFile + 6] = status;
              block[ataptx::kCurrentTaskFile] = error;
            }};
  }
  static Reply ScsiStatus(std::uint8_t status, std::vector<std::uint8_t> sense = {}) {
    return {true, 0, [=](std::span<std::uint8_t> block) {
              block[scsiptx::kScsiStatus] = status;
              std::copy(sense.begin(), sense.end(), block.begin() + scsiptx::kSenseOffset);
            }};
  }
  static Reply Refused(std::uint32_t error) { return {false, error, {}}; }

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

  bool DeviceIoControl(OsHandle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                       void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) override {
    auto* inBytes = static_cast<std::uint8_t*>(in);
    calls.push_back({handle, code, std::vector<std::uint8_t>(inBytes, inBytes + inSize), inSize,
                     outSize, in == out, lastError_});
    if (!openHandles.count(handle)) {
      lastError_ = win32::ERROR_INVALID_HANDLE_;
      return false;
    }
    Reply reply = defaultReply;
    if (!replies.empty()) {
      reply = replies.front();
      replies.pop_front();
    }
    if (reply.fill) {
      reply.fill(std::span(static_cast<std::uint8_t*>(out), std::max(inSize, outSize)));
    }
    if (!reply.ok) {
      lastError_ = reply.error;
      return false;
    }
    if (bytesReturned) *bytesReturned = outSize;
    return true;
  }

  bool CloseHandle(OsHandle handle) override {
    closed.push_back(handle);
    return openHandles.erase(handle) > 0;
  }
  std::uint32_t GetLastError() override { return lastError_; }
  void SetLastError(std::uint32_t code) override { lastError_ = code; }
  std::string SystemMessageText(std::uint32_t code) override {
    auto it = messages.find(code);
    return it != messages.end() ? it->second : "Unknown error " + std::to_string(code) + ".\r\n";
  }

 private:
  std::uint32_t lastError_ = 0;
};

}  // namespace brisquel::testing
