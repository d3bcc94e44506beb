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

}  // namespace
}  // namespace brisquel::linuxpt
