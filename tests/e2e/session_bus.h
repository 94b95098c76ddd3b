// A private session bus for tests and benchmarks, with desktop players on
// it: Debian's dbus-daemon on a socket in a temporary folder (no service is
// started on demand, so no playerctld comes by itself), and mpv with its
// MPRIS plug-in, playing generated silent tracks on a null output. Observed
// and changed with playerctl. Nothing of it outlives the object, nor the
// process that made it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "daemon.h"
#include "tests/support/temp_dir.h"

namespace e2e {

class SessionBus {
 public:
  // The folder, the configuration and three tracks, "Artist N" - "Album" -
  // "Song N" (N from 1) of trackSeconds each; nothing is started.
  explicit SessionBus(double trackSeconds = 60);
  ~SessionBus();

  // dbus-daemon, mpv with the plug-in, playerctl and lame are installed.
  static bool Available();

  // Starts the bus and waits until it answers.
  bool Start();

  // A new player playing the tracks from the first'th (0-based; paused
  // there, when told so); its name on the bus without the
  // org.mpris.MediaPlayer2. prefix, once it is there, or "" when it never
  // came.
  std::string StartPlayer(bool paused = false, int first = 0);
  void StopPlayer(const std::string& name);
  // playerctld, the daemon that keeps track of the active player.
  bool StartPlayerctld();

  // playerctl's output for the arguments, against this bus ("-p NAME ...").
  std::string Playerctl(const std::string& arguments) const;
  std::string Status(const std::string& player) const;  // "Playing", "Paused", "Stopped"
  std::string Title(const std::string& player) const;   // xesam:title

  // DBUS_SESSION_BUS_ADDRESS for a client of this bus.
  std::vector<std::string> Environment() const;
  std::string Log() const;

 private:
  std::vector<std::string> PlayerNames() const;

  TempDir dir_{"norvelo-bus"};
  std::string address_;
  std::vector<std::string> tracks_;
  Daemon bus_;
  Daemon ctld_;
  // Each player with its name.
  std::vector<std::pair<std::string, std::unique_ptr<Daemon>>> players_;
};

}  // namespace e2e
