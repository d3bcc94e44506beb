// Choosing the drive the operations work on: a drive of the drive table (ATA
// or SCSI pass-through, by its bus type) or a PIO channel. The window's list
// and the command line select through the same functions, so the "Bus Type:"
// line, the handle kept or reopened and the device-register write are the
// same whoever asks.
#pragma once

#include <cstdint>
#include <optional>

#include "discovery/DiscoveryState.h"
#include "hw/uWinRing0.h"
#include "transport/DeviceIo.h"
#include "transport/SatCdb.h"
#include "transport/TransportState.h"
#include "transport/UiHost.h"

namespace brisquel {

enum class Selected {
  ready,       // the target is set and can be worked on
  openFailed,  // a drive whose handle did not open; the target is set all the same
  refused,     // nothing was changed
};

// Task-file base ports below this lie among the motherboard's DMA and
// interrupt controllers: a "device register" write there would reach them.
inline constexpr std::uint16_t kLowestTaskFilePort = 0x100;

// What selecting an NVMe drive in a USB enclosure says after its bus type.
inline constexpr const char* kNvmeBehindUsbLine =
    "An NVMe drive behind a USB bridge: the bridge passes neither NVMe nor ATA commands to it, "
    "so it can be neither identified nor updated here; fit it in an M.2 (PCIe) slot";

// Logs "Bus Type:<name>", picks ATA pass-through, SCSI pass-through for a USB
// drive or NVMe for an NVMe drive, closes the previous handle of that kind and
// opens the drive. A USB drive gets the command block form its bridge
// answers: `forced`, the one found before for this drive, or the one
// FindSatForm finds now. An NVMe drive in a USB enclosure is refused with a
// line that says why, and nothing is sent to it.
Selected SelectDriveTarget(TransportContext& t, const TST_PhysicalDrive& drive,
                           std::optional<SatForm> forced = std::nullopt);

// Picks PIO on the channel at basePort and addresses device 0 or 1 in its
// device register. A base port below kLowestTaskFilePort is refused with a
// log line, and nothing is written.
Selected SelectChannelTarget(TransportState& state, PortLibrary& ports, UiHost& host,
                             std::uint32_t basePort, bool device1);

}  // namespace brisquel
