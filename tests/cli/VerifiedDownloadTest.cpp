// What brisquel-cli learns from a drive before a download and checks after
// it: info, the refusals --force overrides, --segment-blocks, the count
// register and the revision read again, over a table of bench drives that
// includes real drives' IDENTIFY sectors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

const char* const kCaptured[] = {
    "FUJITSU_MHY2120BH--0084000D.bin",
    "INTEL_SSDSA2CW120G3--4PC10302.bin",
    "ST9100821AS--3.CME.bin",
    "WDC_WD5000AAKS--00TMA0-12.01C01.bin",
};

// One disk per drive, in this order: --drive 0 is "all", --drive 5 the first
// captured sector. The last disk is "sized" again, behind a USB bridge.
const char* const kDrives =
    "[drive all]\nmodel = EVERYTHING\nfirmware = A1\nserial = S0\n\n"
    "[drive nodlmc]\nfirmware = N1\ndlmc = no\n\n"
    "[drive nooffsets]\nfirmware = O1\ndlmc-offsets = no\n\n"
    "[drive sized]\nfirmware = Z1\nsegment-min = 8\nsegment-max = 128\n\n"
    "[drive unsaid]\nfirmware = U1\nsegment-min = 65535\nsegment-max = 65535\n\n"
    "[drive fujitsu]\nidentify-file = sectors/FUJITSU_MHY2120BH--0084000D.bin\n\n"
    "[drive intel]\nidentify-file = sectors/INTEL_SSDSA2CW120G3--4PC10302.bin\n\n"
    "[drive seagate]\nidentify-file = sectors/ST9100821AS--3.CME.bin\n\n"
    "[drive wdc]\nidentify-file = sectors/WDC_WD5000AAKS--00TMA0-12.01C01.bin\n\n"
    "[drive deaf]\nabort-command = EC\n\n"
    "[drive more]\nsegment-answer = 1\n\n"
    "[drive early]\nsegment-answer = 2\n\n"
    "[drive usbsized]\nsegment-min = 8\nsegment-max = 128\n\n"
    "[bridge enclosure]\nforms = 12 16\n\n";

std::string BenchText() {
  std::string text = kDrives;
  for (const std::string drive : {"all", "nodlmc", "nooffsets", "sized", "unsaid", "fujitsu",
                                  "intel", "seagate", "wdc", "deaf", "more", "early"}) {
    text += "[disk]\ndrive = " + drive + "\n";
    // The disks that take fw.bin (300 blocks) whole, in one transfer.
    if (drive == "all" || drive == "nodlmc" || drive == "deaf") text += "max-transfer = 262144\n";
    text += "\n";
  }
  return text + "[disk]\ndrive = usbsized\nbridge = enclosure\nbus = USB\n";
}

class VerifiedDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(cli.Dir() / "benches" / "sectors");
    for (const char* name : kCaptured) {
      std::filesystem::copy_file(std::filesystem::path(BRISQUEL_TEST_DATA) / "identify" / name,
                                 cli.Dir() / "benches" / "sectors" / name);
    }
    // Taken relative to the bench file's folder, not the working directory.
    cli.WriteFile("benches/table.bench", BenchText());
    cli.WriteFile("fw.bin", sim::MakeBenchFirmware("NEW1", 300));
  }

  CliResult Run(Args args, const std::string& bench = "benches/table.bench") const {
    args.insert(args.begin(), "--sim=" + bench);
    return cli.Run(args);
  }

  // A run's exit code, and parts of its stderr in this order.
  struct Expected {
    Args args;
    int exitCode;
    std::vector<std::string> err;
  };
  CliResult Check(const Expected& c, const std::string& bench = "benches/table.bench") const {
    const CliResult r = Run(c.args, bench);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.out << r.err;
    std::size_t at = 0;
    for (const std::string& part : c.err) {
      at = r.err.find(part, at);
      EXPECT_NE(at, std::string::npos) << line << "\n" << part << "\n" << r.err;
      if (at == std::string::npos) break;
    }
    return r;
  }

  CliRunner cli;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(VerifiedDownload, InfoPreflightAndAutoSegmentsOverATableOfDrives) {
  struct Case {
    std::string drive;
    std::string infoLines;  // consecutive lines of `info`
    int exitCode;           // of dlmc --mode 03 --segment-blocks auto
    std::string err;        // part of its stderr
  };
  const std::string refusedDlmc =
      "refused: the drive says it does not support DOWNLOAD MICROCODE (IDENTIFY word 83 bit 0 is "
      "clear) (--force sends anyway)";
  const std::string refusedOffsets =
      "refused: the drive says it does not support DOWNLOAD MICROCODE with offsets";
  const std::vector<Case> cases = {
      {"0",
       "dlmc-supported\tyes\ndlmc-enabled\tyes\ndlmc-offsets-supported\tyes\n"
       "dlmc-offsets-enabled\tyes\nsegment-min-blocks\t1\nsegment-max-blocks\t64\n",
       0,
       "segments of 64 blocks (the drive's maximum of 64)\nbrisquel-cli: count register after "
       "the last segment: 02h (the new microcode is applied)\nbrisquel-cli: firmware revision "
       "A1 -> NEW1\n"},
      {"1", "dlmc-supported\tno\ndlmc-enabled\tno\n", 2, refusedDlmc},
      {"2", "dlmc-offsets-supported\tno\ndlmc-offsets-enabled\tno\n", 2, refusedOffsets},
      {"3", "segment-min-blocks\t8\nsegment-max-blocks\t128\n", 0,
       "segments of 128 blocks (the drive's maximum of 128)"},
      {"4", "segment-min-blocks\tnot said\nsegment-max-blocks\tnot said\n", 0,
       "segments of 64 blocks (the drive states no maximum, so 64)"},
      // Real drives: the bench disk's queue takes 256 blocks at a time.
      {"5",
       "model\tFUJITSU MHY2120BH\nfirmware\t0084000D\nserial\tK434T81257SL\nsectors\t234441648\n"
       "capacity\t120.0 GB\ntransport\tATA pass-through\nmax-transfer\t131072\n"
       "dlmc-supported\tyes\ndlmc-enabled\tyes\n"
       "dlmc-offsets-supported\tyes\ndlmc-offsets-enabled\tyes\nsegment-min-blocks\t1\n"
       "segment-max-blocks\t2816\nsmart-supported\tyes\nsmart-enabled\tyes\n",
       0, "segments of 256 blocks (the drive's maximum of 2816, cut to the transport's 256)"},
      {"6", "segment-max-blocks\t1024\n", 0, "firmware revision 4PC10302 -> NEW1"},
      {"7", "firmware\t3.CME\n", 2, refusedOffsets},
      {"7",
       "dlmc-supported\tyes\ndlmc-enabled\tyes\ndlmc-offsets-supported\tno\n"
       "dlmc-offsets-enabled\tno\nsegment-min-blocks\tnot said\nsegment-max-blocks\tnot said\n",
       2, refusedOffsets},
      {"8", "sectors\t976773168\ncapacity\t500.1 GB\n", 0, "firmware revision 12.01C01 -> NEW1"},
      // Behind the USB bridge, SAT's 8-bit count is the limit; the bridge honours
      // CK_COND, so the count register comes back.
      {"12", "transport\tSCSI pass-through (SAT)\n", 0,
       "segments of 128 blocks (the drive's maximum of 128)\nbrisquel-cli: count register after "
       "the last segment: 02h (the new microcode is applied)\n"},
  };
  for (const Case& c : cases) {
    const CliResult info = Run({"info", "--drive", c.drive});
    EXPECT_EQ(info.exitCode, 0) << c.drive << info.err;
    EXPECT_TRUE(Has(info.out, "\n" + c.infoLines)) << c.drive << "\n" << info.out;

    const CliResult dlmc =
        Run({"dlmc", "--drive", c.drive, "--mode", "03", "--segment-blocks", "auto", "fw.bin"});
    EXPECT_EQ(dlmc.exitCode, c.exitCode) << c.drive << "\n" << dlmc.out << dlmc.err;
    EXPECT_TRUE(Has(dlmc.err, c.err)) << c.drive << "\n" << dlmc.err;
    // A refusal sends nothing: the log holds the selection's line only.
    if (c.exitCode == 2) {
      EXPECT_EQ(dlmc.out, "Bus Type:SATA\n") << c.drive;
    }
  }
}

TEST_F(VerifiedDownload, ForceSendsWhatTheChecksRefuseAndSaysSo) {
  const std::vector<Expected> cases = {
      // The drive meant what it said: it aborts.
      {{"dlmc", "--drive", "1", "--mode", "07", "--force", "fw.bin"},
       1,
       {"warning: the drive says it does not support DOWNLOAD MICROCODE",
        "; sending anyway (--force)"}},
      {{"dlmc", "--drive", "3", "--mode", "03", "--segment-blocks", "4", "fw.bin"},
       2,
       {"refused: segments of at most 4 blocks (4 as asked) are below the drive's minimum of 8"}},
      // A size is a maximum: the drive's own maximum cuts it.
      {{"dlmc", "--drive", "3", "--mode", "0E", "--segment-blocks", "200", "fw.bin"},
       0,
       {"segments of 128 blocks (200 as asked, cut to the drive's maximum of 128)"}},
      {{"dlmc", "--drive", "3", "--mode", "03", "--segment-blocks", "4", "--force", "fw.bin"},
       1,
       {"sending anyway (--force)"}},
      // What the transport cannot carry is never sent: the size is cut to it.
      {{"dlmc", "--drive", "12", "--mode", "03", "--segment-blocks", "300", "fw.bin"},
       0,
       {"segments of 128 blocks (300 as asked, cut to the transport's 255, cut to the drive's "
        "maximum of 128)"}},
      {{"dlmc", "--drive", "9", "--mode", "07", "fw.bin"},
       2,
       {"refused: the drive's IDENTIFY data cannot be read"}},
      {{"dptm", "--drive", "9", "fw.bin"},
       2,
       {"refused: the drive's IDENTIFY data cannot be read"}},
      // Forced, the download completes, and the revision is never read: the
      // bench's ten seconds pass without sleeping. Nothing says the drive
      // took the firmware: exit 5, never 0. The same for the vendor download.
      {{"dlmc", "--drive", "9", "--mode", "07", "--force", "fw.bin"},
       5,
       {"sending anyway (--force)",
        "warning: firmware revision (not read) -> revision not read: the drive did not answer "
        "IDENTIFY within 10 s",
        "completed, not verified: the revision could not be read back; check it after a power "
        "cycle"}},
      {{"dlmc", "--drive", "9", "--mode", "01", "--force", "fw.bin"},
       5,
       {"completed, not verified"}},
      {{"dlmc", "--drive", "3", "--mode", "03", "--segment-blocks", "100", "fw.bin"},
       0,
       {"firmware revision Z1 -> NEW1"}},
  };
  for (const Expected& c : cases) Check(c);
}

// The disk the running system is on: --force is not enough for a mode that
// switches firmware at once; 0E stores only, and goes with --force.
TEST_F(VerifiedDownload, TheSystemDiskNeedsItsOwnForce) {
  cli.WriteFile("benches/system.bench",
                "[drive root]\nfirmware = R1\n\n"
                "[disk]\ndrive = root\nin-use = / is mounted from sda1\nsystem = linux\n"
                "max-transfer = 262144\n");
  const std::string risk =
      "\\\\?\\sim#disk#0 holds the running system, and mode 07 switches the drive to new "
      "firmware at once, under it: the system can stop, and what it has not yet written can be "
      "lost. The safe way: 0E then a power cycle";
  const std::vector<Expected> cases = {
      {{"dlmc", "--drive", "0", "--mode", "07", "fw.bin"},
       2,
       {"refused: \\\\?\\sim#disk#0 is in use (/ is mounted from sda1)"}},
      {{"dlmc", "--drive", "0", "--mode", "07", "--force", "fw.bin"},
       2,
       {"sending anyway (--force)", "refused: " + risk + " (--force-system-disk sends anyway)"}},
      {{"dlmc", "--drive", "0", "--mode", "07", "--force", "--force-system-disk", "fw.bin"},
       0,
       {"warning: " + risk + "; sending anyway (--force-system-disk)",
        "firmware revision R1 -> NEW1"}},
      {{"dlmc", "--drive", "0", "--mode", "0E", "--force", "fw.bin"}, 0, {"sending anyway (--force)"}},
  };
  for (const Expected& c : cases) {
    const CliResult r = Check(c, "benches/system.bench");
    if (c.exitCode == 2) {
      EXPECT_EQ(r.out, "Bus Type:SATA\n") << c.args[4];
    }
  }
}

// The bench, like Linux, has no firmware interface: --via system is refused
// before the vendor unlock's line, --via passthrough is what happens anyway.
TEST_F(VerifiedDownload, ViaSystemWhereThereIsNoInterfaceSendsNothing) {
  const CliResult refused =
      Check({{"dlmc", "--drive", "0", "--mode", "0E", "--via", "system", "fw.bin"},
             2,
             {"refused: Windows' firmware interface cannot carry it: this system has no such "
              "interface"}});
  EXPECT_EQ(refused.out, "Bus Type:SATA\n");
  Check({{"dlmc", "--drive", "0", "--mode", "0E", "--via", "passthrough", "fw.bin"}, 0, {}});
  Check({{"dlmc", "--drive", "0", "--mode", "0F", "--via", "system"}, 2, {"refused: Windows'"}});
}

TEST_F(VerifiedDownload, TheCountRegisterAndTheRevisionAfterTheDownload) {
  // Segments of 64 from a 300-block image: five of them.
  // 01h after the last: the drive still waits; 02h after the first: the
  // drive took a part for the whole. Both fail, and nothing more goes out.
  const CliResult more = Run({"dlmc", "--drive", "10", "--mode", "03", "fw.bin"});
  EXPECT_EQ(more.exitCode, 1) << more.err;
  EXPECT_TRUE(Has(more.out,
                  "Download Microcode 03 - fw.bin - FAILED: the drive still waits for data (300 "
                  "of 300 blocks sent"))
      << more.out;

  const CliResult early = Run({"dlmc", "--drive", "11", "--mode", "03", "fw.bin"});
  EXPECT_EQ(early.exitCode, 1) << early.err;
  EXPECT_TRUE(Has(early.out,
                  "Download Microcode 03 - fw.bin - FAILED: the drive reported the download "
                  "complete after 64 of 300 blocks (64 of 300 blocks sent"))
      << early.out;

  // Re-flashing the revision the drive runs: completed, and said plainly.
  for (int run = 0; run < 2; ++run) {
    const CliResult r = Run({"dlmc", "--drive", "0", "--mode", "07", "fw.bin"});
    EXPECT_TRUE(Has(r.out, "Download Microcode 07 - fw.bin - End - OK")) << r.out;
    if (run == 0) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.err, "brisquel-cli: firmware revision A1 -> NEW1\n");
    } else {
      EXPECT_EQ(r.exitCode, 4) << r.err;
      EXPECT_TRUE(Has(r.err,
                      "firmware revision NEW1 -> NEW1\nbrisquel-cli: revision unchanged: "
                      "the download completed, but the drive still reports NEW1"))
          << r.err;
    }
  }
  // Mode 0E stores the image only: the same revision is no fault there.
  const CliResult deferred = Run({"dlmc", "--drive", "0", "--mode", "0E", "fw.bin"});
  EXPECT_EQ(deferred.exitCode, 0) << deferred.err;
}

}  // namespace
}  // namespace brisquel::cli::test
