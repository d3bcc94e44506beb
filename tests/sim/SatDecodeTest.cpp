#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/UsbBridge.h"

namespace brisquel::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr DataDirection kNone = DataDirection::none;
constexpr DataDirection kIn = DataDirection::in;
constexpr DataDirection kOut = DataDirection::out;

std::array<std::uint8_t, 12> Regs(const AtaTaskFile& t) {
  return {t.features, t.count,        t.lbaLow,    t.lbaMid,     t.lbaHigh,    t.device,
          t.command,  t.featuresPrev, t.countPrev, t.lbaLowPrev, t.lbaMidPrev, t.lbaHighPrev};
}

TEST(SatDecode, AcceptsWellFormedBlocksOfBothForms) {
  struct Case {
    const char* what;
    Bytes cdb;
    DataDirection direction;
    std::uint32_t length;
    std::array<std::uint8_t, 12> regs;
    SatProtocol protocol;
    bool extend, ckCond;
  };
  const Case cases[] = {
      {"IDENTIFY, 12-byte form sent with CdbLength 10",
       {0xA1, 0x08, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC},
       kIn,
       512,
       {0, 1, 0, 0, 0, 0xA0, 0xEC},
       SatProtocol::pioIn,
       false,
       false},
      {"non-data, 12 bytes",
       {0xA1, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xE7, 0x00, 0x00},
       kNone,
       0,
       {0, 0, 0, 0, 0, 0xA0, 0xE7},
       SatProtocol::nonData,
       false,
       false},
      {"SMART WRITE LOG of 64 sectors",
       {0xA1, 0x0A, 0x06, 0xD6, 0x40, 0xBF, 0x4F, 0xC2, 0xA0, 0xB0},
       kOut,
       32768,
       {0xD6, 0x40, 0xBF, 0x4F, 0xC2, 0xA0, 0xB0},
       SatProtocol::pioOut,
       false,
       false},
      {"16-byte non-data, T_DIR and BYT_BLOK set as the transport sends them",
       {0x85, 0x07, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0xE7, 0},
       kNone,
       0,
       {0, 0, 0, 0, 0, 0xA0, 0xE7},
       SatProtocol::nonData,
       true,
       false},
      {"16-byte with EXTEND carries the previous bytes",
       {0x85, 0x09, 0x0E, 0x01, 0x02, 0x00, 0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xA0, 0x2F,
        0},
       kIn,
       512,
       {0x02, 0x01, 0x04, 0x06, 0x08, 0xA0, 0x2F, 0x01, 0x00, 0x03, 0x05, 0x07},
       SatProtocol::pioIn,
       true,
       false},
      {"16-byte without EXTEND drops them",
       {0x85, 0x08, 0x0E, 0x11, 0x00, 0x22, 0x01, 0x33, 0, 0x44, 0, 0x55, 0, 0xA0, 0xEC, 0},
       kIn,
       512,
       {0, 1, 0, 0, 0, 0xA0, 0xEC},
       SatProtocol::pioIn,
       false,
       false},
      {"T_LENGTH 3: the length is the request's",
       {0xA1, 0x08, 0x0B, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC},
       kIn,
       1024,
       {0, 1, 0, 0, 0, 0xA0, 0xEC},
       SatProtocol::pioIn,
       false,
       false},
      {"BYT_BLOK clear: the count is in bytes",
       {0xA1, 0x08, 0x0A, 0x00, 0x80, 0x00, 0x00, 0x00, 0xA0, 0xEC},
       kIn,
       128,
       {0, 0x80, 0, 0, 0, 0xA0, 0xEC},
       SatProtocol::pioIn,
       false,
       false},
      {"CK_COND",
       {0xA1, 0x06, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0xE7},
       kNone,
       0,
       {0, 0, 0, 0, 0, 0xA0, 0xE7},
       SatProtocol::nonData,
       false,
       true},
      {"MULTIPLE_COUNT on READ MULTIPLE",
       {0xA1, 0x28, 0x0E, 0x00, 0x01, 0x00, 0x00, 0x00, 0xE0, 0xC4},
       kIn,
       512,
       {0, 1, 0, 0, 0, 0xE0, 0xC4},
       SatProtocol::pioIn,
       false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SatDecode d = DecodeSatCdb(c.cdb, c.direction, c.length);
    ASSERT_TRUE(d.command.has_value());
    EXPECT_EQ(Regs(d.command->regs), c.regs);
    EXPECT_EQ(d.command->protocol, c.protocol);
    EXPECT_EQ(d.command->direction, c.direction);
    EXPECT_EQ(d.command->byteCount, c.length);
    EXPECT_EQ(d.command->extend, c.extend);
    EXPECT_EQ(d.command->ckCond, c.ckCond);
  }
}

TEST(SatDecode, RejectsInvalidFieldsWithTheSenseTheyEarn) {
  struct Case {
    const char* what;
    Bytes cdb;
    DataDirection direction;
    std::uint32_t length;
    std::uint8_t asc;
    std::optional<std::uint8_t> field;
  };
  const Case cases[] = {
      {"not ATA PASS-THROUGH", {0x12, 0, 0, 0, 0x24, 0}, kIn, 36, 0x20, std::nullopt},
      {"no command block", {}, kNone, 0, 0x20, std::nullopt},
      {"12-byte form cut short", {0xA1, 0x06, 0x00, 0, 0, 0, 0, 0, 0xA0}, kNone, 0, 0x24, 0},
      {"16-byte form cut short", {0x85, 0x07, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kNone, 0, 0x24, 0},
      {"protocol 0, hard reset", {0xA1, 0x00, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xE7}, kNone, 0, 0x24, 1},
      {"protocol 15, return response information",
       {0xA1, 0x1E, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xE7},
       kNone,
       0,
       0x24,
       1},
      {"DMA without a DMA mode", {0xA1, 0x0C, 0x0E, 0, 1, 0, 0, 0, 0xE0, 0xC8}, kIn, 512, 0x24, 1},
      {"FPDMA", {0xA1, 0x18, 0x0E, 1, 0, 0, 0, 0, 0x40, 0x60}, kIn, 512, 0x24, 1},
      {"T_LENGTH 0 with a data direction",
       {0xA1, 0x08, 0x08, 0, 1, 0, 0, 0, 0xA0, 0xEC},
       kIn,
       512,
       0x24,
       2},
      {"PIO data-in protocol on a data-out request",
       {0xA1, 0x08, 0x06, 0, 1, 0, 0, 0, 0xA0, 0xEC},
       kOut,
       512,
       0x24,
       1},
      {"PIO data-in with T_DIR to the device",
       {0xA1, 0x08, 0x06, 0, 1, 0, 0, 0, 0xA0, 0xEC},
       kIn,
       512,
       0x24,
       2},
      {"PIO data-out with T_DIR from the device",
       {0xA1, 0x0A, 0x0E, 0xD6, 1, 0xBE, 0x4F, 0xC2, 0xA0, 0xB0},
       kOut,
       512,
       0x24,
       2},
      {"non-data protocol with a transfer length",
       {0xA1, 0x06, 0x06, 0, 1, 0, 0, 0, 0xA0, 0xE7},
       kNone,
       0,
       0x24,
       2},
      {"non-data request that carries data",
       {0xA1, 0x06, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xE7},
       kNone,
       512,
       0x24,
       2},
      {"count gives 512 bytes, the request 1024",
       {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC},
       kIn,
       1024,
       0x24,
       2},
      {"MULTIPLE_COUNT on IDENTIFY",
       {0xA1, 0x28, 0x0E, 0, 1, 0, 0, 0, 0xA0, 0xEC},
       kIn,
       512,
       0x24,
       1},
      {"SET FEATURES - XFER MODE, 12 bytes",
       {0xA1, 0x06, 0x00, 0x03, 0x46, 0, 0, 0, 0xA0, 0xEF},
       kNone,
       0,
       0x24,
       3},
      {"SET FEATURES - XFER MODE, 16 bytes",
       {0x85, 0x06, 0x00, 0, 0x03, 0, 0x46, 0, 0, 0, 0, 0, 0, 0xA0, 0xEF, 0},
       kNone,
       0,
       0x24,
       4},
      {"TRUSTED SEND, 12 bytes", {0xA1, 0x0A, 0x06, 1, 1, 0, 0, 0, 0xA0, 0x5E}, kOut, 512, 0x24, 9},
      {"TRUSTED RECEIVE, 16 bytes",
       {0x85, 0x08, 0x0E, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0xA0, 0x5C, 0},
       kIn,
       512,
       0x24,
       14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SatDecode d = DecodeSatCdb(c.cdb, c.direction, c.length);
    ASSERT_FALSE(d.command.has_value());
    EXPECT_EQ(d.rejection, (SatRejection{scsi::kIllegalRequest, c.asc, 0, c.field}));
  }
}

TEST(SatDecode, RejectionSenseIsFixedFormatWithTheFieldPointer) {
  EXPECT_EQ(RejectionSense({scsi::kIllegalRequest, 0x24, 0, 2}),
            (Bytes{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0xC0, 0, 2}));
  EXPECT_EQ(RejectionSense({scsi::kIllegalRequest, 0x20, 0, std::nullopt}),
            (Bytes{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace brisquel::sim
