#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FakeTransport.h"
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
  ZeroedBuffer& buffer = f.state.TransferBuffer;
  AtaPass() { f.state.DriveTarget.ataPassHandle = f.io.Open(kDrive); }

  // The drive's answer: returned status and error, and for data-in the data.
  void Answer(std::uint8_t status, std::uint8_t error, std::uint8_t fill = 0) {
    FakeDeviceIo::Reply reply = FakeDeviceIo::AtaRegisters(status, error);
    reply.dataIn = [=](std::span<std::uint8_t> data) { std::fill(data.begin(), data.end(), fill); };
    f.io.replies.push_back(reply);
  }
};

TEST_F(AtaPass, TheCommandGoesOutAsOneRequestOnTheTargetsHandle) {
  for (std::size_t i = 0; i < 32768; ++i) buffer[i] = static_cast<std::uint8_t>(i * 13);
  const AtaTaskFile regs{0x07, 0x40, 0, 0, 0, 0xA0, 0x92, 1, 2, 3, 4, 5};
  struct Case {
    DataDirection dir;
    std::uint32_t length, limit;
    bool registersBack;  // asked for where the registers are the answer
  };
  for (const Case& c :
       {Case{DataDirection::none, 0, 5, true}, Case{DataDirection::out, 32768, 120, false},
        Case{DataDirection::in, 512, 5, false}}) {
    f.io.calls.clear();
    AtaPassThrough(t, regs, buffer, c.length, c.dir, c.limit);
    ASSERT_EQ(f.io.calls.size(), 1u);
    const auto& call = f.io.calls[0];
    EXPECT_EQ(call.handle, kDrive);
    EXPECT_FALSE(call.scsi);
    EXPECT_EQ(call.direction, c.dir);
    EXPECT_EQ(call.length, c.length);
    EXPECT_EQ(call.timeLimit, c.limit);
    EXPECT_EQ(call.registersBack, c.registersBack);
    EXPECT_EQ(call.regs.command, 0x92);
    EXPECT_EQ(call.regs.lbaHighPrev, 5);
    if (c.dir == DataDirection::out) {
      EXPECT_TRUE(std::equal(call.dataOut.begin(), call.dataOut.end(), buffer.begin()));
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
    FakeDeviceIo::Reply reply = FakeDeviceIo::AtaRegisters(c.status, c.error);
    reply.dataIn = [](std::span<std::uint8_t> data) { std::fill(data.begin(), data.end(), 0x5A); };
    g.io.replies.push_back(reply);
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

TEST_F(AtaPass, AWholeTransferBufferGoesOutInOneRequest) {
  buffer.back() = 0x77;
  buffer.front() = 0x66;
  Answer(0x50, 0);
  ASSERT_TRUE(AtaPassThrough(t, Identify(), buffer, kTransferBufferSize, DataDirection::out));
  const auto& call = f.io.calls.at(0);
  EXPECT_EQ(call.length, 16'777'218u);
  EXPECT_EQ(call.dataOut.front(), 0x66);
  EXPECT_EQ(call.dataOut.back(), 0x77);
}

}  // namespace
}  // namespace brisquel
