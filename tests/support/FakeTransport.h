// The records and the three recording fakes, wired into one TransportContext.
#pragma once

#include "support/FakeDeviceIo.h"
#include "support/FakeUiHost.h"
#include "support/RecordingPorts.h"
#include "transport/TransportState.h"

namespace brisquel::testing {

struct FakeTransport {
  TransportState state;
  RecordingPorts ports;
  FakeDeviceIo io;
  FakeUiHost host;
  TransportContext ctx{state, ports, io, host};
};

}  // namespace brisquel::testing
