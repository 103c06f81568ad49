#include "png_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <memory>

#include "failure.h"

namespace tavolen::cli {

namespace {

struct Av {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVCodecContext* encoder = nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* picture = av_frame_alloc();
  AVFrame* rgb = av_frame_alloc();
  SwsContext* scaler = nullptr;
  ~Av() {
    sws_freeContext(scaler);
    av_frame_free(&rgb);
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&encoder);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

void decodePicture(Av& av, const std::string& path) {
  const std::string unreadable = "cannot read the snapshot " + path;
  if (avformat_open_input(&av.format, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(av.format, nullptr) < 0)
    throw Failure(unreadable);
  const AVCodec* codec = nullptr;
  const int stream = av_find_best_stream(av.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (stream < 0 || codec == nullptr) throw Failure(unreadable);
  av.decoder = avcodec_alloc_context3(codec);
  if (av.decoder == nullptr || avcodec_parameters_to_context(av.decoder, av.format->streams[stream]->codecpar) < 0 ||
      avcodec_open2(av.decoder, codec, nullptr) < 0)
    throw Failure(unreadable);
  while (av_read_frame(av.format, av.packet) >= 0) {
    const bool ours = av.packet->stream_index == stream;
    if (ours) avcodec_send_packet(av.decoder, av.packet);
    av_packet_unref(av.packet);
    if (ours && avcodec_receive_frame(av.decoder, av.picture) == 0) return;
  }
  avcodec_send_packet(av.decoder, nullptr);
  if (avcodec_receive_frame(av.decoder, av.picture) != 0) throw Failure(unreadable);
}

}  // namespace

void writePng(const std::string& picturePath, const std::string& pngPath) {
  Av av;
  if (av.packet == nullptr || av.picture == nullptr || av.rgb == nullptr) throw Failure("out of memory");
  decodePicture(av, picturePath);
  const int w = av.picture->width, h = av.picture->height;

  // Alpha, where the decoder reports one, is the unused fourth byte of the
  // snapshot's pixels: plain RGB is the picture.
  av.rgb->format = AV_PIX_FMT_RGB24;
  av.rgb->width = w;
  av.rgb->height = h;
  av.scaler = sws_getContext(w, h, static_cast<AVPixelFormat>(av.picture->format), w, h, AV_PIX_FMT_RGB24,
                             SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (av.scaler == nullptr || av_frame_get_buffer(av.rgb, 0) < 0 ||
      sws_scale(av.scaler, av.picture->data, av.picture->linesize, 0, h, av.rgb->data, av.rgb->linesize) != h)
    throw Failure("cannot convert the snapshot to RGB");

  const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
  av.encoder = png ? avcodec_alloc_context3(png) : nullptr;
  if (av.encoder == nullptr) throw Failure("this FFmpeg has no PNG encoder");
  av.encoder->width = w;
  av.encoder->height = h;
  av.encoder->pix_fmt = AV_PIX_FMT_RGB24;
  av.encoder->time_base = AVRational{1, 1};
  if (avcodec_open2(av.encoder, png, nullptr) < 0 || avcodec_send_frame(av.encoder, av.rgb) < 0 ||
      avcodec_receive_packet(av.encoder, av.packet) < 0)
    throw Failure("cannot encode the PNG");

  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(pngPath.c_str(), "wb"), std::fclose);
  if (!out) throw Failure("cannot write " + pngPath);
  const bool written = std::fwrite(av.packet->data, 1, static_cast<size_t>(av.packet->size), out.get()) ==
                       static_cast<size_t>(av.packet->size);
  if (!written || std::fclose(out.release()) != 0) throw Failure("cannot write " + pngPath);
}

}  // namespace tavolen::cli
