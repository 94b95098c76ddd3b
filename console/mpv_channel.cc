#include "console/mpv_channel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <utility>
#include <vector>

#include "console/title.h"
#include "posix/trim.h"

namespace {

// Just enough JSON for mpv's replies and events: a value tree.
struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<std::pair<std::string, Json>> members;  // object, in order
  std::vector<Json> items;                            // array

  const Json* Get(const char* key) const {
    for (const auto& member : members)
      if (member.first == key) return &member.second;
    return nullptr;
  }
  const Json* GetNoCase(const char* key) const {
    for (const auto& member : members)
      if (strcasecmp(member.first.c_str(), key) == 0) return &member.second;
    return nullptr;
  }
  std::string TextOf(const char* key) const {
    const Json* value = Get(key);
    return value != nullptr && value->type == kString ? value->text : std::string();
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  bool ReadDocument(Json& value) {
    if (!ReadValue(value, 0)) return false;
    SkipSpace();
    return at_ == s_.size();
  }

 private:
  // mpv nests metadata and lists a few levels deep; a line that goes further
  // is no reply of its.
  static constexpr int kMaxDepth = 32;

  void SkipSpace() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' ||
                               s_[at_] == '\n'))
      ++at_;
  }

  bool Literal(const char* word) {
    const size_t n = strlen(word);
    if (s_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }

  bool ReadValue(Json& value, int depth) {
    if (depth > kMaxDepth) return false;
    SkipSpace();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') return ReadObject(value, depth);
    if (c == '[') return ReadArray(value, depth);
    if (c == '"') {
      value.type = Json::kString;
      return ReadString(value.text);
    }
    if (Literal("true")) {
      value.type = Json::kBool;
      value.boolean = true;
      return true;
    }
    if (Literal("false")) {
      value.type = Json::kBool;
      return true;
    }
    if (Literal("null")) return true;
    const char* begin = s_.c_str() + at_;
    char* end = nullptr;
    value.number = strtod(begin, &end);
    if (end == begin || !std::isfinite(value.number)) return false;
    value.type = Json::kNumber;
    at_ += static_cast<size_t>(end - begin);
    return true;
  }

  bool ReadObject(Json& value, int depth) {
    value.type = Json::kObject;
    ++at_;
    SkipSpace();
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
    for (;;) {
      SkipSpace();
      std::string key;
      if (at_ >= s_.size() || s_[at_] != '"' || !ReadString(key)) return false;
      SkipSpace();
      if (at_ >= s_.size() || s_[at_++] != ':') return false;
      Json member;
      if (!ReadValue(member, depth + 1)) return false;
      value.members.emplace_back(std::move(key), std::move(member));
      SkipSpace();
      if (at_ >= s_.size()) return false;
      const char c = s_[at_++];
      if (c == '}') return true;
      if (c != ',') return false;
    }
  }

  bool ReadArray(Json& value, int depth) {
    value.type = Json::kArray;
    ++at_;
    SkipSpace();
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
    for (;;) {
      Json item;
      if (!ReadValue(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
      SkipSpace();
      if (at_ >= s_.size()) return false;
      const char c = s_[at_++];
      if (c == ']') return true;
      if (c != ',') return false;
    }
  }

  bool Hex4(unsigned& code) {
    if (at_ + 4 > s_.size()) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  static void PutUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // Bytes that are not UTF-8 pass as they are: mpv sends tags unchanged.
  bool ReadString(std::string& out) {
    ++at_;
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && s_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            unsigned low = 0;
            if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          PutUtf8(out, code);
          break;
        }
        default: out += e;  // '"', '\\', '/'
      }
    }
    return false;
  }

  const std::string& s_;
  size_t at_ = 0;
};

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string TagOf(const Json& metadata, const char* key) {
  const Json* value = metadata.GetNoCase(key);
  if (value == nullptr || value->type != Json::kString) return std::string();
  std::string text = value->text;
  TrimString(text);
  return text;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string MpvChannel::Command(const std::string& arguments) {
  return "{\"command\":[" + arguments + "],\"request_id\":" + std::to_string(nextRequest_++) +
         "}\n";
}

std::string MpvChannel::Begin() {
  partial_.clear();
  dropping_ = false;
  ready_ = false;
  loadRequest_ = 0;
  entryId_ = -1;
  loaded_ = false;
  seekPending_ = false;
  sampleRate_ = 44100;
  std::string out;
  int id = 1;
  for (const char* property : {"time-pos", "pause", "metadata", "volume", "audio-params/samplerate"})
    out += Command("\"observe_property\"," + std::to_string(id++) + "," + JsonString(property));
  return out;
}

std::string MpvChannel::Load(const std::string& path) {
  lastWholeSecond_ = -1;
  loaded_ = false;
  seekPending_ = false;
  // A pause carries over from one file to the next in mpv; a loaded entry
  // plays, as the player's other decoder does it.
  std::string out = Command("\"set_property\",\"pause\",false");
  loadRequest_ = nextRequest_;
  return out + Command("\"loadfile\"," + JsonString(path) + ",\"replace\"");
}

std::string MpvChannel::TogglePause() { return Command("\"cycle\",\"pause\""); }

std::string MpvChannel::Stop() {
  seekPending_ = false;
  return Command("\"stop\"");
}

std::string MpvChannel::JumpFrames(int frames) {
  const double seconds = frames * 1152.0 / sampleRate_;
  return Command("\"seek\"," + Number(seconds) + ",\"relative\"");
}

std::string MpvChannel::SeekTo(double seconds) {
  if (!loaded_) {
    seekPending_ = true;
    pendingSeek_ = seconds;
    return std::string();
  }
  return Command("\"seek\"," + Number(seconds) + ",\"absolute\"");
}

std::string MpvChannel::SetVolume(int volume) {
  return Command("\"set_property\",\"volume\"," + std::to_string(volume));
}

std::string MpvChannel::Quit() { return Command("\"quit\""); }

void MpvChannel::Feed(const char* data, size_t length, EngineEvents& events, std::string& out) {
  for (size_t i = 0; i < length; ++i) {
    if (data[i] != '\n') {
      if (partial_.size() < kMaxLine)
        partial_ += data[i];
      else
        dropping_ = true;
      continue;
    }
    if (!dropping_) HandleLine(partial_, events, out);
    partial_.clear();
    dropping_ = false;
  }
}

void MpvChannel::HandleLine(const std::string& line, EngineEvents& events, std::string& out) {
  Json message;
  if (!JsonReader(line).ReadDocument(message) || message.type != Json::kObject) {
    // Not a reply or an event: something mpv itself did not mean for us.
    if (!line.empty()) events.push_back(EngineEvent::Of(EngineEvent::kNote, line));
    return;
  }
  const Json* request = message.Get("request_id");
  if (request != nullptr && message.Get("error") != nullptr) {
    if (!ready_) {
      ready_ = true;
      events.push_back(EngineEvent::Of(EngineEvent::kReady));
    }
    if (request->type != Json::kNumber || static_cast<long>(request->number) != loadRequest_ ||
        loadRequest_ == 0)
      return;
    loadRequest_ = 0;
    const std::string error = message.TextOf("error");
    const Json* data = message.Get("data");
    const Json* id = data != nullptr ? data->Get("playlist_entry_id") : nullptr;
    if (error != "success") {
      events.push_back(EngineEvent::Of(EngineEvent::kEntryFailed, error));
      events.push_back(EngineEvent::Of(EngineEvent::kEntryEnded));
    } else if (id != nullptr && id->type == Json::kNumber)
      entryId_ = static_cast<long>(id->number);
    else
      entryId_ = kNextStarted;  // an mpv whose reply names no entry
    return;
  }
  const std::string event = message.TextOf("event");
  if (event == "start-file" && entryId_ == kNextStarted) {
    const Json* id = message.Get("playlist_entry_id");
    if (id != nullptr && id->type == Json::kNumber) entryId_ = static_cast<long>(id->number);
  } else if (event == "file-loaded") {
    loaded_ = true;
    if (seekPending_) {
      seekPending_ = false;
      out += SeekTo(pendingSeek_);
    }
  } else if (event == "end-file") {
    const Json* id = message.Get("playlist_entry_id");
    // Until the loadfile's reply names the new entry, an end is the old one's.
    if (loadRequest_ != 0 || id == nullptr || id->type != Json::kNumber ||
        static_cast<long>(id->number) != entryId_)
      return;
    const std::string reason = message.TextOf("reason");
    if (reason == "eof") {
      events.push_back(EngineEvent::Of(EngineEvent::kEntryEnded));
    } else if (reason == "error") {
      std::string why = message.TextOf("file_error");
      if (why.empty()) why = "error";
      if (why.find("audio output") != std::string::npos) {
        events.push_back(EngineEvent::Of(EngineEvent::kNoOutput, why));
      } else {
        // Failed, and over: the list goes on, as after the other decoder's error.
        events.push_back(EngineEvent::Of(EngineEvent::kEntryFailed, why));
        events.push_back(EngineEvent::Of(EngineEvent::kEntryEnded));
      }
    }
  } else if (event == "property-change") {
    const std::string name = message.TextOf("name");
    const Json* data = message.Get("data");
    if (data == nullptr) return;
    if (name == "time-pos" && data->type == Json::kNumber) {
      // The display shows whole seconds: one event each, not mpv's ten.
      const long whole = static_cast<long>(std::floor(data->number));
      if (whole == lastWholeSecond_) return;
      lastWholeSecond_ = whole;
      EngineEvent elapsed = EngineEvent::Of(EngineEvent::kElapsed);
      elapsed.seconds = data->number < 0 ? 0 : data->number;
      events.push_back(elapsed);
    } else if (name == "metadata" && data->type == Json::kObject) {
      EngineEvent title = EngineEvent::Of(
          EngineEvent::kTitle,
          JoinTitle(TagOf(*data, "artist"), TagOf(*data, "album"), TagOf(*data, "title")));
      title.untagged = title.text.empty();
      events.push_back(title);
    } else if (name == "volume" && data->type == Json::kNumber) {
      EngineEvent volume = EngineEvent::Of(EngineEvent::kVolume);
      const double v = data->number;
      volume.volume = v <= 0 ? 0 : v >= 100 ? 100 : static_cast<int>(std::lround(v));
      events.push_back(volume);
    } else if (name == "audio-params/samplerate" && data->type == Json::kNumber &&
               data->number >= 1000 && data->number <= 1e6) {
      sampleRate_ = static_cast<int>(data->number);
    }
  }
}
