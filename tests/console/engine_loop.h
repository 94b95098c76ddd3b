// The main loop's part for one engine, for tests that drive an engine alone:
// wait on its descriptors and its timer, service it, keep what it reports.
#pragma once

#include <poll.h>

#include <functional>
#include <string>

#include "console/engine.h"
#include "posix/posix.h"

class EngineLoop {
 public:
  explicit EngineLoop(Engine& engine) : engine_(engine) {}

  // Runs until done() holds or ms have passed; done() is asked after each
  // service. What the engine says is in events(), oldest first.
  bool RunUntil(const std::function<bool()>& done, int ms = 5000) {
    const uint64_t end = MonotonicMs() + static_cast<uint64_t>(ms);
    while (!done()) {
      const uint64_t now = MonotonicMs();
      if (now >= end) return false;
      std::vector<pollfd> fds;
      for (int fd : engine_.WaitFds()) fds.push_back({fd, POLLIN, 0});
      int wait = static_cast<int>(end - now);
      const int due = engine_.WaitMs();
      if (due >= 0 && due < wait) wait = due;
      poll(fds.data(), fds.size(), wait);
      engine_.Service(events_);
      ++services_;
    }
    return true;
  }
  // Runs until the engine reported an event that matches, after the first
  // `after` events.
  bool RunUntilEvent(const std::function<bool(const EngineEvent&)>& match, size_t after = 0,
                     int ms = 5000) {
    return RunUntil([&] { return Find(match, after) >= 0; }, ms);
  }
  bool RunUntilTitle(const std::string& title, size_t after = 0, int ms = 5000) {
    return RunUntilEvent(
        [&](const EngineEvent& e) { return e.kind == EngineEvent::kTitle && e.text == title; },
        after, ms);
  }
  bool RunUntilKind(EngineEvent::Kind kind, size_t after = 0, int ms = 5000) {
    return RunUntilEvent([&](const EngineEvent& e) { return e.kind == kind; }, after, ms);
  }
  // The index of the first event after `after` that matches, or -1.
  long Find(const std::function<bool(const EngineEvent&)>& match, size_t after = 0) const {
    for (size_t i = after; i < events_.size(); ++i)
      if (match(events_[i])) return static_cast<long>(i);
    return -1;
  }
  // The last event of this kind, or one of kind kNote when there is none.
  EngineEvent Last(EngineEvent::Kind kind) const {
    for (size_t i = events_.size(); i-- > 0;)
      if (events_[i].kind == kind) return events_[i];
    return EngineEvent::Of(EngineEvent::kNote);
  }
  size_t size() const { return events_.size(); }
  // The events, one a line, for a failure's message.
  std::string Dump() const {
    std::string text;
    for (const EngineEvent& e : events_)
      text += std::to_string(e.kind) + " '" + e.text + "' " + std::to_string(e.seconds) + " " +
              std::to_string(static_cast<int>(e.state)) + " " + std::to_string(e.entry) + " " +
              std::to_string(e.volume) + "\n";
    return text;
  }
  const EngineEvents& events() const { return events_; }
  long services() const { return services_; }

 private:
  Engine& engine_;
  EngineEvents events_;
  long services_ = 0;
};
