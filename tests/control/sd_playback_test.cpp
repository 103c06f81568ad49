// Playback of SD-card recordings from the substitute camera: the key-frame
// gate, position notices after every frame, the pacing waits from the frames'
// time stamps (on the test clock), seeking, stopping during a wait, and the
// refusals between a playback and a live view.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include "control/camera_view.h"
#include "platform/jpeg_codec.h"
#include "view_support.h"
#include "support/wait_until.h"

namespace {

using namespace ctltest;
using namespace tavolen;

struct RecFrame {
  uint8_t type;
  uint32_t second;
  uint16_t ms;
  std::vector<uint8_t> payload;
};

std::vector<uint8_t> frameBytes(const RecFrame& f) {
  FrameHeader h{};
  h.magic = TAVOLEN_FRAME_MAGIC;
  h.frameType = f.type;
  h.milliseconds = f.ms;
  h.timestamp = f.second;
  h.payloadLength = static_cast<uint32_t>(f.payload.size());
  std::vector<uint8_t> out(sizeof h + f.payload.size());
  std::memcpy(out.data(), &h, sizeof h);
  std::copy(f.payload.begin(), f.payload.end(), out.begin() + sizeof h);
  return out;
}

// Writes the frames as one recording; returns each frame's length.
std::vector<int32_t> writeRecording(const std::string& path, const std::vector<RecFrame>& frames) {
  std::string bytes;
  std::vector<int32_t> lengths;
  for (const RecFrame& f : frames) {
    const auto b = frameBytes(f);
    bytes.append(b.begin(), b.end());
    lengths.push_back(static_cast<int32_t>(b.size()));
  }
  writeText(path, bytes);
  return lengths;
}

std::vector<uint8_t> greenJpeg() {
  std::vector<uint8_t> pixels(160 * 96 * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) pixels[i + 1] = 200;
  return platform::JpegCodec().encode(pixels.data(), 160, 96, 90);
}

std::vector<uint8_t> bytes(size_t n, uint8_t fill) { return std::vector<uint8_t>(n, fill); }

class SdPlayback : public ViewFixture {
 protected:
  void configure(camsim::Config& c) override {
    c.camera.recordFolder = dir.file("card");
    std::filesystem::create_directories(c.camera.recordFolder);
  }
  void SetUp() override {
    ViewFixture::SetUp();
    // Lockstep: before each pacing wait, the notice of the frame just
    // received has reached the sink, so a paced frame's notice carries
    // exactly its own position (the playback thread cannot move on).
    clock.setOnWait([this] {
      const int32_t now = ctrl().view().sdPosition();
      log.waitFor([&](const std::vector<Event>& events) {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
          if (it->dispid == 1 && it->i4[0] == NOTIFY_SD_POSITION) return it->i4[1] == now;
        return false;
      });
    });
  }
  std::string card(const std::string& name) { return dir.file("card/" + name); }
  int32_t playFile(const std::string& name, int32_t streamid) {
    return callI4(control, "SdRecordFilePlay", {text("viewer"), text("secret"), text("127.0.0.1"),
                                                i4(camera->port()), text(name), i4(streamid)});
  }
  // Positions reported so far, waiting until there are count of them.
  std::vector<int32_t> positions(size_t count) {
    log.waitFor([&](const std::vector<Event>& events) {
      size_t n = 0;
      for (const Event& e : events) n += e.dispid == 1 && e.i4[0] == NOTIFY_SD_POSITION;
      return n >= count;
    });
    flush(control);
    std::vector<int32_t> out;
    for (auto [type, param] : log.notifies())
      if (type == NOTIFY_SD_POSITION) out.push_back(param);
    return out;
  }
  static std::vector<int32_t> running(const std::vector<int32_t>& lengths, int32_t from = 0) {
    std::vector<int32_t> out;
    for (int32_t l : lengths) out.push_back(from += l);
    return out;
  }

  // Key frames gate the start; sound blocks of both kinds in between.
  std::vector<RecFrame> mixed() {
    return {{FRAME_H264_DELTA, 200, 0, bytes(900, 1)},   {FRAME_AUDIO_ADPCM, 200, 10, bytes(512, 2)},
            {FRAME_H264_KEY, 200, 40, bytes(1500, 3)},   {FRAME_H264_DELTA, 200, 80, bytes(700, 4)},
            {FRAME_AUDIO_ADPCM, 200, 90, bytes(512, 5)}, {FRAME_AUDIO_ALAW, 200, 120, bytes(960, 6)},
            {FRAME_H264_DELTA, 200, 160, bytes(600, 7)}};
  }
};

TEST_F(SdPlayback, GatePositionsAndWaits) {
  const auto lengths = writeRecording(card("mixed.rec"), mixed());
  ASSERT_EQ(playFile("mixed.rec", 0), 0);
  const auto reported = positions(lengths.size());
  const auto expected = running(lengths);
  ASSERT_EQ(reported.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    // A sound block is not paced: its notice may already count the frame
    // after it, as the value is read when the notice is handled.
    if (mixed()[i].type == FRAME_AUDIO_ADPCM)
      EXPECT_TRUE(reported[i] == expected[i] || reported[i] == expected[i + 1]) << i;
    else
      EXPECT_EQ(reported[i], expected[i]) << i;
  }
  EXPECT_EQ(notes.inputTypes(), (std::vector<uint8_t>{FRAME_H264_KEY, FRAME_H264_DELTA, FRAME_AUDIO_ADPCM,
                                                      FRAME_AUDIO_ALAW, FRAME_H264_DELTA}));
  // ADPCM never waits and does not move the pacing; A-law is paced.
  EXPECT_EQ(clock.waits(), (std::vector<uint32_t>{0, 40, 40, 40, 40}));
  EXPECT_EQ(notes.kinds(), std::vector<int32_t>{PlayerKindH264});
  EXPECT_EQ(notes.calls("openSound").size(), 1u);
  EXPECT_EQ(get(control, "SoundState").i4, 0);
  EXPECT_EQ(callI4(control, "SdRecordFileStop"), 0);
}

TEST_F(SdPlayback, WaitsFollowTheTimeStamps) {
  struct Case {
    const char* what;
    std::vector<std::pair<uint32_t, uint16_t>> stamps;
    std::vector<uint32_t> waits;
  } cases[] = {
      {"across a second", {{100, 900}, {101, 100}, {101, 140}}, {0, 200, 40}},
      {"earlier stamp waits nothing", {{300, 500}, {300, 200}, {299, 900}, {300, 0}}, {0, 0, 0, 100}},
      {"a jump waits at most ten seconds", {{400, 0}, {4000, 0}, {4000, 40}}, {0, 10000, 40}},
      {"stamp zero starts the pacing again", {{500, 0}, {0, 0}, {0, 500}, {500, 100}}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::vector<RecFrame> frames;
    for (auto [s, ms] : c.stamps) frames.push_back({FRAME_JPEG, s, ms, greenJpeg()});
    writeRecording(card("stamps.rec"), frames);
    clock.clearWaits();
    log.clear();
    ASSERT_EQ(playFile("stamps.rec", 3), 0) << c.what;
    positions(frames.size());
    EXPECT_EQ(clock.waits(), c.waits) << c.what;
    EXPECT_EQ(callI4(control, "SdRecordFileStop"), 0);
  }
}

TEST_F(SdPlayback, JpegRecordingShowsItsPicture) {
  std::vector<RecFrame> frames;
  for (uint16_t i = 0; i < 10; ++i) frames.push_back({FRAME_JPEG, 700, static_cast<uint16_t>(i * 40), greenJpeg()});
  writeRecording(card("green.rec"), frames);
  ASSERT_EQ(playFile("green.rec", 3), 0);
  positions(frames.size());
  EXPECT_EQ(notes.kinds(), std::vector<int32_t>{PlayerKindJpeg});
  EXPECT_TRUE(tavolen::test::waitUntil(
      [&] {
        const Pixels p = readPixels(window);
        return p.count(100, 80, 220, 160, [](uint32_t c) { return ((c >> 8) & 0xFF) > 150 && (c >> 16) < 60; }) >
               5000;
      },
      10000));
}

TEST_F(SdPlayback, StreamIdChoosesThePlayer) {
  writeRecording(card("one.rec"), {{FRAME_JPEG, 100, 0, greenJpeg()}});
  const std::pair<int32_t, int32_t> cases[] = {{3, PlayerKindJpeg}, {0, PlayerKindH264}, {1, PlayerKindH264},
                                               {2, PlayerKindH264}, {4, PlayerKindH264}, {-1, PlayerKindH264}};
  std::vector<int32_t> expected;
  for (auto [streamid, kind] : cases) {
    ASSERT_EQ(playFile("one.rec", streamid), 0);
    ASSERT_EQ(callI4(control, "SdRecordFileStop"), 0);
    expected.push_back(kind);
  }
  EXPECT_EQ(notes.kinds(), expected);
}

TEST_F(SdPlayback, SeekRestartsGateAndPacing) {
  const auto lengths = writeRecording(card("mixed.rec"), mixed());
  ASSERT_EQ(playFile("mixed.rec", 0), 0);
  positions(lengths.size());
  flush(control);
  log.clear();
  clock.clearWaits();
  notes.clear();

  // From the key frame: it passes, and its wait is 0, not 40.
  const int32_t keyAt = lengths[0] + lengths[1];
  EXPECT_EQ(callI4(control, "SdRecordFileSetPos", {i4(keyAt)}), 0);
  const std::vector<int32_t> rest(lengths.begin() + 2, lengths.end());
  const auto reported = positions(rest.size());
  EXPECT_EQ(reported.front(), keyAt + lengths[2]);
  EXPECT_EQ(reported.back(), running(rest, keyAt).back());
  EXPECT_EQ(clock.waits(), (std::vector<uint32_t>{0, 40, 40, 40}));
  EXPECT_EQ(notes.inputTypes().front(), FRAME_H264_KEY);
  EXPECT_EQ(notes.inputTypes().size(), 5u);

  // From the delta after it: nothing reaches the player, positions go on.
  log.clear();
  notes.clear();
  const int32_t deltaAt = keyAt + lengths[2];
  EXPECT_EQ(callI4(control, "SdRecordFileSetPos", {i4(deltaAt)}), 0);
  const std::vector<int32_t> tail(lengths.begin() + 3, lengths.end());
  const auto after = positions(tail.size());
  EXPECT_EQ(after.front(), deltaAt + lengths[3]);
  EXPECT_EQ(after.back(), running(tail, deltaAt).back());
  EXPECT_TRUE(notes.inputTypes().empty());

  // Seeking with nothing playing does nothing.
  EXPECT_EQ(callI4(control, "SdRecordFileStop"), 0);
  log.clear();
  EXPECT_EQ(callI4(control, "SdRecordFileSetPos", {i4(10)}), 0);
  flush(control);
  EXPECT_TRUE(log.all().empty());
}

TEST_F(SdPlayback, StopReleasesAPacingWaitAtOnce) {
  writeRecording(card("slow.rec"), {{FRAME_JPEG, 100, 900, greenJpeg()},
                                    {FRAME_JPEG, 101, 100, greenJpeg()},
                                    {FRAME_JPEG, 101, 300, greenJpeg()}});
  clock.setWaits(FakeClock::Waits::UntilSignalled);  // a wait ends only when woken
  ASSERT_EQ(playFile("slow.rec", 3), 0);
  ASSERT_TRUE(clock.waitForWaiter(10000));
  EXPECT_EQ(clock.waits().back(), 200u);
  EXPECT_EQ(callI4(control, "SdRecordFileStop"), 0);  // would never return otherwise
  EXPECT_EQ(clock.waiting(), 0);
  bool idle = false;
  ctrl().ui().call([&] { idle = !ctrl().view().link() && !ctrl().view().player(); });
  EXPECT_TRUE(idle);
}

TEST_F(SdPlayback, DestroyingTheControlReleasesAPacingWait) {
  writeRecording(card("slow.rec"), {{FRAME_JPEG, 100, 900, greenJpeg()}, {FRAME_JPEG, 101, 100, greenJpeg()},
                                    {FRAME_JPEG, 102, 100, greenJpeg()}});
  clock.setWaits(FakeClock::Waits::UntilSignalled);
  ASSERT_EQ(playFile("slow.rec", 3), 0);
  ASSERT_TRUE(clock.waitForWaiter(10000));
  tavolen_control_destroy(control);  // window first: no new wait, the running one ends
  control = createControl(log, clock);
  EXPECT_EQ(clock.waiting(), 0);
  EXPECT_EQ(clock.waits().size(), 2u);  // the third frame never waited
}

TEST_F(SdPlayback, PlaybackAndLiveViewExcludeEachOther) {
  writeRecording(card("one.rec"), {{FRAME_JPEG, 100, 0, greenJpeg()}});
  EXPECT_EQ(callI4(control, "SdRecordFilePlay", {text("viewer"), text("secret"), text("127.0.0.1"),
                                                 i4(camera->port()), text(""), i4(3)}),
            -1);
  EXPECT_TRUE(notes.kinds().empty());
  ASSERT_EQ(playFile("one.rec", 3), 0);
  EXPECT_EQ(playFile("one.rec", 3), -1);
  EXPECT_EQ(play(), 1);
  EXPECT_EQ(notes.kinds().size(), 1u);

  // The alias goes to the camera on the playback link.
  EXPECT_EQ(callI4(control, "SetAlias", {text("Cellar")}), 0);
  EXPECT_TRUE(tavolen::test::waitUntil([&] {
    for (const std::string& r : camera->requests())
      if (r.find("alias=Cellar ") != std::string::npos) return true;
    return false;
  }));

  // StopVideo ends a playback too; then a live view may start.
  EXPECT_EQ(callI4(control, "StopVideo"), 0);
  EXPECT_EQ(play(), 0);
  EXPECT_EQ(playFile("one.rec", 3), -1);
}

}  // namespace
