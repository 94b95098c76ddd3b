#include "console/playlist.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <utility>

#include "console/trace.h"
#include "console/trim.h"

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

using DirId = std::pair<dev_t, ino_t>;

bool NameHas(const char* name, const char* lower, const char* upper) {
  return strstr(name, lower) != nullptr || strstr(name, upper) != nullptr;
}

// Joins dir and name; false (with a note) when the result is too long to open.
bool JoinPath(const std::string& dir, const std::string& name, std::string& out) {
  out = dir;
  out += '/';
  out += name;
  if (out.size() <= kMaxScanPath) return true;
  Trace("Path too long, skipped: %s\n", out.c_str());
  return false;
}

enum class Kind { kMissing, kDirectory, kOther };

// What stat, following links, would say; the listing already tells for
// everything but links, which spares a system call for nearly every entry.
Kind KindOf(const dirent& entry, const std::string& path) {
  if (entry.d_type == DT_DIR) return Kind::kDirectory;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return Kind::kOther;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return Kind::kMissing;
  return S_ISDIR(info.st_mode) ? Kind::kDirectory : Kind::kOther;
}

// Reads the lines of a directory's play-list file. -1 only on allocation failure.
int ReadListFile(const std::string& dir, const std::string& listPath, Playlist& playlist) {
  FileHandle file(fopen(listPath.c_str(), "r"));
  if (!file) return static_cast<int>(playlist.size());
  char buffer[kMaxListLine + 1];
  std::string joined;
  while (fgets(buffer, sizeof buffer, file.get()) != nullptr) {
    std::string line(buffer);
    TrimString(line);
    if (line.empty() || line.compare(0, 4, "#EXT") == 0) continue;
    if (JoinPath(dir, line, joined)) playlist.push_back(joined);
  }
  return static_cast<int>(playlist.size());
}

// ancestors holds the directories on the current path from the top, so a
// symbolic link back up the tree is not followed for ever.
int ScanLevel(const std::string& dir, Playlist& playlist, std::set<DirId>& ancestors) {
  DirHandle handle(opendir(dir.c_str()));
  if (!handle) return -1;
  struct stat self = {};
  if (stat(dir.c_str(), &self) == 0) ancestors.insert({self.st_dev, self.st_ino});

  std::string listPath;
  std::string path;
  while (dirent* entry = readdir(handle.get())) {
    if (!JoinPath(dir, entry->d_name, path)) continue;
    const Kind kind = KindOf(*entry, path);
    if (kind == Kind::kMissing) continue;
    if (kind == Kind::kDirectory) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      // Only a symbolic link can lead back up the tree.
      struct stat info;
      if (entry->d_type != DT_DIR && stat(path.c_str(), &info) == 0 &&
          ancestors.count({info.st_dev, info.st_ino}) != 0) {
        Trace("Directory loop, skipped: %s\n", path.c_str());
        continue;
      }
      if (ScanLevel(path, playlist, ancestors) < 0) return -1;
    } else if (listPath.empty() && NameHas(entry->d_name, ".m3u", ".M3U")) {
      listPath = path;
    }
  }
  ancestors.erase({self.st_dev, self.st_ino});

  if (!listPath.empty()) {
    handle.reset();
    return ReadListFile(dir, listPath, playlist);
  }

  const size_t start = playlist.size();
  rewinddir(handle.get());
  while (dirent* entry = readdir(handle.get())) {
    if (!NameHas(entry->d_name, ".mp3", ".MP3")) continue;
    if (!JoinPath(dir, entry->d_name, path)) continue;
    if (KindOf(*entry, path) == Kind::kMissing) continue;
    playlist.push_back(path);
  }
  std::sort(playlist.begin() + static_cast<std::ptrdiff_t>(start), playlist.end(),
            [](const std::string& a, const std::string& b) { return compfunc(a, b) < 0; });
  return static_cast<int>(playlist.size());
}

}  // namespace

int compfunc(const std::string& a, const std::string& b) { return strcmp(a.c_str(), b.c_str()); }

int ScanDir(const std::string& dir, Playlist& playlist) {
  std::set<DirId> ancestors;
  try {
    return ScanLevel(dir, playlist, ancestors);
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int FreePlaylist(Playlist& playlist) {
  Playlist().swap(playlist);
  return 0;
}

PlaylistResult BuildPlaylist(const std::vector<std::string>& list, bool recursive) {
  PlaylistResult result;
  if (recursive) {
    if (list.size() != 1) {
      Trace("-r option needs only a path!\n\n");
      result.exitStatus = 1;
      return result;
    }
    if (ScanDir(list[0], result.playlist) < 0) {
      Trace("Scan error of %s\n\n", list[0].c_str());
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
    result.playlist = list;
  } catch (const std::bad_alloc&) {
    Trace("Alloc error!\n\n");
    FreePlaylist(result.playlist);
    result.exitStatus = 1;
  }
  return result;
}
