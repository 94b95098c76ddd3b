#include "tests/support/temp_dir.h"

#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {
int RemoveEntry(const char* path, const struct stat*, int, FTW*) { return remove(path); }
}  // namespace

TempDir::TempDir(const std::string& prefix) {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  if (mkdtemp(&templ[0]) == nullptr) abort();
  path_ = templ;
}

TempDir::~TempDir() { nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  const std::string path = Join(name);
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string TempDir::MakeDir(const std::string& name) const {
  const std::string path = Join(name);
  mkdir(path.c_str(), 0755);
  return path;
}
