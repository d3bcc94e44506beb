// The disk's largest transfer on the command line: a whole image (01, 07)
// above it is refused before the unlock and the consent question, segments
// and the vendor download's chunks are cut to it, PIO has none, and `info`
// shows it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliRunner.h"
#include "sim/AtaDrive.h"

namespace brisquel::cli::test {
namespace {

using Args = std::vector<std::string>;

// --drive 0 and 1 take 65536 bytes (128 blocks) a command, --drive 2 16384;
// the channel at 1F0 has no such limit.
const char* const kBench =
    "[drive sata]\nmodel = WDC WD5000AAKX-00SIMB0\nfirmware = OLD1\nsegment-max = 255\n\n"
    "[drive usb]\nmodel = WDC WD10EZEX-00SIMC0\nfirmware = OLD2\n\n"
    "[drive ide]\nmodel = WDC WD800BB-00SIMA0\nfirmware = OLD3\n\n"
    "[drive small]\nmodel = WDC WD3200AAKS-00SIMD0\nfirmware = OLD4\n\n"
    "[channel 1F0]\ndevice0 = ide\n\n"
    "[bridge b]\n\n"
    "[disk]\ndrive = sata\nmax-transfer = 65536\n\n"
    "[disk]\ndrive = usb\nbridge = b\nbus = USB\nmax-transfer = 65536\n\n"
    "[disk]\ndrive = small\nmax-transfer = 16384\n";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Refusal(const std::string& mode, int blocks) {
  return "Download Microcode " + mode + " - big.bin - Refused: the image's " +
         std::to_string(blocks) +
         " blocks go in one command, more than the 65536 bytes the system takes in one transfer "
         "to this disk; use Segmented (03) or Deferred (0E), whose segments are cut to at most "
         "128 blocks\n";
}

TEST(TransferLimit, AWholeImageAboveTheDisksLimitIsRefusedBeforeTheUnlockAndTheQuestion) {
  CliRunner cli;
  cli.WriteFile("limits.ini", kBench);
  cli.WriteFile("big.bin", sim::MakeBenchFirmware("BIG", 200));
  cli.WriteFile("fits.bin", sim::MakeBenchFirmware("FITS", 128));
  cli.WriteFile("vendor.bin", sim::MakeBenchFirmware("VEND", 100));
  struct Case {
    Args args;
    int exitCode;
    std::string out;                  // part of stdout
    std::vector<std::string> err;     // parts of stderr
    std::vector<std::string> notErr;  // what stderr must not hold
  };
  // Nothing but IDENTIFY (and a USB bridge's CHECK POWER MODE) goes before
  // a refusal: no unlock (80h), no DOWNLOAD MICROCODE (92h), no question.
  const std::vector<std::string> nothingSent = {"   80 feat", "   92 feat", "Go on?"};
  const std::vector<Case> cases = {
      {{"--trace", "dlmc", "--drive", "0", "--mode", "07", "big.bin"},
       2,
       Refusal("07", 200),
       {"-> ATA-PT      EC"},
       nothingSent},
      {{"--trace", "--ask", "dlmc", "--drive", "1", "--mode", "01", "big.bin"},
       2,
       Refusal("01", 200),
       {"-> SAT-12-10   EC"},
       nothingSent},
      {{"dlmc", "--drive", "0", "--mode", "07", "fits.bin"},
       0,
       "Download Microcode 07 - fits.bin - End - OK",
       {"firmware revision OLD1 -> FITS"},
       {}},
      {{"dlmc", "--drive", "0", "--mode", "03", "--segment-blocks", "255", "big.bin"},
       0,
       "End - OK",
       {"segments of 128 blocks (255 as asked, cut to the transport's 128)",
        "firmware revision FITS -> BIG"},
       {}},
      {{"dlmc", "--port", "0x1F0", "--mode", "07", "big.bin"},
       0,
       "End - OK",
       {"firmware revision OLD3 -> BIG"},
       {}},
      // 32 sectors (20h) a chunk where the queue takes 16384 bytes.
      {{"--trace", "dptm", "--drive", "2", "vendor.bin"},
       0,
       "Download Microcode (DPTM)",
       {"-> ATA-PT      B0 feat D6 count 20", "firmware revision OLD4 -> VEND"},
       {"B0 feat D6 count 40"}},
  };
  for (const Case& c : cases) {
    Args args = c.args;
    args.insert(args.begin(), "--sim=limits.ini");
    const CliResult r = cli.Run(args);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line + "\n" + r.out + r.err);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_TRUE(Has(r.out, c.out));
    for (const std::string& part : c.err) EXPECT_TRUE(Has(r.err, part)) << part;
    for (const std::string& part : c.notErr) EXPECT_FALSE(Has(r.err, part)) << part;
  }
}

TEST(TransferLimit, InfoShowsTheDisksLargestTransfer) {
  CliRunner cli;
  cli.WriteFile("limits.ini", kBench);
  struct Case {
    Args target;
    std::string row;
    std::string json;
  };
  for (const Case& c :
       {Case{{"--drive", "0"}, "max-transfer\t65536\n", "\"maxTransferBytes\": 65536"},
        Case{{"--drive", "2"}, "max-transfer\t16384\n", "\"maxTransferBytes\": 16384"},
        Case{{"--port", "0x1F0"}, "max-transfer\tnone (PIO)\n", "\"maxTransferBytes\": null"}}) {
    Args args = {"--sim=limits.ini", "info"};
    args.insert(args.end(), c.target.begin(), c.target.end());
    const CliResult text = cli.Run(args);
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(Has(text.out, "\ntransport\t")) << text.out;
    EXPECT_TRUE(Has(text.out, c.row)) << text.out;
    args.insert(args.begin() + 1, "--json");
    const CliResult json = cli.Run(args);
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(Has(json.out, c.json)) << json.out;
  }
}

}  // namespace
}  // namespace brisquel::cli::test
