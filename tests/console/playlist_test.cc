#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "console/playlist.h"
#include "posix/trace.h"
#include "fixture.h"
#include "posix/trim.h"

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

TEST(ScanDir, SubdirectoriesComeFirstInNameOrderAndMp3DirectoriesAreListed) {
  TempTree t;
  const std::string d = t.Dir("D");
  for (const char* sub : {"D/y.mp3", "D/sub", "D/B"}) t.Dir(sub);
  for (const char* f : {"D/sub/x.mp3", "D/a.mp3", "D/y.mp3/in.mp3", "D/B/z.mp3"}) t.File(f);
  EXPECT_EQ(Scan(d), (Playlist{d + "/B/z.mp3", d + "/sub/x.mp3", d + "/y.mp3/in.mp3",
                               d + "/a.mp3", d + "/y.mp3"}));
}

TEST(ScanDir, PlayListFileReplacesTheMp3Files) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.File("D/a.mp3");
  t.File("D/list.m3u",
         "\xef\xbb\xbf#EXTM3U\n#EXTINF:123,Artist - Title\n  song.mp3\r\n\n   \n# note\n"
         "Caf\xc3\xa9.mp3\n");
  t.File("D/other.m3u", "never.mp3\n");  // the first list by name counts
  t.Dir("D/x.m3u");  // a directory: scanned, never read as a list
  t.File("D/x.m3u/inner.mp3");
  EXPECT_EQ(Scan(d), (Playlist{d + "/x.m3u/inner.mp3", d + "/song.mp3", d + "/# note",
                               d + "/Caf\xc3\xa9.mp3"}));
}

// Lists written elsewhere name files by absolute path and streams by URL.
TEST(ScanDir, AbsoluteAndUrlLinesStandAndLongLinesAreOneEntry) {
  TempTree t;
  const std::string d = t.Dir("D");
  const std::string longName = std::string(3000, 'n') + ".mp3";
  t.File("D/list.m3u", "/music/x.mp3\nhttp://radio.example:8000/live\n" + longName +
                           "\nC:\\x.mp3\n");
  EXPECT_EQ(Scan(d), (Playlist{"/music/x.mp3", "http://radio.example:8000/live",
                               d + "/" + longName, d + "/C:\\x.mp3"}));
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

// Opening a FIFO would wait for a writer for ever: it is no play list.
TEST(ScanDir, PlayListThatIsNoRegularFileIsNotOpened) {
  TempTree t;
  const std::string d = t.Dir("D");
  t.File("D/a.mp3");
  ASSERT_EQ(mkfifo((d + "/x.m3u").c_str(), 0644), 0);
  TraceCapture trace;
  alarm(20);  // a scan that waits on the FIFO ends the test run
  EXPECT_EQ(Scan(d), Playlist{d + "/a.mp3"});
  alarm(0);
  EXPECT_EQ(trace.text, "Not a regular file, no play list: " + d + "/x.m3u\n");
}

// A line feed in a name would cut the LOAD line and give the decoder commands.
TEST(ScanDir, EntriesWithControlBytesAreSkipped) {
  TempTree t;
  const std::string d = t.Dir("D");
  for (const char* f : {"D/a\nQUIT\nb.mp3", "D/c\r.mp3", "D/good.mp3"}) t.File(f);
  TraceCapture trace;
  EXPECT_EQ(Scan(d), Playlist{d + "/good.mp3"});
  EXPECT_EQ(trace.text, "Control character in name, skipped: " + d + "/a\\x0AQUIT\\x0Ab.mp3\n"
                        "Control character in name, skipped: " + d + "/c\\x0D.mp3\n");
  const std::string e = t.Dir("E");
  t.File("E/list.m3u", "one.mp3\ntwo\x01.mp3\n\tthree.mp3\r\n");
  EXPECT_EQ(Scan(e), (Playlist{e + "/one.mp3", e + "/three.mp3"}));
  EXPECT_EQ(BuildPlaylist({"a.mp3", "b\n.mp3", "-"}, false).playlist, (Playlist{"a.mp3", "-"}));
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

// Each folder holds two links to the next: met by every path, the folders
// below would be scanned 2^40 times.
TEST(ScanDir, EachRealFolderIsScannedOnce) {
  TempTree t;
  const int kDepth = 40;
  for (int i = 0; i <= kDepth; ++i) t.Dir("d" + std::to_string(i));
  for (int i = 0; i < kDepth; ++i)
    for (const char* link : {"/a", "/b"})
      symlink((t.root() + "/d" + std::to_string(i + 1)).c_str(),
              (t.root() + "/d" + std::to_string(i) + link).c_str());
  t.File("d" + std::to_string(kDepth) + "/x.mp3");
  TraceCapture trace;
  std::string deepest = t.root() + "/d0";
  for (int i = 0; i < kDepth; ++i) deepest += "/a";
  EXPECT_EQ(Scan(t.root() + "/d0"), Playlist{deepest + "/x.mp3"});
  const std::string last = "Directory scanned already, skipped: " + t.root() + "/d0/b\n";
  EXPECT_EQ(trace.text.rfind(last), trace.text.size() - last.size()) << trace.text.substr(0, 300);
}

TEST(ScanDir, OverlongPathsAreSkipped) {
  TempTree t;
  const std::string d = t.Dir("D");
  TraceCapture trace;
  t.File("D/list.m3u", std::string(5000, 'n') + "\nok.mp3\n/" + std::string(4095, 'a') + "\n");
  EXPECT_EQ(Scan(d), Playlist{d + "/ok.mp3"});
  EXPECT_EQ(trace.text.find("Path too long, skipped: " + d + "/nnn"), 0u) << trace.text;
  EXPECT_NE(trace.text.find("Path too long, skipped: /aaa"), std::string::npos);
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
  EXPECT_EQ(trace.text, "Scan error of /nonexistent/dir: No such file or directory\n\n");
  const PlaylistResult r = BuildPlaylist({"a.mp3", "-s", "x"}, false);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.playlist, (Playlist{"a.mp3", "-s", "x"}));
}

// mpv's scan takes every format it plays, each in both spellings; the MP3
// decoder's scan stays as it was.
TEST(ScanDir, TheEnginesExtensionsChooseTheTracks) {
  TempTree t;
  const std::string d = t.Dir("d");
  for (const char* name : {"a.flac", "B.FLAC", "c.Flac", "d.ogg", "e.oga", "f.OPUS", "g.m4a",
                           "h.wav", "i.mp3", "j.txt", "k.opus.part"})
    t.File("d/" + std::string(name));
  Playlist list;
  ASSERT_EQ(ScanDir(d, list, kMpvNames), 9);
  EXPECT_EQ(list, (Playlist{d + "/B.FLAC", d + "/a.flac", d + "/d.ogg", d + "/e.oga",
                            d + "/f.OPUS", d + "/g.m4a", d + "/h.wav", d + "/i.mp3",
                            d + "/k.opus.part"}));
  EXPECT_EQ(Scan(d), Playlist{d + "/i.mp3"});
}
