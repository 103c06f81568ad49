#include "platform/handle_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace tavolen::platform {
namespace {

// An object with a call that can block until its cancel step lets it go, as a
// link's connect does until its sockets are shut down.
struct Blocker {
  Event entered{Event::Reset::Manual};
  Event released{Event::Reset::Manual};
  std::atomic<int32_t> cancels{0};
  std::atomic<int32_t>* destroyed = nullptr;

  ~Blocker() {
    if (destroyed != nullptr) destroyed->fetch_add(1);
  }
  int32_t blockingCall() {
    entered.signal();
    released.wait(kWaitForever);
    return 1;
  }
  void cancel() {
    cancels.fetch_add(1);
    released.signal();
  }
};

using Table = HandleTable<Blocker>;

TEST(HandleTable, NullStaleAndForeignHandlesFindNothing) {
  Table table([](Blocker& b) { b.cancel(); });
  int foreign = 0;
  auto object = std::make_shared<Blocker>();
  void* handle = table.add(object);
  EXPECT_EQ(handle, object.get());
  EXPECT_EQ(table.add(nullptr), nullptr);
  ASSERT_EQ(table.remove(handle), object);
  for (const void* h : {static_cast<const void*>(nullptr), static_cast<const void*>(&foreign),
                        static_cast<const void*>(handle)}) {
    EXPECT_FALSE(table.find(h));
    EXPECT_EQ(table.share(h), nullptr);
    EXPECT_EQ(table.remove(h), nullptr);
  }
  EXPECT_EQ(table.size(), 0u);
}

// The cancel step runs before the wait for calls in flight, so a call blocked
// on the object returns and the removal completes; meanwhile no new call gets
// in, and the object is handed over only after the last pin is gone.
TEST(HandleTable, RemovalCancelsThenWaitsForCallsInFlightAndRefusesNewOnes) {
  Table table([](Blocker& b) { b.cancel(); });
  std::atomic<int32_t> destroyed{0};
  auto object = std::make_shared<Blocker>();
  object->destroyed = &destroyed;
  void* handle = table.add(std::move(object));

  std::atomic<int32_t> callResult{0};
  std::thread caller([&] {
    Table::Pin pin = table.find(handle);
    ASSERT_TRUE(pin);
    callResult = pin->blockingCall();
    // The pin is still held: the object must still be whole.
    EXPECT_EQ(destroyed.load(), 0);
    EXPECT_EQ(pin->cancels.load(), 1);
    EXPECT_FALSE(table.find(handle));
  });
  static_cast<Blocker*>(handle)->entered.wait(kWaitForever);

  std::shared_ptr<Blocker> removed = table.remove(handle);
  caller.join();
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(callResult.load(), 1);
  EXPECT_EQ(removed->cancels.load(), 1);
  EXPECT_EQ(table.size(), 0u);
  removed.reset();
  EXPECT_EQ(destroyed.load(), 1);
}

// A call that destroys its own object would wait for itself: refused, and the
// object stays listed and usable.
TEST(HandleTable, RemovalFromInsideAPinnedCallIsRefused) {
  Table table([](Blocker& b) { b.cancel(); });
  void* handle = table.add(std::make_shared<Blocker>());
  {
    Table::Pin outer = table.find(handle);
    Table::Pin inner = table.find(handle);  // nested calls on one thread
    ASSERT_TRUE(inner);
    EXPECT_EQ(table.remove(handle), nullptr);
    EXPECT_EQ(outer->cancels.load(), 0);
  }
  EXPECT_TRUE(table.find(handle));
  // The refusal is this thread's alone: another thread's removal goes ahead
  // and waits for the pin held here.
  std::atomic<bool> done{false};
  std::shared_ptr<Blocker> removed;
  std::thread remover;
  {
    Table::Pin mine = table.find(handle);
    remover = std::thread([&] {
      removed = table.remove(handle);
      done = true;
    });
    mine->released.wait(kWaitForever);  // its cancel step ran: the removal is under way
    EXPECT_FALSE(done.load());
  }
  remover.join();
  EXPECT_NE(removed, nullptr);
}

// A cancel step that throws does not strand the handle half removed: the
// object is unlisted and released, and the remover sees the exception.
TEST(HandleTable, ACancelStepThatThrowsStillRemovesTheObject) {
  std::atomic<int32_t> destroyed{0};
  Table table([](Blocker&) { throw std::runtime_error("cancel failed"); });
  auto object = std::make_shared<Blocker>();
  object->destroyed = &destroyed;
  void* handle = table.add(std::move(object));
  EXPECT_THROW(table.remove(handle), std::runtime_error);
  EXPECT_FALSE(table.find(handle));
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(destroyed.load(), 1);
}

// A shared reference outlives the removal and is not waited for; the object
// goes when the last reference does.
TEST(HandleTable, SharedReferencesOutliveRemovalWithoutBeingWaitedFor) {
  Table table([](Blocker& b) { b.cancel(); });
  std::atomic<int32_t> destroyed{0};
  auto object = std::make_shared<Blocker>();
  object->destroyed = &destroyed;
  void* handle = table.add(std::move(object));
  std::shared_ptr<Blocker> kept = table.share(handle);
  ASSERT_NE(kept, nullptr);
  std::shared_ptr<Blocker> removed = table.remove(handle);
  ASSERT_EQ(removed, kept);
  EXPECT_EQ(kept->cancels.load(), 1);  // cancelled all the same
  EXPECT_EQ(table.share(handle), nullptr);
  removed.reset();
  EXPECT_EQ(destroyed.load(), 0);
  kept.reset();
  EXPECT_EQ(destroyed.load(), 1);
}

// Calls racing a removal either pin a whole object or find nothing; the
// sanitizer builds turn any use after the release into a failure.
TEST(HandleTable, CallsRacingRemovalsNeverTouchAReleasedObject) {
  Table table([](Blocker& b) { b.cancel(); });
  for (int round = 0; round < 50; ++round) {
    std::atomic<int32_t> destroyed{0};
    auto object = std::make_shared<Blocker>();
    object->destroyed = &destroyed;
    void* handle = table.add(std::move(object));
    std::atomic<bool> go{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; ++t) {
      callers.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < 200; ++i) {
          Table::Pin pin = table.find(handle);
          if (!pin) return;
          EXPECT_EQ(destroyed.load(), 0);
          pin->entered.signal();
        }
      });
    }
    go = true;
    std::shared_ptr<Blocker> removed = table.remove(handle);
    ASSERT_NE(removed, nullptr);
    removed.reset();
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(destroyed.load(), 1);
  }
}

}  // namespace
}  // namespace tavolen::platform
