// The decoder channel of the mpg123 engine: the decoder's status lines ("@R",
// "@I", "@F", "@P", "@V", ...) in, engine events out, and the command lines
// the engine writes. It knows nothing of the player above it.
#pragma once

#include <cstddef>
#include <string>

#include "console/engine.h"

// What the channel keeps between reads.
struct DecoderChannel {
  // The unfinished line carried between reads, and the tag fields collected
  // inside an "@I {" ... "@I }" block.
  std::string lineAccumulator;
  bool inInfoBlock = false;
  std::string blockV1Line;
  std::string blockTitle, blockArtist, blockAlbum;
  std::string lastNoise;  // the last line of the decoder's libraries
};

// The accumulator keeps at most this many characters of one line; the rest of
// a longer line up to its line feed is dropped.
constexpr size_t kMaxDecoderLine = 511;

// Cuts the text of one read into lines, carrying an unfinished line over, and
// appends each complete line's event.
void ReadDecoderOutput(DecoderChannel& channel, const char* text, size_t length,
                       EngineEvents& events);

// The event of one complete line, given without its line feed; a line inside
// a tag block may give none.
void ReadDecoderLine(DecoderChannel& channel, const std::string& line, EngineEvents& events);

// A new decoder: nothing of the old one's output is carried over.
void ResetDecoderChannel(DecoderChannel& channel);

// Artist - album - title from the three 30-character fields of an "@I ID3:"
// line, empty fields left out.
std::string TitleFromId3Line(const std::string& line);

// The decoder's volume answer "@V 40.000000%" as 0..100, or -1 when the line
// is none.
int DecoderVolume(const std::string& line);
