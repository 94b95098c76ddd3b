#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include "console/resume.h"
#include "fixture.h"
#include "tests/support/temp_dir.h"

namespace {

PlayPoint Point(int entry, double position, PlayState state = PlayState::kPlaying) {
  PlayPoint point;
  point.list = ListIdentity({"/m"}, true);
  point.entry = entry;
  point.path = "/m/t" + std::to_string(entry + 1) + ".flac";
  point.position = position;
  point.state = state;
  point.volume = 70;
  return point;
}

struct FakeStore : StateStore {
  std::string text;
  Read read = kNone;
  bool fails = false;
  std::vector<std::string> saved;
  Read Load(std::string& out, std::string& why) override {
    out = text;
    why = "Permission denied";
    return read;
  }
  bool Save(const std::string& out, std::string& why) override {
    why = "Read-only file system";
    if (fails) return false;
    saved.push_back(out);
    return true;
  }
  PlayPoint Last() {
    PlayPoint point;
    EXPECT_TRUE(ParsePlayPoint(saved.back(), point));
    return point;
  }
};

const Playlist kList = {"/m/t1.flac", "/m/t2.flac", "/m/t3.flac"};

}  // namespace

TEST(Resume, AStateReadsBackAndAnythingButAWholeOneIsRefused) {
  PlayPoint point = Point(2, 20.25, PlayState::kPaused);
  point.path = "/m/odd\\name\nwith line.flac";
  point.muted = true;
  point.savedVolume = 55;
  const std::string text = FormatPlayPoint(point);
  PlayPoint read;
  ASSERT_TRUE(ParsePlayPoint(text, read));
  EXPECT_EQ(FormatPlayPoint(read), text);
  EXPECT_EQ(read.path, point.path);
  EXPECT_TRUE(read.muted);
  for (size_t cut = 0; cut < text.size(); ++cut)
    EXPECT_FALSE(ParsePlayPoint(text.substr(0, cut), read)) << cut;
  std::string changed = text;
  changed[text.find("20.250")] = '3';
  EXPECT_FALSE(ParsePlayPoint(changed, read));
  EXPECT_FALSE(ParsePlayPoint(std::string("\x7f\x45\x4c\x46\x02\x01\x01\x00", 8), read));
}

TEST(Resume, TheEntryIsFoundByItsPathElseItsIndexInTheSameListOnly) {
  const std::string same = ListIdentity({"/m"}, true);
  EXPECT_EQ(ResumeEntry(Point(1, 0), same, kList), 1);
  // The folder gained a track in front: the path finds it.
  EXPECT_EQ(ResumeEntry(Point(1, 0), same, {"/m/t0.flac", "/m/t1.flac", "/m/t2.flac"}), 2);
  PlayPoint gone = Point(1, 0);
  gone.path = "/m/gone.flac";
  EXPECT_EQ(ResumeEntry(gone, same, kList), 1);
  EXPECT_EQ(ResumeEntry(Point(5, 0), same, kList), -1);
  EXPECT_EQ(ResumeEntry(Point(1, 0), ListIdentity({"/other"}, true), kList), -1);
  EXPECT_NE(ListIdentity({"/m"}, true), ListIdentity({"/m"}, false));
  EXPECT_NE(ListIdentity({"a", "b"}, false), ListIdentity({"b", "a"}, false));
}

TEST(Resume, WrittenOnEachChangeAndEveryTenSecondsWhilePlaying) {
  FakeStore store;
  ResumeKeeper keeper(store, ListIdentity({"/m"}, true));
  keeper.Note(Point(0, 0), 1000);
  keeper.Note(Point(0, 4), 5000);
  EXPECT_EQ(store.saved.size(), 1u);
  keeper.Note(Point(0, 9.5), 11000);
  ASSERT_EQ(store.saved.size(), 2u);
  EXPECT_DOUBLE_EQ(store.Last().position, 9.5);
  keeper.Note(Point(0, 10, PlayState::kPaused), 11500);
  keeper.Note(Point(0, 10, PlayState::kPaused), 30000);  // paused: nothing moves
  ASSERT_EQ(store.saved.size(), 3u);
  PlayPoint louder = Point(0, 10, PlayState::kPaused);
  louder.volume = 80;
  keeper.Note(louder, 30100);
  EXPECT_EQ(store.saved.size(), 4u);
  // The next entry, while the player still shows the last one's time.
  keeper.Note(Point(1, 10), 30200);
  EXPECT_DOUBLE_EQ(store.Last().position, 0);
  keeper.Final(Point(1, 3));
  EXPECT_DOUBLE_EQ(store.Last().position, 3);
}

TEST(Resume, AResumedPositionStandsUntilTheSeekLands) {
  FakeStore store;
  store.text = FormatPlayPoint(Point(2, 20));
  store.read = StateStore::kRead;
  ResumeKeeper keeper(store, ListIdentity({"/m"}, true));
  PlayPoint point;
  int entry = -1;
  ASSERT_TRUE(keeper.Resume(kList, point, entry));
  EXPECT_EQ(entry, 2);
  keeper.Note(Point(2, 0.1, PlayState::kPaused), 1000);
  EXPECT_DOUBLE_EQ(store.Last().position, 20);
  keeper.Note(Point(2, 20.1, PlayState::kPlaying), 2000);
  keeper.Note(Point(2, 31, PlayState::kPlaying), 12500);
  EXPECT_DOUBLE_EQ(store.Last().position, 31);
}

TEST(Resume, AFileThatMakesNoSenseOrCannotBeWrittenIsTracedOnce) {
  TraceCapture trace;
  FakeStore store;
  ResumeKeeper keeper(store, "x");
  PlayPoint point;
  int entry = -1;
  EXPECT_FALSE(keeper.Resume(kList, point, entry));  // no file: nothing said
  store.read = StateStore::kRead;
  store.text = "garbage";
  EXPECT_FALSE(keeper.Resume(kList, point, entry));
  store.read = StateStore::kFailed;
  EXPECT_FALSE(keeper.Resume(kList, point, entry));
  EXPECT_EQ(trace.text,
            "State file makes no sense, starting from the first entry\n"
            "State file unreadable (Permission denied), starting from the first entry\n");
  trace.text.clear();
  store.fails = true;
  keeper.Note(Point(0, 0), 1000);
  keeper.Note(Point(1, 0), 2000);
  EXPECT_EQ(trace.text, "Unable to write state file (Read-only file system)\n");
}

TEST(StateFile, ReplacedWholeBesideItselfAndAnEmptyDirectoryInItsPlaceGoes) {
  TempDir dir("norvelo-state");
  StateFile file(dir.Join("state"));
  std::string text, why;
  EXPECT_EQ(file.Load(text, why), StateStore::kNone);
  ASSERT_TRUE(file.Save("one\n", why)) << why;
  ASSERT_TRUE(file.Save("two\n", why)) << why;
  EXPECT_EQ(file.Load(text, why), StateStore::kRead);
  EXPECT_EQ(text, "two\n");
  dir.MakeDir("dir");
  StateFile folder(dir.Join("dir"));
  EXPECT_EQ(folder.Load(text, why), StateStore::kFailed);
  EXPECT_TRUE(folder.Save("three\n", why)) << why;
  StateFile nowhere(dir.Join("missing/state"));
  EXPECT_FALSE(nowhere.Save("x", why));
  EXPECT_FALSE(why.empty());
  // Nothing but the two states is left in the folder.
  size_t names = 0;
  DirHandle listing(opendir(dir.path().c_str()));
  while (dirent* entry = readdir(listing.get())) names += entry->d_name[0] != '.';
  EXPECT_EQ(names, 2u);
}
