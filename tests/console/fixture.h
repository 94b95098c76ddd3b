// A player in a test: real pipes stand in for the decoder's input and the
// serial line; clock and mixer are fakes.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/clock.h"
#include "console/engine_mpg123.h"
#include "console/events.h"
#include "console/mixer.h"
#include "console/player.h"
#include "posix/trace.h"
#include "posix/posix.h"

// The monotonic time moves with the tick, always forward (a tick set back
// counts as a move across its wrap), so that the line's pace follows the test.
struct FakeClock : PlayerClock {
  uint32_t now = 100000;
  uint32_t Now() override { return now; }
  uint64_t MonotonicUs() override {
    us_ += static_cast<uint64_t>(now - seen_) * 1000u;
    seen_ = now;
    return us_;
  }

 private:
  uint32_t seen_ = 100000;
  uint64_t us_ = 1000000000;
};

struct FakeMixer : Mixer {
  int volume = 40;
  bool present = true;
  int ceiling = 255;  // the most the device takes
  std::vector<int> set;
  int GetVolume() override { return present ? volume : 255; }
  int SetVolume(int v) override {
    if (!present) return -1;
    set.push_back(v);
    volume = std::min(v & 0xFF, ceiling);
    return volume;
  }
};

// The endings a run of handlers asked for: the status, or -1 for a kill.
struct Endings {
  std::vector<int> quits;
  Next Note(Next next) {
    if (next.kind == Next::kQuit) quits.push_back(next.status);
    if (next.kind == Next::kKill) quits.push_back(-1);
    return next;
  }
};

class Pipe {
 public:
  Pipe() {
    if (pipe(fds_) == 0) {
      SetNonBlocking(fds_[0]);
      SetNonBlocking(fds_[1]);
    }
  }
  ~Pipe() {
    close(fds_[0]);
    close(fds_[1]);
  }
  int reader() const { return fds_[0]; }
  int writer() const { return fds_[1]; }
  std::string Drain() {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds_[0], buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
    return all;
  }

 private:
  int fds_[2] = {-1, -1};
};

struct TraceCapture {
  std::string text;
  TraceCapture() { SetTraceCapture(&text); }
  ~TraceCapture() { SetTraceCapture(nullptr); }
};

// The mpg123 engine without its process: its command lines go to a pipe,
// and the tests feed what the decoder would have written.
struct TestPlayer {
  PlayerState state;
  Mpg123Engine engine{state.transport.playlist};
  FakeClock clock;
  FakeMixer mixer;
  Endings exits;
  Pipe decoder;
  Pipe serial;
  std::string trace;

  explicit TestPlayer(int tracks = 3) {
    for (int i = 0; i < tracks; ++i)
      state.transport.playlist.push_back("/m/t" + std::to_string(i + 1) + ".mp3");
    engine.SetInput(decoder.writer());
    state.engine = &engine;
    state.line.serialFd = serial.writer();
    state.clock = &clock;
    state.mixer = &mixer;
    SetTraceCapture(&trace);
  }
  ~TestPlayer() { SetTraceCapture(nullptr); }

  std::string Commands() { return decoder.Drain(); }
  // One read of decoder output, acted on as the main loop does: reports
  // after one that ends the player are not looked at.
  Next Feed(const std::string& text) {
    EngineEvents events;
    engine.Feed(text.data(), text.size(), events);
    for (const EngineEvent& event : events) {
      const Next next = HandleEngineEvent(state, event);
      if (!next.GoesOn()) return exits.Note(next);
    }
    return Next::GoOn();
  }
  // A new decoder took the place of one that ended.
  void Restart() {
    ResetDecoderChannel(engine.channel());
    EngineRestarted(state.now, state.transport);
  }
  std::string TakeTrace() {
    std::string t;
    t.swap(trace);
    return t;
  }
};
