// The vendor microcode download: the firmware goes to the drive through the
// vendor command channel, with SMART WRITE LOG to log 0xBF, in as many sectors
// as the drive asks for.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ops/DownloadOutcome.h"
#include "ops/OperationContext.h"

namespace brisquel {

// The most sectors one vendor data command carries.
inline constexpr std::uint32_t kVendorChunkSectors = 64;

// The vendor download of a file already read: the preamble, "Begin", the
// download and the closing line with the drive's status. An empty file sends
// nothing.
DownloadOutcome VendorDownloadFromFile(OperationContext& ctx, const std::string& file,
                                       std::span<const std::uint8_t> image);

// Announces the image's whole sectors, then sends the number of sectors the
// drive asks for, in chunks of at most 64, and of no more than the system
// takes in one transfer to the disk (the context's queueBytes). A trailing
// partial sector goes out padded with zeros; sectors wholly past the end of
// the file are never sent: the loop stops there with a log line. Reports the
// sectors sent to the host after each chunk. Stops at the first command the
// drive or the system refuses, and on Break. Completed when every requested sector
// came from the file and the final status names no error; the outcome carries
// the status codes whenever the drive gave them.
DownloadOutcome SendVendorDownload(OperationContext& ctx, std::span<const std::uint8_t> image);

// One vendor data command of n sectors (1 to 64) from the start of TransferBuffer.
CommandResult WriteVendorData(TransportContext& t, std::uint8_t n);

}  // namespace brisquel
