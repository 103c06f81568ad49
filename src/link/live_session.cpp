#include "link/live_session.h"

#include "media/media_frame.h"
#include "platform/thread.h"
#include "platform/tick.h"

namespace tavolen {

LiveSession::LiveSession(std::shared_ptr<LinkState> state, int32_t streamId,
                         FrameCallback callback, void* user)
    : state_(std::move(state)), streamId_(streamId), callback_(callback), user_(user) {
  video_.bindDelivery(&LiveSession::deliver, this);
  video_.setSendTimeLimit(state_->timing.sendTimeLimitMs);
}

LiveSession::~LiveSession() {
  streamStopped_ = 1;
  stopped_.signal();
  // The last owner may be the abandoned watchdog itself, ending now.
  if (watchdog_.joinable()) {
    if (watchdog_.get_id() == std::this_thread::get_id()) {
      watchdog_.detach();
    } else {
      watchdog_.join();
    }
  }
  video_.close();
}

void LiveSession::start() {
  streamStopped_ = 0;
  std::shared_ptr<LiveSession> self = shared_from_this();
  watchdog_ = platform::startThread([self] {
    self->watchdog();
    self->watchdogEnded_.signal();
  });
}

void LiveSession::stop() {
  if (video_.isOpen()) video_.close();
  if (streamStopped_.load() == 0) {
    streamActive_ = 0;
    if (video_.isOpen()) video_.close();
    streamStopped_ = 1;
    stopped_.signal();
    // A watchdog inside a connect gives up now, seeing the stream stopped,
    // rather than at the end of the connect wait.
    video_.shutdown();
    if (watchdog_.joinable()) {
      if (watchdogEnded_.wait(state_->timing.watchdogStopWaitMs)) {
        watchdog_.join();
      } else {
        // Still inside a connect or a send: it ends by itself once that
        // returns, and the closed gate keeps it quiet until then.
        watchdog_.detach();
      }
    }
  }
  gate_.close();
  // A connect that completed after the closes above left an open socket; the
  // detached watchdog closes it on its way out, the destructor otherwise.
  if (watchdogEnded_.wait(0)) video_.close();
}

void LiveSession::cancel() { video_.cancel(); }

void LiveSession::watchdog() {
  if (streamStopped_.load() != 0) return;
  while (state_->hostResolved.load() == 0) {
    platform::Event::waitAny({&stopped_, &state_->resolved}, platform::kWaitForever);
    if (streamStopped_.load() != 0) return;
  }
  // The first attempt is made at once, whatever the tick count reads.
  bool connectNow = true;
  while (streamStopped_.load() == 0) {
    if (watchdogSuspended_.load() != 0) {
      // Only the watchdog itself lifts a suspension (by reconnecting), so
      // nothing but a stop can end it.
      stopped_.wait(platform::kWaitForever);
      continue;
    }
    const uint32_t silent = platform::tickCount() - lastDataTick_.load();
    if (connectNow || silent > state_->timing.silenceMs) {
      if (!connectNow) ++reconnects_;
      connectNow = false;
      raise(LinkEventStreamLost);
      talkReady_ = 0;
      video_.close();
      const bool opened = openStream();
      if (streamStopped_.load() != 0) break;
      raise(opened ? LinkEventStreamConnected : LinkEventStreamConnectFailed);
      lastDataTick_ = platform::tickCount();
    }
    if (stopped_.wait(state_->timing.watchdogPeriodMs)) break;
  }
  // Abandoned or not, a connection opened for a stopped stream goes now.
  if (streamStopped_.load() != 0) video_.close();
}

bool LiveSession::openStream() {
  if (state_->hostResolved.load() == 0 || streamStopped_.load() != 0) return false;
  if (!video_.isOpen() && video_.connect(state_->params.host, state_->params.port) != 1) {
    return false;
  }
  char request[kStreamRequestSize];
  size_t length = 0;
  if (buildRequest(request, sizeof request, length, state_->headerBlock,
                   "GET /livestream.cgi?user=%s&pwd=%s&streamid=%d&audio=%d&filename= HTTP/1.1\r\n",
                   state_->params.user, state_->params.password, streamId_, 0) != RequestError::None) {
    // An account that cannot be written into a request line never streams.
    video_.close();
    return false;
  }
  // The camera may answer before send() even returns: the flags its first
  // frames depend on are set beforehand, so that a refusal's suspension is not
  // undone and the first key frame is not dropped as early.
  streamActive_ = 1;
  lastDataTick_ = platform::tickCount();
  watchdogSuspended_ = 0;
  // A camera that does not take the request is no better than one that
  // refused the connection; the silence that follows brings the next attempt.
  if (!video_.send(request, length)) return false;
  talkReady_ = 1;
  return true;
}

bool LiveSession::sendTalk(const uint8_t* packet, size_t length) {
  if (!video_.isOpen() || talkReady_.load() == 0) return false;
  // A camera that stops taking talk has the connection shut down by the send
  // (its frames stop, and the watchdog reconnects after the silence); the
  // packet counts as dropped.
  return video_.send(packet, length);
}

void LiveSession::raise(int32_t code) {
  if (!gate_.enter()) return;
  state_->raise(code);
  gate_.leave();
}

void LiveSession::deliver(const uint8_t* frame, int32_t length, void* owner) {
  static_cast<LiveSession*>(owner)->dispatch(frame, length);
}

void LiveSession::dispatch(const uint8_t* frame, int32_t length) {
  lastDataTick_ = platform::tickCount();
  const uint8_t type = frame[4];
  switch (type) {
    case FRAME_BAD_CREDENTIALS:
      if (state_->hasEventCallback()) {
        raise(LinkEventBadCredentials);
      } else {
        watchdogSuspended_ = 1;
      }
      return;
    case FRAME_MAX_CONNECTIONS:
      raise(LinkEventMaxConnections);
      watchdogSuspended_ = 1;
      return;
    case FRAME_REQUEST_TYPE_ERROR:
      raise(LinkEventRequestTypeError);
      watchdogSuspended_ = 1;
      return;
    case FRAME_VIDEO_LOSS:
      raise(LinkEventVideoLoss);
      watchdogSuspended_ = 1;
      return;
    case FRAME_MOTION_ALARM:
    case FRAME_GPIO_ALARM:
    case FRAME_MOTION_ALARM_CLEAR:
    case FRAME_GPIO_ALARM_CLEAR:
      raise(type);
      return;
    case FRAME_SOUND_ALARM:
      raise(LinkEventSoundAlarm);
      return;
    default:
      break;
  }
  if (type >= FRAME_SENSOR_ALARM_FIRST && type <= FRAME_SENSOR_ALARM_LAST) {
    raise(type);
    return;
  }
  if (streamActive_.load() == 0 || callback_ == nullptr) return;
  if (!gate_.enter()) return;
  ++framesDelivered_;
  bytesDelivered_ += static_cast<uint64_t>(length);
  callback_(frame, length, user_);
  gate_.leave();
}

}  // namespace tavolen
