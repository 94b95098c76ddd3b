// The decoder channel: command lines to the external decoder's standard input
// and its status lines ("@R", "@I", "@F", "@P", ...) back from its output.
#pragma once

#include <string>

#include "console/player.h"

// The accumulator keeps at most this many characters of one line; the rest of
// a longer line up to its line feed is dropped.
constexpr size_t kMaxDecoderLine = 511;

// One write of the whole line (text plus line feed) to PlayerState.decoderIn.
void SendDecoderCommand(PlayerState& state, const std::string& line);

// "LOAD <entry>" for the current track; playing = 1, paused = 0.
void LoadTrack(PlayerState& state);

// Cuts the text of one read into lines, carrying an unfinished line over.
// Lines after one that ends the program are not looked at.
Next HandleDecoderOutput(PlayerState& state, const char* text, size_t length);

// Acts on one complete line, given without its line feed.
Next HandleDecoderLine(PlayerState& state, const std::string& line);

// A new decoder is about to replace one that ended: the old one's unfinished
// line is dropped, and the new one's ready line loads the current entry again
// (paused again if it was paused; nothing when stopped).
void DecoderRestarted(PlayerState& state);

// Artist - album - title from the three 30-character fields of an "@I ID3:"
// line, empty fields left out.
std::string TitleFromId3Line(const std::string& line);
