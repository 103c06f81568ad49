#pragma once
// What the camera-view suites share: a control in an off-screen window with
// its settings in a scratch folder and a test clock, a substitute camera on
// loopback, players that note what the view asks of them, and pixel helpers.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camsim.h"
#include "control/tavolen_ctrl.h"
#include "control_support.h"
#include "player/net_h264_stream_play.h"
#include "player/net_jpeg_stream_play.h"
#include "player/player_registry.h"

namespace ctltest {

// One request the view made of a player.
struct PlayerCall {
  explicit PlayerCall(std::string o, int32_t s = 0) : op(std::move(o)), slot(s) {}
  std::string op;  // "setOsdString", "removeOsdstring", "startlocalrecord", ...
  int32_t slot = 0;
  OsdItem item{};
  RecordStartParams record{};
  std::string text;
  int32_t value = 0;
};

class PlayerNotes {
 public:
  void add(void* player, PlayerCall call);
  std::vector<PlayerCall> calls(const std::string& op);
  std::vector<int32_t> kinds();  // of the players made, in order
  std::vector<uint8_t> inputTypes();  // frame types handed to inputNetFrame
  void madePlayer(int32_t kind);
  void addInput(uint8_t type);
  void clear();

 private:
  std::mutex m_;
  std::vector<PlayerCall> calls_;
  std::vector<int32_t> kinds_;
  std::vector<uint8_t> inputs_;
};

// A real player of the given kind that also notes the view's requests.
template <class Base>
class NotingPlayer : public Base {
 public:
  explicit NotingPlayer(PlayerNotes& notes) : notes_(notes) {}
  int32_t setOsdString(int32_t index, const OsdItem* item) override {
    PlayerCall c{"setOsdString", index};
    if (item) c.item = *item;
    notes_.add(this, c);
    return Base::setOsdString(index, item);
  }
  int32_t removeOsdstring(int32_t index) override {
    notes_.add(this, PlayerCall{"removeOsdstring", index});
    return Base::removeOsdstring(index);
  }
  int32_t startlocalrecord(RecordStartParams params) override {
    PlayerCall c{"startlocalrecord"};
    c.record = params;
    notes_.add(this, c);
    return Base::startlocalrecord(params);
  }
  int32_t capturePicture(const char* name) override {
    PlayerCall c{"capturePicture"};
    c.text = name ? name : "";
    notes_.add(this, c);
    return Base::capturePicture(name);
  }
  int32_t setRenderEffect(int32_t effect) override {
    PlayerCall c{"setRenderEffect"};
    c.value = effect;
    notes_.add(this, c);
    return Base::setRenderEffect(effect);
  }
  int32_t openSound() override {
    notes_.add(this, PlayerCall{"openSound"});
    return Base::openSound();
  }
  int32_t inputNetFrame(const uint8_t* frame, int32_t length) override {
    if (frame && length >= 32) notes_.addInput(frame[4]);
    return Base::inputNetFrame(frame, length);
  }

 private:
  PlayerNotes& notes_;
};

// The players of a view noted in notes (real players, listed as usual).
void notePlayersOf(tavolen::CTavolenCtrl& control, PlayerNotes& notes);

// The OsdItem the view is meant to send, built field by field.
OsdItem expectedItem(int32_t left, int32_t top, int32_t right, int32_t bottom, const char* text,
                     int32_t kind, int32_t position, uint8_t red);
bool sameItem(const OsdItem& a, const OsdItem& b);

// Pixels of a window (blue, green, red, unused).
struct Pixels {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> bytes;
  uint32_t at(int32_t x, int32_t y) const;  // 0xRRGGBB
  // Pixels in the rectangle that are neither black nor the given colour.
  int count(int32_t left, int32_t top, int32_t right, int32_t bottom,
            const std::function<bool(uint32_t)>& match) const;
};
// The window's client area as it is now (its size from its state).
Pixels readPixels(TavolenWindow* window);

// A camera on loopback (small stream 3, 160 x 96) and a control in an
// off-screen window, everything of the control noted.
class ViewFixture : public ::testing::Test {
 protected:
  static camsim::Config cameraConfig();
  // Lets a suite change the camera before it starts.
  virtual void configure(camsim::Config&) {}
  void SetUp() override;
  void TearDown() override;
  tavolen::CTavolenCtrl& ctrl() { return *static_cast<tavolen::CTavolenCtrl*>(static_cast<void*>(control)); }
  // PlayVideo against the camera, stream 3.
  int32_t play(const std::string& user = "viewer", const std::string& pwd = "secret");
  // Waits until the player has shown n pictures.
  bool waitForPictures(uint32_t n, int timeoutMs = 15000);

  ScratchFolder dir;
  EnvOverride settings{"TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini")};
  EnvOverride chooser{"TAVOLEN_FOLDER_DIALOG", "exit 1"};
  FakeClock clock;
  EventLog log;
  PlayerNotes notes;
  std::unique_ptr<camsim::Server> camera;
  TavolenControl* control = nullptr;
  TavolenWindow* window = nullptr;
};

}  // namespace ctltest
