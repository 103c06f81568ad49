#include "link/record_list.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/command_requests.h"
#include "link/http_exchange.h"

namespace tavolen {

std::optional<int32_t> localSecondsFromFields(const SearchDateFields& f) {
  if (f.year < 1900 || f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour < 0 || f.hour > 23 ||
      f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59)
    return std::nullopt;
  std::tm t{};
  t.tm_year = f.year - 1900;
  t.tm_mon = f.month - 1;
  t.tm_mday = f.day;
  t.tm_hour = f.hour;
  t.tm_min = f.minute;
  t.tm_sec = f.second;
  t.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&t);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(seconds)));
}

std::vector<RecordFileEntry> parseRecordList(const char* body) {
  std::vector<RecordFileEntry> files;
  int32_t count = 0;
  if (!extractNumber(count, "var record_num0=", body) || count <= 0) return files;
  if (count > kRecordFilesMax) count = kRecordFilesMax;
  char key[40];
  for (int32_t i = 0; i < count; ++i) {
    char name[kRecordNameMax + 1] = {};
    std::snprintf(key, sizeof key, "record_name0[%d]=", i);
    extractText(name, sizeof name, key, body);
    int32_t size = 0;
    std::snprintf(key, sizeof key, "record_size0[%d]=", i);
    extractNumber(size, key, body);
    files.push_back({name, size});
  }
  return files;
}

void fillNamePrefix(const char* nameBuffer, char (&prefix)[kNamePrefixSize]) {
  std::memset(prefix, 0, sizeof prefix);
  std::memcpy(prefix, nameBuffer, kNamePrefixKept);
}

namespace {
bool finish(int n, size_t lineLimit, const char* buf, std::string& line) {
  if (n < 0 || static_cast<size_t>(n) >= lineLimit) return false;
  line.assign(buf, static_cast<size_t>(n));
  return true;
}
}  // namespace

bool formatRecordListRequestLine(std::string_view user, std::string_view password, int32_t start, int32_t end,
                                 size_t lineLimit, std::string& line) {
  const std::string u(user), p(password);
  if (!isSafeRequestValue(u) || !isSafeRequestValue(p)) return false;
  char buf[kRequestLineSize];
  if (lineLimit > sizeof buf) lineLimit = sizeof buf;
  const int n = std::snprintf(buf, sizeof buf,
                              "GET get_record_file.cgi?loginuse=%s&loginpas=%s&startdate=%d&enddate=%d HTTP/1.1\r\n",
                              u.c_str(), p.c_str(), start, end);
  return finish(n, lineLimit, buf, line);
}

bool formatPlaybackRequestLine(std::string_view user, std::string_view password, std::string_view fileName,
                               int32_t offset, size_t lineLimit, std::string& line) {
  const std::string u(user), p(password), f(fileName);
  if (!isSafeRequestValue(u) || !isSafeRequestValue(p) || !isSafeRequestValue(f)) return false;
  char buf[kRequestLineSize];
  if (lineLimit > sizeof buf) lineLimit = sizeof buf;
  const int n = std::snprintf(buf, sizeof buf,
                              "GET /livestream.cgi?user=%s&pwd=%s&streamid=4&filename=%s&offset=%d HTTP/1.1\r\n",
                              u.c_str(), p.c_str(), f.c_str(), offset);
  return finish(n, lineLimit, buf, line);
}

}  // namespace tavolen
