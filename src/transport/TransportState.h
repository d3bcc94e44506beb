// The records the command layers own, and the context a command runs in.
#pragma once

#include <cstdint>
#include <vector>

#include "hw/uWinRing0.h"
#include "transport/AtaTypes.h"
#include "transport/DeviceIo.h"
#include "transport/UiHost.h"

namespace brisquel {

struct TransportState {
  ::brisquel::DriveTarget DriveTarget;
  ::brisquel::AtaStatusBits AtaStatusBits;
  std::vector<std::uint8_t> TransferBuffer = std::vector<std::uint8_t>(kTransferBufferSize);
  std::vector<std::uint8_t> SectorBuffer = std::vector<std::uint8_t>(kSectorBufferSize);
  bool BreakFlag = false;
};

class CommandObserver;

// Everything a transport touches: the records and the three platform
// interfaces, and who watches the commands, if anyone.
struct TransportContext {
  TransportState& state;
  PortLibrary& ports;
  DeviceIo& io;
  UiHost& host;
  CommandObserver* observer = nullptr;
};

}  // namespace brisquel
