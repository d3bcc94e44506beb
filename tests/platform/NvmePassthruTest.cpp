#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "platform/linux/LinuxDeviceIo.h"
#include "platform/linux/NvmePassthru.h"
#include "transport/NvmeCommands.h"

namespace brisquel::linuxpt {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(NvmePassthru, TheBlockIsTheKernelsStructByteForByte) {
  std::array<std::uint8_t, kNvmeFirmwareSlotLogBytes> log{};
  NvmeAdminRequest request = FirmwareSlotLogRequest(log);
  request.cdw[5] = 0xA1B2C3D4;
  request.timeLimit = 7;
  const NvmePassthruBlock b = BuildNvmePassthru(request, 0x1122334455667788ull);
  const Bytes expected = {
      0x02, 0, 0, 0,                                   // opcode, flags, reserved
      0xFF, 0xFF, 0xFF, 0xFF,                          // nsid: the whole controller
      0, 0, 0, 0, 0, 0, 0, 0,                          // cdw2, cdw3
      0, 0, 0, 0, 0, 0, 0, 0,                          // metadata
      0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // addr
      0, 0, 0, 0,                                      // metadata_len
      0x00, 0x02, 0, 0,                                // data_len 512
      0x03, 0x00, 0x7F, 0x00,                          // cdw10: LID 03h, 128 dwords - 1
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // cdw11-14
      0xD4, 0xC3, 0xB2, 0xA1,                          // cdw15
      0x58, 0x1B, 0, 0,                                // timeout_ms 7000
      0, 0, 0, 0};                                     // result
  EXPECT_EQ(Bytes(b.begin(), b.end()), expected);

  // No data: no address and no length, whatever the pointer.
  NvmeAdminRequest commit;
  commit.opcode = kNvmeFirmwareCommit;
  commit.cdw[0] = 0x09;
  const NvmePassthruBlock c = BuildNvmePassthru(commit, 0xDEAD);
  EXPECT_EQ(Bytes(c.begin() + 24, c.begin() + 40), Bytes(16, 0));
  EXPECT_EQ(c[40], 0x09);
}

// The firmware commands as the update sends them: a piece of 8 KiB at 64 KiB
// (NUMD and OFST in dwords), and a commit of slot 3 with action 1.
TEST(NvmePassthru, TheFirmwareCommandsCountInDwords) {
  std::vector<std::uint8_t> piece(8192);
  NvmeAdminRequest download = FirmwareImageDownloadRequest(piece, 65536);
  download.timeLimit = 120;
  const NvmePassthruBlock d = BuildNvmePassthru(download, 0x1000);
  EXPECT_EQ(d[0], 0x11);
  EXPECT_EQ(Bytes(d.begin() + 36, d.begin() + 48),
            (Bytes{0x00, 0x20, 0, 0,      // data_len 8192
                   0xFF, 0x07, 0, 0,      // cdw10: NUMD 2047
                   0x00, 0x40, 0, 0}));   // cdw11: OFST 16384 dwords
  EXPECT_EQ(Bytes(d.begin() + 64, d.begin() + 68), (Bytes{0xC0, 0xD4, 0x01, 0x00}))
      << "timeout_ms 120000";
  EXPECT_TRUE(DirectionMatchesOpcode(download));

  const NvmePassthruBlock c = BuildNvmePassthru(FirmwareCommitRequest(3, 1), 0xDEAD);
  EXPECT_EQ(c[0], 0x10);
  EXPECT_EQ(Bytes(c.begin() + 24, c.begin() + 44), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                          0, 0, 0, 0, 0x0B, 0, 0, 0}))
      << "no data; CDW10 slot 3, action 1";
}

TEST(NvmePassthru, DataGoesOnlyTheWayTheOpcodeMovesIt) {
  std::uint8_t buffer[8] = {};
  struct Case {
    std::uint8_t opcode;
    DataDirection direction;
    bool matches;
  };
  for (const Case& c : {Case{0x06, DataDirection::in, true}, Case{0x06, DataDirection::out, false},
                        Case{0x11, DataDirection::out, true}, Case{0x11, DataDirection::in, false},
                        Case{0x10, DataDirection::none, true}, Case{0x10, DataDirection::in, false},
                        Case{0x03, DataDirection::in, false}}) {
    NvmeAdminRequest r;
    r.opcode = c.opcode;
    r.direction = c.direction;
    if (c.direction != DataDirection::none) r.data = buffer;
    EXPECT_EQ(DirectionMatchesOpcode(r), c.matches) << int(c.opcode);
  }
}

TEST(NvmePassthru, TheIoctlsReturnBecomesTheAnswer) {
  struct Case {
    const char* what;
    NvmeIoctlResult result;
    bool delivered;
    std::uint32_t systemError;
    NvmeStatus status;
    std::uint32_t moved;
  };
  const Case cases[] = {
      {"success", {0, 0}, true, 0, {}, 8},
      {"invalid opcode, do not retry", {0x4001, 0}, true, 0, {0, 0x01, true}, 0},
      {"needs a controller reset", {0x111, 0}, true, 0, {1, 0x11, false}, 0},
      {"a node without the ioctl", {-1, ENOTTY}, false, win32::ERROR_NOT_SUPPORTED_, {}, 0},
      {"no rights", {-1, EACCES}, false, win32::ERROR_ACCESS_DENIED_, {}, 0},
      {"timed out", {-1, ETIMEDOUT}, false, win32::ERROR_SEM_TIMEOUT_, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    NvmeAdminRequest r;
    r.opcode = kNvmeIdentify;
    r.direction = DataDirection::in;
    r.data = data;
    NvmePassthruBlock block{};
    block[kNvmePassthruResult] = 0x42;
    const NvmeAdminAnswer a = NvmeAnswerFrom(r, c.result, block);
    EXPECT_EQ(a.delivered, c.delivered);
    EXPECT_EQ(a.systemError, c.systemError);
    if (!c.delivered) continue;
    EXPECT_EQ(a.status, c.status);
    EXPECT_EQ(a.bytesMoved, c.moved);
    EXPECT_EQ(a.result, 0x42u);
    EXPECT_EQ(data[0], c.moved ? 1 : 0) << "a failure's data is not the controller's answer";
  }
}

TEST(NvmePassthru, LinuxDeviceIoRunsTheBlockOnTheHandlesDescriptor) {
  int runs = 0;
  NvmePassthruBlock seen{};
  LinuxDeviceIo io(RunSgIo, [&](int fd, NvmePassthruBlock& block) {
    ++runs;
    EXPECT_GE(fd, 0);
    seen = block;
    block[kNvmePassthruResult] = 7;
    return NvmeIoctlResult{};
  });
  std::array<std::uint8_t, kNvmeIdentifyBytes> data{};
  const NvmeAdminRequest identify = IdentifyControllerRequest(data);
  EXPECT_EQ(io.NvmeAdmin(0x999, identify).systemError, win32::ERROR_INVALID_HANDLE_);
  const OsHandle handle = io.CreateFileA("/dev/null", GENERIC_READ_ | GENERIC_WRITE_, 3, 3, 0);
  ASSERT_NE(handle, kInvalidHandle);

  NvmeAdminRequest wrongWay = identify;
  wrongWay.direction = DataDirection::out;
  EXPECT_EQ(io.NvmeAdmin(handle, wrongWay).systemError, win32::ERROR_INVALID_PARAMETER_);
  EXPECT_EQ(runs, 0) << "refused before the ioctl";

  const NvmeAdminAnswer a = io.NvmeAdmin(handle, identify);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(a.delivered);
  EXPECT_EQ(a.result, 7u);
  EXPECT_EQ(a.bytesMoved, kNvmeIdentifyBytes);
  std::uint64_t address = 0;
  for (int i = 7; i >= 0; --i) address = address << 8 | seen[24 + i];
  EXPECT_EQ(address, reinterpret_cast<std::uintptr_t>(data.data()));
  EXPECT_EQ(seen[40], kNvmeCnsController);
  EXPECT_EQ(io.CloseHandle(handle), true);
}

}  // namespace
}  // namespace brisquel::linuxpt
