#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>

#include "discovery/uSetupApiEnum.h"
#include "sim/Bench.h"
#include "ui/FakeMainView.h"
#include "ui/TargetSelection.h"
#include "ui/uMain.h"

namespace brisquel {
namespace {

using testing::FakeMainView;

class FixedSystem : public SystemInfo {
 public:
  std::string SystemName() override { return "Windows 10 x64"; }
  bool HasAdministratorRights() override { return administrator; }
  bool administrator = true;
};

std::unique_ptr<sim::Bench> BenchFrom(const std::string& text) {
  sim::BenchLoad load = sim::Bench::FromText(text);
  EXPECT_TRUE(load.bench) << load.error;
  return std::move(load.bench);
}

// The window logic on a bench, shown: "API" checked and the drive list filled.
// Default bench lines: 0 the SATA drive, 1 the IDE drive, 2 the USB drive.
struct Window {
  explicit Window(std::unique_ptr<sim::Bench> b = sim::Bench::Default())
      : bench(std::move(b)),
        main(view, MainPlatform{state, bench->Ports(), bench->Io(), bench->Disks(), system, {}, bench->Users(), bench->Clock()}) {
    main.FormCreate();
    main.FormShow();
  }
  DriveTarget& target() { return state.DriveTarget; }
  std::string LastLog() const { return view.log.empty() ? "<none>" : view.log.back(); }

  std::unique_ptr<sim::Bench> bench;
  ProgramState state;
  FixedSystem system;
  FakeMainView view;
  TfmMain main;
};

// A firmware image the bench's drives take.
std::string FirmwareFile(const std::string& name) {
  const auto path = std::filesystem::temp_directory_path() / ("brisquel-ui-" + name);
  const std::vector<std::uint8_t> image = sim::MakeBenchFirmware("NEWFW1", 3);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return path.string();
}

const char* const kSataLine = "WDC WD5000AAKX-00SIMB0 FW:15.01H15 SN:WD-WCSIM0000002";
const char* const kUsbLine = "WDC WD10EZEX-00SIMC0 FW:01.01A01 SN:WD-WCSIM0000003";

class LibraryOnly : public PortLibrary {
 public:
  LibraryOnly(bool ready, std::int32_t status, std::int32_t type)
      : ready_(ready), status_(status), type_(type) {}
  bool InitializeOls() override { return calls.emplace_back("InitializeOls"), ready_; }
  std::int32_t GetDllStatus() override { return calls.emplace_back("GetDllStatus"), status_; }
  std::int32_t GetDriverType() override { return calls.emplace_back("GetDriverType"), type_; }
  std::uint8_t ReadIoPortByte(std::uint16_t) override { return 0xFF; }
  std::uint16_t ReadIoPortWord(std::uint16_t) override { return 0xFFFF; }
  void WriteIoPortByte(std::uint16_t, std::uint8_t) override {}
  void WriteIoPortWord(std::uint16_t, std::uint16_t) override {}
  std::uint32_t ReadPciConfigDword(std::uint32_t, std::uint8_t) override { return 0xFFFFFFFF; }
  std::vector<std::string> calls;

 private:
  bool ready_;
  std::int32_t status_, type_;
};

TEST(MainLogic, FormCreateStartsTheLibraryOnceAndNamesItInTheCaptionOnlyWithCtrl) {
  struct Case {
    bool ctrl, ready;
    std::int32_t status, type;
    bool administrator;
    const char* caption;
  };
  for (const Case& c : {
           Case{true, true, 0, 4, true, "OLS:True  DLL:OK  DRV:Windows XP/Vista or later [x64]"},
           Case{true, false, 9, 0, true,
                "OLS:False  DLL:Unknown error 9  DRV:Unknown Type (Error)"},
           Case{true, false, -1, 77, true,
                "OLS:False  DLL:Unknown error 4294967295  DRV:Unknown Type (Error)"},
           Case{true, false, 2, 4, false,
                "OLS:False  DLL:Driver not loaded  DRV:Windows XP/Vista or later [x64]"},
           Case{false, true, 0, 4, true, "Brisquel - Windows 10 x64"},
           Case{false, false, 2, 0, false,
                "Brisquel - Windows 10 x64 (without administrator rights)"},
       }) {
    auto bench = sim::Bench::Default();
    LibraryOnly ports(c.ready, c.status, c.type);
    ProgramState state;
    FixedSystem system;
    system.administrator = c.administrator;
    FakeMainView view;
    view.ctrlHeld = c.ctrl;
    TfmMain main(view, MainPlatform{state, ports, bench->Io(), bench->Disks(), system, {}, bench->Users(), bench->Clock()});
    main.FormCreate();
    EXPECT_EQ(view.caption, c.caption);
    EXPECT_EQ(ports.calls,
              (std::vector<std::string>{"InitializeOls", "GetDllStatus", "GetDriverType"}));
    EXPECT_TRUE(view.log.empty());
    EXPECT_FALSE(view.buttonsEnabled);
  }
}

// Without port I/O the channel list stays empty; the log says why and what to do.
TEST(MainLogic, PioModeWithoutPortIoSaysWhy) {
  struct Case {
    std::int32_t status;
    bool administrator;
    const char* line;
  };
  for (const Case& c : {
           Case{2, false,
                "PIO mode needs port I/O, which the port library could not give (Driver not "
                "loaded): run Brisquel with administrator rights, or use API mode"},
           Case{1, true,
                "PIO mode needs port I/O, which the port library could not give (Unsupported "
                "Platform): use API mode"},
       }) {
    auto bench = sim::Bench::Default();
    LibraryOnly ports(false, c.status, 0);
    ProgramState state;
    FixedSystem system;
    system.administrator = c.administrator;
    FakeMainView view;
    TfmMain main(view, MainPlatform{state, ports, bench->Io(), bench->Disks(), system, {}, bench->Users(), bench->Clock()});
    main.FormCreate();
    main.FormShow();
    EXPECT_TRUE(view.log.empty()) << "API mode needs no port I/O";
    main.rbPIOClick();
    EXPECT_EQ(view.log, std::vector<std::string>{c.line});
    EXPECT_TRUE(view.list.empty());
  }
}

TEST(MainLogic, OperationButtonsFollowTheRules) {
  Window w;
  FakeMainView& v = w.view;
  EXPECT_FALSE(v.buttonsEnabled) << "program start";
  EXPECT_EQ(v.list.size(), 4u);

  w.main.lbControllersClick(0);
  EXPECT_TRUE(v.buttonsEnabled) << "a line selected";
  w.main.lbControllersClick(-1);
  EXPECT_FALSE(v.buttonsEnabled) << "a click with nothing selected";

  for (bool toPio : {true, false}) {
    w.main.lbControllersClick(0);
    v.events.clear();
    toPio ? w.main.rbPIOClick() : w.main.rbAPIClick();
    const int off = v.Find("buttons:off");
    ASSERT_GE(off, 0) << "mode switch";
    EXPECT_LT(off, v.Find("list:off"));
    EXPECT_LT(v.Find("list:off"), v.Find("clear"));
    EXPECT_LT(v.Find("clear"), v.Find("list:on"));
    EXPECT_FALSE(v.buttonsEnabled);
  }

  w.main.lbControllersClick(0);
  w.main.HandleDeviceChange(0x0018);
  EXPECT_FALSE(v.buttonsEnabled) << "device change in API mode";

  // An operation disables them while it runs and enables them on every way
  // out: a cancelled dialog, a dialog that throws (reported in the message
  // box), and from a state where they were disabled before.
  for (std::optional<std::string> answer :
       {std::optional<std::string>{}, std::optional<std::string>("throw")}) {
    w.main.lbControllersClick(0);
    if (answer) v.dialogAnswers.push_back(answer);
    v.events.clear();
    w.main.btUnlockClick();
    EXPECT_EQ(v.events.front(), "buttons:off");
    EXPECT_LT(v.Find("buttons:off"), v.Find("dialog"));
    EXPECT_EQ(v.events.back(), "buttons:on");
    EXPECT_TRUE(v.buttonsEnabled);
  }
  EXPECT_EQ(v.messages, (std::vector<std::string>{"the dialog failed"}));
  v.dialogAnswers.push_back("throw");
  w.main.btReplaceClick();
  EXPECT_TRUE(v.buttonsEnabled);
  EXPECT_EQ(v.messages.size(), 2u);

  // A device change leaves no target armed: an operation that still gets
  // through does not enable the buttons on its way out.
  w.main.HandleDeviceChange(0x8000);
  ASSERT_FALSE(v.buttonsEnabled);
  w.main.btIdentifyClick();
  EXPECT_FALSE(v.buttonsEnabled) << "operation returned";
}

TEST(MainLogic, PioFillListsTheScannedChannelsWithTheOldLinesShownDuringTheScan) {
  Window w;
  FakeMainView& v = w.view;
  const std::vector<std::string> driveLines = v.list;
  bool sawScan = false;
  v.onPump = [&](int) {
    if (sawScan) return;
    sawScan = true;
    EXPECT_FALSE(v.listEnabled);
    EXPECT_EQ(v.list, driveLines);
  };
  w.state.BreakFlag = true;  // a Break from before does not stop the scan
  w.main.rbPIOClick();
  EXPECT_TRUE(sawScan);
  EXPECT_TRUE(v.listEnabled);
  ASSERT_EQ(v.list.size(), 4u);
  EXPECT_EQ(v.list[0], "01F0/03F6 - Int ATA: Intel 82801G (ICH7 Family) IDE");
  EXPECT_EQ(v.list[1], "0170/0376 - Int ATA: Intel 82801G (ICH7 Family) IDE");
  EXPECT_EQ(v.list[2].substr(0, 12), "0000/0002 - ");
  EXPECT_EQ(w.state.ChannelTable[0].basePort, 0x1F0u);
  EXPECT_EQ(w.state.ChannelTable[0].controlPort, 0x3F6u);
  EXPECT_EQ(w.state.ChannelTable[1].basePort, 0x170u);
  EXPECT_EQ(w.state.ChannelTable[1].controlPort, 0x376u);
  EXPECT_FALSE(w.state.ChannelTable[1].device1);
  EXPECT_EQ(w.target().kind, TransportKind::pio);
}

TEST(MainLogic, DriveFillKeepsOldLinesWhenNothingIsFoundButNeverTakesThemForDrives) {
  // Old drive lines: the table behind them was emptied by the failed refill.
  {
    Window w;
    FakeMainView& v = w.view;
    const std::vector<std::string> lines = v.list;
    ASSERT_EQ(lines.size(), 4u);
    w.bench->Disks().SetAvailable(false);
    w.main.HandleDeviceChange(0x8004);
    EXPECT_EQ(v.list, lines);
    EXPECT_TRUE(v.listEnabled);
    const std::size_t opens = w.bench->Io().Opens().size();
    w.main.lbControllersClick(0);
    EXPECT_EQ(w.LastLog(),
              "Selection refused: list line 1 stands for no drive (the drive list could not be "
              "refreshed)");
    EXPECT_EQ(w.bench->Io().Opens().size(), opens);
    EXPECT_FALSE(v.buttonsEnabled);
    w.bench->Disks().SetAvailable(true);
    w.main.HandleDeviceChange(0x8000);
    w.main.lbControllersClick(0);
    EXPECT_EQ(w.LastLog(), "Bus Type:SATA");
  }
  // Old PIO lines, more of them than DriveTable has records.
  std::string text = "[enumeration]\navailable = no\n";
  for (int device = 1; device <= 21; ++device) {
    char section[64];
    std::snprintf(section, sizeof section, "[pci 00:%02x.0]\nkind = legacy-ide\n", device);
    text += section;
  }
  Window w(BenchFrom(text));
  FakeMainView& v = w.view;
  EXPECT_TRUE(v.list.empty());
  w.main.rbPIOClick();
  ASSERT_EQ(v.list.size(), 42u);
  w.main.rbAPIClick();
  EXPECT_EQ(v.list.size(), 42u) << "the PIO lines stay";
  for (int line : {41, 0}) {
    w.main.lbControllersClick(line);
    EXPECT_EQ(w.LastLog(), "Selection refused: list line " + std::to_string(line + 1) +
                               " stands for no drive (the drive list could not be refreshed)");
    EXPECT_FALSE(v.buttonsEnabled);
    EXPECT_EQ(w.target().kind, TransportKind::ataPassThrough);
  }
  EXPECT_TRUE(w.bench->Io().Opens().empty());
}

TEST(MainLogic, ApiSelectionOpensTheDriveIntoTheHandleOfItsTransport) {
  Window w;
  sim::SimDeviceIo& io = w.bench->Io();
  DriveTarget& t = w.target();

  w.main.lbControllersClick(2);
  EXPECT_EQ(w.LastLog(), "Bus Type:USB");
  EXPECT_EQ(t.kind, TransportKind::scsiPassThrough);
  ASSERT_NE(t.scsiHandle, kInvalidHandle);
  EXPECT_EQ(t.ataPassHandle, kNeverOpened);
  EXPECT_EQ(io.Opens().back().path, w.state.DriveTable[2].DevicePath);
  EXPECT_EQ(io.Opens().back().access, GENERIC_ALL_);
  const OsHandle usb = t.scsiHandle;

  w.main.lbControllersClick(0);
  EXPECT_EQ(w.LastLog(), "Bus Type:SATA");
  EXPECT_EQ(t.kind, TransportKind::ataPassThrough);
  ASSERT_NE(t.ataPassHandle, kInvalidHandle);
  EXPECT_EQ(t.scsiHandle, usb) << "the USB drive stays open";
  EXPECT_EQ(io.OpenHandleCount(), 2u);
  const OsHandle sata = t.ataPassHandle;

  w.main.lbControllersClick(0);
  EXPECT_NE(t.ataPassHandle, sata) << "closed and opened again";
  EXPECT_NE(t.ataPassHandle, kInvalidHandle);
  EXPECT_EQ(io.OpenHandleCount(), 2u);
  EXPECT_EQ(t.scsiHandle, usb);
  EXPECT_EQ(w.view.log,
            (std::vector<std::string>{"Bus Type:USB", "Bus Type:SATA", "Bus Type:SATA"}));
  EXPECT_TRUE(w.view.messages.empty());
}

TEST(MainLogic, ApiSelectionNamesOddBusTypesAndReportsADriveThatWillNotOpen) {
  Window w(
      BenchFrom("[drive d]\n"
                "[disk]\ndrive = d\nname = Gone Disk\nbus = SATA\n"
                "[disk]\ndrive = d\nname = No Adapter\nadapter = no\n"
                "[disk]\ndrive = d\nname = Reserved Bus\nbus = 127\n"
                "[disk]\ndrive = d\nname = Locked Disk\nfails-to-open = yes\n"));
  // The locked disk could not be opened to be listed either: an empty record.
  ASSERT_EQ(w.view.list, (std::vector<std::string>{"Gone Disk", "No Adapter", "Reserved Bus", ""}));
  w.bench->Io().Unplug(w.state.DriveTable[0].DevicePath);
  struct Case {
    int line;
    const char* log;
    const char* message;  // null: the drive opened
  };
  for (const Case& c : {Case{0, "Bus Type:SATA", "Gone Disk"}, Case{1, "Bus Type:UNKNOWN", nullptr},
                        Case{2, "Bus Type:0x7F", nullptr}, Case{3, "Bus Type:UNKNOWN", ""}}) {
    w.view.messages.clear();
    w.main.lbControllersClick(c.line);
    EXPECT_EQ(w.LastLog(), c.log);
    EXPECT_EQ(w.target().kind, TransportKind::ataPassThrough);
    EXPECT_EQ(w.target().ataPassHandle == kInvalidHandle, c.message != nullptr) << c.line;
    EXPECT_EQ(w.view.messages,
              c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_TRUE(w.view.buttonsEnabled) << "also when the drive did not open";
  }
}

TEST(MainLogic, PioSelectionTakesTheChannelAndWritesOnlyItsDeviceRegister) {
  Window w;
  w.main.rbPIOClick();
  sim::PortBus& ports = w.bench->Ports();
  // Device 1 addressed before: there is none, so device 0 answers for it.
  ports.WriteIoPortByte(0x1F6, 0xB0);
  ports.Record(true);
  w.main.lbControllersClick(0);
  using K = sim::PortAccess::Kind;
  EXPECT_EQ(ports.Accesses(), (std::vector<sim::PortAccess>{{K::readByte, 0x1F6, 0xB0},
                                                            {K::writeByte, 0x1F6, 0xA0}}));
  EXPECT_EQ(w.target().kind, TransportKind::pio);
  EXPECT_EQ(w.target().basePort, 0x1F0);
  EXPECT_FALSE(w.target().slave);
  EXPECT_TRUE(w.view.buttonsEnabled);
  EXPECT_TRUE(w.view.log.empty());

  ports.ClearAccesses();
  w.main.lbControllersClick(1);
  EXPECT_EQ(w.target().basePort, 0x170);
  EXPECT_EQ(ports.Accesses().size(), 2u);
  EXPECT_EQ(ports.Accesses()[1].port, 0x176);
}

TEST(MainLogic, PortClaimsAreLookedUpAtEachSelectionAndOperationNotAtEachAccess) {
  Window w;
  w.main.rbPIOClick();
  sim::PortBus& ports = w.bench->Ports();
  const std::uint64_t before = ports.ClaimRefreshes();
  w.main.lbControllersClick(0);
  EXPECT_EQ(ports.ClaimRefreshes(), before + 1) << "a channel selected";
  w.main.btIdentifyClick();
  EXPECT_EQ(w.LastLog(), "");
  EXPECT_EQ(ports.ClaimRefreshes(), before + 2) << "one operation, however many register writes";
}

TEST(MainLogic, ModeSwitchesSetTheKindAndLeaveHandlesAndPortAlone) {
  Window w;
  w.main.lbControllersClick(2);
  w.main.lbControllersClick(0);
  const DriveTarget before = w.target();
  const std::size_t opens = w.bench->Io().Opens().size();
  w.main.rbPIOClick();
  EXPECT_FALSE(w.main.ApiChecked());
  EXPECT_EQ(w.target().kind, TransportKind::pio);
  w.main.rbAPIClick();
  EXPECT_EQ(w.target().kind, TransportKind::ataPassThrough);
  EXPECT_EQ(w.target().ataPassHandle, before.ataPassHandle);
  EXPECT_EQ(w.target().scsiHandle, before.scsiHandle);
  EXPECT_EQ(w.target().basePort, before.basePort);
  EXPECT_EQ(w.bench->Io().Opens().size(), opens);
  EXPECT_EQ(w.bench->Io().OpenHandleCount(), 2u);
}

TEST(MainLogic, DeviceChangesRefillTheDriveListInApiModeOnly) {
  struct Case {
    std::uint32_t code;
    bool refills;
  };
  for (const Case& c : {Case{0x0007, true}, Case{0x8000, true}, Case{0x8004, true},
                        Case{0x0018, false}, Case{0x8001, false}, Case{0x8003, false}}) {
    Window w;
    w.main.lbControllersClick(0);
    const int walks = w.bench->Disks().Begun();
    w.view.events.clear();
    w.main.HandleDeviceChange(c.code);
    EXPECT_EQ(w.bench->Disks().Begun() - walks, c.refills ? 1 : 0) << std::hex << c.code;
    EXPECT_EQ(w.view.Find("clear") >= 0, c.refills);
    EXPECT_FALSE(w.view.buttonsEnabled);

    w.main.rbPIOClick();
    w.main.lbControllersClick(0);
    const std::vector<std::string> pioLines = w.view.list;
    w.view.events.clear();
    w.main.HandleDeviceChange(c.code);
    EXPECT_TRUE(w.view.events.empty()) << "ignored in PIO mode";
    EXPECT_EQ(w.bench->Disks().Begun() - walks, c.refills ? 1 : 0);
    EXPECT_TRUE(w.view.buttonsEnabled);
    EXPECT_EQ(w.view.list, pioLines);
  }
}

TEST(MainLogic, DoubleClickIdentifiesOnlyAnArmedTarget) {
  Window w;
  // Nothing selected yet: nothing is armed, and nothing runs.
  w.main.lbControllersDblClick();
  EXPECT_EQ(w.view.pumps, 0);
  EXPECT_TRUE(w.view.log.empty());

  w.main.lbControllersClick(0);
  w.main.lbControllersDblClick();
  EXPECT_EQ(w.view.log[w.view.log.size() - 2], kSataLine);
  EXPECT_EQ(w.view.log.back(), "");

  // A refused line leaves nothing armed: its double click must not identify
  // the drive selected before it.
  w.view.log.clear();
  w.main.lbControllersClick(40);
  w.main.lbControllersDblClick();
  EXPECT_EQ(w.view.log, std::vector<std::string>{"Selection refused: list line 41 stands for no "
                                                 "drive (the drive list could not be refreshed)"});
  EXPECT_FALSE(w.view.buttonsEnabled);
  EXPECT_FALSE(w.main.TargetArmed());
}

// The default bench's SATA controller has no legacy ports: its lines read base
// port 0000, whose "device register" would be the DMA controller's.
TEST(MainLogic, APioLineBelowPort100IsRefusedAndWritesNothing) {
  Window w;
  w.main.rbPIOClick();
  ASSERT_GE(w.view.list.size(), 3u);
  ASSERT_EQ(w.view.list[2].rfind("0000/", 0), 0u);
  w.main.lbControllersClick(0);
  ASSERT_TRUE(w.main.TargetArmed());
  w.view.log.clear();
  w.main.lbControllersClick(2);
  EXPECT_EQ(w.view.log, std::vector<std::string>{"Selection refused: the channel's task-file port "
                                                 "0000 is no IDE channel"});
  EXPECT_FALSE(w.view.buttonsEnabled);
  EXPECT_EQ(w.state.DriveTarget.basePort, 0x1F0) << "the target is left as it was";
  w.main.lbControllersDblClick();
  EXPECT_EQ(w.view.log.size(), 1u);
}

TEST(MainLogic, BreakEndsAWaitOnADriveThatStaysBusy) {
  Window w;
  w.main.rbPIOClick();
  w.main.lbControllersClick(0);
  w.bench->Drive("ide0")->Faults().stayBusy = true;
  const int before = w.view.pumps;  // the PCI scan pumps too
  w.view.onPump = [&](int n) {
    if (n == before + 3) w.main.btBreakClick();
  };
  w.main.lbControllersDblClick();
  EXPECT_EQ(w.view.pumps, before + 3);
  ASSERT_GE(w.view.log.size(), 2u);
  EXPECT_EQ(w.view.log[w.view.log.size() - 2], " FW: SN:");
  EXPECT_EQ(w.view.log.back(), "");
}

TEST(MainLogic, TheTargetStaysFixedWhileAnOperationRuns) {
  // A selection made during Identify waits for its end; a double click then
  // is refused.
  {
    Window w;
    w.main.lbControllersClick(2);  // USB: SCSI pass-through pumps after each request
    // Selecting the USB drive sent IDENTIFY to find its bridge's form.
    const int selected = w.view.pumps;
    w.view.onPump = [&](int n) {
      if (n != selected + 1) return;
      w.main.lbControllersClick(0);
      w.main.lbControllersDblClick();
      EXPECT_EQ(w.target().kind, TransportKind::scsiPassThrough);
      EXPECT_TRUE(w.main.OperationRunning());
      EXPECT_FALSE(w.main.FormCloseQuery());
    };
    w.main.btIdentifyClick();
    ASSERT_GT(w.view.pumps, selected);
    const std::vector<std::string> expected = {
        "Bus Type:USB",
        "Refused: another operation is running",
        "The window stays open until the running work ends (Break stops it)",
        kUsbLine,
        "",
        "Bus Type:SATA"};
    EXPECT_EQ(w.view.log, expected);
    EXPECT_TRUE(w.main.FormCloseQuery());
    EXPECT_EQ(w.target().kind, TransportKind::ataPassThrough);
    EXPECT_TRUE(w.view.buttonsEnabled);
  }
  // A mode switch during it waits too, and drops a selection made on the old lines.
  {
    Window w;
    w.main.lbControllersClick(2);
    const std::vector<std::string> driveLines = w.view.list;
    const int selected = w.view.pumps;
    w.view.onPump = [&](int n) {
      if (n != selected + 1) return;
      w.main.rbPIOClick();
      w.main.lbControllersClick(1);
      EXPECT_EQ(w.target().kind, TransportKind::scsiPassThrough);
      EXPECT_EQ(w.view.list, driveLines);
    };
    w.main.btIdentifyClick();
    EXPECT_EQ(w.view.log[w.view.log.size() - 2], kUsbLine);
    EXPECT_EQ(w.target().kind, TransportKind::pio);
    EXPECT_EQ(w.view.list.size(), 4u);
    EXPECT_FALSE(w.view.buttonsEnabled);
    EXPECT_EQ(w.target().basePort, 0x170) << "the dropped click selected nothing";
  }
}

// The caption carries a download's progress and loses it when the download
// ends; after a Break the log says what the drive is left with.
TEST(MainLogic, ADownloadShowsItsPercentInTheCaptionAndBreakSaysWhatNext) {
  const auto path = std::filesystem::temp_directory_path() / "brisquel-ui-progress.bin";
  {
    const std::vector<std::uint8_t> image = sim::MakeBenchFirmware("NEWFW1", 300);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }
  const std::string plain = "Brisquel - Windows 10 x64";
  {
    // Over PIO the whole image moves sector by sector: so does the figure.
    Window w;
    w.main.rbPIOClick();
    w.main.lbControllersClick(0);
    w.view.events.clear();
    w.view.dialogAnswers.push_back(path.string());
    w.main.btUnlockClick();
    EXPECT_EQ(w.LastLog(), "Firmware revision 05.01C05 -> NEWFW1");
    for (const char* shown : {" - 0%", " - 50%", " - 100%"}) {
      EXPECT_GE(w.view.Find("caption:" + plain + shown), 0) << shown;
    }
    EXPECT_EQ(w.view.caption, plain);
  }
  {
    Window w;
    w.main.lbControllersClick(0);
    w.view.dlmcIndex = 1;  // Segmented (03): 64 blocks a command
    w.view.dialogAnswers.push_back(path.string());
    // Break at the first pump after the progress moved: the one after the
    // second segment's command.
    w.view.onPump = [&](int) {
      if (w.view.caption != plain + " - 0%" && w.view.caption != plain) w.main.btBreakClick();
    };
    w.main.btUnlockClick();
    EXPECT_EQ(w.LastLog(),
              "Stopped by Break after 128 of 300 blocks: the drive keeps its current firmware; "
              "start the download again from the beginning");
    EXPECT_EQ(w.view.caption, plain);
    EXPECT_EQ(w.bench->Drive("sata0")->FirmwareRevision(), "15.01H15");
  }
  std::filesystem::remove(path);
}

TEST(MainLogic, AUsbDrivesFormIsFoundOnceAndSaidAtEachSelection) {
  auto load = sim::Bench::FromText(
      "[drive u]\n[bridge b]\nforms = 16\n[disk]\ndrive = u\nbridge = b\nbus = USB\n"
      "[drive s]\n[disk]\ndrive = s\n");
  ASSERT_TRUE(load.bench) << load.error;
  Window w(std::move(load.bench));
  sim::AtaDrive& drive = *w.bench->Drive("u");
  for (int i = 0; i < 2; ++i) {
    w.main.lbControllersClick(0);
    w.main.lbControllersClick(1);
  }
  w.main.lbControllersClick(0);
  const std::vector<std::string> once = {"Bus Type:USB", "USB bridge answers ATA PASS-THROUGH(16)"};
  const std::vector<std::string> expected = {once[0], once[1], "Bus Type:SATA", once[0], once[1],
                                             "Bus Type:SATA", once[0], once[1]};
  EXPECT_EQ(w.view.log, expected);
  // Only the first selection asked the bridge: A1h was refused, 85h reached the drive.
  EXPECT_EQ(drive.History().size(), 1u);
  EXPECT_TRUE(w.target().use16ByteCdb);
  w.main.btIdentifyClick();
  EXPECT_EQ(drive.History().size(), 2u);
  EXPECT_EQ(w.view.log[w.view.log.size() - 2], "BENCH SATA DRIVE FW:BF1.00 SN:SIM0000001");

  // Another enclosure that refuses 85h: the refused IDENTIFY finds the form again.
  sim::BridgeBehaviour other;
  other.accepts16 = false;
  w.bench->Bridge("b")->Replace(other);
  w.view.log.clear();
  w.main.btIdentifyClick();
  EXPECT_EQ(w.view.log, (std::vector<std::string>{"BENCH SATA DRIVE FW:BF1.00 SN:SIM0000001", ""}));
  EXPECT_FALSE(w.target().use16ByteCdb);
  EXPECT_EQ(drive.History().size(), 3u) << "the refused 85h never reached the drive";
  w.main.lbControllersClick(1);
  w.view.log.clear();
  w.main.lbControllersClick(0);
  EXPECT_EQ(w.view.log, std::vector<std::string>{"Bus Type:USB"})
      << "the first form, A1h in 10 bytes, is said by no line, and the form found again is kept";
}

// A recording the window's clicks do not follow: the difference is said in a
// message box, at a selection as in an operation, and the window goes on.
TEST(MainLogic, ARecordingTheClicksDoNotFollowIsSaidAndTheWindowGoesOn) {
  auto load = sim::Bench::FromRecording("# brisquel recording 1\ntarget drive bus 7\n");
  ASSERT_TRUE(load.bench) << load.error;
  Window w(std::move(load.bench));
  w.main.lbControllersClick(0);  // a USB drive: its bridge's form is asked at once
  ASSERT_EQ(w.view.messages.size(), 1u);
  EXPECT_NE(w.view.messages[0].find("the run differs from the recording"), std::string::npos)
      << w.view.messages[0];
  EXPECT_FALSE(w.view.buttonsEnabled) << "a selection that threw selected nothing";
  w.main.lbControllersDblClick();  // runs Identify only on an armed target
  EXPECT_EQ(w.view.messages.size(), 1u);
  // An operation that differs is said the same way.
  w.main.btIdentifyClick();
  ASSERT_EQ(w.view.messages.size(), 2u);
  EXPECT_NE(w.view.messages[1].find("the run differs from the recording"), std::string::npos);
}

TEST(MainLogic, DownloadButtonsUseTheComboIndexAndTheDialog) {
  const std::string firmware = FirmwareFile("fw.bin");
  struct Case {
    int index;
    std::vector<std::string> log;
    std::optional<std::string> typed = {};  // over the item's text
  };
  for (const Case& c : {
           Case{2,
                {"Download Microcode 07 - brisquel-ui-fw.bin - Start",
                 "Download Microcode 07 - brisquel-ui-fw.bin - End - OK",
                 "Firmware revision 15.01H15 -> NEWFW1"}},
           Case{4, {}},
           Case{-1, {}},
           // A typed text picks no mode, even one that names another item.
           Case{2, {}, "Permanent (7)"},
           Case{2, {}, "Temporary (01)"},
       }) {
    Window w;
    w.main.lbControllersClick(0);
    w.view.log.clear();
    w.view.dlmcIndex = c.index;
    w.view.dlmcText = c.typed;
    w.view.dialogAnswers.push_back(firmware);
    w.main.btUnlockClick();
    EXPECT_EQ(w.view.log, c.log) << c.index << " " << c.typed.value_or("");
  }
  Window w;
  w.main.lbControllersClick(0);
  w.view.log.clear();
  w.view.events.clear();
  w.view.dialogAnswers.push_back(firmware);
  w.main.btReplaceClick();
  EXPECT_GE(w.view.Find("dialog"), 0);
  ASSERT_EQ(w.view.log.size(), 3u);
  EXPECT_EQ(w.view.log[0], "Download Microcode (DPTM) - brisquel-ui-fw.bin - Begin");
  EXPECT_EQ(w.view.log[1], "Download Microcode (DPTM) - brisquel-ui-fw.bin - SUCCESS ");
  EXPECT_EQ(w.view.log[2], "Firmware revision 15.01H15 -> NEWFW1");
  std::filesystem::remove(firmware);
}

}  // namespace
}  // namespace brisquel

namespace brisquel {
namespace {

// A refusing check asks before any file dialog; No sends nothing, Yes sends
// and says so. The disk-in-use refusal and the drive's support bits alike.
TEST(MainLogic, ARefusedDownloadAsksBeforeTheDialogAndLogsTheAnswer) {
  const std::string firmware = FirmwareFile("refused.bin");
  struct Case {
    const char* bench;  // what replaces the SATA drive's and disk's lines
    bool wdDptm;
    const char* why;
  };
  const Case cases[] = {
      {"[drive sata0]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = 15.01H15\ndlmc = no\n", false,
       "the drive says it does not support DOWNLOAD MICROCODE (IDENTIFY word 83 bit 0 is clear)"},
      {"[drive sata0]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = 15.01H15\n"
       "[disk]\ndrive = sata0\nin-use = / is mounted\n",
       true, "\\\\?\\sim#disk#0 is in use (/ is mounted): a drive that resets"},
  };
  for (const Case& c : cases) {
    for (const bool yes : {false, true}) {
      SCOPED_TRACE(std::string(c.why) + (yes ? " / yes" : " / no"));
      std::string text = c.bench;
      if (text.find("[disk]") == std::string::npos) text += "[disk]\ndrive = sata0\n";
      Window w(BenchFrom(text));
      w.main.lbControllersClick(0);
      w.view.log.clear();
      w.view.events.clear();
      w.view.yesNoAnswers.push_back(yes);
      w.view.dialogAnswers.push_back(firmware);
      c.wdDptm ? w.main.btReplaceClick() : w.main.btUnlockClick();
      ASSERT_EQ(w.view.questions.size(), 1u);
      EXPECT_NE(w.view.questions[0].find("Send it anyway?"), std::string::npos);
      const int asked = w.view.Find("ask:" + w.view.questions[0]);
      ASSERT_GE(asked, 0);
      EXPECT_GT(yes ? w.view.Find("dialog") : asked + 1, asked);
      ASSERT_FALSE(w.view.log.empty());
      EXPECT_EQ(w.view.log[0].rfind(yes ? "Sent anyway: " : "Refused: ", 0), 0u) << w.view.log[0];
      EXPECT_NE(w.view.log[0].find(c.why), std::string::npos) << w.view.log[0];
      if (!yes) {
        EXPECT_EQ(w.view.Find("dialog"), -1);
        EXPECT_EQ(w.view.log.size(), 1u);
        EXPECT_EQ(w.bench->Drive("sata0")->FirmwareRevision(), "15.01H15");
      }
    }
  }
  // No refusal, no question.
  Window w;
  w.main.lbControllersClick(0);
  w.view.dialogAnswers.push_back(firmware);
  w.main.btUnlockClick();
  EXPECT_TRUE(w.view.questions.empty());
  EXPECT_EQ(w.LastLog(), "Firmware revision 15.01H15 -> NEWFW1");
}

// The window asks for its file after the unlock: a whole image larger than
// the disk takes in one transfer (3 blocks, 1024 bytes here) is refused right
// after the dialog, on its download's line, and nothing of it is sent.
// Segments are cut to the limit and go.
TEST(MainLogic, AWholeImageLargerThanOneTransferIsRefusedAfterTheDialog) {
  const std::string firmware = FirmwareFile("limit.bin");
  struct Case {
    int index;
    std::vector<std::string> log;
  };
  for (const Case& c : {
           Case{2,
                {"Download Microcode 07 - brisquel-ui-limit.bin - Refused: the image's 3 blocks "
                 "go in one command, more than the 1024 bytes the system takes in one transfer "
                 "to this disk; use Segmented (03) or Deferred (0E), whose segments are cut to "
                 "at most 2 blocks"}},
           Case{1,
                {"Download Microcode 03 - brisquel-ui-limit.bin - Start",
                 "Download Microcode 03 - brisquel-ui-limit.bin - End - OK",
                 "Firmware revision 15.01H15 -> NEWFW1"}},
       }) {
    SCOPED_TRACE(c.index);
    Window w(BenchFrom("[drive sata0]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = 15.01H15\n"
                       "[disk]\ndrive = sata0\nmax-transfer = 1024\n"));
    w.main.lbControllersClick(0);
    w.view.log.clear();
    w.view.events.clear();
    w.view.dlmcIndex = c.index;
    w.view.dialogAnswers.push_back(firmware);
    w.main.btUnlockClick();
    EXPECT_GE(w.view.Find("dialog"), 0);
    EXPECT_EQ(w.view.log, c.log);
    // The vendor unlock went before the dialog, as it always does in the window.
    const auto& history = w.bench->Drive("sata0")->History();
    EXPECT_TRUE(std::any_of(history.begin(), history.end(),
                            [](const auto& command) { return command.command == 0x80; }));
  }
  std::filesystem::remove(firmware);
}

// The system's disk: after the general "Send it anyway?", a second question of
// its own, No by default; only Yes to both sends. 0E, which switches nothing,
// asks only the first.
TEST(MainLogic, TheSystemDiskAsksASecondQuestionOfItsOwn) {
  const std::string firmware = FirmwareFile("system.bin");
  const std::string bench =
      "[drive sata0]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = 15.01H15\ndlmc-offsets = yes\n"
      "[disk]\ndrive = sata0\nin-use = C:\\ is on this disk (the Windows volume)\nsystem = windows\n";
  struct Case {
    int modeIndex;
    std::vector<bool> answers;
    std::size_t questions;
    bool sent;
  };
  const Case cases[] = {
      {2, {true}, 2, false},        // 07, the second question left at its default
      {2, {true, false}, 2, false},
      {2, {false}, 1, false},       // No at the first: no second question
      {2, {true, true}, 2, true},
      {3, {true}, 1, true},         // 0E
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.modeIndex) + " " + std::to_string(c.answers.size()));
    Window w(BenchFrom(bench));
    w.main.lbControllersClick(0);
    w.view.log.clear();
    w.view.dlmcIndex = c.modeIndex;
    for (bool answer : c.answers) w.view.yesNoAnswers.push_back(answer);
    w.view.dialogAnswers.push_back(firmware);
    w.main.btUnlockClick();
    ASSERT_EQ(w.view.questions.size(), c.questions);
    EXPECT_NE(w.view.questions[0].find("Send it anyway?"), std::string::npos);
    if (c.questions == 2) {
      const std::string& second = w.view.questions[1];
      EXPECT_EQ(second.find("Send it anyway?"), std::string::npos);
      EXPECT_EQ(second.rfind("\\\\?\\sim#disk#0 holds the running system, and mode 07", 0), 0u)
          << second;
      EXPECT_NE(second.find("0E then 0F through Windows' firmware interface"), std::string::npos);
      EXPECT_NE(second.find("Send it to the system's disk all the same?"), std::string::npos);
      const bool yes = c.answers.size() > 1 && c.answers[1];
      EXPECT_TRUE(std::find(w.view.log.begin(), w.view.log.end(),
                            (yes ? "Sent anyway: " : "Refused: ") +
                                second.substr(0, second.find(".\n"))) != w.view.log.end());
    }
    EXPECT_EQ(w.view.Find("dialog") >= 0, c.sent);
    EXPECT_EQ(w.bench->Drive("sata0")->FirmwareRevision() != "15.01H15", c.sent && c.modeIndex == 2);
  }
}

}  // namespace
}  // namespace brisquel

namespace brisquel {
namespace {

// An NVMe drive's Identify, the refusal of the vendor download on it, and an
// NVMe drive in a USB enclosure, as the window's clicks run them.
TEST(MainLogic, NvmeDrivesIdentifyAndRefuseTheVendorDownloadBeforeSendingAnything) {
  const std::string nvme =
      "[nvme n]\nmodel = SIM NVMe 1\nserial = SN-N-1\nslots = 2\nslot2 = 2.0\n"
      "active-slot = 2\n";
  struct Case {
    const char* what;
    std::string bench;
    enum Click { identify, dptm } click;
    std::vector<std::string> log;  // after the selection's lines
    std::vector<std::uint8_t> sent;  // the opcodes the controller got
  };
  const char* const dptmWhy =
      "Refused: the vendor download and unlock are ATA commands for SATA drives; an NVMe drive "
      "takes neither";
  const Case cases[] = {
      {"identify", nvme + "[disk]\nnvme = n\nbus = NVMe\n", Case::identify,
       {"SIM NVMe 1 FW:2.0 SN:SN-N-1", ""}, {0x06}},
      {"identify refused by the controller",
       nvme + "refuse-opcode = 06\nrefuse-status = 4002\n[disk]\nnvme = n\nbus = NVMe\n",
       Case::identify,
       {" FW: SN:", "",
        "Identify Controller failed: the controller refused it (generic 02h (invalid field in "
        "command), do not retry)"},
       {0x06}},
      {"wd dptm", nvme + "[disk]\nnvme = n\nbus = NVMe\n", Case::dptm, {dptmWhy}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Window w(BenchFrom(c.bench));
    w.main.lbControllersClick(0);
    EXPECT_EQ(w.view.log, std::vector<std::string>{"Bus Type:NVMe"});
    EXPECT_EQ(w.target().kind, TransportKind::nvme);
    EXPECT_TRUE(w.view.buttonsEnabled);
    w.view.log.clear();
    w.view.dialogAnswers.push_back("never-read.bin");
    switch (c.click) {
      case Case::identify:
        w.main.btIdentifyClick();
        break;
      case Case::dptm:
        w.main.btReplaceClick();
        break;
    }
    EXPECT_EQ(w.view.log, c.log);
    EXPECT_EQ(w.bench->Nvme("n")->History(), c.sent);
    EXPECT_EQ(w.view.Find("dialog"), -1) << "no file is asked for";
  }

  // In a USB enclosure: said at the selection, which arms nothing.
  Window w(BenchFrom(nvme + "[bridge b]\n[disk]\nnvme = n\nbridge = b\nbus = USB\n"));
  w.main.lbControllersClick(0);
  EXPECT_EQ(w.view.log, (std::vector<std::string>{"Bus Type:USB", kNvmeBehindUsbLine}));
  EXPECT_FALSE(w.view.buttonsEnabled);
  EXPECT_TRUE(w.bench->Nvme("n")->History().empty());
}

// DLMC on an NVMe drive with the window's defaults: the lowest writable slot
// that is not the active one, activation at the next reset.
TEST(MainLogic, NvmeUpdatesWithTheWindowsDefaults) {
  const std::string nvme =
      "[nvme n]\nmodel = SIM NVMe 1\nserial = SN-N-1\nslots = 3\nslot1 = 1.0\n"
      "slot1-read-only = yes\nslot2 = 2.0\nactive-slot = 2\n";
  const std::string disk = "[disk]\nnvme = n\nbus = NVMe\n";
  struct Case {
    const char* what;
    std::string bench;
    int modeIndex;  // 0 Temporary, 1 Segmented, 2 Permanent, 3 Deferred, 4 Activate Deferred
    std::deque<bool> answers;
    std::vector<std::string> log;
    int next;
    std::string slot3;
  };
  const std::string start = "Download Microcode 07 - brisquel-ui-nvme.bin - ";
  const Case cases[] = {
      {"07", nvme + disk, 2, {},
       {start + "Start", start + "End - OK",
        "Firmware revision 2.0; NEWFW1 waits in slot 3 for the next reset"},
       3, "NEWFW1"},
      {"0E", nvme + disk, 3, {},
       {"Download Microcode 0E - brisquel-ui-nvme.bin - Start",
        "Download Microcode 0E - brisquel-ui-nvme.bin - End - OK",
        "Firmware revision 2.0; NEWFW1 is stored in slot 3, not activated (0F activates it)"},
       0, "NEWFW1"},
      {"0F", nvme + "slot3 = 3.0\n" + disk, 4, {},
       {"Firmware revision 2.0; 3.0 waits in slot 3 for the next reset"}, 3, "3.0"},
      {"01", nvme + disk, 0, {},
       {"Refused: an NVMe drive has no temporary image (mode 01): use 07, which activates the "
        "image at the next reset"},
       0, ""},
      {"a commit answered 110h", nvme + "refuse-opcode = 10\nrefuse-status = 0110\n" + disk, 2,
       {},
       {start + "Start", start + "End - OK",
        "Firmware revision 2.0; NEWFW1 waits in slot 3 for an NVM subsystem reset"},
       3, "NEWFW1"},
      {"the image refused", nvme + "refuse-opcode = 10\nrefuse-status = 4107\n" + disk, 2, {},
       {start + "Start",
        start + "FAILED: Firmware Commit failed: the controller refused it (command specific 07h "
                "(invalid firmware image), do not retry) (3 of 3 blocks sent)"},
       0, ""},
      {"no firmware commands, not sent", nvme + "firmware-commands = no\n" + disk, 2, {false},
       {"Refused: the controller does not list Firmware Image Download and Commit among its "
        "commands (OACS bit 2 clear)"},
       0, ""},
      {"no firmware commands, sent anyway", nvme + "firmware-commands = no\n" + disk, 2, {true},
       {"Sent anyway: the controller does not list Firmware Image Download and Commit among its "
        "commands (OACS bit 2 clear)",
        start + "Start", start + "End - OK",
        "Firmware revision 2.0; NEWFW1 waits in slot 3 for the next reset"},
       3, "NEWFW1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Window w(BenchFrom(c.bench));
    w.main.lbControllersClick(0);
    w.view.log.clear();
    w.view.dlmcIndex = c.modeIndex;
    w.view.yesNoAnswers = c.answers;
    w.view.dialogAnswers.push_back(FirmwareFile("nvme.bin"));
    w.main.btUnlockClick();
    EXPECT_EQ(w.view.log, c.log);
    EXPECT_EQ(w.bench->Nvme("n")->Identity().activeSlot, 2);
    EXPECT_EQ(w.bench->Nvme("n")->Identity().nextSlot, c.next);
    EXPECT_EQ(w.bench->Nvme("n")->Identity().slotRevisions[2], c.slot3);
    EXPECT_TRUE(w.view.buttonsEnabled);
  }
}

}  // namespace
}  // namespace brisquel
