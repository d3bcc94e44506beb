// The commands the operations send, each built by name: the registers, the
// data buffer and direction, and how the PIO transport moves its data. An
// operation says "identify" or "DOWNLOAD MICROCODE segment at this offset",
// not which of the PIO switches to set. Each also sets its time limit: the
// firmware writes (DOWNLOAD MICROCODE in every mode, its activation, the
// vendor key sector and data) kFirmwareWriteTimeLimit, the rest kCommandTimeLimit.
#pragma once

#include <cstdint>
#include <span>

#include "transport/Dispatch.h"

namespace brisquel {

// IDENTIFY DEVICE into one sector. Over PIO the data is read only when the
// drive offers it (DRQ); a command that fails leaves the sector zeroed.
AtaCommand IdentifyCommand(std::span<std::uint8_t> sector);

// DOWNLOAD MICROCODE of `blocks` blocks from the start of `buffer`, at block
// `offset` (0 for whole-image modes). The block count spans the count and LBA
// low registers, the offset LBA mid and high.
AtaCommand DownloadMicrocodeCommand(std::uint8_t mode, std::uint32_t blocks, std::uint32_t offset,
                                    std::span<std::uint8_t> buffer);
// DOWNLOAD MICROCODE mode 0F: switch to the deferred microcode, no data.
AtaCommand ActivateMicrocodeCommand();
// CHECK POWER MODE, whose answer is in the count register: changes nothing on
// the drive, so it shows harmlessly whether a bridge hands registers back.
AtaCommand CheckPowerModeCommand();

// The vendor channel. Its commands go in 48-bit form over PIO with zero
// previous bytes.
// The vendor command with the enable signature.
AtaCommand VendorEnableCommand();
// SMART READ LOG 0xBB without data: the other way in, for drives that reject the first.
AtaCommand VendorEnableByLogCommand();
// One key sector to log 0xBE. The drive takes it whatever its status said.
AtaCommand WriteKeySectorCommand(std::span<std::uint8_t> sector);
// The status sector from log 0xBE; the drive is waited for before the command.
AtaCommand ReadVendorStatusCommand(std::span<std::uint8_t> sector);
// `sectors` (1 to 64) sectors of firmware from the start of `buffer` to log 0xBF.
AtaCommand WriteVendorDataCommand(std::uint8_t sectors, std::span<std::uint8_t> buffer);

}  // namespace brisquel
