#include "tools/learn/learner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "posix/trace.h"
#include "link/link.h"

namespace {
LearnOutcome Send(Learner& learner, uint16_t code, uint32_t nowMs, bool toggle = false) {
  const IrFrame f = IrFrameForCode(code, toggle);
  return learner.OnFrame(f.byte0, f.byte1, nowMs);
}
}  // namespace

TEST(Learner, EachKeyFillsTheNextSlot) {
  Learner learner;
  EXPECT_EQ(Send(learner, 0x3536, 1000).kind, LearnOutcome::kAssigned);
  EXPECT_EQ(learner.Skip().kind, LearnOutcome::kSkipped);
  const LearnOutcome third = Send(learner, 0x1234, 2000);
  EXPECT_EQ(third.kind, LearnOutcome::kAssigned);
  EXPECT_EQ(third.slot, KeyPause);
  EXPECT_EQ(learner.Keys()[KeyQuit], 0x3536);
  EXPECT_EQ(learner.Keys()[KeyPlay], 0);
  EXPECT_EQ(learner.Slot(), KeyStop);
}

TEST(Learner, HeldKeyCountsOnceWhateverItsToggle) {
  Learner learner;
  ASSERT_EQ(Send(learner, 0x3410, 1000, true).kind, LearnOutcome::kAssigned);
  // Frames every 114 ms for two seconds: each restarts the 300 ms window.
  for (uint32_t t = 1114; t < 3000; t += 114) EXPECT_EQ(Send(learner, 0x3410, t, true).kind, LearnOutcome::kRepeat);
  EXPECT_EQ(learner.Slot(), KeyPlay);
  // Another key within 300 ms is a key of its own.
  EXPECT_EQ(Send(learner, 0x3411, 3050).kind, LearnOutcome::kAssigned);
}

TEST(Learner, CodeOfAnotherSlotIsRefused) {
  Learner learner;
  Send(learner, 0x350C, 1000);
  // 299 ms later the same code is still the same press; 300 ms later it is
  // a new press of a key that is already taken.
  EXPECT_EQ(Send(learner, 0x350C, 1299).kind, LearnOutcome::kRepeat);
  const LearnOutcome again = Send(learner, 0x350C, 1599, true);
  EXPECT_EQ(again.kind, LearnOutcome::kTaken);
  EXPECT_EQ(again.owner, KeyQuit);
  EXPECT_EQ(learner.Slot(), KeyPlay);
  // Toggle bit and widening are the player's: 0x85 0x38 and 0x85 0x30 are one key.
  EXPECT_EQ(learner.OnFrame(0x85, 0x38, 5000).kind, LearnOutcome::kAssigned);
  EXPECT_EQ(learner.OnFrame(0x85, 0x30, 6000).kind, LearnOutcome::kTaken);
}

TEST(Learner, ZeroIsNotAKeyAndNothingFollowsTheLastSlot) {
  Learner learner;
  EXPECT_EQ(learner.OnFrame(0, 0, 1000).kind, LearnOutcome::kZero);
  for (int slot = 0; slot < kKeySlots; ++slot) learner.Skip();
  EXPECT_TRUE(learner.Finished());
  EXPECT_EQ(learner.Skip().kind, LearnOutcome::kFinished);
  EXPECT_EQ(Send(learner, 0x3535, 9000).kind, LearnOutcome::kFinished);
}

TEST(Mappings, WrittenFileLoadsBackIntoTheSameMap) {
  KeyMap keys{};
  keys[KeyQuit] = 0x3536;
  keys[KeyMute] = 0xF785;
  keys[KeyDigit9] = 0x0001;
  const std::string text = FormatMappings(keys);
  EXPECT_EQ(text.substr(0, 10), "3536 Quit\n");
  EXPECT_NE(text.find("0000 Jump forward\n"), std::string::npos);
  EXPECT_NE(text.find("0001 Digit 9\n"), std::string::npos);

  char dir[] = "/tmp/norvelo-learn-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/keys.map";
  std::string error;
  ASSERT_TRUE(WriteMappings(path, keys, error)) << error;
  KeyMap loaded = DefaultKeys();
  std::string trace;
  SetTraceCapture(&trace);
  EXPECT_EQ(LoadIRCodes(path, loaded), 0);
  SetTraceCapture(nullptr);
  EXPECT_EQ(trace, "");
  EXPECT_EQ(loaded, keys);
  // Nothing but the file itself is left behind.
  EXPECT_NE(access((path + ".new").c_str(), F_OK), 0);
  remove(path.c_str());
  EXPECT_FALSE(WriteMappings(std::string(dir) + "/missing/keys.map", keys, error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
  rmdir(dir);
}

// A link left at the temporary name (root learning in a shared folder) is
// never written through: its target stays as it was.
TEST(Mappings, ALinkAtTheTemporaryNameIsNotFollowed) {
  char dir[] = "/tmp/norvelo-learn-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/keys.map";
  const std::string victim = std::string(dir) + "/victim";
  std::ofstream(victim) << "precious\n";
  ASSERT_EQ(symlink(victim.c_str(), (path + ".new").c_str()), 0);
  std::string error;
  EXPECT_TRUE(WriteMappings(path, DefaultKeys(), error)) << error;
  std::ifstream kept(victim);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious\n");
  KeyMap loaded{};
  EXPECT_EQ(LoadIRCodes(path, loaded), 0);
  EXPECT_EQ(loaded, DefaultKeys());
  for (const std::string& file : {path, victim, path + ".new"}) unlink(file.c_str());
  rmdir(dir);
}
