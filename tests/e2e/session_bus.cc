#include "session_bus.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "posix/posix.h"
#include "tests/support/proc.h"

namespace e2e {
namespace {

constexpr int kStartMs = 15000;
constexpr char kPlugin[] = "/usr/lib/mpv-mpris/mpris.so";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', from)) {
    if (nl > from) lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  return lines;
}

}  // namespace

SessionBus::SessionBus(double trackSeconds) : address_("unix:path=" + dir_.Join("bus")) {
  for (int n = 1; n <= 3; ++n) {
    const std::string number = std::to_string(n);
    tracks_.push_back(dir_.Join("0" + number + ".mp3"));
    WriteSilentMp3(tracks_.back(), trackSeconds,
                   "--ta 'Artist " + number + "' --tl Album --tt 'Song " + number + "'");
  }
  // A session bus that lets everyone own and call anything, and starts
  // nothing on demand.
  dir_.Write("bus.conf",
             "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
             "<busconfig>\n  <type>session</type>\n  <listen>" + address_ + "</listen>\n"
             "  <auth>EXTERNAL</auth>\n"
             "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
             "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
}

SessionBus::~SessionBus() {
  players_.clear();
  ctld_.Stop();
  bus_.Stop();
}

bool SessionBus::Available() {
  for (const char* program : {"/usr/bin/dbus-daemon", "/usr/bin/mpv", kPlugin, "/usr/bin/playerctl",
                              "/usr/bin/lame"})
    if (access(program, R_OK) != 0) return false;
  return true;
}

bool SessionBus::Start() {
  if (!bus_.Start({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + dir_.Join("bus.conf")},
                  {}, dir_.Join("bus.log")))
    return false;
  const uint64_t end = MonotonicMs() + kStartMs;
  while (MonotonicMs() < end && bus_.Running()) {
    int status = -1;
    CommandOutput("dbus-send --bus=" + address_ +
                      " --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId "
                      ">/dev/null 2>&1",
                  &status);
    if (status == 0) return true;
    SleepMs(50);
  }
  return false;
}

std::vector<std::string> SessionBus::PlayerNames() const { return Lines(Playerctl("-l 2>/dev/null")); }

std::string SessionBus::StartPlayer(bool paused, int first) {
  const std::vector<std::string> before = PlayerNames();
  std::vector<std::string> args = {"mpv", "--no-config", std::string("--script=") + kPlugin,
                                   "--ao=null", "--vo=null", "--idle=yes", "--no-terminal",
                                   "--really-quiet"};
  if (paused) args.push_back("--pause");
  args.push_back("--playlist-start=" + std::to_string(first));
  args.insert(args.end(), tracks_.begin(), tracks_.end());
  auto player = std::make_unique<Daemon>();
  if (!player->Start(args, Environment(), dir_.Join("mpv.log"))) return "";
  const uint64_t end = MonotonicMs() + kStartMs;
  while (MonotonicMs() < end && player->Running()) {
    for (const std::string& name : PlayerNames()) {
      if (name == "playerctld" || std::find(before.begin(), before.end(), name) != before.end())
        continue;
      // Ready once it tells what it plays.
      if (Title(name).empty()) continue;
      players_.emplace_back(name, std::move(player));
      return name;
    }
    SleepMs(50);
  }
  return "";
}

void SessionBus::StopPlayer(const std::string& name) {
  for (auto& [each, player] : players_)
    if (each == name) player->Stop();
}

bool SessionBus::StartPlayerctld() {
  if (!ctld_.Start({"playerctld"}, Environment(), dir_.Join("playerctld.log"))) return false;
  const uint64_t end = MonotonicMs() + kStartMs;
  while (MonotonicMs() < end && ctld_.Running()) {
    const std::vector<std::string> names = PlayerNames();
    if (std::find(names.begin(), names.end(), "playerctld") != names.end()) return true;
    SleepMs(50);
  }
  return false;
}

std::string SessionBus::Playerctl(const std::string& arguments) const {
  return CommandOutput("DBUS_SESSION_BUS_ADDRESS='" + address_ + "' timeout 10 playerctl " + arguments);
}

std::string SessionBus::Status(const std::string& player) const {
  const std::vector<std::string> lines = Lines(Playerctl("-p " + player + " status 2>/dev/null"));
  return lines.empty() ? "" : lines[0];
}

std::string SessionBus::Title(const std::string& player) const {
  const std::vector<std::string> lines =
      Lines(Playerctl("-p " + player + " metadata title 2>/dev/null"));
  return lines.empty() ? "" : lines[0];
}

std::vector<std::string> SessionBus::Environment() const {
  return {"DBUS_SESSION_BUS_ADDRESS=" + address_};
}

std::string SessionBus::Log() const {
  return ReadWholeFile(dir_.Join("bus.log")) + ReadWholeFile(dir_.Join("mpv.log"));
}

}  // namespace e2e
