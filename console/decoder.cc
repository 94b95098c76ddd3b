#include "console/decoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "console/title.h"
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

EngineEvent Title(std::string text) { return EngineEvent::Of(EngineEvent::kTitle, std::move(text)); }

void EndInfoBlock(DecoderChannel& channel, EngineEvents& events) {
  channel.inInfoBlock = false;
  std::string title = JoinTitle(channel.blockArtist, channel.blockAlbum, channel.blockTitle);
  if (!title.empty()) {
    events.push_back(Title(title));
  } else if (!channel.blockV1Line.empty()) {
    events.push_back(Title(TitleFromId3Line(channel.blockV1Line)));
  } else {
    EngineEvent untagged = Title(std::string());
    untagged.untagged = true;
    events.push_back(untagged);
  }
}

// A line of the "@I {" ... "@I }" block the decoder writes for a tagged track.
void ReadInfoBlockLine(DecoderChannel& channel, const std::string& line, EngineEvents& events) {
  if (line == "@I }") {
    EndInfoBlock(channel, events);
  } else if (StartsWith(line, "@I ID3:")) {
    channel.blockV1Line = line;
  } else if (StartsWith(line, "@I ID3v2.title:")) {
    channel.blockTitle = Field(line, 15, std::string::npos);
  } else if (StartsWith(line, "@I ID3v2.artist:")) {
    channel.blockArtist = Field(line, 16, std::string::npos);
  } else if (StartsWith(line, "@I ID3v2.album:")) {
    channel.blockAlbum = Field(line, 15, std::string::npos);
  }
}

void StartInfoBlock(DecoderChannel& channel) {
  channel.inInfoBlock = true;
  channel.blockV1Line.clear();
  channel.blockTitle.clear();
  channel.blockArtist.clear();
  channel.blockAlbum.clear();
}

void ReadProgress(const std::string& line, EngineEvents& events) {
  int frame = 0, left = 0;
  float played = 0.0f, remaining = 0.0f;
  if (sscanf(line.c_str() + 3, "%d %d %f %f", &frame, &left, &played, &remaining) >= 3) {
    EngineEvent elapsed = EngineEvent::Of(EngineEvent::kElapsed);
    elapsed.seconds = played;
    events.push_back(elapsed);
  }
}

void ReadPlayState(const std::string& line, EngineEvents& events) {
  int value = 0;
  // A line without a number is not an end of track.
  if (sscanf(line.c_str() + 3, "%d", &value) == 1 && value == 0)
    events.push_back(EngineEvent::Of(EngineEvent::kEntryEnded));
}

// "...: failed to open file: /m/a.mp3: No such file or directory" gives the
// reason at its end; without such a line, the decoder's own report.
std::string OpenFailure(const DecoderChannel& channel, const std::string& report) {
  const std::string& noise = channel.lastNoise;
  const size_t colon = noise.rfind(": ");
  if (noise.find("failed to open") != std::string::npos && colon != std::string::npos)
    return noise.substr(colon + 2);
  return report.substr(3);
}

}  // namespace

std::string TitleFromId3Line(const std::string& line) {
  const std::string title = Field(line, 7, 30);
  const std::string artist = Field(line, 37, 30);
  const std::string album = Field(line, 67, 30);
  return JoinTitle(artist, album, title);
}

int DecoderVolume(const std::string& line) {
  // "@V 40.000000%": the decoder keeps fractions of a percent, and above 100
  // it amplifies; the player's range ends at 100.
  if (line.compare(0, 3, "@V ") != 0) return -1;
  const char* text = line.c_str() + 3;
  char* end = nullptr;
  const double percent = std::strtod(text, &end);
  if (end == text || *end != '%' || !std::isfinite(percent)) return -1;
  return percent <= 0 ? 0 : percent >= 100 ? 100 : static_cast<int>(std::lround(percent));
}

void ResetDecoderChannel(DecoderChannel& channel) {
  channel.lineAccumulator.clear();
  channel.inInfoBlock = false;
}

void ReadDecoderLine(DecoderChannel& channel, const std::string& line, EngineEvents& events) {
  if (channel.inInfoBlock) {
    if (StartsWith(line, "@I ")) {
      ReadInfoBlockLine(channel, line, events);
      return;
    }
    // The decoder writes a block in one go; anything else means it was cut off.
    channel.inInfoBlock = false;
  }
  if (StartsWith(line, "@R ")) {
    events.push_back(EngineEvent::Of(EngineEvent::kReady));
  } else if (line == "@I {") {
    StartInfoBlock(channel);
  } else if (StartsWith(line, "@I ID3:")) {
    events.push_back(Title(TitleFromId3Line(line)));
  } else if (StartsWith(line, "@I ")) {
    events.push_back(Title(line.substr(3)));
  } else if (StartsWith(line, "@E Error opening stream")) {
    // The decoder's reason came on the line of its library just before.
    events.push_back(EngineEvent::Of(EngineEvent::kEntryFailed, OpenFailure(channel, line)));
    events.push_back(EngineEvent::Of(EngineEvent::kNote, line));
  } else if (StartsWith(line, "@S ")) {
  } else if (StartsWith(line, "@F ")) {
    ReadProgress(line, events);
  } else if (StartsWith(line, "@P ")) {
    ReadPlayState(line, events);
  } else if (const int volume = DecoderVolume(line); volume >= 0) {
    // Echoed as it is where the player does not use the decoder's volume.
    EngineEvent event = EngineEvent::Of(EngineEvent::kVolume, line);
    event.volume = volume;
    events.push_back(event);
  } else {
    if (line.empty() || line[0] != '@') channel.lastNoise = line;
    events.push_back(EngineEvent::Of(EngineEvent::kNote, line));
  }
}

void ReadDecoderOutput(DecoderChannel& channel, const char* text, size_t length,
                       EngineEvents& events) {
  std::string& accumulator = channel.lineAccumulator;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '\n') {
      const std::string line = std::move(accumulator);
      accumulator.clear();
      ReadDecoderLine(channel, line, events);
      continue;
    }
    if (accumulator.size() < kMaxDecoderLine) accumulator.push_back(c);
  }
}
