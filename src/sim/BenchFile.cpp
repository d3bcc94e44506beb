#include "sim/BenchFile.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <set>
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

enum class Kind { library, enumeration, pci, channel, drive, bridge, disk, nvme };

struct KindInfo {
  std::string_view name;
  Kind kind;
  bool takesArgument;
  std::size_t maxCount;
};

constexpr KindInfo kKinds[] = {
    {"library", Kind::library, false, 1},
    {"enumeration", Kind::enumeration, false, 1},
    {"pci", Kind::pci, true, kMaxBenchPciFunctions},
    {"channel", Kind::channel, true, kMaxBenchChannels},
    {"drive", Kind::drive, true, kMaxBenchDrives},
    {"bridge", Kind::bridge, true, kMaxBenchBridges},
    {"disk", Kind::disk, false, kMaxBenchDisks},
    {"nvme", Kind::nvme, true, kMaxBenchDrives},
};

// Whether a section of this kind has this key: its table says (below).
bool KnowsKey(Kind kind, std::string_view key);

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
    if (!KnowsKey(section.info->kind, key)) {
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
  std::set<std::string, std::less<>> nvmes;                     // of the names in `drives`
  std::map<std::string, std::string, std::less<>> drivePlaces;  // drive on a channel -> where
  std::map<std::string, int, std::less<>> paths;

  static std::string What(const Section& s, std::string_view key) {
    return s.Title() + " " + std::string(key);
  }

  void Library(const Section& s);
  void Enumeration(const Section& s);
  void Pci(const Section& s);
  void Drive(const Section& s);
  void Bridge(const Section& s);
  void Channel(const Section& s);
  void Disk(const Section& s);
  void Nvme(const Section& s);
};

// One key of a section, named once: what its value does to what the section
// builds. `what` names the key in messages ("[drive d0] model").
template <class Target>
struct KeyRule {
  std::string_view key;
  void (*apply)(Builder& b, Target& target, const Entry& e, const std::string& what);
};

// Each section's table: the keys it takes, in the order they are applied.
constexpr KeyRule<LibraryAnswers> kLibraryKeys[] = {
    {"ready", [](Builder&, LibraryAnswers& l, const Entry& e,
                 const std::string& w) { l.ready = ParseYesNo(e, w); }},
    {"dll-status",
     [](Builder&, LibraryAnswers& l, const Entry& e, const std::string& w) {
       l.dllStatus = static_cast<std::int32_t>(ParseDecimal(e, w, INT32_MIN, INT32_MAX));
     }},
    {"driver-type",
     [](Builder&, LibraryAnswers& l, const Entry& e, const std::string& w) {
       l.driverType = static_cast<std::int32_t>(ParseDecimal(e, w, INT32_MIN, INT32_MAX));
     }},
};

constexpr KeyRule<BenchDescription> kEnumerationKeys[] = {
    {"available", [](Builder&, BenchDescription& d, const Entry& e,
                     const std::string& w) { d.enumeratorAvailable = ParseYesNo(e, w); }},
    {"device-set-opens", [](Builder&, BenchDescription& d, const Entry& e,
                            const std::string& w) { d.deviceSetOpens = ParseYesNo(e, w); }},
};

struct PciPreset {
  std::string_view name;
  PciFunctionConfig (*make)();
};
constexpr PciPreset kPciPresets[] = {
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

template <std::uint32_t max, class Field>
void HexInto(Field& field, const Entry& e, const std::string& what) {
  field = static_cast<Field>(ParseHex(e.value, e.line, what, max));
}

template <std::size_t bar>
void BarInto(Builder&, PciFunctionConfig& c, const Entry& e, const std::string& w) {
  HexInto<0xFFFFFFFF>(c.bars[bar], e, w);
}

// The kind first: the keys after it change the preset it made.
constexpr KeyRule<PciFunctionConfig> kPciKeys[] = {
    {"kind",
     [](Builder&, PciFunctionConfig& c, const Entry& e, const std::string& w) {
       const auto preset = std::find_if(std::begin(kPciPresets), std::end(kPciPresets),
                                        [&](const PciPreset& p) { return p.name == e.value; });
       if (preset == std::end(kPciPresets)) {
         std::string known;
         for (const PciPreset& p : kPciPresets) {
           known += (known.empty() ? "" : ", ") + std::string(p.name);
         }
         Fail(e.line, w + ": unknown kind \"" + e.value + "\" (known: " + known + ")");
       }
       c = preset->make();
     }},
    {"vendor", [](Builder&, PciFunctionConfig& c, const Entry& e,
                  const std::string& w) { HexInto<0xFFFF>(c.vendorId, e, w); }},
    {"device", [](Builder&, PciFunctionConfig& c, const Entry& e,
                  const std::string& w) { HexInto<0xFFFF>(c.deviceId, e, w); }},
    {"class",
     [](Builder&, PciFunctionConfig& c, const Entry& e, const std::string& w) {
       HexInto<0xFFFFFFFF>(c.classDword, e, w);
     }},
    {"header-type", [](Builder&, PciFunctionConfig& c, const Entry& e,
                       const std::string& w) { HexInto<0x7F>(c.headerType, e, w); }},
    {"bar0", BarInto<0>},
    {"bar1", BarInto<1>},
    {"bar2", BarInto<2>},
    {"bar3", BarInto<3>},
    {"bar4", BarInto<4>},
    {"bar5", BarInto<5>},
    {"multifunction", [](Builder&, PciFunctionConfig& c, const Entry& e,
                         const std::string& w) { c.multiFunction = ParseYesNo(e, w); }},
};

// What an identify-file gives already, so the drive's section may not say it.
constexpr std::string_view kIdentityKeys[] = {"model",       "firmware",    "serial", "dlmc",
                                              "dlmc-offsets", "segment-min", "segment-max"};

constexpr KeyRule<BenchDrive> kDriveKeys[] = {
    {"model", [](Builder&, BenchDrive& d, const Entry& e,
                 const std::string& w) { d.identity.model = ParseText(e, w, 40); }},
    {"firmware", [](Builder&, BenchDrive& d, const Entry& e,
                    const std::string& w) { d.identity.firmware = ParseText(e, w, 8); }},
    {"serial", [](Builder&, BenchDrive& d, const Entry& e,
                  const std::string& w) { d.identity.serial = ParseText(e, w, 20); }},
    {"abort-command",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       HexInto<0xFF>(d.faults.abortCommand.emplace(), e, w);
     }},
    {"abort-features",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       HexInto<0xFF>(d.faults.abortFeatures.emplace(), e, w);
     }},
    {"vendor-primary-code",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       HexInto<0xFFFF>(d.faults.vendorPrimaryCode.emplace(), e, w);
     }},
    {"vendor-second-code",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       HexInto<0xFFFF>(d.faults.vendorSecondCode.emplace(), e, w);
     }},
    {"vendor-third-code",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       HexInto<0xFFFF>(d.faults.vendorThirdCode.emplace(), e, w);
     }},
    {"vendor-requested-sectors",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       d.faults.vendorRequestedSectors =
           static_cast<std::uint32_t>(ParseDecimal(e, w, 0, UINT32_MAX));
     }},
    {"stay-busy", [](Builder&, BenchDrive& d, const Entry& e,
                     const std::string& w) { d.faults.stayBusy = ParseYesNo(e, w); }},
    {"never-set-dsc", [](Builder&, BenchDrive& d, const Entry& e,
                         const std::string& w) { d.faults.neverSetDsc = ParseYesNo(e, w); }},
    {"dsc-after-abort", [](Builder&, BenchDrive& d, const Entry& e,
                           const std::string& w) { d.faults.dscAfterAbort = ParseYesNo(e, w); }},
    {"busy-reads",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       d.faults.busyReads = static_cast<unsigned>(ParseDecimal(e, w, 0, 1'000'000));
     }},
    {"dlmc", [](Builder&, BenchDrive& d, const Entry& e,
                const std::string& w) { d.identity.dlmcSupported = ParseYesNo(e, w); }},
    {"dlmc-offsets", [](Builder&, BenchDrive& d, const Entry& e,
                        const std::string& w) { d.identity.offsetsSupported = ParseYesNo(e, w); }},
    {"segment-min",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       d.identity.segmentMin = static_cast<std::uint16_t>(ParseDecimal(e, w, 0, 0xFFFF));
     }},
    {"segment-max",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       d.identity.segmentMax = static_cast<std::uint16_t>(ParseDecimal(e, w, 0, 0xFFFF));
     }},
    {"segment-answer",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       d.faults.segmentAnswer = static_cast<std::uint8_t>(ParseDecimal(e, w, 0, 0xFF));
     }},
    {"identify-data",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       using Data = DriveFaults::IdentifyData;
       constexpr std::pair<std::string_view, Data> kData[] = {
           {"zeros", Data::zeros}, {"ones", Data::ones}, {"bad-checksum", Data::badChecksum}};
       const auto it = std::find_if(std::begin(kData), std::end(kData),
                                    [&](const auto& data) { return data.first == e.value; });
       if (it == std::end(kData)) {
         Fail(e.line, w + ": \"" + e.value + "\" is none of zeros, ones, bad-checksum");
       }
       d.faults.identifyData = it->second;
     }},
    {"flash-seconds",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       d.faults.flashSeconds = static_cast<std::uint32_t>(ParseDecimal(e, w, 0, 3600));
     }},
    {"identify-file",
     [](Builder&, BenchDrive& d, const Entry& e, const std::string& w) {
       if (e.value.empty()) Fail(e.line, w + ": needs a path");
       d.identifyFile = e.value;
       d.identifyFileLine = e.line;
     }},
};

constexpr std::string_view kFormsExpected = ": expected \"12\", \"16\", \"12 16\" or \"none\"";

constexpr KeyRule<BridgeBehaviour> kBridgeKeys[] = {
    {"forms",
     [](Builder&, BridgeBehaviour& b, const Entry& e, const std::string& w) {
       b.accepts12 = b.accepts16 = false;
       bool none = false;
       const std::vector<std::string_view> tokens = Words(e.value);
       for (const std::string_view token : tokens) {
         bool* form = token == "12" ? &b.accepts12 : token == "16" ? &b.accepts16 : nullptr;
         if (token == "none") {
           none = true;
         } else if (!form || *form) {
           Fail(e.line, w + std::string(kFormsExpected));
         } else {
           *form = true;
         }
       }
       if (tokens.empty() || (none && tokens.size() > 1)) {
         Fail(e.line, w + std::string(kFormsExpected));
       }
     }},
    {"a1-length",
     [](Builder&, BridgeBehaviour& b, const Entry& e, const std::string& w) {
       if (e.value != "10" && e.value != "12") Fail(e.line, w + ": expected 10 or 12");
       b.a1NeedsTwelve = e.value == "12";
     }},
    {"tpsiu", [](Builder&, BridgeBehaviour& b, const Entry& e,
                 const std::string& w) { b.takesTransferLength = ParseYesNo(e, w); }},
    {"drops",
     [](Builder&, BridgeBehaviour& b, const Entry& e, const std::string& w) {
       for (const std::string_view token : Words(e.value)) {
         b.drops.set(ParseHex(token, e.line, w, 0xFF));
       }
       if (b.drops.none()) Fail(e.line, w + ": needs opcodes");
     }},
    {"ck-cond",
     [](Builder&, BridgeBehaviour& b, const Entry& e, const std::string& w) {
       if (e.value != "honoured" && e.value != "ignored") {
         Fail(e.line, w + ": expected honoured or ignored");
       }
       b.honoursCkCond = e.value == "honoured";
     }},
    {"ata-ioctl-error",
     [](Builder&, BridgeBehaviour& b, const Entry& e, const std::string& w) {
       b.ataIoctlError = static_cast<std::uint32_t>(ParseDecimal(e, w, 1, 15999));
     }},
};

template <int slot>
void SlotRevision(Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
  if (slot > n.identity.slotCount) {
    Fail(e.line, w + ": the controller has " + std::to_string(n.identity.slotCount) + " slot" +
                     (n.identity.slotCount == 1 ? "" : "s"));
  }
  n.identity.slotRevisions[slot - 1] = ParseText(e, w, 8);
}

// Applied in this order: the slot count before the slots and the slot numbers.
constexpr KeyRule<BenchNvme> kNvmeKeys[] = {
    {"model", [](Builder&, BenchNvme& n, const Entry& e,
                 const std::string& w) { n.identity.model = ParseText(e, w, 40); }},
    {"serial", [](Builder&, BenchNvme& n, const Entry& e,
                  const std::string& w) { n.identity.serial = ParseText(e, w, 20); }},
    {"slots",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.slotCount = static_cast<int>(ParseDecimal(e, w, 1, kNvmeMaxSlots));
     }},
    {"slot1", SlotRevision<1>},
    {"slot2", SlotRevision<2>},
    {"slot3", SlotRevision<3>},
    {"slot4", SlotRevision<4>},
    {"slot5", SlotRevision<5>},
    {"slot6", SlotRevision<6>},
    {"slot7", SlotRevision<7>},
    {"active-slot",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.activeSlot = static_cast<int>(ParseDecimal(e, w, 1, n.identity.slotCount));
     }},
    {"next-slot",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.nextSlot = static_cast<int>(ParseDecimal(e, w, 0, n.identity.slotCount));
     }},
    {"slot1-read-only", [](Builder&, BenchNvme& n, const Entry& e,
                           const std::string& w) { n.identity.slot1ReadOnly = ParseYesNo(e, w); }},
    {"activate-without-reset",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.activateWithoutReset = ParseYesNo(e, w);
     }},
    {"firmware-commands",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.firmwareCommands = ParseYesNo(e, w);
     }},
    {"fwug",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.fwug = static_cast<std::uint8_t>(ParseDecimal(e, w, 0, 255));
     }},
    {"mdts",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.mdts = static_cast<std::uint8_t>(ParseDecimal(e, w, 0, 255));
     }},
    {"mtfa",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.identity.mtfa = static_cast<std::uint16_t>(ParseDecimal(e, w, 0, 65535));
     }},
    {"refuse-opcode",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       n.faults.refuseOpcode = static_cast<std::uint8_t>(ParseHex(e.value, e.line, w, 0xFF));
     }},
    {"refuse-status",
     [](Builder&, BenchNvme& n, const Entry& e, const std::string& w) {
       // The completion's status field: code bits 7-0, type 10-8, do-not-retry 14.
       if (!n.faults.refuseOpcode) Fail(e.line, w + ": needs refuse-opcode");
       n.faults.refuseStatus = NvmeStatus::FromField(ParseHex(e.value, e.line, w, 0x47FF));
       if (n.faults.refuseStatus.ok()) Fail(e.line, w + ": 0 is success, not a refusal");
     }},
};

template <int position>
void DeviceAt(Builder& b, BenchChannel& c, const Entry& e, const std::string& w) {
  if (!b.drives.contains(e.value) || b.nvmes.contains(e.value)) {
    Fail(e.line, w + ": no [drive " + e.value + "]");
  }
  // `w` is the section's title and the key: where the drive is.
  const auto [it, inserted] = b.drivePlaces.emplace(e.value, w);
  if (!inserted) Fail(e.line, w + ": drive " + e.value + " is already at " + it->second);
  c.device[position] = e.value;
}

constexpr KeyRule<BenchChannel> kChannelKeys[] = {
    {"device0", DeviceAt<0>},
    {"device1", DeviceAt<1>},
};

// Applied in this order: whether it opens before the drive it needs, the
// adapter before the bus it may not have.
constexpr KeyRule<BenchDisk> kDiskKeys[] = {
    {"fails-to-open", [](Builder&, BenchDisk& d, const Entry& e,
                         const std::string& w) { d.failsToOpen = ParseYesNo(e, w); }},
    {"drive",
     [](Builder& b, BenchDisk& d, const Entry& e, const std::string& w) {
       if (!b.drives.contains(e.value) || b.nvmes.contains(e.value)) {
         Fail(e.line, w + ": no [drive " + e.value + "]");
       }
       d.drive = e.value;
     }},
    {"nvme",
     [](Builder& b, BenchDisk& d, const Entry& e, const std::string& w) {
       if (!d.drive.empty()) Fail(e.line, w + ": a disk is a drive or an NVMe drive, not both");
       if (!b.nvmes.contains(e.value)) Fail(e.line, w + ": no [nvme " + e.value + "]");
       d.nvme = e.value;
       d.busType = kBusTypeNvme;  // unless `bus` says otherwise
     }},
    {"bridge",
     [](Builder& b, BenchDisk& d, const Entry& e, const std::string& w) {
       if (!b.bridges.contains(e.value)) Fail(e.line, w + ": no [bridge " + e.value + "]");
       d.bridge = e.value;
     }},
    {"path", [](Builder&, BenchDisk& d, const Entry& e,
                const std::string& w) { d.path = ParseText(e, w, 260, false); }},
    {"name", [](Builder&, BenchDisk& d, const Entry& e,
                const std::string& w) { d.friendlyName = ParseText(e, w, 256); }},
    {"number",
     [](Builder&, BenchDisk& d, const Entry& e, const std::string& w) {
       d.number = static_cast<std::int32_t>(ParseDecimal(e, w, 0, INT32_MAX));
     }},
    {"adapter", [](Builder&, BenchDisk& d, const Entry& e,
                   const std::string& w) { d.adapterValid = ParseYesNo(e, w); }},
    {"bus",
     [](Builder&, BenchDisk& d, const Entry& e, const std::string& w) {
       if (!d.adapterValid) Fail(e.line, w + ": a disk with adapter = no has no bus");
       const auto name = std::find_if(kBusTypeNames.begin(), kBusTypeNames.end(),
                                      [&](std::string_view n) { return EqualsNoCase(n, e.value); });
       if (name != kBusTypeNames.end()) {
         d.busType = static_cast<std::uint8_t>(name - kBusTypeNames.begin());
       } else if (!e.value.empty() && std::all_of(e.value.begin(), e.value.end(),
                                                  [](char c) { return c >= '0' && c <= '9'; })) {
         d.busType = static_cast<std::uint8_t>(ParseDecimal(e, w, 0, 255));
       } else {
         Fail(e.line, w + ": \"" + e.value +
                          "\" is neither a bus type name (SATA, USB, ATA, ...) nor a number");
       }
     }},
    {"max-transfer",
     [](Builder&, BenchDisk& d, const Entry& e, const std::string& w) {
       d.maxTransferLength = static_cast<std::uint32_t>(ParseDecimal(e, w, 0, UINT32_MAX));
     }},
    {"in-use", [](Builder&, BenchDisk& d, const Entry& e,
                  const std::string& w) { d.inUse = ParseText(e, w, 256, false); }},
    {"system", [](Builder&, BenchDisk& d, const Entry& e,
                  const std::string& w) { d.system = ParseSystem(e, w); }},
};

template <class Target, std::size_t n>
bool Knows(const KeyRule<Target> (&rules)[n], std::string_view key) {
  return std::any_of(std::begin(rules), std::end(rules),
                     [&](const KeyRule<Target>& rule) { return rule.key == key; });
}

// Every key the section gives, in the table's order.
template <class Target, std::size_t n>
void Apply(Builder& b, const Section& s, const KeyRule<Target> (&rules)[n], Target& target) {
  for (const KeyRule<Target>& rule : rules) {
    if (const Entry* e = s.Find(rule.key)) rule.apply(b, target, *e, Builder::What(s, rule.key));
  }
}

bool KnowsKey(Kind kind, std::string_view key) {
  switch (kind) {
    case Kind::library:
      return Knows(kLibraryKeys, key);
    case Kind::enumeration:
      return Knows(kEnumerationKeys, key);
    case Kind::pci:
      return Knows(kPciKeys, key);
    case Kind::channel:
      return Knows(kChannelKeys, key);
    case Kind::drive:
      return Knows(kDriveKeys, key);
    case Kind::bridge:
      return Knows(kBridgeKeys, key);
    case Kind::nvme:
      return Knows(kNvmeKeys, key);
    case Kind::disk:
      break;
  }
  return Knows(kDiskKeys, key);
}

void Builder::Library(const Section& s) { Apply(*this, s, kLibraryKeys, bench.library); }

void Builder::Enumeration(const Section& s) { Apply(*this, s, kEnumerationKeys, bench); }

void Builder::Pci(const Section& s) {
  BenchPciFunction function;
  function.at = ParseLocation(s.argument, s.line);
  for (const BenchPciFunction& other : bench.pci) {
    if (other.at == function.at) Fail(s.line, s.Title() + " appears twice");
  }
  if (!s.Find("kind") && (!s.Find("vendor") || !s.Find("device") || !s.Find("class"))) {
    Fail(s.line, s.Title() + " needs vendor, device and class, or a kind");
  }
  Apply(*this, s, kPciKeys, function.config);
  bench.pci.push_back(function);
}

void Builder::Drive(const Section& s) {
  CheckName(s.argument, s.line, "[drive]");
  if (!drives.emplace(s.argument, s.line).second) Fail(s.line, s.Title() + " appears twice");
  BenchDrive d;
  d.name = s.argument;
  if (s.Find("identify-file")) {
    // The sector itself says what these would.
    for (std::string_view key : kIdentityKeys) {
      if (auto other = s.Find(key)) {
        Fail(other->line, What(s, key) + ": the identify-file gives it already");
      }
    }
  }
  Apply(*this, s, kDriveKeys, d);
  if (d.faults.abortFeatures && !d.faults.abortCommand) {
    Fail(s.Find("abort-features")->line, What(s, "abort-features") + ": needs abort-command");
  }
  bench.drives.push_back(std::move(d));
}

void Builder::Bridge(const Section& s) {
  CheckName(s.argument, s.line, "[bridge]");
  if (!bridges.emplace(s.argument, s.line).second) Fail(s.line, s.Title() + " appears twice");
  BenchBridge b;
  b.name = s.argument;
  Apply(*this, s, kBridgeKeys, b.behaviour);
  bench.bridges.push_back(b);
}

void Builder::Nvme(const Section& s) {
  CheckName(s.argument, s.line, "[nvme]");
  // Drives and NVMe drives share one name space: a disk names either.
  if (!drives.emplace(s.argument, s.line).second) Fail(s.line, s.Title() + " appears twice");
  nvmes.insert(s.argument);
  BenchNvme n;
  n.name = s.argument;
  Apply(*this, s, kNvmeKeys, n);
  const NvmeIdentity& id = n.identity;
  if (id.slotRevisions[static_cast<std::size_t>(id.activeSlot - 1)].empty()) {
    Fail(s.line, s.Title() + ": the active slot " + std::to_string(id.activeSlot) +
                     " holds no firmware");
  }
  bench.nvmes.push_back(std::move(n));
}

void Builder::Channel(const Section& s) {
  BenchChannel c;
  c.basePort = static_cast<std::uint16_t>(ParseHex(s.argument, s.line, "[channel]", 0xFFF8));
  for (const BenchChannel& other : bench.channels) {
    if (c.basePort < other.basePort + 8 && other.basePort < c.basePort + 8) {
      Fail(s.line, s.Title() + " overlaps [channel " + Hex(other.basePort) + "]");
    }
  }
  Apply(*this, s, kChannelKeys, c);
  bench.channels.push_back(c);
}

void Builder::Disk(const Section& s) {
  BenchDisk d;
  const std::size_t index = bench.disks.size();
  d.path = DefaultDiskPath(index);
  Apply(*this, s, kDiskKeys, d);
  if (d.drive.empty() && d.nvme.empty() && !d.failsToOpen) {
    Fail(s.line, "[disk] " + std::to_string(index) + " needs a drive (or fails-to-open = yes)");
  }
  const Entry* path = s.Find("path");
  const int pathLine = path ? path->line : s.line;
  if (const auto [it, inserted] = paths.emplace(d.path, pathLine); !inserted) {
    Fail(pathLine,
         "[disk] path " + d.path + " is already used on line " + std::to_string(it->second));
  }
  if (!d.adapterValid) d.busType = 0;
  bench.disks.push_back(std::move(d));
}

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
      if (s.info->kind == Kind::nvme) b.Nvme(s);
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
        case Kind::nvme:
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
