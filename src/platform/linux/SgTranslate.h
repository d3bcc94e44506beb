// The pure half of carrying ATA pass-through requests out with Linux SG_IO:
// the ATA PASS-THROUGH(16) command block built from a request, and the
// registers read back from the sense data in both the descriptor and the fixed
// format. No device needed.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "transport/PassThroughRequest.h"

namespace brisquel::linuxpt {

enum class SgDirection { none, fromDevice, toDevice };

SgDirection SgDirectionOf(DataDirection direction);

using Cdb16 = std::array<std::uint8_t, 16>;
Cdb16 BuildAtaPassThrough16(const AtaRequest& request);

// The answer to a request that reached the device: the drive's registers when
// the sense data carries them; otherwise the request's own, with a status and
// error that say how the command ended.
AtaAnswer CompleteAtaRequest(const AtaRequest& request, std::uint8_t scsiStatus,
                             std::span<const std::uint8_t> sense);

}  // namespace brisquel::linuxpt
