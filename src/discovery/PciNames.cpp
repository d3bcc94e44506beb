#include "discovery/PciNames.h"

#include <algorithm>
#include <optional>

namespace brisquel {

constexpr std::array<PciName, kPciVendorTableSize> kPciVendorTable = std::to_array<PciName>({
    {0x0E11, "Compaq"},
    {0x1000, "LSI Logic"},
    {0x1002, "ATI"},
    {0x100B, "Semiconductor"},
    {0x1022, "AMD"},
    {0x1039, "SiS"},
    {0x1042, "Micron"},
    {0x1045, "OPTi Inc"},
    {0x1055, "Efar Microsystems"},
    {0x105A, "Promise"},
    {0x1078, "Cyrix"},
    {0x1095, "CMD/SiI"},
    {0x10AD, "Symphony Labs"},
    {0x10B9, "ALi/ULi"},
    {0x10DE, "Nvidia"},
    {0x10EC, "Realtek"},
    {0x1101, "Initio"},
    {0x1103, "HPT"},
    {0x1106, "VIA"},
    {0x1109, "Adaptec"},
    {0x1145, "Workbit"},
    {0x1166, "Broadcom"},
    {0x1179, "Toshiba"},
    {0x11AB, "Marvell"},
    {0x1217, "O2Micro"},
    {0x1283, "ITE"},
    {0x15E9, "Pacific"},
    {0x169C, "Netcell"},
    {0x1725, "Vitesse Semiconductor"},
    {0x17F3, "RDC Semiconductor"},
    {0x197B, "JMicron"},
    {0x1DE1, "Tekram"},
    {0x3388, "Hint"},
    {0x8086, "Intel"},
    {0x9004, "Adaptec"},
    {0x9005, "Adaptec"},
    {0x907F, "Atronic"},
    {0x9412, "Holtek"},
    {0xACE1, "ACE Lab"},
    {0xB00C, "IC Book"},
});

constexpr std::array<PciName, kPciClassTableSize> kPciClassTable = std::to_array<PciName>({
    {0x0100, "SCSI"},     {0x0101, "Int ATA"},  {0x0102, "FDC"},      {0x0103, "IPI"},
    {0x0104, "RAID"},     {0x0105, "ATA"},      {0x0106, "SATA"},     {0x0107, "SAS"},
    {0x0108, "NVM"},      {0x0180, "Ext ATA"},  {0x0200, "Network"},  {0x0202, "FDDI"},
    {0x0204, "ISDN"},     {0x0280, "Network"},  {0x0300, "Video"},    {0x0301, "XGA"},
    {0x0302, "3D ctl"},   {0x0380, "Display"},  {0x0400, "Video"},    {0x0401, "Audio"},
    {0x0480, "M-media"},  {0x0500, "RAM mem"},  {0x0501, "FLASH"},    {0x0600, "Host"},
    {0x0601, "ISA brg"},  {0x0602, "EISA"},     {0x0604, "PCI brg"},  {0x0605, "PCMCIA"},
    {0x0606, "NuBus"},    {0x0607, "CardBus"},  {0x0608, "RaceWay"},  {0x0609, "PCI-PCI"},
    {0x0680, "Bridge"},   {0x0700, "Serial"},   {0x0701, "Parallel"}, {0x0702, "Multiport"},
    {0x0703, "Modem"},    {0x0780, "Comm"},     {0x0C00, "FireWire"}, {0x0C01, "ACCESS"},
    {0x0C02, "SSA"},      {0x0C03, "USB ctrl"}, {0x0C04, "Fibre"},    {0x0C05, "SMBus"},
    {0x0C06, "Infini"},   {0x0D00, "IRDA"},     {0x0D01, "IR ctrl"},  {0x0D10, "RF ctrl"},
    {0x0D80, "Wireless"},
});

static_assert(kPciVendorTable.size() == 40);
static_assert(kPciClassTable.size() == 49);
static_assert(IsStrictlyAscending(kPciVendorTable), "vendor ids must ascend");
static_assert(IsStrictlyAscending(kPciClassTable), "class keys must ascend");

namespace {

template <std::size_t N>
std::optional<std::string_view> Find(const std::array<PciName, N>& table, std::uint16_t id) {
  auto it = std::lower_bound(table.begin(), table.end(), id,
                             [](const PciName& row, std::uint16_t key) { return row.id < key; });
  if (it == table.end() || it->id != id) return std::nullopt;
  return it->name;
}

}  // namespace

std::string UpperHex(std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) {
    text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  }
  return text;
}

std::string PciVendorName(std::uint16_t vendorId) {
  if (auto name = Find(kPciVendorTable, vendorId)) return std::string(*name);
  return UpperHex(vendorId, 4) + "*";
}

std::string PciDeviceName(std::uint16_t deviceId) {
  if (auto name = Find(kPciDeviceTable, deviceId)) return std::string(*name);
  return "ID " + UpperHex(deviceId, 4) + "*";
}

std::string PciClassName(std::uint16_t classKey) {
  if (auto name = Find(kPciClassTable, classKey)) return std::string(*name);
  return UpperHex(classKey, 4);
}

}  // namespace brisquel
