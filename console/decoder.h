// The decoder channel: command lines to the external decoder's standard input
// and its status lines ("@R", "@I", "@F", "@P", ...) back from its output.
#pragma once

#include <cstddef>
#include <string>

#include "console/next.h"

class DecoderMixer;
struct PlayerState;

// What the channel keeps between reads, changed only here.
struct DecoderChannel {
  int input = -1;  // command lines to the decoder
  // The unfinished line carried between reads, and the tag fields collected
  // inside an "@I {" ... "@I }" block.
  std::string lineAccumulator;
  bool inInfoBlock = false;
  std::string blockV1Line;
  std::string blockTitle, blockArtist, blockAlbum;
  // A new decoder replaces one that ended: its ready line loads the current
  // entry again instead of the first.
  bool reloadOnReady = false;
  std::string title;            // as the decoder gave it, for the trace
  float elapsedSeconds = 0.0f;  // played of the current track, as last reported
  DecoderMixer* mixer = nullptr;  // the mixer, when it is the decoder's own volume
};

// The accumulator keeps at most this many characters of one line; the rest of
// a longer line up to its line feed is dropped.
constexpr size_t kMaxDecoderLine = 511;

// One write of the whole line (text plus line feed) to the decoder's input.
void SendDecoderCommand(DecoderChannel& decoder, const std::string& line);

// The first decoder was started: its command lines go to input.
void DecoderStarted(DecoderChannel& decoder, int input);

// A new decoder, its command lines going to input, replaced one that ended:
// the old one's unfinished line is dropped, and the new one's ready line loads
// the current entry again (paused again if it was; nothing when stopped).
void DecoderRestarted(PlayerState& state, int input);

// Cuts the text of one read into lines, carrying an unfinished line over.
// Lines after one that ends the program are not looked at.
Next HandleDecoderOutput(PlayerState& state, const char* text, size_t length);

// Acts on one complete line, given without its line feed.
Next HandleDecoderLine(PlayerState& state, const std::string& line);

// Artist, album, title in this order, the empty ones left out, joined by
// " - ": the title of a tagged track, whichever decoder read the tags.
std::string JoinTitle(const std::string& artist, const std::string& album,
                      const std::string& title);

// Artist - album - title from the three 30-character fields of an "@I ID3:"
// line, empty fields left out.
std::string TitleFromId3Line(const std::string& line);
