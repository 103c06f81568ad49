#pragma once
// What the control suites share: a clock the test moves, a scratch folder
// with the settings file in it, environment overrides, a sink that records
// events, and variant helpers for invoking through control.h.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/control_clock.h"
#include "tavolen/tavolen.h"

namespace ctltest {

// Test double: a clock that moves only when told, because the alarm
// captions' 30 s and the recorded pacing intervals cannot be waited for in a
// test. It records every pacing wait asked of it.
class FakeClock : public tavolen::ControlClock {
 public:
  enum class Waits { ReturnAtOnce, UntilSignalled };

  uint32_t tickCount() override { return now_.load(); }
  uint32_t multimediaTime() override { return now_.load(); }
  tavolen::platform::LocalTime localTime() override {
    std::lock_guard g(m_);
    return local_;
  }
  bool runsOnItsOwn() const override { return false; }
  void addListener(Listener* l) override {
    std::lock_guard g(listenersLock_);
    listeners_.push_back(l);
  }
  void removeListener(Listener* l) override {
    std::lock_guard g(listenersLock_);
    std::erase(listeners_, l);
  }
  bool waitEvent(tavolen::platform::Event& event, uint32_t ms) override {
    Waits mode;
    std::function<void()> hook;
    {
      std::lock_guard g(m_);
      hook = onWait_;
    }
    if (hook) hook();
    {
      std::lock_guard g(m_);
      waits_.push_back(ms);
      mode = mode_;
      ++waiting_;
    }
    changed_.notify_all();
    bool signalled = false;
    if (mode == Waits::ReturnAtOnce || ms == 0)
      signalled = event.wait(0);
    else
      signalled = event.wait(tavolen::platform::kWaitForever);
    {
      std::lock_guard g(m_);
      --waiting_;
    }
    changed_.notify_all();
    return signalled;
  }

  void advance(uint32_t ms) {
    now_ += ms;
    std::lock_guard g(listenersLock_);
    for (Listener* l : listeners_) l->clockMoved();
  }
  void setLocalTime(tavolen::platform::LocalTime t) {
    std::lock_guard g(m_);
    local_ = t;
  }
  // Runs on the waiting thread before each pacing wait.
  void setOnWait(std::function<void()> hook) {
    std::lock_guard g(m_);
    onWait_ = std::move(hook);
  }
  void setWaits(Waits mode) {
    std::lock_guard g(m_);
    mode_ = mode;
  }
  std::vector<uint32_t> waits() {
    std::lock_guard g(m_);
    return waits_;
  }
  void clearWaits() {
    std::lock_guard g(m_);
    waits_.clear();
  }
  // Blocks until a pacing wait is in progress (false after timeoutMs).
  bool waitForWaiter(int timeoutMs) {
    std::unique_lock g(m_);
    return changed_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return waiting_ > 0; });
  }
  int waiting() {
    std::lock_guard g(m_);
    return waiting_;
  }

 private:
  std::atomic<uint32_t> now_{100000};
  std::mutex listenersLock_;
  std::vector<Listener*> listeners_;
  std::mutex m_;
  std::condition_variable changed_;
  tavolen::platform::LocalTime local_{2024, 3, 5, 14, 7, 9, 42};
  Waits mode_ = Waits::ReturnAtOnce;
  std::function<void()> onWait_;
  std::vector<uint32_t> waits_;
  int waiting_ = 0;
};

// Sets an environment variable for the life of the object (unset: nullopt).
class EnvOverride {
 public:
  EnvOverride(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  ~EnvOverride() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavolen-ctl-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

// One event as the sink saw it.
struct Event {
  int32_t dispid = 0;
  std::vector<int32_t> i4;            // I4 arguments, in order
  std::vector<std::u16string> texts;  // text arguments, in order
  bool onSinkThreadNested = false;    // the sink was entered while already inside it
};

// Records events; tests wait for them with a bound (never a fixed sleep).
class EventLog {
 public:
  static void sink(void* user, int32_t dispid, const TavolenVariant* args, int32_t count);

  std::vector<Event> all();
  // MessageNotify events as (type, param).
  std::vector<std::pair<int32_t, int32_t>> notifies();
  std::vector<Event> searched();
  bool waitFor(const std::function<bool(const std::vector<Event>&)>& pred, int timeoutMs = 10000);
  bool waitForNotify(int32_t type, int count = 1, int timeoutMs = 10000);
  void clear();
  // Runs inside the sink after recording, on the control's UI thread.
  std::function<void(const Event&)> onEvent;

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Event> events_;
  int depth_ = 0;
};

// --- variants ---
TavolenVariant i4(int32_t v);
TavolenVariant empty();
// A text argument; the variant points into storage the helper keeps alive.
TavolenVariant text(const std::u16string& s);
TavolenVariant text(const std::string& utf8);
std::u16string u16(const std::string& utf8);
std::string u8(const std::u16string& s);

// Invokes and returns (hresult, result) with texts copied out.
struct Outcome {
  int32_t hr = 0;
  int32_t vt = 0;
  int32_t i4 = 0;
  std::string text;
};
Outcome invoke(TavolenControl* c, int32_t dispid, int32_t flags, std::vector<TavolenVariant> args = {});
Outcome call(TavolenControl* c, const char* name, std::vector<TavolenVariant> args = {});
Outcome get(TavolenControl* c, const char* name);
Outcome put(TavolenControl* c, const char* name, TavolenVariant value);
int32_t callI4(TavolenControl* c, const char* name, std::vector<TavolenVariant> args = {});
// Everything queued on the control's UI thread before this has run, and
// what that posted in turn (two carried calls).
void flush(TavolenControl* c);

// A control made with a test clock, listed like any other.
TavolenControl* createControl(EventLog& log, tavolen::ControlClock& clock);

}  // namespace ctltest
