#include "app/win/WinMainWindow.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <vector>

#include "ops/DlmcModes.h"
#include "platform/windows/RuntimeBinding.h"
#include "platform/windows/WideText.h"
#include "app/win/PlacementFile.h"
#include "ui/WindowPlacement.h"

namespace brisquel::win {
namespace {

using winpt::Utf8;
using winpt::Wide;

constexpr wchar_t kMainClass[] = L"TfmMain";
constexpr wchar_t kPanelClass[] = L"TPanel";
constexpr wchar_t kSplitterClass[] = L"TSplitter";

enum ControlId : int {
  kIdList = 100,
  kIdLog,
  kIdApi,
  kIdPio,
  kIdBreak,
  kIdIdentify,
  kIdDlmcType,
  kIdReplace,
  kIdUnlock,
};

// The drop-down's height includes its open list: room for all five items.
constexpr int kComboDroppedHeight = 25 + 5 * 18;
constexpr int kWindowFontHeight = 14;
constexpr int kListFontHeight = 15;
constexpr int kBreakPictureSize = 16;

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), int(text.size()))));
  return text;
}

template <class Window>
Window* From(HWND hwnd) {
  return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The window and its two kinds of child window; each gets its procedure
// once it knows its object.
void RegisterClasses(HINSTANCE instance) {
  static bool registered = false;
  if (registered) return;
  registered = true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = instance;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  for (const wchar_t* name : {kMainClass, kPanelClass, kSplitterClass}) {
    wc.lpszClassName = name;
    wc.hCursor = LoadCursorA(nullptr, name == kSplitterClass ? IDC_SIZENS : IDC_ARROW);
    RegisterClassExW(&wc);
  }
}

// The Break button's picture, drawn on a 16 x 16 grid at `size` pixels: a red
// stop sign with a white bar.
HBITMAP DrawBreakPicture(int size) {
  const auto at = [size](int grid) { return MulDiv(grid, size, 16); };
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP picture = CreateCompatibleBitmap(screen, size, size);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, picture);
  const RECT all{0, 0, size, size};
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  HBRUSH red = CreateSolidBrush(RGB(210, 30, 30));
  HPEN rim = CreatePen(PS_SOLID, 1, RGB(120, 0, 0));
  SelectObject(dc, red);
  SelectObject(dc, rim);
  POINT octagon[] = {{5, 1}, {10, 1}, {14, 5}, {14, 10}, {10, 14}, {5, 14}, {1, 10}, {1, 5}};
  for (POINT& corner : octagon) corner = {at(corner.x), at(corner.y)};
  Polygon(dc, octagon, 8);
  const RECT bar{at(4), at(7), at(12), at(9)};
  FillRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SelectObject(dc, old);
  DeleteObject(red);
  DeleteObject(rim);
  DeleteDC(dc);
  return picture;
}

// The DPI of the monitor the window is on (Windows 10 1607 on), else the system's.
UINT WindowDpi(HWND hwnd) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static GetDpiForWindowFunction getDpiForWindow = nullptr;
  static const bool bound =
      winpt::Resolve(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow", getDpiForWindow);
  if (bound) {
    if (const UINT dpi = getDpiForWindow(hwnd)) return dpi;
  }
  HDC dc = GetDC(hwnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(hwnd, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : UINT{WinMainWindow::kDesignDpi};
}

HFONT MakeFont(int pixelHeight, const wchar_t* face, DWORD pitch) {
  return CreateFontW(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitch, face);
}

}  // namespace

WinMainWindow::WinMainWindow(MainPlatform platform, WinMainWindowOptions options)
    : options_(std::move(options)), logic_(*this, std::move(platform)) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX common{sizeof common, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  RegisterClasses(instance);
  icon_ = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!icon_) icon_ = LoadIconA(nullptr, IDI_APPLICATION);

  fmMain = CreateWindowExW(WS_EX_CONTROLPARENT, kMainClass, L"",
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                           design::kWidth, design::kHeight, nullptr, nullptr, instance, nullptr);
  SetWindowLongPtrW(fmMain, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(fmMain, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainProc));
  SendMessageW(fmMain, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(fmMain, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  dpi_ = WindowDpi(fmMain);
  if (dpi_ != UINT{kDesignDpi}) {
    SetWindowPos(fmMain, nullptr, 0, 0, Scaled(design::kWidth), Scaled(design::kHeight),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  listHeight_ = Scaled(design::kListHeight);
  RECT client;
  GetClientRect(fmMain, &client);
  designClientWidth_ = client.right;
  BuildControls();
  ApplyDpi();
  Layout();
  logic_.FormCreate();
}

WinMainWindow::~WinMainWindow() {
  if (IsWindow(fmMain)) DestroyWindow(fmMain);
  DeleteObject(windowFont_);
  DeleteObject(listFont_);
  DeleteObject(breakPicture_);
}

void WinMainWindow::BuildControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  auto make = [&](DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style,
                  const design::Place& at, HWND parent, int id) {
    HWND control = CreateWindowExW(
        exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, at.left, at.top, at.width, at.height,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_), FALSE);
    return control;
  };
  // Created in tab order: list, log, panel; in the panel Identify, DLMC, WD DPTM,
  // API, PIO, combo box, Break.
  lbControllers =
      make(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
           WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, {}, fmMain, kIdList);
  spl1 = make(0, kSplitterClass, L"", 0, {}, fmMain, 0);
  SetWindowLongPtrW(spl1, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(spl1, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SplitterProc));
  meLog =
      make(WS_EX_CLIENTEDGE, L"EDIT", L"",
           WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_NOHIDESEL | ES_WANTRETURN,
           {}, fmMain, kIdLog);
  SendMessageW(meLog, EM_SETLIMITTEXT, 0, 0);
  pnl1 = make(WS_EX_CONTROLPARENT, kPanelClass, L"", 0, {}, fmMain, 0);
  SetWindowLongPtrW(pnl1, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(pnl1, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PanelProc));

  btIdentify = make(0, L"BUTTON", L"Identify", WS_TABSTOP | BS_PUSHBUTTON, design::kIdentify, pnl1,
                    kIdIdentify);
  btUnlock =
      make(0, L"BUTTON", L"DLMC", WS_TABSTOP | BS_PUSHBUTTON, design::kUnlock, pnl1, kIdUnlock);
  btReplace = make(0, L"BUTTON", L"WD DPTM", WS_TABSTOP | BS_PUSHBUTTON, design::kReplace, pnl1,
                   kIdReplace);
  rbAPI = make(0, L"BUTTON", L"API", WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, design::kApi, pnl1,
               kIdApi);
  rbPIO = make(0, L"BUTTON", L"PIO", WS_TABSTOP | BS_AUTORADIOBUTTON, design::kPio, pnl1, kIdPio);
  SendMessageW(rbAPI, BM_SETCHECK, BST_CHECKED, 0);
  cbDlmcType = make(0, L"COMBOBOX", L"", WS_TABSTOP | WS_GROUP | WS_VSCROLL | CBS_DROPDOWN,
                    design::kDlmcType, pnl1, kIdDlmcType);
  for (const DlmcMode& mode : kDlmcModeTable) {
    const std::wstring item = Wide(std::string(mode.boxText));
    SendMessageW(cbDlmcType, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
  }
  SendMessageW(cbDlmcType, CB_SETCURSEL, kDlmcDefaultIndex, 0);
  btBreak = make(0, L"BUTTON", L"", WS_TABSTOP | BS_PUSHBUTTON | BS_BITMAP, design::kBreak, pnl1,
                 kIdBreak);
  SetOperationButtonsEnabled(false);

  breakTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, fmMain,
                             nullptr, instance, nullptr);
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V1_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = pnl1;
  tool.uId = reinterpret_cast<UINT_PTR>(btBreak);
  tool.lpszText = const_cast<wchar_t*>(L"Break");
  SendMessageW(breakTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::array<WinMainWindow::PanelControl, 7> WinMainWindow::PanelControls() const {
  // The drop-down's window is as tall as its open list.
  const design::Place combo{design::kDlmcType.left, design::kDlmcType.top, design::kDlmcType.width,
                            kComboDroppedHeight};
  return {{{rbAPI, design::kApi, false},
           {rbPIO, design::kPio, false},
           {btBreak, design::kBreak, true},
           {btIdentify, design::kIdentify, true},
           {cbDlmcType, combo, true},
           {btReplace, design::kReplace, true},
           {btUnlock, design::kUnlock, true}}};
}

int WinMainWindow::Scaled(int designPixels) const {
  return MulDiv(designPixels, static_cast<int>(dpi_), kDesignDpi);
}

int WinMainWindow::Unscaled(int pixels) const {
  return MulDiv(pixels, kDesignDpi, static_cast<int>(dpi_));
}

void WinMainWindow::ApplyDpi() {
  // Fonts and picture made afresh at this DPI; the old ones go once no control uses them.
  const HFONT oldWindowFont = windowFont_;
  const HFONT oldListFont = listFont_;
  const HBITMAP oldPicture = breakPicture_;
  windowFont_ = MakeFont(Scaled(kWindowFontHeight), L"Tahoma", VARIABLE_PITCH | FF_SWISS);
  listFont_ = MakeFont(Scaled(kListFontHeight), L"Courier New", FIXED_PITCH | FF_MODERN);
  breakPicture_ = DrawBreakPicture(Scaled(kBreakPictureSize));
  for (HWND control :
       {meLog, pnl1, rbAPI, rbPIO, btBreak, btIdentify, cbDlmcType, btReplace, btUnlock}) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(windowFont_), TRUE);
  }
  SendMessageW(lbControllers, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), TRUE);
  SendMessageW(lbControllers, LB_SETITEMHEIGHT, 0, Scaled(kItemHeight));
  SendMessageW(btBreak, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(breakPicture_));
  for (const PanelControl& c : PanelControls()) {
    SetWindowPos(c.control, nullptr, Scaled(c.place.left), Scaled(c.place.top),
                 Scaled(c.place.width), Scaled(c.place.height), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (oldWindowFont) DeleteObject(oldWindowFont);
  if (oldListFont) DeleteObject(oldListFont);
  if (oldPicture) DeleteObject(oldPicture);
}

void WinMainWindow::ChangeDpi(UINT dpi, const RECT& suggested) {
  listHeight_ = MulDiv(listHeight_, static_cast<int>(dpi), static_cast<int>(dpi_));
  designClientWidth_ = MulDiv(designClientWidth_, static_cast<int>(dpi), static_cast<int>(dpi_));
  dpi_ = dpi;
  ApplyDpi();
  SetWindowPos(fmMain, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
}

void WinMainWindow::Layout() {
  RECT client;
  GetClientRect(fmMain, &client);
  const int width = client.right;
  const int height = client.bottom;
  const int panelHeight = Scaled(design::kPanelHeight);
  const int splitterHeight = Scaled(design::kSplitterHeight);
  listHeight_ = std::max(Scaled(design::kListMinHeight),
                         std::min(listHeight_, height - panelHeight - splitterHeight));
  const int logTop = listHeight_ + splitterHeight;
  MoveWindow(lbControllers, 0, 0, width, listHeight_, TRUE);
  MoveWindow(spl1, 0, listHeight_, width, splitterHeight, TRUE);
  MoveWindow(meLog, 0, logTop, width, std::max(0, height - panelHeight - logTop), TRUE);
  MoveWindow(pnl1, 0, height - panelHeight, width, panelHeight, TRUE);
  // The five right-hand controls keep their distance to the panel's right edge.
  const int shift = width - designClientWidth_;
  for (const PanelControl& c : PanelControls()) {
    if (!c.followsRightEdge) continue;
    SetWindowPos(c.control, nullptr, Scaled(c.place.left) + shift, Scaled(c.place.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void WinMainWindow::DragSplitter(int clientY) {
  listHeight_ = clientY;
  Layout();
}

void WinMainWindow::Show(int showCmd) {
  RestorePlacement();
  if (!IsWindowVisible(fmMain)) ShowWindow(fmMain, showCmd);
  UpdateWindow(fmMain);
  shown_ = true;
  logic_.FormShow();
}

int WinMainWindow::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(fmMain, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK WinMainWindow::MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return From<WinMainWindow>(hwnd)->OnMessage(message, wParam, lParam);
}

LRESULT CALLBACK WinMainWindow::PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The panel's controls report to the window.
  if (message == WM_COMMAND) return SendMessageW(GetParent(hwnd), message, wParam, lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK WinMainWindow::SplitterProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  WinMainWindow* window = From<WinMainWindow>(hwnd);
  switch (message) {
    case WM_LBUTTONDOWN:
      SetCapture(hwnd);
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == hwnd) {
        POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        MapWindowPoints(hwnd, window->fmMain, &at, 1);
        window->DragSplitter(at.y);
      }
      return 0;
    case WM_LBUTTONUP:
      ReleaseCapture();
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT WinMainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {Scaled(design::kWidth), Scaled(design::kHeight)};
      return 0;
    }
    case WM_DPICHANGED:
      ChangeDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_SIZE:
      if (lbControllers) Layout();
      return 0;
    case WM_COMMAND:
      Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_DEVICECHANGE: {
      const LRESULT result = DefWindowProcW(fmMain, message, wParam, lParam);
      logic_.HandleDeviceChange(static_cast<std::uint32_t>(wParam));
      return result;
    }
    case WM_CLOSE:
      if (!logic_.FormCloseQuery()) return 0;
      SavePlacement();
      DestroyWindow(fmMain);
      return 0;
    case WM_DESTROY:
      if (!placementSaved_) SavePlacement();
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(fmMain, message, wParam, lParam);
  }
}

void WinMainWindow::Command(HWND control, int code) {
  if (control == lbControllers) {
    if (code == LBN_SELCHANGE) {
      logic_.lbControllersClick(static_cast<int>(SendMessageW(lbControllers, LB_GETCURSEL, 0, 0)));
    } else if (code == LBN_DBLCLK) {
      logic_.lbControllersDblClick();
    }
  } else if (code == BN_CLICKED) {
    if (control == rbAPI || control == rbPIO) {
      // A click on the mode already checked switches nothing.
      const bool api = control == rbAPI;
      if (SendMessageW(control, BM_GETCHECK, 0, 0) != BST_CHECKED || api == apiShown_) return;
      apiShown_ = api;
      if (api) {
        logic_.rbAPIClick();
      } else {
        logic_.rbPIOClick();
      }
    } else if (control == btBreak) {
      logic_.btBreakClick();
    } else if (control == btIdentify) {
      logic_.btIdentifyClick();
    } else if (control == btUnlock) {
      logic_.btUnlockClick();
    } else if (control == btReplace) {
      logic_.btReplaceClick();
    }
  }
}

void WinMainWindow::SetCaption(const std::string& text) {
  SetWindowTextW(fmMain, Wide(text).c_str());
}

void WinMainWindow::ShowProgress(std::optional<int> percent) { taskbar_.Show(fmMain, percent); }

void WinMainWindow::AppendLogLine(const std::string& text) {
  const std::wstring line = Wide(text) + L"\r\n";
  const LPARAM end = GetWindowTextLengthW(meLog);
  SendMessageW(meLog, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(meLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(meLog, EM_SCROLLCARET, 0, 0);
}

void WinMainWindow::SetListEnabled(bool enabled) {
  EnableWindow(lbControllers, enabled);
}

void WinMainWindow::ClearList() {
  SendMessageW(lbControllers, LB_RESETCONTENT, 0, 0);
}

void WinMainWindow::AddListLine(const std::string& text) {
  SendMessageW(lbControllers, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void WinMainWindow::SetOperationButtonsEnabled(bool enabled) {
  for (HWND button : {btIdentify, btUnlock, btReplace}) EnableWindow(button, enabled);
}

int WinMainWindow::DlmcTypeIndex() {
  // A typed text that is not the selected item's selects no item.
  const auto index = static_cast<int>(SendMessageW(cbDlmcType, CB_GETCURSEL, 0, 0));
  if (index < 0 || index >= static_cast<int>(kDlmcModeTable.size())) return -1;
  const DlmcMode& mode = kDlmcModeTable[static_cast<std::size_t>(index)];
  return WindowText(cbDlmcType) == Wide(std::string(mode.boxText)) ? index : -1;
}

std::optional<std::string> WinMainWindow::OpenFileDialog() {
  if (options_.chooseFile) return options_.chooseFile();
  // Wide calls, so that a path with any characters reaches the file loader whole.
  std::vector<wchar_t> file(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = fmMain;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return Utf8(file.data());
}

void WinMainWindow::ShowMessage(const std::string& text) {
  MessageBoxW(fmMain, Wide(text).c_str(), L"Brisquel", MB_OK);
}

bool WinMainWindow::AskYesNo(const std::string& text) {
  if (options_.askYesNo) return options_.askYesNo(text);
  return MessageBoxW(fmMain, Wide(text).c_str(), L"Brisquel",
                     MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING) == IDYES;
}

void WinMainWindow::PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // For the message loop to see once the running work returns.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (IsDialogMessageW(fmMain, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool WinMainWindow::KeyHeld(Key key) {
  return (GetKeyState(key == Key::ctrl ? VK_CONTROL : VK_SHIFT) & 0x8000) != 0;
}

// The file keeps positions in 96-DPI units, so that files written before the
// window scaled itself still place it; the screen is measured in them too.
ScreenSize WinMainWindow::ScreenInDesignUnits() const {
  return {Unscaled(GetSystemMetrics(SM_CXSCREEN)), Unscaled(GetSystemMetrics(SM_CYSCREEN))};
}

void WinMainWindow::RestorePlacement() {
  const std::optional<WindowPlacementValues> placement =
      ReadPlacementFile(options_.placementFile, ScreenInDesignUnits());
  RECT outer;
  GetWindowRect(fmMain, &outer);
  int width = outer.right - outer.left;
  int height = outer.bottom - outer.top;
  if (placement) {
    const PlacementRect& r = placement->normPos;
    RECT saved{Scaled(r[0]), Scaled(r[1]), Scaled(std::max(r[2], r[0] + design::kWidth)),
               Scaled(std::max(r[3], r[1] + design::kHeight))};
    // A place on a screen that is gone now is not restored; the size is.
    if (MonitorFromRect(&saved, MONITOR_DEFAULTTONULL)) {
      WINDOWPLACEMENT wp{};
      wp.length = sizeof wp;
      wp.rcNormalPosition = saved;
      wp.showCmd = placement->showCmd == kShowMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
      SetWindowPlacement(fmMain, &wp);
      return;
    }
    width = saved.right - saved.left;
    height = saved.bottom - saved.top;
  }
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(fmMain, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinMainWindow::SavePlacement() {
  if (options_.placementFile.empty() || !shown_) return;
  placementSaved_ = true;
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(fmMain, &wp)) return;
  // In 96-DPI units, which the file's PixelsPerInch (left at 96) says.
  WindowPlacementValues values;
  const RECT& r = wp.rcNormalPosition;
  values.normPos = {Unscaled(r.left), Unscaled(r.top), Unscaled(r.right), Unscaled(r.bottom)};
  const auto point = [this](LONG v) { return v == -1 ? -1 : Unscaled(v); };  // -1: none
  values.minMaxPos = {point(wp.ptMinPosition.x), point(wp.ptMinPosition.y),
                      point(wp.ptMaxPosition.x), point(wp.ptMaxPosition.y)};
  values.showCmd = IsZoomed(fmMain)   ? kShowMaximized
                   : IsIconic(fmMain) ? kShowMinimized
                                      : kShowNormal;
  values.flags = static_cast<std::int32_t>(wp.flags);
  values.visible = IsWindowVisible(fmMain) != FALSE;
  WritePlacementFile(options_.placementFile, values, ScreenInDesignUnits());
}

}  // namespace brisquel::win
