#pragma once
// Settings answers of the camera: JavaScript assignments in an HTTP body,
// parsed into the records the ParamCallback delivers.
//
// Every key is found as its first occurrence anywhere in the body. A record
// is delivered only when every one of its keys was found; parsing stops at
// the first missing key (fields filled before it stay filled). A text longer
// than its field is cut to the field, keeping its NUL.
//
// Pure functions over a NUL-terminated body; callable from any thread.

#include <cstdint>

#include "tavolen/types.h"

namespace tavolen {

bool parseNetworkParams(const char* body, NetworkParams& out);
bool parseUserParams(const char* body, UserParams& out);
bool parseDdnsParams(const char* body, DdnsParams& out);
bool parseFtpParams(const char* body, FtpParams& out);
bool parseMailParams(const char* body, MailParams& out);
bool parseMiscParams(const char* body, MiscParams& out);
// Fails when "ap_number=" is missing or not positive; reads at most
// WIFI_SCAN_MAX_ENTRIES entries. A missing entry key leaves its field zero.
bool parseWifiScanList(const char* body, WifiScanList& out);

// How a read command's answer is delivered.
struct ReadCommandAnswer {
  int32_t deliveredCode;  // the code the ParamCallback sees
  int32_t recordSize;
  bool (*parse)(const char* body, void* record);
};
// Null for codes that are not read commands.
const ReadCommandAnswer* readCommandAnswer(int32_t code);

// Largest record a read command produces.
inline constexpr int32_t kLargestReadRecord = sizeof(WifiScanList);

}  // namespace tavolen
