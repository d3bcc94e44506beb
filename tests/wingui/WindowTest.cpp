// Click-through tests of the Win32 window on the default bench, under Wine
// with an X server: the controls where the design puts them (read back from
// the window), tab order, the buttons' rules, Identify and a download with
// the log read back, the mode switch, a device change and the placement file.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Backend.h"
#include "app/win/WinMainWindow.h"
#include "platform/windows/WinPortLibrary.h"
#include "platform/windows/WinSystemInfo.h"
#include "sim/Bench.h"
#include "sim/BenchFirmware.h"
#include "sim/NvmeController.h"
#include "ui/CaptionTexts.h"
#include "ui/SystemInfo.h"

namespace brisquel::win {
namespace {

using Rect = std::vector<long>;  // left, top, width, height

struct WindowOnBench : ::testing::Test {
  // The bench to open the window on; the first Open after it is set hands it
  // to the backend.
  std::unique_ptr<sim::Bench> bench = sim::Bench::Default();
  ProgramState state;
  BenchSystemInfo system{nullptr};  // a caption of known text
  std::optional<std::string> chosenFile;
  int dialogs = 0;
  std::vector<std::string> questions;
  bool answerYes = false;
  // The bench as brisquel.exe --sim has it (NVMe disks behind the stand-in
  // for Windows' NVMe driver), with the fixture's caption.
  std::unique_ptr<Backend> backend;
  std::unique_ptr<WinMainWindow> window;

  sim::Bench& Bench() { return *backend->Bench(); }
  void Open(const std::string& placementFile = "") {
    window.reset();  // it holds on to the backend it was made with
    if (bench) backend = MakeBenchBackend(std::move(bench));  // else the one opened before
    Backend& b = *backend;
    window = std::make_unique<WinMainWindow>(
        MainPlatform{state, b.Ports(), b.Io(), b.Disks(), system, ".", b.Users(), b.Clock()},
        WinMainWindowOptions{placementFile,
                             [this] {
                               ++dialogs;
                               return chosenFile;
                             },
                             [this](const std::string& text) {
                               questions.push_back(text);
                               return answerYes;
                             }});
    window->Show(SW_SHOWNORMAL);
  }

  // A bench image in the temporary folder, which the file dialog then
  // chooses; removed after the test.
  void ChooseFirmware(const std::string& name, const std::string& revision, std::uint32_t blocks) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string file = std::string(dir) + name;
    const std::vector<std::uint8_t> image = sim::MakeBenchFirmware(revision, blocks);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    chosenFile = file;
    files.push_back(file);
  }
  void TearDown() override {
    for (const std::string& file : files) std::remove(file.c_str());
  }
  std::vector<std::string> files;

  // A control's place inside its parent.
  static Rect Place(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
  }
  static SIZE ClientSize(HWND hwnd) {
    RECT r;
    GetClientRect(hwnd, &r);
    return {r.right, r.bottom};
  }
  static std::wstring Text(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), int(text.size()))));
    return text;
  }
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::string line;
    for (wchar_t c : Text(window->meLog)) {
      if (c == L'\r') continue;
      if (c == L'\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += static_cast<char>(c);
      }
    }
    return lines;
  }
  void SelectLine(int index) {
    SendMessageW(window->lbControllers, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(window->fmMain, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(window->lbControllers));
  }
  void Click(HWND button) {
    ASSERT_TRUE(IsWindowEnabled(button));  // a real click would not reach a disabled button
    SendMessageW(button, BM_CLICK, 0, 0);
  }
  bool OperationButtonsEnabled() const {
    const bool identify = IsWindowEnabled(window->btIdentify);
    EXPECT_EQ(identify, IsWindowEnabled(window->btUnlock) != FALSE);
    EXPECT_EQ(identify, IsWindowEnabled(window->btReplace) != FALSE);
    return identify;
  }
};

TEST_F(WindowOnBench, ControlsSitWhereTheDesignPutsThem) {
  Open();
  RECT outer;
  GetWindowRect(window->fmMain, &outer);
  EXPECT_EQ(outer.right - outer.left, 625);
  EXPECT_EQ(outer.bottom - outer.top, 400);
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR(outer.left - work.left, work.right - outer.right, 1) << "centred";
  EXPECT_NEAR(outer.top - work.top, work.bottom - outer.bottom, 1) << "centred";

  const SIZE client = ClientSize(window->fmMain);
  EXPECT_EQ(Place(window->lbControllers), (Rect{0, 0, client.cx, 166}));
  EXPECT_EQ(Place(window->spl1), (Rect{0, 166, client.cx, 3}));
  EXPECT_EQ(Place(window->meLog), (Rect{0, 169, client.cx, client.cy - 169 - 38}));
  EXPECT_EQ(Place(window->pnl1), (Rect{0, client.cy - 38, client.cx, 38}));
  EXPECT_EQ(Place(window->rbAPI), (Rect{9, 11, 48, 17}));
  EXPECT_EQ(Place(window->rbPIO), (Rect{57, 11, 51, 17}));
  EXPECT_EQ(Place(window->btBreak), (Rect{112, 6, 25, 25}));
  EXPECT_EQ(Place(window->btIdentify), (Rect{149, 6, 75, 25}));
  EXPECT_EQ(Place(window->cbDlmcType)[0], 232);
  EXPECT_EQ(Place(window->cbDlmcType)[1], 6);
  EXPECT_EQ(Place(window->cbDlmcType)[2], 194);
  EXPECT_EQ(Place(window->btReplace), (Rect{435, 6, 75, 25}));
  EXPECT_EQ(Place(window->btUnlock), (Rect{523, 6, 75, 25}));
  EXPECT_EQ(SendMessageW(window->lbControllers, LB_GETITEMHEIGHT, 0, 0), 17);

  // Wider and taller: the five right-hand controls follow the right edge,
  // the radio buttons stay, the log takes the height.
  SetWindowPos(window->fmMain, nullptr, 0, 0, 625 + 100, 400 + 60, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(Place(window->rbAPI), (Rect{9, 11, 48, 17}));
  EXPECT_EQ(Place(window->btBreak), (Rect{212, 6, 25, 25}));
  EXPECT_EQ(Place(window->btIdentify), (Rect{249, 6, 75, 25}));
  EXPECT_EQ(Place(window->cbDlmcType)[0], 332);
  EXPECT_EQ(Place(window->btReplace), (Rect{535, 6, 75, 25}));
  EXPECT_EQ(Place(window->btUnlock), (Rect{623, 6, 75, 25}));
  EXPECT_EQ(Place(window->lbControllers)[3], 166);
  EXPECT_EQ(Place(window->meLog)[3], client.cy + 60 - 169 - 38);

  MINMAXINFO limits{};
  SendMessageW(window->fmMain, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(limits.ptMinTrackSize.x, 625);
  EXPECT_EQ(limits.ptMinTrackSize.y, 400);
}

TEST_F(WindowOnBench, SplitterKeepsTheListAtLeast100High) {
  Open();
  for (const auto& [dragTo, listHeight] : {std::pair{220, 220}, {40, 100}}) {
    SendMessageW(window->spl1, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 1));
    const int y = dragTo - Place(window->spl1)[1];
    SendMessageW(window->spl1, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, y));
    SendMessageW(window->spl1, WM_LBUTTONUP, 0, MAKELPARAM(5, y));
    EXPECT_EQ(Place(window->lbControllers)[3], listHeight);
    EXPECT_EQ(Place(window->meLog)[1], listHeight + 3);
  }
}

TEST_F(WindowOnBench, FontsCaptionComboBreakAndStartState) {
  Open();
  for (const auto& [control, face, height] : {std::tuple{window->lbControllers, "Courier New", -15},
                                              {window->btIdentify, "Tahoma", -14},
                                              {window->meLog, "Tahoma", -14}}) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_STREQ(font.lfFaceName, face);
    EXPECT_EQ(font.lfHeight, height);
  }
  std::wstring caption = Text(window->fmMain);
  EXPECT_EQ(std::string(caption.begin(), caption.end()), "Brisquel - simulated bench x64");

  EXPECT_EQ(SendMessageW(window->cbDlmcType, CB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(SendMessageW(window->cbDlmcType, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(Text(window->cbDlmcType), L"Permanent (07)");
  EXPECT_EQ(window->DlmcTypeIndex(), 2);
  EXPECT_EQ(window->DlmcTypeText(), "Permanent (07)");
  SetWindowTextW(window->cbDlmcType, L"Permanent (7)");
  EXPECT_EQ(window->DlmcTypeText(), "Permanent (7)") << "the typed text, for the rule to see";

  EXPECT_NE(SendMessageW(window->btBreak, BM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  wchar_t tip[32] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V1_SIZE;
  tool.hwnd = window->pnl1;
  tool.uId = reinterpret_cast<UINT_PTR>(window->btBreak);
  tool.lpszText = tip;
  SendMessageW(window->breakTip, TTM_GETTEXTW, 32, reinterpret_cast<LPARAM>(&tool));
  EXPECT_STREQ(tip, L"Break");

  EXPECT_EQ(SendMessageW(window->rbAPI, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_FALSE(OperationButtonsEnabled());
  for (HWND always : {window->btBreak, window->rbAPI, window->rbPIO, window->cbDlmcType}) {
    EXPECT_TRUE(IsWindowEnabled(always));
  }
  EXPECT_EQ(SendMessageW(window->lbControllers, LB_GETCOUNT, 0, 0), 4) << "the bench's drives";
}

TEST_F(WindowOnBench, TabOrderRunsListLogAndThePanel) {
  Open();
  SelectLine(0);
  // As Windows' dialog navigation does with Common Controls 6, Tab enters the
  // mode buttons at the checked one.
  for (const bool pio : {false, true}) {
    if (pio) {
      Click(window->rbPIO);
      SelectLine(0);
    }
    const std::vector<HWND> order = {window->lbControllers, window->meLog,
                                     window->btIdentify,    window->btUnlock,
                                     window->btReplace,     pio ? window->rbPIO : window->rbAPI,
                                     window->cbDlmcType,    window->btBreak};
    for (std::size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(GetNextDlgTabItem(window->fmMain, order[i], FALSE), order[(i + 1) % order.size()])
          << (pio ? "PIO" : "API") << " checked, after control " << i;
    }
  }
}

TEST_F(WindowOnBench, IdentifyAndADownloadWithTheLogReadBack) {
  Open();
  SelectLine(1);
  EXPECT_TRUE(OperationButtonsEnabled());
  Click(window->btIdentify);
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       "Bus Type:ATA", "WDC WD800BB-00SIMA0 FW:05.01C05 SN:WD-WMSIM0000001", ""}));
  EXPECT_TRUE(OperationButtonsEnabled());

  // Permanent (07), with a file the bench's drive takes.
  ChooseFirmware("brisquel-wingui-fw.bin", "NEWREV01", 8);
  Click(window->btUnlock);
  Click(window->btIdentify);
  const std::vector<std::string> log = Log();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[log.size() - 2], "WDC WD800BB-00SIMA0 FW:NEWREV01 SN:WD-WMSIM0000001");
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Download Microcode 07 - brisquel-wingui-fw.bin - End - OK"),
            log.end());
}

// The bench's NVMe disk: its firmware goes through the storage stack's
// firmware interface. Deferred (0E), which the stack cannot express, is
// refused before anything is sent; Permanent (07) downloads and leaves the
// image waiting for the reset; Activate Deferred (0F) switches to it.
TEST_F(WindowOnBench, TheNvmeDiskUpdatesThroughTheFirmwareInterface) {
  Open();
  SelectLine(3);
  ChooseFirmware("brisquel-wingui-nv.bin", "NEWNV1", 16);
  const sim::NvmeIdentity& nvme = Bench().Nvme("nvme0")->Identity();
  const std::string start = "Download Microcode 07 - brisquel-wingui-nv.bin - ";
  const std::string waits = "Firmware revision 211070WD; NEWNV1 waits in slot 2 for the next reset";
  struct Step {
    int modeIndex;  // 2 Permanent, 3 Deferred, 4 Activate Deferred
    std::vector<std::string> log;
    int next;
    std::string slot2;
  };
  const Step steps[] = {
      {3,
       {"Refused: on Windows the storage stack commits an NVMe image only as it activates it: "
        "storing it without an activation (0E) cannot be asked for; use 07, or 03"},
       0, "211070WD"},
      {2, {"Through Windows' firmware interface", start + "Start", start + "End - OK", waits}, 2, "NEWNV1"},
      {4, {"Through Windows' firmware interface", waits}, 2, "NEWNV1"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.modeIndex);
    SendMessageW(window->meLog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    SendMessageW(window->cbDlmcType, CB_SETCURSEL, static_cast<WPARAM>(step.modeIndex), 0);
    Click(window->btUnlock);
    std::vector<std::string> log = Log();
    log.erase(std::remove(log.begin(), log.end(), ""), log.end());
    EXPECT_EQ(log, step.log);
    EXPECT_EQ(nvme.nextSlot, step.next);
    EXPECT_EQ(nvme.slotRevisions[1], step.slot2);
  }
}

// A drive that says it takes no DOWNLOAD MICROCODE: the question comes before
// any file is chosen; No sends nothing, Yes sends and says so.
TEST_F(WindowOnBench, ARefusedDownloadIsAskedAboutFirst) {
  for (const bool yes : {false, true}) {
    bench = sim::Bench::FromText(
                "[drive d]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = OLD1\ndlmc = no\n"
                "[disk]\ndrive = d\n")
                .bench;
    ASSERT_TRUE(bench);
    questions.clear();
    dialogs = 0;
    answerYes = yes;
    Open();
    SelectLine(0);
    Click(window->btUnlock);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find("does not support DOWNLOAD MICROCODE"), std::string::npos);
    EXPECT_EQ(dialogs, yes ? 1 : 0);
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1].rfind(yes ? "Sent anyway: the drive says" : "Refused: the drive says", 0), 0u)
        << log[1];
    EXPECT_EQ(Bench().Drive("d")->FirmwareRevision(), "OLD1");
  }
}

TEST_F(WindowOnBench, ModeSwitchAndDeviceChangeFollowTheButtonRules) {
  Open();
  SelectLine(0);
  ASSERT_TRUE(OperationButtonsEnabled());
  SendMessageW(window->fmMain, WM_DEVICECHANGE, 0x0018, 0);
  EXPECT_FALSE(OperationButtonsEnabled()) << "any device change in API mode";
  SelectLine(0);

  Click(window->rbPIO);
  EXPECT_FALSE(OperationButtonsEnabled());
  EXPECT_EQ(SendMessageW(window->rbPIO, BM_GETCHECK, 0, 0), BST_CHECKED);
  ASSERT_EQ(SendMessageW(window->lbControllers, LB_GETCOUNT, 0, 0), 4) << "the bench's channels";
  SelectLine(0);
  Click(window->btIdentify);
  EXPECT_EQ(Log().at(Log().size() - 2), "WDC WD800BB-00SIMA0 FW:05.01C05 SN:WD-WMSIM0000001");
  SendMessageW(window->fmMain, WM_DEVICECHANGE, 0x8004, 0);
  EXPECT_TRUE(OperationButtonsEnabled()) << "device changes do nothing in PIO mode";
}

TEST(Window, CtrlHeldAtStartShowsTheDriverLibrarysStateInTheCaption) {
  auto bench = sim::Bench::Default();
  ProgramState state;
  winpt::WinSystemInfo system;
  winpt::WinPortLibrary missing("no-such-port-library.dll");
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_CONTROL] |= 0x80;
  SetKeyboardState(keys);
  WinMainWindow window(MainPlatform{state, missing, bench->Io(), bench->Disks(), system, ".", bench->Users(), bench->Clock()});
  keys[VK_CONTROL] &= 0x7F;
  SetKeyboardState(keys);
  wchar_t caption[128] = {};
  GetWindowTextW(window.fmMain, caption, 128);
  EXPECT_STREQ(caption, L"OLS:False  DLL:Driver not loaded  DRV:Unknown Type (Error)");
}

TEST(Window, ADriveThatCannotBeOpenedIsReportedInTheMessageBox) {
  sim::BenchLoad load = sim::Bench::FromText(
      "[drive d]\nmodel = M\n[disk]\ndrive = d\n"
      "fails-to-open = yes\n");
  ASSERT_TRUE(load.bench) << load.error;
  ProgramState state;
  winpt::WinSystemInfo system;
  WinMainWindow window(
      MainPlatform{state, load.bench->Ports(), load.bench->Io(), load.bench->Disks(), system, ".", load.bench->Users(), load.bench->Clock()});
  window.Show(SW_SHOWNORMAL);
  ASSERT_EQ(SendMessageW(window.lbControllers, LB_GETCOUNT, 0, 0), 1);
  // The message box waits for its OK: a second thread finds it by its title and closes it.
  std::atomic<bool> seen = false;
  std::thread closer([&seen] {
    for (int i = 0; i < 200 && !seen; ++i) {
      if (HWND box = FindWindowW(L"#32770", L"Brisquel")) {
        seen = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
      Sleep(25);
    }
  });
  SendMessageW(window.lbControllers, LB_SETCURSEL, 0, 0);
  SendMessageW(window.fmMain, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(window.lbControllers));
  closer.join();
  EXPECT_TRUE(seen) << "a message box titled Brisquel";
  EXPECT_TRUE(IsWindowEnabled(window.btIdentify)) << "the buttons are enabled anyway";
}

TEST_F(WindowOnBench, PlacementGoesThroughTheProfileFile) {
  const std::string ini = "brisquel-wingui-test.INI";
  WritePrivateProfileStringA("TfmMain", nullptr, nullptr, ini.c_str());
  Open(ini);
  SetWindowPos(window->fmMain, nullptr, 10, 20, 700, 450, SWP_NOZORDER);
  SendMessageW(window->fmMain, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window->fmMain));
  char value[64] = {};
  GetPrivateProfileStringA("TfmMain", "NormPos", "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "10,20,710,470");
  const std::string screenKey = "NormPos(" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                                std::to_string(GetSystemMetrics(SM_CYSCREEN)) + ")";
  GetPrivateProfileStringA("TfmMain", screenKey.c_str(), "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "10,20,710,470");

  Open(ini);
  RECT outer;
  GetWindowRect(window->fmMain, &outer);
  EXPECT_EQ((Rect{outer.left, outer.top, outer.right, outer.bottom}), (Rect{10, 20, 710, 470}));
  WritePrivateProfileStringA("TfmMain", nullptr, nullptr, ini.c_str());
}

// At 150 % (144 DPI) every design size is half as large again, and the
// placement file keeps 96-DPI units. Run by wingui_at_144_dpi, which sets the
// screen's DPI; at any other DPI it is skipped.
TEST_F(WindowOnBench, At144DpiTheDesignScalesAndThePlacementFileKeeps96DpiUnits) {
  const std::string ini = "brisquel-wingui-dpi-test.INI";
  // Within the test screen of 1024 x 768, which is 682 x 512 in 96-DPI units.
  WritePrivateProfileStringA("TfmMain", "NormPos", "10,20,660,470", ini.c_str());
  Open(ini);
  if (window->Dpi() != 144) GTEST_SKIP() << "the screen is at " << window->Dpi() << " DPI";

  RECT outer;
  GetWindowRect(window->fmMain, &outer);
  EXPECT_EQ((Rect{outer.left, outer.top, outer.right, outer.bottom}), (Rect{15, 30, 990, 705}));
  const SIZE client = ClientSize(window->fmMain);
  EXPECT_EQ(Place(window->lbControllers), (Rect{0, 0, client.cx, 249}));
  EXPECT_EQ(Place(window->spl1), (Rect{0, 249, client.cx, 5}));
  EXPECT_EQ(Place(window->pnl1), (Rect{0, client.cy - 57, client.cx, 57}));
  EXPECT_EQ(Place(window->rbAPI), (Rect{14, 17, 72, 26}));
  EXPECT_EQ(Place(window->rbPIO), (Rect{86, 17, 77, 26}));
  // The right-hand controls keep their distance to the wider panel's edge.
  const long shift = (outer.right - outer.left) - 938;
  EXPECT_EQ(Place(window->btBreak), (Rect{168 + shift, 9, 38, 38}));
  EXPECT_EQ(Place(window->btIdentify), (Rect{224 + shift, 9, 113, 38}));
  EXPECT_EQ(Place(window->btReplace), (Rect{653 + shift, 9, 113, 38}));
  EXPECT_EQ(Place(window->btUnlock), (Rect{785 + shift, 9, 113, 38}));
  EXPECT_EQ(Place(window->cbDlmcType)[2], 291);
  MINMAXINFO limits{};
  SendMessageW(window->fmMain, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  EXPECT_EQ(limits.ptMinTrackSize.x, 938);
  EXPECT_EQ(limits.ptMinTrackSize.y, 600);
  for (const auto& [control, height] :
       {std::pair{window->lbControllers, -23}, {window->btIdentify, -21}}) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_EQ(font.lfHeight, height);
  }
  BITMAP picture{};
  GetObjectW(reinterpret_cast<HBITMAP>(SendMessageW(window->btBreak, BM_GETIMAGE, IMAGE_BITMAP, 0)),
             sizeof picture, &picture);
  EXPECT_EQ(picture.bmWidth, 24);

  SendMessageW(window->fmMain, WM_CLOSE, 0, 0);
  char value[64] = {};
  GetPrivateProfileStringA("TfmMain", "NormPos", "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "10,20,660,470");
  GetPrivateProfileStringA("TfmMain", "PixelsPerInch", "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "96");
  WritePrivateProfileStringA("TfmMain", nullptr, nullptr, ini.c_str());
}

}  // namespace
}  // namespace brisquel::win
