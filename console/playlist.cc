#include "console/playlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <utility>

#include "posix/lines.h"
#include "posix/trace.h"
#include "posix/trim.h"
#include "posix/posix.h"

namespace {

using DirId = std::pair<dev_t, ino_t>;

bool NameHas(const std::string& name, const char* lower, const char* upper) {
  return name.find(lower) != std::string::npos || name.find(upper) != std::string::npos;
}

// Each extension in its two spellings, all small or all capital letters.
bool NameHasAny(const std::string& name, const Extensions& extensions) {
  for (const std::string& lower : extensions) {
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (NameHas(name, lower.c_str(), upper.c_str())) return true;
  }
  return false;
}

// A line feed in an entry would end the LOAD line early and hand the rest to
// the decoder as commands of its own; other control bytes are no better.
bool HasControlByte(const std::string& entry) {
  return std::any_of(entry.begin(), entry.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The one way into the play list.
void AddEntry(Playlist& playlist, const std::string& entry) {
  if (HasControlByte(entry)) {
    Trace("Control character in name, skipped: %s\n", Printable(entry).c_str());
    return;
  }
  playlist.push_back(entry);
}

// cut: the path is only the beginning of a longer one.
bool FitsScanPath(const std::string& path, bool cut = false) {
  if (!cut && path.size() <= kMaxScanPath) return true;
  Trace("Path too long, skipped: %s%s\n", Printable(path).c_str(), cut ? "..." : "");
  return false;
}

// Joins dir and name; false (with a note) when the result is too long to open.
bool JoinPath(const std::string& dir, const std::string& name, std::string& out) {
  out = dir;
  out += '/';
  out += name;
  return FitsScanPath(out);
}

// "scheme://", the scheme as URLs spell it: the decoder opens such a line
// itself, so it is no file name below the play list's directory.
bool HasUrlScheme(const std::string& line) {
  const size_t colon = line.find("://");
  if (colon == std::string::npos || colon == 0 || !isalpha(static_cast<unsigned char>(line[0])))
    return false;
  return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

enum class Kind { kMissing, kDirectory, kRegular, kOther };

// What stat, following links, would say; the listing already tells for
// everything but links, which spares a system call for nearly every entry.
Kind KindOf(unsigned char type, const std::string& path) {
  if (type == DT_DIR) return Kind::kDirectory;
  if (type == DT_REG) return Kind::kRegular;
  if (type != DT_LNK && type != DT_UNKNOWN) return Kind::kOther;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return Kind::kMissing;
  if (S_ISDIR(info.st_mode)) return Kind::kDirectory;
  return S_ISREG(info.st_mode) ? Kind::kRegular : Kind::kOther;
}

// Reads the lines of a directory's play-list file.
int ReadListFile(const std::string& dir, const std::string& listPath, Playlist& playlist) {
  FileHandle file = OpenTextFile(listPath);
  if (!file) {
    // The list still stands for the directory: none of its MP3 files either.
    Trace("Unreadable, skipped: %s\n", Printable(listPath).c_str());
    return static_cast<int>(playlist.size());
  }
  std::string line;
  std::string entry;
  bool cut = false;
  while (ReadLine(file.get(), line, kMaxScanPath + 1, cut)) {
    TrimString(line);
    if (line.empty() || line.compare(0, 4, "#EXT") == 0) continue;
    // Lists written by other programs name files by absolute path, and
    // streams by URL; only a relative line is below the list's directory.
    if (line[0] == '/' || HasUrlScheme(line)) {
      entry = line;
    } else {
      entry = dir + '/' + line;
    }
    if (!FitsScanPath(entry, cut)) continue;
    AddEntry(playlist, entry);
  }
  return static_cast<int>(playlist.size());
}

struct Listed {
  std::string name;
  unsigned char type;
};

// What one run of the scan has met: every real folder is scanned once, so
// that links between folders (a fan-out of links to the same folder, a link
// back up the tree) cost each folder once and the scan always ends.
struct ScanRun {
  std::set<DirId> scanned;
  std::set<DirId> ancestors;  // on the current path from the top
};

enum class Listing { kListed, kFailed, kLoop, kScanned };

// The names in a directory, without "." and "..", in byte order, unless the
// run met the folder before. The directory is closed again before anything
// below it is opened, so the depth of a tree costs no descriptors. error gets
// errno when it cannot be read.
Listing ListDirectory(const std::string& dir, ScanRun& run, std::vector<Listed>& names, DirId& id,
                      int& error) {
  DirHandle handle(opendir(dir.c_str()));
  struct stat self;
  if (!handle || fstat(dirfd(handle.get()), &self) != 0) {
    error = errno;
    return Listing::kFailed;
  }
  id = {self.st_dev, self.st_ino};
  if (run.ancestors.count(id) != 0) return Listing::kLoop;
  if (!run.scanned.insert(id).second) return Listing::kScanned;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle.get());
    if (!entry) break;
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    names.push_back({entry->d_name, entry->d_type});
  }
  if (errno != 0) {
    error = errno;
    return Listing::kFailed;
  }
  std::sort(names.begin(), names.end(),
            [](const Listed& a, const Listed& b) { return compfunc(a.name, b.name) < 0; });
  return Listing::kListed;
}

// error gets errno when the top itself cannot be read.
int ScanLevel(const std::string& dir, Playlist& playlist, ScanRun& run, bool top, int& error,
              const Extensions& extensions) {
  std::vector<Listed> names;
  DirId self;
  switch (ListDirectory(dir, run, names, self, error)) {
    case Listing::kListed:
      break;
    case Listing::kFailed:
      if (top) return -1;
      // A folder the player may not read (lost+found at the top of a disk)
      // costs only its own tracks.
      Trace("Unreadable, skipped: %s\n", Printable(dir).c_str());
      return static_cast<int>(playlist.size());
    case Listing::kLoop:
      Trace("Directory loop, skipped: %s\n", Printable(dir).c_str());
      return static_cast<int>(playlist.size());
    case Listing::kScanned:
      Trace("Directory scanned already, skipped: %s\n", Printable(dir).c_str());
      return static_cast<int>(playlist.size());
  }
  run.ancestors.insert(self);

  std::string listPath;
  std::string path;
  for (const Listed& entry : names) {
    if (!JoinPath(dir, entry.name, path)) continue;
    const Kind kind = KindOf(entry.type, path);
    if (kind == Kind::kDirectory) {
      int ignored;
      ScanLevel(path, playlist, run, false, ignored, extensions);
    } else if (listPath.empty() && NameHas(entry.name, ".m3u", ".M3U")) {
      if (kind == Kind::kRegular)
        listPath = path;
      else if (kind == Kind::kOther)
        Trace("Not a regular file, no play list: %s\n", Printable(path).c_str());
    }
  }
  run.ancestors.erase(self);

  if (!listPath.empty()) return ReadListFile(dir, listPath, playlist);

  // The names are in byte order already, and so are the paths that share dir.
  for (const Listed& entry : names) {
    if (!NameHasAny(entry.name, extensions)) continue;
    if (!JoinPath(dir, entry.name, path)) continue;
    if (KindOf(entry.type, path) == Kind::kMissing) continue;
    AddEntry(playlist, path);
  }
  return static_cast<int>(playlist.size());
}

}  // namespace

int compfunc(const std::string& a, const std::string& b) { return strcmp(a.c_str(), b.c_str()); }

int ScanDir(const std::string& dir, Playlist& playlist, const Extensions& extensions) {
  ScanRun run;
  int error = 0;
  try {
    const int count = ScanLevel(dir, playlist, run, true, error, extensions);
    if (count < 0) errno = error;
    return count;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
}

void FreePlaylist(Playlist& playlist) { Playlist().swap(playlist); }

PlaylistResult BuildPlaylist(const std::vector<std::string>& list, bool recursive,
                             const Extensions& extensions) {
  PlaylistResult result;
  if (recursive) {
    if (list.size() != 1) {
      Trace("-r option needs only a path!\n\n");
      result.exitStatus = 1;
      return result;
    }
    const int count = ScanDir(list[0], result.playlist, extensions);
    if (count < 0) {
      const int reason = errno;
      Trace("Scan error of %s: %s\n\n", Printable(list[0]).c_str(), strerror(reason));
      FreePlaylist(result.playlist);
      result.exitStatus = 1;
    } else if (count == 0) {
      // Still a success: the player runs and waits for keys, but says why it
      // has nothing to play.
      result.notice = "No playable file in " + list[0];
      Trace("%s\n", Printable(result.notice).c_str());
    }
    return result;
  }
  if (list.empty()) {
    Trace("No file list specified!\n\n");
    result.exitStatus = 1;
    return result;
  }
  try {
    result.playlist.reserve(list.size());
    for (const std::string& entry : list) AddEntry(result.playlist, entry);
  } catch (const std::bad_alloc&) {
    Trace("Alloc error!\n\n");
    FreePlaylist(result.playlist);
    result.exitStatus = 1;
  }
  return result;
}
