// The plug-in's receiver filter and command handling, fed with frames from the
// line and with whatever the host answers: odd play states, negative or huge
// positions and list lengths, missing or very long titles, failing devices.
//
// Input: a script of steps. Each step is one byte choosing what happens next;
// every answer of the host, the line, the wave device and the display port is
// taken from the bytes that follow, at the moment it is asked for.
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

#include "fuzz/fuzz_support.h"
#include "plugin/display.h"
#include "plugin/receiver.h"

namespace {

int32_t Signed(uint32_t v) {
  int32_t out;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

// Small numbers mostly, the full int32 range when the first byte says so.
int32_t Number(ByteReader& in) {
  const uint8_t b = in.Byte();
  return b < 0xF0 ? b % 40 : Signed(in.U32());
}

struct ScriptedHost : HostPort {
  ByteReader& in;
  std::deque<std::string> titles;  // pointers handed out stay valid
  int32_t lastLength = 0;
  explicit ScriptedHost(ByteReader& reader) : in(reader) {}

  intptr_t Request(unsigned request, uintptr_t arg) override {
    switch (request) {
      case kReqIsPlaying: return in.Byte() % 5;
      case kReqOutputTime: return Number(in);
      case kReqListPos: return Number(in);
      case kReqListLength: return lastLength = Number(in);
      case kReqEntryTitle: {
        const uint8_t kind = in.Byte();
        if (kind == 0) return 0;
        // Lengths up to 2040 reach past the plug-in's 1023-character copy.
        titles.push_back(in.Text(static_cast<size_t>(kind & 0x7F) * 16));
        if (titles.size() > 4) titles.pop_front();
        return reinterpret_cast<intptr_t>(titles.back().c_str());
      }
      case kReqSetListPos:
        // Only entries the host reported may be selected.
        FUZZ_CHECK(lastLength > 0);
        FUZZ_CHECK(arg < static_cast<uintptr_t>(lastLength));
        return 0;
      case kReqSetVolume:
        FUZZ_CHECK(arg <= 257);
        return 0;
      default:
        FUZZ_CHECK(false);
        return 0;
    }
  }
  void Command(unsigned command) override {
    FUZZ_CHECK(command >= kCmdPrevious && command <= kCmdNext);
  }
};

struct ScriptedClock : Clock {
  uint32_t now = 0;
  uint32_t Now() override { return now; }
};

struct ScriptedWave : WaveVolume {
  ByteReader& in;
  explicit ScriptedWave(ByteReader& reader) : in(reader) {}
  bool Read(uint32_t& packed) override {
    if (in.Byte() & 1) return false;
    packed = in.U32();
    return true;
  }
};

struct ScriptedLine : SerialReader, SerialWriter {
  ByteReader& in;
  explicit ScriptedLine(ByteReader& reader) : in(reader) {}
  IoStatus WaitForInput() override {
    static const IoStatus kinds[] = {IoStatus::kDone, IoStatus::kFailed,
                                     IoStatus::kFailedAtOnce, IoStatus::kIdle};
    return kinds[in.Byte() % 4];
  }
  void ReadFrame(uint8_t frame[2]) override {
    frame[0] = in.Byte();
    frame[1] = in.Byte();
  }
  IoStatus WriteFrame(const std::string& frame) override {
    FUZZ_CHECK(frame.size() >= 2 + 2 * kDisplayWidth);
    FUZZ_CHECK(static_cast<unsigned char>(frame[0]) == kLine1Start);
    FUZZ_CHECK(frame.find(static_cast<char>(kLine2Start)) != std::string::npos);
    return in.Byte() % 4 == 0 ? IoStatus::kFailed : IoStatus::kDone;
  }
};

struct ScriptedAlerts : Alerts {
  ScriptedClock& clock;
  explicit ScriptedAlerts(ScriptedClock& c) : clock(c) {}
  void Beep() override {}
  void Pause(uint32_t ms) override { clock.now += ms; }
};

bool Terminated(const char* text, size_t capacity) {
  return std::memchr(text, '\0', capacity) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  ScriptedHost host(in);
  ScriptedClock clock;
  clock.now = in.U32();
  ScriptedWave wave(in);
  ScriptedLine line(in);
  ScriptedAlerts alerts(clock);
  const UpdateContext ctx{host, clock, wave, line, alerts};

  ReceiverState receiver;
  CommandQueue queue;
  UpdateState update;
  TickerState ticker;
  while (!in.empty()) {
    switch (in.Byte() % 5) {
      case 0: ReceiverStep(receiver, queue, line, clock, alerts); break;
      case 1: UpdatePass(update, ticker, queue, ctx); break;
      case 2: QueueStep(update, queue, ctx); break;
      case 3: clock.now += static_cast<uint32_t>(in.Byte()) * 10; break;
      default: clock.now = in.U32(); break;
    }
    FUZZ_CHECK(Terminated(update.line1, sizeof update.line1));
    FUZZ_CHECK(Terminated(update.line2, sizeof update.line2));
    FUZZ_CHECK(Terminated(ticker.lastTitle, sizeof ticker.lastTitle));
    FUZZ_CHECK(update.trackNumber >= 0 && update.trackNumber <= kMaxTypedNumber);
    FUZZ_CHECK(update.savedVolume <= 257);
    FUZZ_CHECK(queue.readIndex.load() < CommandQueue::kSlots);
    FUZZ_CHECK(queue.writeIndex.load() < CommandQueue::kSlots);
    const int titleLength = static_cast<int>(std::strlen(ticker.lastTitle));
    FUZZ_CHECK(ticker.tickerOffset >= 0);
    FUZZ_CHECK(ticker.tickerOffset <= (titleLength > kDisplayWidth ? titleLength - kDisplayWidth : 0));
  }
  return 0;
}
