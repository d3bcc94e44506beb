// The window's placement file on Windows: section TfmMain of brisquel.INI,
// read and written through the profile functions, as INI text for the shared
// reader and writer (ui/WindowPlacement.h).
#pragma once

#include <optional>
#include <string>

#include "ui/WindowPlacement.h"

namespace brisquel::win {

// None when there is no file name, or the section holds no usable placement.
std::optional<WindowPlacementValues> ReadPlacementFile(const std::string& file,
                                                       ScreenSize screen);
// Each key of the section; nothing when there is no file name.
void WritePlacementFile(const std::string& file, const WindowPlacementValues& values,
                        ScreenSize screen);

}  // namespace brisquel::win
