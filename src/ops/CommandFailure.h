// How a command that did not complete ended, in the words of whoever ended
// it: the drive (its registers), a USB bridge (its sense data) or the system
// (its own message text).
#pragma once

#include <string>

#include "transport/TransportState.h"

namespace brisquel {

// "the drive aborted it (status 51h, error 04h)", "the USB bridge refused it
// (sense key 5, ASC 20h: invalid command operation code)", "no drive
// answers", "the system refused it: TEXT", ... Empty for a command that
// completed. Read right after the command: the registers are the state's.
std::string FailureWords(const CommandResult& command, TransportContext& t);

// "the drive reported a device fault (status 71h)", "the system moved 512 of
// 1024 bytes": the words of those two endings, wherever they are said.
std::string DeviceFaultWords(const CommandResult& command);
std::string ShortTransferWords(const CommandResult& command);

// What a SCSI additional sense code means, for the few a bridge answers a
// pass-through with; empty for the others.
std::string AscName(std::uint8_t asc, std::uint8_t ascq);

}  // namespace brisquel
