#include "mpd_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "posix/posix.h"
#include "tests/support/proc.h"

namespace e2e {
namespace {

constexpr int kStartMs = 15000;

// A port nobody listens on now; the server takes it a moment later.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

}  // namespace

MpdServer::MpdServer(MpdOptions options) : options_(options), port_(FreePort()) {
  const std::string music = dir_.MakeDir("music");
  dir_.MakeDir("playlists");
  for (int n = 1; n <= options_.tracks; ++n) {
    const std::string number = std::to_string(n);
    char name[32];
    snprintf(name, sizeof name, "/%02d.mp3", n);
    WriteSilentMp3(music + name, options_.trackSeconds,
                   "--ta 'Artist " + number + "' --tl Album --tt 'Song " + number + "'");
  }
  dir_.Write("mpd.conf",
             "music_directory \"" + music + "\"\n"
             "playlist_directory \"" + dir_.Join("playlists") + "\"\n"
             "db_file \"" + dir_.Join("db") + "\"\n"
             "state_file \"" + dir_.Join("state") + "\"\n"
             "log_file \"" + dir_.Join("mpd.log") + "\"\n"
             "bind_to_address \"127.0.0.1\"\n"
             "port \"" + std::to_string(port_) + "\"\n"
             "auto_update \"no\"\n"
             "zeroconf_enabled \"no\"\n"
             "audio_output {\n  type \"null\"\n  name \"null\"\n  mixer_type \"" +
             (options_.mixer ? "software" : "none") + "\"\n}\n");
}

MpdServer::~MpdServer() { Stop(); }

bool MpdServer::Available() {
  for (const char* program : {"/usr/bin/mpd", "/usr/bin/mpc", "/usr/bin/lame"})
    if (access(program, X_OK) != 0) return false;
  return true;
}

bool MpdServer::Start() {
  if (daemon_.Running()) return true;
  if (!daemon_.Start({"mpd", "--no-daemon", dir_.Join("mpd.conf")}, {}, dir_.Join("stderr.log")))
    return false;
  const uint64_t end = MonotonicMs() + kStartMs;
  int status = -1;
  while (MonotonicMs() < end && daemon_.Running()) {
    CommandOutput("mpc -q -h 127.0.0.1 -p " + std::to_string(port_) + " status >/dev/null 2>&1",
                  &status);
    if (status == 0) break;
    SleepMs(50);
  }
  if (status != 0) return false;
  // A first start scans the folder and queues it all; a later one finds
  // both again in its database and state file.
  if (Mpc("playlist").empty()) {
    Mpc("update --wait");
    Mpc("add /");
  }
  return !Mpc("playlist").empty();
}

std::string MpdServer::Mpc(const std::string& arguments) const {
  return CommandOutput("timeout 10 mpc -h 127.0.0.1 -p " + std::to_string(port_) + " " +
                       arguments + " 2>&1");
}

std::string MpdServer::State() const {
  std::smatch match;
  const std::string status = Mpc("status");
  if (std::regex_search(status, match, std::regex("\\[(playing|paused)\\]"))) return match[1];
  return "stopped";
}

int MpdServer::Position() const {
  std::smatch match;
  const std::string status = Mpc("status");
  if (std::regex_search(status, match, std::regex("#(\\d+)/"))) return std::stoi(match[1]);
  return 0;
}

int MpdServer::Volume() const {
  std::smatch match;
  const std::string status = Mpc("status");
  if (std::regex_search(status, match, std::regex("volume: *(\\d+)%"))) return std::stoi(match[1]);
  return -1;
}

std::vector<std::string> MpdServer::Environment() const {
  return {"MPD_HOST=127.0.0.1", "MPD_PORT=" + std::to_string(port_)};
}

std::string MpdServer::Log() const {
  return ReadWholeFile(dir_.Join("mpd.log")) + ReadWholeFile(dir_.Join("stderr.log"));
}

}  // namespace e2e
