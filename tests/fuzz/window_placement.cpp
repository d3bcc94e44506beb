// The window-placement file: read whatever the file holds, write the placement
// back into it, and read it again. What was written must read back unchanged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/WindowPlacement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const brisquel::ScreenSize screen{1024, 768};
  (void)brisquel::ReadPlacement(text, screen);
  (void)brisquel::ParsePlacementRect(text);

  brisquel::WindowPlacementValues values;
  values.normPos = {10, 20, 635, 420};
  values.showCmd = brisquel::kShowMaximized;
  const auto rewritten = brisquel::WritePlacement(text, values, screen);
  if (!rewritten) return 0;  // too large: left alone
  const auto back = brisquel::ReadPlacement(*rewritten, screen);
  if (!back || back->normPos != values.normPos || back->showCmd != values.showCmd) {
    __builtin_trap();
  }
  return 0;
}
