#include <gtest/gtest.h>

#include "console/mpv_channel.h"

namespace {

struct Fed {
  EngineEvents events;
  std::string out;
};

Fed Feed(MpvChannel& channel, const std::string& text) {
  Fed fed;
  channel.Feed(text.data(), text.size(), fed.events, fed.out);
  return fed;
}

std::vector<EngineEvent::Kind> Kinds(const Fed& fed) {
  std::vector<EngineEvent::Kind> kinds;
  for (const EngineEvent& event : fed.events) kinds.push_back(event.kind);
  return kinds;
}

// A channel past its start whose current entry is mpv's entry 7.
MpvChannel Loaded(const std::string& path = "/m/a.flac") {
  MpvChannel channel;
  channel.Begin();
  channel.Load(path);
  // Begin sent requests 1 to 5, Load 6 (pause) and 7 (loadfile).
  Feed(channel, "{\"data\":{\"playlist_entry_id\":7},\"request_id\":7,\"error\":\"success\"}\n");
  return channel;
}

}  // namespace

TEST(MpvChannel, CommandsAreJsonLinesWithTheirOwnRequestIds) {
  MpvChannel channel;
  const std::string begin = channel.Begin();
  EXPECT_NE(begin.find("{\"command\":[\"observe_property\",1,\"time-pos\"],\"request_id\":1}\n"),
            std::string::npos);
  for (const char* property : {"\"pause\"", "\"metadata\"", "\"volume\"", "\"audio-params/samplerate\""})
    EXPECT_NE(begin.find(property), std::string::npos) << property;
  EXPECT_EQ(channel.Load("/m/\"odd\\name\n.ogg"),
            "{\"command\":[\"set_property\",\"pause\",false],\"request_id\":6}\n"
            "{\"command\":[\"loadfile\",\"/m/\\\"odd\\\\name\\u000a.ogg\",\"replace\"],"
            "\"request_id\":7}\n");
  EXPECT_EQ(channel.TogglePause(), "{\"command\":[\"cycle\",\"pause\"],\"request_id\":8}\n");
  EXPECT_EQ(channel.SetVolume(35),
            "{\"command\":[\"set_property\",\"volume\",35],\"request_id\":9}\n");
  EXPECT_EQ(channel.Quit(), "{\"command\":[\"quit\"],\"request_id\":10}\n");
}

// 200 MPEG frames: 5.2 s at 44.1 kHz until mpv names the track's rate.
TEST(MpvChannel, JumpsLastAsLongAsTheFramesAtTheTracksRate) {
  MpvChannel channel = Loaded();
  EXPECT_NE(channel.JumpFrames(200).find("\"seek\",5.224,\"relative\""), std::string::npos);
  Feed(channel, "{\"event\":\"property-change\",\"id\":5,\"name\":\"audio-params/samplerate\","
                "\"data\":48000}\n");
  EXPECT_NE(channel.JumpFrames(-200).find("\"seek\",-4.800,\"relative\""), std::string::npos);
}

TEST(MpvChannel, ReadyOnceOnTheFirstReply) {
  MpvChannel channel;
  channel.Begin();
  const Fed fed = Feed(channel, "{\"request_id\":1,\"error\":\"success\"}\n"
                                "{\"request_id\":2,\"error\":\"success\"}\n");
  EXPECT_EQ(Kinds(fed), std::vector<EngineEvent::Kind>{EngineEvent::kReady});
}

TEST(MpvChannel, OnlyTheCurrentEntrysEndCounts) {
  MpvChannel channel;
  channel.Begin();
  channel.Load("/m/a.flac");
  // The previous entry's end, before the reply names the new one.
  EXPECT_TRUE(Feed(channel, "{\"event\":\"end-file\",\"reason\":\"eof\",\"playlist_entry_id\":6}\n")
                  .events.empty());
  Feed(channel, "{\"data\":{\"playlist_entry_id\":7},\"request_id\":7,\"error\":\"success\"}\n");
  EXPECT_TRUE(Feed(channel, "{\"event\":\"end-file\",\"reason\":\"stop\",\"playlist_entry_id\":7}\n"
                            "{\"event\":\"end-file\",\"reason\":\"eof\",\"playlist_entry_id\":6}\n")
                  .events.empty());
  EXPECT_EQ(Kinds(Feed(channel, "{\"event\":\"end-file\",\"reason\":\"eof\",\"playlist_entry_id\":7}\n")),
            std::vector<EngineEvent::Kind>{EngineEvent::kEntryEnded});
}

TEST(MpvChannel, AFailedEntryCarriesMpvsReason) {
  MpvChannel channel = Loaded();
  Fed fed = Feed(channel, "{\"event\":\"end-file\",\"reason\":\"error\",\"playlist_entry_id\":7,"
                          "\"file_error\":\"unrecognized file format\"}\n");
  ASSERT_EQ(Kinds(fed), (std::vector<EngineEvent::Kind>{EngineEvent::kEntryFailed,
                                                         EngineEvent::kEntryEnded}));
  EXPECT_EQ(fed.events[0].text, "unrecognized file format");
  fed = Feed(channel, "{\"event\":\"end-file\",\"reason\":\"error\",\"playlist_entry_id\":7,"
                      "\"file_error\":\"audio output initialization failed\"}\n");
  ASSERT_EQ(Kinds(fed), std::vector<EngineEvent::Kind>{EngineEvent::kNoOutput});
}

TEST(MpvChannel, TitleJoinsArtistAlbumTitleWhateverTheirCase) {
  MpvChannel channel = Loaded();
  Fed fed = Feed(channel, "{\"event\":\"property-change\",\"name\":\"metadata\",\"data\":"
                          "{\"TITLE\":\"Song \\u00e8\",\"encoder\":\"x\",\"Artist\":\" Band \"}}\n"
                          "{\"event\":\"property-change\",\"name\":\"metadata\"}\n");
  ASSERT_EQ(fed.events.size(), 1u);
  EXPECT_EQ(fed.events[0].text, "Band - Song \xc3\xa8");
  EXPECT_FALSE(fed.events[0].untagged);
  fed = Feed(channel, "{\"event\":\"property-change\",\"name\":\"metadata\",\"data\":{}}\n");
  ASSERT_EQ(fed.events.size(), 1u);
  EXPECT_TRUE(fed.events[0].untagged);
}

TEST(MpvChannel, ElapsedTimeOncePerWholeSecondAndVolumeInRange) {
  MpvChannel channel = Loaded();
  std::string lines;
  for (const char* t : {"0.0", "0.1", "0.9", "1.05", "1.5", "61.2"})
    lines += std::string("{\"event\":\"property-change\",\"name\":\"time-pos\",\"data\":") + t + "}\n";
  Fed fed = Feed(channel, lines + "{\"event\":\"property-change\",\"name\":\"volume\",\"data\":120.0}\n"
                                  "{\"event\":\"property-change\",\"name\":\"volume\",\"data\":42.6}\n");
  ASSERT_EQ(fed.events.size(), 5u);
  EXPECT_DOUBLE_EQ(fed.events[1].seconds, 1.05);
  EXPECT_DOUBLE_EQ(fed.events[2].seconds, 61.2);
  EXPECT_EQ(fed.events[3].volume, 100);
  EXPECT_EQ(fed.events[4].volume, 43);
  // A new entry reports its first second even when it is the same number.
  channel.Load("/m/b.flac");
  EXPECT_EQ(Feed(channel, "{\"event\":\"property-change\",\"name\":\"time-pos\",\"data\":61.5}\n")
                .events.size(), 1u);
}

// Resuming seeks in an entry that is still loading: the seek waits for it.
TEST(MpvChannel, ASeekBeforeTheFileIsLoadedWaitsForIt) {
  MpvChannel channel = Loaded();
  EXPECT_EQ(channel.SeekTo(20.5), "");
  const Fed fed = Feed(channel, "{\"event\":\"file-loaded\"}\n");
  EXPECT_NE(fed.out.find("\"seek\",20.500,\"absolute\""), std::string::npos);
  EXPECT_NE(channel.SeekTo(3).find("\"seek\",3.000,\"absolute\""), std::string::npos);
}

TEST(MpvChannel, LinesAreCutAcrossReadsAndWhatIsNotJsonIsEchoed) {
  MpvChannel channel = Loaded();
  EXPECT_TRUE(Feed(channel, "{\"event\":\"end-file\",\"reason\":").events.empty());
  EXPECT_EQ(Kinds(Feed(channel, "\"eof\",\"playlist_entry_id\":7}\nALSA lib: no\n{\"a\":[1,}\n")),
            (std::vector<EngineEvent::Kind>{EngineEvent::kEntryEnded, EngineEvent::kNote,
                                            EngineEvent::kNote}));
  // A line past the limit is dropped whole, and the next one is read.
  const std::string huge(MpvChannel::kMaxLine + 10, 'x');
  EXPECT_EQ(Kinds(Feed(channel, huge + "\nok\n")),
            std::vector<EngineEvent::Kind>{EngineEvent::kNote});
}
