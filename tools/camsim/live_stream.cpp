// livestream.cgi: refusals, the live video run, in-band status frames, the
// scripted faults, and the talk packets the viewer sends back.
#include <sys/socket.h>

#include <cstring>
#include <thread>

#include "connection.h"
#include "router.h"
#include "video_source.h"
#include "media/adpcm_codec.h"

namespace camsim {

namespace {

// Talk packets carry one ADPCM block each; anything larger is not talk.
constexpr uint32_t kMaxTalkPayload = 65536;

bool readExactly(Connection& c, uint8_t* out, size_t length) {
  while (length > 0) {
    const ssize_t n = ::recv(c.fd(), out, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

// Runs on its own thread for the life of a live connection.
void readTalk(Connection& c) {
  uint8_t header[32];
  std::vector<uint8_t> payload;
  while (readExactly(c, header, sizeof header)) {
    uint32_t tick, sequence, length;
    std::memcpy(&tick, header + 8, 4);
    std::memcpy(&sequence, header + 12, 4);
    std::memcpy(&length, header + 16, 4);
    if (header[4] != 8 || length > kMaxTalkPayload) {
      c.server.logLine("connection %d: not a talk packet (type %u, length %u), input ignored",
                       c.id, header[4], length);
      // Keep draining so that the peer's sends never block; just stop decoding.
      uint8_t sink[4096];
      while (::recv(c.fd(), sink, sizeof sink, 0) > 0) {
      }
      break;
    }
    payload.resize(length);
    if (length > 0 && !readExactly(c, payload.data(), length)) break;
    TalkPacket packet;
    packet.sequence = sequence;
    packet.tick = tick;
    packet.payload = payload;
    packet.pcm.resize(static_cast<size_t>(length) * 2);
    tavolen::AdpcmState state;
    tavolen::adpcmDecode(state, payload.data(), static_cast<int>(length), packet.pcm.data());
    c.server.logLine("connection %d: talk seq=%u bytes=%u", c.id, sequence, length);
    c.server.addTalk(std::move(packet));
  }
  c.markPeerGone();
}

void refuse(Connection& c, uint8_t type, const char* why) {
  c.server.logLine("connection %d refused with %u (%s)", c.id, type, why);
  c.sendFrame(type, nullptr, 0, 0);
  c.finish();
}

// Sends queued status frames; false when the connection is gone.
bool sendStatuses(Connection& c) {
  uint8_t type;
  while (c.takeStatus(type)) {
    c.server.logLine("connection %d: status frame %u", c.id, type);
    if (!c.sendFrame(type, nullptr, 0, 0)) return false;
  }
  return true;
}

void streamLive(Connection& c) {
  Server& server = c.server;
  const Request& r = c.request;
  if (!accountMatches(server, r)) return refuse(c, 200, "wrong account");
  const int streamId = static_cast<int>(r.number("streamid", -1));
  const Profile* profile = server.profile(streamId);
  if (profile == nullptr) return refuse(c, 202, "unknown stream id");
  if (server.videoLoss()) return refuse(c, 203, "video loss");
  if (c.fault.kind == FaultKind::HttpError) {
    server.logLine("connection %d: http error page (fault)", c.id);
    c.sendHttp(503, "Service Unavailable", "text/html",
               "<html><body>503 Service Unavailable</body></html>");
    c.finish();
    return;
  }
  if (!server.addLive(&c)) return refuse(c, 201, "too many clients");

  std::string error;
  std::unique_ptr<VideoSource> source;
  if (!server.config().videoFile.empty()) {
    source = makeFileSource(server.config().videoFile, error);
  } else {
    source = makePatternSource(*profile, error);
    if (source && profile->loopFrames > 0) {
      source = makeLoopSource(std::move(source), profile->loopFrames, error);
    }
  }
  if (!source) {
    server.logLine("connection %d: no video: %s", c.id, error.c_str());
    server.removeLive(&c);
    return refuse(c, 203, "no video source");
  }
  server.logLine("connection %d: live stream %d %dx%d@%d%s", c.id, profile->streamId,
                 profile->width, profile->height, profile->fps, profile->paced ? "" : " unpaced");

  std::thread talk([&c] { readTalk(c); });
  const Fault fault = c.fault;
  const bool limited = fault.kind != FaultKind::None;
  const auto period = std::chrono::microseconds(1000000 / std::max(1, profile->fps));
  auto due = Clock::now();
  uint32_t sequence = 0;
  AccessUnit unit;
  bool keepOpen = false;  // silent and stalled connections wait for the peer
  while (c.alive() && !server.stopping()) {
    if (limited && static_cast<int>(sequence) >= fault.frames) {
      server.logLine("connection %d: fault %s after %d frames", c.id, faultName(fault.kind),
                     fault.frames);
      if (fault.kind == FaultKind::BadMagic) {
        if (source->next(unit)) {
          c.sendFrame(unit.type, unit.data.data(), static_cast<uint32_t>(unit.data.size()),
                      sequence, 0x12345678u);
        }
        keepOpen = true;
      } else if (fault.kind == FaultKind::StallMidFrame) {
        if (source->next(unit)) {
          c.sendPartialFrame(unit.type, unit.data.data(), static_cast<uint32_t>(unit.data.size()),
                             static_cast<uint32_t>(unit.data.size() / 2));
        }
        keepOpen = true;
      } else if (fault.kind == FaultKind::Silent) {
        keepOpen = true;
      }
      break;
    }
    if (!sendStatuses(c)) break;
    if (!source->next(unit)) break;
    if (!c.sendFrame(unit.type, unit.data.data(), static_cast<uint32_t>(unit.data.size()),
                     sequence++)) {
      break;
    }
    // A fault due after this frame strikes at once, before any status frame
    // queued during the pause could slip out.
    if (limited && static_cast<int>(sequence) >= fault.frames) continue;
    if (profile->paced) {
      due += period;
      const auto now = Clock::now();
      if (due < now - std::chrono::seconds(1)) due = now;  // fell far behind: do not burst
      while (c.alive() && Clock::now() < due) {
        if (!c.waitUntil(due) || !sendStatuses(c)) break;
      }
    }
  }
  if (keepOpen) {
    // Status frames are not sent either: the connection is dead air.
    c.waitForEnd();
  }
  server.removeLive(&c);
  c.stop();
  talk.join();
}

}  // namespace

void registerLiveStream(Router& router, Server& server) {
  router.add(Route{"livestream.cgi", nullptr, streamLive, "live"});
}

}  // namespace camsim
