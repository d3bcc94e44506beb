#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FakeTransport.h"
#include "transport/PassThroughBlocks.h"
#include "transport/uAtaPass.h"

namespace brisquel {
namespace {

using testing::FakeDeviceIo;
using testing::FakeTransport;

constexpr OsHandle kDrive = 0x44;

AtaTaskFile Identify() {
  AtaTaskFile r;
  r.count = 1;
  r.device = 0xA0;
  r.command = 0xEC;
  return r;
}

struct AtaPass : ::testing::Test {
  FakeTransport f;
  TransportContext& t = f.ctx;
  std::vector<std::uint8_t>& buffer = f.state.TransferBuffer;
  AtaPass() { f.state.DriveTarget.ataPassHandle = f.io.Open(kDrive); }

  // The drive's answer: returned status and error, and for data-in the data.
  void Answer(std::uint8_t status, std::uint8_t error, std::uint8_t fill = 0) {
    f.io.replies.push_back({true, 0, [=](std::span<std::uint8_t> block) {
                              block[ataptx::kCurrentTaskFile + 6] = status;
                              block[ataptx::kCurrentTaskFile + 0] = error;
                              for (std::size_t i = ataptx::kHeaderSize; i < block.size(); ++i) {
                                block[i] = fill;
                              }
                            }});
  }
};

TEST_F(AtaPass, IdentifyGoesOutAsTheExactSixtyFourBitBlock) {
  f.io.SetLastError(1234);
  Answer(0x50, 0x00);
  ASSERT_TRUE(AtaPassThrough(t, Identify(), buffer, 512, DataDirection::in));

  ASSERT_EQ(f.io.calls.size(), 1u);
  const auto& call = f.io.calls[0];
  EXPECT_EQ(call.handle, kDrive);
  EXPECT_EQ(call.code, 0x4D02Cu);
  EXPECT_TRUE(call.sameBlock);
  EXPECT_EQ(call.lastErrorAtCall, 0u) << "last error is cleared before the request";
  EXPECT_EQ(call.inSize, 48u);
  EXPECT_EQ(call.outSize, 560u);
  const std::vector<std::uint8_t> header = {
      0x30, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00,  // Length 48, AtaFlags, Path/Target/Lun
      0x00, 0x02, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  // DataTransferLength 512, TimeOutValue 5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // reserved, alignment
      0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // DataBufferOffset 48
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // PreviousTaskFile
      0x00, 0x01, 0x00, 0x00, 0x00, 0xA0, 0xEC, 0x00,  // CurrentTaskFile
  };
  EXPECT_EQ(call.input, header);
}

TEST_F(AtaPass, FlagsSizesAndDataFollowTheDirection) {
  for (std::size_t i = 0; i < 32768; ++i) buffer[i] = static_cast<std::uint8_t>(i * 13);
  struct Case {
    DataDirection dir;
    std::uint32_t length;
    std::uint16_t flags;
    std::uint32_t in, out;
  };
  for (const Case& c : {Case{DataDirection::none, 0, 0x09, 48, 48},
                        Case{DataDirection::out, 32768, 0x0D, 32816, 48},
                        Case{DataDirection::in, 512, 0x0B, 48, 560}}) {
    FakeTransport g;
    g.state.DriveTarget.ataPassHandle = g.io.Open(kDrive);
    std::copy_n(buffer.begin(), 32768, g.state.TransferBuffer.begin());
    AtaTaskFile regs;
    regs.features = 0x07;
    regs.count = 0x40;
    regs.device = 0xA0;
    regs.command = 0x92;
    regs.featuresPrev = 1;
    regs.countPrev = 2;
    regs.lbaLowPrev = 3;
    regs.lbaMidPrev = 4;
    regs.lbaHighPrev = 5;
    AtaPassThrough(g.ctx, regs, g.state.TransferBuffer, c.length, c.dir);

    ASSERT_EQ(g.io.calls.size(), 1u);
    const auto& in = g.io.calls[0].input;
    EXPECT_EQ(g.io.calls[0].inSize, c.in);
    EXPECT_EQ(g.io.calls[0].outSize, c.out);
    EXPECT_EQ(GetU16(&in[ataptx::kAtaFlags]), c.flags);
    EXPECT_EQ(GetU32(&in[ataptx::kDataTransferLength]), c.length);
    EXPECT_EQ(
        std::vector(in.begin() + 32, in.begin() + 48),
        (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 0, 0, 0, 0x07, 0x40, 0, 0, 0, 0xA0, 0x92, 0}));
    if (c.dir == DataDirection::out) {
      EXPECT_TRUE(std::equal(in.begin() + 48, in.end(), buffer.begin()));
    }
  }
}

TEST_F(AtaPass, OnlyErrDecidesAndAFailureZeroesTheBufferWhateverTheDirection) {
  struct Case {
    DataDirection dir;
    std::uint8_t status, error;
    bool ok;
    std::uint8_t bufferAfter;  // byte 0..length-1
  };
  for (const Case& c : {Case{DataDirection::in, 0x50, 0x04, true, 0x5A},  // data copied
                        Case{DataDirection::in, 0xD8, 0x00, true, 0x5A},  // BSY/DRQ ignored
                        Case{DataDirection::in, 0x51, 0x04, false, 0x00},
                        Case{DataDirection::out, 0x51, 0x04, false, 0x00},
                        Case{DataDirection::out, 0x50, 0x00, true, 0x33},       // left as sent
                        Case{DataDirection::none, 0x71, 0x10, false, 0x33}}) {  // length 0
    FakeTransport g;
    g.state.DriveTarget.ataPassHandle = g.io.Open(kDrive);
    std::fill_n(g.state.TransferBuffer.begin(), 1024, 0x33);
    g.io.replies.push_back({true, 0, [&](std::span<std::uint8_t> block) {
                              block[ataptx::kCurrentTaskFile + 6] = c.status;
                              block[ataptx::kCurrentTaskFile] = c.error;
                              std::fill(block.begin() + 48, block.end(), 0x5A);
                            }});
    const std::uint32_t length = c.dir == DataDirection::none ? 0 : 512;
    EXPECT_EQ(AtaPassThrough(g.ctx, Identify(), g.state.TransferBuffer, length, c.dir).ok(), c.ok);
    const auto& buf = g.state.TransferBuffer;
    EXPECT_EQ(buf[0], c.bufferAfter);
    EXPECT_EQ(buf[511], c.bufferAfter);
    EXPECT_EQ(buf[512], 0x33) << "only `length` bytes are touched";
    AtaStatusBits expected;
    expected.DecodeStatus(c.status);
    expected.DecodeError(c.error);
    EXPECT_EQ(g.state.AtaStatusBits.ERR, expected.ERR);
    EXPECT_EQ(g.state.AtaStatusBits.ABRT, expected.ABRT);
    EXPECT_EQ(g.state.AtaStatusBits.IDNF, expected.IDNF);
    EXPECT_EQ(g.state.AtaStatusBits.BSY, expected.BSY);
    EXPECT_TRUE(g.host.log.empty());
  }
}

TEST_F(AtaPass, ARefusedRequestIsLoggedWithTheSystemTextAndZeroesTheBuffer) {
  struct Case {
    bool neverOpened;
    std::uint32_t error;
    const char* line;
  };
  for (const Case& c : {Case{true, 0, "IOCTL_ATA_PASS_THROUGH The handle is invalid"},
                        Case{false, win32::ERROR_NOT_SUPPORTED_,
                             "IOCTL_ATA_PASS_THROUGH The request is not supported"}}) {
    FakeTransport g;
    if (!c.neverOpened) {
      g.state.DriveTarget.ataPassHandle = g.io.Open(kDrive);
      g.io.replies.push_back(FakeDeviceIo::Refused(c.error));
    }
    g.state.AtaStatusBits.DecodeStatus(0x58);
    std::fill_n(g.state.TransferBuffer.begin(), 600, 0x33);
    EXPECT_FALSE(AtaPassThrough(g.ctx, Identify(), g.state.TransferBuffer, 512, DataDirection::in));
    EXPECT_EQ(g.host.log, std::vector<std::string>{c.line});
    EXPECT_EQ(g.io.calls.size(), 1u);
    EXPECT_EQ(g.io.calls[0].handle, c.neverOpened ? kNeverOpened : kDrive);
    EXPECT_EQ(g.state.TransferBuffer[511], 0);
    EXPECT_EQ(g.state.TransferBuffer[512], 0x33);
    EXPECT_TRUE(g.state.AtaStatusBits.DRQ) << "nothing decoded";
    EXPECT_FALSE(g.state.AtaStatusBits.ERR);
    EXPECT_EQ(g.host.pumps, 0);
  }
}

TEST(TrimSystemMessage, CutsAt255ThenDropsTrailingBlanksAndPeriods) {
  struct Case {
    std::string in, out;
  };
  const std::string a254(254, 'a');
  for (const Case& c :
       {Case{"The handle is invalid.\r\n", "The handle is invalid"},
        Case{"Done. .\t. \r\n", "Done"}, Case{"e.g. a text", "e.g. a text"}, Case{"...\r\n", ""},
        Case{"", ""}, Case{std::string(300, 'x'), std::string(255, 'x')},
        Case{a254 + ". and more", a254},                // the cut lands on a period
        Case{"Fehler \xC3\xA4", "Fehler \xC3\xA4"}}) {  // UTF-8 is not blank
    EXPECT_EQ(TrimSystemMessage(c.in), c.out) << c.in;
  }
}

TEST_F(AtaPass, ALengthPastTheBufferIsRefusedWithoutARequest) {
  std::vector<std::uint8_t> sector(512, 0x33);
  EXPECT_FALSE(AtaPassThrough(t, Identify(), sector, 1024, DataDirection::in));
  EXPECT_TRUE(f.io.calls.empty());
  EXPECT_EQ(f.host.log,
            std::vector<std::string>{
                "Command EC not sent: its 1024 bytes of data do not fit in a buffer of 512 bytes"});
  EXPECT_EQ(sector[0], 0x33);
}

TEST_F(AtaPass, AWholeTransferBufferGoesOutInOneBlock) {
  buffer.back() = 0x77;
  buffer.front() = 0x66;
  Answer(0x50, 0);
  ASSERT_TRUE(AtaPassThrough(t, Identify(), buffer, kTransferBufferSize, DataDirection::out));
  const auto& call = f.io.calls.at(0);
  EXPECT_EQ(call.inSize, 48u + 16'777'218u);
  EXPECT_EQ(call.input[48], 0x66);
  EXPECT_EQ(call.input.back(), 0x77);
}

}  // namespace
}  // namespace brisquel
