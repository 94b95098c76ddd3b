#include "console/bounded_worker.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>

namespace {

// An idle worker asked to end is gone long before this, even on a loaded
// machine; the bound is only there so that an end never hangs.
constexpr int kEndBoundMs = 1000;

}  // namespace

struct BoundedWorker::Shared {
  std::mutex mutex;
  std::condition_variable wake;  // a call, or the end, for the worker
  std::condition_variable done;  // a result, or the end, for the caller
  std::function<int()> call;     // handed over, not yet taken
  bool running = false;          // handed over and not yet returned
  uint64_t finished = 0;         // calls returned so far
  int result = 0;
  bool started = false;
  bool leave = false;
  bool ended = false;
};

BoundedWorker::BoundedWorker() : shared_(std::make_shared<Shared>()) {
  // Signals stay with the main thread, which takes them through its pipe;
  // threads the calls start (a sound server client's) inherit the mask.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  try {
    thread_ = std::thread(Work, shared_);
    shared_->started = true;
  } catch (const std::system_error&) {
    // Without a thread every call is refused: the caller sees no mixer
    // rather than one that can hang it.
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

BoundedWorker::~BoundedWorker() {
  if (!shared_->started) return;
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->leave = true;
  shared_->wake.notify_one();
  const bool ended =
      !shared_->running && shared_->done.wait_for(lock, std::chrono::milliseconds(kEndBoundMs),
                                                  [this] { return shared_->ended; });
  lock.unlock();
  if (ended)
    thread_.join();
  else
    thread_.detach();
}

BoundedWorker::Outcome BoundedWorker::Run(std::function<int()> call, int boundMs, int* result) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  if (!shared_->started || shared_->running) return Outcome::kBusy;
  shared_->call = std::move(call);
  shared_->running = true;
  const uint64_t ticket = shared_->finished + 1;
  shared_->wake.notify_one();
  if (!shared_->done.wait_for(lock, std::chrono::milliseconds(boundMs),
                              [&] { return shared_->finished >= ticket; }))
    return Outcome::kLate;
  *result = shared_->result;
  return Outcome::kDone;
}

void BoundedWorker::Work(std::shared_ptr<Shared> shared) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    shared->wake.wait(lock, [&] { return shared->call || shared->leave; });
    if (!shared->call) break;
    std::function<int()> call = std::move(shared->call);
    shared->call = nullptr;
    lock.unlock();
    const int result = call();
    call = nullptr;
    lock.lock();
    shared->result = result;
    shared->running = false;
    ++shared->finished;
    shared->done.notify_all();
  }
  shared->ended = true;
  shared->done.notify_all();
}
