#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/SgTranslate.h"

namespace brisquel::linuxpt {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const Cdb16& cdb) {
  return Bytes(cdb.begin(), cdb.end());
}

TEST(BuildAtaPassThrough16, CarriesTheTaskFileWithProtocolAndLengthFromTheDirection) {
  struct Case {
    const char* what;
    AtaPassRequest request;
    SgDirection direction;
    Bytes cdb;
  };
  const Case cases[] = {
      {"IDENTIFY, data-in: PIO in, length from the transfer, no CK_COND",
       {0x0B, {}, {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}},
       SgDirection::fromDevice,
       {0x85, 0x09, 0x0B, 0, 0x00, 0, 0x01, 0, 0x00, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0}},
      {"vendor enable, no data: non-data with CK_COND",
       {0x09, {}, {0x45, 0x0B, 0x00, 0x44, 0x57, 0xA0, 0x80, 0x00}},
       SgDirection::none,
       {0x85, 0x07, 0x20, 0, 0x45, 0, 0x0B, 0, 0x00, 0, 0x44, 0, 0x57, 0xA0, 0x80, 0}},
      {"DOWNLOAD MICROCODE of 0x1234 blocks, data-out: count and LBA low both carried",
       {0x0D, {0x00, 0x00, 0x00, 0x00, 0x00}, {0x07, 0x34, 0x12, 0x00, 0x00, 0xA0, 0x92, 0x00}},
       SgDirection::toDevice,
       {0x85, 0x0B, 0x03, 0, 0x07, 0, 0x34, 0, 0x12, 0, 0x00, 0, 0x00, 0xA0, 0x92, 0}},
      {"48-bit: the previous bytes go in the HOB bytes",
       {0x0B, {0x11, 0x22, 0x33, 0x44, 0x55}, {0x01, 0x02, 0x03, 0x04, 0x05, 0xE0, 0x2F, 0x00}},
       SgDirection::fromDevice,
       {0x85, 0x09, 0x0B, 0x11, 0x01, 0x22, 0x02, 0x33, 0x03, 0x44, 0x04, 0x55, 0x05, 0xE0, 0x2F,
        0}},
      {"without the 48-bit flag the previous bytes are not sent",
       {0x02, {0x11, 0x22, 0x33, 0x44, 0x55}, {0xD5, 0x01, 0xBE, 0x4F, 0xC2, 0xA0, 0xB0, 0x00}},
       SgDirection::fromDevice,
       {0x85, 0x08, 0x0B, 0, 0xD5, 0, 0x01, 0, 0xBE, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}},
      {"DMA flag: DMA protocol",
       {0x1B, {}, {0, 8, 0, 0, 0, 0xE0, 0x25, 0}},
       SgDirection::fromDevice,
       {0x85, 0x0D, 0x0B, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0xE0, 0x25, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToBytes(BuildAtaPassThrough16(c.request, c.direction)), c.cdb) << c.what;
  }
}

TEST(AtaDirection, FollowsTheFlagsAndRefusesBoth) {
  EXPECT_EQ(AtaDirection(0x09), SgDirection::none);
  EXPECT_EQ(AtaDirection(0x0B), SgDirection::fromDevice);
  EXPECT_EQ(AtaDirection(0x0D), SgDirection::toDevice);
  EXPECT_EQ(AtaDirection(0x0F), std::nullopt);
}

// libata's answer to a successful non-data command with CK_COND: RECOVERED
// ERROR, 00/1D, and the ATA Status Return descriptor.
const Bytes kDescriptorSense = {0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    0x0E,  // header
                                0x09, 0x0C, 0x01, 0x04, 0xAA, 0x02, 0xBB, 0x10,
                                0xCC, 0x4F, 0xDD, 0xC2, 0xA0, 0x50};
// Kernel 6.1, failed command, fixed format: error, status, device, count at 8-11.
const Bytes kFixedSense61 = {0x70, 0,    0x0B, 0,    0,    0, 0, 0x0A, 0x04,
                             0x51, 0xA0, 0x01, 0x00, 0x00, 0, 0, 0,    0x00};
// SAT's own fixed format: error, status, device, count in the INFORMATION field.
const Bytes kFixedSenseSat = {0x70, 0,    0x0B, 0x04, 0x51, 0xE0, 0x03, 0x0A, 0x80,
                              0x11, 0x22, 0x33, 0x00, 0x00, 0,    0,    0,    0};

TEST(DecodeAtaStatusReturn, ReadsTheRegistersFromEachSenseForm) {
  auto d = DecodeAtaStatusReturn(kDescriptorSense);
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

  auto f = DecodeAtaStatusReturn(kFixedSense61);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->error, 0x04);
  EXPECT_EQ(f->status, 0x51);
  EXPECT_EQ(f->device, 0xA0);
  EXPECT_EQ(f->count, 0x01);

  auto s = DecodeAtaStatusReturn(kFixedSenseSat);
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

TEST(DecodeAtaStatusReturn, FindsTheDescriptorBehindOthers) {
  // An information descriptor (0x00, 10 bytes more) before the ATA one.
  Bytes sense = {0x72, 0x0B, 0x00, 0x00, 0, 0, 0, 0x1A, 0x00, 0x0A,
                 0x80, 0,    0,    0,    0, 0, 0, 0,    0,    0};
  sense.insert(sense.end(), kDescriptorSense.begin() + 8, kDescriptorSense.end());
  auto d = DecodeAtaStatusReturn(sense);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->status, 0x50);
  EXPECT_EQ(d->lbaHigh, 0xC2);
}

TEST(DecodeAtaStatusReturn, GivesNothingWithoutRegistersOrWhenCutShort) {
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
  for (const Case& c : cases) EXPECT_FALSE(DecodeAtaStatusReturn(c.sense)) << c.what;
}

TEST(CompleteAtaRequest, PutsStatusInByteSixAndErrorInByteZero) {
  const AtaPassRequest identify{0x0B, {}, {0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00}};
  struct Case {
    const char* what;
    std::uint8_t scsiStatus;
    Bytes sense;
    std::uint8_t status, error;
  };
  const Case cases[] = {
      {"GOOD, no registers: a ready drive", kScsiGood, {}, 0x50, 0x00},
      {"returned registers of a success", kScsiCheckCondition, kDescriptorSense, 0x50, 0x04},
      {"returned registers of an abort (6.1 fixed)", kScsiCheckCondition, kFixedSense61, 0x51,
       0x04},
      {"rejected before reaching the drive",
       kScsiCheckCondition,
       {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0},
       0x51,
       0x04},
      {"RECOVERED ERROR without registers",
       kScsiCheckCondition,
       {0x70, 0, 0x01, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0},
       0x50,
       0x00},
      {"CHECK CONDITION without sense", kScsiCheckCondition, {}, 0x51, 0x04},
      {"BUSY", 0x08, {}, 0x51, 0x04},
  };
  for (const Case& c : cases) {
    const AtaTaskFiles files = CompleteAtaRequest(identify, c.scsiStatus, c.sense);
    EXPECT_EQ(files.current[6], c.status) << c.what;
    EXPECT_EQ(files.current[0], c.error) << c.what;
    EXPECT_EQ(files.current[7], 0) << c.what;
  }
  const AtaTaskFiles back = CompleteAtaRequest(identify, kScsiCheckCondition, kDescriptorSense);
  EXPECT_EQ(back.current,
            (std::array<std::uint8_t, 8>{0x04, 0x02, 0x10, 0x4F, 0xC2, 0xA0, 0x50, 0}));
  EXPECT_EQ(back.previous, (std::array<std::uint8_t, 8>{0, 0xAA, 0xBB, 0xCC, 0xDD, 0, 0, 0}));
}

TEST(DecodeSenseKey, ReadsBothFormats) {
  auto f = DecodeSenseKey(Bytes{0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00});
  ASSERT_TRUE(f);
  EXPECT_EQ(f->key, 5);
  EXPECT_EQ(f->asc, 0x20);
  auto d = DecodeSenseKey(kDescriptorSense);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->key, 1);
  EXPECT_EQ(d->ascq, 0x1D);
  EXPECT_FALSE(DecodeSenseKey(Bytes{0x00, 0x00}));
}

}  // namespace
}  // namespace brisquel::linuxpt
