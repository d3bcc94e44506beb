// --record and a recording played back with --sim=FILE: the same command line
// gives the same lines and exit code, on every transport; what differs from
// the recording ends the run; the fixtures kept in tests/data/recordings
// replay as they did when they were made.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

const std::string kRecordings = BRISQUEL_TEST_DATA "/recordings/";
const std::string kExamples = BRISQUEL_TEST_DATA "/../../bench-files/";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

Args With(Args args, const std::string& first) {
  args.insert(args.begin(), first);
  return args;
}

// A run on its bench, recorded, and the recording played back with the same
// command line: stdout and the exit code are the run's.
TEST(RecordingReplay, EachTransportReplaysToTheSameLinesAndExitCode) {
  CliRunner cli;
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("REC1", 130));
  cli.WriteFile("aborting.ini", "[drive d]\nabort-command = 92\n[channel 1F0]\ndevice0 = d\n"
                                "[disk]\ndrive = d\n");
  cli.WriteFile("two.ini", "[drive a]\nmodel = FIRST\n[drive b]\nmodel = SECOND\n"
                           "[channel 1F0]\ndevice0 = a\ndevice1 = b\n");
  struct Case {
    std::string bench;
    Args args;
    int exitCode;
  };
  const std::string refusing = "--sim=" + kExamples + "refusing-bridge.ini";
  const Case cases[] = {
      {"--sim", {"identify", "--drive", "0"}, 0},
      {"--sim", {"identify", "--drive", "2"}, 0},
      {"--sim", {"identify", "--port", "0x1F0"}, 0},
      {"--sim", {"info", "--drive", "2"}, 0},
      {"--sim", {"dlmc", "--drive", "2", "--mode", "03", "fw.bin"}, 0},
      {"--sim", {"dlmc", "--port", "0x1F0", "--mode", "07", "fw.bin"}, 0},
      // The channel's second device: recorded with the DEV bit it was sent with.
      {"--sim=two.ini", {"identify", "--port", "0x1F0", "--device", "1"}, 0},
      {refusing, {"identify", "--drive", "0"}, 1},
      {"--sim=aborting.ini", {"dlmc", "--drive", "0", "--mode", "03", "fw.bin"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bench + " " + c.args[0] + " " + c.args[2]);
    Args record = With(c.args, "--record=run.rec");
    record.insert(record.begin(), c.bench);
    const CliResult run = cli.Run(record);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    const std::string recording = cli.ReadFile("run.rec");
    ASSERT_EQ(recording.rfind("# brisquel recording 2\n", 0), 0u) << recording;
    // The recorded drive is the replay bench's only one.
    Args again = c.args;
    if (again[1] == "--drive") again[2] = "0";
    const CliResult replay = cli.Run(With(again, "--sim=run.rec"));
    EXPECT_EQ(replay.exitCode, run.exitCode) << replay.err;
    // The serial number is masked in the recording, so it reads as Xs there.
    std::string expected = run.out;
    for (const char* serial : {"WD-WCSIM0000002", "WD-WMSIM0000001", "WD-WCSIM0000003",
                               "WD-WCSIM0000031", "SIM0000001"}) {
      for (auto at = expected.find(serial); at != std::string::npos; at = expected.find(serial)) {
        expected.replace(at, std::string(serial).size(), std::string(std::string(serial).size(), 'X'));
      }
    }
    EXPECT_EQ(replay.out, expected);
    EXPECT_FALSE(Contains(recording, "WD-WCSIM")) << "the serial went into the recording";
    cli.Run({c.bench, "bench", "reset"});
  }
}

TEST(RecordingReplay, RecordSerialKeepsItAndADifferingCommandEndsTheRun) {
  CliRunner cli;
  const CliResult run = cli.Run({"--sim", "--record=ide.rec", "--record-serial", "identify",
                                 "--drive", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string recording = cli.ReadFile("ide.rec");
  EXPECT_EQ(cli.Run({"--sim=ide.rec", "identify", "--drive", "0"}).out, run.out);

  // info reads IDENTIFY as identify does; a download sends more than was recorded.
  const CliResult more = cli.Run({"--sim=ide.rec", "dlmc", "--drive", "0", "--mode", "0F"});
  EXPECT_EQ(more.exitCode, 2);
  EXPECT_TRUE(Contains(more.err, "brisquel-cli: the run differs from the recording: command 2 "
                                 "goes out, and the recording holds 1"))
      << more.err;

  // An edited recording: IDENTIFY went out with another device register.
  std::string edited = recording;
  const auto at = edited.find(" A0 EC ");
  ASSERT_NE(at, std::string::npos) << recording;
  edited.replace(at, 7, " B0 EC ");
  cli.WriteFile("edited.rec", edited);
  const CliResult differs = cli.Run({"--sim=edited.rec", "identify", "--drive", "0"});
  EXPECT_EQ(differs.exitCode, 2);
  EXPECT_TRUE(Contains(differs.err, "the run differs from the recording at command 1: registers "
                                    "00 01 00 00 00 A0 EC, recorded 00 01 00 00 00 B0 EC"))
      << differs.err;

  cli.WriteFile("broken.rec", "# brisquel recording 1\ntarget drive bus 7\n> scsi\n");
  const CliResult broken = cli.Run({"--sim=broken.rec", "list"});
  EXPECT_EQ(broken.exitCode, 2);
  EXPECT_TRUE(Contains(broken.err, "broken.rec: line 3: ")) << broken.err;
  EXPECT_EQ(cli.Run({"--sim", "--record=x.rec", "list"}).exitCode, 2);
  EXPECT_EQ(cli.Run({"--sim", "--record-serial", "identify", "--drive", "0"}).exitCode, 2);
}

// Recordings made on the benches (tests/data/recordings, made with --record
// as a user would send them) play back to the lines and exit code of the run.
TEST(RecordingReplay, TheKeptRecordingsReplayAsTheirRunsWent) {
  CliRunner cli;
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("NEW1", 40));
  struct Case {
    std::string file;
    Args args;
    int exitCode;
    std::string out;
  };
  const std::string masked = "SN:XXXXXXXXXXXXXXX\n\n";
  const Case cases[] = {
      {"sata-identify.rec", {"identify", "--drive", "0"}, 0,
       "Bus Type:SATA\nWDC WD5000AAKX-00SIMB0 FW:15.01H15 " + masked},
      {"usb-identify.rec", {"identify", "--drive", "0"}, 0,
       "Bus Type:USB\nWDC WD10EZEX-00SIMC0 FW:01.01A01 " + masked},
      {"pio-identify.rec", {"identify", "--port", "0x1F0"}, 0,
       "WDC WD800BB-00SIMA0 FW:05.01C05 " + masked},
      {"refusing-bridge.rec", {"identify", "--drive", "0"}, 1,
       "Bus Type:USB\n FW: SN:\n\nIDENTIFY DEVICE failed: the USB bridge refused it in every form "
       "of ATA PASS-THROUGH (12 sent as 10 bytes, 12, 16) (sense key 5, ASC 20h: invalid command "
       "operation code)\n"},
      {"failed-download.rec", {"dlmc", "--drive", "0", "--mode", "07", "fw.bin"}, 1,
       "Bus Type:ATA\nDownload Microcode 07 - fw.bin - Start\nDownload Microcode 07 - fw.bin - "
       "FAILED: the drive aborted DOWNLOAD MICROCODE (0 of 40 blocks sent)\n"},
      {"usb-download.rec", {"dlmc", "--drive", "0", "--mode", "03", "fw.bin"}, 0,
       "Bus Type:USB\nDownload Microcode 03 - fw.bin - Start\nDownload Microcode 03 - fw.bin - "
       "End - OK\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const CliResult r = cli.Run(With(c.args, "--sim=" + kRecordings + c.file));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
  const CliResult counted = cli.Run(
      {"--sim=" + kRecordings + "usb-download.rec", "dlmc", "--drive", "0", "--mode", "03",
       "fw.bin"});
  EXPECT_TRUE(Contains(counted.err, "count register after the last segment: 02h")) << counted.err;
}

}  // namespace
}  // namespace brisquel::cli::test
