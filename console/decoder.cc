#include "console/decoder.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "console/display.h"
#include "console/mixer.h"
#include "console/player.h"
#include "console/title.h"
#include "posix/trace.h"
#include "console/transport.h"
#include "posix/trim.h"

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::string Field(const std::string& line, size_t from, size_t width) {
  if (from >= line.size()) return std::string();
  std::string field = line.substr(from, width);
  TrimString(field);
  return field;
}

// Cuts to the title buffer's size without splitting a UTF-8 sequence.
void FitTitle(std::string& title) {
  if (title.size() <= kTitleMax) return;
  size_t cut = kTitleMax;
  while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) --cut;
  title.resize(cut);
  TrimString(title);
}

void SetTitle(PlayerState& state, std::string title) {
  TrimString(title);
  ShowTitle(state.display, title);
  FitTitle(title);
  state.decoder.title = title;
  Trace("Track %d: \"%s\"\n", state.transport.track + 1, Printable(title).c_str());
}

// The file name without its folder and extension, as the decoder reports an
// untagged track.
std::string NameOfEntry(const Transport& transport) {
  if (transport.track < 0 || transport.track >= transport.trackCount()) return std::string();
  return FileNameOf(transport.playlist[static_cast<size_t>(transport.track)]);
}

void EndInfoBlock(PlayerState& state) {
  DecoderChannel& decoder = state.decoder;
  decoder.inInfoBlock = false;
  std::string title = JoinTitle(decoder.blockArtist, decoder.blockAlbum, decoder.blockTitle);
  if (title.empty()) {
    if (!decoder.blockV1Line.empty())
      title = TitleFromId3Line(decoder.blockV1Line);
    else
      title = NameOfEntry(state.transport);
  }
  SetTitle(state, title);
}

// A line of the "@I {" ... "@I }" block the decoder writes for a tagged track.
void HandleInfoBlockLine(PlayerState& state, const std::string& line) {
  if (line == "@I }") {
    EndInfoBlock(state);
  } else if (StartsWith(line, "@I ID3:")) {
    state.decoder.blockV1Line = line;
  } else if (StartsWith(line, "@I ID3v2.title:")) {
    state.decoder.blockTitle = Field(line, 15, std::string::npos);
  } else if (StartsWith(line, "@I ID3v2.artist:")) {
    state.decoder.blockArtist = Field(line, 16, std::string::npos);
  } else if (StartsWith(line, "@I ID3v2.album:")) {
    state.decoder.blockAlbum = Field(line, 15, std::string::npos);
  }
}

void StartInfoBlock(DecoderChannel& decoder) {
  decoder.inInfoBlock = true;
  decoder.blockV1Line.clear();
  decoder.blockTitle.clear();
  decoder.blockArtist.clear();
  decoder.blockAlbum.clear();
}

void HandleProgress(DecoderChannel& decoder, const std::string& line) {
  int frame = 0, left = 0;
  float played = 0.0f, remaining = 0.0f;
  if (sscanf(line.c_str() + 3, "%d %d %f %f", &frame, &left, &played, &remaining) >= 3)
    decoder.elapsedSeconds = played;
}

Next HandlePlayState(PlayerState& state, const std::string& line) {
  int value = 0;
  // A line without a number is not an end of track.
  if (sscanf(line.c_str() + 3, "%d", &value) != 1 || value != 0) return Next::GoOn();
  return TrackEnded(state.transport, state.decoder);
}

}  // namespace

std::string TitleFromId3Line(const std::string& line) {
  const std::string title = Field(line, 7, 30);
  const std::string artist = Field(line, 37, 30);
  const std::string album = Field(line, 67, 30);
  return JoinTitle(artist, album, title);
}

void SendDecoderCommand(DecoderChannel& decoder, const std::string& line) {
  // Formatted whole, never cut: a shortened LOAD line would name another file.
  const std::string command = line + "\n";
  ssize_t ignored = write(decoder.input, command.data(), command.size());
  (void)ignored;
}

void DecoderStarted(DecoderChannel& decoder, int input) { decoder.input = input; }

void DecoderRestarted(PlayerState& state, int input) {
  DecoderChannel& decoder = state.decoder;
  decoder.input = input;
  decoder.lineAccumulator.clear();
  decoder.inInfoBlock = false;
  // Before any track was loaded the new decoder starts from the first entry.
  decoder.reloadOnReady = state.transport.playing || state.transport.paused;
}

Next HandleDecoderLine(PlayerState& state, const std::string& line) {
  DecoderChannel& decoder = state.decoder;
  if (decoder.inInfoBlock) {
    if (StartsWith(line, "@I ")) {
      HandleInfoBlockLine(state, line);
      return Next::GoOn();
    }
    // The decoder writes a block in one go; anything else means it was cut off.
    decoder.inInfoBlock = false;
  }
  // Before anything is loaded, so that a new decoder plays at the user's volume.
  if (StartsWith(line, "@R ") && decoder.mixer != nullptr) decoder.mixer->DecoderReady();
  if (StartsWith(line, "@R ") && decoder.reloadOnReady) {
    decoder.reloadOnReady = false;
    ReloadTrack(state.transport, decoder);
  } else if (StartsWith(line, "@R ")) {
    StartFromTheFirst(state.transport, decoder);
  } else if (line == "@I {") {
    StartInfoBlock(decoder);
  } else if (StartsWith(line, "@I ID3:")) {
    SetTitle(state, TitleFromId3Line(line));
  } else if (StartsWith(line, "@I ")) {
    SetTitle(state, line.substr(3));
  } else if (StartsWith(line, "@S ")) {
  } else if (StartsWith(line, "@F ")) {
    HandleProgress(decoder, line);
  } else if (StartsWith(line, "@P ")) {
    return HandlePlayState(state, line);
  } else if (decoder.mixer != nullptr && decoder.mixer->OnDecoderLine(line)) {
    // The answer to a volume the player set.
  } else {
    Trace("%s\n", Printable(line).c_str());
  }
  return Next::GoOn();
}

Next HandleDecoderOutput(PlayerState& state, const char* text, size_t length) {
  std::string& accumulator = state.decoder.lineAccumulator;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '\n') {
      const std::string line = std::move(accumulator);
      accumulator.clear();
      const Next next = HandleDecoderLine(state, line);
      if (!next.GoesOn()) return next;
      continue;
    }
    if (accumulator.size() < kMaxDecoderLine) accumulator.push_back(c);
  }
  return Next::GoOn();
}
