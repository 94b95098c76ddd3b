// Start-up of the player: usage, the failures in their order, and the play
// list the decoder is asked to load.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "posix/unique_fd.h"

namespace e2e {
namespace {

const char kUsage[] =
    "Norvelo plugin v0.2\n"
    "Usage: norvelo [options] list\n"
    "-s device     I/O device (default: /dev/ttyS0)\n"
    "-r            scans recursively directory 'list'\n"
    "-m file       remote mappings file\n"
    "\n";

// Plays every track through at once: the fake reports each track ended.
SessionOptions PlayThrough() {
  SessionOptions options;
  options.onLoad = "@I {path}\n@P 0\n";
  return options;
}

std::vector<std::string> Loads(const Session& s) {
  std::vector<std::string> loads;
  for (const std::string& c : s.Commands())
    if (c.compare(0, 5, "LOAD ") == 0) loads.push_back(c.substr(5));
  return loads;
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;  // "{dir}" stands for the test's directory
  std::string output;             // the whole standard output, "{dir}" as above
};

// Test listings and failure reports show the case by its name.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

std::string Expand(std::string text, const std::string& dir) {
  for (size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}"))
    text.replace(at, 5, dir);
  return text;
}

class StartupFailure : public ::testing::TestWithParam<FailureCase> {};

// Every failure is one message, status 1, before any child exists; the
// device is named after the list, so a list error wins over a missing device.
TEST_P(StartupFailure, PrintsItsMessageAndLeavesNoChild) {
  Session s;
  s.dir().MakeDir("empty");
  s.dir().Write("file.txt", "x");
  s.dir().MakeDir("tree");
  s.dir().MakeDir("tree/sub");
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) args.push_back(Expand(arg, s.dir().path()));
  s.Start(args);
  EXPECT_EQ(s.WaitExit(), 1);
  EXPECT_EQ(s.Trace(), Expand(GetParam().output, s.dir().path()));
  EXPECT_EQ(LeftoverChildren(), "");
  EXPECT_TRUE(s.Commands().empty());
  std::ifstream file(s.dir().Join("file.txt"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "x");  // never written to
}

const std::string kNoDevice = "{dir}/no-such-tty";

INSTANTIATE_TEST_SUITE_P(
    Messages, StartupFailure,
    ::testing::Values(
        FailureCase{"NoArguments", {}, kUsage},
        FailureCase{"RecursiveWithTwoPaths",
                    {"-s", kNoDevice, "-r", "{dir}/empty", "{dir}/tree"},
                    "-r option needs only a path!\n\n"},
        FailureCase{"RecursiveWithoutPath", {"-s", kNoDevice, "-r"},
                    "-r option needs only a path!\n\n"},
        FailureCase{"OnlyDeviceOption", {"-s"}, "-s option needs a device!\n\n"},
        FailureCase{"MappingsOptionWithoutFile", {"-s", kNoDevice, "-m"},
                    "-m option needs a file!\n\n"},
        FailureCase{"OptionsWithoutList", {"-x", "-s", kNoDevice},
                    "Unknown option -x ignored\nNo file list specified!\n\n"},
        FailureCase{"ScanOfMissingDirectory", {"-s", kNoDevice, "-r", "{dir}/missing"},
                    "Scan error of {dir}/missing: No such file or directory\n\n"},
        FailureCase{"ScanOfPlainFile", {"-s", kNoDevice, "-r", "{dir}/file.txt"},
                    "Scan error of {dir}/file.txt: Not a directory\n\n"},
        FailureCase{"DeviceMissing", {"-s", kNoDevice, "a.mp3"},
                    "Unable to open {dir}/no-such-tty: No such file or directory\n\n"},
        FailureCase{"DeviceMissingAfterEmptyScan", {"-s", kNoDevice, "-r", "{dir}/empty"},
                    "No playable file in {dir}/empty\nUnable to open {dir}/no-such-tty: No such file or directory\n\n"},
        FailureCase{"DeviceIsARegularFile", {"-s", "{dir}/file.txt", "a.mp3"},
                    "Unable to use {dir}/file.txt: a regular file, not a terminal\n\n"},
        FailureCase{"DeviceIsNotATerminal", {"-s", "/dev/null", "a.mp3"},
                    "Unable to use /dev/null: a device that is not a terminal\n\n"},
        FailureCase{"MappingsFileMissingDoesNotStop",
                    {"-m", "{dir}/no-such-map", "-s", kNoDevice, "a.mp3"},
                    "Remote mappings file not found! {dir}/no-such-map: No such file or directory\n\n"
                    "Unable to open {dir}/no-such-tty: No such file or directory\n\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// Answers on standard output, status 0, before anything is opened.
TEST(Startup, HelpAndVersion) {
  for (const char* option : {"-h", "--help", "-V", "--version"}) {
    Session s;
    s.Start({"-s", s.dir().Join("no-such-tty"), option, "a.mp3"});
    EXPECT_EQ(s.WaitExit(), 0) << option;
    const bool help = option[1] == 'h' || option[2] == 'h';
    EXPECT_EQ(s.Trace(), help ? std::string(kUsage) : "norvelo 0.2.0\n") << option;
    EXPECT_EQ(LeftoverChildren(), "");
  }
}

TEST(Startup, DecoderMissingFromThePath) {
  SessionOptions options;
  options.decoder = Decoder::Missing;
  Session s(options);
  s.StartOn({"a.mp3"});
  EXPECT_EQ(s.WaitExit(), 1);
  EXPECT_EQ(s.Trace(), "Unable to find mpg123 in PATH!\n\n");
  EXPECT_TRUE(s.Frames().empty());
  EXPECT_EQ(LeftoverChildren(), "");
}

// Missing (in the cases above) or not the service user's to open: the line
// says which.
TEST(Startup, ADeviceTheUserMayNotOpenSaysSo) {
  SessionOptions options;
  options.unprivileged = true;
  Session s(options);
  std::string forbidden;
  UniqueFd master(OpenPtyMaster(forbidden));
  ASSERT_TRUE(master.Valid());
  chmod(forbidden.c_str(), 0600);
  s.Start({"-s", forbidden, "a.mp3"});
  EXPECT_EQ(s.WaitExit(), 1);
  EXPECT_EQ(s.Trace(), "Unable to open " + forbidden + ": Permission denied\n\n");
}

// A folder the player may not read (lost+found at the top of a music disk)
// costs only its own tracks.
TEST(Startup, UnreadableSubdirectoryIsSkipped) {
  SessionOptions options = PlayThrough();
  options.unprivileged = true;
  Session s(options);
  const std::string top = s.dir().MakeDir("tree");
  s.dir().MakeDir("tree/a");
  s.dir().MakeDir("tree/lost+found");
  s.dir().Write("tree/a/1.mp3", "");
  s.dir().Write("tree/lost+found/hidden.mp3", "");
  s.dir().Write("tree/x.mp3", "");
  chmod((top + "/lost+found").c_str(), 0);
  s.Start({"-s", s.slave(), "-r", top});
  EXPECT_EQ(s.WaitExit(), 0) << s.Trace();
  chmod((top + "/lost+found").c_str(), 0755);
  EXPECT_EQ(Loads(s), (std::vector<std::string>{top + "/a/1.mp3", top + "/x.mp3"}));
  EXPECT_EQ(s.CountTrace("Unreadable, skipped: " + top + "/lost+found"), 1u) << s.Trace();
}

TEST(Startup, AlbumFoldersPlayInNameOrder) {
  Session s(PlayThrough());
  const std::string top = s.dir().MakeDir("music");
  std::vector<std::string> expected;
  for (const char* album : {"4 Fourth", "3 Third", "1 First", "5 Fifth", "2 Second"}) {
    s.dir().MakeDir(std::string("music/") + album);
    s.dir().Write(std::string("music/") + album + "/track.mp3", "");
    expected.push_back(top + "/" + album + "/track.mp3");
  }
  std::sort(expected.begin(), expected.end());
  s.Start({"-s", s.slave(), "-r", top});
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(Loads(s), expected);
}

// The scan order as the decoder sees it: each subdirectory's whole contents
// first, then the directory's own entries, a play list replacing its MP3s.
TEST(Startup, RecursiveScanIsLoadedInScanOrder) {
  Session s(PlayThrough());
  TempDir& d = s.dir();
  const std::string top = d.MakeDir("music");
  for (const char* name : {"b.mp3", "a.MP3", "B.mp3", "c.txt", "song.mp3.part"})
    d.Write(std::string("music/") + name, "");
  d.MakeDir("music/y.mp3");  // scanned, and listed itself
  d.Write("music/y.mp3/inner.mp3", "");
  d.MakeDir("music/sub");
  d.Write("music/sub/x.mp3", "");
  d.MakeDir("music/list");
  d.Write("music/list/ignored.mp3", "");
  d.Write("music/list/a.m3u.bak",
          "\xEF\xBB\xBF#EXTM3U\n  song.mp3\r\n#EXTINF:123,Artist - Title\n# note\n"
          "\n   \n/abs/x.mp3\nhttp://radio.example/live\n");
  d.Write("music/list/second.m3u", "never.mp3\n");  // only the first list counts
  d.MakeDir("music/x.m3u");  // a directory, never read as a play list
  d.Write("music/x.m3u/k.mp3", "");
  d.MakeDir("music/fifo");  // a FIFO is no play list: waiting on it would hang
  mkfifo(d.Join("music/fifo/x.m3u").c_str(), 0644);
  d.Write("music/fifo/t.mp3", "");
  symlink("nowhere.mp3", d.Join("music/dangling.mp3").c_str());

  s.Start({"-s", s.slave(), "-r", top});
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(Loads(s), (std::vector<std::string>{
                          top + "/fifo/t.mp3", top + "/list/song.mp3", top + "/list/# note",
                          "/abs/x.mp3", "http://radio.example/live", top + "/sub/x.mp3",
                          top + "/x.m3u/k.mp3", top + "/y.mp3/inner.mp3", top + "/B.mp3",
                          top + "/a.MP3", top + "/b.mp3", top + "/song.mp3.part",
                          top + "/y.mp3"}));
  ASSERT_FALSE(s.Commands().empty());
  EXPECT_EQ(s.Commands().back(), "QUIT");
  EXPECT_EQ(LeftoverChildren(), "");
}

// A name holding line feeds must not reach the decoder as commands of its own.
TEST(Startup, NamesWithControlBytesAreSkipped) {
  Session s(PlayThrough());
  const std::string top = s.dir().MakeDir("music");
  for (const char* name : {"a.mp3", "a\nQUIT\nb.mp3", "c.mp3"})
    s.dir().Write(std::string("music/") + name, "");
  s.Start({"-s", s.slave(), "-r", top});
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(s.Commands(),
            (std::vector<std::string>{"LOAD " + top + "/a.mp3", "LOAD " + top + "/c.mp3", "QUIT"}));
  EXPECT_EQ(s.CountTrace("Control character in name, skipped: " + top + "/a\\x0AQUIT\\x0Ab.mp3"),
            1u)
      << s.Trace();
}

TEST(Startup, TrailingSlashGivesDoubleSlashEntries) {
  Session s(PlayThrough());
  s.dir().MakeDir("m");
  s.dir().Write("m/a.mp3", "");
  s.Start({"-s", s.slave(), "-r", s.dir().Join("m/")});
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(Loads(s), std::vector<std::string>{s.dir().Join("m//a.mp3")});
}

// Options end at the first list entry; later "-s" is a track like any other.
TEST(Startup, OptionsStopAtTheFirstEntry) {
  Session s(PlayThrough());
  s.Start({"-x", "-s", s.slave(), "-", "-x", "a.mp3", "-s", "/dev/ttyS1", "it's $(a) b;c.mp3"});
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(s.CountTrace("Unknown option -x ignored"), 1u) << s.Trace();
  EXPECT_EQ(s.CountTrace("Unknown option - ignored"), 1u) << s.Trace();
  EXPECT_EQ(Loads(s),
            (std::vector<std::string>{"a.mp3", "-s", "/dev/ttyS1", "it's $(a) b;c.mp3"}));
}

// The player says why it has nothing to play, in the trace and on line 1.
TEST(Startup, EmptyScanLoadsNothingAndNextTrackEnds) {
  Session s;
  s.dir().MakeDir("empty");
  s.Start({"-s", s.slave(), "-r", s.dir().Join("empty")});
  ASSERT_TRUE(s.WaitReady());
  ASSERT_TRUE(s.Sync());
  EXPECT_TRUE(Loads(s).empty());
  EXPECT_EQ(s.CountTrace("No playable file in " + s.dir().Join("empty")), 1u) << s.Trace();
  EXPECT_TRUE(s.WaitForFrame([](const DisplayFrame& f) { return f.line1 == "No playable file"; }));
  s.SendKey(kNext);
  EXPECT_EQ(s.WaitExit(), 0);
  EXPECT_EQ(s.Commands(), std::vector<std::string>{"QUIT"});
  EXPECT_EQ(LeftoverChildren(), "");
}

}  // namespace
}  // namespace e2e
