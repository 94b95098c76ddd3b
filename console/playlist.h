// The play list: the file arguments as given, or a recursive scan of one
// directory in which a directory's own .m3u file replaces its MP3 files.
#pragma once

#include <string>
#include <vector>

using Playlist = std::vector<std::string>;

// Longest joined path the scan produces; longer entries are skipped with a note.
constexpr size_t kMaxScanPath = 4095;
// Play-list file lines are read in pieces of at most this many characters.
constexpr size_t kMaxListLine = 1023;

// Appends everything found under dir. Result: the number of entries in the
// whole play list afterwards, or -1 when a directory cannot be opened.
int ScanDir(const std::string& dir, Playlist& playlist);

// Byte-wise order of two paths (strcmp), for a directory's MP3 files.
int compfunc(const std::string& a, const std::string& b);

int FreePlaylist(Playlist& playlist);

struct PlaylistResult {
  Playlist playlist;
  int exitStatus = 0;  // 0: built; 1: a start-up failure, message printed
};

// Builds the play list from the arguments after the options, or prints one of
// the start-up messages and reports exit status 1.
PlaylistResult BuildPlaylist(const std::vector<std::string>& list, bool recursive);
