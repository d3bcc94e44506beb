// The IDENTIFY words the checks around a download read, and the re-IDENTIFY
// after it, on the bench over every transport.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>

#include "ops/DownloadCheck.h"
#include "ops/DriveCapabilities.h"
#include "ops/OpsBench.h"
#include "ops/StandardDownload.h"
#include "sim/AtaDrive.h"

namespace brisquel::test {
namespace {

std::array<std::uint8_t, kSectorSize> Sector(
    std::initializer_list<std::pair<int, std::uint16_t>> words) {
  std::array<std::uint8_t, kSectorSize> s{};
  for (const auto& [index, value] : words) {
    s[2 * index] = static_cast<std::uint8_t>(value);
    s[2 * index + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  return s;
}

TEST(DriveCapabilities, WordsWithoutTheirValidityBitsSayNothing) {
  // Bits 15:14 of words 83, 87, 119 and 120 must read 01 for their bits to count.
  const auto invalid = CapabilitiesOf(Sector({{82, 0x0001},
                                              {83, 0x8001},
                                              {86, 0x0001},
                                              {87, 0xC000},
                                              {119, 0x0010},
                                              {120, 0xC010},
                                              {234, 0xFFFF},
                                              {235, 0x0000},
                                              {60, 1000}}));
  EXPECT_EQ(invalid.dlmcSupported, Said::notSaid);
  EXPECT_EQ(invalid.dlmcEnabled, Said::notSaid);
  EXPECT_EQ(invalid.smartSupported, Said::notSaid);
  EXPECT_EQ(invalid.offsetsSupported, Said::notSaid);
  EXPECT_EQ(invalid.offsetsEnabled, Said::notSaid);
  EXPECT_FALSE(invalid.segmentMin);
  EXPECT_FALSE(invalid.segmentMax);
  EXPECT_EQ(invalid.sectors, 1000u);
  // Unsaid refuses nothing.
  EXPECT_FALSE(DlmcPreflightRefusal(invalid, kDlmcSegmented));
  EXPECT_FALSE(PlanSegments(invalid, 0xFFFF, {65535, false}, 65535).refusal);

  const auto said = CapabilitiesOf(Sector(
      {{83, 0x4400}, {87, 0x4000}, {119, 0x4000}, {100, 0x5678}, {101, 0x1234}, {102, 0x0001}}));
  EXPECT_EQ(said.dlmcSupported, Said::no);
  EXPECT_EQ(said.offsetsSupported, Said::no);
  EXPECT_EQ(said.sectors, 0x0001'1234'5678u);  // 48-bit: words 100-103
  EXPECT_TRUE(DlmcPreflightRefusal(said, kDlmcTemporary));
}

TEST(DriveCapabilities, SegmentsWithinTheDriveAndTheTransport) {
  struct Case {
    std::optional<std::uint16_t> min, max;
    TransportKind kind;
    std::uint32_t queueBytes;
    SegmentRequest request;
    std::uint32_t total;
    std::vector<std::uint32_t> sizes;  // empty: refused
  };
  const SegmentRequest fromDrive{std::nullopt, true};
  const SegmentRequest usual{};
  const Case cases[] = {
      {1, 2816, TransportKind::pio, 0, fromDrive, 3000, {2816, 184}},
      {1, 2816, TransportKind::ataPassThrough, 512 * 1024, fromDrive, 1500, {1024, 476}},
      {1, 2816, TransportKind::scsiPassThrough, 0x20000, fromDrive, 300, {255, 45}},
      {std::nullopt, std::nullopt, TransportKind::ataPassThrough, 0, fromDrive, 129, {64, 64, 1}},
      // The usual 64, and a size asked for, are cut to the drive's maximum.
      {std::nullopt, 8, TransportKind::ataPassThrough, 0, usual, 20, {8, 8, 4}},
      {std::nullopt, 128, TransportKind::pio, 0, {200, false}, 300, {128, 128, 44}},
      // A last segment below the drive's minimum: the same count, evenly.
      {128, 256, TransportKind::ataPassThrough, 0, fromDrive, 300, {150, 150}},
      {128, 256, TransportKind::ataPassThrough, 0, fromDrive, 513, {171, 171, 171}},
      {100, 256, TransportKind::ataPassThrough, 0, fromDrive, 301, {151, 150}},
      // No split fits: the minimum out of the transport's reach, an image
      // smaller than the minimum, or one that even segments cannot carry.
      {300, 400, TransportKind::scsiPassThrough, 0, fromDrive, 600, {}},
      {128, 256, TransportKind::ataPassThrough, 0, fromDrive, 100, {}},
      {200, 256, TransportKind::ataPassThrough, 0, fromDrive, 260, {}},
      {8, 128, TransportKind::ataPassThrough, 0, {4, false}, 100, {}},
  };
  for (const Case& c : cases) {
    DriveCapabilities drive;
    drive.segmentMin = c.min;
    drive.segmentMax = c.max;
    const SegmentPlan plan =
        PlanSegments(drive, TransportSegmentLimit(c.kind, c.queueBytes), c.request, c.total);
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t sent = 0; !plan.refusal && sent < c.total;) {
      sizes.push_back(SegmentAt(plan, c.total, sent));
      sent += sizes.back();
    }
    EXPECT_EQ(sizes, c.sizes) << c.total << " blocks: " << plan.why << " / "
                              << plan.refusal.value_or("");
  }
}

// Time that passes only by sleeping.
class StepClock : public RetryClock {
 public:
  std::chrono::milliseconds Now() override { return now; }
  void Sleep(std::chrono::milliseconds d) override {
    now += d;
    ++sleeps;
  }
  std::chrono::milliseconds now{0};
  int sleeps = 0;
};

class DriveChecksOnBench : public ::testing::TestWithParam<TransportKind> {};

TEST_P(DriveChecksOnBench, TheCountRegisterOnlyWhereTheTransportReturnsIt) {
  sim::DriveIdentity identity;
  identity.segmentMax = 128;
  OpsBench b(GetParam(), identity);
  const auto image = sim::MakeBenchFirmware("SEG2", 150);
  b.ctx.segments.largest = 100;
  const DownloadOutcome outcome = DownloadMicrocodeData(b.ctx, kDlmcSegmented, image);
  ASSERT_TRUE(outcome.Completed()) << outcome.what;
  EXPECT_EQ(b.drive.History().back().count, 50);  // 100 + 50
  if (GetParam() == TransportKind::scsiPassThrough) {
    // CK_COND stays off on data commands: no registers come back.
    EXPECT_FALSE(outcome.countRegister);
  } else {
    EXPECT_EQ(outcome.countRegister, 0x02);
  }
  EXPECT_FALSE(outcome.earlyAnswer);
  EXPECT_TRUE(RevisionChangeDue(outcome)) << "applied, or not said: the change is due";

  StepClock clock;
  const auto after = IdentifyAfterDownload(b.ctx.transport, clock);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->firmware, "SEG2");
  EXPECT_EQ(clock.sleeps, 0);
}

TEST_P(DriveChecksOnBench, ADriveThatNeverAnswersIsAskedForTenSeconds) {
  OpsBench b(GetParam());
  b.drive.Faults().abortCommand = 0xEC;
  StepClock clock;
  EXPECT_FALSE(IdentifyAfterDownload(b.ctx.transport, clock));
  EXPECT_EQ(clock.now, kReidentifyTimeLimit);
  // 21 tries, half a second apart, the last at ten seconds; the pauses pass in
  // slices of a tenth, with the window pumped after each.
  EXPECT_EQ(clock.sleeps, 100);
  EXPECT_GE(b.host.pumps, 100);
}

INSTANTIATE_TEST_SUITE_P(Transports, DriveChecksOnBench, kAllTransports, TransportParamName());

}  // namespace
}  // namespace brisquel::test
