#include "platform/linux/NvmePassthru.h"

#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/linux/Win32Errors.h"
#include "transport/DeviceIo.h"

namespace brisquel::linuxpt {

static_assert(sizeof(nvme_passthru_cmd) == kNvmePassthruBytes);
static_assert(offsetof(nvme_passthru_cmd, nsid) == 4);
static_assert(offsetof(nvme_passthru_cmd, addr) == 24);
static_assert(offsetof(nvme_passthru_cmd, data_len) == 36);
static_assert(offsetof(nvme_passthru_cmd, cdw10) == 40);
static_assert(offsetof(nvme_passthru_cmd, cdw15) == 60);
static_assert(offsetof(nvme_passthru_cmd, timeout_ms) == 64);
static_assert(offsetof(nvme_passthru_cmd, result) == kNvmePassthruResult);

namespace {

void Put32(NvmePassthruBlock& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const NvmePassthruBlock& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

NvmePassthruBlock BuildNvmePassthru(const NvmeAdminRequest& request, std::uint64_t address) {
  NvmePassthruBlock b{};
  b[0] = request.opcode;
  Put32(b, 4, request.nsid);
  if (!request.data.empty()) {
    Put32(b, 24, static_cast<std::uint32_t>(address));
    Put32(b, 28, static_cast<std::uint32_t>(address >> 32));
    Put32(b, 36, static_cast<std::uint32_t>(request.data.size()));
  }
  for (std::size_t i = 0; i < request.cdw.size(); ++i) Put32(b, 40 + 4 * i, request.cdw[i]);
  // 0 would leave the kernel's default in force.
  const std::uint32_t seconds = request.timeLimit;
  Put32(b, 64, seconds > 4'000'000u ? 4'000'000'000u : seconds * 1000u);
  return b;
}

bool DirectionMatchesOpcode(const NvmeAdminRequest& request) {
  switch (request.opcode & 3) {
    case 0:
      return request.direction == DataDirection::none;
    case 1:
      return request.direction == DataDirection::out;
    case 2:
      return request.direction == DataDirection::in;
    default:
      return false;  // both ways: nothing the program sends
  }
}

NvmeIoctlResult RunNvmeIoctl(int fd, NvmePassthruBlock& block) {
  nvme_passthru_cmd cmd{};
  std::memcpy(&cmd, block.data(), sizeof cmd);
  const int returned = ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
  const int error = returned < 0 ? errno : 0;
  std::memcpy(block.data(), &cmd, sizeof cmd);
  return {returned, error};
}

NvmeAdminAnswer NvmeAnswerFrom(const NvmeAdminRequest& request, const NvmeIoctlResult& result,
                               const NvmePassthruBlock& block) {
  if (result.returned < 0) {
    const std::uint32_t error = Win32ErrorFromErrno(result.error);
    return RefusedAnswer<NvmeAdminAnswer>(error ? error : win32::ERROR_GEN_FAILURE_);
  }
  NvmeAdminAnswer answer;
  answer.status = NvmeStatus::FromField(static_cast<std::uint32_t>(result.returned));
  answer.result = Get32(block, kNvmePassthruResult);
  // The kernel says nothing of a short transfer: a success moved it all, a
  // failure is taken to have moved nothing.
  answer.bytesMoved = answer.status.ok() ? static_cast<std::uint32_t>(request.data.size()) : 0;
  ZeroUnreturned(request.direction, request.data, answer.bytesMoved);
  return answer;
}

}  // namespace brisquel::linuxpt
