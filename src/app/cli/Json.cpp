#include "app/cli/Json.h"

namespace brisquel::cli {

namespace {

void AppendEscape(std::string& out, std::uint32_t codePoint) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\u00";
  out += kHex[(codePoint >> 4) & 0xF];
  out += kHex[codePoint & 0xF];
}

// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length;
  std::uint32_t min;
  std::uint32_t code;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < min || code > 0x10FFFF || surrogate) return 0;
  return length;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\n') {
      out += "\\n", ++i;
    } else if (c == '\r') {
      out += "\\r", ++i;
    } else if (c == '\t') {
      out += "\\t", ++i;
    } else if (c < 0x20 || c == 0x7F) {
      AppendEscape(out, c), ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c), ++i;
    } else if (std::size_t n = Utf8SequenceLength(text, i); n != 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      AppendEscape(out, c), ++i;
    }
  }
  out += '"';
  return out;
}

void JsonWriter::Indent() {
  out_ += '\n';
  out_.append(counts_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!counts_.empty()) {
    if (counts_.back()++ > 0) out_ += ',';
    Indent();
  }
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_ += bracket;
  counts_.push_back(0);
}

void JsonWriter::Close(char bracket) {
  const bool empty = counts_.back() == 0;
  counts_.pop_back();
  if (!empty) Indent();
  out_ += bracket;
  if (counts_.empty()) out_ += '\n';
}

JsonWriter& JsonWriter::BeginObject() {
  Open('{');
  return *this;
}
JsonWriter& JsonWriter::EndObject() {
  Close('}');
  return *this;
}
JsonWriter& JsonWriter::BeginArray() {
  Open('[');
  return *this;
}
JsonWriter& JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_ += JsonQuote(key);
  out_ += ": ";
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_ += JsonQuote(text);
  return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

}  // namespace brisquel::cli
