// norvelo-pace RATE -- decoder [args...]: runs the decoder with its standard
// output into a pipe that is drained at RATE bytes a second and discarded.
// Standard input and error stay the decoder's own. A SIGTERM, SIGINT or
// SIGHUP is passed on to the decoder, which is reaped before this ends.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/child.h"
#include "posix/posix.h"
#include "tools/demo/pacer.h"

namespace {
volatile sig_atomic_t stopping = 0;
pid_t decoder = -1;

void PassOn(int sig) {
  stopping = 1;
  if (decoder > 0) kill(decoder, sig);
}
}  // namespace

int main(int argc, char* argv[]) {
  char* end = nullptr;
  const long rate = argc > 1 ? strtol(argv[1], &end, 10) : 0;
  if (argc < 4 || *end != '\0' || rate <= 0 || rate > 100000000 || strcmp(argv[2], "--") != 0) {
    fprintf(stderr, "Usage: norvelo-pace BYTES_PER_SECOND -- decoder [args...]\n");
    return 2;
  }
  int audio[2];
  if (!MakePipe(audio)) {
    fprintf(stderr, "norvelo-pace: cannot create a pipe: %s\n", strerror(errno));
    return 1;
  }
  // A small pipe keeps the decoder's idea of the position close to what has
  // been "played".
  fcntl(audio[0], F_SETPIPE_SZ, 4096);

  struct sigaction sa {};
  sa.sa_handler = PassOn;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);

  // Standard input and error stay the decoder's own; its output is the pipe.
  ChildSetup setup;
  setup.out = audio[1];
  decoder = ForkChild(setup);
  if (decoder < 0) {
    fprintf(stderr, "norvelo-pace: cannot fork: %s\n", strerror(errno));
    return 1;
  }
  if (decoder == 0) ExecOrExit(std::vector<std::string>(argv + 3, argv + argc), "norvelo-pace");
  close(audio[1]);

  Pacer pacer(static_cast<uint32_t>(rate));
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(audio[0], buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const uint64_t waitUs = pacer.Took(static_cast<size_t>(n), MonotonicUs());
    // Once asked to stop, the decoder must not hang on a full pipe.
    if (stopping) continue;
    SleepUs(waitUs);  // a signal to pass on ends it
  }
  int status = 0;
  while (waitpid(decoder, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
