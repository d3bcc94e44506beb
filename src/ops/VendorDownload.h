// The vendor microcode download: the firmware goes to the drive through the
// vendor command channel, with SMART WRITE LOG to log 0xBF, in as many sectors
// as the drive asks for.
#pragma once

#include <cstdint>
#include <span>

#include "ops/OperationContext.h"

namespace brisquel {

// The most sectors one vendor data command carries.
inline constexpr std::uint32_t kVendorChunkSectors = 64;

// The WD DPTM button.
void btReplaceClick(OperationContext& ctx);

// Dialog, file, preamble, download and the closing line with the drive's status.
void RunVendorDownload(OperationContext& ctx);

// Announces the image's whole sectors, then sends the number of sectors the
// drive asks for, in chunks of at most 64. A trailing partial sector goes out
// padded with zeros; sectors wholly past the end of the file are never sent:
// the loop stops there with a log line. True when the final primaryCode is 0,
// Break was not pressed and every requested sector came from the file.
bool SendVendorDownload(TransportContext& t, std::span<const std::uint8_t> image);

// One vendor data command of n sectors (1 to 64) from the start of TransferBuffer.
void WriteVendorData(TransportContext& t, std::uint8_t n);

}  // namespace brisquel
