// NVMe admin commands on Linux: NVME_IOCTL_ADMIN_CMD with the kernel's
// struct nvme_passthru_cmd, built here byte for byte so that the layout can
// be tested without the ioctl.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "transport/NvmeRequest.h"

namespace brisquel::linuxpt {

// struct nvme_passthru_cmd, little-endian, 72 bytes:
//   0 opcode, 1 flags, 2-3 reserved, 4 nsid, 8 cdw2, 12 cdw3, 16 metadata (u64),
//  24 addr (u64), 32 metadata_len, 36 data_len, 40-63 cdw10..cdw15,
//  64 timeout_ms, 68 result (written back by the kernel)
inline constexpr std::size_t kNvmePassthruBytes = 72;
inline constexpr std::size_t kNvmePassthruResult = 68;
using NvmePassthruBlock = std::array<std::uint8_t, kNvmePassthruBytes>;

NvmePassthruBlock BuildNvmePassthru(const NvmeAdminRequest& request, std::uint64_t address);

// The kernel moves data by the opcode's two low bits (01 to the controller,
// 10 from it, 00 none): a request whose direction says otherwise would move
// its data the wrong way, and is never sent.
bool DirectionMatchesOpcode(const NvmeAdminRequest& request);

// What the ioctl returned: 0, the NVMe status field (positive), or -1 with errno.
struct NvmeIoctlResult {
  int returned = 0;
  int error = 0;
};

using NvmeRunner = std::function<NvmeIoctlResult(int fd, NvmePassthruBlock& block)>;

// The real ioctl(fd, NVME_IOCTL_ADMIN_CMD, ...); the result lands in the block.
NvmeIoctlResult RunNvmeIoctl(int fd, NvmePassthruBlock& block);

// The answer to one request from the ioctl's return and the block it left.
NvmeAdminAnswer NvmeAnswerFrom(const NvmeAdminRequest& request, const NvmeIoctlResult& result,
                               const NvmePassthruBlock& block);

}  // namespace brisquel::linuxpt
