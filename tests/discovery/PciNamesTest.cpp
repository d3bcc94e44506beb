#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "discovery/PciNames.h"

namespace brisquel {
namespace {

template <std::size_t N>
std::size_t DistinctNames(const std::array<PciName, N>& table) {
  std::set<std::string_view> names;
  for (const PciName& row : table) names.insert(row.name);
  return names.size();
}

TEST(PciNames, TablesHoldTheirKeysAndDistinctTexts) {
  EXPECT_EQ(kPciVendorTable.size(), 40u);
  EXPECT_EQ(DistinctNames(kPciVendorTable), 38u);
  EXPECT_EQ(kPciDeviceTable.size(), 433u);
  EXPECT_EQ(DistinctNames(kPciDeviceTable), 342u);
  EXPECT_EQ(kPciClassTable.size(), 49u);
  EXPECT_EQ(DistinctNames(kPciClassTable), 47u);
}

// The device names, ordered by the lowest id that carries each, with the number of
// ids per name, must follow the reference list exactly (names compared byte for byte).
TEST(PciNames, DeviceNamesFollowTheReferenceOrderByLowestId) {
  std::ifstream in(std::string(BRISQUEL_TEST_DATA) + "/discovery/pci-device-name-order.tsv");
  ASSERT_TRUE(in) << "reference list missing";
  std::vector<std::pair<std::string, int>> expected;
  for (std::string line; std::getline(in, line);) {
    auto tab = line.rfind('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    expected.emplace_back(line.substr(0, tab), std::stoi(line.substr(tab + 1)));
  }
  ASSERT_EQ(expected.size(), 342u);

  std::map<std::string_view, std::pair<std::uint16_t, int>> lowestAndCount;
  for (const PciName& row : kPciDeviceTable) {
    auto [it, fresh] = lowestAndCount.try_emplace(row.name, row.id, 0);
    it->second.first = std::min(it->second.first, row.id);
    ++it->second.second;
  }
  std::vector<std::pair<std::uint16_t, std::pair<std::string, int>>> actual;
  for (const auto& [name, lc] : lowestAndCount) {
    actual.push_back({lc.first, {std::string(name), lc.second}});
  }
  std::sort(actual.begin(), actual.end());
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i].second, expected[i]) << "position " << i;
  }
}

TEST(PciNames, NamesTheIdsThatAreFixedByHand) {
  struct Row {
    std::uint16_t id;
    const char* name;
  };
  const Row rows[] = {
      {0x0001, "53C810"},
      {0x0002, "87415/87560 IDE"},
      {0x0003, "HighPoint 343/345/346/363"},
      {0x0004, "HighPoint 366/368/370/370A/372/372N"},
      {0x0005, "PC3000 PCI"},
      {0x0006, "PC3000 UDMA"},
      {0x0007, "HighPoint 371/371N"},
      {0x0008, "HighPoint 374"},
      {0x0009, "HighPoint 372N-133"},
      {0x0018, "PC3000 UDMA-E"},
      {0x0044, "Revolution Storage Processing Card"},
      {0x0D1C, "K-Tool Board"},
      {0x8213, "IT8213 IDE / BVG HDD Repair Tool"},
      {0x0180, "180 IDE UDMA"},
      {0x0181, "181 IDE UDMA"},
      {0x436E, "436E SATA"},
      {0x6565, "6565"},
      {0x8000, "8000 Storage IO"},
      {0x0186, "AHCI (0106)"},
      {0x1183, "SATA - IDE mode"},
      {0x1184, "AHCI / RAID mode"},
      {0x1185, "AHCI IDE (0106)"},
      {0x0103, "EIDE Type-B"},
      {0x0415, "VIA PATA IDE Host"},
      {0x4349, "Dual Channel Bus Master PCI IDE"},
      {0x6287, "SATA RAID"},
      {0x91A3, "6Gbps SATA"},
      {0x4369, "Undefined"},
      {0x6040, "Undefined"},
      {0x6080, "Undefined"},
      {0x6123, "Undefined"},
      {0x5337, "VIA Device"},
      {0x9001, "VIA Device"},
      {0x91A4, "Marvell Device"},
      {0x1600, "Apple PCIe SSD"},
      {0xA800, "XP941 PCIe SSD"},
  };
  for (const Row& r : rows) EXPECT_EQ(PciDeviceName(r.id), r.name) << std::hex << r.id;
}

TEST(PciNames, HitsAndMissRenderings) {
  struct Case {
    std::string (*lookup)(std::uint16_t);
    std::uint16_t key;
    const char* text;
  };
  const Case cases[] = {
      {PciVendorName, 0x11AB, "Marvell"},
      {PciVendorName, 0x1B4B, "1B4B*"},
      {PciVendorName, 0x1109, "Adaptec"},
      {PciVendorName, 0x9004, "Adaptec"},
      {PciVendorName, 0x9005, "Adaptec"},
      {PciVendorName, 0x0000, "0000*"},
      {PciVendorName, 0xB00C, "IC Book"},
      {PciDeviceName, 0x9123, "88SE9123 PCIe SATA 6.0 Gb/s"},
      {PciDeviceName, 0x7777, "ID 7777*"},
      {PciDeviceName, 0x0000, "ID 0000*"},
      {PciDeviceName, 0xFFFF, "ID FFFF*"},
      {PciDeviceName, 0x1F24, "Atom processor C2000 RAID SATA2"},
      {PciDeviceName, 0x0AD0, "MCP78S [GeForce 8200] SATA  (non-AHCI mode)"},
      {PciDeviceName, 0x0241, "1420SA SATA II RAID "},
      {PciDeviceName, 0x27DF, "82801G (ICH7 Family) IDE"},
      {PciDeviceName, 0x2922, "82801IR/IO/IH (ICH9R/DO/DH) 6 port SATA AHCI"},
      {PciDeviceName, 0xF024, "NinjaPATA-32 Delkin Cardbus UDMA"},
      {PciClassName, 0x0101, "Int ATA"},
      {PciClassName, 0x0180, "Ext ATA"},
      {PciClassName, 0x0200, "Network"},
      {PciClassName, 0x0280, "Network"},
      {PciClassName, 0x0300, "Video"},
      {PciClassName, 0x0400, "Video"},
      {PciClassName, 0x0D80, "Wireless"},
      {PciClassName, 0x0C80, "0C80"},
      {PciClassName, 0x0000, "0000"},
      {PciClassName, 0xFFFF, "FFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.lookup(c.key), c.text) << std::hex << c.key;

  const auto c2000Raid = std::count_if(
      kPciDeviceTable.begin(), kPciDeviceTable.end(),
      [](const PciName& row) { return row.name == "Atom processor C2000 RAID SATA2"; });
  EXPECT_EQ(c2000Raid, 6);
}

}  // namespace
}  // namespace brisquel
