#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/IoPortClaims.h"

namespace brisquel::linuxpt {
namespace {

// /proc/ioports of a PC with the primary IDE channel taken by ata_piix and the
// secondary one free, as root sees it.
const char* const kIoports =
    "0000-0cf7 : PCI Bus 0000:00\n"
    "  0000-001f : dma1\n"
    "  0070-0077 : rtc0\n"
    "  0170-0177 : 0000:00:01.1\n"
    "  01f0-01f7 : 0000:00:01.1\n"
    "    01f0-01f7 : ata_piix\n"
    "  0376-0376 : 0000:00:01.1\n"
    "  03c0-03df : vga+\n"
    "  03f6-03f6 : 0000:00:01.1\n"
    "    03f6-03f6 : ata_piix\n"
    "0cf8-0cff : PCI conf1\n"
    "0d00-ffff : PCI Bus 0000:00\n"
    "  0510-051b : pnp 00:00\n"
    "  c000-c03f : 0000:00:03.0\n"
    "    c000-c03f : 0000:00:03.0\n"
    "  c040-c05f : 0000:00:1f.2\n"
    "  c060-c06f : 0000:00:01.1\n"
    "    c060-c06f : ata_piix\n";

TEST(ParseIoPortClaims, ADriversRangeIsClaimedAndAFunctionsOwnIsNot) {
  const IoPortClaims claims = ParseIoPortClaims(kIoports);
  EXPECT_FALSE(claims.addressesHidden);
  struct Case {
    std::uint16_t port;
    const char* owner;  // nullptr: free
  };
  for (const Case& c : {Case{0x1F0, "ata_piix"}, Case{0x1F7, "ata_piix"}, Case{0x3F6, "ata_piix"},
                        Case{0x170, nullptr}, Case{0x177, nullptr}, Case{0x376, nullptr},
                        Case{0x000, "dma1"}, Case{0xCF8, "PCI conf1"}, Case{0x0510, nullptr},
                        Case{0xC040, nullptr}, Case{0xC068, "ata_piix"},
                        // a driver that named its range after the function
                        Case{0xC000, "0000:00:03.0"}, Case{0x8000, nullptr}}) {
    const IoPortClaim* claim = FindClaim(claims, c.port);
    if (c.owner) {
      ASSERT_NE(claim, nullptr) << std::hex << c.port;
      EXPECT_EQ(claim->owner, c.owner) << std::hex << c.port;
    } else {
      EXPECT_EQ(claim, nullptr) << std::hex << c.port << " held by " << claim->owner;
    }
  }
}

TEST(ParseIoPortClaims, ToleratesJunkAndNoticesHiddenAddresses) {
  EXPECT_TRUE(ParseIoPortClaims("").claims.empty());
  const IoPortClaims junk =
      ParseIoPortClaims("garbage\n  zz-01 : x\n10000-10001 : y\n0020-0010 : z");
  EXPECT_TRUE(junk.claims.empty());
  EXPECT_FALSE(junk.addressesHidden);
  const IoPortClaims hidden = ParseIoPortClaims(
      "0000-0000 : PCI Bus 0000:00\n  0000-0000 : dma1\n  0000-0000 : ata_piix\n");
  EXPECT_TRUE(hidden.addressesHidden);
}

TEST(PortGuard, RefusesClaimedPortsAndSaysSoOncePerRange) {
  std::string text = kIoports;
  PortGuard guard([&] { return std::optional<std::string>(text); });
  std::vector<std::string> notices;
  guard.SetNoticeSink([&](const std::string& s) { notices.push_back(s); });
  EXPECT_TRUE(guard.Allowed(0x170));
  EXPECT_FALSE(guard.Allowed(0x1F0));
  EXPECT_FALSE(guard.Allowed(0x1F7));
  EXPECT_FALSE(guard.Allowed(0x1F0));
  EXPECT_FALSE(guard.Allowed(0x3F6));
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "PIO: ports 01F0-01F7 belong to ata_piix, so port I/O there is refused",
                         "PIO: ports 03F6-03F6 belong to ata_piix, so port I/O there is refused"}));
  // The driver is unbound: after a refresh the channel is free again.
  text = "0000-0cf7 : PCI Bus 0000:00\n  01f0-01f7 : 0000:00:01.1\n";
  EXPECT_FALSE(guard.Allowed(0x1F0));
  guard.Refresh();
  EXPECT_TRUE(guard.Allowed(0x1F0));
}

TEST(PortGuard, RefusesEverythingWhenTheClaimsCannotBeKnown) {
  struct Case {
    std::optional<std::string> text;
    const char* notice;
  };
  for (const Case& c :
       {Case{std::nullopt, "PIO: /proc/ioports cannot be read, so port I/O is refused"},
        Case{"0000-0000 : PCI Bus 0000:00\n  0000-0000 : dma1\n",
             "PIO: /proc/ioports hides its addresses from this user, so port I/O is refused"}}) {
    PortGuard guard([&] { return c.text; });
    std::vector<std::string> notices;
    guard.SetNoticeSink([&](const std::string& s) { notices.push_back(s); });
    EXPECT_FALSE(guard.Allowed(0x170));
    EXPECT_FALSE(guard.Allowed(0x1F0));
    EXPECT_EQ(notices, std::vector<std::string>{c.notice});
  }
}

}  // namespace
}  // namespace brisquel::linuxpt
