// End-to-end harness: runs the built player against a pseudo-terminal that
// stands in for the control unit, with a stand-in decoder (or the real one)
// first on PATH. Frames go in through the pty master; the player's trace,
// the decoder's command log and the DisplayFrames come back out.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/display_reader.h"
#include "posix/posix.h"
#include "tests/support/proc.h"
#include "tests/support/temp_dir.h"

namespace e2e {

constexpr int kWaitMs = 5000;  // ordinary waits: generous, the machine is shared

// Default key codes of the player's key map.
enum Code : uint16_t {
  kQuit = 0x350C,
  kPlay = 0x3535,
  kPause = 0x3530,
  kStop = 0x3536,
  kVolumeUp = 0x3410,
  kVolumeDown = 0x3411,
  kMute = 0x241A,
  kNext = 0x3520,
  kPrevious = 0x3521,
  kMode = 0x353F,
  kDigit1 = 0x3001,
  kJunk = 0x2727,  // in no slot: separates two presses of one key
};

// The 2 bytes on the line for a RemoteCode.
std::string FrameBytes(uint16_t code, bool toggle = false);

// at: when its first byte was read, in ms since the session began.
using DisplayFrame = DisplayLines;

// Missing: no mpg123 and no mpv on PATH; Silent: the real mpg123 with no
// sound output at all (no card, no server). Otherwise mpv ("-p mpv") is the
// real one with its null output.
enum class Decoder { Fake, Real, Missing, Silent };

struct SessionOptions {
  Decoder decoder = Decoder::Fake;
  std::string ready = "@R MPG123 (fake) v10";  // "" = the fake never says ready
  std::string onLoad;                           // fake's reply after each LOAD
  bool stubborn = false;                        // fake ignores QUIT and SIGTERM
  bool setClock = false;                        // the player's wall clock is SetClock's
  int extraDescriptors = 0;                     // opened in the player before it starts
  int descriptorLimit = 0;                      // its open-files limit (0: as ours)
  bool unprivileged = false;  // started as nobody, whom file permissions stop (tests run as root)
  bool closedStdout = false;                    // started with standard output closed
  std::string program;  // the program on the line; "" is the player
  // Put into the player's environment: "NAME=value", or "NAME" to remove it.
  // ALSA_CONFIG_PATH is /dev/null unless removed or set here: no ALSA device.
  std::vector<std::string> environment;
};

// Marks this process as the reaper of orphans, so that anything the player
// leaves behind becomes our child and can be found.
void BecomeSubreaper();

// Children of this process, alive or not yet reaped.
std::vector<pid_t> ChildrenOfThisProcess();
// "" when there are none, else each child's command line and state.
std::string LeftoverChildren();

class Session {
 public:
  explicit Session(SessionOptions options = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  TempDir& dir() { return dir_; }
  const std::string& slave() const { return slave_; }

  // Starts the player (or options.program) with exactly these arguments.
  void Start(const std::vector<std::string>& args);
  // "-s <slave>" then the list.
  void StartOn(const std::vector<std::string>& list);
  // Start-up is over once the first DisplayFrame came and the receiver owns
  // the line's input notifications; frames written before that may wait.
  bool WaitReady(int timeoutMs = kWaitMs);
  // StartOn, WaitReady, and the decoder asked to load the first entry.
  bool StartPlaying(const std::vector<std::string>& list);

  // The player's wall clock in milliseconds since the epoch (setClock only);
  // it stands still until set again.
  void SetClock(uint64_t ms);

  void SendBytes(const std::string& bytes);
  // Closes the control unit's end of the line, as a pulled cable would.
  void HangUp();
  // Output on the line stopped (as by an XOFF) or started again.
  void SuspendLineOutput(bool suspend);
  // Closes the reading end of the player's standard output, as a pager that
  // quit would; the trace read so far stays.
  void CloseTrace();
  // The line as a symbolic link to the pseudo-terminal, the way a USB serial
  // adapter has a path that goes away and comes back.
  std::string LinkPath();
  // A new pseudo-terminal behind the same link: the adapter is back.
  void Reconnect();
  // CPU seconds used so far by the player and everything it started.
  double CpuSeconds() const;
  void SendKey(uint16_t code, bool toggle = false) { SendBytes(FrameBytes(code, toggle)); }
  // All the frames in one write: they reach the player within a millisecond
  // or so of each other.
  void SendBurst(const std::vector<uint16_t>& codes);
  // Bytes the fake decoder writes to the player, exactly as given.
  void DecoderSays(const std::string& text);
  // Sends the key and waits for its trace line: its action is then done.
  bool Press(uint16_t code, int timeoutMs = kWaitMs);
  // Writes markers through the fake decoder and waits for their echo: every
  // decoder line before them has then been handled, and every command the
  // player sent before is in the command log.
  bool Sync(int timeoutMs = kWaitMs);

  // Reads whatever arrived, for up to ms milliseconds.
  void Pump(int ms);
  bool WaitFor(const std::function<bool()>& done, int timeoutMs = kWaitMs);
  bool WaitForTrace(const std::string& text, int timeoutMs = kWaitMs);
  bool WaitForCommand(const std::string& line, int timeoutMs = kWaitMs);
  // Waits for a complete frame after the first `after` frames that matches.
  bool WaitForFrame(const std::function<bool(const DisplayFrame&)>& match, size_t after = 0,
                    int timeoutMs = kWaitMs);
  bool WaitForLine2(const std::string& line2, size_t after = 0, int timeoutMs = kWaitMs);

  // Exit status, or -1 when the player did not exit in time (or was signalled).
  int WaitExit(int timeoutMs = kWaitMs);
  bool Running();
  void Signal(int sig);
  // The signal that ended the player, or 0.
  int ExitSignal() const { return status_ >= 1000 ? status_ - 1000 : 0; }
  // Waits until no process started by the player is left, reaping those that
  // came to this process when the player went first.
  bool NothingLeftWithin(int timeoutMs);

  const std::string& Trace() const { return out_; }
  std::vector<std::string> TraceLines() const;
  size_t CountTrace(const std::string& line) const;
  std::vector<std::string> Commands() const;
  size_t CountCommand(const std::string& line) const;
  std::vector<std::string> CommandsSince(size_t mark) const;
  // Milliseconds since the session began: the time base of DisplayFrame::at.
  int ElapsedMs() const;
  // Complete frames so far.
  std::vector<DisplayFrame> Frames() const;
  // Every byte the player wrote to the line.
  const std::string& LineBytes() const { return display_; }
  pid_t pid() const { return pid_; }
  // The running decoder below the player (behind its shell), or -1.
  pid_t DecoderPid(const std::string& name = "mpg123") const;
  // The receiver process (the player's child of its own name), or -1.
  pid_t ReceiverPid() const;

 private:
  void OpenLine();
  void WriteWrapper();
  // A process named comm that is the player's child, or else below it.
  pid_t FindBelow(const std::string& comm, bool childOnly) const;
  bool ReceiverArmed();

  SessionOptions options_;
  TempDir dir_{"norvelo-e2e"};
  int master_ = -1;
  int slaveHold_ = -1;
  int outRead_ = -1;
  int fifo_ = -1;
  std::string slave_, link_;
  std::string binDir_, logPath_, fifoPath_, clockPath_;
  pid_t pid_ = -1;
  int status_ = -1;
  std::string out_, display_;
  // The player's line 1 is always 16 wide, so a 0xA8 in a title is text.
  DisplayFrameReader reader_{16};
  std::vector<DisplayFrame> frames_;
  std::chrono::steady_clock::time_point begun_ = std::chrono::steady_clock::now();
  int syncCount_ = 0;
};

// The real decoders: mpg123 and mpv, with outputs that need no sound card.
SessionOptions RealDecoders();

// The "Track N: ..." lines of the trace, in order.
std::vector<std::string> TrackLines(const Session& s);

}  // namespace e2e
