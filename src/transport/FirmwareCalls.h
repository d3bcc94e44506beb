// The firmware interface's calls on the selected drive, made where the device
// I/O wants them (a worker thread for the system's, which may block while the
// drive writes flash) and shown to the command observer.
#pragma once

#include <cstdint>

#include "transport/FirmwareInterface.h"
#include "transport/TransportState.h"

namespace brisquel {

// GET_INFO on this handle, as a selection asks.
FirmwareInterfaceInfo QueryFirmwareInterface(TransportContext& t, OsHandle handle);
// DOWNLOAD and ACTIVATE on the target's ATA pass-through handle: the system's
// error, 0 when done.
std::uint32_t SendFirmwarePiece(TransportContext& t, const FirmwarePieceRequest& piece);
std::uint32_t ActivateFirmware(TransportContext& t, std::uint8_t slot, bool switchToExisting = false);

}  // namespace brisquel
