// The vendor command channel of the bench drive: the enable signature, key
// sectors and the status sector on log 0xBE, download data on log 0xBF.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "sim/DriveHost.h"

namespace brisquel::sim::drivetest {
namespace {

constexpr std::uint8_t kOk = kDrdy | kDsc;
constexpr std::uint8_t kAborted = kDrdy | kErr;  // DSC clear after an abort

struct VendorStatus {
  std::uint16_t primaryCode, thirdCode, secondCode;
  std::uint32_t replyValue;
};

VendorStatus ReadStatus(DriveHost& host) {
  std::vector<std::uint8_t> s;
  EXPECT_EQ(host.Run(SmartLog(0xD5, 0xBE, 1), {}, &s), kOk);
  s.resize(512);
  auto u16 = [&](int at) { return static_cast<std::uint16_t>(s[at] | s[at + 1] << 8); };
  return {u16(24), u16(48), u16(406),
          static_cast<std::uint32_t>(u16(26) | static_cast<std::uint32_t>(u16(28)) << 16)};
}

std::uint8_t SendKey(DriveHost& host, std::array<std::uint16_t, 8> words) {
  std::vector<std::uint8_t> key(512, 0);
  for (int i = 0; i < 8; ++i) {
    key[2 * i] = static_cast<std::uint8_t>(words[i]);
    key[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
  }
  return host.Run(SmartLog(0xD6, 0xBE, 1), key);
}

constexpr std::array<std::uint16_t, 8> kPreambleKey = {0x000E, 1, 0x000F, 2, 0, 0, 0, 0};
std::array<std::uint16_t, 8> DownloadKey(std::uint32_t sectors) {
  return {0x0019,
          5,
          0x0108,
          0,
          static_cast<std::uint16_t>(sectors),
          static_cast<std::uint16_t>(sectors >> 16),
          0,
          0};
}

// Sends `sectors` sectors of `image` (zeros past its end) on log 0xBF.
void SendData(DriveHost& host, const std::vector<std::uint8_t>& image, std::uint32_t sectors) {
  for (std::uint32_t done = 0; done < sectors;) {
    const std::uint32_t n = std::min<std::uint32_t>(64, sectors - done);
    std::vector<std::uint8_t> chunk(n * 512, 0);
    for (std::size_t i = 0; i < chunk.size() && done * 512 + i < image.size(); ++i)
      chunk[i] = image[done * 512 + i];
    EXPECT_EQ(host.Run(SmartLog(0xD6, 0xBF, static_cast<std::uint8_t>(n)), chunk), kOk);
    done += n;
  }
}

TEST(VendorChannel, LogsAbortOutsideVendorModeAndEitherEnableOpensThem) {
  const AtaTaskFile outside[] = {SmartLog(0xD5, 0xBE, 1), SmartLog(0xD6, 0xBE, 1),
                                 SmartLog(0xD6, 0xBF, 1),
                                 Command(0x80, 0x3B, 0, 0, 0x6E, 0x28),  // signature off by one
                                 SmartLog(0xD5, 0xBB, 1)};  // the fallback is the non-data form
  DriveHost host;
  for (const auto& tf : outside) {
    EXPECT_EQ(host.Run(tf, std::vector<std::uint8_t>(512, 0)), kAborted);
    EXPECT_EQ(host.Error(), kAbrt);
    EXPECT_EQ(host.drive->History().back().dataWordsIn, 0u);
  }
  EXPECT_FALSE(host.drive->VendorMode());

  for (const auto& enable : {VendorEnable(), SmartLog(0xD5, 0xBB, 0)}) {
    DriveHost fresh;
    EXPECT_EQ(fresh.Run(enable), kOk);
    EXPECT_EQ(fresh.drive->History().back().dataWordsOut, 0u);
    EXPECT_EQ(SendKey(fresh, kPreambleKey), kOk);
    const auto status = ReadStatus(fresh);
    EXPECT_EQ(status.primaryCode, 0);
    EXPECT_EQ(status.replyValue, 0u);
  }
}

TEST(VendorChannel, StatusSectorFieldsAndFaultOverrides) {
  DriveHost host;
  ASSERT_EQ(host.Run(VendorEnable()), kOk);
  EXPECT_EQ(SendKey(host, {0x1234, 0, 0, 0, 0, 0, 0, 0}), kOk);  // a key the drive does not know
  EXPECT_EQ(ReadStatus(host).primaryCode, 0xB00E);               // VSC_ERR_UNSUP_ACTION_CODE

  ASSERT_EQ(SendKey(host, DownloadKey(0x12345)), kOk);
  host.drive->Faults().vendorPrimaryCode = 0x3A23;
  host.drive->Faults().vendorSecondCode = 0x3703;
  host.drive->Faults().vendorThirdCode = 0xFFFF;
  const auto status = ReadStatus(host);
  EXPECT_EQ(status.primaryCode, 0x3A23);
  EXPECT_EQ(status.secondCode, 0x3703);
  EXPECT_EQ(status.thirdCode, 0xFFFF);
  EXPECT_EQ(status.replyValue, 0x12345u);  // the 32-bit count, both halves
}

TEST(VendorChannel, DownloadTakesTheRequestedSectorsAndValidates) {
  const auto image = MakeBenchFirmware("WDV2", 130);
  const std::vector<std::uint8_t> notImage(130 * 512, 0x33);
  struct Case {
    const char* name;
    const std::vector<std::uint8_t>& data;
    std::optional<std::uint32_t> requestedFault;
    std::uint32_t expectRequested;
    std::vector<std::uint8_t> chunks;
    std::uint16_t primary, second;
    std::string revision;
  };
  const Case cases[] = {
      {"as announced", image, std::nullopt, 130, {64, 64, 2}, 0, 0, "WDV2"},
      // More than announced: the extra sectors (zeros here) lie past the image.
      {"more than announced", image, 131, 131, {64, 64, 3}, 0, 0, "WDV2"},
      {"fewer than the image", image, 129, 129, {64, 64, 1}, 0x3A23, 0x3716, "BF1.00"},
      {"not an image", notImage, std::nullopt, 130, {64, 64, 2}, 0x3A23, 0x370C, "BF1.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHost host;
    host.drive->Faults().vendorRequestedSectors = c.requestedFault;
    ASSERT_EQ(host.Run(VendorEnable()), kOk);
    ASSERT_EQ(SendKey(host, DownloadKey(130)), kOk);
    const auto reply = ReadStatus(host);
    EXPECT_EQ(reply.primaryCode, 0);
    ASSERT_EQ(reply.replyValue, c.expectRequested);
    const std::size_t before = host.drive->History().size();
    SendData(host, c.data, reply.replyValue);
    std::vector<std::uint8_t> chunks;
    for (std::size_t i = before; i < host.drive->History().size(); ++i) {
      const auto& r = host.drive->History()[i];
      EXPECT_EQ(r.dataWordsIn, r.count * 256u);
      chunks.push_back(r.count);
    }
    EXPECT_EQ(chunks, c.chunks);
    const auto status = ReadStatus(host);
    EXPECT_EQ(status.primaryCode, c.primary);
    EXPECT_EQ(status.secondCode, c.second);
    EXPECT_EQ(host.drive->FirmwareRevision(), c.revision);
    EXPECT_EQ(host.drive->PermanentRevision(), c.revision);
    // The download is over: more data is refused.
    EXPECT_EQ(host.Run(SmartLog(0xD6, 0xBF, 1), std::vector<std::uint8_t>(512)), kAborted);
  }
}

TEST(VendorChannel, DataRefusedWithoutKeyOrBeyondTheRequest) {
  struct Case {
    const char* name;
    bool key;
    std::optional<std::uint32_t> announced;  // the preamble key when empty
    std::uint8_t chunk;
    std::uint16_t primary;
  };
  const Case cases[] = {
      {"no key sector", false, std::nullopt, 1, 0xB01B},
      {"preamble key only", true, std::nullopt, 1, 0xB01B},
      {"more than requested", true, 2, 3, 0xB018},
      {"chunk above 64 sectors", true, 100, 65, 0xB018},
      {"nothing requested", true, 0, 1, 0xB01B},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveHost host;
    ASSERT_EQ(host.Run(VendorEnable()), kOk);
    if (c.key) {
      ASSERT_EQ(SendKey(host, c.announced ? DownloadKey(*c.announced) : kPreambleKey), kOk);
    }
    EXPECT_EQ(host.Run(SmartLog(0xD6, 0xBF, c.chunk), std::vector<std::uint8_t>(c.chunk * 512)),
              kAborted);
    EXPECT_EQ(host.drive->History().back().dataWordsIn, 0u);
    EXPECT_EQ(ReadStatus(host).primaryCode, c.primary);
  }
}

}  // namespace
}  // namespace brisquel::sim::drivetest
