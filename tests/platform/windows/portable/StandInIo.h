// The bench's device I/O with the firmware interface (and NVMe commands)
// going to a stand-in driver over the same record calls as the Windows
// backend, and the system's messages in words the tests can match.
#pragma once

#include <string>

#include "platform/windows/portable/NvmeDriverStandIn.h"

namespace brisquel::winpt::test {

template <typename Driver>
class StandInIo : public ThroughDriverIo<Driver> {
 public:
  using ThroughDriverIo<Driver>::ThroughDriverIo;
  std::string SystemMessageText(std::uint32_t code) override {
    return code == win32::ERROR_IO_DEVICE_ ? "I/O device error.\r\n" : "error text.\r\n";
  }
};

}  // namespace brisquel::winpt::test
