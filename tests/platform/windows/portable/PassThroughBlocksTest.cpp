// The Windows backend's request blocks, byte for byte, through a stand-in for
// DeviceIoControl that keeps what it was handed and answers into the block.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/windows/portable/PassThroughBlocks.h"
#include "transport/SatCdb.h"

namespace brisquel::winpt {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BlockStandIn : public IoControl {
 public:
  struct Call {
    std::uint32_t code;
    Bytes input;  // the first inSize bytes, as handed in
    std::uint32_t inSize, outSize;
    bool sameBlock;
  };
  std::vector<Call> calls;
  std::function<void(std::span<std::uint8_t> block)> answer;  // into the whole block
  std::uint32_t refuseWith = 0;

  bool DeviceIoControl(OsHandle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override {
    const auto* bytes = static_cast<const std::uint8_t*>(in);
    calls.push_back({code, Bytes(bytes, bytes + inSize), inSize, outSize, in == out});
    if (refuseWith) return false;
    if (answer) answer({static_cast<std::uint8_t*>(out), std::max(inSize, outSize)});
    if (returned) *returned = outSize;
    return true;
  }
  std::uint32_t GetLastError() override { return refuseWith; }
};

const AtaTaskFile kIdentify{.count = 1, .device = 0xA0, .command = 0xEC};

TEST(AtaPassThroughEx, IdentifyGoesOutAsTheExactSixtyFourBitBlock) {
  BlockStandIn io;
  Bytes data(512, 0x33);
  SendAtaPassThroughEx(io, 0x44, {kIdentify, DataDirection::in, data, 5, false});
  ASSERT_EQ(io.calls.size(), 1u);
  const auto& call = io.calls[0];
  EXPECT_EQ(call.code, 0x4D02Cu);
  EXPECT_TRUE(call.sameBlock);
  EXPECT_EQ(call.inSize, 48u);
  EXPECT_EQ(call.outSize, 560u);
  const Bytes header = {
      0x30, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00,  // Length 48, AtaFlags, Path/Target/Lun
      0x00, 0x02, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  // DataTransferLength 512, TimeOutValue 5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved, alignment
      0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // DataBufferOffset 48
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // PreviousTaskFile
      0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00,  // CurrentTaskFile
  };
  EXPECT_EQ(call.input, header);
}

TEST(AtaPassThroughEx, FlagsSizesLimitAndDataFollowTheRequest) {
  Bytes out(32768);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i * 13);
  Bytes in(512);
  const AtaTaskFile regs{0x07, 0x40, 0, 0, 0, 0xA0, 0x92, 1, 2, 3, 4, 5};
  struct Case {
    DataDirection dir;
    std::span<std::uint8_t> data;
    std::uint32_t limit;
    std::uint16_t flags;
    std::uint32_t in, out;
  };
  for (const Case& c : {Case{DataDirection::none, {}, 5, 0x09, 48, 48},
                        Case{DataDirection::out, out, 120, 0x0D, 32816, 48},
                        Case{DataDirection::in, in, 5, 0x0B, 48, 560}}) {
    BlockStandIn io;
    SendAtaPassThroughEx(io, 0x44, {regs, c.dir, c.data, c.limit, false});
    ASSERT_EQ(io.calls.size(), 1u);
    const Bytes& block = io.calls[0].input;
    EXPECT_EQ(io.calls[0].inSize, c.in);
    EXPECT_EQ(io.calls[0].outSize, c.out);
    EXPECT_EQ(GetU16(&block[ataptx::kAtaFlags]), c.flags);
    EXPECT_EQ(GetU32(&block[ataptx::kDataTransferLength]), c.data.size());
    EXPECT_EQ(GetU32(&block[ataptx::kTimeOutValue]), c.limit);
    EXPECT_EQ(Bytes(block.begin() + 32, block.begin() + 48),
              (Bytes{1, 2, 3, 4, 5, 0, 0, 0, 0x07, 0x40, 0, 0, 0, 0xA0, 0x92, 0}));
    if (c.dir == DataDirection::out) {
      EXPECT_TRUE(std::equal(block.begin() + 48, block.end(), out.begin(), out.end()));
    }
  }
}

TEST(AtaPassThroughEx, TheAnswerIsTheReturnedTaskFilesAndDataArea) {
  BlockStandIn io;
  io.answer = [](std::span<std::uint8_t> block) {
    const std::uint8_t previous[] = {0, 0x21, 0x22, 0x23, 0x24};
    const std::uint8_t current[] = {0x04, 0x11, 0x12, 0x13, 0x14, 0xE0, 0x51};
    std::copy(std::begin(previous), std::end(previous), block.begin() + ataptx::kPreviousTaskFile);
    std::copy(std::begin(current), std::end(current), block.begin() + ataptx::kCurrentTaskFile);
    std::fill(block.begin() + ataptx::kHeaderSize, block.end(), 0x5A);
  };
  Bytes data(512, 0x33);
  const AtaAnswer answer =
      SendAtaPassThroughEx(io, 0x44, {kIdentify, DataDirection::in, data, 5, false});
  EXPECT_TRUE(answer.delivered);
  EXPECT_TRUE(answer.registersReturned);
  EXPECT_EQ(answer.returned.features, 0x04);  // error
  EXPECT_EQ(answer.returned.command, 0x51);   // status
  EXPECT_EQ(answer.returned.count, 0x11);
  EXPECT_EQ(answer.returned.lbaHighPrev, 0x24);
  EXPECT_EQ(std::count(data.begin(), data.end(), 0x5A), 512);

  io.refuseWith = 50;
  std::fill(data.begin(), data.end(), 0x33);
  const AtaAnswer refused =
      SendAtaPassThroughEx(io, 0x44, {kIdentify, DataDirection::in, data, 5, false});
  EXPECT_FALSE(refused.delivered);
  EXPECT_EQ(refused.systemError, 50u);
  EXPECT_EQ(data[0], 0x33) << "nothing copied from a refused request";
}

TEST(ScsiPassThroughBlock, IdentifyGoesOutAsTheExactSixtyFourBitBlock) {
  BlockStandIn io;
  Bytes data(512);
  const SatCdb cdb =
      BuildSatCdb(SatForm::a1Ten, kIdentify,
                  {SatProtocol::pioIn, kSatTDirFromDevice | kSatBytBlok | kSatTLengthCount});
  SendScsiPassThrough(io, 0x55, {cdb, DataDirection::in, data, 5});
  ASSERT_EQ(io.calls.size(), 1u);
  const auto& call = io.calls[0];
  EXPECT_EQ(call.code, 0x4D004u);
  EXPECT_TRUE(call.sameBlock);
  EXPECT_EQ(call.inSize, 80u);
  EXPECT_EQ(call.outSize, 592u);
  // clang-format off
  const Bytes block = {
      0x38, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x18,  // Length 56, ScsiStatus, Path, Target 1,
                                                       // Lun, CdbLength 10, SenseInfoLength 24
      0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,  // DataIn 1, DataTransferLength 512
      0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // TimeOutValue 5
      0x50, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // DataBufferOffset 80
      0x38, 0x00, 0x00, 0x00, 0xA1, 0x08, 0x0E, 0x00,  // SenseInfoOffset 56, Cdb: ten bytes ...
      0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00, 0x00,  // ... sent, the rest zero
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // Cdb end, alignment
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // sense area
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
  };
  // clang-format on
  EXPECT_EQ(call.input, block);
}

TEST(ScsiPassThroughBlock, DataInSizesCdbLengthAndTheAnswer) {
  Bytes out(32768, 0x77);
  Bytes in(1024, 0x33);
  struct Case {
    SatForm form;
    DataDirection dir;
    std::span<std::uint8_t> data;
    std::uint8_t dataIn, cdbLength;
    std::uint32_t in, out;
  };
  for (const Case& c : {Case{SatForm::a1Ten, DataDirection::none, {}, 2, 10, 56, 80},
                        Case{SatForm::x85, DataDirection::none, {}, 2, 16, 56, 80},
                        Case{SatForm::a1Twelve, DataDirection::out, out, 0, 12, 80 + 32768, 80},
                        Case{SatForm::x85, DataDirection::in, in, 1, 16, 80, 80 + 1024}}) {
    BlockStandIn io;
    io.answer = [](std::span<std::uint8_t> block) {
      block[scsiptx::kScsiStatus] = 0x02;
      const std::uint8_t sense[] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20};
      std::copy(std::begin(sense), std::end(sense), block.begin() + scsiptx::kSenseOffset);
      std::fill(block.begin() + scsiptx::kDataOffset, block.end(), 0x5A);
    };
    const SatCdb cdb = BuildSatCdb(c.form, kIdentify, {});
    const ScsiAnswer answer = SendScsiPassThrough(io, 0x55, {cdb, c.dir, c.data, 5});
    ASSERT_EQ(io.calls.size(), 1u);
    const Bytes& block = io.calls[0].input;
    EXPECT_EQ(io.calls[0].inSize, c.in);
    EXPECT_EQ(io.calls[0].outSize, c.out);
    EXPECT_EQ(block[scsiptx::kDataIn], c.dataIn);
    EXPECT_EQ(block[scsiptx::kCdbLength], c.cdbLength);
    EXPECT_EQ(GetU32(&block[scsiptx::kDataTransferLength]), c.data.size());
    if (c.dir == DataDirection::out) {
      EXPECT_TRUE(std::equal(block.begin() + 80, block.end(), out.begin(), out.end()));
    }
    EXPECT_EQ(answer.scsiStatus, 0x02);
    ASSERT_EQ(answer.sense.size(), 24u);
    EXPECT_EQ(answer.sense[2], 0x05);
    EXPECT_EQ(answer.sense[12], 0x20);
  }
  EXPECT_EQ(std::count(in.begin(), in.end(), 0x5A), 1024);
}

}  // namespace
}  // namespace brisquel::winpt
