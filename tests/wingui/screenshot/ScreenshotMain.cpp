// A picture of the Win32 window on the default bench after Identify, for a
// person to look at: the window as the X server shows it, saved as a BMP. It
// fails unless the picture shows the window: at least the designed size, the
// selected line in the selection colour and the line above it not.
// Usage: wingui_screenshot.exe OUT.bmp
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

#include "app/win/WinMainWindow.h"
#include "platform/windows/WinSystemInfo.h"
#include "sim/Bench.h"
#include "ui/WindowDesign.h"

namespace {

using namespace brisquel;

// The share of a list line's pixels in the picture that have this colour.
double ShareOfColour(HWND list, int line, HWND window, const std::uint8_t* bits, int width,
                     int height, COLORREF colour) {
  RECT item{};
  SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(&item));
  MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&item), 2);
  RECT frame;
  GetWindowRect(window, &frame);
  OffsetRect(&item, -frame.left, -frame.top);
  const int rowBytes = (width * 3 + 3) & ~3;
  int same = 0, all = 0;
  for (int y = std::max<int>(item.top, 0); y < std::min<int>(item.bottom, height); ++y) {
    // Rows go bottom up; each pixel is blue, green, red.
    const std::uint8_t* row = bits + static_cast<std::ptrdiff_t>(height - 1 - y) * rowBytes;
    for (int x = std::max<int>(item.left, 0); x < std::min<int>(item.right, width); ++x, ++all) {
      const std::uint8_t* p = row + x * 3;
      same += RGB(p[2], p[1], p[0]) == colour;
    }
  }
  return all ? static_cast<double>(same) / all : 0;
}

bool SaveBitmap(HWND window, HWND list, int selected, const char* path) {
  RECT r;
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, picture);
  BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(dc, old);
  GdiFlush();
  const auto* pixels = static_cast<const std::uint8_t*>(bits);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  const double selectedShare =
      ShareOfColour(list, selected, window, pixels, width, height, highlight);
  const double otherShare =
      ShareOfColour(list, selected - 1, window, pixels, width, height, highlight);
  bool shows = true;
  if (width < design::kWidth || height < design::kHeight) {
    std::fprintf(stderr, "the picture is %dx%d, smaller than the window's %dx%d\n", width, height,
                 design::kWidth, design::kHeight);
    shows = false;
  }
  if (selectedShare < 0.5 || otherShare > 0.1) {
    std::fprintf(stderr,
                 "the selected line is %.0f %% in the selection colour, the line above it "
                 "%.0f %%: the picture does not show the selection\n",
                 selectedShare * 100, otherShare * 100);
    shows = false;
  }
  const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageBytes;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), imageBytes);
  DeleteObject(picture);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return out.good() && shows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wingui_screenshot OUT.bmp\n");
    return 2;
  }
  std::unique_ptr<sim::Bench> bench = sim::Bench::Default();
  ProgramState state;
  // As brisquel.exe shows the bench: its caption says so.
  BenchSystemInfo system(std::make_unique<winpt::WinSystemInfo>());
  win::WinMainWindow window(
      MainPlatform{state, bench->Ports(), bench->Io(), bench->Disks(), system, ".", bench->Users(), bench->Clock()});
  window.Show(SW_SHOWNORMAL);
  SendMessageW(window.lbControllers, LB_SETCURSEL, 1, 0);
  SendMessageW(window.fmMain, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(window.lbControllers));
  SendMessageW(window.btIdentify, BM_CLICK, 0, 0);
  // Let the window draw itself on the X server before it is read back.
  for (int i = 0; i < 20; ++i) {
    window.PumpMessages();
    Sleep(50);
  }
  return SaveBitmap(window.fmMain, window.lbControllers, 1, argv[1]) ? 0 : 1;
}
