// A private music server for tests and benchmarks: Debian's mpd with a
// configuration of its own (null audio output, its database and state in a
// temporary folder, a free port on 127.0.0.1) over a music folder of
// generated silent tracks, all of it in its queue. Observed and changed with
// mpc. Nothing of it outlives the object, nor the process that made it.
#pragma once

#include <string>
#include <vector>

#include "daemon.h"
#include "tests/support/temp_dir.h"

namespace e2e {

struct MpdOptions {
  int tracks = 3;              // "Artist N" - "Album" - "Song N", N from 1
  double trackSeconds = 60;
  bool mixer = true;           // false: a server without volume control
};

class MpdServer {
 public:
  explicit MpdServer(MpdOptions options = {});
  ~MpdServer();

  // mpd, mpc and lame are installed.
  static bool Available();

  // Starts the server on its port and waits until it answers with its queue
  // filled; false when it does not (its log is then in Log()). Starting again
  // after Stop gives the same port and, from its state file, the same queue.
  bool Start();
  void Stop() { daemon_.Stop(); }
  void Kill() { daemon_.Stop(true); }

  // mpc's output for the arguments, against this server.
  std::string Mpc(const std::string& arguments) const;
  // From `mpc status`: "playing", "paused" or "stopped"; the queue position
  // (1-based, 0 when none); the volume (-1: none).
  std::string State() const;
  int Position() const;
  int Volume() const;

  // MPD_HOST and MPD_PORT for a client of this server.
  std::vector<std::string> Environment() const;
  int port() const { return port_; }
  std::string Log() const;

 private:
  MpdOptions options_;
  TempDir dir_{"norvelo-mpd"};
  int port_ = 0;
  Daemon daemon_;
};

}  // namespace e2e
