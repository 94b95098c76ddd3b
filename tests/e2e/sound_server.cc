#include "sound_server.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "posix/child.h"
#include "posix/posix.h"
#include "tests/support/proc.h"

namespace e2e {
namespace {

constexpr const char* kSink = "norvelo_null";
constexpr int kStartMs = 10000;
constexpr int kStopGraceMs = 5000;

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

}  // namespace

SoundServer::SoundServer() {
  std::string templ = (std::filesystem::temp_directory_path() / "norvelo-sound.XXXXXX").string();
  if (mkdtemp(&templ[0]) == nullptr) abort();
  folder_ = templ;
  socket_ = folder_ + "/native";
  for (const char* dir : {"/home/.config/pulse", "/runtime", "/state"})
    std::filesystem::create_directories(folder_ + dir);
  // The daemon loads nothing but this: the socket (no cookie to share) and
  // the sink, which is the default one.
  WriteFile(folder_ + "/server.pa",
            "load-module module-native-protocol-unix socket=" + socket_ +
                " auth-anonymous=1\n"
                "load-module module-null-sink sink_name=" + kSink + "\n"
                "set-default-sink " + kSink + "\n");
  // The default device and its mixer are this server's, whatever else the
  // machine has; a client never starts a daemon of its own.
  const std::string server = "server \"unix:" + socket_ + "\"";
  WriteFile(folder_ + "/home/.asoundrc", "pcm.!default { type pulse " + server +
                                             " }\nctl.!default { type pulse " + server + " }\n");
  WriteFile(folder_ + "/home/.config/pulse/client.conf", "autospawn = no\n");
}

SoundServer::~SoundServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

bool SoundServer::Available() { return FoundInPath("pulseaudio") && FoundInPath("pactl"); }

bool SoundServer::Start() {
  if (Running()) return true;
  // Everything the child needs is made before the fork.
  std::vector<std::string> env = Environment();
  env.push_back("XDG_RUNTIME_DIR=" + folder_ + "/runtime");
  env.push_back("PULSE_STATE_PATH=" + folder_ + "/state");
  if (const char* path = getenv("PATH")) env.push_back(std::string("PATH=") + path);
  const std::string script = folder_ + "/server.pa";
  const std::vector<std::string> args = {"pulseaudio", "-n", "-F", script,
                                         "--exit-idle-time=-1", "--daemonize=no",
                                         "--use-pid-file=no", "--log-target=stderr"};
  std::vector<char*> argv = ArgvOf(args), envp = ArgvOf(env);
  const int log = open((folder_ + "/pulse.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  // A test that dies takes the daemon with it.
  ChildSetup setup;
  setup.out = log;
  setup.err = log;
  const pid_t pid = ForkChild(setup);
  if (pid < 0) {
    if (log >= 0) close(log);
    return false;
  }
  if (pid == 0) {
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (log >= 0) close(log);
  pid_ = pid;
  const uint64_t end = MonotonicMs() + kStartMs;
  while (MonotonicMs() < end) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    if (Pactl("info").find("Default Sink: " + std::string(kSink)) != std::string::npos)
      return true;
    SleepMs(50);
  }
  Stop();
  return false;
}

void SoundServer::Pause() {
  if (pid_ <= 0 || kill(pid_, SIGSTOP) != 0) return;
  paused_ = true;
  // The signal is taken when the daemon next runs: until then it may still
  // answer one more request.
  const uint64_t end = MonotonicMs() + kStopGraceMs;
  for (ProcStat stat; ReadProcStat(pid_, stat) && stat.state != 'T' && MonotonicMs() < end;)
    SleepMs(5);
}

void SoundServer::Resume() {
  if (pid_ > 0 && paused_) kill(pid_, SIGCONT);
  paused_ = false;
}

void SoundServer::Stop() {
  if (pid_ <= 0) return;
  Resume();  // else it takes SIGTERM only when it runs again
  kill(pid_, SIGTERM);
  if (!ReapWithin(pid_, kStopGraceMs)) {
    kill(pid_, SIGKILL);
    ReapWithin(pid_, kStopGraceMs);
  }
  pid_ = -1;
  std::error_code ignored;
  std::filesystem::remove(socket_, ignored);
}

std::string SoundServer::Pactl(const std::string& arguments) const {
  return CommandOutput("pactl -s unix:" + socket_ + " " + arguments + " 2>/dev/null");
}

int SoundServer::SinkVolume() const {
  // "Volume: front-left: 26214 /  40% / -23.88 dB,   front-right: ..."
  const std::string out = Pactl(std::string("get-sink-volume ") + kSink);
  int sum = 0, channels = 0;
  for (size_t percent = out.find('%'); percent != std::string::npos;
       percent = out.find('%', percent + 1)) {
    size_t digits = percent;
    while (digits > 0 && isdigit(static_cast<unsigned char>(out[digits - 1]))) --digits;
    if (digits == percent) continue;
    sum += atoi(out.c_str() + digits);
    ++channels;
  }
  return channels == 0 ? -1 : sum / channels;
}

bool SoundServer::SetSinkVolume(int percent) const {
  Pactl(std::string("set-sink-volume ") + kSink + " " + std::to_string(percent) + "%");
  return SinkVolume() == percent;
}

std::vector<std::string> SoundServer::Environment() const {
  // Without a runtime folder of their own, clients make one under /tmp that
  // nobody removes.
  return {"HOME=" + folder_ + "/home", "XDG_CONFIG_HOME=" + folder_ + "/home/.config",
          "PULSE_RUNTIME_PATH=" + folder_ + "/runtime"};
}

void SoundServer::UseHere() const {
  for (const std::string& entry : Environment()) {
    const size_t eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
}

std::string SoundServer::Log() const { return ReadWholeFile(folder_ + "/pulse.log"); }

}  // namespace e2e
