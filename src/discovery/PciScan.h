// The PCI scan of the PIO list: walks buses 0 to 50, keeps the mass-storage
// functions of an ATA-like class and records two channels (command-block and
// control ports) for each, named from the two optional name files beside the
// program and from the built-in tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/DiscoveryState.h"
#include "hw/uWinRing0.h"
#include "transport/UiHost.h"

namespace brisquel {

struct PciScanContext {
  DiscoveryState& discovery;
  bool& breakFlag;
  PortLibrary& ports;
  UiHost& host;
  std::filesystem::path programDir;  // where "pcidevs.ini" and "pci.ini" are looked for
};

// Rebuilds PciScanTable and PciScanCount. Clears the break flag first; a break
// seen at a loop head ends the scan with the entries found so far.
void ScanPciControllers(const PciScanContext& ctx);

// "01F0/03F6 - Int ATA: Intel 82801G (ICH7 Family) IDE": ports as at least four
// upper-case hex digits, class, vendor and device names.
std::string PioLineText(const PCIDevDesc& entry);

// Name files are read whole and split at CR, LF or CR LF. A file that is
// missing, is not a regular file or cannot be read gives no lines. Lines are
// cut at kNameFileMaxLine bytes and reading stops after kNameFileMaxBytes, so a
// stray binary or huge file cannot exhaust memory.
inline constexpr std::size_t kNameFileMaxLine = 1024;
inline constexpr std::size_t kNameFileMaxBytes = 16u << 20;
std::vector<std::string> SplitNameFileLines(std::string_view content);
std::vector<std::string> ReadNameFile(const std::filesystem::path& file);

// "pcidevs.ini": the value of the first name=value line whose name (the text
// before the first '=', untrimmed) equals key regardless of ASCII letter case;
// the value is everything after that '=', untrimmed. "" when no line matches.
std::string PcidevsValue(const std::vector<std::string>& lines, std::string_view key);

// "pci.ini": the rest of the first line containing the device id as four
// lower-case hex digits, trimmed of blanks and control characters; "" if none.
std::string PciIniDeviceName(const std::vector<std::string>& lines, std::uint16_t deviceId);

struct PciNameFiles {
  std::vector<std::string> pcidevs;  // lines of "pcidevs.ini"
  std::vector<std::string> pciIni;   // lines of "pci.ini"
};

std::string LookupPciVendorName(const PciNameFiles& files, std::uint16_t vendorId);
// "pci.ini" is never consulted for the 0xACE1 boards.
std::string LookupPciDeviceName(const PciNameFiles& files, std::uint16_t vendorId,
                                std::uint16_t deviceId);

}  // namespace brisquel
