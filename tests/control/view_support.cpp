#include "view_support.h"

#include <thread>

#include "control/utf_text.h"
#include "support/wait_until.h"

namespace ctltest {

void PlayerNotes::add(void*, PlayerCall call) {
  std::lock_guard g(m_);
  calls_.push_back(std::move(call));
}

void PlayerNotes::addInput(uint8_t type) {
  std::lock_guard g(m_);
  inputs_.push_back(type);
}

void PlayerNotes::madePlayer(int32_t kind) {
  std::lock_guard g(m_);
  kinds_.push_back(kind);
}

std::vector<PlayerCall> PlayerNotes::calls(const std::string& op) {
  std::lock_guard g(m_);
  std::vector<PlayerCall> out;
  for (const PlayerCall& c : calls_)
    if (op.empty() || c.op == op) out.push_back(c);
  return out;
}

std::vector<int32_t> PlayerNotes::kinds() {
  std::lock_guard g(m_);
  return kinds_;
}

std::vector<uint8_t> PlayerNotes::inputTypes() {
  std::lock_guard g(m_);
  return inputs_;
}

void PlayerNotes::clear() {
  std::lock_guard g(m_);
  calls_.clear();
  inputs_.clear();
}

void notePlayersOf(tavolen::CTavolenCtrl& control, PlayerNotes& notes) {
  control.ui().call([&] {
    control.view().setPlayerMaker([&notes](int32_t kind) -> void* {
      std::shared_ptr<tavolen::CNetStreamPlay> p;
      if (kind == 0) p = std::make_shared<NotingPlayer<tavolen::CNetH264StreamPlay>>(notes);
      if (kind == 1) p = std::make_shared<NotingPlayer<tavolen::CNetJpegStreamPlay>>(notes);
      if (!p) return nullptr;
      notes.madePlayer(kind);
      return tavolen::PlayerRegistry::instance().add(std::move(p));
    });
  });
}

OsdItem expectedItem(int32_t left, int32_t top, int32_t right, int32_t bottom, const char* text,
                     int32_t kind, int32_t position, uint8_t red) {
  OsdItem item;
  std::memset(&item, 0, sizeof item);
  std::memcpy(item.faceName, "\xE5\xAE\x8B\xE4\xBD\x93", 6);
  item.red = red;
  item.rect = OsdRect{left, top, right, bottom};
  std::strncpy(item.text, text, sizeof item.text - 1);
  item.kind = kind;
  item.position = position;
  return item;
}

bool sameItem(const OsdItem& a, const OsdItem& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

uint32_t Pixels::at(int32_t x, int32_t y) const {
  const uint8_t* p = bytes.data() + (static_cast<size_t>(y) * width + x) * 4;
  return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

int Pixels::count(int32_t left, int32_t top, int32_t right, int32_t bottom,
                  const std::function<bool(uint32_t)>& match) const {
  int n = 0;
  for (int32_t y = top; y < bottom; ++y)
    for (int32_t x = left; x < right; ++x)
      if (match(at(x, y))) ++n;
  return n;
}

Pixels readPixels(TavolenWindow* window) {
  Pixels p;
  TavolenWindowState state{};
  if (tavolen_window_get_state(window, &state) != 1) return p;
  p.width = state.width;
  p.height = state.height;
  p.bytes.resize(static_cast<size_t>(p.width) * p.height * 4);
  tavolen_window_read_pixels(window, p.bytes.data(), static_cast<int32_t>(p.bytes.size()));
  return p;
}

camsim::Config ViewFixture::cameraConfig() {
  camsim::Config c;
  c.user = "viewer";
  c.password = "secret";
  c.profiles = {{3, 160, 96, 25, true, 0}};
  return c;
}

void ViewFixture::SetUp() {
  camsim::Config config = cameraConfig();
  configure(config);
  camera = std::make_unique<camsim::Server>(config);
  ASSERT_TRUE(camera->start());
  control = createControl(log, clock);
  window = tavolen_window_create_offscreen(320, 240);
  ASSERT_EQ(tavolen_control_create_window(control, window), 1);
  notePlayersOf(ctrl(), notes);
}

void ViewFixture::TearDown() {
  tavolen_control_destroy(control);
  tavolen_window_destroy(window);
  if (camera) camera->stop();
}

int32_t ViewFixture::play(const std::string& user, const std::string& pwd) {
  return callI4(control, "PlayVideo",
                {text(user), text(pwd), text("127.0.0.1"), i4(camera->port()), i4(3), i4(0)});
}

bool ViewFixture::waitForPictures(uint32_t n, int timeoutMs) {
  return tavolen::test::waitUntil(
      [&] {
        PlayerCounters counters{};
        void* player = nullptr;
        ctrl().ui().call([&] { player = ctrl().view().player(); });
        return x_player_getCounters(player, &counters) == 1 && counters.picturesPresented >= n;
      },
      timeoutMs);
}

}  // namespace ctltest
