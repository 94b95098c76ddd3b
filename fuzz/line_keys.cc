// Bytes on the serial line through the receiver's pairing into frames, and the
// frames through DispatchKey and the display refresh, with the time between
// reads and the size of each read taken from the input.
//
// Input: byte 0 sets the play-list length (bits 0-3), whether a mixer is there
// (bit 4), the first seek mode (bits 5-6, modulo 3) and whether a key map of
// 24 codes follows (bit 7); byte 1 the mixer volume; 4 bytes the clock at start; then
// the key map if asked for; then steps of one control byte (bit 0: read one
// or two bytes; bits 1-7: milliseconds passed, in fives) and the bytes read.
#include <cstdint>
#include <string>

#include "console/dispatch.h"
#include "console/display.h"
#include "fuzz/fuzz_support.h"
#include "link/keys.h"
#include "tests/console/fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t config = in.Byte();
  PlayerState state;
  Mpg123Engine engine{state.transport.playlist};
  FakeClock clock;
  FakeMixer mixer;
  Endings exits;
  bool ended = false;
  const int tracks = config & 15;
  for (int i = 0; i < tracks; ++i)
    state.transport.playlist.push_back("/m/" + std::to_string(i) + ".mp3");
  mixer.present = (config & 0x10) != 0;
  mixer.volume = in.Byte() % 101;
  state.remote.seekMode = static_cast<SeekMode>(((config >> 5) & 3) % 3);
  clock.now = in.U32();
  if (config & 0x80)
    for (uint16_t& code : state.remote.keys) code = static_cast<uint16_t>(in.Byte() << 8 | in.Byte());
  engine.SetInput(NullFd());
  state.engine = &engine;
  state.line.serialFd = NullFd();
  state.clock = &clock;
  state.mixer = &mixer;

  std::string trace;
  SetTraceCapture(&trace);
  FrameAssembler assembler;
  uint64_t monotonic = 0;
  while (!in.empty() && !ended) {
    const uint8_t control = in.Byte();
    const uint32_t passed = static_cast<uint32_t>(control >> 1) * 5;
    clock.now += passed;
    monotonic += passed;

    const int left = assembler.Expire(monotonic);
    FUZZ_CHECK(left == -1 || (left > 0 && left <= kPairWindowMs));
    const int wanted = assembler.Wanted();
    FUZZ_CHECK(wanted == 1 || wanted == 2);
    int count = 1 + (control & 1);
    if (count > wanted) count = wanted;
    if (static_cast<size_t>(count) > in.left()) count = static_cast<int>(in.left());
    uint8_t frame[2];
    const bool complete = assembler.Take(in.Here(), count, monotonic, frame);
    in.Skip(static_cast<size_t>(count));
    if (complete) ended = !exits.Note(DispatchKey(state, frame)).GoesOn();
    if (ended) break;
    RefreshDisplay(state);
    trace.clear();

    FUZZ_CHECK(state.transport.track >= 0);
    FUZZ_CHECK(state.transport.track < state.transport.trackCount() || state.transport.track == 0);
    FUZZ_CHECK(state.remote.seekMode == SeekMode::kSeek || state.remote.seekMode == SeekMode::kTrack ||
               state.remote.seekMode == SeekMode::kTens);
    FUZZ_CHECK(state.display.volumeBar.size() <= 16);
    if (mixer.present) FUZZ_CHECK(mixer.volume >= 0 && mixer.volume <= 100);
    FUZZ_CHECK(StatusLine(state).size() >= 16);
  }
  SetTraceCapture(nullptr);
  FUZZ_CHECK(ended == !exits.quits.empty());
  FUZZ_CHECK(exits.quits.size() <= 1);
  return 0;
}
