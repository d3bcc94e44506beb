// The bench description reader over any text: a description or a message
// saying where and why it was refused, never both and never neither. A
// description always builds into a bench; a refusal names a line of the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/Bench.h"
#include "sim/BenchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const brisquel::sim::BenchParse parsed = brisquel::sim::ParseBenchText(text);
  if (parsed.bench.has_value() == !parsed.error.empty()) __builtin_trap();
  if (parsed.bench) {
    brisquel::sim::Bench bench(*parsed.bench);
    return 0;
  }
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  if (parsed.line < 0 || static_cast<std::size_t>(parsed.line) > lines + 1) __builtin_trap();
  return 0;
}
