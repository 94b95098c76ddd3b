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

// The names in a directory, without "." and "..", in byte order. The
// directory is closed again before anything below it is opened, so the depth
// of a tree costs no descriptors. False when it cannot be read.
bool ListDirectory(const std::string& dir, std::vector<Listed>& names, DirId& id) {
  DirHandle handle(opendir(dir.c_str()));
  if (!handle) return false;
  struct stat self;
  if (fstat(dirfd(handle.get()), &self) != 0) return false;
  id = {self.st_dev, self.st_ino};
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle.get());
    if (!entry) break;
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    names.push_back({entry->d_name, entry->d_type});
  }
  if (errno != 0) return false;
  std::sort(names.begin(), names.end(),
            [](const Listed& a, const Listed& b) { return compfunc(a.name, b.name) < 0; });
  return true;
}

// ancestors holds the directories on the current path from the top, so a
// symbolic link back up the tree is not followed for ever.
int ScanLevel(const std::string& dir, Playlist& playlist, std::set<DirId>& ancestors, bool top) {
  std::vector<Listed> names;
  DirId self;
  if (!ListDirectory(dir, names, self)) {
    if (top) return -1;
    // A folder the player may not read (lost+found at the top of a disk)
    // costs only its own tracks.
    Trace("Unreadable, skipped: %s\n", Printable(dir).c_str());
    return static_cast<int>(playlist.size());
  }
  ancestors.insert(self);

  std::string listPath;
  std::string path;
  for (const Listed& entry : names) {
    if (!JoinPath(dir, entry.name, path)) continue;
    const Kind kind = KindOf(entry.type, path);
    if (kind == Kind::kDirectory) {
      // Only a symbolic link can lead back up the tree.
      struct stat info;
      if (entry.type != DT_DIR && stat(path.c_str(), &info) == 0 &&
          ancestors.count({info.st_dev, info.st_ino}) != 0) {
        Trace("Directory loop, skipped: %s\n", Printable(path).c_str());
        continue;
      }
      ScanLevel(path, playlist, ancestors, false);
    } else if (listPath.empty() && NameHas(entry.name, ".m3u", ".M3U")) {
      if (kind == Kind::kRegular)
        listPath = path;
      else if (kind == Kind::kOther)
        Trace("Not a regular file, no play list: %s\n", Printable(path).c_str());
    }
  }
  ancestors.erase(self);

  if (!listPath.empty()) return ReadListFile(dir, listPath, playlist);

  // The names are in byte order already, and so are the paths that share dir.
  for (const Listed& entry : names) {
    if (!NameHas(entry.name, ".mp3", ".MP3")) continue;
    if (!JoinPath(dir, entry.name, path)) continue;
    if (KindOf(entry.type, path) == Kind::kMissing) continue;
    AddEntry(playlist, path);
  }
  return static_cast<int>(playlist.size());
}

}  // namespace

int compfunc(const std::string& a, const std::string& b) { return strcmp(a.c_str(), b.c_str()); }

int ScanDir(const std::string& dir, Playlist& playlist) {
  std::set<DirId> ancestors;
  try {
    return ScanLevel(dir, playlist, ancestors, true);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

void FreePlaylist(Playlist& playlist) { Playlist().swap(playlist); }

PlaylistResult BuildPlaylist(const std::vector<std::string>& list, bool recursive) {
  PlaylistResult result;
  if (recursive) {
    if (list.size() != 1) {
      Trace("-r option needs only a path!\n\n");
      result.exitStatus = 1;
      return result;
    }
    if (ScanDir(list[0], result.playlist) < 0) {
      Trace("Scan error of %s\n\n", Printable(list[0]).c_str());
      FreePlaylist(result.playlist);
      result.exitStatus = 1;
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
