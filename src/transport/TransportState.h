// The records the command layers own, and the context a command runs in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hw/uWinRing0.h"
#include "transport/AtaTypes.h"
#include "transport/DeviceIo.h"
#include "transport/SatCdb.h"
#include "transport/UiHost.h"
#include "transport/ZeroedBuffer.h"

namespace brisquel {

class DeviceCallWorker;

// What the program learnt of one USB bridge.
struct KnownSatBridge {
  SatForm form = SatForm::a1Ten;
  SatFormFound found = SatFormFound::assumed;
  std::string line;  // what the log said of it, if anything
  std::optional<bool> ckCondHonoured;
  std::optional<bool> takesTransferLength;
};

struct TransportState {
  ::brisquel::DriveTarget DriveTarget;
  ::brisquel::AtaStatusBits AtaStatusBits;
  ZeroedBuffer TransferBuffer{kTransferBufferSize};
  std::vector<std::uint8_t> SectorBuffer = std::vector<std::uint8_t>(kSectorBufferSize);
  bool BreakFlag = false;
  // The USB drives met while the program runs, by device path, and the path
  // of the one selected.
  std::map<std::string, KnownSatBridge> SatBridges;
  std::string SatTargetPath;
  // What the selected disk's driver said of Windows' firmware interface.
  FirmwareInterfaceInfo FirmwareInterface;
  std::string SatFormLine;
  // The one thread that waits for the system's blocking requests: started at
  // the first, handed every one after (transport/DeviceCall.h).
  std::shared_ptr<DeviceCallWorker> CallWorker;
};

class CommandObserver;
class WaitClock;

// Everything a transport touches: the records and the three platform
// interfaces, who watches the commands, if anyone, and the clock a wait for
// the system's answer runs on (none: the steady clock).
struct TransportContext {
  TransportState& state;
  PortLibrary& ports;
  DeviceIo& io;
  UiHost& host;
  CommandObserver* observer = nullptr;
  WaitClock* clock = nullptr;
};

}  // namespace brisquel
