#pragma once
// Hand-written HTTP/1.1 GET requests and the reading of the camera's answers:
// the fixed header block, request assembly, the response reader and the
// extractors for the JavaScript-style assignments of a response body.
//
// Bounds: nothing here writes past a buffer. A header line longer than the line
// buffer is cut (its rest reads as the next line); header lines beyond the
// header store are read but not stored; a Content-length of kBodySize or more
// is refused; extracted text is cut at its destination. Nothing here waits
// without a bound either: a response has kMaxHeaderLines lines and its
// deadline, whatever the camera sends.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/socket.h"

namespace tavolen {

inline constexpr size_t kHeaderBlockSize = 1024;
inline constexpr size_t kRequestLineSize = 512;
inline constexpr size_t kStreamRequestSize = 1024;  // live, audio, parameter commands
inline constexpr size_t kRecordRequestSize = 512;   // record-file search and playback
inline constexpr size_t kLineSize = 1024;
inline constexpr size_t kHeaderStoreSize = 128000;
inline constexpr size_t kBodySize = 128000;
inline constexpr int kResponseBodyAttempts = 20;
inline constexpr int kSelectWaitMs = 1010;      // 1 s and 10000 us
inline constexpr int kLineTimeLimitMs = 5000;
// How long a whole response (status line, header lines and body) may take.
// A camera answers a settings or listing request within a second, a slow one
// behind a poor link within a few; ten seconds is about as long as a user
// waits for settings before taking the camera for gone, and it also bounds
// how long a second record-file search waits for the first.
inline constexpr uint32_t kResponseDeadlineMs = 10000;
// Cameras send about ten header lines; 256 lines of the longest length
// (kLineSize - 1) already come to twice what the header store holds. The
// count keeps a camera that sends lines fast and without end from holding
// the exchange, and a core, until the deadline.
inline constexpr int32_t kMaxHeaderLines = 256;
// Header bytes are received this many at a time; bytes past the head's
// blank line are the body's first.
inline constexpr size_t kHeadBlockSize = 4096;

// readResponse's failures besides -1 (a wait or receive error, a body that
// came short or cannot fit) and 0 (the peer closed, or the body's receives
// ran out).
inline constexpr int32_t kResponseTooSlow = -2;       // a header line past 5 s, or the deadline passed
inline constexpr int32_t kResponseTooManyLines = -3;  // more than kMaxHeaderLines header lines
inline constexpr size_t kResultValueSize = 100;
inline constexpr size_t kNumberTextSize = 256;

// Fills the block from the record's host text and port (not the resolved address).
void buildHeaderBlock(char (&block)[kHeaderBlockSize], const char* host, int32_t port);

enum class RequestError { None, Unsafe, TooLong };

// Formats the request line from its template and values, then appends the
// header block into out (outSize bytes, NUL included). Values go in as they
// stand, but a line whose values would add a space, CR, LF or any other
// control character is refused: it would split the request line or smuggle
// headers. A line or request that does not fit its buffer is refused too.
// On success requestLength is the byte count to send.
RequestError buildRequest(char* out, size_t outSize, size_t& requestLength,
                          const char* headerBlock, const char* lineTemplate, ...)
    __attribute__((format(printf, 5, 6)));

// A value goes into the query string as it is, without escaping; one holding
// a space, a control character or DEL could end the request line or split the
// query and must not be sent at all.
bool isSafeRequestValue(std::string_view value);
// True when the formatted line is exactly "GET <target> HTTP/1.1\r\n" with a
// target that passes isSafeRequestValue.
bool isSafeRequestLine(const char* line);

// Reads one response by the rules of ResponseReader, waiting at most
// kSelectWaitMs at a time. Header bytes plus body length on success; -1 on a
// wait or receive error, or when the body came short or its announced length
// does not fit the body buffer; 0 when the peer closed before the body was
// whole or the body needed more than kResponseBodyAttempts - 1 receives;
// kResponseTooSlow when a header line took more than 5 s or the response more
// than deadlineMs (the body is then left empty); kResponseTooManyLines. The
// body buffer must be zeroed by the caller before the request, so its text is
// always terminated.
int32_t readResponse(char* headerStore, platform::SocketHandle s, char* body,
                     uint32_t deadlineMs = kResponseDeadlineMs);
// A response that ran into one of the limits above is a failed exchange: the
// caller ends the connection and reports its failure as for an empty answer.
inline bool responseHitALimit(int32_t result) {
  return result == kResponseTooSlow || result == kResponseTooManyLines;
}

// Finds the first occurrence of key (which includes its "=") anywhere in text.
// extractText copies the double-quoted value after it, cut to destSize - 1
// bytes; an empty or unquoted value leaves the destination unchanged.
int extractText(char* destination, size_t destSize, const char* key, const char* text);
// Stores the decimal value of the text between key and ";" (0 when empty;
// values outside int32 saturate).
int extractNumber(int32_t& destination, const char* key, const char* text);
// 0 when the quoted value of "result=" contains "ok", else -1.
int extractResult(const char* text);

}  // namespace tavolen
