// The main window's design, in pixels at 96 dots per inch, for both windows:
// its own area is kWidth x kHeight at start and at least that, and the
// panel's controls stand at their places at that width.
#pragma once

namespace brisquel::design {

struct Place {
  int left;
  int top;
  int width;
  int height;
};

inline constexpr int kWidth = 625;
inline constexpr int kHeight = 400;
inline constexpr int kListHeight = 166;
inline constexpr int kListMinHeight = 100;
inline constexpr int kSplitterHeight = 3;
inline constexpr int kPanelHeight = 38;

// In the panel, from its top left corner.
inline constexpr Place kApi{9, 11, 48, 17};
inline constexpr Place kPio{57, 11, 51, 17};
inline constexpr Place kBreak{112, 6, 25, 25};
inline constexpr Place kIdentify{149, 6, 75, 25};
inline constexpr Place kDlmcType{232, 6, 194, 25};
inline constexpr Place kReplace{435, 6, 75, 25};
inline constexpr Place kUnlock{523, 6, 75, 25};

}  // namespace brisquel::design
