// Modes 0E and 0F through Windows' storage firmware interface instead of
// pass-through, where the disk's driver offers it: the storage stack then
// learns that the drive's firmware changed, and re-reads what it knows of the
// drive. The choice is made before anything is sent; once pieces have gone
// through the interface, a failure is never sent again over pass-through.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ops/DownloadOutcome.h"
#include "ops/OperationContext.h"
#include "transport/FirmwareInterface.h"

namespace brisquel {

// The command line's --via; the window always chooses by itself.
enum class FirmwareVia { automatic, passThrough, system };

// Why the interface cannot carry modes 0E and 0F to this target; none when it
// can. Empty info (a system without it) says so too.
std::optional<std::string> FirmwareInterfaceRefusal(const FirmwareInterfaceInfo& info,
                                                    TransportKind kind, DeviceIo& io);

// `info`'s line: "supported, 1 slot, alignment 512, largest piece 131072
// bytes" or "not offered: WHY".
std::string FirmwareInterfaceSummary(const FirmwareInterfaceInfo& info, TransportKind kind,
                                     DeviceIo& io);

// The bytes of each piece of an image sent through the interface: at most the
// driver's largest piece and `segmentBytes` (the drive's segment maximum, as
// planned), a multiple of the driver's alignment; none when the image is no
// multiple of the alignment or no piece size fits.
std::optional<std::uint32_t> FirmwarePieceBytes(std::size_t imageBytes,
                                                const FirmwareInterfaceInfo& info,
                                                std::uint32_t segmentBytes);

// The log line before the download's own lines.
inline constexpr const char* kThroughFirmwareInterfaceLine = "Through Windows' firmware interface";

inline constexpr const char* kFirmwareDownloadCall = "IOCTL_STORAGE_FIRMWARE_DOWNLOAD";

// A firmware call's error as a command's end: none (0) completes.
CommandResult FirmwareCallResult(std::uint32_t error);

// The image in pieces of `pieceBytes` to `slot`, each counted in `outcome` and
// shown as progress, until one fails or Break is pressed: the last call's end.
// The caller writes the download's first and closing lines.
CommandResult SendFirmwarePieces(OperationContext& ctx, DownloadOutcome& outcome, std::uint8_t slot,
                                 std::span<const std::uint8_t> image, std::uint32_t pieceBytes);

// Mode 0E in pieces to the first writable slot, with the download's usual
// lines and outcome.
DownloadOutcome SendThroughFirmwareInterface(OperationContext& ctx, const std::string& file,
                                             std::span<const std::uint8_t> image,
                                             std::uint32_t pieceBytes);

// Mode 0F: the slot the pieces went to. A refusal is named after the call.
CommandResult ActivateThroughFirmwareInterface(TransportContext& t);
inline constexpr const char* kFirmwareActivateCall = "IOCTL_STORAGE_FIRMWARE_ACTIVATE";

}  // namespace brisquel
