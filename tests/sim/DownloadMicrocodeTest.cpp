// DOWNLOAD MICROCODE on the bench drive, mode by mode, through the ports.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/DriveHost.h"

namespace brisquel::sim::drivetest {
namespace {

constexpr std::uint8_t kOk = kDrdy | kDsc;
constexpr std::uint8_t kAborted = kDrdy | kErr;  // DSC clear after an abort

AtaTaskFile Dlmc(std::uint8_t mode, std::uint32_t blocks, std::uint32_t offset = 0) {
  return Command(0x92, mode, blocks & 0xFF, (blocks >> 8) & 0xFF, offset & 0xFF,
                 (offset >> 8) & 0xFF);
}

std::vector<std::uint8_t> Blocks(std::vector<std::uint8_t> image, std::size_t blocks) {
  image.resize(blocks * 512, 0);
  return image;
}

TEST(DownloadMicrocode, WholeImageModes) {
  const auto valid = MakeBenchFirmware("NEW1", 3);
  auto badChecksum = valid;
  badChecksum[700] ^= 0x01;
  const std::vector<std::uint8_t> garbage(3 * 512, 0x11);
  auto swapped = valid;  // a transport that swaps the bytes of each word
  for (std::size_t i = 0; i < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);

  struct Case {
    const char* name;
    AtaTaskFile command;
    std::vector<std::uint8_t> data;
    std::uint8_t status;
    std::uint8_t countAfter;  // checked on success only
    std::string active, permanent;
  };
  const Case cases[] = {
      {"temporary", Dlmc(0x01, 3), valid, kOk, 2, "NEW1", "BF1.00"},
      {"permanent", Dlmc(0x07, 3), valid, kOk, 2, "NEW1", "NEW1"},
      {"trailing block ignored", Dlmc(0x07, 4), Blocks(valid, 4), kOk, 2, "NEW1", "NEW1"},
      {"not an image", Dlmc(0x07, 3), garbage, kAborted, 0, "BF1.00", "BF1.00"},
      {"bad checksum", Dlmc(0x01, 3), badChecksum, kAborted, 0, "BF1.00", "BF1.00"},
      {"bytes swapped", Dlmc(0x07, 3), swapped, kAborted, 0, "BF1.00", "BF1.00"},
      {"fewer blocks than the image", Dlmc(0x07, 2), valid, kAborted, 0, "BF1.00", "BF1.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHost host;
    EXPECT_EQ(host.Run(c.command, c.data), c.status);
    // The whole image is taken before the drive judges it.
    const std::uint32_t blocks = c.command.count | c.command.lbaLow << 8;
    EXPECT_EQ(host.drive->History().back().dataWordsIn, blocks * 256);
    if (c.status & kErr)
      EXPECT_EQ(host.Error(), kAbrt);
    else
      EXPECT_EQ(host.channel.ReadByte(2), c.countAfter);
    EXPECT_EQ(host.drive->FirmwareRevision(), c.active);
    EXPECT_EQ(host.drive->PermanentRevision(), c.permanent);
    host.drive->PowerCycle();
    EXPECT_EQ(host.drive->FirmwareRevision(), c.permanent);
  }
}

TEST(DownloadMicrocode, RefusedBeforeAnyData) {
  struct Case {
    const char* name;
    AtaTaskFile command;
  };
  const Case cases[] = {
      {"no blocks, temporary", Dlmc(0x01, 0)},
      {"no blocks, permanent", Dlmc(0x07, 0)},
      {"no blocks, segmented", Dlmc(0x03, 0)},
      {"segment above the maximum", Dlmc(0x03, 65)},
      {"first segment not at offset 0", Dlmc(0x03, 1, 1)},
      {"activate with nothing deferred", Dlmc(0x0F, 0)},
      {"unknown mode", Dlmc(0x05, 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHost host;
    host.Issue(c.command);
    EXPECT_EQ(host.WaitNotBusy(), kAborted);  // no DRQ: no data phase at all
    EXPECT_EQ(host.Error(), kAbrt);
    EXPECT_EQ(host.drive->FirmwareRevision(), "BF1.00");
  }
}

// Sends the image in segments of 64 blocks at most; 130 blocks go as
// 64 + 64 + 2 at offsets 0, 64, 128. Gives the status and the count register
// after each segment.
struct SegmentResult {
  std::uint8_t status, count;
};
std::vector<SegmentResult> SendSegments(DriveHost& host, std::uint8_t mode,
                                        const std::vector<std::uint8_t>& image) {
  const std::uint32_t total = static_cast<std::uint32_t>(image.size() / 512);
  std::vector<SegmentResult> results;
  for (std::uint32_t offset = 0; offset < total; offset += 64) {
    const std::uint32_t n = std::min<std::uint32_t>(64, total - offset);
    std::span<const std::uint8_t> segment(image.data() + offset * 512, n * 512);
    const std::uint8_t status = host.Run(Dlmc(mode, n, offset), segment);
    results.push_back({status, host.channel.ReadByte(2)});
  }
  return results;
}

TEST(DownloadMicrocode, SegmentedAppliesOrSavesWhenComplete) {
  struct Case {
    std::uint8_t mode;
    std::vector<std::uint8_t> counts;
    std::string activeAfter;
    std::optional<std::string> deferredAfter;
  };
  const Case cases[] = {
      {0x03, {1, 1, 2}, "SEG2", std::nullopt},
      {0x0E, {1, 1, 3}, "BF1.00", "SEG2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.mode));
    DriveHost host;
    std::vector<std::uint8_t> counts;
    for (auto [status, count] : SendSegments(host, c.mode, MakeBenchFirmware("SEG2", 130))) {
      EXPECT_EQ(status, kOk);
      counts.push_back(count);
    }
    EXPECT_EQ(counts, c.counts);
    EXPECT_EQ(host.drive->FirmwareRevision(), c.activeAfter);
    EXPECT_EQ(host.drive->DeferredRevision(), c.deferredAfter);
    const auto& h = host.drive->History();
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ((std::array{h[0].lbaMid, h[1].lbaMid, h[2].lbaMid}),
              (std::array<std::uint8_t, 3>{0, 64, 128}));
  }
}

TEST(DownloadMicrocode, DeferredThenActivated) {
  DriveHost host;
  ASSERT_EQ(SendSegments(host, 0x0E, MakeBenchFirmware("DEF3", 2)).back().status, kOk);
  host.drive->PowerCycle();  // saved firmware waits across power cycles
  EXPECT_EQ(host.drive->DeferredRevision(), "DEF3");
  EXPECT_EQ(host.drive->FirmwareRevision(), "BF1.00");
  EXPECT_EQ(host.Run(Dlmc(0x0F, 0)), kOk);
  EXPECT_EQ(host.channel.ReadByte(2), 2);
  EXPECT_EQ(host.drive->FirmwareRevision(), "DEF3");
  EXPECT_EQ(host.drive->PermanentRevision(), "DEF3");
  EXPECT_EQ(host.Run(Dlmc(0x0F, 0)), kAborted);  // nothing left to activate
  std::vector<std::uint8_t> identify;
  host.Run(Identify(), {}, &identify);
  EXPECT_EQ(AtaString(identify, 23, 4), "DEF3    ");
}

// An image the drive takes goes to flash: it stays busy for its flash time,
// counted on the bench's clock (a status read is a millisecond), after the
// whole image or the last segment only; an image it refuses does not.
TEST(DownloadMicrocode, AnImageTakenKeepsTheDriveBusyForItsFlashTime) {
  auto broken = MakeBenchFirmware("FLASH", 130);
  broken[700] ^= 0x01;
  struct Case {
    const char* name;
    std::uint8_t mode;
    std::vector<std::uint8_t> image;
    unsigned busyAtEnd;  // status reads showing BSY after the last data block
  };
  const Case cases[] = {
      {"whole image", 0x07, MakeBenchFirmware("FLASH", 130), 3000},
      {"segments", 0x03, MakeBenchFirmware("FLASH", 130), 3000},
      {"refused", 0x07, broken, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHost host;
    host.drive->Faults().flashSeconds = 3;
    std::span<const std::uint8_t> all(c.image);
    std::vector<unsigned> busy;
    const std::vector<std::uint32_t> sizes =
        c.mode == 0x07 ? std::vector<std::uint32_t>{130} : std::vector<std::uint32_t>{64, 64, 2};
    std::uint32_t offset = 0;
    for (std::uint32_t blocks : sizes) {
      EXPECT_EQ(host.Run(Dlmc(c.mode, blocks, c.mode == 0x07 ? 0 : offset),
                         all.subspan(offset * 512, blocks * 512), nullptr, 10'000) &
                    kBsy,
                0);
      busy.push_back(host.polls);
      offset += blocks;
    }
    EXPECT_EQ(busy.back(), c.busyAtEnd);
    for (std::size_t i = 0; i + 1 < busy.size(); ++i) EXPECT_EQ(busy[i], 0u) << "segment " << i;
    EXPECT_EQ(host.drive->FirmwareRevision(), c.busyAtEnd ? "FLASH" : "BF1.00");
  }
}

TEST(DownloadMicrocode, SegmentedFailures) {
  const auto image = MakeBenchFirmware("SEG4", 130);
  auto lastBroken = image;
  lastBroken.back() ^= 0xFF;
  std::vector<std::uint8_t> notImage(130 * 512, 0x22);

  // A broken image is refused at the segment that shows it: the first for
  // something that is no image at all (and then the download is over), the
  // last for a bad checksum.
  struct Case {
    const char* name;
    const std::vector<std::uint8_t>& data;
    std::array<std::uint32_t, 3> wordsTaken;
    std::array<bool, 3> aborted;
  };
  const Case cases[] = {
      {"not an image", notImage, {64 * 256, 0, 0}, {true, true, true}},
      {"bad checksum", lastBroken, {64 * 256, 64 * 256, 2 * 256}, {false, false, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHost host;
    const auto results = SendSegments(host, 0x03, c.data);
    const auto& h = host.drive->History();
    ASSERT_EQ(h.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(h[i].dataWordsIn, c.wordsTaken[i]) << "segment " << i;
      EXPECT_EQ(results[i].status, c.aborted[i] ? kAborted : kOk) << "segment " << i;
    }
    EXPECT_EQ(host.drive->FirmwareRevision(), "BF1.00");
  }

  // A segment out of order ends the download: what follows is refused too.
  DriveHost host;
  std::span<const std::uint8_t> all(image);
  EXPECT_EQ(host.Run(Dlmc(0x03, 64, 0), all.first(64 * 512)), kOk);
  EXPECT_EQ(host.Run(Dlmc(0x03, 64, 128), all.subspan(128 * 512)), kAborted);
  EXPECT_EQ(host.Run(Dlmc(0x03, 64, 64), all.subspan(64 * 512, 64 * 512)), kAborted);
  // A segment in another mode does not continue the download either.
  EXPECT_EQ(host.Run(Dlmc(0x03, 64, 0), all.first(64 * 512)), kOk);
  EXPECT_EQ(host.Run(Dlmc(0x0E, 64, 64), all.subspan(64 * 512, 64 * 512)), kAborted);
  EXPECT_EQ(host.drive->FirmwareRevision(), "BF1.00");
}

}  // namespace
}  // namespace brisquel::sim::drivetest
