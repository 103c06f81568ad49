#include "talk_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <vector>

#include "failure.h"

namespace tavolen::cli {

namespace {

constexpr int kTalkRate = 8000;

std::string avError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace

TalkSource::TalkSource(const std::string& path) : path_(path) {
  try {
    open(path);
  } catch (...) {
    release();
    throw;
  }
}

void TalkSource::open(const std::string& path) {
  int rc = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
  if (rc < 0) throw Failure("cannot open " + path + ": " + avError(rc));
  if ((rc = avformat_find_stream_info(format_, nullptr)) < 0) throw Failure("cannot read " + path + ": " + avError(rc));
  const AVCodec* decoder = nullptr;
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (stream_ < 0 || decoder == nullptr) throw Failure(path + " holds no sound this tool can decode");
  codec_ = avcodec_alloc_context3(decoder);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr) throw Failure("out of memory");
  if ((rc = avcodec_parameters_to_context(codec_, format_->streams[stream_]->codecpar)) < 0 ||
      (rc = avcodec_open2(codec_, decoder, nullptr)) < 0)
    throw Failure("cannot decode " + path + ": " + avError(rc));
  AVChannelLayout in;
  if (codec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&in, codec_->ch_layout.nb_channels);
  else av_channel_layout_copy(&in, &codec_->ch_layout);
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
  rc = swr_alloc_set_opts2(&resampler_, &mono, AV_SAMPLE_FMT_S16, kTalkRate, &in, codec_->sample_fmt,
                           codec_->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&in);
  if (rc < 0 || (rc = swr_init(resampler_)) < 0) throw Failure("cannot resample " + path + ": " + avError(rc));
}

TalkSource::~TalkSource() { release(); }

void TalkSource::release() {
  swr_free(&resampler_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
}

void TalkSource::resample(const AVFrame* frame) {
  const int inCount = frame ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(resampler_, inCount);
  if (room <= 0) return;
  std::vector<int16_t> out(static_cast<size_t>(room));
  uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
  const int got = swr_convert(resampler_, outPlanes, room, frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                              inCount);
  if (got > 0) pending_.insert(pending_.end(), out.begin(), out.begin() + got);
}

bool TalkSource::decodeMore() {
  // Frames waiting in the decoder first, then the next packet.
  for (;;) {
    const int rc = avcodec_receive_frame(codec_, frame_);
    if (rc == 0) {
      resample(frame_);
      av_frame_unref(frame_);
      return true;
    }
    if (rc == AVERROR_EOF) {
      if (flushed_) return false;
      flushed_ = true;
      resample(nullptr);  // what the resampler still holds
      return true;
    }
    if (inputDone_) return false;
    const int read = av_read_frame(format_, packet_);
    if (read < 0) {
      inputDone_ = true;
      avcodec_send_packet(codec_, nullptr);
      continue;
    }
    // A damaged packet is skipped, as players do.
    if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
  }
}

bool TalkSource::next(int16_t (&block)[TALK_BLOCK_SAMPLES]) {
  while (pending_.size() < TALK_BLOCK_SAMPLES && decodeMore()) {
  }
  if (pending_.empty()) return false;
  const size_t n = std::min<size_t>(pending_.size(), TALK_BLOCK_SAMPLES);
  std::copy_n(pending_.begin(), n, block);
  std::fill(block + n, block + TALK_BLOCK_SAMPLES, 0);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
  return true;
}

}  // namespace tavolen::cli
