// The two name files beside the program: splitting arbitrary bytes into lines,
// then the "pcidevs.ini" key lookup and the "pci.ini" substring lookup.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "discovery/PciScan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint16_t vendor = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
  const std::uint16_t device = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
  const std::string_view content(reinterpret_cast<const char*>(data + 4), size - 4);

  brisquel::PciNameFiles files;
  files.pcidevs = brisquel::SplitNameFileLines(content);
  files.pciIni = files.pcidevs;
  for (const auto& line : files.pcidevs) {
    if (line.size() > brisquel::kNameFileMaxLine) __builtin_trap();
  }
  const std::string vendorName = brisquel::LookupPciVendorName(files, vendor);
  const std::string deviceName = brisquel::LookupPciDeviceName(files, vendor, device);
  // A lookup always yields a name: an empty value falls through, and a table
  // miss is rendered from the id itself.
  if (vendorName.empty() || deviceName.empty()) __builtin_trap();
  return 0;
}
