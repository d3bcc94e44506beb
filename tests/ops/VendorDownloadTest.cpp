#include <gtest/gtest.h>

#include "ops/OpsBench.h"
#include "ops/VendorChannel.h"
#include "ops/VendorDownload.h"

namespace brisquel {
namespace {

using test::FirmwareCutAt;
using test::OpsBench;

const std::string kPrefix = "Download Microcode (DPTM) - fw.bin - ";

std::vector<int> Chunks(const OpsBench& b) {
  std::vector<int> counts;
  for (const auto& c : b.Commands(0xB0, 0xD6, 0xBF)) {
    EXPECT_EQ(c.dataWordsIn, c.count * 256u);
    counts.push_back(c.count);
  }
  return counts;
}

class VendorDownloadOnBench : public ::testing::TestWithParam<TransportKind> {};

TEST_P(VendorDownloadOnBench, SendsTheRequestedSectorsInChunksAndLogsTheStatus) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> file;
    std::optional<std::uint32_t> requested;  // the drive's reply, when not the announced count
    std::vector<int> chunks;
    const char* revision;
  };
  const Case cases[] = {
      {"130 sectors", sim::MakeBenchFirmware("WD130", 130), std::nullopt, {64, 64, 2}, "WD130"},
      // 1,000 bytes announce 1 sector; the drive asks for 2, and the file's
      // last 488 bytes go out padded with zeros.
      {"partial sector requested", FirmwareCutAt("WD1000", 2, 1000), 2, {2}, "WD1000"},
      {"nothing requested", sim::MakeBenchFirmware("WD0", 3), 0, {}, "BF1.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpsBench b(GetParam());
    b.drive.Faults().vendorRequestedSectors = c.requested;
    b.host.dialogAnswers.push_back(b.File("fw.bin", c.file));
    // What an earlier operation left behind must not reach the drive.
    std::fill(b.state.TransferBuffer.begin(), b.state.TransferBuffer.end(), 0xEE);
    b.Dptm();
    EXPECT_EQ(b.host.log, (std::vector<std::string>{kPrefix + "Begin", kPrefix + "SUCCESS "}));
    EXPECT_EQ(Chunks(b), c.chunks);
    EXPECT_EQ(b.drive.FirmwareRevision(), c.revision);
    EXPECT_EQ(b.host.dialogs, 1);
    EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
    EXPECT_GE(b.host.pumps, static_cast<int>(c.chunks.size()));
  }
}

// Each chunk is one transfer: where the disk's queue takes fewer than 64
// sectors (24 here), the chunks are cut to it, or the system refuses the
// first one. PIO has no such limit.
TEST_P(VendorDownloadOnBench, TheChunksFitTheDisksLargestTransfer) {
  OpsBench b(GetParam(), {}, 24 * kSectorSize);
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("WD130", 130)));
  const DownloadOutcome outcome = b.Dptm();
  EXPECT_TRUE(outcome.Completed()) << outcome.what;
  const std::vector<int> chunks = GetParam() == TransportKind::pio
                                      ? std::vector<int>{64, 64, 2}
                                      : std::vector<int>{24, 24, 24, 24, 24, 10};
  EXPECT_EQ(Chunks(b), chunks);
  EXPECT_EQ(b.drive.FirmwareRevision(), "WD130");
}

// The bench drive asks for exactly what the download key sector announced.
TEST_P(VendorDownloadOnBench, AnnouncesTheFilesWholeSectorsAfterThePreamble) {
  OpsBench b(GetParam());
  b.host.dialogAnswers.push_back(b.File("fw.bin", std::vector<std::uint8_t>(1000, 0x22)));
  b.Dptm();
  struct Step {
    std::uint8_t command, features, lbaLow;
  };
  const Step steps[] = {
      {0xEC, 0x00, 0x00},                                          // IDENTIFY for the checks
      {0x80, 0x3B, 0x00}, {0xB0, 0xD6, 0xBE}, {0xB0, 0xD5, 0xBE},  // preamble
      {0x80, 0x3B, 0x00}, {0xB0, 0xD6, 0xBE}, {0xB0, 0xD5, 0xBE},  // download key sector
      {0xB0, 0xD6, 0xBF},                                          // the one whole sector
      {0xB0, 0xD5, 0xBE},                                          // the status read
  };
  const auto& h = b.drive.History();
  ASSERT_EQ(h.size(), std::size(steps));
  for (std::size_t i = 0; i < h.size(); ++i) {
    EXPECT_EQ(h[i].command, steps[i].command) << i;
    EXPECT_EQ(h[i].features, steps[i].features) << i;
    EXPECT_EQ(h[i].lbaLow, steps[i].lbaLow) << i;
  }
  EXPECT_EQ(Chunks(b), std::vector<int>{1});
  EXPECT_EQ(b.host.log.back(),
            kPrefix +
                "FAILED: the drive reported an error (1 of 1 sectors sent; vendor status: "
                "DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET - FM_ERR_NOT_FLASH_FILE)");
}

TEST_P(VendorDownloadOnBench, NeverSendsSectorsPastTheEndOfTheFile) {
  OpsBench b(GetParam());
  b.drive.Faults().vendorRequestedSectors = 130;
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("SHORT", 70)));
  std::fill(b.state.TransferBuffer.begin(), b.state.TransferBuffer.end(), 0xEE);
  b.Dptm();
  EXPECT_EQ(Chunks(b), (std::vector<int>{64, 6}));
  EXPECT_EQ(b.host.log,
            (std::vector<std::string>{
                kPrefix + "Begin",
                "Download Microcode (DPTM) - Stopped at the end of the file: the drive asks for "
                "130 sectors, the file holds 70",
                kPrefix + "FAILED: the drive asked for 130 sectors and the file holds 70 (70 of "
                          "130 sectors sent)"}));
  EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");  // the drive still waits for the rest
}

TEST_P(VendorDownloadOnBench, TheClosingLineNamesTheDrivesStatusCodes) {
  OpsBench b(GetParam());
  b.drive.Faults().vendorPrimaryCode = 0x3A23;
  b.drive.Faults().vendorSecondCode = 0x3703;
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("WDX", 3)));
  b.Dptm();
  EXPECT_EQ(b.host.log.back(),
            kPrefix +
                "FAILED: the drive refused the download key sector (0 of 0 sectors sent; vendor "
                "status: DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET - FM_ERR_CHECKSUM)");
  // A rejected key sector stops the download: nothing of the image goes out.
  EXPECT_EQ(Chunks(b), std::vector<int>{});
}

TEST_P(VendorDownloadOnBench, BreakStopsTheChunkLoopButNotTheClosingLine) {
  OpsBench b(GetParam());
  b.host.breakWhen = [&b] { return !b.Commands(0xB0, 0xD6, 0xBF).empty(); };
  b.host.dialogAnswers.push_back(b.File("fw.bin", sim::MakeBenchFirmware("WDB", 200)));
  b.Dptm();
  EXPECT_EQ(b.Commands(0xB0, 0xD6, 0xBF).size(), 1u);
  ASSERT_EQ(b.host.log.size(), 3u);
  // Over PIO Break lands inside the first chunk, which then does not count as sent.
  EXPECT_EQ(b.host.log[1].rfind(kPrefix + "FAILED: stopped by Break (", 0), 0u) << b.host.log[1];
  EXPECT_EQ(b.host.log[2].rfind("Stopped by Break after ", 0), 0u) << b.host.log[2];
  EXPECT_NE(b.host.log[2].find(" sectors: the drive keeps its current firmware"), std::string::npos);
  EXPECT_EQ(b.drive.FirmwareRevision(), "BF1.00");
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true}));
}

// A file larger than a standard download takes is refused as the command
// line refuses it, though the vendor channel sends in chunks.
TEST_P(VendorDownloadOnBench, ACancelledDialogOrAnUnreadableOrOversizedFileSendsNothing) {
  OpsBench b(GetParam());
  b.Dptm();
  const std::string missing = b.Missing("gone.bin");
  b.host.dialogAnswers.push_back(missing);
  b.Dptm();
  b.host.dialogAnswers.push_back(b.File("big.bin", std::vector<std::uint8_t>(16'777'217, 0x5A)));
  b.Dptm();
  // Only the IDENTIFY of the checks, once per click.
  EXPECT_EQ(b.drive.History().size(), 3u);
  EXPECT_EQ(b.Commands(0xEC).size(), 3u);
  EXPECT_EQ(b.host.log,
            (std::vector<std::string>{
                "Download Microcode (DPTM) - gone.bin - Cannot read the file " + missing +
                    ": No such file or directory",
                "Download Microcode (DPTM) - big.bin - Refused: the file has 16777217 bytes, "
                "more than the 16777216 bytes a download can carry"}));
  EXPECT_EQ(b.host.buttons, (std::vector<bool>{false, true, false, true, false, true}));

  b.host.dialogThrows = true;
  EXPECT_THROW(b.Dptm(), std::runtime_error);
  EXPECT_EQ(b.host.buttons.back(), true);
}

INSTANTIATE_TEST_SUITE_P(Transports, VendorDownloadOnBench, test::kAllTransports,
                         test::TransportParamName());

}  // namespace
}  // namespace brisquel
