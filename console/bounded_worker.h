// A thread of its own for calls that can hang on something outside the
// program (a sound server that stopped answering), so that the caller waits
// for each at most a bound. A call that overran keeps the worker until it
// returns; calls made meanwhile are refused at once rather than queued, so a
// hung server costs the caller one bound, and no stale request runs late.
#pragma once

#include <functional>
#include <memory>
#include <thread>

class BoundedWorker {
 public:
  BoundedWorker();
  // Never waits on a call that overran: the thread is left to end by itself
  // once that call returns, or with the process.
  ~BoundedWorker();
  BoundedWorker(const BoundedWorker&) = delete;
  BoundedWorker& operator=(const BoundedWorker&) = delete;

  enum class Outcome {
    kDone,  // returned within the bound; *result holds its value
    kLate,  // still running: it goes on, and its value is dropped
    kBusy,  // a call that overran earlier still runs (or there is no
            // thread): this one was not run
  };
  // A call that runs is let go on the worker thread, with all it holds.
  Outcome Run(std::function<int()> call, int boundMs, int* result);

 private:
  struct Shared;
  static void Work(std::shared_ptr<Shared> shared);
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};
