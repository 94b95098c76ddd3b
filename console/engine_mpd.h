// The music server MPD as the engine: its queue is the list, its mixer the
// volume. Found as its own client mpc finds it (MPD_HOST: a host, a
// password@host or a socket path; MPD_PORT; else localhost port 6600).
// Changes, whoever makes them, come from the server's idle notifications;
// the elapsed time is counted between them. A server that is away is looked
// for again a few times a second; the connection is made without blocking,
// and each command waits a second at most.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/engine.h"
#include "posix/unique_fd.h"

struct mpd_connection;

class MpdEngine : public Engine {
 public:
  MpdEngine() = default;
  ~MpdEngine() override;
  MpdEngine(const MpdEngine&) = delete;
  MpdEngine& operator=(const MpdEngine&) = delete;

  const char* Name() const override { return "MPD"; }
  bool ListIsItsOwn() const override { return true; }
  bool Start() override;
  std::vector<int> WaitFds() const override;
  int WaitMs() override;
  void Service(EngineEvents& events) override;
  void Load(int entry) override;
  void Play() override;
  void TogglePause() override;
  void Stop() override;
  void JumpFrames(int frames) override;
  void SeekTo(double seconds) override;
  bool Step(int by) override;
  bool SetVolume(int volume) override;
  void Quit() override;

 private:
  // What the server last said, and what the player was told of it.
  struct Status {
    PlayState state = PlayState::kStopped;
    int entry = -1;
    int length = 0;
    int volume = -1;
    std::string title;
  };

  // The steps of a connection: the socket asked to connect, the connection
  // made, the server's greeting read. Each returns at once.
  void BeginConnect();
  void GoOnConnecting(EngineEvents& events);
  void ReadGreeting(EngineEvents& events);
  void Connected(EngineEvents& events);
  // The connection failed: it is dropped and the server looked for again.
  void Lose();
  // Reads the status and the current song, telling what changed (all of it
  // when told is false).
  void Refresh(EngineEvents& events);
  void EnterIdle();
  // Ends a pending idle, keeping what it reported; false when the
  // connection failed meanwhile.
  bool LeaveIdle();
  // Runs one command between idles. A refusal (nothing plays, say) is no
  // failure of the connection.
  template <typename Run>
  bool Command(Run run);
  double ElapsedNow() const;

  enum class Phase { kAway, kConnecting, kGreeting, kConnected };
  Phase phase_ = Phase::kAway;
  UniqueFd socket_;  // while connecting; the connection owns it afterwards
  std::string greeting_;
  uint64_t deadlineMs_ = 0;
  mpd_connection* connection_ = nullptr;
  bool idling_ = false;
  bool refreshDue_ = false;
  bool away_ = false;      // the player was told so
  bool told_ = false;      // the player knows the status below
  bool quit_ = false;
  uint64_t retryAtMs_ = 0;
  Status status_;
  // The elapsed time as of elapsedAtMs_, counted on while playing.
  double elapsed_ = 0;
  uint64_t elapsedAtMs_ = 0;
  int elapsedShown_ = -1;
};
