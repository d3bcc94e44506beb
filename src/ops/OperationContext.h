// What an operation button's work runs in: the transport context for its
// commands, and the window's dialog and buttons. Both hosts are one object.
#pragma once

#include <cstdint>
#include <optional>

#include "ops/OperationHost.h"
#include "ops/SegmentPlan.h"
#include "transport/TransportState.h"

namespace brisquel {

struct OperationContext {
  OperationContext(TransportState& state, PortLibrary& ports, DeviceIo& io, OperationHost& host,
                   CommandObserver* observer = nullptr)
      : transport{state, ports, io, host, observer}, host(host) {}

  TransportContext transport;
  OperationHost& host;
  // How DOWNLOAD MICROCODE modes 03 and 0E cut the image.
  SegmentPlan segments;
  // The largest transfer in bytes the system takes in one command to the
  // disk (its queue's, its adapter's); 0 when unknown, and over PIO.
  std::uint32_t queueBytes = 0;
};

// Disables the three operation buttons for its lifetime and enables them again
// on every way out, an escaping exception included.
class OperationButtonsDisabled {
 public:
  explicit OperationButtonsDisabled(OperationHost& host) : host_(host) {
    host_.SetOperationButtonsEnabled(false);
  }
  ~OperationButtonsDisabled() { host_.SetOperationButtonsEnabled(true); }
  OperationButtonsDisabled(const OperationButtonsDisabled&) = delete;
  OperationButtonsDisabled& operator=(const OperationButtonsDisabled&) = delete;

 private:
  OperationHost& host_;
};

}  // namespace brisquel
