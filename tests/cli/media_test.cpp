// snapshot, record, sd list / get and talk against the substitute camera; the
// files they write are read back by ffprobe and ffmpeg, and the sound the
// camera got is compared with ffmpeg's own decode of the file.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"
#include "media/adpcm_codec.h"
#include "support/wait_until.h"
#include "tavolen/types.h"
#include "video_source.h"

namespace tavolen::test {
namespace {

namespace fs = std::filesystem;

std::string probe(const std::string& path, const std::string& entries, const std::string& select = "") {
  return commandOutput("ffprobe -v error " + select + " -show_entries " + entries + " -of csv=p=0 '" + path + "'");
}

bool ffmpeg(const std::string& args) { return std::system(("ffmpeg -nostdin -v error -y " + args).c_str()) == 0; }

// One stream of a file, copied out by ffmpeg without decoding.
std::vector<uint8_t> copiedStream(const std::string& path, const std::string& map, const std::string& format) {
  const std::string out = path + "." + format;
  if (!ffmpeg("-i '" + path + "' -map " + map + " -c copy -f " + format + " '" + out + "'")) return {};
  return readFile(out);
}

// ffmpeg's decode of a file, converted as asked (-pix_fmt rgb24, -ac 1 -ar 8000 ...).
std::vector<uint8_t> decoded(const std::string& path, const std::string& conversion, const std::string& format) {
  const std::string out = path + ".decoded";
  if (!ffmpeg("-i '" + path + "' " + conversion + " -f " + format + " '" + out + "'")) return {};
  return readFile(out);
}

std::vector<int16_t> samples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

std::vector<int> nalTypes(const std::vector<uint8_t>& d, size_t limit) {
  std::vector<int> types;
  for (size_t i = 0; i + 3 < d.size() && types.size() < limit; ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) types.push_back(d[i + 3] & 0x1F), i += 2;
  return types;
}

std::vector<fs::path> aviFiles(const std::string& dir) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec))
    if (e.path().extension() == ".avi") found.push_back(e.path());
  return found;
}

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &t);
  return text;
}

void appendFrame(std::vector<uint8_t>& file, uint8_t type, uint32_t seconds, uint16_t ms, uint32_t sequence,
                 const std::vector<uint8_t>& payload) {
  uint8_t h[FRAME_HEADER_SIZE] = {};
  const uint32_t magic = TAVOLEN_FRAME_MAGIC;
  const auto length = static_cast<uint32_t>(payload.size());
  std::memcpy(h, &magic, 4);
  h[4] = type;
  std::memcpy(h + 6, &ms, 2);
  std::memcpy(h + 8, &seconds, 4);
  std::memcpy(h + 12, &sequence, 4);
  std::memcpy(h + 16, &length, 4);
  file.insert(file.end(), h, h + sizeof h);
  file.insert(file.end(), payload.begin(), payload.end());
}

// An SD-card recording as a camera keeps it: media frames, back to back.
struct SdRecording {
  std::string name;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> video;            // every video payload, in order
  // Every ADPCM block from the first picture on, decoded: as on the SD-card
  // player, nothing before the first picture is played (or recorded).
  std::vector<int16_t> sound;
};

// 2 s of the camera's own H.264 (a key frame each second) with ADPCM sound
// interleaved by time, starting at `start`; or, with jpegFile, its pictures.
SdRecording makeRecording(const std::string& name, uint32_t start, const std::string& jpegFile = "") {
  SdRecording r{name, {}, {}, {}};
  std::string error;
  std::unique_ptr<camsim::VideoSource> source =
      jpegFile.empty() ? camsim::makePatternSource({0, 160, 96, 25, true, 0}, error)
                       : camsim::makeFileSource(jpegFile, error);
  EXPECT_TRUE(source) << error;
  if (!source) return r;
  int audio = 0;
  uint32_t sequence = 0;
  for (int i = 0; i < 50; ++i) {
    const int ms = i * 40;
    // A 1024-sample block every 128 ms, due by this picture's time.
    while (audio * 128 <= ms) {
      int16_t pcm[1024];
      for (int k = 0; k < 1024; ++k)
        pcm[k] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 500 * (audio * 1024 + k) / 8000.0));
      std::vector<uint8_t> block(ADPCM_BLOCK_BYTES);
      AdpcmState state;
      adpcmEncode(state, pcm, sizeof pcm, block.data());
      std::vector<int16_t> back(1024);
      adpcmDecode(state, block.data(), ADPCM_BLOCK_BYTES, back.data());
      if (i > 0) r.sound.insert(r.sound.end(), back.begin(), back.end());
      appendFrame(r.bytes, FRAME_AUDIO_ADPCM, start + audio * 128 / 1000, (audio * 128) % 1000, sequence++, block);
      ++audio;
    }
    camsim::AccessUnit unit;
    EXPECT_TRUE(source->next(unit));
    appendFrame(r.bytes, unit.type, start + ms / 1000, ms % 1000, sequence++, unit.data);
    r.video.insert(r.video.end(), unit.data.begin(), unit.data.end());
  }
  return r;
}

uint32_t localNoon(int year, int month, int day) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return static_cast<uint32_t>(std::mktime(&t));
}

class MediaCli : public CliTest {
 protected:
  // A camera whose stream is one still picture again and again, so that
  // every snapshot of it is the same picture.
  void startStillCamera(const std::string& format) {
    const std::string file = scratch("still." + format);
    const std::string codec = format == "h264" ? "-c:v libx264 -bf 0 -g 1 -pix_fmt yuv420p" : "-c:v mjpeg -q:v 3";
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x96:rate=25 -frames:v 3 " + codec + " -f " +
                       (format == "h264" ? "h264" : "mjpeg") + " " + file));
    if (format == "h264") {
      // Three copies of the first picture only.
      std::string error;
      auto source = camsim::makeFileSource(file, error);
      ASSERT_TRUE(source) << error;
      camsim::AccessUnit first;
      ASSERT_TRUE(source->next(first));
      std::ofstream(file, std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(first.data.data()), static_cast<std::streamsize>(first.data.size()));
    }
    camsim::Config c = smallCamera();
    c.videoFile = file;
    startCamera(c);
  }

  void writeRecording(const SdRecording& r) {
    std::ofstream(sdFolder() + "/" + r.name, std::ios::binary)
        .write(reinterpret_cast<const char*>(r.bytes.data()), static_cast<std::streamsize>(r.bytes.size()));
  }
  std::string sdFolder() {
    const std::string folder = scratch("sdcard");
    fs::create_directories(folder);
    return folder;
  }
  void startSdCamera() {
    camsim::Config c = smallCamera();
    c.camera.recordFolder = sdFolder();
    startCamera(c);
  }
};

TEST_F(MediaCli, SnapshotOfAnH264StreamIsTheRenderersBmpOrItsPng) {
  startStillCamera("h264");
  const CliResult bmp = runCli({"snapshot", camera(), "-o", scratch("shot.bmp")});
  ASSERT_EQ(bmp.status, 0) << bmp.err;
  EXPECT_EQ(bmp.out + bmp.err, "");
  EXPECT_EQ(probe(scratch("shot.bmp"), "stream=codec_name,width,height"), "bmp,160,96\n");
  const std::vector<uint8_t> file = readFile(scratch("shot.bmp"));
  ASSERT_GE(file.size(), 54u);
  EXPECT_EQ(file.size(), 54u + 160 * 96 * 4);  // 32-bit pixels
  EXPECT_EQ(file[28], 32);

  const CliResult png = runCli({"snapshot", camera(), "-o", scratch("shot.PNG")});
  ASSERT_EQ(png.status, 0) << png.err;
  // Nothing else is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
  EXPECT_EQ(probe(scratch("shot.PNG"), "stream=codec_name,width,height"), "png,160,96\n");
  // The same picture, without loss.
  const auto fromBmp = decoded(scratch("shot.bmp"), "-pix_fmt rgb24", "rawvideo");
  ASSERT_EQ(fromBmp.size(), 160u * 96 * 3);
  EXPECT_TRUE(fromBmp == decoded(scratch("shot.PNG"), "-pix_fmt rgb24", "rawvideo"));
}

TEST_F(MediaCli, SnapshotOfAJpegStreamIsTheReceivedPictureOrItsPng) {
  startStillCamera("mjpeg");
  ASSERT_EQ(runCli({"snapshot", camera(), "-o", scratch("shot.jpg")}).status, 0);
  // Byte for byte one of the pictures the camera sends.
  std::string error;
  auto source = camsim::makeFileSource(scratch("still.mjpeg"), error);
  ASSERT_TRUE(source) << error;
  const std::vector<uint8_t> shot = readFile(scratch("shot.jpg"));
  bool found = false;
  for (int i = 0; i < 3; ++i) {
    camsim::AccessUnit unit;
    ASSERT_TRUE(source->next(unit));
    found |= unit.data == shot;
  }
  EXPECT_TRUE(found);

  ASSERT_EQ(runCli({"snapshot", camera(), "-o", scratch("shot.png")}).status, 0);
  EXPECT_EQ(probe(scratch("shot.png"), "stream=codec_name,width,height"), "png,160,96\n");
  const auto jpeg = decoded(scratch("shot.jpg"), "-pix_fmt rgb24", "rawvideo");
  const auto png = decoded(scratch("shot.png"), "-pix_fmt rgb24", "rawvideo");
  ASSERT_EQ(jpeg.size(), png.size());
  double difference = 0;
  for (size_t i = 0; i < jpeg.size(); ++i) difference += std::abs(jpeg[i] - png[i]);
  EXPECT_LT(difference / static_cast<double>(jpeg.size()), 2.0);
}

TEST_F(MediaCli, SnapshotIntoAFolderThatCannotBeWrittenFails) {
  const CliResult r = runCli({"snapshot", camera(), "-o", scratch("missing/shot.bmp")});
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("cannot write in " + scratch("missing")), std::string::npos) << r.err;
}

TEST_F(MediaCli, RecordWritesTheTreeWithSoundForTheTimeAsked) {
  const CliResult r = runCli({"record", camera(), "--seconds", "3", "--dir", scratch("rec")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  const auto files = aviFiles(scratch("rec"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].parent_path(), fs::path(scratch("rec")) / "RecordFiles" / today() / "127_0_0_1");
  EXPECT_EQ(probe(files[0], "stream=codec_name,width,height,sample_rate,channels", "-select_streams v"),
            "h264,160,96\n");
  EXPECT_EQ(probe(files[0], "stream=codec_name,sample_rate,channels", "-select_streams a"), "pcm_s16le,8000,1\n");
  const double duration = std::stod(probe(files[0], "format=duration"));
  EXPECT_NEAR(duration, 3.0, 0.5);
  // The file opens with the parameter sets and a key frame.
  const auto video = copiedStream(files[0], "0:v", "h264");
  std::vector<int> opening;
  for (int type : nalTypes(video, 8)) {
    opening.push_back(type);
    if (type == 1 || type == 5) break;
  }
  ASSERT_GE(opening.size(), 3u);
  EXPECT_EQ(opening[0], 7);
  EXPECT_EQ(opening[1], 8);
  EXPECT_EQ(opening.back(), 5);
  EXPECT_GT(copiedStream(files[0], "0:a", "s16le").size(), 2u * 8000 * 2);
}

TEST_F(MediaCli, CtrlCEndsARecordingWithTheFileReadable) {
  CliProcess p(CliRun{{"record", camera(), "--dir", scratch("rec")}});
  // Long enough that the file is kept (the recorder drops files under 32 KiB).
  std::vector<fs::path> files;
  waitUntil(
      [&] {
        files = aviFiles(scratch("rec"));
        std::error_code ec;
        return files.size() == 1 && fs::file_size(files[0], ec) > 64 * 1024;
      },
      10000);
  ASSERT_EQ(files.size(), 1u);
  p.signal(SIGINT);
  const CliResult r = p.wait();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_GT(std::stod(probe(files[0], "format=duration")), 1.0);
  EXPECT_EQ(probe(files[0], "stream=codec_name", "-select_streams v"), "h264\n");
}

TEST_F(MediaCli, RecordWhereNoFileCanBeMadeFails) {
  const std::string blocker = scratch("file");
  std::ofstream(blocker) << "a file where the tree would go";
  const CliResult r = runCli({"record", camera(), "--seconds", "1", "--dir", blocker});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: cannot create a recording file under " + blocker});
}

TEST_F(MediaCli, SdListShowsOneDaysRecordings) {
  const SdRecording morning = makeRecording("20240102_080000.rec", localNoon(2024, 1, 2) - 4 * 3600);
  const SdRecording evening = makeRecording("20240102_200000.rec", localNoon(2024, 1, 2) + 8 * 3600);
  const SdRecording next = makeRecording("20240103_120000.rec", localNoon(2024, 1, 3));
  for (const SdRecording* r : {&morning, &evening, &next}) writeRecording(*r);
  startSdCamera();

  const CliResult day = runCli({"sd", "list", camera(), "--date", "2024-01-02"});
  ASSERT_EQ(day.status, 0) << day.err;
  EXPECT_EQ(day.out, morning.name + "\t" + std::to_string(morning.bytes.size()) + "\n" + evening.name + "\t" +
                         std::to_string(evening.bytes.size()) + "\n");
  const CliResult json = runCli({"sd", "list", camera(), "--date", "2024-01-03", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "[{\"name\":\"" + next.name + "\",\"size\":" + std::to_string(next.bytes.size()) + "}]\n");
  const CliResult none = runCli({"sd", "list", camera(), "--date", "2024-01-04"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out + none.err, "");
}

TEST_F(MediaCli, SdGetWritesAnAviWhoseFramesAreTheRecordings) {
  const SdRecording rec = makeRecording("20240102_120000.rec", localNoon(2024, 1, 2));
  writeRecording(rec);
  startSdCamera();
  const CliResult r = runCli({"sd", "get", camera(), rec.name, "-o", scratch("got.avi")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "") << "no progress bar when not on a terminal";
  // The recorder's working tree is gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  EXPECT_EQ(probe(scratch("got.avi"), "stream=codec_name,width,height", "-select_streams v"), "h264,160,96\n");
  EXPECT_TRUE(copiedStream(scratch("got.avi"), "0:v", "h264") == rec.video);
  EXPECT_EQ(samples(copiedStream(scratch("got.avi"), "0:a", "s16le")), rec.sound);
}

TEST_F(MediaCli, SdGetOfJpegPicturesOnATerminalShowsItsProgress) {
  const std::string mjpeg = scratch("pictures.mjpeg");
  ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=160x96:rate=25 -frames:v 50 -c:v mjpeg -q:v 3 -f mjpeg " + mjpeg));
  const SdRecording rec = makeRecording("20240102_130000.rec", localNoon(2024, 1, 2) + 3600, mjpeg);
  writeRecording(rec);
  startSdCamera();
  CliRun run{{"sd", "get", camera(), rec.name, "-o", scratch("got.avi"), "--date", "2024-01-02"}};
  run.terminal = true;
  const CliResult r = runCli(run);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("100% ["), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" MB "), std::string::npos) << r.err;
  EXPECT_EQ(probe(scratch("got.avi"), "stream=codec_name,width,height", "-select_streams v"), "mjpeg,160,96\n");
  EXPECT_TRUE(copiedStream(scratch("got.avi"), "0:v", "mjpeg") == rec.video);
}

TEST_F(MediaCli, SdGetOfARecordingTheCameraDoesNotHave) {
  writeRecording(makeRecording("20240102_120000.rec", localNoon(2024, 1, 2)));
  startSdCamera();
  const CliResult r = runCli({"sd", "get", camera(), "20240102_999999.rec", "-o", scratch("got.avi")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: 127.0.0.1:" + std::to_string(camera_->port()) +
                                                   " has no recording named 20240102_999999.rec"});
  EXPECT_FALSE(fs::exists(scratch("got.avi")));
}

// Normalised cross-correlation of b against a, at the best lag within +-maxLag.
double bestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag) {
  double best = -1;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      const long j = static_cast<long>(i) + lag;
      if (j < 0 || j >= static_cast<long>(b.size())) continue;
      ab += static_cast<double>(a[i]) * b[static_cast<size_t>(j)];
      aa += static_cast<double>(a[i]) * a[i];
      bb += static_cast<double>(b[static_cast<size_t>(j)]) * b[static_cast<size_t>(j)];
    }
    if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

TEST_F(MediaCli, TalkDeliversTheFilesSoundInTalkBlocks) {
  // A rising tone, so that a shifted copy does not match itself.
  const std::string tone = "aevalsrc='0.4*sin(2*PI*(300+500*t)*t)':d=1.3";
  struct Case {
    const char* file;
    const char* encode;
  } cases[] = {
      {"speech.wav", "-ar 16000 -ac 1"},
      {"speech.ogg", "-ar 44100 -ac 2 -c:a libvorbis"},
      {"speech.mp3", "-ar 22050 -ac 1 -c:a libmp3lame"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const std::string file = scratch(k.file);
    ASSERT_TRUE(ffmpeg("-f lavfi -i \"" + tone + "\" " + k.encode + " " + file));
    const size_t before = camera_->talk().size();
    const CliResult r = runCli({"talk", camera(), "--file", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");

    const std::vector<int16_t> reference = samples(decoded(file, "-ac 1 -ar 8000", "s16le"));
    ASSERT_GT(reference.size(), 8000u);
    const size_t blocks = (reference.size() + 511) / 512;
    ASSERT_TRUE(camera_->waitForTalk(before + blocks, 5000));
    const auto talk = camera_->talk();
    ASSERT_EQ(talk.size(), before + blocks);
    std::vector<int16_t> heard;
    for (size_t i = before; i < talk.size(); ++i) {
      ASSERT_EQ(talk[i].payload.size(), 256u);
      if (i > before) {
        EXPECT_EQ(talk[i].sequence, talk[i - 1].sequence + 1);
      }
      heard.insert(heard.end(), talk[i].pcm.begin(), talk[i].pcm.end());
    }
    EXPECT_GT(bestCorrelation(reference, heard, 16), 0.95);
  }
}

TEST_F(MediaCli, TalkOfAFileThatIsNoSound) {
  std::ofstream(scratch("notes.wav")) << "not a sound file";
  for (const std::string& file : {scratch("notes.wav"), scratch("absent.wav")}) {
    const CliResult r = runCli({"talk", camera(), "--file", file});
    EXPECT_EQ(r.status, 1) << file;
    ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
  }
  EXPECT_TRUE(camera_->requests().empty()) << "the file is read before the camera is called";
}

}  // namespace
}  // namespace tavolen::test
