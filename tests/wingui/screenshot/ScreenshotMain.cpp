// A picture of the Win32 window on the default bench after Identify, for a
// person to look at: the window as the X server shows it, saved as a BMP.
// Usage: wingui_screenshot.exe OUT.bmp
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "app/win/WinMainWindow.h"
#include "platform/windows/WinSystemInfo.h"
#include "sim/Bench.h"

namespace {

using namespace brisquel;

bool SaveBitmap(HWND window, const char* path) {
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
  return out.good();
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
  return SaveBitmap(window.fmMain, argv[1]) ? 0 : 1;
}
