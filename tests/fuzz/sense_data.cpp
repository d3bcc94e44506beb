// Sense data as drives and USB bridges return it: the one reader, the SCSI
// transport's result mapping and the Linux adapter's returned registers, in
// fixed and descriptor format, over any bytes of any length.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/linux/SgTranslate.h"
#include "transport/SenseData.h"
#include "transport/uSCSI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t scsiStatus = data[0];
  const std::span<const std::uint8_t> sense(data + 1, size - 1);

  namespace lpt = brisquel::linuxpt;
  const brisquel::SenseData read = brisquel::ReadSenseData(sense);
  // What is read writes out again and reads back the same.
  if (read.format == brisquel::SenseData::Format::fixed ||
      read.format == brisquel::SenseData::Format::descriptor) {
    const brisquel::SenseData again = brisquel::ReadSenseData(brisquel::WriteSenseData(read));
    if (again.key != read.key || again.asc != read.asc || again.ascq != read.ascq ||
        again.ata.has_value() != read.ata.has_value()) {
      __builtin_trap();
    }
  }
  const brisquel::AtaRequest request{{.count = 1, .device = 0xA0, .command = 0xEC},
                                     brisquel::DataDirection::in,
                                     {},
                                     brisquel::kCommandTimeLimit,
                                     false};
  const brisquel::AtaAnswer answer = lpt::CompleteAtaRequest(request, scsiStatus, sense);
  // Registers come back only from a CHECK CONDITION that carries them.
  if (answer.registersReturned && scsiStatus != brisquel::kScsiCheckCondition) __builtin_trap();

  // The transport reads a sense area of exactly 24 bytes.
  if (sense.size() >= 24) {
    const std::uint8_t code = brisquel::SenseToResult(sense.first(24));
    if (sense[0] != 0 && code == 0) __builtin_trap();  // any sense but an empty one fails
  }
  return 0;
}
