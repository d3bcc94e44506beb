#include "sim/DriveVendorChannel.h"

#include "sim/AtaDrive.h"
#include "sim/IdentifySector.h"
#include "transport/AtaProtocol.h"
#include "transport/Bytes.h"

namespace brisquel::sim {

namespace {

constexpr std::uint32_t kMaxVendorChunk = 64;

}  // namespace

void DriveVendorChannel::PowerCycle() { *this = {}; }

void DriveVendorChannel::SetCodes(std::uint16_t primary, std::uint16_t second) {
  primaryCode_ = primary;
  secondCode_ = second;
  thirdCode_ = 0;
}

std::optional<std::vector<std::uint8_t>> DriveVendorChannel::StatusSectors(
    std::uint8_t log, std::uint8_t sectors, const DriveFaults& faults) const {
  if (!open_ || log != kLogVendorKey || sectors == 0) return std::nullopt;
  std::vector<std::uint8_t> status(std::size_t{sectors} * kIdentifyBytes, 0);
  PutU16(status.data() + 24, faults.vendorPrimaryCode.value_or(primaryCode_));
  PutU32(status.data() + 26, replyValue_);
  PutU16(status.data() + 48, faults.vendorThirdCode.value_or(thirdCode_));
  PutU16(status.data() + 406, faults.vendorSecondCode.value_or(secondCode_));
  return status;
}

DriveVendorChannel::Write DriveVendorChannel::StartWrite(std::uint8_t log, std::uint32_t sectors) {
  using Kind = Write::Kind;
  if (!open_ || (log != kLogVendorKey && log != kLogVendorData) || sectors == 0) {
    if (open_) primaryCode_ = kUnsupportedLogAddress;
    return {Kind::refused};
  }
  if (log == kLogVendorKey) {
    if (sectors != 1) return {Kind::refusedWithCode, kVscInvKeySectorSize};
    return {Kind::keySector};
  }
  if (!download_) return {Kind::refusedWithCode, kVscKeySectorFirst};
  if (sectors > kMaxVendorChunk || sectors > sectorsLeft_) {
    return {Kind::refusedWithCode, kVscXferExceedsData};
  }
  return {Kind::data};
}

void DriveVendorChannel::KeySector(std::span<const std::uint8_t> key, const DriveFaults& faults) {
  auto word = [&](std::size_t i) {
    return static_cast<std::uint16_t>(key[2 * i] | key[2 * i + 1] << 8);
  };
  secondCode_ = thirdCode_ = 0;
  replyValue_ = 0;
  primaryCode_ = kVscSuccess;
  download_ = false;
  if (word(0) == 0x000E && word(1) == 0x0001 && word(2) == 0x000F && word(3) == 0x0002) {
    // The preamble key: nothing to do but answer.
  } else if (word(0) == 0x0019 && word(1) == 0x0005 && word(2) == 0x0108 && word(3) == 0) {
    const std::uint32_t announced = GetU32(key.data() + 8);
    replyValue_ = faults.vendorRequestedSectors.value_or(announced);
    sectorsLeft_ = replyValue_;
    download_ = replyValue_ > 0;
    image_.Reset();
  } else {
    primaryCode_ = kVscUnsupActionCode;
  }
}

std::optional<BenchFirmwareVerdict> DriveVendorChannel::DataReceived(std::uint32_t sectors) {
  sectorsLeft_ -= sectors;
  if (sectorsLeft_ != 0) return std::nullopt;
  download_ = false;
  const BenchFirmwareVerdict verdict = image_.Verdict();
  image_.Reset();
  return verdict;
}

}  // namespace brisquel::sim
