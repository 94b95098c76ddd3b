#include "console/engine_mpg123.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "posix/posix.h"
#include "posix/trace.h"

Mpg123Engine::~Mpg123Engine() { ClosePipes(); }

void Mpg123Engine::ClosePipes() {
  for (int* fd : {&input_, &output_}) {
    if (*fd >= 0 && !borrowed_) close(*fd);
    *fd = -1;
  }
  borrowed_ = false;
}

bool Mpg123Engine::Start() {
  ClosePipes();
  ResetDecoderChannel(channel_);
  outputEnded_ = false;
  int out[2] = {-1, -1}, in[2] = {-1, -1};
  if (!MakePipe(out) || !MakePipe(in)) {
    for (int fd : out)
      if (fd >= 0) close(fd);
    Trace("Unable to create mpg123 stdin/out pipe!\n\n");
    return false;
  }
  // The start-up message of a shell that cannot run goes where the player's
  // own messages go.
  const int report = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  ChildSetup setup;
  setup.in = in[0];
  setup.out = out[1];
  setup.keep = {report};
  setup.ownGroup = true;
  const pid_t pid = process_.Start(setup);
  if (pid == 0) {
    UseUtf8CharacterType();
    // The shell replaces itself with the decoder, so that the decoder itself
    // dies with the player, however the player ends.
    char command[64];
    snprintf(command, sizeof command, "exec mpg123 -R - >&%d 2>&1 0<&%d", STDOUT_FILENO,
             STDIN_FILENO);
    execlp("sh", "sh", "-c", command, static_cast<char*>(nullptr));
    const char message[] = "mpg123 exec error!\n\n";
    if (write(report, message, sizeof message - 1) < 0) {
    }
    _exit(1);
  }
  if (report >= 0) close(report);
  close(out[1]);
  close(in[0]);
  if (pid < 0) {
    close(out[0]);
    close(in[1]);
    Trace("Unable to create mpg123 process!\n\n");
    return false;
  }
  output_ = out[0];
  input_ = in[1];
  for (int fd : {output_, input_}) SetNonBlocking(fd);
  return true;
}

std::vector<int> Mpg123Engine::WaitFds() const {
  if (output_ < 0 || outputEnded_) return {};
  return {output_};
}

void Mpg123Engine::Service(EngineEvents& events) {
  char buffer[128];
  const ssize_t got = read(output_, buffer, sizeof buffer - 1);
  if (got > 0) {
    Feed(buffer, static_cast<size_t>(got), events);
  } else if (got == 0 && !outputEnded_) {
    // End of file: nothing is left to write to it, so the decoder has ended.
    outputEnded_ = true;
    events.push_back(EngineEvent::Of(EngineEvent::kEnded));
  }
}

void Mpg123Engine::Feed(const char* text, size_t length, EngineEvents& events) {
  ReadDecoderOutput(channel_, text, length, events);
}

void Mpg123Engine::Send(const std::string& line) {
  // Formatted whole, never cut: a shortened LOAD line would name another file.
  const std::string command = line + "\n";
  ssize_t ignored = write(input_, command.data(), command.size());
  (void)ignored;
}

void Mpg123Engine::Load(int entry) {
  if (entry >= 0 && entry < static_cast<int>(list_.size()))
    Send("LOAD " + list_[static_cast<size_t>(entry)]);
}

void Mpg123Engine::JumpFrames(int frames) {
  Send((frames < 0 ? "JUMP -" : "JUMP +") + std::to_string(frames < 0 ? -frames : frames));
}

void Mpg123Engine::SeekTo(double seconds) {
  char line[48];
  snprintf(line, sizeof line, "JUMP %.2fs", seconds > 0 ? seconds : 0.0);
  Send(line);
}

bool Mpg123Engine::SetVolume(int volume) {
  Send("VOLUME " + std::to_string(volume));
  return true;
}
