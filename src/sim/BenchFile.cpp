#include "sim/BenchFile.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <span>
#include <utility>

#include "discovery/uSetupApiEnum.h"
#include "text/IniLexer.h"
#include "text/Trim.h"

namespace brisquel::sim {

namespace {

struct ParseError {
  int line;
  std::string message;
};

[[noreturn]] void Fail(int line, std::string message) {
  throw ParseError{line, std::move(message)};
}

enum class Kind { library, enumeration, pci, channel, drive, bridge, disk };

struct KindInfo {
  std::string_view name;
  Kind kind;
  bool takesArgument;
  std::size_t maxCount;
  std::span<const std::string_view> keys;
};

constexpr std::string_view kLibraryKeys[] = {"ready", "dll-status", "driver-type", "reads-per-ms"};
constexpr std::string_view kEnumerationKeys[] = {"available", "device-set-opens"};
constexpr std::string_view kPciKeys[] = {"kind",        "vendor",        "device", "class",
                                         "header-type", "multifunction", "bar0",   "bar1",
                                         "bar2",        "bar3",          "bar4",   "bar5"};
constexpr std::string_view kChannelKeys[] = {"device0", "device1"};
constexpr std::string_view kDriveKeys[] = {"model",
                                           "firmware",
                                           "serial",
                                           "abort-command",
                                           "abort-features",
                                           "device-fault",
                                           "vendor-primary-code",
                                           "vendor-second-code",
                                           "vendor-third-code",
                                           "vendor-requested-sectors",
                                           "stay-busy",
                                           "never-set-dsc",
                                           "dsc-after-abort",
                                           "busy-reads",
                                           "dlmc",
                                           "dlmc-offsets",
                                           "segment-min",
                                           "segment-max",
                                           "segment-answer",
                                           "identify-data",
                                           "flash-seconds",
                                           "identify-file"};
constexpr std::string_view kBridgeKeys[] = {"forms",   "a1-length",       "tpsiu",       "drops",
                                             "ck-cond", "ata-ioctl-error", "short-by"};
constexpr std::string_view kDiskKeys[] = {
    "drive", "bridge", "path", "name", "number", "bus", "adapter", "max-transfer", "fails-to-open", "in-use", "system"};

constexpr KindInfo kKinds[] = {
    {"library", Kind::library, false, 1, kLibraryKeys},
    {"enumeration", Kind::enumeration, false, 1, kEnumerationKeys},
    {"pci", Kind::pci, true, kMaxBenchPciFunctions, kPciKeys},
    {"channel", Kind::channel, true, kMaxBenchChannels, kChannelKeys},
    {"drive", Kind::drive, true, kMaxBenchDrives, kDriveKeys},
    {"bridge", Kind::bridge, true, kMaxBenchBridges, kBridgeKeys},
    {"disk", Kind::disk, false, kMaxBenchDisks, kDiskKeys},
};

struct Entry {
  std::string value;
  int line = 0;
};

struct Section {
  const KindInfo* info = nullptr;
  std::string argument;
  int line = 0;
  std::map<std::string, Entry, std::less<>> entries;

  const Entry* Find(std::string_view key) const {
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : &it->second;
  }
  std::string Title() const {
    std::string title = "[";
    title.append(info->name);
    if (!argument.empty()) title.append(" ").append(argument);
    return title.append("]");
  }
};

std::string Hex(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// ---- values ----

std::uint32_t ParseHex(std::string_view text, int line, const std::string& what,
                       std::uint32_t max) {
  std::string_view digits = text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits.remove_prefix(2);
  std::uint64_t value = 0;
  const char* end = digits.data() + digits.size();
  if (digits.empty() || digits.size() > 8 ||
      std::from_chars(digits.data(), end, value, 16).ptr != end) {
    Fail(line, what + ": \"" + std::string(text) + "\" is not a hexadecimal number");
  }
  if (value > max) {
    Fail(line, what + ": " + std::string(text) + " is above " + Hex(max));
  }
  return static_cast<std::uint32_t>(value);
}

// The blank-separated words of a value.
std::vector<std::string_view> Words(std::string_view rest) {
  std::vector<std::string_view> words;
  while (!(rest = Trim(rest)).empty()) {
    const auto split = rest.find_first_of(" \t");
    words.push_back(rest.substr(0, split));
    rest = split == std::string_view::npos ? std::string_view{} : rest.substr(split);
  }
  return words;
}

std::int64_t ParseDecimal(const Entry& e, const std::string& what, std::int64_t min,
                          std::int64_t max) {
  std::int64_t value = 0;
  const char* end = e.value.data() + e.value.size();
  const auto [ptr, ec] = std::from_chars(e.value.data(), end, value, 10);
  if (e.value.empty() || e.value.size() > 12 || ec != std::errc() || ptr != end) {
    Fail(e.line, what + ": \"" + e.value + "\" is not a decimal number");
  }
  if (value < min || value > max) {
    Fail(e.line,
         what + ": " + e.value + " is outside " + std::to_string(min) + ".." + std::to_string(max));
  }
  return value;
}

bool ParseYesNo(const Entry& e, const std::string& what) {
  if (e.value == "yes") return true;
  if (e.value == "no") return false;
  Fail(e.line, what + ": expected yes or no, not \"" + e.value + "\"");
}

RunningSystem ParseSystem(const Entry& e, const std::string& what) {
  if (e.value == "windows") return RunningSystem::windows;
  if (e.value == "linux") return RunningSystem::linuxRoot;
  if (e.value == "no") return RunningSystem::none;
  Fail(e.line, what + ": expected windows, linux or no, not \"" + e.value + "\"");
}

std::string ParseText(const Entry& e, const std::string& what, std::size_t maxLength,
                      bool mayBeEmpty = true) {
  if (e.value.size() > maxLength) {
    Fail(e.line, what + ": longer than " + std::to_string(maxLength) + " characters");
  }
  if (!mayBeEmpty && e.value.empty()) {
    Fail(e.line, what + ": must not be empty");
  }
  return e.value;
}

void CheckName(std::string_view name, int line, const std::string& what) {
  const bool ok =
      !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
      });
  if (!ok) {
    Fail(line, what + ": \"" + std::string(name) +
                   "\" is not a name (1 to 32 letters, digits, '_', '-', '.')");
  }
}

PciLocation ParseLocation(std::string_view text, int line) {
  const auto colon = text.find(':');
  const auto dot = text.find('.');
  if (colon == std::string_view::npos || dot == std::string_view::npos || dot < colon) {
    Fail(line,
         "[pci " + std::string(text) + "]: expected bus:device.function in hex, e.g. 00:1f.1");
  }
  const std::string what = "[pci " + std::string(text) + "]";
  return {static_cast<std::uint8_t>(ParseHex(text.substr(0, colon), line, what + " bus", 0xFF)),
          static_cast<std::uint8_t>(
              ParseHex(text.substr(colon + 1, dot - colon - 1), line, what + " device", 0x1F)),
          static_cast<std::uint8_t>(ParseHex(text.substr(dot + 1), line, what + " function", 7))};
}

// ---- the lines ----

std::vector<Section> ReadSections(std::string_view text) {
  std::vector<Section> sections;
  std::map<Kind, std::size_t> counts;
  int lineNumber = 0;
  for (const IniTextLine& textLine : SplitIniLines(text, false)) {
    ++lineNumber;
    const std::string_view line = textLine.body;
    if (line.size() > kMaxBenchLineLength) {
      Fail(lineNumber, "longer than " + std::to_string(kMaxBenchLineLength) + " characters");
    }
    for (char c : line) {
      const auto u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\t') || u >= 0x7F) {
        Fail(lineNumber, "character 0x" + Hex(u) + " is not allowed (plain ASCII text only)");
      }
    }
    const IniLine lexed = LexIniLine(line, "#;");
    if (lexed.kind == IniLineKind::blank || lexed.kind == IniLineKind::comment) continue;

    if (lexed.kind == IniLineKind::section) {
      if (!lexed.closed || !lexed.after.empty()) {
        Fail(lineNumber, "section header without a closing ]");
      }
      const std::string_view inner = lexed.name;
      const auto split = inner.find_first_of(" \t");
      const std::string_view kindName = inner.substr(0, split);
      const std::string_view argument =
          split == std::string_view::npos ? std::string_view{} : Trim(inner.substr(split));
      const auto info = std::find_if(std::begin(kKinds), std::end(kKinds),
                                     [&](const KindInfo& k) { return k.name == kindName; });
      if (info == std::end(kKinds)) {
        Fail(lineNumber, "unknown section [" + std::string(inner) + "]");
      }
      if (info->takesArgument && argument.empty()) {
        Fail(lineNumber, "[" + std::string(kindName) + "] needs an argument, e.g. [" +
                             std::string(kindName) +
                             (info->kind == Kind::pci       ? " 00:1f.1]"
                              : info->kind == Kind::channel ? " 1F0]"
                                                            : " hd0]"));
      }
      if (!info->takesArgument && !argument.empty()) {
        Fail(lineNumber, "[" + std::string(kindName) + "] takes no argument");
      }
      if (++counts[info->kind] > info->maxCount) {
        Fail(lineNumber, "more than " + std::to_string(info->maxCount) + " [" +
                             std::string(kindName) + "] sections");
      }
      sections.push_back({&*info, std::string(argument), lineNumber, {}});
      continue;
    }

    if (lexed.kind != IniLineKind::entry) {
      Fail(lineNumber, "expected \"key = value\" or a [section]");
    }
    if (sections.empty()) Fail(lineNumber, "key outside any section");
    Section& section = sections.back();
    const std::string_view key = lexed.key;
    const std::string_view value = lexed.value;
    if (key.empty()) Fail(lineNumber, "missing key before =");
    if (std::find(section.info->keys.begin(), section.info->keys.end(), key) ==
        section.info->keys.end()) {
      Fail(lineNumber, "unknown key \"" + std::string(key) + "\" in " + section.Title());
    }
    const auto [it, inserted] =
        section.entries.emplace(std::string(key), Entry{std::string(value), lineNumber});
    if (!inserted) {
      Fail(lineNumber, "\"" + std::string(key) + "\" given twice in " + section.Title() +
                           " (first on line " + std::to_string(it->second.line) + ")");
    }
  }
  return sections;
}

// ---- the sections ----

struct Builder {
  BenchDescription bench;
  std::map<std::string, int, std::less<>> drives;               // name -> line
  std::map<std::string, int, std::less<>> bridges;              // name -> line
  std::map<std::string, std::string, std::less<>> drivePlaces;  // drive on a channel -> where
  std::map<std::string, int, std::less<>> paths;

  static std::string What(const Section& s, std::string_view key) {
    return s.Title() + " " + std::string(key);
  }

  void Library(const Section& s) {
    if (auto e = s.Find("ready")) bench.library.ready = ParseYesNo(*e, What(s, "ready"));
    if (auto e = s.Find("reads-per-ms")) {
      bench.library.readsPerMs =
          static_cast<std::uint64_t>(ParseDecimal(*e, What(s, "reads-per-ms"), 1, UINT32_MAX));
    }
    if (auto e = s.Find("dll-status")) {
      bench.library.dllStatus =
          static_cast<std::int32_t>(ParseDecimal(*e, What(s, "dll-status"), INT32_MIN, INT32_MAX));
    }
    if (auto e = s.Find("driver-type")) {
      bench.library.driverType =
          static_cast<std::int32_t>(ParseDecimal(*e, What(s, "driver-type"), INT32_MIN, INT32_MAX));
    }
  }

  void Enumeration(const Section& s) {
    if (auto e = s.Find("available")) {
      bench.enumeratorAvailable = ParseYesNo(*e, What(s, "available"));
    }
    if (auto e = s.Find("device-set-opens")) {
      bench.deviceSetOpens = ParseYesNo(*e, What(s, "device-set-opens"));
    }
  }

  void Pci(const Section& s) {
    struct Preset {
      std::string_view name;
      PciFunctionConfig (*make)();
    };
    static constexpr Preset kPresets[] = {
        {"legacy-ide", [] { return pci::LegacyIde(); }},
        {"native-ide", [] { return pci::NativeIde(0x8086, 0x27C0, {}); }},
        {"sata-ahci", [] { return pci::SataAhci(); }},
        {"raid", [] { return pci::Raid(0x8086, 0x27C3, {}); }},
        {"ace-single", [] { return pci::AceBoard(false, 0); }},
        {"ace-dual", [] { return pci::AceBoard(true, 0); }},
        {"host-bridge", [] { return pci::HostBridge(); }},
        {"pci-bridge", [] { return pci::PciBridge(); }},
        {"network", [] { return pci::NetworkCard(); }},
    };
    BenchPciFunction function;
    function.at = ParseLocation(s.argument, s.line);
    for (const BenchPciFunction& other : bench.pci) {
      if (other.at == function.at) Fail(s.line, s.Title() + " appears twice");
    }
    PciFunctionConfig& c = function.config;
    if (auto e = s.Find("kind")) {
      const auto preset = std::find_if(std::begin(kPresets), std::end(kPresets),
                                       [&](const Preset& p) { return p.name == e->value; });
      if (preset == std::end(kPresets)) {
        std::string known;
        for (const Preset& p : kPresets) known += (known.empty() ? "" : ", ") + std::string(p.name);
        Fail(e->line,
             What(s, "kind") + ": unknown kind \"" + e->value + "\" (known: " + known + ")");
      }
      c = preset->make();
    } else if (!s.Find("vendor") || !s.Find("device") || !s.Find("class")) {
      Fail(s.line, s.Title() + " needs vendor, device and class, or a kind");
    }
    auto hex = [&](std::string_view key, std::uint32_t max, auto& field) {
      if (auto e = s.Find(key)) {
        field = static_cast<std::remove_reference_t<decltype(field)>>(
            ParseHex(e->value, e->line, What(s, key), max));
      }
    };
    hex("vendor", 0xFFFF, c.vendorId);
    hex("device", 0xFFFF, c.deviceId);
    hex("class", 0xFFFFFFFF, c.classDword);
    hex("header-type", 0x7F, c.headerType);
    for (std::size_t i = 0; i < c.bars.size(); ++i) {
      hex("bar" + std::to_string(i), 0xFFFFFFFF, c.bars[i]);
    }
    if (auto e = s.Find("multifunction"))
      c.multiFunction = ParseYesNo(*e, What(s, "multifunction"));
    bench.pci.push_back(function);
  }

  void Drive(const Section& s) {
    CheckName(s.argument, s.line, "[drive]");
    if (!drives.emplace(s.argument, s.line).second) Fail(s.line, s.Title() + " appears twice");
    BenchDrive d;
    d.name = s.argument;
    if (auto e = s.Find("model")) d.identity.model = ParseText(*e, What(s, "model"), 40);
    if (auto e = s.Find("firmware")) d.identity.firmware = ParseText(*e, What(s, "firmware"), 8);
    if (auto e = s.Find("serial")) d.identity.serial = ParseText(*e, What(s, "serial"), 20);
    DriveFaults& f = d.faults;
    auto hex = [&](std::string_view key, std::uint32_t max, auto& field) {
      if (auto e = s.Find(key)) field = ParseHex(e->value, e->line, What(s, key), max);
    };
    hex("abort-command", 0xFF, f.abortCommand);
    hex("abort-features", 0xFF, f.abortFeatures);
    hex("device-fault", 0xFF, f.deviceFaultCommand);
    hex("vendor-primary-code", 0xFFFF, f.vendorPrimaryCode);
    hex("vendor-second-code", 0xFFFF, f.vendorSecondCode);
    hex("vendor-third-code", 0xFFFF, f.vendorThirdCode);
    if (auto e = s.Find("vendor-requested-sectors")) {
      f.vendorRequestedSectors = static_cast<std::uint32_t>(
          ParseDecimal(*e, What(s, "vendor-requested-sectors"), 0, UINT32_MAX));
    }
    if (auto e = s.Find("stay-busy")) f.stayBusy = ParseYesNo(*e, What(s, "stay-busy"));
    if (auto e = s.Find("never-set-dsc")) f.neverSetDsc = ParseYesNo(*e, What(s, "never-set-dsc"));
    if (auto e = s.Find("dsc-after-abort")) {
      f.dscAfterAbort = ParseYesNo(*e, What(s, "dsc-after-abort"));
    }
    if (auto e = s.Find("busy-reads")) {
      f.busyReads = static_cast<unsigned>(ParseDecimal(*e, What(s, "busy-reads"), 0, 1'000'000));
    }
    if (auto e = s.Find("dlmc")) d.identity.dlmcSupported = ParseYesNo(*e, What(s, "dlmc"));
    if (auto e = s.Find("dlmc-offsets")) {
      d.identity.offsetsSupported = ParseYesNo(*e, What(s, "dlmc-offsets"));
    }
    if (auto e = s.Find("segment-min")) {
      d.identity.segmentMin =
          static_cast<std::uint16_t>(ParseDecimal(*e, What(s, "segment-min"), 0, 0xFFFF));
    }
    if (auto e = s.Find("segment-max")) {
      d.identity.segmentMax =
          static_cast<std::uint16_t>(ParseDecimal(*e, What(s, "segment-max"), 0, 0xFFFF));
    }
    if (auto e = s.Find("segment-answer")) {
      f.segmentAnswer =
          static_cast<std::uint8_t>(ParseDecimal(*e, What(s, "segment-answer"), 0, 0xFF));
    }
    if (auto e = s.Find("identify-data")) {
      using Data = DriveFaults::IdentifyData;
      constexpr std::pair<std::string_view, Data> kData[] = {
          {"zeros", Data::zeros}, {"ones", Data::ones}, {"bad-checksum", Data::badChecksum},
          {"blank-names", Data::blankNames}};
      const auto it = std::find_if(std::begin(kData), std::end(kData),
                                   [&](const auto& d) { return d.first == e->value; });
      if (it == std::end(kData)) {
        Fail(e->line, What(s, "identify-data") + ": \"" + e->value +
                          "\" is none of zeros, ones, bad-checksum");
      }
      f.identifyData = it->second;
    }
    if (auto e = s.Find("flash-seconds")) {
      f.flashSeconds =
          static_cast<std::uint32_t>(ParseDecimal(*e, What(s, "flash-seconds"), 0, 3600));
    }
    if (auto e = s.Find("identify-file")) {
      // The sector itself says what these would.
      for (std::string_view key :
           {"model", "firmware", "serial", "dlmc", "dlmc-offsets", "segment-min", "segment-max"}) {
        if (auto other = s.Find(key)) {
          Fail(other->line, What(s, key) + ": the identify-file gives it already");
        }
      }
      if (e->value.empty()) Fail(e->line, What(s, "identify-file") + ": needs a path");
      d.identifyFile = e->value;
      d.identifyFileLine = e->line;
    }
    if (f.abortFeatures && !f.abortCommand) {
      Fail(s.Find("abort-features")->line, What(s, "abort-features") + ": needs abort-command");
    }
    bench.drives.push_back(std::move(d));
  }

  void Bridge(const Section& s) {
    CheckName(s.argument, s.line, "[bridge]");
    if (!bridges.emplace(s.argument, s.line).second) Fail(s.line, s.Title() + " appears twice");
    BenchBridge b;
    b.name = s.argument;
    if (auto e = s.Find("forms")) {
      b.behaviour.accepts12 = b.behaviour.accepts16 = false;
      bool none = false;
      const std::vector<std::string_view> tokens = Words(e->value);
      for (const std::string_view token : tokens) {
        bool* form = token == "12"   ? &b.behaviour.accepts12
                     : token == "16" ? &b.behaviour.accepts16
                                     : nullptr;
        if (token == "none") {
          none = true;
        } else if (!form || *form) {
          Fail(e->line, What(s, "forms") + ": expected \"12\", \"16\", \"12 16\" or \"none\"");
        } else {
          *form = true;
        }
      }
      if (tokens.empty() || (none && tokens.size() > 1)) {
        Fail(e->line, What(s, "forms") + ": expected \"12\", \"16\", \"12 16\" or \"none\"");
      }
    }
    if (auto e = s.Find("a1-length")) {
      if (e->value != "10" && e->value != "12") {
        Fail(e->line, What(s, "a1-length") + ": expected 10 or 12");
      }
      b.behaviour.a1NeedsTwelve = e->value == "12";
    }
    if (auto e = s.Find("tpsiu")) b.behaviour.takesTransferLength = ParseYesNo(*e, What(s, "tpsiu"));
    if (auto e = s.Find("drops")) {
      for (const std::string_view token : Words(e->value)) {
        b.behaviour.drops.set(ParseHex(token, e->line, What(s, "drops"), 0xFF));
      }
      if (b.behaviour.drops.none()) Fail(e->line, What(s, "drops") + ": needs opcodes");
    }
    if (auto e = s.Find("ck-cond")) {
      if (e->value != "honoured" && e->value != "ignored") {
        Fail(e->line, What(s, "ck-cond") + ": expected honoured or ignored");
      }
      b.behaviour.honoursCkCond = e->value == "honoured";
    }
    if (auto e = s.Find("short-by")) {
      b.behaviour.dataOutShortBy =
          static_cast<std::uint32_t>(ParseDecimal(*e, What(s, "short-by"), 1, UINT32_MAX));
    }
    if (auto e = s.Find("ata-ioctl-error")) {
      b.behaviour.ataIoctlError =
          static_cast<std::uint32_t>(ParseDecimal(*e, What(s, "ata-ioctl-error"), 1, 15999));
    }
    bench.bridges.push_back(b);
  }

  void Channel(const Section& s) {
    BenchChannel c;
    c.basePort = static_cast<std::uint16_t>(ParseHex(s.argument, s.line, "[channel]", 0xFFF8));
    for (const BenchChannel& other : bench.channels) {
      if (c.basePort < other.basePort + 8 && other.basePort < c.basePort + 8) {
        Fail(s.line, s.Title() + " overlaps [channel " + Hex(other.basePort) + "]");
      }
    }
    for (int position = 0; position < 2; ++position) {
      const std::string key = "device" + std::to_string(position);
      const Entry* e = s.Find(key);
      if (!e) continue;
      if (!drives.contains(e->value)) {
        Fail(e->line, What(s, key) + ": no [drive " + e->value + "]");
      }
      const std::string place = s.Title() + " " + key;
      const auto [it, inserted] = drivePlaces.emplace(e->value, place);
      if (!inserted) {
        Fail(e->line, What(s, key) + ": drive " + e->value + " is already at " + it->second);
      }
      c.device[position] = e->value;
    }
    bench.channels.push_back(c);
  }

  void Disk(const Section& s) {
    BenchDisk d;
    const std::size_t index = bench.disks.size();
    if (auto e = s.Find("fails-to-open")) d.failsToOpen = ParseYesNo(*e, What(s, "fails-to-open"));
    if (auto e = s.Find("drive")) {
      if (!drives.contains(e->value))
        Fail(e->line, What(s, "drive") + ": no [drive " + e->value + "]");
      d.drive = e->value;
    } else if (!d.failsToOpen) {
      Fail(s.line, "[disk] " + std::to_string(index) + " needs a drive (or fails-to-open = yes)");
    }
    if (auto e = s.Find("bridge")) {
      if (!bridges.contains(e->value)) {
        Fail(e->line, What(s, "bridge") + ": no [bridge " + e->value + "]");
      }
      d.bridge = e->value;
    }
    d.path = DefaultDiskPath(index);
    int pathLine = s.line;
    if (auto e = s.Find("path")) {
      d.path = ParseText(*e, What(s, "path"), 260, false);
      pathLine = e->line;
    }
    if (const auto [it, inserted] = paths.emplace(d.path, pathLine); !inserted) {
      Fail(pathLine,
           "[disk] path " + d.path + " is already used on line " + std::to_string(it->second));
    }
    if (auto e = s.Find("name")) d.friendlyName = ParseText(*e, What(s, "name"), 256);
    if (auto e = s.Find("number")) {
      d.number = static_cast<std::int32_t>(ParseDecimal(*e, What(s, "number"), 0, INT32_MAX));
    }
    if (auto e = s.Find("adapter")) d.adapterValid = ParseYesNo(*e, What(s, "adapter"));
    if (auto e = s.Find("bus")) {
      if (!d.adapterValid) Fail(e->line, What(s, "bus") + ": a disk with adapter = no has no bus");
      const auto name = std::find_if(kBusTypeNames.begin(), kBusTypeNames.end(),
                                     [&](std::string_view n) { return EqualsNoCase(n, e->value); });
      if (name != kBusTypeNames.end()) {
        d.busType = static_cast<std::uint8_t>(name - kBusTypeNames.begin());
      } else if (!e->value.empty() && std::all_of(e->value.begin(), e->value.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; })) {
        d.busType = static_cast<std::uint8_t>(ParseDecimal(*e, What(s, "bus"), 0, 255));
      } else {
        Fail(e->line, What(s, "bus") + ": \"" + e->value +
                          "\" is neither a bus type name (SATA, USB, ATA, ...) nor a number");
      }
    }
    if (!d.adapterValid) d.busType = 0;
    if (auto e = s.Find("max-transfer")) {
      d.maxTransferLength =
          static_cast<std::uint32_t>(ParseDecimal(*e, What(s, "max-transfer"), 0, UINT32_MAX));
    }
    if (auto e = s.Find("in-use")) d.inUse = ParseText(*e, What(s, "in-use"), 256, false);
    if (auto e = s.Find("system")) d.system = ParseSystem(*e, What(s, "system"));
    bench.disks.push_back(std::move(d));
  }
};

}  // namespace

std::string DefaultDiskPath(std::size_t index) {
  return "\\\\?\\sim#disk#" + std::to_string(index);
}

BenchParse ParseBenchText(std::string_view text) {
  BenchParse result;
  if (text.size() > kMaxBenchFileBytes) {
    result.error = "larger than " + std::to_string(kMaxBenchFileBytes) + " bytes";
    return result;
  }
  try {
    const std::vector<Section> sections = ReadSections(text);
    Builder b;
    // Drives and bridges first, so that references to them can be checked
    // wherever they stand in the text.
    for (const Section& s : sections) {
      if (s.info->kind == Kind::drive) b.Drive(s);
      if (s.info->kind == Kind::bridge) b.Bridge(s);
    }
    for (const Section& s : sections) {
      switch (s.info->kind) {
        case Kind::library:
          b.Library(s);
          break;
        case Kind::enumeration:
          b.Enumeration(s);
          break;
        case Kind::pci:
          b.Pci(s);
          break;
        case Kind::channel:
          b.Channel(s);
          break;
        case Kind::disk:
          b.Disk(s);
          break;
        case Kind::drive:
        case Kind::bridge:
          break;
      }
    }
    result.bench = std::move(b.bench);
  } catch (const ParseError& e) {
    result.line = e.line;
    result.error = "line " + std::to_string(e.line) + ": " + e.message;
  }
  return result;
}

}  // namespace brisquel::sim
