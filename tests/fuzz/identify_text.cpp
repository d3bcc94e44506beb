// The identity line from any 512-byte sector of IDENTIFY data: always the
// three fields and their two labels, nothing but characters a name may keep.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "ops/Identify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t sector[brisquel::kSectorSize] = {};
  std::memcpy(sector, data, size < sizeof sector ? size : sizeof sector);
  const std::string line = brisquel::IdentifyLine(std::span<const std::uint8_t, 512>(sector));

  // 40 + 8 + 20 characters of fields and the two labels at most.
  if (line.size() > 40 + 8 + 20 + 8) __builtin_trap();
  if (line.find(" FW:") == std::string::npos || line.find(" SN:") == std::string::npos) {
    __builtin_trap();
  }
  for (const char c : line) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7A) __builtin_trap();  // sanitised away
  }
  return 0;
}
