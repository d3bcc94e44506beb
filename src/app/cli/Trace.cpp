#include "app/cli/Trace.h"

#include <cerrno>
#include <cstdio>

#include "transport/SatForms.h"
#include "transport/uAtaPass.h"

namespace brisquel::cli {
namespace {

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[160];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// The transport and the target, padded so the registers line up.
std::string Where(const DriveTarget& target) {
  std::string where;
  switch (target.kind) {
    case TransportKind::ataPassThrough:
      where = "ATA-PT";
      break;
    case TransportKind::scsiPassThrough:
      where = std::string("SAT-") + SatFormName(TargetSatForm(target));
      break;
    case TransportKind::pio:
      where = Format("PIO %04X.%d", static_cast<unsigned>(target.basePort), target.slave ? 1 : 0);
      break;
    case TransportKind::nvme:
      where = "NVMe";
      break;
  }
  where.resize(12, ' ');
  return where;
}

const char* EndText(CommandEnd end) {
  switch (end) {
    case CommandEnd::unset:
      return "no outcome";
    case CommandEnd::completed:
      return "completed";
    case CommandEnd::deviceError:
      return "error";
    case CommandEnd::deviceFault:
      return "device fault";
    case CommandEnd::shortTransfer:
      return "short transfer";
    case CommandEnd::systemRefused:
      return "refused by the system";
    case CommandEnd::notSent:
      return "not sent";
    case CommandEnd::noDevice:
      return "no drive answers";
    case CommandEnd::timedOut:
      return "time limit expired";
    case CommandEnd::stopped:
      break;
  }
  return "stopped by Break";
}

}  // namespace

std::string TraceOutLine(const DriveTarget& target, const AtaCommand& c) {
  const AtaTaskFile& r = c.regs;
  // Over PIO the channel gets the device byte with device 1's bit set: show that one.
  const std::uint8_t device =
      target.kind == TransportKind::pio ? PioDeviceByte(target, r.device) : r.device;
  std::string line = "-> " + Where(target) +
                     Format("%02X feat %02X count %02X lba %02X%02X%02X dev %02X", r.command,
                            r.features, r.count, r.lbaHigh, r.lbaMid, r.lbaLow, device);
  if (r.featuresPrev | r.countPrev | r.lbaLowPrev | r.lbaMidPrev | r.lbaHighPrev) {
    line += Format(" prev feat %02X count %02X lba %02X%02X%02X", r.featuresPrev, r.countPrev,
                   r.lbaHighPrev, r.lbaMidPrev, r.lbaLowPrev);
  }
  switch (c.direction) {
    case DataDirection::in:
      line += Format(", in %u bytes", static_cast<unsigned>(c.length));
      break;
    case DataDirection::out:
      line += Format(", out %u bytes", static_cast<unsigned>(c.length));
      break;
    case DataDirection::none:
      line += ", no data";
      break;
  }
  // Over PIO the limit is the waits', not a request's.
  if (target.kind != TransportKind::pio) {
    line += Format(", limit %u s", static_cast<unsigned>(c.timeLimit));
  }
  if (RegistersAsked(target, c)) line += ", ck_cond";
  return line;
}

std::string TraceBackLine(const DriveTarget& target, const CommandReturn& back,
                          const std::string& systemText) {
  std::string line = "<- " + Where(target);
  const CommandResult& r = back.result;
  if (r.end == CommandEnd::systemRefused || r.end == CommandEnd::timedOut) {
    line += Format("system error %u", static_cast<unsigned>(r.systemError));
    if (!systemText.empty()) line += " (" + systemText + ")";
  } else if (target.kind == TransportKind::scsiPassThrough) {
    // SAT hands back no registers here: what the bridge says is in the sense.
    line += r.sense ? Format("sense key %X asc %02X ascq %02X", r.sense->key, r.sense->asc,
                             r.sense->ascq)
                    : std::string("good");
  } else {
    line += Format("status %02X error %02X", back.status, back.error);
  }
  const double ms = static_cast<double>(back.elapsed.count()) / 1e6;
  return line + ": " + EndText(r.end) +
         Format(", %u bytes in %.3f ms", static_cast<unsigned>(back.bytesMoved), ms);
}

std::string TraceNvmeOutLine(const NvmeAdminRequest& r) {
  std::string line = "-> NVMe        " + Format("%02X nsid %08X cdw10-15", r.opcode,
                                                  static_cast<unsigned>(r.nsid));
  for (const std::uint32_t d : r.cdw) line += Format(" %08X", static_cast<unsigned>(d));
  switch (r.direction) {
    case DataDirection::in:
      line += Format(", in %u bytes", static_cast<unsigned>(r.data.size()));
      break;
    case DataDirection::out:
      line += Format(", out %u bytes", static_cast<unsigned>(r.data.size()));
      break;
    case DataDirection::none:
      line += ", no data";
      break;
  }
  return line + Format(", limit %u s", static_cast<unsigned>(r.timeLimit));
}

std::string TraceNvmeBackLine(const NvmeAdminAnswer& a, std::chrono::nanoseconds elapsed,
                              const std::string& systemText) {
  std::string line = "<- NVMe        ";
  if (!a.delivered) {
    line += Format("system error %u", static_cast<unsigned>(a.systemError));
    if (!systemText.empty()) line += " (" + systemText + ")";
  } else {
    line += "status " + (a.status.ok() ? std::string("success") : NvmeStatusWords(a.status)) +
            Format(", result %08X", static_cast<unsigned>(a.result));
  }
  const double ms = static_cast<double>(elapsed.count()) / 1e6;
  return line + Format(", %u bytes in %.3f ms", static_cast<unsigned>(a.bytesMoved), ms);
}

void CommandTrace::NvmeCommandStarting(const DriveTarget&, const NvmeAdminRequest& request) {
  Write(TraceNvmeOutLine(request));
}

void CommandTrace::NvmeCommandEnded(const DriveTarget&, const NvmeAdminRequest&,
                                    const NvmeAdminAnswer& answer,
                                    std::chrono::nanoseconds elapsed) {
  const std::string systemText =
      answer.delivered ? "" : TrimSystemMessage(io_.SystemMessageText(answer.systemError));
  Write(TraceNvmeBackLine(answer, elapsed, systemText));
}

std::string TraceFirmwareOutLine(const FirmwareCall& call) {
  std::string line = "-> FW-IF       ";
  switch (call.kind) {
    case FirmwareCall::Kind::getInfo:
      return line + "GET_INFO";
    case FirmwareCall::Kind::activate:
      return line + Format("ACTIVATE slot %u", static_cast<unsigned>(call.slot));
    case FirmwareCall::Kind::download:
      break;
  }
  line += Format("DOWNLOAD slot %u offset %llu, %u bytes", static_cast<unsigned>(call.slot),
                 static_cast<unsigned long long>(call.offset), static_cast<unsigned>(call.bytes));
  if (call.first) line += ", first";
  if (call.last) line += ", last";
  return line;
}

std::string TraceFirmwareBackLine(const FirmwareCallReturn& back, const std::string& systemText) {
  std::string line = "<- FW-IF       ";
  if (back.systemError == 0) {
    line += "done";
  } else {
    line += Format("system error %u", static_cast<unsigned>(back.systemError));
    if (!systemText.empty()) line += " (" + systemText + ")";
  }
  return line + Format(" in %.3f ms", static_cast<double>(back.elapsed.count()) / 1e6);
}

void CommandTrace::FirmwareCallStarting(const DriveTarget&, const FirmwareCall& call) {
  Write(TraceFirmwareOutLine(call));
}

void CommandTrace::FirmwareCallEnded(const DriveTarget&, const FirmwareCall&,
                                     const FirmwareCallReturn& back) {
  const std::string systemText =
      back.systemError ? TrimSystemMessage(io_.SystemMessageText(back.systemError)) : "";
  Write(TraceFirmwareBackLine(back, systemText));
}

void CommandTrace::Write(const std::string& line) {
  if (writeError_) return;
  errno = 0;
  out_ << line << '\n' << std::flush;
  if (!out_) writeError_ = errno ? errno : EIO;
}

void CommandTrace::CommandStarting(const DriveTarget& target, const AtaCommand& command) {
  Write(TraceOutLine(target, command));
}

void CommandTrace::CommandEnded(const DriveTarget& target, const AtaCommand&,
                                const CommandReturn& back) {
  std::string systemText;
  if (back.result.end == CommandEnd::systemRefused || back.result.end == CommandEnd::timedOut) {
    systemText = TrimSystemMessage(io_.SystemMessageText(back.result.systemError));
  }
  Write(TraceBackLine(target, back, systemText));
}

}  // namespace brisquel::cli
