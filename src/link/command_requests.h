#pragma once
// The request line of every parameter command, formatted from the command's
// template with the link's credentials and the command's data record.
//
// Pure functions: no state, callable from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/http_exchange.h"
#include "tavolen/types.h"

namespace tavolen {

enum class CommandKind {
  PanTilt,  // decoder_control, no answer read
  Read,     // answer parsed into a settings record for the ParamCallback
  Write,    // answer's result reported to the ResultCallback
  Reboot,   // answer read and discarded
  Dropped,  // not a command: taken from the queue without a request
};

CommandKind commandKind(int32_t code);
// Write commands whose success is followed by a queued reboot.
bool rebootsAfterSuccess(int32_t code);

enum class RequestLineResult {
  Ok,
  NoRequest,    // the code sends nothing
  TooLong,      // the formatted line would not fit kRequestLineSize with its NUL (never cut)
  UnsafeValue,  // a value holds a control character or a space
};

// The text of a fixed-width field: up to its NUL or its last byte.
std::string fieldText(const char* field, size_t width);

// Formats the request line (ending in CR LF) for code. data is the command's
// 1024-byte data area (zero past what the caller queued); the records are read
// from it at their own offsets. user and password are the link's.
RequestLineResult formatCommandRequestLine(int32_t code, std::string_view user, std::string_view password,
                                           const uint8_t* data, std::string& line);

}  // namespace tavolen
