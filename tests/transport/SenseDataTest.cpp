// One reader of sense data in both formats, and the writer the bench uses.
#include <gtest/gtest.h>

#include "support/SenseSamples.h"
#include "transport/SenseData.h"

namespace brisquel {
namespace {

using testing::Bytes;
using testing::kDescriptorSense;
using testing::kFixedSense61;
using testing::kFixedSenseSat;

TEST(SenseData, ReadsTheRegistersFromEachSenseForm) {
  auto d = ReadSenseData(kDescriptorSense).ata;
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->extend);
  EXPECT_EQ(d->error, 0x04);
  EXPECT_EQ(d->countPrev, 0xAA);
  EXPECT_EQ(d->count, 0x02);
  EXPECT_EQ(d->lbaLowPrev, 0xBB);
  EXPECT_EQ(d->lbaLow, 0x10);
  EXPECT_EQ(d->lbaMidPrev, 0xCC);
  EXPECT_EQ(d->lbaMid, 0x4F);
  EXPECT_EQ(d->lbaHighPrev, 0xDD);
  EXPECT_EQ(d->lbaHigh, 0xC2);
  EXPECT_EQ(d->device, 0xA0);
  EXPECT_EQ(d->status, 0x50);

  auto f = ReadSenseData(kFixedSense61).ata;
  ASSERT_TRUE(f);
  EXPECT_EQ(f->error, 0x04);
  EXPECT_EQ(f->status, 0x51);
  EXPECT_EQ(f->device, 0xA0);
  EXPECT_EQ(f->count, 0x01);

  auto s = ReadSenseData(kFixedSenseSat).ata;
  ASSERT_TRUE(s);
  EXPECT_EQ(s->error, 0x04);
  EXPECT_EQ(s->status, 0x51);
  EXPECT_EQ(s->device, 0xE0);
  EXPECT_EQ(s->count, 0x03);
  EXPECT_TRUE(s->extend);
  EXPECT_EQ(s->lbaLow, 0x11);
  EXPECT_EQ(s->lbaMid, 0x22);
  EXPECT_EQ(s->lbaHigh, 0x33);
}

TEST(SenseData, FindsTheDescriptorBehindOthers) {
  // An information descriptor (0x00, 10 bytes more) before the ATA one.
  Bytes sense = {0x72, 0x0B, 0x00, 0x00, 0, 0, 0, 0x1A, 0x00, 0x0A,
                 0x80, 0,    0,    0,    0, 0, 0, 0,    0,    0};
  sense.insert(sense.end(), kDescriptorSense.begin() + 8, kDescriptorSense.end());
  auto d = ReadSenseData(sense).ata;
  ASSERT_TRUE(d);
  EXPECT_EQ(d->status, 0x50);
  EXPECT_EQ(d->lbaHigh, 0xC2);
}

TEST(SenseData, GivesNothingWithoutRegistersOrWhenCutShort) {
  struct Case {
    const char* what;
    Bytes sense;
  };
  Bytes cut = kDescriptorSense;
  cut.resize(20);  // the descriptor's last two bytes missing
  Bytes overlong = kDescriptorSense;
  overlong[7] = 0xFF;  // additional length beyond the data
  overlong[8] = 0x00;  // an information descriptor first ...
  overlong[9] = 0xF0;  // ... whose length reaches far past the end
  const Case cases[] = {
      {"empty", {}},
      {"no sense data", {0x00, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x51, 0, 0}},
      {"vendor response code", {0x7F, 0, 0x0B, 0x04, 0x51, 0, 0, 0}},
      {"descriptor format without the ATA descriptor",
       {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0x08, 0x02, 0x06, 0, 0, 0xC0, 0x00, 0x01, 0}},
      {"descriptor header only", {0x72, 0x01, 0x00, 0x1D, 0, 0, 0}},
      {"descriptor cut short", cut},
      {"descriptor length past the end", overlong},
      {"fixed format, CDB field rejected (sense-key specific bytes only)",
       {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00, 0, 0xC0, 0x00, 0x02}},
  };
  for (const Case& c : cases) EXPECT_FALSE(ReadSenseData(c.sense).ata) << c.what;
}

TEST(SenseData, ReadsTheKeyOfBothFormatsAndTheFixedFields) {
  const SenseData f = ReadSenseData(
      Bytes{0x70, 0, 0xA5, 0x81, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00, 0, 0xC0, 0x00, 0x09});
  EXPECT_EQ(f.format, SenseData::Format::fixed);
  EXPECT_EQ(f.key, 5);
  EXPECT_EQ(f.asc, 0x20);
  EXPECT_EQ(f.flags, kSenseFilemark | kSenseIli);
  EXPECT_EQ(f.information[0], 0x81);
  EXPECT_EQ(f.fieldPointer, 9);
  const SenseData d = ReadSenseData(kDescriptorSense);
  EXPECT_EQ(d.format, SenseData::Format::descriptor);
  EXPECT_EQ(d.key, 1);
  EXPECT_EQ(d.ascq, 0x1D);
  EXPECT_EQ(ReadSenseData(Bytes{0x00, 0x00}).format, SenseData::Format::none);
  EXPECT_EQ(ReadSenseData(Bytes{0x7F, 0x05}).format, SenseData::Format::other);
}

// What the bench writes, the reader gives back, in either format.
TEST(SenseData, WhatIsWrittenReadsBack) {
  const AtaStatusReturn regs{.extend = true,
                             .error = 0x04,
                             .count = 0x02,
                             .lbaLow = 0x10,
                             .lbaMid = 0x4F,
                             .lbaHigh = 0xC2,
                             .device = 0xA0,
                             .status = 0x41};
  for (const auto format : {SenseData::Format::fixed, SenseData::Format::descriptor}) {
    const SenseData written{.format = format, .key = 0x0B, .asc = 0x00, .ascq = 0x1D, .ata = regs};
    const SenseData read = ReadSenseData(WriteSenseData(written));
    EXPECT_EQ(read.format, format);
    EXPECT_EQ(read.key, 0x0B);
    EXPECT_EQ(read.ascq, 0x1D);
    ASSERT_TRUE(read.ata);
    EXPECT_EQ(read.ata->status, 0x41);
    EXPECT_EQ(read.ata->error, 0x04);
    EXPECT_EQ(read.ata->lbaHigh, 0xC2);
    EXPECT_TRUE(read.ata->extend);
  }
  const SenseData rejected = ReadSenseData(WriteSenseData(
      {.format = SenseData::Format::fixed, .key = 5, .asc = 0x24, .fieldPointer = 2}));
  EXPECT_EQ(rejected.fieldPointer, 2);
  EXPECT_FALSE(rejected.ata);
}

}  // namespace
}  // namespace brisquel
