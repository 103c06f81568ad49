#pragma once
// Hand-written HTTP/1.1 GET requests and the reading of the camera's answers:
// the fixed header block, request assembly, the byte-wise response reader and
// the extractors for the JavaScript-style assignments of a response body.
//
// Bounds: nothing here writes past a buffer. A header line longer than the line
// buffer is cut (its rest reads as the next line); header lines beyond the
// header store are read but not stored; a Content-length of kBodySize or more
// is refused; extracted text is cut at its destination.

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

// Length of the line including "\n"; the count so far (possibly 0) when a
// wait passes without data or the peer closes; -1 wait or receive error; -2
// when the line took more than 5 s. The line is always NUL-terminated.
int32_t readLine(platform::SocketHandle s, char (&line)[kLineSize]);

// Bytes received (length when complete); 0 when the peer closed or attempts
// ran out; -1 on error.
int32_t readExact(int32_t length, platform::SocketHandle s, char* destination, int attempts);

// Header bytes plus body length on success; a negative readLine/readExact code;
// 0 when readExact returned 0; -1 when the body came short or its announced
// length does not fit the body buffer. The body buffer must be zeroed by the
// caller before the request, so its text is always terminated.
int32_t readResponse(char* headerStore, platform::SocketHandle s, char* body);

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
