// What a package user has for the bench: `bench image`, `bench reset`,
// `bench power-cycle`, and the example bench files, each doing what its
// comment says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

const std::string kExamples = BRISQUEL_TEST_DATA "/../../bench-files/";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CliBench, AnImageMadeByTheProgramUpdatesTheBenchAndResetForgetsIt) {
  CliRunner cli;
  const std::string image = (cli.Dir() / "fw.bin").string();
  const CliResult made = cli.Run({"bench", "image", "NEW2.00", "130", image});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(made.out, "Wrote " + image + ": bench firmware NEW2.00, 130 blocks (66560 bytes)\n");
  const std::vector<std::uint8_t> expected = sim::MakeBenchFirmware("NEW2.00", 130);
  EXPECT_EQ(cli.ReadFile("fw.bin"), std::string(expected.begin(), expected.end()));

  const CliResult flashed = cli.Run({"--sim", "dlmc", "--drive", "0", "--mode", "07", image});
  EXPECT_EQ(flashed.exitCode, 0) << flashed.err;
  EXPECT_TRUE(Contains(flashed.err, "firmware revision 15.01H15 -> NEW2.00")) << flashed.err;
  EXPECT_TRUE(Contains(cli.Run({"--sim", "identify", "--drive", "0"}).out, "FW:NEW2.00 "));

  const CliResult reset = cli.Run({"--sim", "bench", "reset"});
  EXPECT_EQ(reset.exitCode, 0) << reset.err;
  EXPECT_TRUE(Contains(reset.out, "bench-default.state removed")) << reset.out;
  EXPECT_TRUE(Contains(cli.Run({"--sim", "identify", "--drive", "0"}).out, "FW:15.01H15 "));
  // Without --sim it is the default bench too; a second reset has nothing left.
  const CliResult again = cli.Run({"bench", "reset"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_TRUE(Contains(again.out, "remembers nothing yet")) << again.out;
}

// A power cycle brings what waits for a reset and drops what does not last:
// the NVMe image waiting in slot 2 runs, the temporary image goes, and the
// next run sees it (the state file keeps it).
TEST(CliBench, APowerCycleRunsWhatWaitsForTheResetAndDropsTheTemporaryImage) {
  CliRunner cli;
  cli.Run({"bench", "image", "NEWNV1", "16", "nv.bin"});
  cli.Run({"bench", "image", "TEMP1", "8", "temp.bin"});
  ASSERT_EQ(cli.Run({"--sim", "dlmc", "--drive", "3", "--mode", "07", "nv.bin", "--yes"}).exitCode, 0);
  ASSERT_EQ(cli.Run({"--sim", "dlmc", "--drive", "1", "--mode", "01", "temp.bin", "--yes"}).exitCode, 0);
  ASSERT_TRUE(Contains(cli.Run({"--sim", "identify", "--drive", "1"}).out, "FW:TEMP1 "));

  const CliResult cycled = cli.Run({"--json", "bench", "power-cycle"});
  EXPECT_EQ(cycled.exitCode, 0) << cycled.err;
  EXPECT_TRUE(Contains(cycled.out, R"({
      "name": "ide0",
      "before": "TEMP1",
      "after": "05.01C05"
    },)")) << cycled.out;
  EXPECT_TRUE(Contains(cycled.out, R"({
      "name": "nvme0",
      "before": "211070WD",
      "after": "NEWNV1"
    })")) << cycled.out;
  EXPECT_TRUE(Contains(cli.Run({"--sim", "identify", "--drive", "3"}).out, "FW:NEWNV1 "));
  EXPECT_TRUE(Contains(cli.Run({"--sim", "identify", "--drive", "1"}).out, "FW:05.01C05 "));
  const CliResult info = cli.Run({"--sim", "info", "--drive", "3"});
  EXPECT_TRUE(Contains(info.out, "active-slot\t2\nnext-slot\tnone\n")) << info.out;
  EXPECT_EQ(info.err, "");
  // A second cycle changes nothing, and says each drive's revision once.
  const CliResult again = cli.Run({"bench", "power-cycle"});
  EXPECT_EQ(again.out, "ide0\t05.01C05\nsata0\t15.01H15\nusb0\t01.01A01\nnvme0\tNEWNV1\n");
}

TEST(CliBench, ResetForgetsOnlyTheNamedBench) {
  CliRunner cli;
  cli.Run({"bench", "image", "OWN1", "8", "fw.bin"});
  const std::string own = "--sim=" + kExamples + "segment-limits.ini";
  ASSERT_EQ(cli.Run({own, "dlmc", "--drive", "0", "--mode", "07", "fw.bin"}).exitCode, 0);
  ASSERT_EQ(cli.Run({"--sim", "dlmc", "--drive", "0", "--mode", "07", "fw.bin"}).exitCode, 0);
  EXPECT_EQ(cli.Run({own, "bench", "reset"}).exitCode, 0);
  EXPECT_TRUE(Contains(cli.Run({own, "identify", "--drive", "0"}).out, "FW:15.01H15 "));
  EXPECT_TRUE(Contains(cli.Run({"--sim", "identify", "--drive", "0"}).out, "FW:OWN1 "));
}

TEST(CliBench, RefusesWhatWouldNotMakeAnImage) {
  CliRunner cli;
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"bench"}, "bench needs reset, power-cycle or image"},
      {{"bench", "flash"}, "bench takes reset, power-cycle or image (got \"flash\")"},
      {{"bench", "image", "NINE-CHAR", "8", "f"}, "1 to 8 printable ASCII characters"},
      {{"bench", "image", "", "8", "f"}, "1 to 8 printable ASCII characters"},
      {{"bench", "image", "R", "0", "f"}, "a number from 1 to 65535 (got \"0\")"},
      {{"bench", "image", "R", "65536", "f"}, "a number from 1 to 65535"},
      {{"bench", "image", "R", "8"}, "bench image needs REVISION BLOCKS FILE"},
      {{"bench", "image", "R", "8", "f", "g"}, "unexpected argument \"g\""},
      {{"bench", "reset", "--drive", "0"}, "takes no target"},
      {{"bench", "power-cycle", "--drive", "3"}, "takes no target"},
      {{"bench", "image", "R", "8", "no-such-folder/f"},
       "no-such-folder/f: cannot write the image there: No such file or directory"},
  };
  for (const auto& [args, message] : cases) {
    const CliResult r = cli.Run(args);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(r.exitCode, 2) << line;
    EXPECT_TRUE(Contains(r.err, message)) << line << "\n" << r.err;
    EXPECT_EQ(r.out, "") << line;
  }
}

// Each example bench file shows what its comment promises.
TEST(CliBench, TheExampleBenchFilesBehaveAsTheySay) {
  CliRunner cli;
  cli.Run({"bench", "image", "NEW1.00", "96", "fw.bin"});
  struct Case {
    std::string file;
    Args args;
    int exitCode;
    std::string said;  // in stdout or stderr
  };
  const std::vector<Case> cases = {
      {"default.ini", {"identify", "--drive", "2"}, 0, "FW:01.01A01 "},
      {"refusing-bridge.ini", {"identify", "--drive", "0"}, 1, " FW: SN:"},
      {"refusing-bridge.ini", {"identify", "--drive", "1"}, 0, "FW:01.01A01 SN:WD-WCSIM0000032"},
      {"segment-limits.ini", {"info", "--drive", "0"}, 0, "segment-max-blocks\t32\n"},
      {"segment-limits.ini",
       {"dlmc", "--drive", "0", "--mode", "03", "--segment-blocks", "64", "fw.bin"},
       0,
       "segments of 32 blocks (64 as asked, cut to the drive's maximum of 32)"},
      {"aborting-drive.ini",
       {"dlmc", "--drive", "0", "--mode", "07", "fw.bin"},
       1,
       "FAILED: the drive aborted DOWNLOAD MICROCODE"},
      {"aborting-drive.ini",
       {"dlmc", "--channel", "0", "--mode", "07", "fw.bin"},
       1,
       "FAILED: the drive aborted DOWNLOAD MICROCODE"},
      {"aborting-drive.ini", {"identify", "--drive", "1"}, 1, " FW: SN:"},
      {"usb-bridges.ini", {"identify", "--drive", "0"}, 0, "USB bridge answers ATA PASS-THROUGH(16)"},
      {"usb-bridges.ini", {"identify", "--drive", "1"}, 0, "USB bridge answers ATA PASS-THROUGH(12)"},
      {"usb-bridges.ini",
       {"dlmc", "--drive", "2", "--mode", "03", "fw.bin"},
       0,
       "count register after the segments: not reported"},
      {"usb-bridges.ini",
       {"dlmc", "--drive", "3", "--mode", "07", "fw.bin"},
       4,
       "firmware revision 01.01A01 -> 01.01A01"},
  };
  for (const Case& c : cases) {
    Args args = {"--sim=" + kExamples + c.file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliResult r = cli.Run(args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.file << " " << c.args[0] << "\n" << r.out << r.err;
    EXPECT_TRUE(Contains(r.out + r.err, c.said)) << c.file << "\n" << r.out << r.err;
  }
}

// A captured IDENTIFY whose text fields hold control bytes, a line end and a
// ']' is remembered like any other drive: the state file stays lines of text.
TEST(CliBench, ControlBytesInACapturedIdentityAreStoredEscaped) {
  CliRunner cli;
  std::vector<std::uint8_t> sector(512, 0);
  const std::string serial = "S\n]\x01\\ 0042 ";  // words 10-19
  const std::string firmware = "F\x07\r1";        // words 23-26
  std::copy(serial.begin(), serial.end(), sector.begin() + 20);
  std::copy(firmware.begin(), firmware.end(), sector.begin() + 46);
  sector[2 * 83] = 0x01;  // DOWNLOAD MICROCODE supported, word 83 valid
  sector[2 * 83 + 1] = 0x40;
  sector[2 * 86] = 0x01;  // ... and enabled
  cli.WriteFile("id.bin", sector);
  cli.WriteFile("captured.ini", "[drive d0]\nidentify-file = id.bin\n\n[disk]\ndrive = d0\n");
  const std::string bench = "--sim=" + (cli.Dir() / "captured.ini").string();
  for (int run = 0; run < 2; ++run) {
    const CliResult r = cli.Run({bench, "identify", "--drive", "0"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "run " << run;  // no "unreadable state" on the second
  }
  cli.Run({"bench", "image", "CAP2", "8", "fw.bin"});
  ASSERT_EQ(cli.Run({bench, "dlmc", "--drive", "0", "--mode", "07", "fw.bin"}).exitCode, 0);
  const CliResult after = cli.Run({bench, "identify", "--drive", "0"});
  EXPECT_EQ(after.err, "");
  EXPECT_TRUE(Contains(after.out, "FW:CAP2 ")) << after.out;
  for (const auto& entry : std::filesystem::directory_iterator(cli.StateDir())) {
    const std::string text =
        cli.ReadFile(std::filesystem::relative(entry.path(), cli.Dir()).string());
    for (const char c : text) {
      EXPECT_TRUE(c == '\n' || (c >= 0x20 && c <= 0x7E)) << int(c) << " in " << text;
    }
  }
}

}  // namespace
}  // namespace brisquel::cli::test
