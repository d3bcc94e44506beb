#include "transport/RequestRules.h"

#include <cstdio>
#include <string>

namespace brisquel {

bool DataFits(TransportContext& t, std::uint8_t command, std::size_t needed,
              std::size_t available) {
  if (needed <= available) return true;
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", command);
  t.host.LogLine("Command " + std::string(hex) + " not sent: its " + std::to_string(needed) +
                 " bytes of data do not fit in a buffer of " + std::to_string(available) +
                 " bytes");
  return false;
}

}  // namespace brisquel
