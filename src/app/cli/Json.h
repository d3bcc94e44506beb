// A small JSON writer for --json: one document, built in order, indented.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brisquel::cli {

// The version of every --json document, its first key: a reader that knows
// this one can rely on its fields and types. Raised when a field changes its
// meaning or type or goes; new fields keep it.
inline constexpr int kJsonSchema = 2;

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // Inside an object, every value is preceded by its key.
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view text);
  JsonWriter& Int(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // The document so far, with a final line end once it is complete.
  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void Indent();

  std::string out_;
  std::vector<int> counts_;  // values written at each open level
  bool afterKey_ = false;
};

// A JSON string literal, quotes included. Text that is not valid UTF-8 (file
// names and drive strings can be anything) keeps each stray byte as the code
// point of the same value, so the document always parses.
std::string JsonQuote(std::string_view text);

}  // namespace brisquel::cli
