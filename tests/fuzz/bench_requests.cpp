// Request blocks into the bench's device I/O: whatever the block says about
// its own sizes and offsets, the bench reads and writes only inside the
// buffers it was handed (AddressSanitizer watches), and a refusal always
// leaves an error code.
//   byte 0       bit 0: ATA (0) or SCSI (1) request; bit 1: the SATA or the USB disk
//   bytes 1-4    input and output sizes (16 bits each), cut to the block
//   the rest     the block
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/Bench.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brisquel;
  static std::unique_ptr<sim::Bench> bench = sim::Bench::Default();
  static const OsHandle sata =
      bench->Io().CreateFileA(sim::DefaultDiskPath(0), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  static const OsHandle usb =
      bench->Io().CreateFileA(sim::DefaultDiskPath(2), GENERIC_ALL_, 3, OPEN_EXISTING_, 0x80);
  if (size < 5) return 0;
  std::vector<std::uint8_t> block(data + 5, data + size);
  const auto cut = [&](std::size_t v) {
    return static_cast<std::uint32_t>(std::min(v, block.size()));
  };
  const std::uint32_t inSize = cut(data[1] | (data[2] << 8));
  const std::uint32_t outSize = cut(data[3] | (data[4] << 8));
  const std::uint32_t code = (data[0] & 1) ? IOCTL_SCSI_PASS_THROUGH_ : IOCTL_ATA_PASS_THROUGH_;
  std::uint32_t returned = 0;
  bench->Io().SetLastError(0);
  const bool ok = bench->Io().DeviceIoControl((data[0] & 2) ? usb : sata, code, block.data(),
                                              inSize, block.data(), outSize, &returned);
  if (!ok && bench->Io().GetLastError() == 0) __builtin_trap();
  if (ok && returned > outSize) __builtin_trap();
  return 0;
}
