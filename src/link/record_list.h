#pragma once
// SD-card record files: the date fields of a search, the list answer and the
// two request lines. Pure functions; callable from any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavolen {

// The six fields of one end of a search range, as the caller passes them.
struct SearchDateFields {
  int32_t year;
  int32_t month;   // 1..12
  int32_t day;     // 1..31
  int32_t hour;    // 0..23
  int32_t minute;  // 0..59
  int32_t second;  // 0..59
};

// Seconds since 1970-01-01 UTC of the fields read as local time, the system
// deciding daylight saving, as the low 32 bits taken as signed. Empty when a
// field is out of range or the time cannot be represented.
std::optional<int32_t> localSecondsFromFields(const SearchDateFields& fields);

// A file of the list answer. Names longer than kRecordNameMax bytes are cut.
struct RecordFileEntry {
  std::string name;
  int32_t size;
};
inline constexpr size_t kRecordNameMax = 255;
// More files than a list answer body can describe are not reported.
inline constexpr int32_t kRecordFilesMax = 4096;

// The files of a list answer in index order; empty when "var record_num0="
// is missing. A file whose keys are missing is listed with an empty name and
// size 0.
std::vector<RecordFileEntry> parseRecordList(const char* body);

// The name-prefix buffer handed to the list callback beside the name: the
// first 8 bytes of the 256-byte name buffer, then zeros.
inline constexpr size_t kNamePrefixSize = 128;
inline constexpr size_t kNamePrefixKept = 8;
void fillNamePrefix(const char* nameBuffer, char (&prefix)[kNamePrefixSize]);

// Request lines (ending in CR LF). False when a value is unsafe for a query
// string (see isSafeRequestValue) or the line passes lineLimit with its NUL.
bool formatRecordListRequestLine(std::string_view user, std::string_view password, int32_t start, int32_t end,
                                 size_t lineLimit, std::string& line);
bool formatPlaybackRequestLine(std::string_view user, std::string_view password, std::string_view fileName,
                               int32_t offset, size_t lineLimit, std::string& line);

}  // namespace tavolen
