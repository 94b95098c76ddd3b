#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "posix/keymap.h"
#include "console/options.h"
#include "posix/trace.h"
#include "fixture.h"

namespace {
class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/norvelo-keys-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    std::ofstream(path_) << text;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
}  // namespace

TEST(LoadIRCodes, FillsSlotsInOrderAndClearsTheRest) {
  std::string text;
  for (int i = 0; i < 14; ++i) text += "0x" + std::to_string(4000 + i) + "\n\n   \r\n";
  TempFile file(text);
  KeyMap keys = DefaultKeys();
  EXPECT_EQ(LoadIRCodes(file.path(), keys), 0);
  EXPECT_EQ(keys[0], 0x4000);
  EXPECT_EQ(keys[13], 0x4013);
  for (int slot = 14; slot < kKeySlots; ++slot) EXPECT_EQ(keys[slot], 0) << slot;
}

TEST(LoadIRCodes, NumberForms) {
  TempFile file("350c Quit\n0X3535 Play\n  0x3530\t\n12345\n-1\nf\n");
  KeyMap keys{};
  ASSERT_EQ(LoadIRCodes(file.path(), keys), 0);
  EXPECT_EQ(keys[0], 0x350C);
  EXPECT_EQ(keys[1], 0x3535);
  EXPECT_EQ(keys[2], 0x3530);
  EXPECT_EQ(keys[3], 0x2345);  // low 16 bits of a longer number
  EXPECT_EQ(keys[4], 0xFFFF);
  EXPECT_EQ(keys[5], 0x000F);
}

TEST(LoadIRCodes, BadLinesAreReportedAndKeepTheirSlot) {
  TraceCapture trace;
  std::string text = "1\nnot a code\n3\n";
  for (int i = 3; i < 30; ++i) text += std::to_string(i + 1) + "\n";
  TempFile file(text);
  KeyMap keys{};
  ASSERT_EQ(LoadIRCodes(file.path(), keys), 0);
  EXPECT_EQ(keys[0], 1);
  EXPECT_EQ(keys[1], 0);
  EXPECT_EQ(keys[2], 3);
  EXPECT_EQ(keys[23], 0x24);
  EXPECT_NE(trace.text.find("line 2 is not a code"), std::string::npos) << trace.text;
  EXPECT_NE(trace.text.find("more than 24 codes"), std::string::npos);
}

TEST(LoadIRCodes, MissingFileKeepsTheTable) {
  TraceCapture trace;
  KeyMap keys = DefaultKeys();
  keys[3] = 0x7777;
  EXPECT_EQ(LoadIRCodes("/nonexistent/keys", keys), 1);
  EXPECT_EQ(keys[3], 0x7777);
  EXPECT_EQ(trace.text, "Remote mappings file not found! /nonexistent/keys: No such file or directory\n\n");
}

// A file that gives no key would leave no quit key either.
TEST(LoadIRCodes, NoKeyAtAllKeepsTheTable) {
  TempFile empty("");
  TempFile zeros("0\n0x0000 nothing\n\n");
  for (const std::string& path : {empty.path(), zeros.path()}) {
    TraceCapture trace;
    KeyMap keys = DefaultKeys();
    EXPECT_EQ(LoadIRCodes(path, keys), 1) << path;
    EXPECT_EQ(keys, DefaultKeys()) << path;
    EXPECT_NE(trace.text.find("gives no key"), std::string::npos) << trace.text;
  }
}

// A FIFO would wait for a writer for ever and a device never ends: neither is
// opened for reading, nor is a folder.
TEST(LoadIRCodes, WhatIsNoRegularFileKeepsTheTable) {
  char dir[] = "/tmp/norvelo-keys-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string fifo = std::string(dir) + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), std::string(dir)}) {
    TraceCapture trace;
    KeyMap keys = DefaultKeys();
    EXPECT_EQ(LoadIRCodes(path, keys), 1) << path;
    EXPECT_EQ(keys, DefaultKeys()) << path;
    EXPECT_EQ(trace.text, "Remote mappings file " + path +
                              ": not a regular file, the keys stay as they were\n");
  }
  unlink(fifo.c_str());
  rmdir(dir);
}

// Reading stops at a bound: what lies past it is not looked at.
TEST(LoadIRCodes, AHugeFileIsReadUpToItsBound) {
  TempFile file("350c\n" + std::string(100000, '\n') + "3535\n");
  TraceCapture trace;
  KeyMap keys = DefaultKeys();
  ASSERT_EQ(LoadIRCodes(file.path(), keys), 0);
  EXPECT_EQ(keys[0], 0x350C);
  EXPECT_EQ(keys[1], 0);
  EXPECT_NE(trace.text.find("longer than 65536 bytes, the rest ignored"), std::string::npos)
      << trace.text;
}

// A long note after a code is part of its line, not the next slot's code.
TEST(LoadIRCodes, LongLineIsOneLine) {
  TempFile file("350c " + std::string(3000, '3') + "\n3535\n");
  KeyMap keys{};
  ASSERT_EQ(LoadIRCodes(file.path(), keys), 0);
  EXPECT_EQ(keys[0], 0x350C);
  EXPECT_EQ(keys[1], 0x3535);
  EXPECT_EQ(keys[2], 0);
}

TEST(KeyMap, DefaultsAndSeekModes) {
  const KeyMap keys = DefaultKeys();
  EXPECT_EQ(LookupKey(keys, 0x350C), KeyQuit);
  EXPECT_EQ(LookupKey(keys, 0x241A), KeyMute);
  EXPECT_EQ(LookupKey(keys, 0x3009), KeyDigit9);
  EXPECT_EQ(LookupKey(keys, 0), KeyNone);  // 0 in a slot is no key, not a code
  EXPECT_EQ(LookupKey(keys, 0xBEEF), KeyNone);
  EXPECT_EQ(SetSeekMode(KeyNextTrack, SeekMode::kSeek), KeyJumpForward);
  EXPECT_EQ(SetSeekMode(KeyPreviousTrack, SeekMode::kSeek), KeyJumpBack);
  EXPECT_EQ(SetSeekMode(KeyNextTrack, SeekMode::kTens), KeyForwardTen);
  EXPECT_EQ(SetSeekMode(KeyPreviousTrack, SeekMode::kTens), KeyBackTen);
  EXPECT_EQ(SetSeekMode(KeyNextTrack, SeekMode::kTrack), KeyNextTrack);
  EXPECT_EQ(SetSeekMode(KeyPreviousTrack, SeekMode::kTrack), KeyPreviousTrack);
  EXPECT_EQ(SetSeekMode(KeyPlay, SeekMode::kSeek), KeyPlay);
}

TEST(ReadOptions, OrderValuesAndTheList) {
  auto read = [](std::vector<const char*> args, KeyMap& keys) {
    args.insert(args.begin(), "norvelo");
    const Options o = ReadOptions(static_cast<int>(args.size()), const_cast<char* const*>(args.data()));
    LoadMappings(o, keys);
    return o;
  };
  KeyMap keys = DefaultKeys();
  Options o = read({"-x", "a.mp3"}, keys);
  EXPECT_EQ(o.list, std::vector<std::string>{"a.mp3"});
  o = read({"a.mp3", "-s", "/dev/ttyS1"}, keys);
  EXPECT_EQ(o.list.size(), 3u);
  EXPECT_EQ(o.serport, "/dev/ttyS0");
  o = read({"-s", "-r", "-s", "/dev/b", "-r", "-", "d"}, keys);
  EXPECT_EQ(o.serport, "/dev/b");  // "-r" was the first -s's value
  EXPECT_TRUE(o.recursive);
  EXPECT_EQ(o.list, std::vector<std::string>{"d"});
  const std::string longPath = "/" + std::string(300, 'd');
  o = read({"-s", longPath.c_str(), "x"}, keys);
  EXPECT_EQ(o.serport, longPath);  // never cut: a cut path names another device

  TempFile first("1\n2\n");
  TempFile second("5\n");
  o = read({"-m", first.path().c_str(), "-m", second.path().c_str(), "a.mp3"}, keys);
  EXPECT_EQ(keys[0], 5);
  EXPECT_EQ(keys[1], 0);
  TraceCapture trace;
  o = read({"-m", first.path().c_str(), "-m", "/nonexistent", "a.mp3"}, keys);
  EXPECT_EQ(keys[1], 2);
}

// Help and version answer at once; a missing value is a failure, an unknown
// option is kept once for its note and otherwise ignored.
TEST(ReadOptions, ActionsAndUnknownOptions) {
  auto read = [](std::vector<const char*> args) {
    args.insert(args.begin(), "norvelo");
    return ReadOptions(static_cast<int>(args.size()), const_cast<char* const*>(args.data()));
  };
  using Action = Options::Action;
  EXPECT_EQ(read({"-h"}).action, Action::kHelp);
  EXPECT_EQ(read({"-s", "/dev/x", "--help", "-s"}).action, Action::kHelp);
  EXPECT_EQ(read({"--version"}).action, Action::kVersion);
  EXPECT_EQ(read({"-V", "-h"}).action, Action::kVersion);
  EXPECT_EQ(read({"-s", "-h", "a.mp3"}).serport, "-h");  // a value, whatever it looks like
  EXPECT_EQ(read({"a.mp3", "-h"}).action, Action::kRun);  // in the list
  Options o = read({"-s"});
  EXPECT_EQ(o.action, Action::kFail);
  EXPECT_EQ(o.message, "-s option needs a device!\n\n");
  o = read({"-r", "-m"});
  EXPECT_EQ(o.action, Action::kFail);
  EXPECT_EQ(o.message, "-m option needs a file!\n\n");
  o = read({"-x", "--help=no", "-x", "-", "-r", "d"});
  EXPECT_EQ(o.action, Action::kRun);
  EXPECT_EQ(o.unknown, (std::vector<std::string>{"-x", "--help=no", "-"}));
  EXPECT_EQ(o.list, std::vector<std::string>{"d"});
}
