// Sense data as Linux's SAT layer returns it, for the tests of its readers.
#pragma once

#include <cstdint>
#include <vector>

namespace brisquel::testing {

using Bytes = std::vector<std::uint8_t>;

// libata's answer to a successful non-data command with CK_COND: RECOVERED
// ERROR, 00/1D, and the ATA Status Return descriptor.
inline const Bytes kDescriptorSense = {0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    0x0E,  // header
                                       0x09, 0x0C, 0x01, 0x04, 0xAA, 0x02, 0xBB, 0x10,
                                       0xCC, 0x4F, 0xDD, 0xC2, 0xA0, 0x50};
// Kernel 6.1, failed command, fixed format: error, status, device, count at 8-11.
inline const Bytes kFixedSense61 = {0x70, 0,    0x0B, 0,    0,    0, 0, 0x0A, 0x04,
                                    0x51, 0xA0, 0x01, 0x00, 0x00, 0, 0, 0,    0x00};
// SAT's own fixed format: error, status, device, count in the INFORMATION field.
inline const Bytes kFixedSenseSat = {0x70, 0,    0x0B, 0x04, 0x51, 0xE0, 0x03, 0x0A, 0x80,
                                     0x11, 0x22, 0x33, 0x00, 0x00, 0,    0,    0,    0};

}  // namespace brisquel::testing
