// The play list: the file arguments as given, or a recursive scan of one
// directory in which a directory's own .m3u file replaces its MP3 files.
#pragma once

#include <string>
#include <vector>

using Playlist = std::vector<std::string>;

// What the scan takes for a track: a name holding one of these, in small
// letters or in capitals. The player's decoder plays MP3 alone; mpv plays
// what a music folder of today holds.
using Extensions = std::vector<std::string>;
inline const Extensions kMp3Names = {".mp3"};
inline const Extensions kMpvNames = {".mp3", ".flac", ".ogg", ".oga", ".opus", ".m4a", ".wav"};

// Longest path the scan produces; longer entries are skipped with a note.
constexpr size_t kMaxScanPath = 4095;

// Appends everything found under dir: each subdirectory's entries first, the
// subdirectories in name order, then dir's own play-list lines or MP3 files.
// A play-list line that is an absolute path or a URL is taken as it stands,
// others are joined with dir. Entries holding control bytes, unreadable
// subdirectories and play-list files that are no regular files are skipped
// with a note, and so is a folder met before in the same scan (through a
// symbolic link), each real folder being scanned once. Result: the number of
// entries in the whole play list afterwards, or -1 with errno when dir itself
// cannot be read.
int ScanDir(const std::string& dir, Playlist& playlist, const Extensions& extensions = kMp3Names);

// Byte-wise order of two paths (strcmp), for a directory's MP3 files.
int compfunc(const std::string& a, const std::string& b);

// Gives the play list's memory back.
void FreePlaylist(Playlist& playlist);

struct PlaylistResult {
  Playlist playlist;
  int exitStatus = 0;  // 0: built; 1: a start-up failure, message printed
  std::string notice;  // traced already, for line 1: why there is nothing to play
};

// Builds the play list from the arguments after the options, or prints one of
// the start-up messages and reports exit status 1.
PlaylistResult BuildPlaylist(const std::vector<std::string>& list, bool recursive,
                             const Extensions& extensions = kMp3Names);
