#include "ops/SystemFirmwareInterface.h"

#include <algorithm>

#include "transport/FirmwareCalls.h"
#include "transport/uAtaPass.h"

namespace brisquel {
namespace {

constexpr const char* kDownloadCall = "IOCTL_STORAGE_FIRMWARE_DOWNLOAD";

std::uint32_t BlocksOf(std::size_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorSize - 1) / kSectorSize);
}

CommandResult Refused(std::uint32_t error) {
  CommandResult result{CommandEnd::completed};
  if (error != 0) {
    result.end = CommandEnd::systemRefused;
    result.systemError = error;
  }
  return result;
}

}  // namespace

std::optional<std::string> FirmwareInterfaceRefusal(const FirmwareInterfaceInfo& info,
                                                    TransportKind kind, DeviceIo& io) {
  if (kind != TransportKind::ataPassThrough) {
    return "it serves drives reached through ATA pass-through only";
  }
  if (!info.onThisSystem) return "this system has no such interface";
  switch (info.systemError) {
    case win32::ERROR_SUCCESS_:
      break;
    case win32::ERROR_INVALID_FUNCTION_:
      return "the disk's driver does not offer it";
    case win32::ERROR_NOT_SUPPORTED_:
      return "the disk's driver says the drive cannot take firmware through it";
    default:
      return "the disk's driver did not answer for it: " +
             TrimSystemMessage(io.SystemMessageText(info.systemError));
  }
  if (!info.supportUpgrade) return "the disk's driver says the drive cannot take firmware through it";
  if (!info.WritableSlot()) return "every firmware slot the driver lists is read-only";
  return std::nullopt;
}

std::string FirmwareInterfaceSummary(const FirmwareInterfaceInfo& info, TransportKind kind,
                                     DeviceIo& io) {
  if (auto refusal = FirmwareInterfaceRefusal(info, kind, io)) return "not offered: " + *refusal;
  const std::size_t count = info.firmwareSlots.size();
  return "supported, " + std::to_string(count) + (count == 1 ? " slot" : " slots") +
         ", alignment " + std::to_string(info.alignment) + ", largest piece " +
         std::to_string(info.maxPiece) + " bytes";
}

std::optional<std::uint32_t> FirmwarePieceBytes(std::size_t imageBytes,
                                                const FirmwareInterfaceInfo& info,
                                                std::uint32_t segmentBytes) {
  const std::uint32_t alignment = std::max<std::uint32_t>(info.alignment, 1);
  if (imageBytes % alignment != 0) return std::nullopt;
  const std::uint32_t largest = info.maxPiece == 0 ? segmentBytes : std::min(info.maxPiece, segmentBytes);
  const std::uint32_t piece = largest / alignment * alignment;
  if (piece == 0) return std::nullopt;
  return piece;
}

DownloadOutcome SendThroughFirmwareInterface(OperationContext& ctx, const std::string& file,
                                             std::span<const std::uint8_t> image,
                                             std::uint32_t pieceBytes) {
  TransportContext& t = ctx.transport;
  ctx.host.LogLine(kThroughFirmwareInterfaceLine);
  DownloadOutcome outcome;
  if (!BeginDownload(ctx.host, outcome, kDlmcDeferred, file, image.size())) return outcome;
  const std::uint8_t slot = t.state.FirmwareInterface.WritableSlot().value_or(0);
  CommandResult last{CommandEnd::completed};
  for (std::size_t offset = 0; offset < image.size();) {
    if (t.state.BreakFlag) {
      last.end = CommandEnd::stopped;
      break;
    }
    const std::size_t n = std::min<std::size_t>(pieceBytes, image.size() - offset);
    FirmwarePieceRequest piece{slot, offset, image.subspan(offset, n), offset == 0,
                               offset + n == image.size()};
    std::uint32_t error = SendFirmwarePiece(t, piece);
    // Drivers written before FIRST_SEGMENT existed turn it down as a bad parameter.
    if (error == win32::ERROR_INVALID_PARAMETER_ && piece.first) {
      piece.first = false;
      error = SendFirmwarePiece(t, piece);
    }
    last = Refused(error);
    if (!last) break;
    offset += n;
    outcome.sent = BlocksOf(offset);
    ctx.host.FirmwareProgress(outcome.sent, outcome.toSend);
  }
  outcome.result = ResultOf(last);
  outcome.what = WhatEnded(last, kDownloadCall, t);
  ctx.host.LogLine(ClosingLine(outcome));
  return outcome;
}

CommandResult ActivateThroughFirmwareInterface(TransportContext& t) {
  t.host.LogLine(kThroughFirmwareInterfaceLine);
  const std::uint8_t slot = t.state.FirmwareInterface.WritableSlot().value_or(0);
  return Refused(ActivateFirmware(t, slot));
}

}  // namespace brisquel
