// The control's UI thread: order of posted work, carried calls, timers on a
// test clock, stopping; and the control's events leaving from the top of its
// loop, in order, never nested, never after destroy.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "control/tavolen_ctrl.h"
#include "control/ui_thread.h"
#include "control_support.h"

namespace {

using namespace ctltest;
using tavolen::UiThread;

TEST(UiThread, PostedWorkRunsInOrderPerPoster) {
  FakeClock clock;
  UiThread ui(clock, [](int32_t) {});
  std::vector<std::pair<int, int>> seen;  // UI thread only
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) ui.post([&, t, i] { seen.emplace_back(t, i); });
    });
  for (auto& p : posters) p.join();
  std::vector<std::pair<int, int>> copy;
  ui.call([&] { copy = seen; });
  ASSERT_EQ(copy.size(), 2000u);
  int next[4] = {};
  for (auto [t, i] : copy) EXPECT_EQ(i, next[t]++);
}

TEST(UiThread, CarriedCallsQueueBehindAndNestedCallsRunAtOnce) {
  FakeClock clock;
  UiThread ui(clock, [](int32_t) {});
  std::string order;
  ui.post([&] {
    order += "a";
    EXPECT_TRUE(ui.onThread());
    ui.call([&] { order += "b"; });  // on the UI thread: at once
    order += "c";
  });
  ui.post([&] { order += "d"; });
  EXPECT_FALSE(ui.onThread());
  EXPECT_TRUE(ui.call([&] { order += "e"; }));
  EXPECT_EQ(order, "abcde");
}

TEST(UiThread, TimersFollowTheClock) {
  FakeClock clock;
  std::vector<int32_t> fired;  // UI thread only
  UiThread* self = nullptr;
  UiThread ui(clock, [&](int32_t id) {
    fired.push_back(id);
    if (id == 1023) self->killTimer(id);  // single-shot, as the alarm timers
  });
  self = &ui;
  const auto firedNow = [&] {
    std::vector<int32_t> copy;
    ui.call([&] { copy = fired; });
    return copy;
  };

  ui.call([&] { ui.setTimer(1023, 30000); });
  clock.advance(29999);
  EXPECT_TRUE(firedNow().empty());
  clock.advance(1);
  EXPECT_EQ(firedNow(), std::vector<int32_t>{1023});
  clock.advance(60000);
  EXPECT_EQ(firedNow(), std::vector<int32_t>{1023});  // killed on firing

  // Setting a running timer again starts its 30 s afresh.
  ui.call([&] { ui.setTimer(1023, 30000); });
  clock.advance(20000);
  ui.call([&] { ui.setTimer(1023, 30000); });
  clock.advance(29999);
  EXPECT_EQ(firedNow().size(), 1u);
  clock.advance(1);
  EXPECT_EQ(firedNow().size(), 2u);

  // Killed before it is due: never fires. Not killed: fires every period.
  ui.call([&] { ui.setTimer(1023, 30000); });
  ui.call([&] { ui.killTimer(1023); });
  ui.call([&] { ui.setTimer(1024, 30000); });
  clock.advance(30000);
  EXPECT_EQ(firedNow(), (std::vector<int32_t>{1023, 1023, 1024}));
  clock.advance(30000);
  EXPECT_EQ(firedNow(), (std::vector<int32_t>{1023, 1023, 1024, 1024}));
  // A clock that jumps several periods at once fires once, as a late
  // window timer does.
  clock.advance(90000);
  EXPECT_EQ(firedNow(), (std::vector<int32_t>{1023, 1023, 1024, 1024, 1024}));
  bool running = false;
  ui.call([&] { running = ui.timerRunning(1024) && !ui.timerRunning(1023); });
  EXPECT_TRUE(running);
}

TEST(UiThread, StopDropsQueuedWorkAndReleasesWaitingCallers) {
  FakeClock clock;
  UiThread ui(clock, [](int32_t) {});
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> laterRan{false};
  ui.post([released] { released.wait(); });
  auto caller = std::async(std::launch::async, [&] { return ui.call([&] { laterRan = true; }); });
  auto stopper = std::async(std::launch::async, [&] { ui.stop(); });
  // Once posting is refused, stop has emptied the queue.
  for (int i = 0; i < 100000 && ui.post([] {}); ++i) std::this_thread::yield();
  release.set_value();
  stopper.get();
  EXPECT_FALSE(caller.get());
  EXPECT_FALSE(laterRan);
  EXPECT_FALSE(ui.post([] {}));
  EXPECT_FALSE(ui.call([] {}));
}

// Events of a control made with the internal constructor, fired by hand.
class ControlEvents : public ::testing::Test {
 protected:
  tavolen::CTavolenCtrl& ctrl() { return *static_cast<tavolen::CTavolenCtrl*>(static_cast<void*>(control)); }
  FakeClock clock;
  EventLog log;
  TavolenControl* control = createControl(log, clock);
};

TEST_F(ControlEvents, FireFromTheTopOfTheLoopInOrderNeverNested) {
  std::atomic<int> sinkCalls{0};
  log.onEvent = [&](const Event& e) {
    ++sinkCalls;
    if (e.i4[1] == 1) {
      // An event handler may call its control: the call runs at once, and
      // the event it raises waits for this handler to end.
      EXPECT_EQ(callI4(control, "GetVersion"), -1);  // no window yet
      ctrl().ui().call([&] { ctrl().fireMessageNotify(7, 3); });
    }
  };
  ctrl().ui().call([&] {
    ctrl().fireMessageNotify(7, 1);
    ctrl().fireMessageNotify(7, 2);
    EXPECT_EQ(sinkCalls.load(), 0);  // not inside the call that raised them
  });
  flush(control);
  flush(control);
  const auto all = log.all();
  ASSERT_EQ(all.size(), 3u);
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].i4, (std::vector<int32_t>{7, static_cast<int32_t>(i + 1)}));
    EXPECT_FALSE(all[i].onSinkThreadNested);
  }
  tavolen_control_destroy(control);
}

TEST_F(ControlEvents, NoSinkCallOnceDestroyHasReturned) {
  std::atomic<bool> destroyed{false};
  std::atomic<int> late{0};
  log.onEvent = [&](const Event&) {
    if (destroyed) ++late;
  };
  ctrl().ui().post([this] {
    for (int i = 0; i < 2000; ++i) ctrl().fireMessageNotify(0, i);
  });
  tavolen_control_destroy(control);
  destroyed = true;
  EXPECT_EQ(late.load(), 0);
  EXPECT_LT(log.all().size(), 2001u);
}

TEST_F(ControlEvents, DestroyFromInsideTheSinkIsRefused) {
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  log.onEvent = [&](const Event&) { tavolen_control_destroy(control); };
  ctrl().ui().call([&] { ctrl().fireMessageNotify(1, 0); });
  ASSERT_TRUE(log.waitForNotify(1));
  EXPECT_EQ(callI4(control, "GetVersion"), -1);  // still there, still answering
  log.onEvent = nullptr;
  tavolen_control_destroy(control);
}

}  // namespace
