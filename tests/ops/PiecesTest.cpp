// The pure pieces of the operations: character filters, sector layouts, the
// refusals and the file loader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ops/FirmwareFile.h"
#include "ops/Identify.h"
#include "ops/StandardDownload.h"
#include "ops/VendorChannel.h"

namespace brisquel {
namespace {

TEST(PrintableChar, KeepsPrintableBytesAndBlanksTheRest) {
  struct Case {
    std::uint8_t byte;
    char expected;
  };
  for (const Case& c : {Case{0x00, ' '}, Case{0x1F, ' '}, Case{0x20, ' '}, Case{0x41, 'A'},
                        Case{0x7E, '~'}, Case{0x7F, '\x7F'}, Case{0x80, ' '}, Case{0xFF, ' '}}) {
    EXPECT_EQ(PrintableChar(c.byte), c.expected) << int(c.byte);
  }
}

TEST(SanitizeName, ReplacesExactlyTheCharactersThatDoNotBelongInAName) {
  const std::string kept = " -.0189@AZ_`ay";
  EXPECT_EQ(SanitizeName(kept), kept);
  // Each range's first and last character, and z where the upper range starts.
  const std::string replaced = std::string("\x01\x1F!,/:?[^z{|}~\x7F", 15) + "\x80\xFF";
  EXPECT_EQ(SanitizeName(replaced), std::string(replaced.size(), '_'));
  EXPECT_EQ(SanitizeName(std::string("A\0B", 3)), "A_B");
}

TEST(VendorStatus, TakesItsFieldsFromTheirOffsetsLittleEndian) {
  std::vector<std::uint8_t> sector(512, 0xEE);
  const std::pair<std::size_t, std::vector<std::uint8_t>> fields[] = {
      {24, {0x34, 0x12}}, {26, {0x78, 0x56, 0x34, 0x12}}, {48, {0xCD, 0xAB}}, {406, {0x01, 0x7F}}};
  for (const auto& [offset, bytes] : fields) std::copy(bytes.begin(), bytes.end(), &sector[offset]);
  const VendorStatus s = VendorStatus::From(sector);
  EXPECT_EQ(s.primaryCode, 0x1234);
  EXPECT_EQ(s.replyValue, 0x12345678u);
  EXPECT_EQ(s.thirdCode, 0xABCD);
  EXPECT_EQ(s.secondCode, 0x7F01);
}

TEST(KeySector, DownloadCarriesTheSectorCountInWordsFourAndFive) {
  EXPECT_EQ(KeySector::Download(0x00123456).words,
            (std::array<std::uint16_t, 8>{0x0019, 0x0005, 0x0108, 0, 0x3456, 0x0012, 0, 0}));
  EXPECT_EQ(KeySector::Preamble().words,
            (std::array<std::uint16_t, 8>{0x000E, 0x0001, 0x000F, 0x0002, 0, 0, 0, 0}));
}

TEST(DownloadRefusal, RefusesWhatCannotBeSentWhole) {
  constexpr std::uintmax_t kMax = 32768 * 512;
  constexpr auto kPio = TransportKind::pio;
  constexpr auto kAta = TransportKind::ataPassThrough;
  constexpr auto kScsi = TransportKind::scsiPassThrough;
  struct Case {
    TransportKind kind;
    std::uint8_t mode;
    std::uintmax_t bytes;
    bool refused;
    std::optional<bool> takesTransferLength{};
    std::uint32_t queueBytes = 0;  // the disk's largest transfer; 0 unknown
  };
  for (const Case& c : {
           Case{kPio, kDlmcPermanent, kMax, false},
           Case{kPio, kDlmcPermanent, kMax + 1, true},  // would need block 32,769
           Case{kAta, kDlmcSegmented, kMax + 2, true},
           Case{kAta, kDlmcPermanent, kMax, false},
           Case{kScsi, kDlmcPermanent, 255 * 512, false},
           Case{kScsi, kDlmcPermanent, 255 * 512 + 1, true},
           Case{kScsi, kDlmcTemporary, 256 * 512, true},
           Case{kScsi, kDlmcSegmented, kMax, false},
           Case{kScsi, kDlmcDeferred, kMax, false},
           Case{kScsi, kDlmcPermanent, 0, false},
           // A bridge that takes the length from the transfer carries any whole image.
           Case{kScsi, kDlmcPermanent, kMax, false, true},
           Case{kScsi, kDlmcPermanent, 256 * 512, true, false},
           // A whole image goes in one transfer, which the disk's queue limits;
           // its last block counts whole. Segments and PIO are not held to it.
           Case{kAta, kDlmcPermanent, 65536, false, {}, 65536},
           Case{kAta, kDlmcPermanent, 65536 + 1, true, {}, 65536},
           Case{kAta, kDlmcTemporary, 65536 + 512, true, {}, 65536},
           Case{kScsi, kDlmcPermanent, 200 * 512, true, {}, 65536},
           Case{kAta, kDlmcSegmented, kMax, false, {}, 65536},
           Case{kScsi, kDlmcDeferred, kMax, false, {}, 4096},
           Case{kPio, kDlmcPermanent, kMax, false, {}, 65536},
       }) {
    DriveTarget target;
    target.kind = c.kind;
    target.takesTransferLength = c.takesTransferLength;
    const auto refusal = DownloadRefusal(target, c.mode, c.bytes, c.queueBytes);
    EXPECT_EQ(refusal.has_value(), c.refused) << int(c.kind) << " mode " << int(c.mode) << " "
                                              << c.bytes << " bytes, queue " << c.queueBytes;
    if (c.takesTransferLength == false) {
      EXPECT_NE(refusal->find("the USB bridge refuses a length taken from the transfer, T_LENGTH 3"),
                std::string::npos)
          << *refusal;
    }
  }
}

class FirmwareFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("brisquel-fw-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, std::size_t bytes) {
    const auto path = dir_ / name;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < bytes; ++i) out.put(static_cast<char>(i * 7));
    return path.string();
  }
  std::filesystem::path dir_;
};

TEST_F(FirmwareFileTest, LoadsAWholeFileAndRefusesWhatItCannotOrMayNotRead) {
  const FirmwareFile ok = LoadFirmwareFile(Write("fw.bin", 1000), 1000);
  ASSERT_EQ(ok.outcome, FirmwareFile::Outcome::loaded);
  ASSERT_EQ(ok.image.size(), 1000u);
  EXPECT_EQ(ok.image[999], static_cast<std::uint8_t>(999 * 7));
  EXPECT_EQ(LoadFirmwareFile(Write("empty.bin", 0), 0).outcome, FirmwareFile::Outcome::loaded);

  const FirmwareFile big = LoadFirmwareFile(Write("big.bin", 1001), 1000);
  EXPECT_EQ(big.outcome, FirmwareFile::Outcome::tooLarge);
  EXPECT_EQ(big.size, 1001u);
  EXPECT_TRUE(big.image.empty());

  EXPECT_EQ(LoadFirmwareFile((dir_ / "missing.bin").string(), 1000).outcome,
            FirmwareFile::Outcome::unreadable);
  EXPECT_EQ(LoadFirmwareFile(dir_.string(), 1000).outcome, FirmwareFile::Outcome::unreadable);
}

TEST_F(FirmwareFileTest, TakesUtf8PathsWhateverTheSystemsCodePage) {
  const std::u8string full = (dir_ / u8"fw-\u00FC\u6F22.bin").u8string();
  {
    std::ofstream out(std::filesystem::path(full), std::ios::binary);
    out << "firmware";
    ASSERT_TRUE(out.flush()) << "the test could not write its file";
  }
  const std::string utf8(full.begin(), full.end());
  const FirmwareFile file = LoadFirmwareFile(utf8, 100);
  EXPECT_EQ(file.outcome, FirmwareFile::Outcome::loaded) << file.problem;
  EXPECT_EQ(file.size, 8u);
  EXPECT_EQ(FileNameOf(utf8), "fw-\xC3\xBC\xE6\xBC\xA2.bin");
}

TEST(FileNameOf, DropsTheDirectory) {
  EXPECT_EQ(FileNameOf("fw.bin"), "fw.bin");
  EXPECT_EQ(FileNameOf((std::filesystem::path("a") / "b" / "fw.bin").string()), "fw.bin");
}

}  // namespace
}  // namespace brisquel
