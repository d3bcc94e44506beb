#include "transport/Recording.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>

namespace brisquel {

namespace {

constexpr std::size_t kDataBytesPerLine = 32;

const char* DirectionName(DataDirection d) {
  switch (d) {
    case DataDirection::in:
      return "in";
    case DataDirection::out:
      return "out";
    case DataDirection::none:
      break;
  }
  return "none";
}

const char* KindName(RecordedKind k) {
  switch (k) {
    case RecordedKind::scsi:
      return "scsi";
    case RecordedKind::pio:
      return "pio";
    case RecordedKind::nvme:
      return "nvme";
    case RecordedKind::ata:
      break;
  }
  return "ata";
}

std::string Hex2(std::uint8_t b) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) text += Hex2(b);
  return text;
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}


std::string SystemText(const RecordedCommand& c) {
  return c.delivered ? std::string("-") : std::to_string(c.systemError);
}

std::string Registers(const AtaTaskFile& r) {
  std::string text;
  for (const std::uint8_t b : {r.features, r.count, r.lbaLow, r.lbaMid, r.lbaHigh, r.device,
                               r.command}) {
    text.append(" ").append(Hex2(b));
  }
  return text;
}

std::string Previous(const AtaTaskFile& r) {
  std::string text;
  for (const std::uint8_t b : {r.featuresPrev, r.countPrev, r.lbaLowPrev, r.lbaMidPrev,
                               r.lbaHighPrev}) {
    text.append(" ").append(Hex2(b));
  }
  return text;
}

// ---- reading ----

struct Failure {
  std::string reason;
};

[[noreturn]] void Fail(const std::string& reason) {
  throw Failure{reason};
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::uint64_t Number(std::string_view text, int base, std::uint64_t max, std::string_view what) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || ptr != end || value > max) {
    Fail(std::string(what) + ": \"" + std::string(text) + "\" is not " +
         (base == 16 ? "a hexadecimal" : "a decimal") + " number up to " + std::to_string(max));
  }
  return value;
}

std::uint8_t Byte(std::string_view text, std::string_view what) {
  if (text.size() > 2) Fail(std::string(what) + ": \"" + std::string(text) + "\" is not a byte");
  return static_cast<std::uint8_t>(Number(text, 16, 0xFF, what));
}

std::vector<std::uint8_t> HexData(std::string_view text, std::string_view what) {
  if (text.size() % 2 != 0) Fail(std::string(what) + ": an odd number of hex digits");
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) bytes.push_back(Byte(text.substr(i, 2), what));
  return bytes;
}

bool YesNo(std::string_view text, std::string_view what) {
  if (text != "yes" && text != "no") Fail(std::string(what) + ": expected yes or no");
  return text == "yes";
}

DataDirection Direction(std::string_view text) {
  if (text == "in") return DataDirection::in;
  if (text == "out") return DataDirection::out;
  if (text != "none") Fail("dir: expected none, in or out");
  return DataDirection::none;
}

// "key value..." pairs after the line's first two words; `arity` says how
// many values a key takes.
class Fields {
 public:
  Fields(const std::vector<std::string_view>& words, std::size_t from,
         const std::map<std::string_view, std::size_t>& arity) {
    for (std::size_t i = from; i < words.size();) {
      const auto known = arity.find(words[i]);
      if (known == arity.end()) Fail("unknown field \"" + std::string(words[i]) + "\"");
      if (values_.contains(words[i])) Fail("field " + std::string(words[i]) + " given twice");
      if (i + known->second >= words.size()) {
        Fail("field " + std::string(words[i]) + " needs " + std::to_string(known->second) +
             " values");
      }
      values_[words[i]] = {words.begin() + static_cast<std::ptrdiff_t>(i + 1),
                           words.begin() + static_cast<std::ptrdiff_t>(i + 1 + known->second)};
      i += 1 + known->second;
    }
  }
  bool Has(std::string_view key) const { return values_.contains(key); }
  const std::vector<std::string_view>& Need(std::string_view key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) Fail("field " + std::string(key) + " is missing");
    return it->second;
  }
  std::string_view One(std::string_view key) const { return Need(key)[0]; }

 private:
  std::map<std::string_view, std::vector<std::string_view>> values_;
};

void ReadRegisters(const std::vector<std::string_view>& v, AtaTaskFile& r) {
  std::uint8_t* fields[] = {&r.features, &r.count, &r.lbaLow, &r.lbaMid,
                            &r.lbaHigh,  &r.device, &r.command};
  for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = Byte(v[i], "regs");
}

std::uint32_t Length(const Fields& f) {
  return static_cast<std::uint32_t>(Number(f.One("length"), 10, kTransferBufferSize, "length"));
}

RecordedKind Kind(std::string_view word) {
  if (word == "ata") return RecordedKind::ata;
  if (word == "scsi") return RecordedKind::scsi;
  if (word == "nvme") return RecordedKind::nvme;
  if (word != "pio") Fail("expected ata, scsi, pio or nvme after the arrow");
  return RecordedKind::pio;
}

RecordedCommand OutLine(const std::vector<std::string_view>& words) {
  RecordedCommand c;
  if (words.size() < 2) Fail("a command needs its transport");
  c.kind = Kind(words[1]);
  const Fields f(words, 2,
                 {{"regs", 7}, {"prev", 5}, {"cdb", 1}, {"dir", 1}, {"length", 1}, {"limit", 1},
                  {"back", 1}, {"lba48", 1}, {"hash", 1}, {"opcode", 1}, {"nsid", 1},
                  {"cdw", 6}});
  if (c.kind == RecordedKind::nvme) {
    c.opcode = Byte(f.One("opcode"), "opcode");
    c.nsid = static_cast<std::uint32_t>(Number(f.One("nsid"), 16, 0xFFFFFFFF, "nsid"));
    const auto& d = f.Need("cdw");
    for (std::size_t i = 0; i < c.cdw.size(); ++i) {
      c.cdw[i] = static_cast<std::uint32_t>(Number(d[i], 16, 0xFFFFFFFF, "cdw"));
    }
  } else if (c.kind == RecordedKind::scsi) {
    c.cdb = HexData(f.One("cdb"), "cdb");
    if (c.cdb.empty() || c.cdb.size() > 16) Fail("cdb: 1 to 16 bytes");
  } else {
    ReadRegisters(f.Need("regs"), c.regs);
    if (f.Has("prev")) {
      const auto& p = f.Need("prev");
      std::uint8_t* prev[] = {&c.regs.featuresPrev, &c.regs.countPrev, &c.regs.lbaLowPrev,
                              &c.regs.lbaMidPrev, &c.regs.lbaHighPrev};
      for (std::size_t i = 0; i < std::size(prev); ++i) *prev[i] = Byte(p[i], "prev");
    }
  }
  c.direction = Direction(f.One("dir"));
  c.length = Length(f);
  if (c.kind != RecordedKind::pio) {
    c.timeLimit = static_cast<std::uint32_t>(Number(f.One("limit"), 10, 0xFFFFFFFF, "limit"));
  }
  if (f.Has("back")) c.registersBack = YesNo(f.One("back"), "back");
  if (f.Has("lba48")) c.lba48 = YesNo(f.One("lba48"), "lba48");
  if (f.Has("hash")) c.dataHash = Number(f.One("hash"), 16, UINT64_MAX, "hash");
  if ((c.direction == DataDirection::out) != c.dataHash.has_value()) {
    Fail("data sent, and only data sent, comes with its hash");
  }
  return c;
}

void SystemAnswer(const Fields& f, RecordedCommand& c) {
  c.delivered = f.One("system") == "-";
  if (!c.delivered) {
    c.systemError = static_cast<std::uint32_t>(Number(f.One("system"), 10, 0xFFFFFFFF, "system"));
  }
}

void BackLine(const std::vector<std::string_view>& words, RecordedCommand& c) {
  if (words.size() < 2 || Kind(words[1]) != c.kind) Fail("the answer is not of its command's kind");
  const Fields f(words, 2,
                 {{"system", 1}, {"regs", 7}, {"returned", 1}, {"status", 1}, {"error", 1},
                  {"sense", 1}, {"count", 1}, {"moved", 1}, {"result", 1}});
  c.moved = static_cast<std::uint32_t>(Number(f.One("moved"), 10, c.length, "moved"));
  switch (c.kind) {
    case RecordedKind::ata:
      SystemAnswer(f, c);
      ReadRegisters(f.Need("regs"), c.returned);
      c.registersReturned = YesNo(f.One("returned"), "returned");
      break;
    case RecordedKind::scsi:
      SystemAnswer(f, c);
      c.scsiStatus = Byte(f.One("status"), "status");
      if (f.One("sense") != "-") c.sense = HexData(f.One("sense"), "sense");
      if (c.sense.size() > 252) Fail("sense: at most 252 bytes");
      break;
    case RecordedKind::nvme:
      SystemAnswer(f, c);
      c.nvmeStatus = static_cast<std::uint16_t>(Number(f.One("status"), 16, 0x7FFF, "status"));
      c.nvmeResult = static_cast<std::uint32_t>(Number(f.One("result"), 16, 0xFFFFFFFF, "result"));
      break;
    case RecordedKind::pio:
      c.returned.command = Byte(f.One("status"), "status");
      c.returned.features = Byte(f.One("error"), "error");
      if (f.Has("count")) c.count = Byte(f.One("count"), "count");
      break;
  }
}

}  // namespace

std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const std::uint8_t b : bytes) {
    hash ^= b;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

bool IsRecording(std::string_view text) {
  const std::string_view first = text.substr(0, text.find('\n'));
  return first == kRecordingFirstLine ||
         (first.size() == kRecordingFirstLine.size() + 1 && first.back() == '\r' &&
          first.starts_with(kRecordingFirstLine));
}

RecordingRead ReadRecording(std::string_view text) {
  RecordingRead read;
  if (!IsRecording(text)) {
    read.error = "line 1: not a recording (it must start with \"" +
                 std::string(kRecordingFirstLine) + "\")";
    return read;
  }
  Recording r;
  bool haveTarget = false;
  bool answered = true;  // the last command has its answer
  int number = 0;
  try {
    std::size_t pos = 0;
    while (pos <= text.size()) {
      const std::size_t end = std::min(text.find('\n', pos), text.size());
      std::string_view line = text.substr(pos, end - pos);
      pos = end + 1;
      ++number;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const std::vector<std::string_view> words = Words(line);
      if (words.empty() || words[0].starts_with('#')) continue;
      const std::string_view head = words[0];
      if (head == "target") {
        if (haveTarget) Fail("a second target");
        if (words.size() < 2) Fail("target needs drive or channel");
        if (words[1] == "drive") {
          const Fields f(words, 2, {{"bus", 1}, {"max-transfer", 1}});
          r.target.busType = static_cast<std::uint8_t>(Number(f.One("bus"), 10, 255, "bus"));
          if (f.Has("max-transfer")) {
            r.target.maxTransfer = static_cast<std::uint32_t>(
                Number(f.One("max-transfer"), 10, 0xFFFFFFFF, "max-transfer"));
          }
        } else if (words[1] == "channel") {
          if (words.size() < 3) Fail("target channel needs its base port");
          const Fields c(words, 3, {{"device", 1}});
          r.target.channel = true;
          r.target.basePort =
              static_cast<std::uint16_t>(Number(words[2], 16, 0xFFF8, "base port"));
          r.target.device1 = Number(c.One("device"), 10, 1, "device") == 1;
        } else {
          Fail("target needs drive or channel");
        }
        haveTarget = true;
      } else if (head == "form") {
        // Said for a person: each command block carries its form.
      } else if (head == ">") {
        if (!haveTarget) Fail("a command before the target");
        if (!answered) Fail("a command before the previous one's answer");
        r.commands.push_back(OutLine(words));
        answered = false;
      } else if (head == "<") {
        if (r.commands.empty() || answered) Fail("an answer without its command");
        BackLine(words, r.commands.back());
        answered = true;
      } else if (head == "=") {
        if (r.commands.empty() || !answered || words.size() != 2) Fail("data without its answer");
        RecordedCommand& c = r.commands.back();
        const std::vector<std::uint8_t> more = HexData(words[1], "data");
        if (c.data.size() + more.size() > c.moved) Fail("more data than the answer moved");
        c.data.insert(c.data.end(), more.begin(), more.end());
      } else {
        Fail("unknown line \"" + std::string(head) + "\"");
      }
    }
    if (!haveTarget) Fail("no target");
    if (!answered) Fail("the last command has no answer");
  } catch (const Failure& f) {
    read.error = "line " + std::to_string(number) + ": " + f.reason;
    return read;
  }
  read.recording = std::move(r);
  return read;
}

std::string RecordingTargetLines(const RecordedTarget& t) {
  std::string text(kRecordingFirstLine);
  if (t.channel) {
    char line[48];
    std::snprintf(line, sizeof line, "\ntarget channel %04X device %d\n",
                  static_cast<unsigned>(t.basePort), t.device1 ? 1 : 0);
    return text.append(line);
  }
  text.append("\ntarget drive bus ").append(std::to_string(t.busType));
  return text.append(" max-transfer ").append(std::to_string(t.maxTransfer)).append("\n");
}

std::string RecordedOutLine(const RecordedCommand& c) {
  std::string line = "> ";
  line.append(KindName(c.kind));
  if (c.kind == RecordedKind::nvme) {
    line.append(" opcode ").append(Hex2(c.opcode));
    line.append(" nsid ").append(Hex8(c.nsid));
    line.append(" cdw ").append(RecordedDwords(c.cdw));
  } else if (c.kind == RecordedKind::scsi) {
    line.append(" cdb ").append(HexBytes(c.cdb));
  } else {
    line.append(" regs").append(Registers(c.regs));
    const AtaTaskFile& r = c.regs;
    if (r.featuresPrev | r.countPrev | r.lbaLowPrev | r.lbaMidPrev | r.lbaHighPrev) {
      line.append(" prev").append(Previous(r));
    }
  }
  line.append(" dir ").append(DirectionName(c.direction));
  line.append(" length ").append(std::to_string(c.length));
  if (c.kind != RecordedKind::pio) line.append(" limit ").append(std::to_string(c.timeLimit));
  if (c.kind == RecordedKind::ata) line.append(c.registersBack ? " back yes" : " back no");
  if (c.kind == RecordedKind::pio) line.append(c.lba48 ? " lba48 yes" : " lba48 no");
  if (c.dataHash) {
    char hash[24];
    std::snprintf(hash, sizeof hash, " hash %016llX", static_cast<unsigned long long>(*c.dataHash));
    line.append(hash);
  }
  return line.append("\n");
}

std::string RecordedBackLines(const RecordedCommand& c) {
  std::string text = "< ";
  text.append(KindName(c.kind));
  switch (c.kind) {
    case RecordedKind::ata:
      text.append(" system ").append(SystemText(c));
      text.append(" regs").append(Registers(c.returned));
      text.append(c.registersReturned ? " returned yes" : " returned no");
      break;
    case RecordedKind::scsi:
      text.append(" system ").append(SystemText(c));
      text.append(" status ").append(Hex2(c.scsiStatus));
      text.append(" sense ").append(c.sense.empty() ? std::string("-") : HexBytes(c.sense));
      break;
    case RecordedKind::nvme: {
      text.append(" system ").append(SystemText(c));
      char status[8];
      std::snprintf(status, sizeof status, "%04X", static_cast<unsigned>(c.nvmeStatus));
      text.append(" status ").append(status);
      text.append(" result ").append(Hex8(c.nvmeResult));
      break;
    }
    case RecordedKind::pio:
      text.append(" status ").append(Hex2(c.returned.command));
      text.append(" error ").append(Hex2(c.returned.features));
      if (c.count) text.append(" count ").append(Hex2(*c.count));
      break;
  }
  text.append(" moved ").append(std::to_string(c.moved)).append("\n");
  const std::span<const std::uint8_t> data(c.data);
  for (std::size_t at = 0; at < data.size(); at += kDataBytesPerLine) {
    const auto part = data.subspan(at, std::min(kDataBytesPerLine, data.size() - at));
    text.append("= ").append(HexBytes(part)).append("\n");
  }
  return text;
}

const char* RecordedKindName(RecordedKind kind) { return KindName(kind); }

std::string RecordedDwords(const std::array<std::uint32_t, 6>& cdw) {
  std::string text;
  for (const std::uint32_t d : cdw) text.append(text.empty() ? "" : " ").append(Hex8(d));
  return text;
}

const char* RecordedDirectionName(DataDirection direction) { return DirectionName(direction); }

std::string RecordedHex(std::span<const std::uint8_t> bytes) { return HexBytes(bytes); }

std::string RecordedRegisters(const AtaTaskFile& regs) { return Registers(regs).substr(1); }

std::string RecordedPreviousRegisters(const AtaTaskFile& regs) { return Previous(regs).substr(1); }


}  // namespace brisquel
