// The standard microcode download: ATA DOWNLOAD MICROCODE (0x92) in the mode
// picked in the DLMC combo box, after the vendor preamble.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ops/DownloadOutcome.h"
#include "ops/OperationContext.h"
#include "transport/AtaProtocol.h"
#include "transport/AtaTypes.h"

namespace brisquel {

// An image is sent from TransferBuffer in whole 512-byte blocks, so it may
// hold at most 32,768 blocks (the buffer's two spare bytes make no block).
inline constexpr std::uint32_t kDlmcMaxBlocks = kTransferBufferSize / kSectorSize;
inline constexpr std::uintmax_t kDlmcMaxImageBytes = std::uintmax_t{kDlmcMaxBlocks} * kSectorSize;
// Block counts and segment offsets go out in two register bytes; within the
// buffer they always fit.
static_assert(kDlmcMaxBlocks <= 0xFFFF, "block counts must fit the count and LBA low bytes");
// SAT's 12-byte ATA PASS-THROUGH sizes the transfer from the 8-bit count
// register alone.
inline constexpr std::uint32_t kScsiMaxBlocksPerCommand = 0xFF;

// "Start", the download and its closing line (with the drive's status codes
// after a failure) for modes 01, 03, 07 and 0E.
DownloadOutcome SendStandardDownload(OperationContext& ctx, std::uint8_t mode,
                                     const std::string& file, std::span<const std::uint8_t> image);

// Why an image of this size is not sent by any download, standard or vendor,
// in any view: more than TransferBuffer's whole blocks. None when it fits.
std::optional<std::string> ImageSizeRefusal(std::uintmax_t imageBytes);

// Why an image cannot be sent in this mode to this target, or none. A whole
// image (01, 07) goes in one command, so it must fit the largest transfer the
// system takes to the disk (queueBytes, 0 when unknown; PIO has none), and
// over SCSI pass-through above 255 blocks goes only where the bridge was found
// to take a length from the transfer.
std::optional<std::string> DownloadRefusal(const DriveTarget& target, std::uint8_t mode,
                                           std::uintmax_t imageBytes, std::uint32_t queueBytes);

// Sends the image: in the context's segments for modes 03 and 0E, else whole,
// stopping at the first command that does not complete, and reports the
// blocks sent to the host after each command. A count register that says the
// image is complete before its last segment, or that more is expected after
// it, fails the download. Fills in the
// outcome's result, what, sent and toSend. An image that DownloadRefusal
// refuses, or an empty one, is not sent at all.
DownloadOutcome DownloadMicrocodeData(OperationContext& ctx, std::uint8_t mode,
                                      std::span<const std::uint8_t> image);

// Mode 0F without data.
CommandResult ActivateDeferredMicrocode(TransportContext& t);

}  // namespace brisquel
