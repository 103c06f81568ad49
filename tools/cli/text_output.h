#pragma once
// Texts that come from a camera (names, file names, settings) are bytes the
// camera chose. On a terminal they must not act as control sequences, and in
// JSON they must stay valid UTF-8.

#include <string>
#include <string_view>

namespace tavolen::cli {

// The text with every control byte (below 0x20, and 0x7F) shown as '?'.
std::string printable(std::string_view text);

// A JSON string literal, quotes included: control characters escaped, and
// bytes that are not UTF-8 replaced by U+FFFD.
std::string jsonString(std::string_view text);

// Builds one JSON object or array, commas handled.
class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(long long number);
  const std::string& text() const { return out_; }

 private:
  void separate();
  std::string out_;
  bool needComma_ = false;
};

}  // namespace tavolen::cli
