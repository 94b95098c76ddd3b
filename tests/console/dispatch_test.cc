#include <gtest/gtest.h>

#include "console/decoder.h"
#include "console/dispatch.h"
#include "fixture.h"

namespace {
// Sends the key whose RemoteCode is code (byte 0 below 0x80).
void Press(TestPlayer& p, uint16_t code, uint32_t afterMs = 1000) {
  p.clock.now += afterMs;
  const uint8_t frame[2] = {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
  p.exits.Note(DispatchKey(p.state, frame));
}

constexpr uint16_t kQuit = 0x350C, kPlay = 0x3535, kPause = 0x3530, kStop = 0x3536,
                   kUp = 0x3410, kDown = 0x3411, kMute = 0x241A, kNext = 0x3520,
                   kPrev = 0x3521, kMode = 0x353F;
}  // namespace

TEST(DispatchKey, TracesEveryFrameWithTheToggleBitCleared) {
  TestPlayer p;
  const uint8_t toggled[2] = {0x0C, 0x3D};
  p.exits.Note(DispatchKey(p.state, toggled));
  const uint8_t high[2] = {0x85, 0x38};
  p.exits.Note(DispatchKey(p.state, high));
  EXPECT_EQ(p.TakeTrace(), "IR Command: 350C\nIR Command: F785\n");
  EXPECT_EQ(p.exits.quits, std::vector<int>{2});
}

TEST(DispatchKey, TransportTable) {
  TestPlayer p;
  Press(p, kPause);
  Press(p, kStop);
  EXPECT_EQ(p.Commands(), "");  // not started: nothing
  Press(p, kPlay);
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Press(p, kPlay);  // playing: the track starts again
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Press(p, kPause);
  EXPECT_TRUE(p.state.transport.paused);
  Press(p, kPause);
  EXPECT_FALSE(p.state.transport.paused);
  Press(p, kPause);
  Press(p, kPlay);  // paused: resumes
  EXPECT_EQ(p.Commands(), "PAUSE\nPAUSE\nPAUSE\nPAUSE\n");
  EXPECT_FALSE(p.state.transport.paused);
  Press(p, kStop);
  EXPECT_EQ(p.Commands(), "STOP\n");
  EXPECT_FALSE(p.state.transport.playing);
  EXPECT_TRUE(p.state.transport.paused);
  Press(p, kPause);
  Press(p, kStop);
  EXPECT_EQ(p.Commands(), "");
  // The end-of-track report that follows a stop does not advance.
  p.Feed("@P 0\n");
  EXPECT_EQ(p.state.transport.track, 0);
  Press(p, kPlay);
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
}

TEST(DispatchKey, RepeatFilter) {
  TestPlayer p;
  Press(p, kPause);
  Press(p, kPlay);  // different key, acts at once
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Press(p, kPlay, 299);
  EXPECT_EQ(p.Commands(), "");
  Press(p, kPlay, 300);
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  // A held key: frames every 100 ms act once, each repeat restarts the window.
  for (int i = 0; i < 10; ++i) Press(p, kPause, 100);
  EXPECT_EQ(p.Commands(), "PAUSE\n");
  // Volume keys act on every frame.
  p.mixer.volume = 10;
  for (int i = 0; i < 3; ++i) Press(p, kUp, 50);
  EXPECT_EQ(p.mixer.volume, 25);
  // Unmatched codes still count as the previous record.
  Press(p, 0x1234, 1000);
  Press(p, 0x1234, 100);
  EXPECT_EQ(p.TakeTrace().find("IR Command: 1234\nIR Command: 1234\n") != std::string::npos, true);
}

TEST(DispatchKey, TrackKeysAndSeekModes) {
  TestPlayer p(12);
  Press(p, kPrev);  // on the first entry: the first entry again
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Press(p, kNext);
  EXPECT_EQ(p.Commands(), "LOAD /m/t2.mp3\n");
  Press(p, kMode);  // 1 -> 2: tens
  EXPECT_EQ(p.state.remote.seekMode, SeekMode::kTens);
  Press(p, kNext);
  EXPECT_EQ(p.Commands(), "LOAD /m/t12.mp3\n");
  Press(p, kPrev);
  EXPECT_EQ(p.Commands(), "LOAD /m/t2.mp3\n");
  Press(p, kPrev);  // below the first entry: the first entry
  EXPECT_EQ(p.Commands(), "LOAD /m/t1.mp3\n");
  Press(p, kMode);  // 2 -> 0: seek; next and previous jump and repeat while held
  Press(p, kNext);
  Press(p, kNext, 100);
  Press(p, kPrev, 100);
  EXPECT_EQ(p.Commands(), "JUMP +200\nJUMP +200\nJUMP -200\n");
  Press(p, kMode);
  EXPECT_EQ(p.state.remote.seekMode, SeekMode::kTrack);
  EXPECT_TRUE(p.exits.quits.empty());
  p.state.transport.track = 11;
  Press(p, kNext);  // past the end
  EXPECT_EQ(p.Commands(), "");
  EXPECT_EQ(p.exits.quits, std::vector<int>{-1});
}

TEST(DispatchKey, ForwardTenPastTheEndAndCodeZero) {
  TestPlayer p(5);
  p.state.remote.keys[KeyForwardTen] = 0x1111;
  Press(p, 0x1111);
  EXPECT_EQ(p.exits.quits, std::vector<int>{-1});
  TestPlayer q(3);
  Press(q, 0x0000);  // 0 in a slot is no key: a TV remote's "0" does nothing
  EXPECT_EQ(q.Commands(), "");
  EXPECT_EQ(q.TakeTrace(), "IR Command: 0000\n");
  q.state.remote.keys[KeyPlay] = 0x3536;  // the same code in two slots: the lower wins
  Press(q, 0x3536);
  EXPECT_EQ(q.Commands(), "LOAD /m/t1.mp3\n");
}

TEST(DispatchKey, VolumeSteps) {
  TestPlayer p;
  p.mixer.volume = 98;
  Press(p, kUp);
  EXPECT_EQ(p.mixer.volume, 100);
  EXPECT_EQ(p.state.display.volumeBar, std::string(16, '>'));
  EXPECT_TRUE(p.state.display.refreshNow);
  p.mixer.volume = 3;
  Press(p, kDown);
  EXPECT_EQ(p.mixer.volume, 0);
  EXPECT_EQ(p.state.display.volumeBar, "");
  EXPECT_EQ(p.TakeTrace().find("Volume=100%\n") != std::string::npos, true);

  p.mixer.volume = 40;
  Press(p, kMute);
  EXPECT_EQ(p.mixer.volume, 0);
  EXPECT_EQ(p.state.remote.savedVolume, 40);
  Press(p, kUp);  // any volume key ends the mute, from the saved value
  EXPECT_EQ(p.mixer.volume, 45);
  EXPECT_FALSE(p.state.remote.muted);
  Press(p, kMute);
  Press(p, kMute);
  EXPECT_EQ(p.mixer.volume, 45);
  EXPECT_EQ(p.state.display.volumeBar, std::string(7, '>'));
}

// The trace and the bar show what the mixer took, not what was asked.
TEST(DispatchKey, VolumeShownIsTheMixersValue) {
  TestPlayer p;
  p.mixer.volume = 90;
  p.mixer.ceiling = 90;
  Press(p, kUp);
  EXPECT_EQ(p.TakeTrace(), "IR Command: 3410\nVolume=90%\n");
  EXPECT_EQ(p.state.display.volumeBar, std::string(14, '>'));
}

TEST(DispatchKey, VolumeWithoutAMixer) {
  TestPlayer p;
  p.mixer.present = false;
  Press(p, kUp);
  Press(p, kDown);
  Press(p, kMute);
  Press(p, kMute);
  EXPECT_EQ(p.TakeTrace(),
            "IR Command: 3410\nVolume=100%\nIR Command: 3411\nVolume=250%\n"
            "IR Command: 241A\nVolume=0%\nIR Command: 241A\nVolume=255%\n");
  EXPECT_EQ(p.state.display.volumeBar, std::string(16, '>'));
  EXPECT_EQ(VolumeBar(6), "");
  EXPECT_EQ(VolumeBar(7), ">");
  EXPECT_EQ(VolumeBar(50), std::string(8, '>'));
  EXPECT_EQ(VolumeBar(99), std::string(15, '>'));
}
