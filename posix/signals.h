// Signals of a program's main process reach its loop as bytes on a pipe: the
// handler writes the signal's number and nothing else, and the loop acts on
// it between two passes, where the state is whole.
#pragma once

#include <signal.h>

#include <initializer_list>

// Takes these signals through the pipe. SIGPIPE is ignored: a reader that
// went away (a pager, a closed terminal) costs a write, not the program.
// False when the pipe cannot be made.
bool InstallSignalPipe(std::initializer_list<int> signals);

// The pipe's read end, to wait on.
int SignalPipeFd();

// The next signal taken, or 0 when none is waiting.
int TakeSignal();

// In a new child process: the signals back to their default actions (SIGPIPE
// too, for a program it is about to run), nothing blocked, the pipe closed.
void ResetSignalsInChild();

// Blocks the signals taken for a fork, so that no handler of the parent runs
// in the child before it has reset them; restored by the destructor.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

// Ends the process by sig with its default action, so that whoever started
// it sees how it ended. The hook given to AtEndBySignal runs first.
[[noreturn]] void RaiseDefault(int sig);

// What RaiseDefault runs before the end, as exit runs what atexit was given:
// what must not outlive the program (a terminal left in exclusive mode).
void AtEndBySignal(void (*hook)());
