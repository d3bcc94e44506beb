#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/SgTranslate.h"
#include "support/SenseSamples.h"

namespace brisquel::linuxpt {
namespace {

using testing::Bytes;
using testing::kDescriptorSense;
using testing::kFixedSense61;

Bytes ToBytes(const Cdb16& cdb) {
  return Bytes(cdb.begin(), cdb.end());
}

AtaRequest Request(DataDirection direction, AtaTaskFile regs, bool registersBack = false) {
  return {regs, direction, {}, 5, registersBack};
}

TEST(BuildAtaPassThrough16, CarriesTheTaskFileWithProtocolAndLengthFromTheDirection) {
  using D = DataDirection;
  struct Case {
    const char* what;
    AtaRequest request;
    Bytes cdb;
  };
  const Case cases[] = {
      {"IDENTIFY, data-in: PIO in, length from the transfer, no CK_COND",
       Request(D::in, {.count = 1, .device = 0xA0, .command = 0xEC}),
       {0x85, 0x09, 0x0B, 0, 0x00, 0, 0x01, 0, 0x00, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0}},
      {"vendor enable, no data, registers asked for: non-data with CK_COND",
       Request(D::none, {0x45, 0x0B, 0x00, 0x44, 0x57, 0xA0, 0x80}, true),
       {0x85, 0x07, 0x20, 0, 0x45, 0, 0x0B, 0, 0x00, 0, 0x44, 0, 0x57, 0xA0, 0x80, 0}},
      {"DOWNLOAD MICROCODE of 0x1234 blocks, data-out: count and LBA low both carried",
       Request(D::out, {0x07, 0x34, 0x12, 0x00, 0x00, 0xA0, 0x92}),
       {0x85, 0x0B, 0x03, 0, 0x07, 0, 0x34, 0, 0x12, 0, 0x00, 0, 0x00, 0xA0, 0x92, 0}},
      {"a data command with its registers asked for: CK_COND too",
       Request(D::out, {0x07, 0x34, 0x12, 0x00, 0x00, 0xA0, 0x92}, true),
       {0x85, 0x0B, 0x23, 0, 0x07, 0, 0x34, 0, 0x12, 0, 0x00, 0, 0x00, 0xA0, 0x92, 0}},
      {"48-bit: the previous bytes go in the HOB bytes",
       Request(D::in, {0x01, 0x02, 0x03, 0x04, 0x05, 0xE0, 0x2F, 0x11, 0x22, 0x33, 0x44, 0x55}),
       {0x85, 0x09, 0x0B, 0x11, 0x01, 0x22, 0x02, 0x33, 0x03, 0x44, 0x04, 0x55, 0x05, 0xE0, 0x2F,
        0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToBytes(BuildAtaPassThrough16(c.request)), c.cdb) << c.what;
  }
}

TEST(CompleteAtaRequest, StatusAndErrorSayHowTheCommandEnded) {
  const AtaRequest identify =
      Request(DataDirection::in, {.count = 1, .device = 0xA0, .command = 0xEC});
  struct Case {
    const char* what;
    std::uint8_t scsiStatus;
    Bytes sense;
    std::uint8_t status, error;
    bool registersReturned;
  };
  const Case cases[] = {
      {"GOOD, no registers: a ready drive", kScsiGood, {}, 0x50, 0x00, false},
      {"returned registers of a success", kScsiCheckCondition, kDescriptorSense, 0x50, 0x04, true},
      {"returned registers of an abort (6.1 fixed)", kScsiCheckCondition, kFixedSense61, 0x51, 0x04,
       true},
      {"rejected before reaching the drive",
       kScsiCheckCondition,
       {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0},
       0x51,
       0x04,
       false},
      {"RECOVERED ERROR without registers",
       kScsiCheckCondition,
       {0x70, 0, 0x01, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0},
       0x50,
       0x00,
       false},
      {"CHECK CONDITION without sense", kScsiCheckCondition, {}, 0x51, 0x04, false},
      {"BUSY", 0x08, {}, 0x51, 0x04, false},
  };
  for (const Case& c : cases) {
    const AtaAnswer answer = CompleteAtaRequest(identify, c.scsiStatus, c.sense);
    EXPECT_EQ(answer.returned.command, c.status) << c.what;
    EXPECT_EQ(answer.returned.features, c.error) << c.what;
    EXPECT_EQ(answer.registersReturned, c.registersReturned) << c.what;
  }
  const AtaAnswer back = CompleteAtaRequest(identify, kScsiCheckCondition, kDescriptorSense);
  const AtaTaskFile& r = back.returned;
  EXPECT_EQ((Bytes{r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device, r.command}),
            (Bytes{0x04, 0x02, 0x10, 0x4F, 0xC2, 0xA0, 0x50}));
  EXPECT_EQ((Bytes{r.featuresPrev, r.countPrev, r.lbaLowPrev, r.lbaMidPrev, r.lbaHighPrev}),
            (Bytes{0, 0xAA, 0xBB, 0xCC, 0xDD}));
}

}  // namespace
}  // namespace brisquel::linuxpt
