#include "tools/unit/script.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "1500", "300ms", "1.5s" to milliseconds; false when not a duration.
bool ParseDuration(const std::string& word, uint32_t& ms) {
  const std::string text = Lower(word);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(value) || value < 0) return false;
  const std::string unit(end);
  double scaled;
  if (unit.empty() || unit == "ms") scaled = value;
  else if (unit == "s") scaled = value * 1000.0;
  else return false;
  if (scaled > kMaxScriptPauseMs) return false;
  ms = static_cast<uint32_t>(std::lround(scaled));
  return true;
}

bool ParseHexCode(const std::string& word, uint16_t& code) {
  std::string text = Lower(word);
  if (text.rfind("0x", 0) == 0) text = text.substr(2);
  if (text.empty() || text.size() > 4) return false;
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  code = static_cast<uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
  return true;
}

std::string Join(const std::vector<std::string>& words, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to; ++i) out += (i > from ? " " : "") + words[i];
  return out;
}
}  // namespace

Script ParseScript(std::istream& in, const KeyMap& keys) {
  Script script;
  uint32_t now = 0;
  std::string line;
  int number = 0;
  auto fail = [&](const std::string& what) {
    script.error = "line " + std::to_string(number) + ": " + what;
    script.events.clear();
    return script;
  };
  auto advance = [&](uint32_t ms) {
    if (now > UINT32_MAX - ms) return false;
    now += ms;
    return true;
  };
  // A key by name; false with the reason in why.
  auto keyCode = [&](const std::string& name, int& slot, uint16_t& code, std::string& why) {
    slot = ParseKeyName(name);
    if (slot < 0) {
      why = "unknown key '" + name + "'";
      return false;
    }
    code = keys[slot];
    if (code == 0) {
      why = std::string("this remote has no key for ") + KeySlotName(slot);
      return false;
    }
    return true;
  };

  while (std::getline(in, line)) {
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    const std::string verb = Lower(w[0]);
    std::string why;
    if (verb == "wait" || verb == "sleep") {
      uint32_t ms = 0;
      if (w.size() != 2 || !ParseDuration(w[1], ms)) return fail("wait wants one duration, like 500 or 1.5s");
      if (!advance(ms)) return fail("the script runs too long");
    } else if (verb == "enter") {
      if (w.size() != 1) return fail("enter takes nothing after it");
      script.events.push_back({ScriptEvent::kEnter, now, 0, KeyNone});
    } else if (verb == "code") {
      uint16_t code = 0;
      if (w.size() != 2 || !ParseHexCode(w[1], code)) return fail("code wants one hexadecimal RemoteCode, like 0x350C");
      script.events.push_back({ScriptEvent::kPress, now, code, KeyNone});
    } else if (verb == "hold") {
      uint32_t ms = 0;
      int slot = KeyNone;
      uint16_t code = 0;
      if (w.size() < 3 || !ParseDuration(w.back(), ms)) return fail("hold wants a key and a duration, like: hold vol+ 1s");
      if (!keyCode(Join(w, 1, w.size() - 1), slot, code, why)) return fail(why);
      script.events.push_back({ScriptEvent::kPress, now, code, slot});
      for (uint32_t t = kRc5RepeatMs; t < ms; t += kRc5RepeatMs)
        script.events.push_back({ScriptEvent::kRepeat, now + t, code, slot});
      if (!advance(ms)) return fail("the script runs too long");
    } else {
      int slot = KeyNone;
      uint16_t code = 0;
      if (!keyCode(Join(w, 0, w.size()), slot, code, why)) return fail(why);
      script.events.push_back({ScriptEvent::kPress, now, code, slot});
    }
  }
  script.endMs = now;
  return script;
}

IrFrame FrameForEvent(const ScriptEvent& event, RemoteButtons& remote) {
  if (event.kind == ScriptEvent::kRepeat) return IrFrameForCode(event.code, remote.Toggle());
  return remote.Press(event.code, event.atMs);
}
