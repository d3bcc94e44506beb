// The bench drive's vendor channel: the command mode that opens it, the key
// sector (log BEh) that announces a download, the data sectors (log BFh) that
// carry it in chunks, and the status sector that answers with the codes of
// the drive's last command. The drive moves the data; this decides.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/BenchFirmware.h"

namespace brisquel::sim {

struct DriveFaults;

// Status codes the bench firmware answers with (names as the drive's firmware
// has them). DOWNLOAD MICROCODE sets them too.
inline constexpr std::uint16_t kVscSuccess = 0x0000;
inline constexpr std::uint16_t kVscUnsupActionCode = 0xB00E;      // VSC_ERR_UNSUP_ACTION_CODE
inline constexpr std::uint16_t kVscInvKeySectorSize = 0xB017;     // VSC_ERR_INV_KEY_SECTOR_SIZE
inline constexpr std::uint16_t kVscXferExceedsData = 0xB018;      // VSC_ERR_XFER_REQ_EXCEED_AVAILABLE_DATA
inline constexpr std::uint16_t kVscKeySectorFirst = 0xB01B;       // VSC_ERR_KEY_SECTOR_MUST_PRECEED_...
inline constexpr std::uint16_t kVscOffsetNotFromZero = 0xB02A;    // VSC_ERR_SECTOR_OFFSET_NOT_FROM_ZERO
inline constexpr std::uint16_t kDptmFailedToProcess = 0x3A23;     // DPTM_FAILED_TO_PROCESS_DOWNLOADED_PACKET
inline constexpr std::uint16_t kFmChecksum = 0x3703;              // FM_ERR_CHECKSUM
inline constexpr std::uint16_t kFmNotFlashFile = 0x370C;          // FM_ERR_NOT_FLASH_FILE
inline constexpr std::uint16_t kFmPartialFileExceedsEof = 0x3716; // FM_ERR_PARTIAL_FILE_SEC_COUNT_EXCEEDS_EOF
inline constexpr std::uint16_t kHostUnsupportedFeature = 0xC405;  // HOST_UNSUPPORTED_FEATURE_VALUE
inline constexpr std::uint16_t kHostInvalidSectorCount = 0xC40A;  // HOST_INVALID_SECTOR_COUNT
inline constexpr std::uint16_t kOvmPermanentNotLoaded = 0x3902;   // OVM_PERMANENT_NOT_LOADED
inline constexpr std::uint16_t kUnsupportedLogAddress = 0xC820;   // UNSUPPORTED_LOG_ADDRESS

class DriveVendorChannel {
 public:
  // What a SMART WRITE LOG to the channel's logs does.
  struct Write {
    enum class Kind { refused, refusedWithCode, keySector, data } kind;
    std::uint16_t code = 0;  // refusedWithCode
  };

  bool Open() const { return open_; }
  void OpenMode() { open_ = true; }
  // Power off and on: the mode ends, a download under way is dropped, the
  // codes are cleared.
  void PowerCycle();

  // The codes of the drive's last command: the status sector answers them.
  void SetCodes(std::uint16_t primary, std::uint16_t second = 0);

  // SMART READ LOG: the status sectors, with the codes (or the faults' in
  // their place); none where the read is refused.
  std::optional<std::vector<std::uint8_t>> StatusSectors(std::uint8_t log, std::uint8_t sectors,
                                                         const DriveFaults& faults) const;
  // SMART WRITE LOG of `sectors` sectors to `log`.
  Write StartWrite(std::uint8_t log, std::uint32_t sectors);
  // The key sector came in: the preamble, a download's announcement, or a
  // key the firmware does not know.
  void KeySector(std::span<const std::uint8_t> key, const DriveFaults& faults);
  // The data under way goes here, block by block.
  ImageCheck& Image() { return image_; }
  // A chunk of `sectors` came in: the image's verdict once the last one has.
  std::optional<BenchFirmwareVerdict> DataReceived(std::uint32_t sectors);

 private:
  bool open_ = false;
  std::uint16_t primaryCode_ = 0, secondCode_ = 0, thirdCode_ = 0;
  std::uint32_t replyValue_ = 0;
  std::uint32_t sectorsLeft_ = 0;  // of a download announced by its key sector
  bool download_ = false;
  ImageCheck image_;
};

}  // namespace brisquel::sim
