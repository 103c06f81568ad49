#pragma once
// ResponseReader: the rules by which a camera's answer to a request is read,
// apart from the socket that carries it. The head is cut into lines: a line
// ends after its "\n", or after kLineSize - 1 bytes without one (the rest is
// read as the next line), or where the camera falls silent or closes. Lines
// are stored one after the other while the header store has room; a line
// holding "Content-length:" sizes the body; the line "\r\n" ends the head.
// Bytes that follow it in the same block are the body's first bytes.
//
// The reader is fed whatever blocks the socket delivers, so the same bytes
// give the same result however they are split. It holds no clock of its own:
// each call says when it happens.
//
// Used by one thread at a time. The header store (kHeaderStoreSize bytes)
// and the body (kBodySize bytes, zeroed by the caller) are the caller's.

#include <cstddef>
#include <cstdint>

#include "link/http_exchange.h"

namespace tavolen {

class ResponseReader {
 public:
  enum class Phase { Head, Body, Done, Failed };

  ResponseReader(char* headerStore, char* body, uint32_t nowMs);
  ResponseReader(const ResponseReader&) = delete;
  ResponseReader& operator=(const ResponseReader&) = delete;

  // The bytes of one receive, arriving at nowMs.
  void take(const char* data, size_t length, uint32_t nowMs);
  // Body bytes the caller received straight into bodySpace().
  void tookBody(size_t length);
  // A wait passed without data. A partial line ends here; with none, the
  // head ends. In the body, the exchange fails (0 when nothing of the body
  // came, else -1).
  void silence(uint32_t nowMs);
  // The peer closed: a partial line ends and then the head; in the body the
  // exchange fails with 0.
  void closed(uint32_t nowMs);
  // The response ran past its deadline: it fails with kResponseTooSlow and
  // whatever part of the body came is wiped.
  void expire();

  Phase phase() const { return phase_; }
  // Once Done, the header bytes plus the body length; once Failed, the code.
  int32_t result() const { return result_; }
  // In the body: where its next bytes go, and how many are still wanted.
  char* bodySpace() const { return body_ + bodyHave_; }
  size_t bodyMissing() const { return bodyWanted_ - bodyHave_; }
  size_t bodyReceived() const { return bodyHave_; }

 private:
  void endLine(size_t length, uint32_t nowMs);
  void endHead();
  void fail(int32_t code);

  char* const headerStore_;
  char* const body_;
  Phase phase_ = Phase::Head;
  int32_t result_ = 0;

  char line_[kLineSize] = {};
  size_t lineLength_ = 0;
  uint32_t lineStart_;
  int32_t lines_ = 0;
  size_t stored_ = 0;
  int32_t headerBytes_ = 0;
  long long contentLength_ = 0;

  size_t bodyWanted_ = 0;
  size_t bodyHave_ = 0;
};

}  // namespace tavolen
