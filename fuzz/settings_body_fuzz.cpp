// Settings and record-list answers: any body bytes through every parser.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "link/record_list.h"
#include "link/settings_parsers.h"

namespace {
constexpr size_t kBodyMax = 128000;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t n = size < kBodyMax ? size : kBodyMax;
  std::vector<char> body(n + 1, '\0');
  if (n > 0) std::memcpy(body.data(), data, n);
  auto record = std::make_unique<uint8_t[]>(tavolen::kLargestReadRecord);
  for (int32_t code : {0x2001, 0x2003, 0x2005, 0x2007, 0x2009, 0x2011, 0x2013}) {
    const tavolen::ReadCommandAnswer* answer = tavolen::readCommandAnswer(code);
    std::memset(record.get(), 0, tavolen::kLargestReadRecord);
    answer->parse(body.data(), record.get());
  }
  for (const auto& file : tavolen::parseRecordList(body.data()))
    if (file.name.size() > tavolen::kRecordNameMax) __builtin_trap();
  return 0;
}
