#include "control/profile_file.h"

#include <vector>

#include "control/utf_text.h"
#include "platform/whole_file.h"

namespace tavolen {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

struct Line {
  enum class Kind { Blank, Section, Key };
  size_t begin = 0;  // first byte of the line
  size_t end = 0;    // end of its content, before "\r\n" or "\n"
  size_t next = 0;   // first byte of the following line
  Kind kind = Kind::Blank;
  std::string_view name;   // section or key name
  std::string_view value;  // key lines: the raw trimmed value
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t at = 0;
  // A UTF-8 byte order mark belongs to no line's content.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") at = 3;
  while (at < text.size()) {
    Line line;
    line.begin = at;
    const size_t nl = text.find('\n', at);
    line.next = nl == std::string_view::npos ? text.size() : nl + 1;
    line.end = nl == std::string_view::npos ? text.size() : nl;
    if (line.end > at && text[line.end - 1] == '\r') --line.end;
    const std::string_view content = trim(text.substr(at, line.end - at));
    if (content.empty()) {
      line.kind = Line::Kind::Blank;
    } else if (content.front() == '[' && content.find(']') != std::string_view::npos) {
      line.kind = Line::Kind::Section;
      line.name = trim(content.substr(1, content.rfind(']') - 1));
    } else {
      line.kind = Line::Kind::Key;
      const size_t eq = content.find('=');
      line.name = trim(content.substr(0, eq));
      if (eq != std::string_view::npos) line.value = trim(content.substr(eq + 1));
    }
    lines.push_back(line);
    at = line.next;
  }
  return lines;
}

// Index of the first section header of that name, or -1.
ptrdiff_t findSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].kind == Line::Kind::Section && sameNameIgnoringCase(lines[i].name, section))
      return static_cast<ptrdiff_t>(i);
  return -1;
}

std::string_view lineBreak(std::string_view text) {
  const size_t nl = text.find('\n');
  return nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  const std::vector<Line> lines = splitLines(text);
  const ptrdiff_t s = findSection(lines, section);
  if (s < 0) return std::nullopt;
  for (size_t i = static_cast<size_t>(s) + 1; i < lines.size(); ++i) {
    if (lines[i].kind == Line::Kind::Section) break;
    if (lines[i].kind != Line::Kind::Key || !sameNameIgnoringCase(lines[i].name, key)) continue;
    std::string_view v = lines[i].value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return std::string(v);
  }
  return std::nullopt;
}

std::string setProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
  const std::vector<Line> lines = splitLines(text);
  const std::string_view br = lineBreak(text);
  const ptrdiff_t s = findSection(lines, section);
  std::string out;
  if (s < 0) {
    out.assign(text);
    if (!out.empty() && out.back() != '\n') out += br;
    if (!out.empty()) out += br;
    out.append("[").append(section).append("]").append(br);
    out.append(key).append("=").append(value).append(br);
    return out;
  }
  // Within the section: replace the key's line, or add one after the
  // section's last non-blank line.
  size_t insertAt = lines[static_cast<size_t>(s)].next;
  for (size_t i = static_cast<size_t>(s) + 1; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Kind::Section) break;
    if (line.kind == Line::Kind::Key && sameNameIgnoringCase(line.name, key)) {
      out.assign(text.substr(0, line.begin));
      out.append(line.name).append("=").append(value);
      out.append(text.substr(line.end));
      return out;
    }
    if (line.kind != Line::Kind::Blank) insertAt = line.next;
  }
  out.assign(text.substr(0, insertAt));
  if (!out.empty() && out.back() != '\n') out += br;
  out.append(key).append("=").append(value).append(br);
  out.append(text.substr(insertAt));
  return out;
}

int32_t parseProfileInt(std::string_view value) {
  size_t at = 0;
  while (at < value.size() && static_cast<unsigned char>(value[at]) <= ' ') ++at;
  bool negative = false;
  if (at < value.size() && (value[at] == '+' || value[at] == '-')) negative = value[at++] == '-';
  int base = 10;
  if (at + 1 < value.size() && value[at] == '0') {
    const char p = value[at + 1];
    if (p == 'x') base = 16;
    else if (p == 'o') base = 8;
    else if (p == 'b') base = 2;
    if (base != 10) at += 2;
  }
  uint32_t total = 0;
  for (; at < value.size(); ++at) {
    const int d = digitValue(value[at]);
    if (d >= base) break;
    total = total * static_cast<uint32_t>(base) + static_cast<uint32_t>(d);
  }
  return static_cast<int32_t>(negative ? 0u - total : total);
}

std::optional<std::string> ProfileFile::lookup(std::string_view section, std::string_view key) const {
  std::string text;
  const platform::ReadResult r = platform::readWholeFile(path_, kMaxBytes, text);
  // An oversized file is read as far as the bound: keys near its top count.
  if (r != platform::ReadResult::Ok && r != platform::ReadResult::TooLarge) return std::nullopt;
  return findProfileValue(text, section, key);
}

std::string ProfileFile::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, size_t maxBytes) const {
  const std::optional<std::string> v = lookup(section, key);
  return std::string(cutUtf8(v ? std::string_view(*v) : defaultValue, maxBytes));
}

int32_t ProfileFile::readInt(std::string_view section, std::string_view key,
                             int32_t defaultValue) const {
  const std::optional<std::string> v = lookup(section, key);
  if (!v || v->empty()) return defaultValue;
  return parseProfileInt(*v);
}

bool ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) const {
  if (value.find_first_of("\r\n") != std::string_view::npos) return false;
  return platform::updateWholeFile(path_, kMaxBytes, [&](const std::string& current) {
    std::string next = setProfileValue(current, section, key, value);
    if (next == current) return std::optional<std::string>();
    return std::optional<std::string>(std::move(next));
  });
}

bool ProfileFile::writeInt(std::string_view section, std::string_view key, int32_t value) const {
  return writeString(section, key, std::to_string(value));
}

}  // namespace tavolen
