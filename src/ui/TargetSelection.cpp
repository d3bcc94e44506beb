#include "ui/TargetSelection.h"

#include <cstdio>
#include <string>

#include "discovery/uSetupApiEnum.h"
#include "transport/FirmwareCalls.h"
#include "transport/OpenDrive.h"
#include "transport/SatForms.h"
#include "transport/uATA.h"

namespace brisquel {

namespace {

Selected SelectedFrom(OsHandle handle) {
  return handle == kInvalidHandle ? Selected::openFailed : Selected::ready;
}

}  // namespace

Selected SelectDriveTarget(TransportContext& t, const TST_PhysicalDrive& drive,
                           std::optional<SatForm> forced) {
  t.host.LogLine("Bus Type:" + BusTypeName(drive.BusType));
  if (drive.NvmeBehindUsb) {
    t.host.LogLine(kNvmeBehindUsbLine);
    return Selected::refused;
  }
  TransportState& state = t.state;
  DriveTarget& target = state.DriveTarget;
  target.kind = drive.BusType == kBusTypeUsb    ? TransportKind::scsiPassThrough
                : drive.BusType == kBusTypeNvme ? TransportKind::nvme
                                                : TransportKind::ataPassThrough;
  // An NVMe drive's commands go on the handle ATA pass-through would use.
  OsHandle& handle =
      target.kind == TransportKind::scsiPassThrough ? target.scsiHandle : target.ataPassHandle;
  t.io.CloseHandle(handle);
  handle = OpenDrive(t.io, drive.DevicePath);
  state.FirmwareInterface = {};
  // Windows' firmware interface answers for an NVMe disk as for an ATA one.
  if (target.kind != TransportKind::scsiPassThrough) {
    if (handle != kInvalidHandle) state.FirmwareInterface = QueryFirmwareInterface(t, handle);
    return SelectedFrom(handle);
  }

  state.SatTargetPath = drive.DevicePath;
  SetSatForm(target, forced.value_or(kSatForms[0]));
  target.satFormFound = forced ? SatFormFound::forced : SatFormFound::assumed;
  target.ckCondHonoured.reset();
  target.takesTransferLength.reset();
  if (forced || handle == kInvalidHandle || RecallSatForm(t, drive.DevicePath)) {
    return SelectedFrom(handle);
  }
  FindSatForm(t, std::span(state.SectorBuffer).first(kSectorSize));
  RememberSatForm(state);
  return Selected::ready;
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
  state.FirmwareInterface = {};
  target.kind = TransportKind::pio;
  target.basePort = static_cast<std::uint16_t>(basePort);
  target.slave = device1;
  ports.RefreshPortClaims();
  SetDeviceSelect(ports, target.basePort, device1);
  return Selected::ready;
}

}  // namespace brisquel
