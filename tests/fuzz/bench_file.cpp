// The bench description reader over any text: a description or a message
// saying where and why it was refused, never both and never neither.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/BenchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const brisquel::sim::BenchParse parsed = brisquel::sim::ParseBenchText(text);
  if (parsed.bench.has_value() == !parsed.error.empty()) __builtin_trap();
  return 0;
}
