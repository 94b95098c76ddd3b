// Play-list files as the directory scan reads them, and TrimString on any text.
// Every entry must be a trimmed, non-empty line of the file that is not an
// "#EXT" line and holds no control byte: joined with the directory, or as it
// stands when it is an absolute path or a URL.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/playlist.h"
#include "posix/trace.h"
#include "posix/trim.h"
#include "fuzz/fuzz_support.h"

namespace {

bool Blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

void CheckTrim(const std::string& text) {
  std::string trimmed = text;
  TrimString(trimmed);
  FUZZ_CHECK(text.find(trimmed) != std::string::npos);
  if (!trimmed.empty()) {
    FUZZ_CHECK(!Blank(trimmed.front()));
    FUZZ_CHECK(!Blank(trimmed.back()));
    FUZZ_CHECK(trimmed.compare(0, 3, "\xEF\xBB\xBF") != 0);
  }
  std::string again = trimmed;
  TrimString(again);
  FUZZ_CHECK(again == trimmed);
  std::string padded = " \t" + text + "\r\n";
  TrimString(padded);
  FUZZ_CHECK(padded == trimmed);
}

// A trimmed, non-empty line of the file that is not an "#EXT" line.
bool IsListLine(const std::string& line, const std::string& text) {
  std::string trimmed = line;
  TrimString(trimmed);
  return !line.empty() && trimmed == line && line.compare(0, 4, "#EXT") != 0 &&
         text.find(line) != std::string::npos;
}

// A directory of its own holding only the play-list file, removed at exit.
struct ListDir {
  std::string dir;
  std::string list;
  ListDir() {
    char name[] = "/tmp/norvelo-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(name) != nullptr);
    dir = name;
    list = dir + "/list.m3u";
  }
  ~ListDir() {
    unlink(list.c_str());
    rmdir(dir.c_str());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ListDir place;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckTrim(text);

  FILE* out = fopen(place.list.c_str(), "wb");
  FUZZ_CHECK(out != nullptr);
  FUZZ_CHECK(fwrite(data, 1, size, out) == size);
  FUZZ_CHECK(fclose(out) == 0);

  std::string trace;
  SetTraceCapture(&trace);
  Playlist playlist;
  const int count = ScanDir(place.dir, playlist);
  SetTraceCapture(nullptr);

  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(static_cast<size_t>(count) == playlist.size());
  const std::string prefix = place.dir + "/";
  for (const std::string& entry : playlist) {
    FUZZ_CHECK(entry.size() <= kMaxScanPath);
    for (const char c : entry) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    const bool standsAlone = (entry[0] == '/' || entry.find("://") != std::string::npos) &&
                             IsListLine(entry, text);
    const bool joined = entry.compare(0, prefix.size(), prefix) == 0 &&
                        IsListLine(entry.substr(prefix.size()), text);
    FUZZ_CHECK(standsAlone || joined);
  }
  return 0;
}
