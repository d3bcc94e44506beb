#include "ops/WorldWideName.h"

#include <gtest/gtest.h>

#include <array>

#include "transport/Bytes.h"

namespace brisquel {
namespace {

TEST(WorldWideName, ReadsTheWayOtherToolsPrintIt) {
  const std::optional<std::uint64_t> wwn = 0x5000CCA0A1B2C3D4;
  const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
      {"5000CCA0A1B2C3D4", wwn},
      {"0x5000cca0a1b2c3d4", wwn},
      {"5 000cca 0a1b2c3d4", wwn},
      {"50:00:CC:A0:A1:B2:C3:D4", wwn},
      {"5000-CCA0-A1B2-C3D4", wwn},
      {"5000CCA0A1B2C3D", std::nullopt},    // 15 digits
      {"5000CCA0A1B2C3D40", std::nullopt},  // 17
      {"5000CCA0A1B2C3DG", std::nullopt},
      {"", std::nullopt},
      {"0x", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseWorldWideName(text), expected) << text;
  EXPECT_EQ(WorldWideNameText(0x0014EE0000000001), "0014EE0000000001");
}

TEST(WorldWideName, FromIdentifyWords108To111) {
  std::array<std::uint8_t, kSectorSize> sector{};
  EXPECT_EQ(WorldWideNameOf(sector), std::nullopt);
  for (int w = 108; w <= 111; ++w) PutU16(&sector[2 * w], 0xFFFF);
  EXPECT_EQ(WorldWideNameOf(sector), std::nullopt);  // a bus that floats
  const std::uint16_t words[] = {0x5001, 0x4EE0, 0x1234, 0x5678};
  for (int i = 0; i < 4; ++i) PutU16(&sector[2 * (108 + i)], words[i]);
  EXPECT_EQ(WorldWideNameOf(sector), 0x50014EE012345678u);
}

}  // namespace
}  // namespace brisquel
