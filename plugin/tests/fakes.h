// Test doubles for the plug-in's outside world: a scriptable host that records
// what it is sent, a hand-moved clock, and a serial line with queued frames.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "link/display_reader.h"
#include "plugin/display.h"
#include "plugin/receiver.h"

struct FakeHost : HostPort {
  int playState = 1;
  int outputMs = 0;
  int listLength = 10;
  int listPos = 0;
  std::map<int, std::string> titles;
  bool nullTitle = false;
  std::vector<std::string> sent;  // "req N arg" for 121/122/124, "cmd N"

  intptr_t Request(unsigned request, uintptr_t arg) override {
    switch (request) {
      case kReqIsPlaying: return playState;
      case kReqOutputTime: return outputMs;
      case kReqListPos: return listPos;
      case kReqEntryTitle:
        if (nullTitle) return 0;
        return reinterpret_cast<intptr_t>(titles[static_cast<int>(arg)].c_str());
      case kReqListLength: sent.push_back("req 124"); return listLength;
      default:
        sent.push_back("req " + std::to_string(request) + " " + std::to_string(arg));
        return 0;
    }
  }
  void Command(unsigned command) override { sent.push_back("cmd " + std::to_string(command)); }
  std::vector<std::string> Take() { std::vector<std::string> out; out.swap(sent); return out; }
};

struct FakeClock : Clock {
  uint32_t now = 100000;
  uint32_t Now() override { return now; }
};

struct FakeWave : WaveVolume {
  bool ok = true;
  uint32_t packed = 0;
  void SetLevel(uint32_t level) { packed = level * 255 | (level * 255) << 16; }
  bool Read(uint32_t& out) override { out = packed; return ok; }
};

struct FakeAlerts : Alerts {
  FakeClock* clock = nullptr;  // pauses move it, as real time would
  int beeps = 0;
  uint32_t paused = 0;
  void Beep() override { ++beeps; }
  void Pause(uint32_t ms) override { paused += ms; if (clock) clock->now += ms; }
};

struct FakeReader : SerialReader {
  struct Item { IoStatus status; uint8_t b0, b1; };
  std::deque<Item> items;
  void Frame(uint8_t b0, uint8_t b1) { items.push_back({IoStatus::kDone, b0, b1}); }
  IoStatus WaitForInput() override {
    if (items.empty()) return IoStatus::kFailedAtOnce;
    if (items.front().status != IoStatus::kDone) { IoStatus s = items.front().status; items.pop_front(); return s; }
    return IoStatus::kDone;
  }
  void ReadFrame(uint8_t frame[2]) override {
    frame[0] = items.front().b0;
    frame[1] = items.front().b1;
    items.pop_front();
  }
};

struct FakeWriter : SerialWriter {
  IoStatus result = IoStatus::kDone;
  std::vector<std::string> frames;
  IoStatus WriteFrame(const std::string& frame) override { frames.push_back(frame); return result; }
};

// Line 1 or line 2 of a frame, as the unit reads it.
inline std::string FrameLine(const std::string& frame, int line) {
  DisplayFrameReader reader;
  reader.Feed(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
  DisplayLines lines;
  reader.Flush(lines);
  return line == 1 ? lines.line1 : lines.line2;
}
