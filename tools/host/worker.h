#pragma once
// One thread running queued jobs in order. The destructor runs the jobs still
// queued, then joins.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tavolen::host {

class Worker {
 public:
  Worker();
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Any thread; the job runs on the worker's thread.
  void post(std::function<void()> job);

 private:
  void loop();

  std::mutex mutex_;  // guards jobs_ and stopping_
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavolen::host
