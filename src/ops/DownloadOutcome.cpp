#include "ops/DownloadOutcome.h"

#include <cstdio>

#include "ops/CommandFailure.h"
#include "ops/ErrorCodeNames.h"
#include "transport/uAtaPass.h"

namespace brisquel {
namespace {

// The names of the codes the drive set; code 0 says nothing about a failure.
std::string NonzeroCodeNames(const VendorStatus& status) {
  std::string names;
  for (std::uint16_t code : {status.primaryCode, status.secondCode, status.thirdCode}) {
    if (code == 0) continue;
    if (!names.empty()) names += " - ";
    names += ErrorCodeName(code);
  }
  return names;
}

}  // namespace

bool DownloadOutcome::Failed() const {
  return result != Result::completed && result != Result::refused && result != Result::cancelled;
}

bool VendorStatusReadable(DownloadOutcome::Result result) {
  using Result = DownloadOutcome::Result;
  return result != Result::noDrive && result != Result::timedOut;
}

const char* ResultName(DownloadOutcome::Result result) {
  using Result = DownloadOutcome::Result;
  switch (result) {
    case Result::completed:
      return "completed";
    case Result::refusedByDrive:
      return "refusedByDrive";
    case Result::refusedBySystem:
      return "refusedBySystem";
    case Result::noDrive:
      return "noDrive";
    case Result::stoppedByBreak:
      return "stoppedByBreak";
    case Result::stoppedEarly:
      return "stoppedEarly";
    case Result::timedOut:
      return "timedOut";
    case Result::nothingToSend:
      return "nothingToSend";
    case Result::refused:
      return "refused";
    case Result::cancelled:
      break;
  }
  return "cancelled";
}

const char* CountedUnit(std::uint8_t mode) {
  return mode == kVendorDownloadMode ? "sectors" : "blocks";
}

std::string ShownName(const std::string& name) {
  std::string shown;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(byte));
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string DownloadLinePrefix(std::uint8_t mode, const std::string& name) {
  const std::string file = ShownName(name);
  if (mode == kVendorDownloadMode) return "Download Microcode (DPTM) - " + file + " - ";
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(mode));
  return "Download Microcode " + std::string(hex) + " - " + file + " - ";
}

std::string ClosingLine(const DownloadOutcome& o) {
  const std::string prefix = DownloadLinePrefix(o.mode, o.file);
  if (o.Completed()) {
    if (o.mode != kVendorDownloadMode) return prefix + "End - OK";
    return prefix + VendorStatusText(o.vendor.value_or(VendorStatus{}));
  }
  std::string line = prefix + "FAILED: " + o.what + " (" + std::to_string(o.sent) + " of " +
                     std::to_string(o.toSend) +
                     " " + CountedUnit(o.mode) + " sent";
  if (o.vendor) {
    if (const std::string names = NonzeroCodeNames(*o.vendor); !names.empty()) {
      line += "; vendor status: " + names;
    }
  }
  return line + ")";
}

bool BeginDownload(OperationHost& host, DownloadOutcome& outcome, std::uint8_t mode,
                   const std::string& file, std::size_t imageBytes) {
  outcome.mode = mode;
  outcome.file = file;
  outcome.toSend = static_cast<std::uint32_t>((imageBytes + kSectorSize - 1) / kSectorSize);
  if (imageBytes == 0) {
    outcome.result = DownloadOutcome::Result::nothingToSend;
    outcome.what = "the file is empty";
    host.LogLine(ClosingLine(outcome));
    return false;
  }
  host.LogLine(DownloadLinePrefix(mode, file) + "Start");
  host.FirmwareProgress(0, outcome.toSend);
  return true;
}

std::string StoppedByBreakLine(const DownloadOutcome& o) {
  return "Stopped by Break after " + std::to_string(o.sent) + " of " + std::to_string(o.toSend) +
         " " + CountedUnit(o.mode) +
         ": the drive keeps its current firmware; start the download again from the beginning";
}

DownloadOutcome::Result ResultOf(const CommandResult& command) {
  using Result = DownloadOutcome::Result;
  switch (command.end) {
    case CommandEnd::completed:
      return Result::completed;
    case CommandEnd::deviceError:
    case CommandEnd::deviceFault:
      return Result::refusedByDrive;
    case CommandEnd::unset:
    case CommandEnd::systemRefused:
    case CommandEnd::notSent:
    case CommandEnd::shortTransfer:
      return Result::refusedBySystem;
    case CommandEnd::noDevice:
      return Result::noDrive;
    case CommandEnd::timedOut:
      return Result::timedOut;
    case CommandEnd::stopped:
      break;
  }
  return Result::stoppedByBreak;
}

std::string WhatEnded(const CommandResult& command, const std::string& commandName,
                      TransportContext& t) {
  switch (command.end) {
    case CommandEnd::completed:
      break;
    case CommandEnd::unset:
      return "no outcome was set for " + commandName;
    case CommandEnd::deviceError:
      // An NVMe controller says why in its status.
      if (command.nvmeStatus) return commandName + " failed: " + FailureWords(command, t);
      return "the drive aborted " + commandName;
    case CommandEnd::deviceFault:
      return DeviceFaultWords(command);
    case CommandEnd::shortTransfer:
      return ShortTransferWords(command);
    case CommandEnd::systemRefused:
      return "the system refused " + commandName + ": " +
             TrimSystemMessage(t.io.SystemMessageText(command.systemError));
    case CommandEnd::notSent:
      return commandName + " was not sent";
    case CommandEnd::noDevice:
      return "no drive answers on the channel";
    case CommandEnd::timedOut:
      return "the command's time limit expired";
    case CommandEnd::stopped:
      return "stopped by Break";
  }
  return {};
}

}  // namespace brisquel
