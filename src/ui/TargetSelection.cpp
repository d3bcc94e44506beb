#include "ui/TargetSelection.h"

#include <cstdio>
#include <string>

#include "discovery/uSetupApiEnum.h"
#include "transport/OpenDrive.h"
#include "transport/uATA.h"

namespace brisquel {

Selected SelectDriveTarget(TransportState& state, DeviceIo& io, UiHost& host,
                           const TST_PhysicalDrive& drive) {
  host.LogLine("Bus Type:" + BusTypeName(drive.BusType));
  DriveTarget& target = state.DriveTarget;
  target.kind =
      drive.BusType == kBusTypeUsb ? TransportKind::scsiPassThrough : TransportKind::ataPassThrough;
  OsHandle& handle =
      target.kind == TransportKind::ataPassThrough ? target.ataPassHandle : target.scsiHandle;
  io.CloseHandle(handle);
  handle = OpenDrive(io, drive.DevicePath);
  return handle == kInvalidHandle ? Selected::openFailed : Selected::ready;
}

Selected SelectChannelTarget(TransportState& state, PortLibrary& ports, UiHost& host,
                             std::uint32_t basePort, bool device1) {
  if (basePort < kLowestTaskFilePort || basePort > 0xFFFF - pioport::kCommand) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "Selection refused: the channel's task-file port %04X is no IDE channel",
                  static_cast<unsigned>(basePort & 0xFFFF));
    host.LogLine(text);
    return Selected::refused;
  }
  DriveTarget& target = state.DriveTarget;
  target.kind = TransportKind::pio;
  target.basePort = static_cast<std::uint16_t>(basePort);
  target.slave = device1;
  SetDeviceSelect(ports, target.basePort, device1);
  return Selected::ready;
}

}  // namespace brisquel
