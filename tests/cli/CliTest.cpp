// brisquel-cli end to end on the simulated bench: the built program, its
// output and its exit codes, as scripts see them.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

// The default bench's three drives, as Identify logs them.
const std::string kSataIdentity = "WDC WD5000AAKX-00SIMB0 FW:15.01H15 SN:WD-WCSIM0000002";
const std::string kIdeIdentity = "WDC WD800BB-00SIMA0 FW:05.01C05 SN:WD-WMSIM0000001";
const std::string kUsbIdentity = "WDC WD10EZEX-00SIMC0 FW:01.01A01 SN:WD-WCSIM0000003";

// A small bench of its own: one IDE channel and one disk on the same drive.
std::string SmallBench(const std::string& driveExtras = "") {
  return "[pci 00:1f.1]\nkind = legacy-ide\n\n"
         "[drive d0]\nmodel = SMALL BENCH DRIVE\nfirmware = SB1.00\nserial = SB0001\n" +
         driveExtras +
         "\n[channel 1F0]\ndevice0 = d0\n\n"
         "[disk]\ndrive = d0\nname = Small Bench Disk\nbus = SATA\n";
}

std::filesystem::path WriteFirmware(const CliRunner& cli, const std::string& name,
                                    const std::string& revision, std::uint32_t blocks) {
  return cli.WriteFile(name, sim::MakeBenchFirmware(revision, blocks));
}

std::string IdentifyLine(const CliRunner& cli, const Args& benchAndTarget) {
  Args args = benchAndTarget;
  args.insert(args.begin() + 1, "identify");
  const CliResult r = cli.Run(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // "Bus Type:..." (API targets), the identity line, an empty line.
  const auto end = r.out.rfind("\n\n");
  const auto start = r.out.rfind('\n', end - 1);
  return r.out.substr(start == std::string::npos ? 0 : start + 1,
                      end - (start == std::string::npos ? 0 : start + 1));
}

TEST(CliListing, ListAndScanShowEveryLineWithItsIndex) {
  CliRunner cli;
  const CliResult list = cli.Run({"--sim", "list"});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out,
            "0\tSATA\tWDC WD5000AAKX-00SIMB0 ATA Device\t\\\\?\\sim#disk#0\n"
            "1\tATA\tWDC WD800BB-00SIMA0 ATA Device\t\\\\?\\sim#disk#1\n"
            "2\tUSB\tWDC WD10EZEX-00SIMC0 USB Device\t\\\\?\\sim#disk#2\n"
            "3\tNVMe\tWDC WDS500G2B0C-00SIMD0\t\\\\?\\sim#disk#3\n");
  EXPECT_EQ(list.err, "");

  const CliResult scan = cli.Run({"--sim", "scan"});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.out,
            "0\t01F0/03F6 - Int ATA: Intel 82801G (ICH7 Family) IDE\n"
            "1\t0170/0376 - Int ATA: Intel 82801G (ICH7 Family) IDE\n"
            "2\t0000/0002 - SATA: Intel 82801GBM/GHM (ICH7 Family) SATA AHCI\n"
            "3\t0000/0002 - SATA: Intel 82801GBM/GHM (ICH7 Family) SATA AHCI\n");
}

TEST(CliIdentify, PrintsTheWindowsLinesOnEveryKindOfTarget) {
  struct Case {
    Args target;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"--drive", "0"}, "Bus Type:SATA\n" + kSataIdentity + "\n\n"},
      {{"--drive", "1"}, "Bus Type:ATA\n" + kIdeIdentity + "\n\n"},
      {{"--drive", "2"}, "Bus Type:USB\n" + kUsbIdentity + "\n\n"},
      {{"--channel", "0"}, kIdeIdentity + "\n\n"},
      {{"--port", "0x1F0"}, kIdeIdentity + "\n\n"},
      {{"--port=1f0"}, kIdeIdentity + "\n\n"},
  };
  CliRunner cli;
  for (const Case& c : cases) {
    Args args = {"--sim", "identify"};
    args.insert(args.end(), c.target.begin(), c.target.end());
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.exitCode, 0) << c.target[0] << "\n" << r.err;
    EXPECT_EQ(r.out, c.out) << c.target[0];
  }
}

TEST(CliDownload, EveryDlmcModeLogsAsTheWindowAndTheBenchRemembers) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "NEW07", 3);
  WriteFirmware(cli, "seg.bin", "SEG03", 150);  // three segments: 64, 64, 22
  WriteFirmware(cli, "later.bin", "LATER0E", 70);
  WriteFirmware(cli, "temp.bin", "TEMP01", 2);
  const std::string sata = "Bus Type:SATA\n";
  auto lines = [&](const std::string& mode, const std::string& file) {
    const std::string prefix = "Download Microcode " + mode + " - " + file + " - ";
    return sata + prefix + "Start\n" + prefix + "End - OK\n";
  };
  const std::string p = "brisquel-cli: ";
  const std::string applied =
      p + "count register after the last segment: 02h (the new microcode is applied)\n";
  const std::string saved =
      p + "count register after the last segment: 03h (saved, waiting for activation)\n";
  struct Step {
    Args args;
    std::string out;
    std::string err;            // the count register and the revision read again
    std::string firmwareAfter;  // what identify shows in the next run
  };
  const std::vector<Step> steps = {
      {{"--mode", "07", "fw.bin"},
       lines("07", "fw.bin"),
       p + "firmware revision 15.01H15 -> NEW07\n",
       "NEW07"},
      {{"--mode", "3", "seg.bin"},
       lines("03", "seg.bin"),
       applied + p + "firmware revision NEW07 -> SEG03\n",
       "SEG03"},
      {{"--mode", "0e", "later.bin"},
       lines("0E", "later.bin"),
       saved + p + "firmware revision SEG03 -> SEG03\n",
       "SEG03"},
      {{"--mode", "0x0F"},
       sata + "Activate Microcode - End - OK\n",
       p + "firmware revision SEG03 -> LATER0E\n",
       "LATER0E"},
      {{"--mode", "01", "temp.bin"},
       lines("01", "temp.bin"),
       p + "firmware revision LATER0E -> TEMP01\n",
       "TEMP01"},
  };
  for (const Step& s : steps) {
    Args args = {"--sim", "dlmc", "--drive", "0"};
    args.insert(args.end(), s.args.begin(), s.args.end());
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.exitCode, 0) << s.args[1] << "\n" << r.err;
    EXPECT_EQ(r.out, s.out) << s.args[1];
    EXPECT_EQ(r.err, s.err) << s.args[1];  // no progress bar on a pipe
    EXPECT_EQ(IdentifyLine(cli, {"--sim", "--drive", "0"}),
              "WDC WD5000AAKX-00SIMB0 FW:" + s.firmwareAfter + " SN:WD-WCSIM0000002")
        << s.args[1];
  }
  // The other drives kept their firmware.
  EXPECT_EQ(IdentifyLine(cli, {"--sim", "--drive", "1"}), kIdeIdentity);
}

TEST(CliDownload, DownloadsReachTheDriveOverPioAndUsbToo) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "VIAPIO", 40);
  CliResult r = cli.Run({"--sim", "dlmc", "--channel", "0", "--mode", "07", "fw.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Download Microcode 07 - fw.bin - Start\nDownload Microcode 07 - fw.bin - End - OK\n");
  EXPECT_EQ(IdentifyLine(cli, {"--sim", "--port", "0x1F0"}),
            "WDC WD800BB-00SIMA0 FW:VIAPIO SN:WD-WMSIM0000001");

  WriteFirmware(cli, "usb.bin", "VIAUSB", 40);
  r = cli.Run({"--sim", "dptm", "--drive", "2", "usb.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "Bus Type:USB\nDownload Microcode (DPTM) - usb.bin - Begin\n"
            "Download Microcode (DPTM) - usb.bin - SUCCESS \n");
  EXPECT_EQ(IdentifyLine(cli, {"--sim", "--drive", "2"}),
            "WDC WD10EZEX-00SIMC0 FW:VIAUSB SN:WD-WCSIM0000003");
}

TEST(CliDownload, EachBenchFileKeepsItsOwnState) {
  CliRunner cli;
  cli.WriteFile("small.bench", SmallBench());
  WriteFirmware(cli, "fw.bin", "SB2.00", 2);
  const CliResult r =
      cli.Run({"--sim=small.bench", "dlmc", "--drive", "0", "--mode", "07", "fw.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(IdentifyLine(cli, {"--sim=small.bench", "--drive", "0"}),
            "SMALL BENCH DRIVE FW:SB2.00 SN:SB0001");
  // Another directory, the same file: still the same bench.
  EXPECT_EQ(IdentifyLine(cli, {"--sim=" + (cli.Dir() / "small.bench").string(), "--port", "1f0"}),
            "SMALL BENCH DRIVE FW:SB2.00 SN:SB0001");
  EXPECT_EQ(IdentifyLine(cli, {"--sim", "--drive", "0"}), kSataIdentity);
  // The default bench, only read, keeps no state.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cli.StateDir()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(CliDownload, TheStateLivesInTheUsersStateDirectoryAndSurvivesDamage) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "HOMEREV", 2);
  // Without XDG_STATE_HOME the state goes under ~/.local/state.
  const CliResult r = cli.Shell(
      "unset XDG_STATE_HOME; \"$CLI\" --sim dlmc --drive 1 --mode 07 fw.bin && "
      "\"$CLI\" --sim identify --drive 1");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("FW:HOMEREV"), std::string::npos) << r.out;
  EXPECT_TRUE(
      std::filesystem::exists(cli.Dir() / "home/.local/state/brisquel/bench-default.state"));

  // A damaged state file: a warning, and the bench as described.
  std::filesystem::create_directories(cli.StateDir());
  cli.WriteFile("state/brisquel/bench-default.state", "[ide0 WD-WMSIM0000001]\nactive=\x01\n");
  const CliResult damaged = cli.Run({"--sim", "identify", "--drive", "1"});
  EXPECT_EQ(damaged.exitCode, 0);
  EXPECT_EQ(damaged.out, "Bus Type:ATA\n" + kIdeIdentity + "\n\n");
  EXPECT_NE(damaged.err.find("warning"), std::string::npos) << damaged.err;
  // ... which the run then writes anew.
  EXPECT_EQ(cli.Run({"--sim", "identify", "--drive", "1"}).err, "");
}

TEST(CliDownload, ARunThatChangesNothingLeavesTheStateFileAlone) {
  CliRunner cli;
  const auto file = cli.StateDir() / "bench-default.state";
  const Args readOnly[] = {{"--sim", "list"},
                           {"--sim", "scan"},
                           {"--sim", "info", "--drive", "0"},
                           {"bench", "image", "R", "1", "fw.bin"}};
  for (const Args& args : readOnly) {
    ASSERT_EQ(cli.Run(args).exitCode, 0) << args[1];
    EXPECT_FALSE(std::filesystem::exists(file)) << args[1] << " wrote a state file";
  }
  ASSERT_EQ(cli.Run({"--sim", "dlmc", "--drive", "0", "--mode", "07", "fw.bin"}).exitCode, 0);
  const std::filesystem::file_time_type longAgo{};
  std::filesystem::last_write_time(file, longAgo);
  ASSERT_EQ(cli.Run({"--sim", "identify", "--drive", "0"}).exitCode, 0);
  EXPECT_EQ(std::filesystem::last_write_time(file), longAgo);
}

TEST(CliErrorName, NamesCodesGivenInHex) {
  CliRunner cli;
  const CliResult r = cli.Run({"error-name", "0", "0x51a4", "55AB", "0016", "FFFF", "0X7F01"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "0000\tSUCCESS\n"
            "51A4\tDISK_ER_FWECC_FAILURE\n"
            "55AB\tSIO_ERROR_CODE_BASE\n"
            "0016\tUNKNOWN ERROR_0016\n"
            "FFFF\tNOT_AN_ERR_VSC_CMD_EXEC_IN_BKG\n"
            "7F01\tPTM_ERR_INV_VEC_TBL_VER\n");
}

// Exit codes: 1 the drive said no, 2 the request was refused before anything
// was sent, with one line on stderr saying why.
TEST(CliExitCodes, FailuresAndRefusals) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "NEW", 2);
  cli.WriteFile("junk.bin", std::string(1000, 'x'));
  cli.WriteFile("empty.bin", "");
  cli.WriteFile("broken.bench", "[drive d0]\nmodel = X\nfrobnicate = 1\n");
  cli.WriteFile("deaf.bench", SmallBench("abort-command = EC\n"));
  cli.WriteFile("vendor.bench", SmallBench("vendor-primary-code = B002\n"));
  {
    // Oversized: one byte more than TransferBuffer's whole blocks.
    std::filesystem::path big = cli.Dir() / "big.bin";
    cli.WriteFile("big.bin", "");
    std::filesystem::resize_file(big, 16u * 1024 * 1024 + 1);
  }
  struct Case {
    Args args;
    int exitCode;
    std::string errContains;  // empty: stderr says nothing (the log line is the report)
    std::string lastOutLine;  // checked when not empty
  };
  const std::vector<Case> cases = {
      // The drive refuses an image that is not firmware for it.
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "junk.bin"},
       1,
       "",
       "Download Microcode 07 - junk.bin - FAILED: the drive aborted DOWNLOAD MICROCODE (0 of 2 "
       "blocks sent; vendor status: DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET - "
       "FM_ERR_NOT_FLASH_FILE)"},
      {{"--sim", "dptm", "--drive", "0", "junk.bin"},
       1,
       "",
       "Download Microcode (DPTM) - junk.bin - FAILED: the drive reported an error (1 of 1 "
       "sectors sent; vendor status: DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET - "
       "FM_ERR_NOT_FLASH_FILE)"},
      {{"--sim=deaf.bench", "identify", "--drive", "0"},
       1,
       "",
       "IDENTIFY DEVICE failed: the drive aborted it (status 41h, error 04h)"},
      {{"--sim=vendor.bench", "dptm", "--channel", "0", "fw.bin"},
       1,
       "",
       "Download Microcode (DPTM) - fw.bin - FAILED: the drive refused the download key sector (0 "
       "of 0 sectors sent; vendor status: VSC_ERR_VSC_CMD_SET_NOT_ENABLED)"},
      // Activation with nothing deferred: no log line, but a failure.
      {{"--sim", "dlmc", "--drive", "0", "--mode", "0F"}, 1, "did not activate", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "missing.bin"}, 2, "cannot read", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "."}, 2, "cannot read", ""},
      {{"--sim", "dptm", "--drive", "0", "big.bin"}, 2, "16777217 bytes", ""},
      // Nothing to send is no success: refused before any drive is touched.
      {{"--sim", "dlmc", "--drive", "0", "--mode", "03", "empty.bin"}, 2, "the file is empty", ""},
      {{"--sim", "dptm", "--drive", "0", "empty.bin"}, 2, "the file is empty", ""},
      {{"--sim", "identify", "--drive", "4"}, 2, "no line 4 in `list` (it has 4)", ""},
      {{"--sim", "identify", "--channel", "9"}, 2, "no line 9 in `scan` (it has 4)", ""},
      {{"--sim", "identify", "--channel", "2"}, 2, "no usable task-file port", ""},
      {{"--sim", "identify", "--port", "0x60"}, 2, "not a task-file base port", ""},
      {{"--sim=broken.bench", "list"}, 2, "broken.bench: line 3", ""},
      {{"--sim=nowhere.bench", "list"}, 2, "nowhere.bench", ""},
      {{}, 2, "no command given", ""},
      {{"--sim", "frob"}, 2, "unknown command", ""},
      {{"--sim", "list", "--bogus"}, 2, "unknown option --bogus", ""},
      {{"--sim", "identify"}, 2, "needs a target", ""},
      {{"--sim", "identify", "--drive", "0", "--port", "1F0"}, 2, "one target", ""},
      {{"--sim", "list", "--drive", "0"}, 2, "takes no target", ""},
      {{"--sim", "dlmc", "--drive", "0", "fw.bin"}, 2, "needs --mode", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "05", "fw.bin"}, 2, "--mode must be", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07"}, 2, "needs a firmware FILE", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "0F", "fw.bin"}, 2, "takes no file", ""},
      {{"--sim", "dptm", "--drive", "0", "fw.bin", "more.bin"}, 2, "unexpected argument", ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "--force-system-disk", "fw.bin"},
       2,
       "--force-system-disk goes with --force",
       ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "07", "--via", "system", "fw.bin"},
       2,
       "--via belongs to dlmc --mode 0E or 0F",
       ""},
      {{"--sim", "dlmc", "--drive", "0", "--mode", "0E", "--via", "usb", "fw.bin"},
       2,
       "--via takes passthrough or system (got \"usb\")",
       ""},
      {{"--sim", "dptm", "--drive", "0", "--force", "--force-system-disk", "fw.bin"},
       2,
       "--force-system-disk belongs to dlmc",
       ""},
      {{"error-name"}, 2, "at least one CODE", ""},
      {{"error-name", "10000"}, 2, "not a 16-bit", ""},
      {{"error-name", "0xG1"}, 2, "not a 16-bit", ""},
  };
  for (const Case& c : cases) {
    const CliResult r = cli.Run(c.args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.out << r.err;
    if (c.errContains.empty()) {
      EXPECT_EQ(r.err, "") << line;
    } else {
      EXPECT_NE(r.err.find(c.errContains), std::string::npos) << line << "\n" << r.err;
    }
    if (c.exitCode == 2) {
      EXPECT_EQ(r.out, "") << line;  // nothing was sent, nothing logged
    }
    if (!c.lastOutLine.empty()) {
      ASSERT_GE(r.out.size(), 1u) << line;
      std::string out = r.out.substr(0, r.out.size() - 1);
      if (out.size() >= 1 && out.back() == '\n') out.pop_back();  // Identify's empty line
      EXPECT_EQ(out.substr(out.rfind('\n') + 1), c.lastOutLine) << line;
    }
  }
}

TEST(CliInterrupt, CtrlCBreaksAWaitAndExitsWithThree) {
  CliRunner cli;
  // A bench clock so slow that the wait's time limit never comes in a test's time.
  cli.WriteFile("busy.bench",
                "[library]\nreads-per-ms = 4000000000\n\n" + SmallBench("stay-busy = yes\n"));
  // The drive never gets ready, and the PIO wait runs until Break. The signal
  // is sent once the trace shows the command gone out, so it lands inside the
  // operation however loaded the machine is.
  const CliResult kept = cli.Shell(
      "\"$CLI\" --sim=busy.bench --trace=trace.txt identify --port 0x1F0 </dev/null & pid=$!; "
      "for i in $(seq 600); do grep -q '^-> ' trace.txt 2>/dev/null && break; sleep 0.05; done; "
      "kill -INT $pid; wait $pid");
  EXPECT_EQ(kept.exitCode, 3) << kept.err;
  // Break ends the wait where the window's would: the line is still written.
  EXPECT_EQ(kept.out, " FW: SN:\n\n");
  EXPECT_NE(kept.err.find("interrupted"), std::string::npos);
}

// Ctrl-C in the wait after the image's last sector: the download was sent,
// and the JSON still says how it ended.
TEST(CliInterrupt, CtrlCAfterTheLastCommandKeepsTheDownloadInTheJson) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "NEW", 2);
  cli.WriteFile("flash.bench", "[library]\nreads-per-ms = 4000000000\n\n" +
                                   SmallBench("flash-seconds = 1000000\n"));
  const CliResult r = cli.Shell(
      "\"$CLI\" --sim=flash.bench --trace=trace.txt --json dlmc --port 0x1F0 --mode 07 --yes fw.bin "
      "</dev/null >out.json & pid=$!; "
      "for i in $(seq 600); do grep -q '^-> .* 92 ' trace.txt 2>/dev/null && break; sleep 0.05; "
      "done; kill -INT $pid; wait $pid");
  EXPECT_EQ(r.exitCode, 3) << r.err;
  const std::string json = cli.ReadFile("out.json");
  EXPECT_NE(json.find("\"download\": {"), std::string::npos) << json;
  EXPECT_NE(json.find("\"interrupted\": true"), std::string::npos) << json;
}

TEST(CliConsent, ALastingDownloadToARealDriveNeedsConsent) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "NEW", 2);
  // No terminal to ask on: refused before any hardware is touched.
  for (const Args& args : std::vector<Args>{{"dlmc", "--port", "0x1F0", "--mode", "07", "fw.bin"},
                                            {"dlmc", "--port", "0x1F0", "--mode", "0E", "fw.bin"},
                                            {"dlmc", "--port", "0x1F0", "--mode", "0F"},
                                            {"dptm", "--port", "0x1F0", "fw.bin"}}) {
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.exitCode, 2) << args[3];
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // On a terminal the question comes after IDENTIFY and names the drive, what
  // it runs and the file; "no" sends nothing, nor does "y": only "yes" is yes.
  for (const char* answer : {"no", "y"}) {
    const CliResult asked = cli.Shell(std::string("printf '") + answer +
                                      "\\n' | script -qec '\"$CLI\" --sim --ask dlmc --drive 0 "
                                      "--mode 07 fw.bin' /dev/null");
    EXPECT_NE(asked.out.find("(--drive 0, "), std::string::npos) << asked.out;
    EXPECT_NE(asked.out.find("model: WDC WD5000AAKX-00SIMB0, serial WD-WCSIM0000002, firmware "
                             "15.01H15"),
              std::string::npos)
        << asked.out;
    EXPECT_NE(asked.out.find("fw.bin (1024 bytes)"), std::string::npos) << asked.out;
    EXPECT_NE(asked.out.find("not confirmed"), std::string::npos) << asked.out;
    EXPECT_EQ(asked.out.find("Download Microcode"), std::string::npos) << asked.out;
  }
  // Ctrl-C at the question (or, on a slow machine, before it): exit 3, and
  // nothing sent after it. The program replaces script's shell, which would
  // otherwise take the signal too (dash dies of it) and hide the exit code.
  const CliResult stopped = cli.Shell(
      "(sleep 1; printf '\\003') | script -qec 'exec \"$CLI\" --sim --ask dlmc --drive 0 --mode 07 "
      "fw.bin' /dev/null");
  EXPECT_EQ(stopped.exitCode, 3) << stopped.out;
  EXPECT_EQ(stopped.out.find("Download Microcode"), std::string::npos) << stopped.out;
}

TEST(CliProgress, ABarOnATerminalNothingOnAPipe) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "BAR", 130);
  const CliResult r = cli.Shell(
      "script -qec '\"$CLI\" --sim dlmc --drive 0 --mode 03 fw.bin' /dev/null </dev/null");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("[##############################] 130/130 blocks  100%"), std::string::npos)
      << r.out;
  // The bar ends on its own line, before the closing log line.
  EXPECT_NE(r.out.find("100%\r\nDownload Microcode 03 - fw.bin - End - OK"), std::string::npos)
      << r.out;

  // Behind the USB bridge too, where the 12-byte command block goes out with
  // CdbLength 10.
  const CliResult usb = cli.Shell(
      "script -qec '\"$CLI\" --sim dlmc --drive 2 --mode 03 fw.bin' /dev/null </dev/null");
  EXPECT_NE(usb.out.find("] 130/130 blocks  100%"), std::string::npos) << usb.out;

  // The vendor download counts what the drive asks for, not what the file holds.
  cli.WriteFile("asks64.bench", SmallBench("vendor-requested-sectors = 64\n"));
  const CliResult dptm = cli.Shell(
      "script -qec '\"$CLI\" --sim=asks64.bench dptm --channel 0 fw.bin' /dev/null </dev/null");
  EXPECT_NE(dptm.out.find("] 64/64 sectors  100%"), std::string::npos) << dptm.out;

  // A whole image over PIO is one command of many sectors: the bar moves
  // with each of them, not only when the command ends.
  WriteFirmware(cli, "big.bin", "BIG", 30000);
  const CliResult pio = cli.Shell(
      "script -qec '\"$CLI\" --sim dlmc --channel 0 --mode 07 big.bin' /dev/null </dev/null");
  EXPECT_EQ(pio.exitCode, 0) << pio.out;
  EXPECT_NE(pio.out.find("] 30000/30000 blocks  100%"), std::string::npos) << pio.out;
  bool midway = false;
  const std::regex counted("\\] ([0-9]+)/30000 blocks");
  for (auto it = std::sregex_iterator(pio.out.begin(), pio.out.end(), counted);
       it != std::sregex_iterator(); ++it) {
    const int sent = std::stoi((*it)[1]);
    midway = midway || (sent > 0 && sent < 30000);
  }
  EXPECT_TRUE(midway) << pio.out;

  const CliResult piped = cli.Run({"--sim", "dlmc", "--drive", "0", "--mode", "03", "fw.bin"});
  EXPECT_EQ(piped.err.find('%'), std::string::npos) << piped.err;
  EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
}

// Each document must parse with a standard JSON parser; a few fields are
// read back to show it holds the results.
// --trace: a line as each command goes out and one as it comes back, on every
// transport, with what the drive or the bridge answered.
TEST(CliTrace, EveryCommandOutAndBackOnEachTransport) {
  CliRunner cli;
  // device 1 of a channel: the trace shows the device byte the channel got (B0)
  cli.WriteFile("device1.bench", "[pci 00:1f.1]\nkind = legacy-ide\n\n"
                                 "[drive d1]\nmodel = DEVICE ONE\nfirmware = D1\nserial = D1\n\n"
                                 "[channel 1F0]\ndevice1 = d1\n");
  struct Case {
    Args args;
    std::string out, back;
  };
  const Case cases[] = {
      {{"--sim=device1.bench", "--port", "0x1F0", "--device", "1"},
       "-> PIO 01F0.1  EC feat 00 count 01 lba 000000 dev B0, in 512 bytes",
       "<- PIO 01F0.1  status 50 error 00: completed, 512 bytes in "},
      {{"--drive", "0"},
       "-> ATA-PT      EC feat 00 count 01 lba 000000 dev A0, in 512 bytes, limit 5 s",
       "<- ATA-PT      status 50 error 00: completed, 512 bytes in "},
      {{"--drive", "2"},
       "-> SAT-12-10   EC feat 00 count 01 lba 000000 dev A0, in 512 bytes, limit 5 s",
       "<- SAT-12-10   good: completed, 512 bytes in "},
      {{"--port", "0x1F0"},
       "-> PIO 01F0.0  EC feat 00 count 01 lba 000000 dev A0, in 512 bytes",
       "<- PIO 01F0.0  status 50 error 00: completed, 512 bytes in "},
  };
  for (const Case& c : cases) {
    // The default bench unless the case names its own.
    const bool ownBench = c.args.front().starts_with("--sim=");
    Args args = {ownBench ? c.args.front() : "--sim", "--trace", "identify"};
    args.insert(args.end(), c.args.begin() + (ownBench ? 1 : 0), c.args.end());
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.rfind(c.out + "\n" + c.back, 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" ms\n"), std::string::npos) << r.err;
  }

  // A refused command says what refused it; --trace=FILE appends there.
  cli.WriteFile("abort.bench", SmallBench("abort-command = EC\n"));
  const CliResult r =
      cli.Run({"--sim=abort.bench", "--trace=trace.txt", "identify", "--port", "0x1F0"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "");
  const std::string trace = cli.ReadFile("trace.txt");
  EXPECT_NE(trace.find("<- PIO 01F0.0  status 41 error 04: error, 0 bytes in "), std::string::npos)
      << trace;
}

// A firmware write gets two minutes: a drive that takes 30 s to flash is
// waited for; one that takes longer than the limit ends the download with
// nothing more sent to it (the trace's last command is the write).
TEST(CliTrace, AFirmwareWriteGoesOutWithItsLimitAndAnExpiredOneEndsTheDownload) {
  CliRunner cli;
  WriteFirmware(cli, "fw.bin", "SLOW07", 3);
  const std::string dlmcOut =
      "-> ATA-PT      92 feat 07 count 03 lba 000000 dev A0, out 1536 bytes, limit 120 s, "
      "ck_cond\n";
  const std::string prefix = "Download Microcode 07 - fw.bin - ";

  cli.WriteFile("slow.bench", SmallBench("flash-seconds = 30\n"));
  CliResult r = cli.Run({"--sim=slow.bench", "--trace=ok.txt", "dlmc", "--drive", "0", "--mode",
                         "07", "fw.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(prefix + "End - OK\n"), std::string::npos) << r.out;
  EXPECT_NE(cli.ReadFile("ok.txt").find(dlmcOut), std::string::npos) << cli.ReadFile("ok.txt");

  cli.WriteFile("slower.bench", SmallBench("flash-seconds = 121\n"));
  r = cli.Run({"--sim=slower.bench", "--trace=expired.txt", "dlmc", "--drive", "0", "--mode", "07",
               "fw.bin"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  // The small bench's drive is no WDC drive: it gets no vendor unlock.
  EXPECT_EQ(r.out, "Bus Type:SATA\nVendor unlock left out: not a WDC drive\n" + prefix +
                       "Start\nIOCTL_ATA_PASS_THROUGH The semaphore timeout period has expired\n" +
                       prefix + "FAILED: the command's time limit expired (0 of 3 blocks sent)\n");
  const std::string trace = cli.ReadFile("expired.txt");
  const std::size_t write = trace.find(dlmcOut);
  ASSERT_NE(write, std::string::npos) << trace;
  EXPECT_EQ(trace.find("-> ", write + 1), std::string::npos) << trace;
  EXPECT_NE(trace.find("system error 121 (The semaphore timeout period has expired): time limit "
                       "expired, 0 bytes in ",
                       write),
            std::string::npos)
      << trace;
}

TEST(CliJson, EveryCommandGivesOneParsableDocument) {
  CliRunner cli;
  WriteFirmware(cli, "fw \"q\" \\ \xc3\xa9\xff.bin", "JSON1", 2);
  cli.WriteFile("seg.ini", SmallBench("segment-min = 0\n"));
  struct Case {
    std::string args;  // shell words after "$CLI --json"
    std::string python;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"--sim list", "[x['busType'] for x in d['drives']], d['exitCode']",
       "['SATA', 'ATA', 'USB', 'NVMe'] 0"},
      {"--sim scan", "d['channels'][1]['basePort'], d['channels'][1]['line']",
       "0170 0170/0376 - Int ATA: Intel 82801G (ICH7 Family) IDE"},
      {"--sim identify --drive 2",
       "d['identity']['serial'], d['log'][0], d['target']['drive']['busType']",
       "WD-WCSIM0000003 Bus Type:USB USB"},
      {"--sim dlmc --drive 0 --mode 07 fw*.bin", "d['download']['ok'], d['log'][1]",
       "True Download Microcode 07 - fw \"q\" \\ \u00e9\u00ff.bin - Start"},
      {"--sim dlmc --drive 0 --mode 0F", "d['activated'], d['exitCode']", "False 1"},
      {"error-name 51A4 16", "d['codes'][1]['name']", "UNKNOWN ERROR_0016"},
      // Yes and no are booleans, what the drive leaves unsaid null; every document says its schema.
      {"--sim=seg.ini info --drive 0",
       "d['schema'], d['info']['dlmcSupported'], d['info']['segmentMinBlocks'], list(d)[0]",
       "2 True None schema"},
      {"--sim identify --drive 5", "d['exitCode'], len(d['errors'])", "2 1"},
      {"--bogus", "d['exitCode'], d['log']", "2 []"},
  };
  // One parser run reads every document back: python3 starts slowly.
  std::string commands;
  std::string checks = "import json\n";
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string n = std::to_string(i);
    commands +=
        "\"$CLI\" --json " + cases[i].args + " >doc" + n + ".json; echo $? >code" + n + "; ";
    checks += "d = json.load(open('doc" + n +
              ".json', encoding='utf-8'))\n"
              "assert d['exitCode'] == int(open('code" +
              n + "').read()), " + n +
              "\n"
              "print(*(" +
              cases[i].python + ",))\n";
  }
  cli.WriteFile("check.py", checks);
  const CliResult r = cli.Shell(commands + "python3 check.py");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    CliRunner::KeepJson(cli.ReadFile("doc" + std::to_string(i) + ".json"));
  }
  std::istringstream lines(r.out);
  for (const Case& c : cases) {
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, c.expected) << c.args;
  }
  // The standard tool agrees. The same image again leaves the revision as it was.
  const CliResult tool =
      cli.Shell("\"$CLI\" --json --sim dlmc --drive 0 --mode 07 fw*.bin | python3 -m json.tool");
  EXPECT_EQ(tool.exitCode, 0) << tool.err;
  EXPECT_NE(tool.out.find("\"exitCode\": 4"), std::string::npos) << tool.out;
  EXPECT_NE(
      tool.out.find(
          "\"before\": \"JSON1\",\n        \"after\": \"JSON1\",\n        \"unchanged\": true"),
      std::string::npos)
      << tool.out;
}

}  // namespace
}  // namespace brisquel::cli::test
