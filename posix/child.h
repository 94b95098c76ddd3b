// Child processes of the Linux programs: one way to start one (its standard
// descriptors, a process group of its own, death with its parent, nothing else
// inherited) and one bounded way to stop and reap it.
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <vector>

struct ChildSetup {
  // What becomes the child's 0, 1 and 2; -1 keeps the parent's.
  int in = -1, out = -1, err = -1;
  // Further descriptors the child keeps under their own numbers.
  std::vector<int> keep;
  // A group of its own, so that everything it starts can be ended together
  // and a Ctrl-C at the terminal reaches only the parent.
  bool ownGroup = false;
};

// Forks. In the child (result 0): SIGKILL when the parent dies, the signals
// back to their defaults, the standard descriptors of setup, every other one
// but setup.keep closed; it goes on from here (to an exec, mostly). In the
// parent: the child's pid, or -1 with errno.
pid_t ForkChild(const ChildSetup& setup);

// In a child of ForkChild: runs args through the search path; when that
// fails, says so on standard error as "<who>: cannot run <program>: <reason>"
// and ends with status 127.
[[noreturn]] void ExecOrExit(const std::vector<std::string>& args, const char* who);

// True when a program of this name can be run through the search path, as
// the shell would find it.
bool FoundInPath(const std::string& program);

// A started child, and what is left of it once it ends.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts a new one, first ending and reaping an earlier one (its group
  // included). 0 in the new child, as ForkChild.
  pid_t Start(const ChildSetup& setup);
  pid_t pid() const { return pid_; }
  bool ownGroup() const { return ownGroup_; }
  // Asks it to end (SIGTERM), or, forced, ends it at once (SIGKILL); with a
  // group of its own, the whole group.
  void Stop(bool force);
  // Reaps it if it has ended; true once it is gone (also when never started).
  // With a group of its own, what it left behind in the group is reaped too.
  bool Ended();
  // waitpid's status of the ended child.
  int status() const { return status_; }
  // SIGTERM, then, after graceMs, SIGKILL to the whole group; reaped within
  // a bound either way. True when it is gone.
  bool StopWithin(int graceMs);

 private:
  pid_t pid_ = -1;
  bool ownGroup_ = false;
  bool ended_ = false;
  int status_ = 0;
};
