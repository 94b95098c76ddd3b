// Decoder output, any bytes in any split into reads: the same bytes must leave
// the player in the same state whether they come in one read or in many.
//
// Input: byte 0 picks the play-list length (0..7), byte 1 how many split sizes
// follow (0..7), then one byte per split size (1..256); the rest is the text.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "console/decoder.h"
#include "console/engine_mpg123.h"
#include "console/events.h"
#include "console/display.h"
#include "fuzz/fuzz_support.h"
#include "tests/console/fixture.h"

namespace {

struct Run {
  PlayerState state;
  Mpg123Engine engine{state.transport.playlist};
  FakeClock clock;
  FakeMixer mixer;
  Endings exits;
  bool ended = false;
  std::string trace;
  MemFile& commands;

  Run(int tracks, MemFile& commandFile) : commands(commandFile) {
    for (int i = 0; i < tracks; ++i)
      state.transport.playlist.push_back("/m/t" + std::to_string(i) + ".mp3");
    commands.Reset();
    engine.SetInput(commands.fd());
    state.engine = &engine;
    state.line.serialFd = NullFd();
    state.clock = &clock;
    state.mixer = &mixer;
  }

  void Feed(const char* text, size_t length) {
    EngineEvents events;
    engine.Feed(text, length, events);
    for (const EngineEvent& event : events) {
      ended = !exits.Note(HandleEngineEvent(state, event)).GoesOn();
      if (ended) break;
    }
  }

  void CheckInvariants() {
    FUZZ_CHECK(state.now.title.size() <= kTitleMax);
    FUZZ_CHECK(state.display.title.size() <= kTitleMax);
    FUZZ_CHECK(engine.channel().lineAccumulator.size() <= kMaxDecoderLine);
    FUZZ_CHECK(ended == !exits.quits.empty());
    FUZZ_CHECK(exits.quits.size() <= 1);
    if (!ended) {
      FUZZ_CHECK(state.transport.track >= 0);
      FUZZ_CHECK(state.transport.track < state.transport.trackCount() || state.transport.track == 0);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemFile wholeCommands("whole"), splitCommands("split");
  ByteReader in(data, size);
  const int tracks = in.Byte() % 8;
  std::vector<size_t> splits(in.Byte() % 8);
  for (size_t& s : splits) s = static_cast<size_t>(in.Byte()) + 1;
  const std::string text = in.Text(in.left());

  Run whole(tracks, wholeCommands);
  SetTraceCapture(&whole.trace);
  whole.Feed(text.data(), text.size());
  whole.CheckInvariants();

  Run split(tracks, splitCommands);
  SetTraceCapture(&split.trace);
  size_t at = 0;
  for (size_t i = 0; at < text.size() && !split.ended; ++i) {
    size_t n = splits.empty() ? 1 : splits[i % splits.size()];
    if (n > text.size() - at) n = text.size() - at;
    split.Feed(text.data() + at, n);
    at += n;
    split.CheckInvariants();
    // The main loop refreshes the display between reads; titles the decoder
    // made up go through the ticker here.
    split.clock.now += 97;
    if (!split.ended) RefreshDisplay(split.state);
  }
  SetTraceCapture(nullptr);

  FUZZ_CHECK(whole.ended == split.ended);
  FUZZ_CHECK(whole.exits.quits == split.exits.quits);
  FUZZ_CHECK(whole.state.transport.track == split.state.transport.track);
  FUZZ_CHECK(whole.state.transport.playing == split.state.transport.playing);
  FUZZ_CHECK(whole.state.transport.paused == split.state.transport.paused);
  FUZZ_CHECK(whole.state.now.title == split.state.now.title);
  // What the channel read past the end of the player no longer counts.
  if (!whole.ended) {
    FUZZ_CHECK(whole.engine.channel().inInfoBlock == split.engine.channel().inInfoBlock);
    FUZZ_CHECK(whole.engine.channel().lineAccumulator == split.engine.channel().lineAccumulator);
  }
  // NaN from "@F 0 0 nan" never equals itself; compare the bits instead.
  FUZZ_CHECK(std::memcmp(&whole.state.now.elapsedSeconds, &split.state.now.elapsedSeconds,
                         sizeof(float)) == 0);
  FUZZ_CHECK(whole.trace == split.trace);
  FUZZ_CHECK(wholeCommands.Contents() == splitCommands.Contents());
  return 0;
}
