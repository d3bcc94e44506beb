// The DOWNLOAD MICROCODE modes the program offers, in the order the windows'
// mode box lists them: the code, the box's text, and what a download in that
// mode does to the drive, as the command line asks before a lasting one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "transport/AtaProtocol.h"

namespace brisquel {

struct DlmcMode {
  std::uint8_t code;
  std::string_view boxText;
  // Empty for the one mode whose firmware is gone after a power cycle.
  std::string_view lastingEffect;
  // The drive runs new firmware as soon as the command completes.
  bool switchesAtOnce;
};

inline constexpr std::array<DlmcMode, 5> kDlmcModeTable = {{
    {kDlmcTemporary, "Temporary (01)", "", true},
    {kDlmcSegmented, "Segmented (03)",
     "save new firmware in segments for immediate and future use (DOWNLOAD MICROCODE 03)", true},
    {kDlmcPermanent, "Permanent (07)",
     "save new firmware for immediate and future use (DOWNLOAD MICROCODE 07)", true},
    // 0E keeps the image for a later 0F, which switches to it.
    {kDlmcDeferred, "Deferred (0E)",
     "store new firmware for a later activation (DOWNLOAD MICROCODE 0E)", false},
    {kDlmcActivate, "Activate Deferred (0F)",
     "switch the drive to its deferred firmware (DOWNLOAD MICROCODE 0F)", true},
}};

// The mode box's selection at start: Permanent (07).
inline constexpr int kDlmcDefaultIndex = 2;

// The table's row for a code; null for a code it does not hold.
constexpr const DlmcMode* FindDlmcMode(std::uint8_t code) {
  for (const DlmcMode& mode : kDlmcModeTable) {
    if (mode.code == code) return &mode;
  }
  return nullptr;
}

// The mode a window's mode box picks: its current item's, unless the text it
// shows was typed over. A typed text picks no mode (the unlock alone), even
// one that names a mode, in every window.
constexpr std::optional<std::uint8_t> DlmcModeOfBox(int index, std::string_view text) {
  if (index < 0 || index >= static_cast<int>(kDlmcModeTable.size())) return std::nullopt;
  const DlmcMode& mode = kDlmcModeTable[static_cast<std::size_t>(index)];
  if (text != mode.boxText) return std::nullopt;
  return mode.code;
}

}  // namespace brisquel
