#pragma once
// An INI file read and written with the rules of the classic profile
// functions:
// - "[name]" opens a section; "key=value" lines belong to the section above
//   them. Section and key names compare without regard to ASCII case; only the
//   first section of a name counts, and within it the first key of a name.
// - Names and values lose surrounding white space; a value wrapped in matching
//   single or double quotes loses them when read.
// - Integers read as the profile functions read them: leading white space, an
//   optional sign, "0x"/"0o"/"0b" prefixes, then digits up to the first other
//   character ("102abc" reads 102, "abc" reads 0), wrapping at 32 bits; an
//   absent key or an empty value gives the default.
// - A write replaces the key's line, or adds it at the end of its section, or
//   adds the section at the end of the file; every other line stays as it was.
//
// The file is at most kMaxBytes long; a larger one is read only up to that
// bound and never rewritten (that would lose its tail). Any thread may use a
// ProfileFile; writes to one folder are serialised (platform/whole_file.h).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavolen {

// --- the rules, on a file's text ---
std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);
std::string setProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);
int32_t parseProfileInt(std::string_view value);

class ProfileFile {
 public:
  static constexpr size_t kMaxBytes = 1 << 20;

  explicit ProfileFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  // The value, or defaultValue when the key (or the file) is absent; cut to
  // maxBytes at a character boundary.
  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue, size_t maxBytes) const;
  int32_t readInt(std::string_view section, std::string_view key, int32_t defaultValue) const;
  // False when the file could not be written, or the value holds a line
  // break (it would end the line early).
  bool writeString(std::string_view section, std::string_view key, std::string_view value) const;
  bool writeInt(std::string_view section, std::string_view key, int32_t value) const;

 private:
  std::optional<std::string> lookup(std::string_view section, std::string_view key) const;

  std::string path_;
};

}  // namespace tavolen
