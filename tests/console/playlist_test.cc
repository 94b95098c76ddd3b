#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "console/playlist.h"
#include "console/trace.h"
#include "fixture.h"
#include "console/trim.h"

namespace {
class TempTree {
 public:
  TempTree() {
    char name[] = "/tmp/norvelo-scan-XXXXXX";
    root_ = mkdtemp(name);
  }
  ~TempTree() { std::system(("rm -rf '" + root_ + "'").c_str()); }
  const std::string& root() const { return root_; }
  std::string Dir(const std::string& rel) {
    mkdir((root_ + "/" + rel).c_str(), 0755);
    return root_ + "/" + rel;
  }
  void File(const std::string& rel, const std::string& text = "") {
    std::ofstream(root_ + "/" + rel) << text;
  }

 private:
  std::string root_;
};

Playlist Scan(const std::string& dir) {
  Playlist list;
  EXPECT_GE(ScanDir(dir, list), 0);
  return list;
}
}  // namespace

TEST(TrimString, BlanksAtBothEnds) {
  auto trim = [](std::string s) {
    TrimString(s);
    return s;
  };
  EXPECT_EQ(trim("  a  "), "a");
  EXPECT_EQ(trim(""), "");
  EXPECT_EQ(trim("    "), "");
  EXPECT_EQ(trim("\tab c\r\n"), "ab c");
  // Accented letters are text, not blank.
  EXPECT_EQ(trim("Caf\xc3\xa9"), "Caf\xc3\xa9");
  EXPECT_EQ(trim("abc\xe9"), "abc\xe9");
  EXPECT_EQ(trim("\xc3\x89t\xc3\xa9 "), "\xc3\x89t\xc3\xa9");
  EXPECT_EQ(trim("\xef\xbb\xbfsong.mp3\r\n"), "song.mp3");
  EXPECT_EQ(trim(" \xef\xbb\xbf x"), "x");
  EXPECT_EQ(trim(std::string("\0a\0", 3)), "a");
}

TEST(ScanDir, SortsByBytesAndSkipsOtherFiles) {
  TempTree t;
  const std::string d = t.Dir("D");
  for (const char* f : {"D/b.mp3", "D/a.MP3", "D/B.mp3", "D/c.txt", "D/song.mp3.part"}) t.File(f);
  EXPECT_EQ(Scan(d), (Playlist{d + "/B.mp3", d + "/a.MP3", d + "/b.mp3", d + "/song.mp3.part"}));
}

TEST(ScanDir, SubdirectoriesComeFirstAndMp3DirectoriesAreListed) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.Dir("D/sub");
  t.File("D/sub/x.mp3");
  t.File("D/a.mp3");
  t.Dir("D/y.mp3");
  t.File("D/y.mp3/in.mp3");
  const Playlist list = Scan(d);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list.back(), d + "/y.mp3");
  EXPECT_EQ(list[2], d + "/a.mp3");
  // Both subtrees come before D's own entries, in listing order.
  EXPECT_TRUE((list[0] == d + "/sub/x.mp3" && list[1] == d + "/y.mp3/in.mp3") ||
              (list[1] == d + "/sub/x.mp3" && list[0] == d + "/y.mp3/in.mp3"));
}

TEST(ScanDir, PlayListFileReplacesTheMp3Files) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.File("D/a.mp3");
  t.File("D/list.m3u",
         "\xef\xbb\xbf#EXTM3U\n#EXTINF:123,Artist - Title\n  song.mp3\r\n\n   \n# note\n"
         "/music/x.mp3\nCaf\xc3\xa9.mp3\n");
  t.Dir("D/x.m3u");  // a directory: scanned, never read as a list
  t.File("D/x.m3u/inner.mp3");
  EXPECT_EQ(Scan(d), (Playlist{d + "/x.m3u/inner.mp3", d + "/song.mp3", d + "/# note",
                               d + "//music/x.mp3", d + "/Caf\xc3\xa9.mp3"}));
}

TEST(ScanDir, PlayListFileNames) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.File("D/a.mp3");
  t.File("D/a.M3u", "not a list\n");
  EXPECT_EQ(Scan(d), Playlist{d + "/a.mp3"});
  t.File("D/old.m3u.bak", "b.mp3\n");
  EXPECT_EQ(Scan(d), Playlist{d + "/b.mp3"});
  // An unreadable list: the directory contributes nothing of its own.
  if (geteuid() != 0) {
    chmod((d + "/old.m3u.bak").c_str(), 0);
    EXPECT_EQ(Scan(d), Playlist{});
  }
}

TEST(ScanDir, TrailingSlashEmptyAndErrors) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.File("D/a.mp3");
  EXPECT_EQ(Scan(d + "/"), Playlist{d + "//a.mp3"});
  const std::string e = t.Dir("E");
  t.File("E/readme");
  EXPECT_EQ(Scan(e).size(), 0u);
  Playlist list;
  EXPECT_EQ(ScanDir(t.root() + "/missing", list), -1);
  EXPECT_EQ(ScanDir(d + "/a.mp3", list), -1);
  // A dangling link is skipped without a word.
  symlink("/nonexistent/z.mp3", (d + "/z.mp3").c_str());
  EXPECT_EQ(Scan(d), Playlist{d + "/a.mp3"});
}

TEST(ScanDir, SymbolicLinkCyclesEnd) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.Dir("D/s");
  t.File("D/s/a.mp3");
  symlink("..", (d + "/s/up").c_str());
  TraceCapture trace;
  EXPECT_EQ(Scan(d), Playlist{d + "/s/a.mp3"});
  EXPECT_NE(trace.text.find("Directory loop"), std::string::npos);
}

TEST(ScanDir, OverlongPathsAreSkipped) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.File("D/list.m3u", std::string(1000, 'n') + "\nok.mp3\n");
  TraceCapture trace;
  // The 1000-character line is read as one entry; a 4000-character directory
  // path would push it past the limit, so use a list line that is too long.
  EXPECT_EQ(Scan(d).size(), 2u);
  t.File("D/list.m3u", std::string(5000, 'n') + "\nok.mp3\n");
  const Playlist pieces = Scan(d);
  EXPECT_EQ(pieces.back(), d + "/ok.mp3");
  for (const std::string& p : pieces) EXPECT_LE(p.size(), kMaxScanPath);
}

TEST(BuildPlaylist, MessagesAndStatuses) {
  TraceCapture trace;
  EXPECT_EQ(BuildPlaylist({}, false).exitStatus, 1);
  EXPECT_EQ(trace.text, "No file list specified!\n\n");
  trace.text.clear();
  EXPECT_EQ(BuildPlaylist({"a", "b"}, true).exitStatus, 1);
  EXPECT_EQ(BuildPlaylist({}, true).exitStatus, 1);
  EXPECT_EQ(trace.text, "-r option needs only a path!\n\n-r option needs only a path!\n\n");
  trace.text.clear();
  EXPECT_EQ(BuildPlaylist({"/nonexistent/dir"}, true).exitStatus, 1);
  EXPECT_EQ(trace.text, "Scan error of /nonexistent/dir\n\n");
  const PlaylistResult r = BuildPlaylist({"a.mp3", "-s", "x"}, false);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.playlist, (Playlist{"a.mp3", "-s", "x"}));
}
