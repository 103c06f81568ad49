#pragma once
// A sound file (WAV, MP3, Ogg, anything libavformat reads) as the camera
// wants talk: 8000 Hz mono 16-bit PCM, decoded and resampled as it is used,
// in blocks of TALK_BLOCK_SAMPLES samples, the last one padded with silence.
// Main thread only.

#include <cstdint>
#include <deque>
#include <string>

#include "tavolen/player.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

namespace tavolen::cli {

class TalkSource {
 public:
  // Throws Failure when the file cannot be opened or holds no sound.
  explicit TalkSource(const std::string& path);
  ~TalkSource();
  TalkSource(const TalkSource&) = delete;
  TalkSource& operator=(const TalkSource&) = delete;

  // The next block; false once the sound has ended.
  bool next(int16_t (&block)[TALK_BLOCK_SAMPLES]);

 private:
  void open(const std::string& path);
  void release();
  bool decodeMore();
  void resample(const AVFrame* frame);

  std::string path_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  int stream_ = -1;
  bool inputDone_ = false;
  bool flushed_ = false;
  std::deque<int16_t> pending_;
};

}  // namespace tavolen::cli
