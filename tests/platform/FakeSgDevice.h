// Stands in for the SG_IO ioctl behind LinuxDeviceIo: records each request
// and plays a device's part with a scripted answer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/linux/LinuxDeviceIo.h"

namespace brisquel::linuxpt::testing {

struct FakeSgDevice {
  int calls = 0;
  std::vector<std::uint8_t> cdb;
  SgDirection direction = SgDirection::none;
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::uint32_t timeoutMs = 0;
  std::size_t senseRoom = 0;
  SgResult answer;
  std::vector<std::uint8_t> sense;     // written back as the device's sense data
  std::vector<std::uint8_t> dataIn;    // written into the data area of a data-in request
  std::vector<std::uint8_t> dataSeen;  // what a data-out request carried

  SgRunner Runner() {
    return [this](int, const SgRequest& r) {
      ++calls;
      cdb.assign(r.cdb.begin(), r.cdb.end());
      direction = r.direction;
      data = r.data;
      length = r.length;
      timeoutMs = r.timeoutMs;
      senseRoom = r.sense.size();
      if (r.direction == SgDirection::toDevice) dataSeen.assign(r.data, r.data + r.length);
      if (r.direction == SgDirection::fromDevice) {
        std::copy_n(dataIn.begin(), std::min<std::size_t>(dataIn.size(), r.length), r.data);
      }
      SgResult result = answer;
      const std::size_t n = std::min(sense.size(), r.sense.size());
      std::copy_n(sense.begin(), n, r.sense.begin());
      result.senseLength = static_cast<std::uint8_t>(n);
      return result;
    };
  }
};

}  // namespace brisquel::linuxpt::testing
