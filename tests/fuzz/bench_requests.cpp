// Pass-through requests into the bench's device I/O: whatever registers,
// command block, direction and length they carry, the bench reads and writes
// only inside the request's data (AddressSanitizer watches), a refusal always
// names an error, and no more moves than was asked for.
//   byte 0       bit 0: ATA (0) or SCSI (1) request; bit 1: the SATA or the USB disk;
//                bits 2-3: direction (0 none, 1 in, 2 out)
//   bytes 1-2    data length (up to 64 KiB)
//   then         ATA: the twelve registers; SCSI: the block's length, then its bytes
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
  if (size < 3) return 0;
  const OsHandle handle = (data[0] & 2) ? usb : sata;
  const auto direction = static_cast<DataDirection>(std::min((data[0] >> 2) & 3, 2));
  std::vector<std::uint8_t> buffer(data[1] | (data[2] << 8));
  const std::uint8_t* rest = data + 3;
  const std::size_t left = size - 3;
  const auto byteAt = [&](std::size_t i) { return i < left ? rest[i] : std::uint8_t{0}; };

  bool delivered = false;
  std::uint32_t error = 0, moved = 0;
  if (data[0] & 1) {
    ScsiRequest request{{}, direction, buffer, 5};
    request.cdb.length = byteAt(0);
    for (std::size_t i = 0; i < request.cdb.bytes.size(); ++i) request.cdb.bytes[i] = byteAt(1 + i);
    const ScsiAnswer answer = bench->Io().ScsiPassThrough(handle, request);
    delivered = answer.delivered;
    error = answer.systemError;
    moved = answer.bytesMoved;
    if (answer.sense.size() > kScsiSenseRoom) __builtin_trap();
  } else {
    AtaRequest request{{byteAt(0), byteAt(1), byteAt(2), byteAt(3), byteAt(4), byteAt(5), byteAt(6),
                        byteAt(7), byteAt(8), byteAt(9), byteAt(10), byteAt(11)},
                       direction,
                       buffer,
                       5,
                       false};
    const AtaAnswer answer = bench->Io().AtaPassThrough(handle, request);
    delivered = answer.delivered;
    error = answer.systemError;
    moved = answer.bytesMoved;
  }
  if (!delivered && error == 0) __builtin_trap();
  if (delivered && moved > buffer.size()) __builtin_trap();
  return 0;
}
