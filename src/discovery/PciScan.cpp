#include "discovery/PciScan.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "discovery/PciNames.h"

namespace brisquel {

namespace {

constexpr int kBusCount = 51;
constexpr int kDevicesPerBus = 32;
constexpr std::uint16_t kAceVendor = 0xACE1;

enum class BoardKind { ordinary, aceSingle, aceDual };

bool IsKeptClass(std::uint16_t classKey) {
  switch (classKey) {
    case 0x0101:  // IDE
    case 0x0104:  // RAID
    case 0x0105:  // ATA
    case 0x0106:  // SATA
    case 0x0107:  // SAS
    case 0x0108:  // NVM
    case 0x0180:  // other mass storage
      return true;
    default:
      return false;
  }
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsBlankOrControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F;
}

std::string FunctionLine(std::uint32_t reg08, int bus, int device, int function,
                         bool multiFunction) {
  return UpperHex(reg08, 8) + ": Bus " + std::to_string(bus) + ",dev " + std::to_string(device) +
         ",class " + UpperHex(reg08 >> 16, 4) + ",func " + std::to_string(function) +
         " MF:" + (multiFunction ? "True" : "False");
}

struct Ports {
  std::uint16_t base;
  std::uint16_t control;
};

// One channel of a kept function. Legacy ports apply only to IDE-class
// functions whose channel bit in the programming interface is clear; every
// other class takes the base address registers as they are, unchecked.
Ports ChannelPorts(int channel, std::uint16_t classKey, std::uint8_t progIf, BoardKind kind,
                   const std::array<std::uint32_t, 4>& bars, std::uint16_t previousBase) {
  const bool legacy = classKey == 0x0101 && (progIf & (channel == 0 ? 0x01 : 0x04)) == 0;
  std::uint32_t rawBase;
  if (channel == 0) {
    rawBase = legacy ? 0x01F0 : bars[0];
  } else if (kind == BoardKind::aceSingle) {
    rawBase = 0;
  } else if (kind == BoardKind::aceDual) {
    rawBase = previousBase + 0x20u;
  } else {
    rawBase = legacy ? 0x0170 : bars[2];
  }
  const auto base = static_cast<std::uint16_t>(rawBase & 0xFFFC);

  std::uint32_t rawControl;
  if (kind != BoardKind::ordinary) {
    rawControl = base + 0x0Eu;
  } else if (channel == 0) {
    rawControl = legacy ? 0x03F6 : bars[1];
  } else {
    rawControl = legacy ? 0x0376 : bars[3];
  }
  const auto control = static_cast<std::uint16_t>((rawControl & 0xFFFC) + 2);
  return {base, control};
}

}  // namespace

std::vector<std::string> SplitNameFileLines(std::string_view content) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);  // UTF-8 mark
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = content.size();
    lines.emplace_back(content.substr(start, std::min(end - start, kNameFileMaxLine)));
    if (end + 1 < content.size() && content[end] == '\r' && content[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ReadNameFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return {};
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string content;
  std::array<char, 64 * 1024> chunk;
  while (content.size() < kNameFileMaxBytes && in) {
    in.read(chunk.data(), static_cast<std::streamsize>(
                              std::min(chunk.size(), kNameFileMaxBytes - content.size())));
    content.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return {};  // an unreadable file counts as missing, not as half a file
  return SplitNameFileLines(content);
}

std::string PcidevsValue(const std::vector<std::string>& lines, std::string_view key) {
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (EqualsIgnoringAsciiCase(std::string_view(line).substr(0, eq), key)) {
      return line.substr(eq + 1);
    }
  }
  return {};
}

std::string PciIniDeviceName(const std::vector<std::string>& lines, std::uint16_t deviceId) {
  std::string digits = UpperHex(deviceId, 4);
  for (char& c : digits) c = AsciiLower(c);
  for (const std::string& line : lines) {
    const std::size_t at = line.find(digits);
    if (at == std::string::npos) continue;
    std::string_view rest = std::string_view(line).substr(at + digits.size());
    while (!rest.empty() && IsBlankOrControl(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && IsBlankOrControl(rest.back())) rest.remove_suffix(1);
    return std::string(rest);
  }
  return {};
}

std::string LookupPciVendorName(const PciNameFiles& files, std::uint16_t vendorId) {
  std::string name = PcidevsValue(files.pcidevs, UpperHex(vendorId, 4));
  return name.empty() ? PciVendorName(vendorId) : name;
}

std::string LookupPciDeviceName(const PciNameFiles& files, std::uint16_t vendorId,
                                std::uint16_t deviceId) {
  std::string name =
      PcidevsValue(files.pcidevs, UpperHex(vendorId, 4) + ":" + UpperHex(deviceId, 4));
  if (name.empty() && vendorId != kAceVendor) name = PciIniDeviceName(files.pciIni, deviceId);
  return name.empty() ? PciDeviceName(deviceId) : name;
}

void ScanPciControllers(const PciScanContext& ctx) {
  const PciNameFiles files{ReadNameFile(ctx.programDir / "pcidevs.ini"),
                           ReadNameFile(ctx.programDir / "pci.ini")};
  auto& table = ctx.discovery.PciScanTable;
  auto& count = ctx.discovery.PciScanCount;
  ctx.breakFlag = false;
  std::uint16_t previousBase = 0;
  count = 0;
  bool fullReported = false;

  for (int bus = 0; bus < kBusCount && !ctx.breakFlag; ++bus) {
    for (int device = 0; device < kDevicesPerBus && !ctx.breakFlag; ++device) {
      const auto b = static_cast<std::uint8_t>(bus);
      const auto d = static_cast<std::uint8_t>(device);
      const bool multiFunction = (ReadPciConfig(ctx.ports, b, d, 0, 0x0C) & (1u << 23)) != 0;
      const int functions = multiFunction ? 8 : 2;
      for (int function = 0; function < functions && !ctx.breakFlag; ++function) {
        const auto f = static_cast<std::uint8_t>(function);
        ctx.host.PumpMessages();
        const std::uint32_t ids = ReadPciConfig(ctx.ports, b, d, f, 0x00);
        const auto vendorId = static_cast<std::uint16_t>(ids & 0xFFFF);
        const auto deviceId = static_cast<std::uint16_t>(ids >> 16);
        if (deviceId == 0xFFFF || deviceId == 0x0000) continue;

        BoardKind kind = BoardKind::ordinary;
        if (vendorId == kAceVendor && deviceId == 0x0005) kind = BoardKind::aceSingle;
        if (vendorId == kAceVendor && deviceId == 0x0006) kind = BoardKind::aceDual;

        const std::uint32_t reg08 = ReadPciConfig(ctx.ports, b, d, f, 0x08);
        const auto progIf = static_cast<std::uint8_t>(reg08 >> 8);
        const auto classKey = static_cast<std::uint16_t>(reg08 >> 16);

        if (ctx.host.KeyHeld(Key::shift)) {
          ctx.host.LogLine(FunctionLine(reg08, bus, device, function, multiFunction));
          ctx.host.LogLine(LookupPciDeviceName(files, vendorId, deviceId));
          ctx.host.LogLine("");
        }
        if (!IsKeptClass(classKey)) continue;

        // Two entries per function; the table does not grow, so once it is
        // full later functions are seen but not recorded.
        if (count + 2 > kPciScanTableSize) {
          if (!fullReported) {
            ctx.host.LogLine("Controller table full (" + std::to_string(kPciScanTableSize) +
                             " channels): later controllers are not listed");
            fullReported = true;
          }
          continue;
        }

        if (ctx.host.KeyHeld(Key::ctrl)) {
          ctx.host.LogLine(FunctionLine(reg08, bus, device, function, multiFunction));
        }
        const std::array<std::uint32_t, 4> bars{
            ReadPciConfig(ctx.ports, b, d, f, 0x10), ReadPciConfig(ctx.ports, b, d, f, 0x14),
            ReadPciConfig(ctx.ports, b, d, f, 0x18), ReadPciConfig(ctx.ports, b, d, f, 0x1C)};
        for (int channel = 0; channel < 2; ++channel) {
          const Ports ports = ChannelPorts(channel, classKey, progIf, kind, bars, previousBase);
          previousBase = ports.base;
          PCIDevDesc& entry = table[count];
          entry.vendorId = vendorId;
          entry.deviceId = deviceId;
          entry.basePort = ports.base;
          entry.controlPort = ports.control;
          entry.vendorName = LookupPciVendorName(files, vendorId);
          entry.deviceName = LookupPciDeviceName(files, vendorId, deviceId);
          entry.className = PciClassName(classKey);
          if (ctx.host.KeyHeld(Key::ctrl)) {
            ctx.host.LogLine(UpperHex(vendorId, 4) + ":" + UpperHex(deviceId, 4) + " " +
                             entry.deviceName + " " + entry.className);
          }
          ++count;
        }
      }
    }
  }
}

std::string PioLineText(const PCIDevDesc& entry) {
  char ports[32];
  std::snprintf(ports, sizeof ports, "%04X/%04X", static_cast<unsigned>(entry.basePort),
                static_cast<unsigned>(entry.controlPort));
  return std::string(ports) + " - " + entry.className + ": " + entry.vendorName + " " +
         entry.deviceName;
}

}  // namespace brisquel
