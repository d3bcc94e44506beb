// The bench's firmware image format: how one is made, and the check a bench
// drive runs on one as it arrives.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brisquel::sim {

// A firmware image the bench drive accepts, by DOWNLOAD MICROCODE or the
// vendor channel. Layout, little-endian, in 512-byte blocks:
//   bytes 0-7    magic "BRQLFW01"
//   bytes 8-11   total blocks of the image, header block included (1..65535)
//   bytes 12-19  new firmware revision, ASCII, padded with spaces
//   bytes 20-23  CRC-32 (IEEE) of all the image's blocks, these four bytes taken as zero
//   the rest     payload, any content
// Data past the image's blocks is ignored; anything else is refused.
inline constexpr char kBenchFirmwareMagic[] = "BRQLFW01";
std::vector<std::uint8_t> MakeBenchFirmware(const std::string& revision, std::uint32_t blocks);

enum class BenchFirmwareCheck { valid, notFirmware, tooShort, badChecksum };
struct BenchFirmwareVerdict {
  BenchFirmwareCheck check = BenchFirmwareCheck::notFirmware;
  std::uint32_t blocks = 0;  // from the header, when there is one
  std::string revision;
};
BenchFirmwareVerdict CheckBenchFirmware(std::span<const std::uint8_t> data);

// A revision as a drive reports it: 1 to 8 printable ASCII characters, as the
// image and the bench's state file carry it.
bool PrintableRevision(const std::string& text);

// Checks an image as its blocks arrive, to the same verdict CheckBenchFirmware
// gives once all of them are in, so that no command waits on the whole image
// at once: the header from the first block, the checksum block by block.
class ImageCheck {
 public:
  void Reset() { *this = {}; }
  std::uint64_t Received() const { return received_; }
  // The next bytes of the image, in whole blocks.
  void Feed(std::span<const std::uint8_t> bytes);
  BenchFirmwareVerdict Verdict() const;

 private:
  void ReadHeader(std::span<const std::uint8_t> first);

  BenchFirmwareVerdict verdict_;
  bool headerValid_ = false;
  std::uint32_t stored_ = 0, crc_ = 0;
  std::uint64_t received_ = 0;
};

}  // namespace brisquel::sim
