#include <gtest/gtest.h>

#include "console/children.h"
#include "fixture.h"

namespace {
struct FakeChild : Child {
  int starts = 0;
  bool startFails = false;
  bool Start() override {
    ++starts;
    return !startFails;
  }
  void Stop(bool) override {}
  bool Ended() override { return false; }
};
}  // namespace

TEST(RestartChild, ThreeRestartsThenTheFourthEndOrAFailedStartEndsThePlayer) {
  TraceCapture trace;
  FakeChild child;
  RestartBound bound;
  uint32_t now = 5000;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(RestartChild(child, bound, "mpg123", now += 15000).GoesOn());
  const Next next = RestartChild(child, bound, "mpg123", now += 14999);
  EXPECT_EQ(next.kind, Next::kQuit);
  EXPECT_EQ(next.status, 1);
  EXPECT_EQ(child.starts, 3);
  EXPECT_EQ(trace.text,
            "mpg123 process ended, starting it again\nmpg123 process ended, starting it again\n"
            "mpg123 process ended, starting it again\nmpg123 process ended 4 times within 60 s!\n\n");
  FakeChild broken;
  broken.startFails = true;
  RestartBound fresh;
  EXPECT_EQ(RestartChild(broken, fresh, "RX", now).kind, Next::kQuit);
}

TEST(RestartBound, OnlyTheLastMinuteCountsAcrossTheTickWrap) {
  RestartBound bound;
  const uint32_t start = 0xFFFFF000u;  // 4 s before the tick wraps
  EXPECT_TRUE(bound.Take(start));
  EXPECT_TRUE(bound.Take(start + 1000));
  EXPECT_TRUE(bound.Take(start + 2000));
  EXPECT_FALSE(bound.Take(start + 59999));
  EXPECT_TRUE(bound.Take(start + 60000));  // the first has left the window
  EXPECT_FALSE(bound.Take(start + 60999));
  EXPECT_TRUE(bound.Take(start + 200000));
}

namespace {
constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_CTYPE", "LC_NUMERIC", "LANG"};

// The four variables as "LC_ALL=... LC_CTYPE=... LC_NUMERIC=... LANG=...".
std::string LocaleAfter(const std::vector<std::string>& set) {
  for (const char* name : kLocaleVariables) unsetenv(name);
  for (const std::string& entry : set) putenv(const_cast<char*>(entry.c_str()));
  UseUtf8CharacterType();
  std::string shown;
  for (const char* name : kLocaleVariables) {
    const char* value = getenv(name);
    shown += std::string(shown.empty() ? "" : " ") + name + "=" + (value ? value : "");
  }
  for (const char* name : kLocaleVariables) unsetenv(name);
  return shown;
}
}  // namespace

TEST(DecoderLocale, OnlyTheCharacterTypeBecomesUtf8) {
  const struct {
    std::vector<std::string> set;
    const char* after;
  } cases[] = {
      {{}, "LC_ALL= LC_CTYPE=C.UTF-8 LC_NUMERIC= LANG="},
      {{"LANG=de_DE.UTF-8"}, "LC_ALL= LC_CTYPE= LC_NUMERIC= LANG=de_DE.UTF-8"},
      {{"LC_ALL=C.utf8"}, "LC_ALL=C.utf8 LC_CTYPE= LC_NUMERIC= LANG="},
      // LC_ALL hid the other two; they keep showing through its value.
      {{"LC_ALL=C", "LC_NUMERIC=de_DE.UTF-8", "LANG=en_US.UTF-8", "LC_CTYPE=C.UTF-8"},
       "LC_ALL= LC_CTYPE=C.UTF-8 LC_NUMERIC=C LANG=C"},
      {{"LC_CTYPE=POSIX", "LANG=en_US.UTF-8"}, "LC_ALL= LC_CTYPE=C.UTF-8 LC_NUMERIC= LANG=en_US.UTF-8"},
      {{"LC_ALL=", "LANG=fr_FR@euro"}, "LC_ALL= LC_CTYPE=C.UTF-8 LC_NUMERIC= LANG=fr_FR@euro"},
  };
  std::vector<std::string> saved;
  for (const char* name : kLocaleVariables)
    if (const char* value = getenv(name)) saved.push_back(std::string(name) + "=" + value);
  for (const auto& c : cases) EXPECT_EQ(LocaleAfter(c.set), c.after);
  for (const std::string& entry : saved) {
    const size_t eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1);
  }
}
