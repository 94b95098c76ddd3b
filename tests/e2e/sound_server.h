// A private sound server for tests and benchmarks of the volume: Debian's
// PulseAudio daemon with one null sink, listening on a socket in a temporary
// folder, and ALSA's default device pointed at it through the PulseAudio
// plug-in of libasound2-plugins, by an .asoundrc in a HOME of its own.
// Programs that get Environment() (or this process after UseHere()) find the
// server as their default ALSA device; the sink's volume is read with pactl.
// Nothing of it outlives the object, nor the process that made it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

class SoundServer {
 public:
  SoundServer();  // the folder and the configuration; the daemon is not started
  ~SoundServer();
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // The daemon and pactl are installed.
  static bool Available();

  // Starts the daemon and waits until it answers; false when it does not
  // (its log is then in Log()). Starting again after Stop gives a fresh
  // daemon on the same socket, its sink at full volume.
  bool Start();
  // Ends the daemon and waits for it (a paused one is resumed first).
  void Stop();
  // Stops the daemon with SIGSTOP, so that it answers nobody until resumed,
  // as a hung server would.
  void Pause();
  void Resume();
  bool Running() const { return pid_ > 0; }

  // The sink's volume in percent (the mean of its channels), as pactl
  // reports it, or -1 when pactl cannot tell.
  int SinkVolume() const;
  bool SetSinkVolume(int percent) const;

  // HOME=..., XDG_CONFIG_HOME=..., PULSE_RUNTIME_PATH=...: the entries a
  // program needs to take the server as its default ALSA device.
  std::vector<std::string> Environment() const;
  // Puts those entries into this process's environment. A process that used
  // ALSA before must make it read its configuration again.
  void UseHere() const;

  const std::string& folder() const { return folder_; }
  std::string Log() const;

 private:
  std::string Pactl(const std::string& arguments) const;

  std::string folder_;
  std::string socket_;
  pid_t pid_ = -1;
  bool paused_ = false;
};

}  // namespace e2e
