#include "sim/BenchFirmware.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "text/Trim.h"
#include "transport/Bytes.h"

namespace brisquel::sim {

namespace {

constexpr std::size_t kSectorBytes = 512;
constexpr std::uint32_t kMaxImageBlocks = 65535;  // what the offset and count bytes can reach

// A byte at a time from a table: the drive checks a whole 16 MiB image within
// one command, and bit by bit that took a quarter of a second.
constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    table[i] = c;
  }
  return table;
}();

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::uint8_t byte : data) crc = kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// CRC of the image with its own checksum field read as zero.
std::uint32_t ImageCrc(std::span<const std::uint8_t> image) {
  static constexpr std::uint8_t kZero[4] = {};
  std::uint32_t crc = Crc32(image.first(20));
  crc = Crc32(kZero, crc);
  return Crc32(image.subspan(24), crc);
}

// The revision field, padded at the end with spaces or NULs.
std::string RevisionText(std::span<const std::uint8_t> field) {
  return std::string(
      TrimEnd(std::string_view(reinterpret_cast<const char*>(field.data()), field.size()),
              std::string_view(" \0", 2)));
}

}  // namespace

bool PrintableRevision(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

void ImageCheck::Feed(std::span<const std::uint8_t> bytes) {
  if (received_ == 0) ReadHeader(bytes);
  const std::uint64_t end = std::uint64_t{verdict_.blocks} * kSectorBytes;
  if (headerValid_ && received_ < end) {
    const auto part = bytes.first(
        static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), end - received_)));
    crc_ = received_ == 0 ? ImageCrc(part) : Crc32(part, crc_);
  }
  received_ += bytes.size();
}

BenchFirmwareVerdict ImageCheck::Verdict() const {
  BenchFirmwareVerdict verdict = verdict_;
  if (!headerValid_) return verdict;
  if (received_ < std::uint64_t{verdict.blocks} * kSectorBytes) {
    verdict.check = BenchFirmwareCheck::tooShort;
    return verdict;
  }
  verdict.check = crc_ == stored_ ? BenchFirmwareCheck::valid : BenchFirmwareCheck::badChecksum;
  return verdict;
}

void ImageCheck::ReadHeader(std::span<const std::uint8_t> first) {
  if (first.size() < 24 || std::memcmp(first.data(), kBenchFirmwareMagic, 8) != 0) return;
  verdict_.blocks = GetU32(first.data() + 8);
  verdict_.revision = RevisionText(first.subspan(12, 8));
  stored_ = GetU32(first.data() + 20);
  headerValid_ = verdict_.blocks != 0 && verdict_.blocks <= kMaxImageBlocks &&
                 PrintableRevision(verdict_.revision);
}

std::vector<std::uint8_t> MakeBenchFirmware(const std::string& revision, std::uint32_t blocks) {
  blocks = std::max<std::uint32_t>(blocks, 1);
  std::vector<std::uint8_t> image(std::size_t{blocks} * kSectorBytes);
  // A payload that changes with the position, so lost, repeated or swapped
  // bytes show in the checksum.
  for (std::size_t i = 24; i < image.size(); ++i)
    image[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9) * 7 + 0x5A);
  std::memcpy(image.data(), kBenchFirmwareMagic, 8);
  PutU32(image.data() + 8, blocks);
  for (std::size_t i = 0; i < 8; ++i)
    image[12 + i] = i < revision.size() ? static_cast<std::uint8_t>(revision[i]) : ' ';
  PutU32(image.data() + 20, ImageCrc(image));
  return image;
}

BenchFirmwareVerdict CheckBenchFirmware(std::span<const std::uint8_t> data) {
  ImageCheck check;
  check.Feed(data);
  return check.Verdict();
}

}  // namespace brisquel::sim
