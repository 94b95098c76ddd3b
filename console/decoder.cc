#include "console/decoder.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "console/mixer.h"
#include "console/trace.h"
#include "console/trim.h"

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

// Artist, album, title in this order, the empty ones left out.
std::string JoinTitle(const std::string& artist, const std::string& album,
                      const std::string& title) {
  std::string joined;
  for (const std::string* part : {&artist, &album, &title}) {
    if (part->empty()) continue;
    if (!joined.empty()) joined += " - ";
    joined += *part;
  }
  return joined;
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
  // Converted whole, so that the cut counts display characters.
  state.displayTitle = ToDisplayCharset(title, state.displayCharset);
  if (state.displayTitle.size() > kTitleMax) state.displayTitle.resize(kTitleMax);
  FitTitle(title);
  state.title = title;
  Trace("Track %d: \"%s\"\n", state.track + 1, Printable(state.title).c_str());
}

// The file name without its folder and extension, as the decoder reports an
// untagged track.
std::string NameOfEntry(const PlayerState& state) {
  if (state.track < 0 || state.track >= static_cast<int>(state.playlist.size()))
    return std::string();
  std::string name = state.playlist[static_cast<size_t>(state.track)];
  const size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

void EndInfoBlock(PlayerState& state) {
  state.inInfoBlock = false;
  std::string title = JoinTitle(state.blockArtist, state.blockAlbum, state.blockTitle);
  if (title.empty()) {
    if (!state.blockV1Line.empty())
      title = TitleFromId3Line(state.blockV1Line);
    else
      title = NameOfEntry(state);
  }
  SetTitle(state, title);
}

// A line of the "@I {" ... "@I }" block the decoder writes for a tagged track.
void HandleInfoBlockLine(PlayerState& state, const std::string& line) {
  if (line == "@I }") {
    EndInfoBlock(state);
  } else if (StartsWith(line, "@I ID3:")) {
    state.blockV1Line = line;
  } else if (StartsWith(line, "@I ID3v2.title:")) {
    state.blockTitle = Field(line, 15, std::string::npos);
  } else if (StartsWith(line, "@I ID3v2.artist:")) {
    state.blockArtist = Field(line, 16, std::string::npos);
  } else if (StartsWith(line, "@I ID3v2.album:")) {
    state.blockAlbum = Field(line, 15, std::string::npos);
  }
}

void StartInfoBlock(PlayerState& state) {
  state.inInfoBlock = true;
  state.blockV1Line.clear();
  state.blockTitle.clear();
  state.blockArtist.clear();
  state.blockAlbum.clear();
}

void HandleProgress(PlayerState& state, const std::string& line) {
  int frame = 0, left = 0;
  float played = 0.0f, remaining = 0.0f;
  if (sscanf(line.c_str() + 3, "%d %d %f %f", &frame, &left, &played, &remaining) >= 3)
    state.elapsedSeconds = played;
}

Next HandlePlayState(PlayerState& state, const std::string& line) {
  int value = 0;
  // A line without a number is not an end of track.
  if (sscanf(line.c_str() + 3, "%d", &value) != 1) return Next::GoOn();
  if (value != 0 || state.paused) return Next::GoOn();
  state.track += 1;
  if (state.track >= state.trackCount) return Next::Quit(0);
  LoadTrack(state);
  return Next::GoOn();
}

// The ready line of a decoder started in place of one that ended.
void ReloadTrack(PlayerState& state) {
  if (!state.playing) return;
  const bool paused = state.paused;
  LoadTrack(state);
  if (paused) {
    SendDecoderCommand(state, "PAUSE");
    state.paused = true;
  }
}

}  // namespace

std::string TitleFromId3Line(const std::string& line) {
  const std::string title = Field(line, 7, 30);
  const std::string artist = Field(line, 37, 30);
  const std::string album = Field(line, 67, 30);
  return JoinTitle(artist, album, title);
}

void SendDecoderCommand(PlayerState& state, const std::string& line) {
  // Formatted whole, never cut: a shortened LOAD line would name another file.
  const std::string command = line + "\n";
  ssize_t ignored = write(state.decoderIn, command.data(), command.size());
  (void)ignored;
}

void LoadTrack(PlayerState& state) {
  if (state.track >= 0 && state.track < static_cast<int>(state.playlist.size()))
    SendDecoderCommand(state, "LOAD " + state.playlist[static_cast<size_t>(state.track)]);
  state.playing = true;
  state.paused = false;
}

void DecoderRestarted(PlayerState& state) {
  state.lineAccumulator.clear();
  state.inInfoBlock = false;
  // Before any track was loaded the new decoder starts from the first entry.
  state.reloadOnReady = state.playing || state.paused;
}

Next HandleDecoderLine(PlayerState& state, const std::string& line) {
  if (state.inInfoBlock) {
    if (StartsWith(line, "@I ")) {
      HandleInfoBlockLine(state, line);
      return Next::GoOn();
    }
    // The decoder writes a block in one go; anything else means it was cut off.
    state.inInfoBlock = false;
  }
  // Before anything is loaded, so that a new decoder plays at the user's volume.
  if (StartsWith(line, "@R ") && state.decoderMixer != nullptr) state.decoderMixer->DecoderReady();
  if (StartsWith(line, "@R ") && state.reloadOnReady) {
    state.reloadOnReady = false;
    ReloadTrack(state);
  } else if (StartsWith(line, "@R ")) {
    state.track = 0;
    // With nothing to play the player waits for keys instead.
    if (state.trackCount > 0) LoadTrack(state);
  } else if (line == "@I {") {
    StartInfoBlock(state);
  } else if (StartsWith(line, "@I ID3:")) {
    SetTitle(state, TitleFromId3Line(line));
  } else if (StartsWith(line, "@I ")) {
    SetTitle(state, line.substr(3));
  } else if (StartsWith(line, "@S ")) {
  } else if (StartsWith(line, "@F ")) {
    HandleProgress(state, line);
  } else if (StartsWith(line, "@P ")) {
    return HandlePlayState(state, line);
  } else if (state.decoderMixer != nullptr && state.decoderMixer->OnDecoderLine(line)) {
    // The answer to a volume the player set.
  } else {
    Trace("%s\n", Printable(line).c_str());
  }
  return Next::GoOn();
}

Next HandleDecoderOutput(PlayerState& state, const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '\n') {
      const std::string line = std::move(state.lineAccumulator);
      state.lineAccumulator.clear();
      const Next next = HandleDecoderLine(state, line);
      if (!next.GoesOn()) return next;
      continue;
    }
    if (state.lineAccumulator.size() < kMaxDecoderLine) state.lineAccumulator.push_back(c);
  }
  return Next::GoOn();
}
