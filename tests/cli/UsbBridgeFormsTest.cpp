// USB bridges as they come: the command block form each answers, found once
// and kept, forced with --sat, and bridges that refuse or drop commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One drive per bridge, listed in this order: --drive N is bridge N.
const char* const kBridges[] = {
    "forms = 16\n",                    // 0: the 16-byte form only
    "forms = 12 16\na1-length = 12\n",  // 1: A1h only with all twelve bytes
    "forms = 12 16\n",                  // 2: the first form
    "forms = none\n",                   // 3: no ATA PASS-THROUGH at all
    "drops = EC\n",                     // 4: IDENTIFY answered GOOD, never passed on
    "drops = 92\n",                     // 5: DOWNLOAD MICROCODE answered GOOD, never passed on
};

std::string BridgeBench() {
  std::string text;
  for (std::size_t i = 0; i < std::size(kBridges); ++i) {
    const std::string n = std::to_string(i);
    text += "[drive d" + n + "]\nmodel = USB BENCH DRIVE\nfirmware = U1.00\nserial = USB000" + n +
            "\n[bridge b" + n + "]\n" + kBridges[i] + "[disk]\ndrive = d" + n + "\nbridge = b" + n +
            "\nbus = USB\n\n";
  }
  return text;
}

std::string Identity(int drive) {
  return "USB BENCH DRIVE FW:U1.00 SN:USB000" + std::to_string(drive);
}

TEST(UsbBridgeForms, EachBridgeGetsTheFormItAnswersWithOneLine) {
  CliRunner cli;
  cli.WriteFile("bridges.ini", BridgeBench());
  struct Case {
    int drive;
    int exitCode;
    std::string out;
    std::string satForm;
  };
  const Case cases[] = {
      {0, 0, "USB bridge answers ATA PASS-THROUGH(16)\n" + Identity(0) + "\n\n", "16"},
      {1, 0, "USB bridge answers ATA PASS-THROUGH(12)\n" + Identity(1) + "\n\n", "12"},
      {2, 0, Identity(2) + "\n\n", "12-10"},
      {3, 1,
       " FW: SN:\n\nIDENTIFY DEVICE failed: the USB bridge refused it in every form of ATA "
       "PASS-THROUGH (12 sent as 10 bytes, 12, 16) (sense key 5, ASC 20h: invalid command "
       "operation code)\n",
       ""},
      // GOOD with nothing passed on is no answer: the data is all zeros.
      {4, 1, " FW: SN:\n\nIDENTIFY data not valid: all zeros\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    const Args target = {"--drive", std::to_string(c.drive)};
    CliResult r = cli.Run({"--sim=bridges.ini", "identify", target[0], target[1]});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, "Bus Type:USB\n" + c.out);
    if (c.satForm.empty()) continue;
    r = cli.Run({"--sim=bridges.ini", "info", target[0], target[1]});
    EXPECT_TRUE(Contains(r.out, "\nsat-form\t" + c.satForm + "\n")) << r.out;
  }
}

TEST(UsbBridgeForms, EachTryIsTracedAndOnlyARefusedFormMovesOn) {
  CliRunner cli;
  cli.WriteFile("bridges.ini", BridgeBench());
  const CliResult r = cli.Run({"--sim=bridges.ini", "--trace", "identify", "--drive", "1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "-> SAT-12-10   EC feat 00 count 01 lba 000000 dev A0, in 512 bytes, "
                              "limit 5 s\n<- SAT-12-10   sense key 5 asc 24 ascq 00: error"))
      << r.err;
  EXPECT_TRUE(Contains(r.err, "-> SAT-12      EC ")) << r.err;
  EXPECT_FALSE(Contains(r.err, "-> SAT-16")) << r.err;

  // A drive that aborts IDENTIFY has a bridge that took the form: no other form is tried.
  cli.WriteFile("aborting.ini",
                "[drive d]\nabort-command = EC\n[bridge b]\n[disk]\ndrive = d\nbridge = b\n"
                "bus = USB\n");
  const CliResult aborted = cli.Run({"--sim=aborting.ini", "--trace", "identify", "--drive", "0"});
  EXPECT_EQ(aborted.exitCode, 1);
  EXPECT_EQ(aborted.out,
            "Bus Type:USB\n FW: SN:\n\nIDENTIFY DEVICE failed: the drive aborted it (sense key B, "
            "ASC 00h)\n");
  EXPECT_FALSE(Contains(aborted.err, "-> SAT-12 ")) << aborted.err;
  EXPECT_FALSE(Contains(aborted.err, "-> SAT-16")) << aborted.err;
}

TEST(UsbBridgeForms, DownloadsAndVerifyGoInTheFormFound) {
  CliRunner cli;
  cli.WriteFile("bridges.ini", BridgeBench());
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("U2.00", 130));
  for (const int drive : {0, 1}) {
    SCOPED_TRACE(drive);
    const CliResult r = cli.Run(
        {"--sim=bridges.ini", "dlmc", "--drive", std::to_string(drive), "--mode", "03", "fw.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "firmware revision U1.00 -> U2.00")) << r.err;
  }
}

TEST(UsbBridgeForms, ADroppedDownloadIsCaughtByTheRevisionCheck) {
  CliRunner cli;
  cli.WriteFile("bridges.ini", BridgeBench());
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("U2.00", 130));
  // 03 included: its count register does not come back over this bridge, and
  // a segmented download that said nothing is held to the change as well.
  for (const char* mode : {"07", "03"}) {
    SCOPED_TRACE(mode);
    const CliResult r =
        cli.Run({"--sim=bridges.ini", "dlmc", "--drive", "5", "--mode", mode, "fw.bin"});
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_TRUE(Contains(r.err, "U1.00 -> U1.00")) << r.err;
  }
  // IDENTIFY dropped, the refusal forced: no revision is made up either side.
  const CliResult r = cli.Run(
      {"--sim=bridges.ini", "--force", "dlmc", "--drive", "4", "--mode", "07", "fw.bin"});
  EXPECT_TRUE(Contains(r.err, "IDENTIFY data not valid: all zeros")) << r.err;
  EXPECT_TRUE(Contains(r.err, "firmware revision (not read) -> revision not read")) << r.err;
}

TEST(UsbBridgeForms, SatForcesTheFormWithoutTryingOthers) {
  CliRunner cli;
  cli.WriteFile("bridges.ini", BridgeBench());
  CliResult r =
      cli.Run({"--sim=bridges.ini", "--trace", "--sat", "12", "identify", "--drive", "0"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "Bus Type:USB\n FW: SN:\n\nIDENTIFY DEVICE failed: the USB bridge refused it (sense "
            "key 5, ASC 20h: invalid command operation code)\n");
  EXPECT_FALSE(Contains(r.err, "SAT-16")) << r.err;
  r = cli.Run({"--sim=bridges.ini", "--sat=16", "info", "--drive", "2"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "\nsat-form\t16\n")) << r.out;

  EXPECT_EQ(cli.Run({"--sim", "--sat", "14", "identify", "--drive", "2"}).err,
            "brisquel-cli: --sat must be one of 12-10, 12, 16 (got \"14\") (see brisquel-cli "
            "--help)\n");
  EXPECT_EQ(cli.Run({"--sim", "--sat", "16", "list"}).exitCode, 2);
}

// CK_COND: judged once with CHECK POWER MODE; where the bridge honours it the
// count register of each segment comes back, where it does not it is "not
// reported" and nothing is sent twice.
TEST(UsbBridgeRegisters, TheCountRegisterComesBackWhereTheBridgeHonoursCkCond) {
  CliRunner cli;
  const std::string drive = "[drive d]\nmodel = USB BENCH DRIVE\nfirmware = U1.00\n";
  cli.WriteFile("honoured.ini", drive + "[bridge b]\nck-cond = honoured\n[disk]\ndrive = d\n"
                                        "bridge = b\nbus = USB\n");
  cli.WriteFile("ignored.ini", drive + "[bridge b]\nck-cond = ignored\n[disk]\ndrive = d\n"
                                       "bridge = b\nbus = USB\n");
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("U2.00", 130));
  CliResult r = cli.Run(
      {"--sim=honoured.ini", "--trace", "dlmc", "--drive", "0", "--mode", "03", "fw.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "-> SAT-12-10   E5 feat 00 count 00")) << r.err;
  EXPECT_TRUE(Contains(r.err, "count register after the last segment: 02h")) << r.err;

  r = cli.Run({"--sim=ignored.ini", "--trace", "dlmc", "--drive", "0", "--mode", "03", "fw.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "count register after the segments: not reported")) << r.err;
  // Three segments, each sent once.
  std::size_t segments = 0;
  for (auto at = r.err.find("-> SAT-12-10   92 "); at != std::string::npos;
       at = r.err.find("-> SAT-12-10   92 ", at + 1)) {
    ++segments;
  }
  EXPECT_EQ(segments, 3u) << r.err;
}

// A whole image above 255 blocks goes with T_LENGTH 3 where the bridge takes
// it, and is refused before anything is sent where it does not.
TEST(UsbBridgeRegisters, AWholeImageAbove255BlocksGoesWhereTheBridgeTakesTheTransferLength) {
  CliRunner cli;
  const std::string drive = "[drive d]\nmodel = USB BENCH DRIVE\nfirmware = U1.00\n";
  // The disk's queue takes the 300 blocks in one transfer: only the bridge decides.
  cli.WriteFile("takes.ini", drive +
                                 "[bridge b]\n[disk]\ndrive = d\nbridge = b\nbus = USB\n"
                                 "max-transfer = 262144\n");
  cli.WriteFile("refuses.ini", drive +
                                   "[bridge b]\ntpsiu = no\n[disk]\ndrive = d\n"
                                   "bridge = b\nbus = USB\nmax-transfer = 262144\n");
  cli.WriteFile("fw.bin", sim::MakeBenchFirmware("U3.00", 300));
  CliResult r = cli.Run({"--sim=takes.ini", "dlmc", "--drive", "0", "--mode", "07", "fw.bin"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "firmware revision U1.00 -> U3.00")) << r.err;

  r = cli.Run({"--sim=refuses.ini", "--trace", "dlmc", "--drive", "0", "--mode", "07", "fw.bin"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_TRUE(Contains(r.out, "300 blocks in one command cannot go over SCSI pass-through (at most "
                              "255: the USB bridge refuses a length taken from the transfer, "
                              "T_LENGTH 3); use Segmented (03) or Deferred (0E)"))
      << r.out;
  EXPECT_FALSE(Contains(r.err, "-> SAT-12-10   92 ")) << r.err;
}

}  // namespace
}  // namespace brisquel::cli::test
