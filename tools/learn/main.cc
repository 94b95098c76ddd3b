// norvelo-learn [-s device] file: writes a remote mappings file for the
// user's own remote, one key per slot, read from the control unit.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "posix/posix.h"
#include "posix/serial.h"
#include "link/keys.h"
#include "posix/unique_fd.h"
#include "tools/learn/learner.h"

namespace {
const char kUsage[] =
    "Usage: norvelo-learn [-s device] file\n"
    "  -s device   the control unit's serial device (default: /dev/ttyS0)\n"
    "  file        the remote mappings file to write, for norvelo -m file\n";

void Prompt(const Learner& learner) {
  printf("[%2d/%d] %-15s ", learner.Slot() + 1, kKeySlots, KeySlotName(learner.Slot()));
  fflush(stdout);
}

// The repeat window and a lone byte's expiry measure intervals only: a clock
// that the wall clock's steps cannot move.
uint32_t LearnerTick() { return static_cast<uint32_t>(MonotonicMs()); }

// Says what became of one key or Enter; true when the prompt is due again.
bool Report(const LearnOutcome& outcome) {
  switch (outcome.kind) {
    case LearnOutcome::kAssigned: printf("%04X\n", outcome.code); return true;
    case LearnOutcome::kSkipped: printf("(no key)\n"); return true;
    case LearnOutcome::kTaken:
      printf("%04X is already %s; press another key, or Enter for none\n", outcome.code,
             KeySlotName(outcome.owner));
      return true;
    case LearnOutcome::kZero:
      printf("0000 cannot be told from no key; press another key, or Enter for none\n");
      return true;
    case LearnOutcome::kRepeat:
    case LearnOutcome::kFinished: return false;
  }
  return false;
}
}  // namespace

int main(int argc, char* argv[]) {
  std::string device = kDefaultSerport;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-s" && i + 1 < argc) device = argv[++i];
    else if (arg == "-h" || arg == "--help") {
      fputs(kUsage, stdout);
      return 0;
    } else if (arg.empty() || arg[0] == '-' || !path.empty()) {
      fprintf(stderr, "norvelo-learn: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 1;
    } else {
      path = arg;
    }
  }
  if (path.empty()) {
    fputs(kUsage, stderr);
    return 1;
  }
  LineRefusal refusal;
  UniqueFd serial(OpenSerial(device, &refusal));
  if (!serial.Valid()) {
    fprintf(stderr, "norvelo-learn: unable to %s %s: %s\n", refusal.opened ? "use" : "open",
            device.c_str(), refusal.reason.c_str());
    return 1;
  }

  printf("Learning the keys of your remote from %s into %s.\n"
         "For each action press its key on the remote, or Enter to leave it without one.\n",
         device.c_str(), path.c_str());
  Learner learner;
  FrameAssembler assembler;
  bool keyboard = true;
  Prompt(learner);
  while (!learner.Finished()) {
    const int lone = assembler.Expire(LearnerTick());
    pollfd fds[2] = {{serial.Get(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, keyboard ? 2 : 1, lone) < 0 && errno != EINTR) break;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      printf("\n");
      fprintf(stderr, "norvelo-learn: the line to the control unit is gone; nothing written\n");
      return 1;
    }
    if (fds[0].revents & POLLIN) {
      uint8_t bytes[2], frame[2];
      ssize_t n;
      while (!learner.Finished() && (n = read(serial.Get(), bytes, assembler.Wanted())) > 0) {
        const uint32_t now = LearnerTick();
        if (assembler.Take(bytes, static_cast<int>(n), now, frame) &&
            Report(learner.OnFrame(frame[0], frame[1], now)) && !learner.Finished())
          Prompt(learner);
      }
    }
    if (keyboard && (fds[1].revents & (POLLIN | POLLHUP))) {
      char text[256];
      const ssize_t n = read(STDIN_FILENO, text, sizeof text);
      if (n <= 0) keyboard = false;  // no keyboard: keys from the remote only
      for (ssize_t i = 0; i < n && !learner.Finished(); ++i)
        if (text[i] == '\n' && Report(learner.Skip()) && !learner.Finished()) Prompt(learner);
    }
  }
  std::string error;
  if (!WriteMappings(path, learner.Keys(), error)) {
    fprintf(stderr, "norvelo-learn: %s\n", error.c_str());
    return 1;
  }
  printf("Wrote %s; use it with: norvelo -m %s ...\n", path.c_str(), path.c_str());
  return 0;
}
