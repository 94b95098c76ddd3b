// What tests and benches read of files and processes: whole files, the
// numbers /proc keeps of a process, and what a command line prints.
#pragma once

#include <sys/types.h>

#include <string>

// The bytes of a file, or "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// What /proc/<pid>/stat says of a process.
struct ProcStat {
  char state = '?';  // 'Z' for one that ended and waits to be reaped
  pid_t parent = 0;
  pid_t group = 0;
  double cpuSeconds = 0;  // user and system time
};
bool ReadProcStat(pid_t pid, ProcStat& out);

// A number from /proc/<pid>/status by its field's name ("VmRSS" and "VmHWM"
// in kB, "voluntary_ctxt_switches"), or -1.
long ProcStatusNumber(pid_t pid, const std::string& field);

// The output of a shell command line, its status in status when given.
std::string CommandOutput(const std::string& command, int* status = nullptr);
