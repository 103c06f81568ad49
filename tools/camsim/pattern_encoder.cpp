// The live test pattern, encoded through libavcodec's libx264 wrapper.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "video_source.h"

namespace camsim {

namespace {

class PatternEncoder : public VideoSource {
 public:
  ~PatternEncoder() override {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }

  bool open(const Profile& p, std::string& error) {
    // The encoder's banner and statistics would bury camsim's own lines.
    if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
      error = "libx264 encoder not available";
      return false;
    }
    context_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!context_ || !frame_ || !packet_) {
      error = "out of memory";
      return false;
    }
    // I420 wants even sizes.
    context_->width = std::max(16, p.width & ~1);
    context_->height = std::max(16, p.height & ~1);
    const int fps = std::clamp(p.fps, 1, 120);
    context_->time_base = AVRational{1, fps};
    context_->framerate = AVRational{fps, 1};
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->gop_size = fps;
    context_->max_b_frames = 0;
    context_->thread_count = 1;
    context_->bit_rate = static_cast<int64_t>(context_->width) * context_->height * fps / 8;
    av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
    // Headers in front of every IDR, and an IDR exactly once per gop: a viewer
    // that joins mid-stream starts at the next key frame.
    av_opt_set(context_->priv_data, "x264-params", "repeat-headers=1:scenecut=0:open-gop=0", 0);
    if (avcodec_open2(context_, codec, nullptr) < 0) {
      error = "cannot open libx264";
      return false;
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = context_->width;
    frame_->height = context_->height;
    if (av_frame_get_buffer(frame_, 0) < 0) {
      error = "cannot allocate a picture";
      return false;
    }
    return true;
  }

  bool next(AccessUnit& out) override {
    if (av_frame_make_writable(frame_) < 0) return false;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld #%lld", parts.tm_hour, parts.tm_min,
                  parts.tm_sec, now.tv_nsec / 1000000, static_cast<long long>(count_));
    drawTestPattern(frame_->data[0], frame_->linesize[0], frame_->data[1], frame_->linesize[1],
                    frame_->data[2], frame_->linesize[2], frame_->width, frame_->height, count_,
                    text);
    frame_->pts = count_++;
    if (avcodec_send_frame(context_, frame_) < 0) return false;
    const int r = avcodec_receive_packet(context_, packet_);
    if (r < 0) return false;
    out.data.assign(packet_->data, packet_->data + packet_->size);
    out.type = (packet_->flags & AV_PKT_FLAG_KEY) ? 0 : 1;
    av_packet_unref(packet_);
    return true;
  }

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int64_t count_ = 0;
};

}  // namespace

std::unique_ptr<VideoSource> makePatternSource(const Profile& profile, std::string& error) {
  auto encoder = std::make_unique<PatternEncoder>();
  if (!encoder->open(profile, error)) return nullptr;
  return encoder;
}

std::unique_ptr<VideoSource> makeLoopSource(std::unique_ptr<VideoSource> source, int count,
                                            std::string& error) {
  std::vector<AccessUnit> units;
  AccessUnit unit;
  while (static_cast<int>(units.size()) < count && source->next(unit)) units.push_back(unit);
  if (units.empty()) {
    error = "source gave no frames";
    return nullptr;
  }
  return makeUnitLoop(std::move(units));
}

}  // namespace camsim
