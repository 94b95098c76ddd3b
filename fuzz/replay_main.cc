// Runs a fuzz target over kept inputs without libFuzzer: every file named on
// the command line, and every file in a directory named there, once each.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void Collect(const std::string& path, std::vector<std::string>& files) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    files.push_back(path);  // reported as unreadable below
    return;
  }
  if (!S_ISDIR(info.st_mode)) {
    files.push_back(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    files.push_back(path);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(dir);
  // A fixed order makes a failing run repeat the same way.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) Collect(path + "/" + name, files);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) Collect(argv[i], files);
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s corpus-dir-or-file...\n", argv[0]);
    return 2;
  }
  int failed = 0;
  std::vector<uint8_t> bytes;
  for (const std::string& file : files) {
    if (!ReadWhole(file, bytes)) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      ++failed;
      continue;
    }
    // A copy of exactly the input's size, so that reading past it is caught.
    std::vector<uint8_t> exact(bytes);
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
  }
  std::printf("%zu inputs replayed, %d unreadable\n", files.size() - failed, failed);
  return failed == 0 ? 0 : 1;
}
