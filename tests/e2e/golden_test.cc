// Recorded decoder sessions replayed through the stand-in decoder: its lines
// go to the player as recorded, and each command of the recording is either
// sent by the player on its own or brought about with the matching key. The
// player's commands, trace and exit status are compared with golden files;
// NORVELO_E2E_REGEN=1 rewrites them.
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

struct Step {
  bool toPlayer;  // a decoder line; else a command the player should send
  std::string text;
};

// "< line" and "> line", with or without a leading time stamp; comments and
// elided runs ("# ...") are left out.
std::vector<Step> ReadTranscript(const std::string& path) {
  std::vector<Step> steps;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t mark = line.find_first_of("<>");
    if (mark == std::string::npos || mark + 1 >= line.size()) continue;
    steps.push_back({line[mark] == '<', line.substr(mark + 2)});
  }
  return steps;
}

struct Recording {
  std::string transcript;                    // under tests/data
  std::vector<std::string> args;             // after "-s <slave>"; "{dir}" is the test's
  std::string mappings;                      // written to {dir}/keys.map when not empty
  std::map<std::string, uint16_t> keyFor;    // command -> key that makes the player send it
  std::string stopBefore;                    // recorded command the player does not take part in
};

std::string Replay(const Recording& recording) {
  Session s([] {
    SessionOptions quiet;
    quiet.ready = "";  // the recording has its own ready line
    return quiet;
  }());
  if (!recording.mappings.empty()) s.dir().Write("keys.map", recording.mappings);
  std::vector<std::string> args = {"-s", s.slave()};
  for (std::string arg : recording.args) {
    if (arg.rfind("{dir}", 0) == 0) arg = s.dir().path() + arg.substr(5);
    args.push_back(arg);
  }
  s.Start(args);
  EXPECT_TRUE(s.WaitReady());

  size_t sent = 0;
  for (const Step& step : ReadTranscript(std::string(E2E_DATA_DIR) + "/" + recording.transcript)) {
    if (step.toPlayer) {
      s.DecoderSays(step.text + "\n");
      continue;
    }
    if (step.text == recording.stopBefore) break;
    if (step.text != "QUIT") {
      EXPECT_TRUE(s.Sync());
    }
    const auto sentAlready = [&] {
      const std::vector<std::string> commands = s.Commands();
      return commands.size() > sent && commands[sent] == step.text;
    };
    if (!sentAlready()) {
      const auto key = recording.keyFor.find(step.text);
      if (key == recording.keyFor.end()) {
        ADD_FAILURE() << "no key for " << step.text;
        break;
      }
      s.Press(kJunk);  // so that a key pressed twice is not a repeat
      s.SendKey(key->second);
    }
    EXPECT_TRUE(s.WaitFor(sentAlready)) << "waiting for " << step.text;
    ++sent;
  }
  const int status = s.WaitExit(10000);

  std::string result = "# commands\n";
  for (const std::string& command : s.Commands()) result += command + "\n";
  result += "# trace\n";
  for (const std::string& line : s.TraceLines())
    if (line.rfind("#sync ", 0) != 0) result += line + "\n";
  result += "# exit " + std::to_string(status) + "\n";
  return result;
}

void CheckGolden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(E2E_GOLDEN_DIR) + "/" + name;
  const char* regen = getenv("NORVELO_E2E_REGEN");
  if (regen && std::string(regen) == "1") {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  EXPECT_EQ(actual, ReadWholeFile(path)) << "golden file " << path;
}

// Tags of both versions, the tag block, untagged names, a very long track.
TEST(Golden, DummyOutputSessionPlaysThrough) {
  Recording r;
  r.transcript = "mpg123-1.31-remote.txt";
  r.args = {"/music/v1.mp3", "/music/v2.mp3", "/music/both.mp3", "/music/a.mp3",
            "/music/long.mp3"};
  r.stopBefore = "PAUSE";  // the recording goes on without a play list
  CheckGolden("remote-session.golden", Replay(r));
}

// Pause, resume, both jumps, a load over a playing track, stop, quit.
TEST(Golden, RealTimeSessionDrivenByKeys) {
  Recording r;
  r.transcript = "mpg123-1.31-realtime.txt";
  // The defaults, with keys for both jumps.
  r.mappings = "350C\n3535\n3530\n3536\n3410\n3411\n241A\n3523\n3522\n3520\n3521\n0\n0\n353F\n";
  r.args = {"-m", "{dir}/keys.map", "/music/long.mp3", "/music/v2.mp3", "/music/long.mp3"};
  r.keyFor = {{"PAUSE", kPause}, {"JUMP +200", 0x3523}, {"JUMP -200", 0x3522},
              {"LOAD /music/v2.mp3", kNext}, {"STOP", kStop}, {"QUIT", kQuit}};
  CheckGolden("realtime-session.golden", Replay(r));
}

}  // namespace
}  // namespace e2e
