// Small POSIX helpers of the Linux programs: the player, the bridge, the
// learner and the emulated unit.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Microseconds of a clock that never jumps.
uint64_t MonotonicUs();
// The same clock in milliseconds.
uint64_t MonotonicMs();

// Sleeps for the time given; a signal handled meanwhile ends it early, so that
// a loop that sleeps can look at what the signal changed.
void SleepUs(uint64_t us);
inline void SleepMs(int ms) { SleepUs(ms > 0 ? static_cast<uint64_t>(ms) * 1000u : 0); }

// Reaps the children that which names, as waitpid's first argument does (a
// pid, minus a process group, or -1 for every child), as they end, for at
// most timeoutMs. True once none of them is left; status, when given, gets
// what waitpid said of the last one reaped.
bool ReapWithin(pid_t which, int timeoutMs, int* status = nullptr);

// Writes everything, waiting out EINTR and a full non-blocking descriptor for
// at most timeoutMs. False when the descriptor refused or stayed full.
bool WriteAll(int fd, std::string_view data, int timeoutMs = 1000);

// A pipe whose two ends close on exec; false with errno when there is none.
bool MakePipe(int fds[2]);
void SetNonBlocking(int fd);
void SetCloseOnExec(int fd);

// The argument vector exec wants: pointers into args, null at the end, good
// as long as args is.
std::vector<char*> ArgvOf(const std::vector<std::string>& args);

// A new pseudo-terminal: its master, close-on-exec, and the slave's path in
// slavePath; -1 with errno when there is none to be had.
int OpenPtyMaster(std::string& slavePath);

// A terminal with no character processing, reads returning each byte.
void MakeRaw(int fd);

// Standard input, output and error opened on /dev/null where they are
// closed, so that the next descriptor opened cannot take their place (traces
// written into a serial line or a client's socket).
void OpenStandardDescriptors();

// A stdio file and a directory listing that close themselves.
struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;
