#include "tests/support/proc.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  // A read that fails throws from inside the stream buffer, whatever the
  // stream's exception mask: /proc files of a process that just ended do.
  try {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return "";
  }
}

bool ReadProcStat(pid_t pid, ProcStat& out) {
  const std::string stat = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
  // The name in parentheses may hold anything, blanks and parentheses too.
  const size_t paren = stat.rfind(')');
  int parent = 0, group = 0;
  unsigned long utime = 0, stime = 0;
  if (paren == std::string::npos ||
      sscanf(stat.c_str() + paren + 1, " %c %d %d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
             &out.state, &parent, &group, &utime, &stime) != 5)
    return false;
  out.parent = static_cast<pid_t>(parent);
  out.group = static_cast<pid_t>(group);
  out.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  return true;
}

long ProcStatusNumber(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = field + ":";
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) return atol(line.c_str() + prefix.size());
  return -1;
}

std::string CommandOutput(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return out;
  }
  char buffer[512];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return out;
}
