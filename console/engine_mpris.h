// The desktop's player on the session bus as the engine, through its MPRIS
// interface: by name (-p mpris:NAME takes org.mpris.MediaPlayer2.NAME or a
// name below it), else the one playerctld calls active, else the one that
// began playing last, else the first there is. Players come and go; the
// choice follows them. Changes come from the players' signals, the elapsed
// time is counted between them, and every call is made without waiting for
// its answer, so that a player that hangs never holds up the loop.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

#include "console/engine.h"

class MprisEngine : public Engine {
 public:
  // name: "" for whichever player the rule picks.
  explicit MprisEngine(std::string name);
  ~MprisEngine() override;
  MprisEngine(const MprisEngine&) = delete;
  MprisEngine& operator=(const MprisEngine&) = delete;

  const char* Name() const override { return "MPRIS"; }
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
  struct Player {
    std::string owner;        // its unique name on the bus, once known
    bool known = false;       // its properties were read
    PlayState state = PlayState::kStopped;
    uint64_t playedSince = 0;  // when it last began to play, in the order of such news; 0 never
    std::string title;
    int entry = 0;
    int volume = -1;  // -1: it has none
    std::string trackId;
    double position = 0;  // seconds, as of positionAtMs
    uint64_t positionAtMs = 0;
  };
  // What the player was told of the chosen one.
  struct Told {
    bool valid = false;
    std::string title;
    int entry = -1;
    PlayState state = PlayState::kStopped;
    int volume = -1;
  };

  void Connect();
  void Disconnect();
  void AddPlayer(const std::string& name, const std::string& owner);
  void ReadProperties(sd_bus_message* message, Player& player);
  void AskPosition(const std::string& name);
  void Choose();
  void Tell();
  double Elapsed(const Player& player) const;
  Player* Chosen();
  // A call to destination whose answer, whenever it comes, goes to handler
  // (nullptr: nobody waits for it); the handler finds the destination by
  // NameOfCall.
  bool Send(const std::string& destination, const char* interface, const char* member,
            int (*handler)(sd_bus_message*, void*, sd_bus_error*), const char* types, ...);
  bool SendV(const std::string& destination, const char* interface, const char* member,
             int (*handler)(sd_bus_message*, void*, sd_bus_error*), const char* types,
             va_list args);
  // A method of the chosen player's; false when there is none.
  bool Call(const char* member, const char* types = "", ...);

  static int OnNames(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnAll(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnPosition(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnPropertiesChanged(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnSeeked(sd_bus_message* m, void* self, sd_bus_error* error);
  static int OnActive(sd_bus_message* m, void* self, sd_bus_error* error);

  std::string wanted_;  // the bus name, or its prefix, the -p option gave
  sd_bus* bus_ = nullptr;
  uint64_t retryAtMs_ = 0;
  bool listed_ = false;  // the bus said which names it has
  bool quit_ = false;
  std::map<std::string, Player> players_;  // by bus name
  std::vector<std::string> active_;        // playerctld's players, the active one first
  uint64_t news_ = 0;
  std::string chosen_;
  bool away_ = false;  // the player was told there is none
  Told told_;
  int elapsedShown_ = -1;
  EngineEvents pending_;
};
