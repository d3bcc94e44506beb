// The records the command layers own, and the context a command runs in.
#pragma once

#include <cstdint>
#include <vector>

#include "hw/uWinRing0.h"
#include "transport/AtaTypes.h"
#include "transport/DeviceIo.h"
#include "transport/UiHost.h"
#include "transport/ZeroedBuffer.h"

namespace brisquel {

struct TransportState {
  ::brisquel::DriveTarget DriveTarget;
  ::brisquel::AtaStatusBits AtaStatusBits;
  ZeroedBuffer TransferBuffer{kTransferBufferSize};
  std::vector<std::uint8_t> SectorBuffer = std::vector<std::uint8_t>(kSectorBufferSize);
  bool BreakFlag = false;
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
