#include <gtest/gtest.h>

#include "console/display.h"
#include "fixture.h"
#include "link/link.h"

namespace {
std::string Frame(const std::string& line1, const std::string& line2) {
  return BuildDisplayFrame(line1, line2, false);
}
}  // namespace

TEST(StatusLine, Forms) {
  TestPlayer p;
  p.state.transport.track = 2;
  p.state.transport.playing = true;
  p.state.now.elapsedSeconds = 125.9f;
  EXPECT_EQ(StatusLine(p.state), "Trk 3 (2:05)    ");
  p.state.transport.paused = true;
  p.state.remote.muted = true;
  p.state.remote.seekMode = SeekMode::kTens;
  EXPECT_EQ(StatusLine(p.state), "Trk 3 [2:05] M T");
  p.state.now.elapsedSeconds = 62 * 60 + 5;
  p.state.transport.paused = false;
  p.state.remote.muted = false;
  p.state.remote.seekMode = SeekMode::kTrack;
  EXPECT_EQ(StatusLine(p.state), "Trk 3 (62:05)   ");
  p.state.transport.playing = false;
  p.state.transport.track = 0;
  p.state.remote.seekMode = SeekMode::kSeek;
  EXPECT_EQ(StatusLine(p.state), "Trk 1 (stop)   S");
  // Longer than 15: no padding, the letter follows directly.
  p.state.transport.playing = true;
  p.state.remote.muted = true;
  p.state.transport.track = 122;
  p.state.now.elapsedSeconds = 5;
  p.state.remote.seekMode = SeekMode::kTrack;
  EXPECT_EQ(StatusLine(p.state), "Trk 123 (0:05) M ");
  // Values no decoder sends do not overflow the conversion.
  p.state.now.elapsedSeconds = 1e30f;
  EXPECT_NO_FATAL_FAILURE(StatusLine(p.state));
  p.state.now.elapsedSeconds = -3.0f;
  p.state.remote.muted = false;
  p.state.transport.track = 0;
  EXPECT_EQ(StatusLine(p.state), "Trk 1 (0:00)    ");
}

TEST(RefreshDisplay, CadenceAndVolumeBar) {
  TestPlayer p;
  p.state.display.title = "Short";
  RefreshDisplay(p.state);  // the first pass is always due
  EXPECT_EQ(p.serial.Drain(), Frame("Short           ", "Trk 1 (stop)    "));
  p.clock.now += 500;
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain(), "");
  p.clock.now += 1;
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain().size(), 34u);
  // A volume key forces a refresh in the same pass once the line has carried
  // the last frame; the bar shows once.
  p.clock.now += 152;
  p.state.display.refreshNow = true;
  p.state.display.volumeBar = std::string(16, '>');
  RefreshDisplay(p.state);
  const std::string bar = p.serial.Drain();
  EXPECT_EQ(bar, Frame("Short           ", std::string(16, '>') + " "));
  EXPECT_EQ(bar.size(), 35u);
  EXPECT_FALSE(p.state.display.refreshNow);
  p.clock.now += 501;
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain(), Frame("Short           ", "Trk 1 (stop)    "));
  p.clock.now += 152;
  p.state.display.refreshNow = true;
  p.state.display.volumeBar.clear();
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain(), Frame("Short           ", std::string(16, ' ')));
}

// A 34-byte frame takes 141.7 ms at 2400 baud, and the unit 10 ms more to draw it.
TEST(RefreshDisplay, FramesWaitForTheLineAndCarryTheNewestState) {
  TestPlayer p;
  RefreshDisplay(p.state);
  p.serial.Drain();
  p.clock.now += 100;
  p.state.display.refreshNow = true;
  p.state.display.volumeBar = ">";
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain(), "");
  EXPECT_EQ(DisplayWaitMs(p.state), 52u);
  p.state.display.volumeBar = ">>";  // the next key merges into the waiting frame
  p.clock.now += 51;
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain(), "");
  EXPECT_EQ(DisplayWaitMs(p.state), 1u);
  p.clock.now += 1;
  RefreshDisplay(p.state);
  EXPECT_EQ(p.serial.Drain(), Frame(std::string(16, ' '), ">>" + std::string(14, ' ')));
  EXPECT_EQ(DisplayWaitMs(p.state), 501u);
}

TEST(RefreshDisplay, EveryRefreshMovesTheTickerAndBytesPassUnchanged) {
  TestPlayer p;
  p.state.display.title = "ABCDEFGHIJKLMNOPQ\xa8";  // 18 bytes, one of them the line-2 marker
  std::vector<std::string> windows;
  for (int i = 0; i < 6; ++i) {
    p.clock.now += 501;
    RefreshDisplay(p.state);
    windows.push_back(p.serial.Drain().substr(1, 16));
  }
  EXPECT_EQ(windows[0], p.state.display.title.substr(0, 16));
  EXPECT_EQ(windows[1], p.state.display.title.substr(1, 16));
  EXPECT_EQ(windows[2], p.state.display.title.substr(2, 16));
  EXPECT_EQ(windows[3], p.state.display.title.substr(2, 16));
  EXPECT_EQ(windows[5], p.state.display.title.substr(0, 16));
  // The clock wrapping around 2^32 does not stop the display.
  p.clock.now = 0xFFFFFF00u;
  p.state.display.lastRefresh = 0xFFFFFC00u;
  RefreshDisplay(p.state);
  EXPECT_FALSE(p.serial.Drain().empty());
  p.clock.now = 0x00000100u;
  RefreshDisplay(p.state);
  EXPECT_FALSE(p.serial.Drain().empty());
}
