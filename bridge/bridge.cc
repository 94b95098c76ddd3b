// The platform side of the bridge: the line, the two listening sockets, the
// clients and the signals, all in one poll loop around the logic of the
// other files. Nothing here blocks: a client that stops reading is dropped,
// and the line is written only when its pacer says it is free.
#include "bridge/bridge.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bridge/admission.h"
#include "bridge/lcd_server.h"
#include "bridge/line_reader.h"
#include "bridge/lirc.h"
#include "bridge/options.h"
#include "posix/display_charset.h"
#include "posix/keymap.h"
#include "posix/serial.h"
#include "posix/trace.h"
#include "link/charset.h"
#include "link/keys.h"
#include "link/link.h"
#include "posix/posix.h"
#include "posix/signals.h"
#include "posix/unique_fd.h"
#include "version.h"

namespace {

std::string Why() { return strerror(errno); }

// How many events a line of a TraceLimit stands for, when more than itself.
std::string InAll(size_t count) {
  return count > 1 ? " (" + std::to_string(count) + " in all since the last such line)" : "";
}

// The lircd socket's folder is made when it is missing (one level, as
// /run/lirc after a reboot); a stale socket left by a crash is replaced, a
// live one or any other file is not.
bool ListenUnix(const std::string& path, UniqueFd& out, std::string& error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    error = "the path is too long for a socket";
    return false;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0755) == 0) {
      chmod(folder.c_str(), 0755);  // whatever the umask: key clients of every user pass through
    } else if (errno != EEXIST) {
      error = "cannot make " + Printable(folder) + ": " + Why();
      return false;
    }
  }
  struct stat info;
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      error = "it exists and is not a socket";
      return false;
    }
    UniqueFd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      error = "another program serves it";
      return false;
    }
    unlink(path.c_str());
  }
  out.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!out.Valid() || bind(out.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = Why();
    return false;
  }
  // Every user's key clients may read it, as lircd's socket, whatever the
  // service's umask.
  chmod(path.c_str(), 0666);
  if (listen(out.Get(), 16) != 0) {
    error = Why();
    unlink(path.c_str());
    return false;
  }
  return true;
}

// Display clients on the loopback interface only: the protocol has no
// authentication.
bool ListenTcp(int& port, UniqueFd& out, std::string& error) {
  out.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const int on = 1;
  setsockopt(out.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t size = sizeof address;
  if (!out.Valid() || bind(out.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(out.Get(), 16) != 0 ||
      getsockname(out.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    error = Why();
    return false;
  }
  port = ntohs(address.sin_port);
  return true;
}

// Accepting stops this long when the process is out of descriptors and no
// idle client can give one back: the connections wait in the backlog.
constexpr uint64_t kAcceptPauseMs = 250;

struct Client {
  bool lcd = false;
  UniqueFd fd;
  LineReader reader{kMaxLircLine};
  std::string out;
  bool dead = false;
  uint64_t sinceMs = 0;
  bool sentTo = false;  // anything was queued for it
};

// A listening socket, and when it is looked at again after a pause.
struct Listener {
  UniqueFd fd;
  bool lcd = false;
  uint64_t resumeMs = 0;
  TraceLimit refusals, evictions, failures;
};

class Bridge {
 public:
  Bridge(BridgeOptions options, KeyMap keys, DisplayCharset charset)
      : options_(std::move(options)), keys_(keys), display_(charset) {}

  // Opens the line and both sockets; false (message printed) when one fails.
  bool Start();
  [[noreturn]] void Loop();

 private:
  void Accept(Listener& listener, uint64_t nowMs);
  std::vector<Seat> Seats(bool lcd) const;
  void ReadClient(int id, Client& client, uint64_t nowMs);
  void Queue(int id, const std::string& text);
  void Flush(int id, Client& client);
  void Drop(int id, const char* why);
  // Closes a client that left or is dropped; how ends its trace line.
  // Closes a client that left or is dropped; how ends its trace line, when
  // traced.
  void Close(int id, Client& client, const std::string& how, uint64_t nowMs, bool traced = true);
  void DeliverMessages();
  void ReadLine(uint64_t nowMs);
  void HandleFrame(const uint8_t frame[2], uint64_t nowMs);
  void LoseLine();
  // Sends the display when it changed and the line is free; ms until the
  // line is free when a frame waits, else -1.
  int64_t SendDisplay(uint64_t nowMs);
  [[noreturn]] void End(int sig);

  BridgeOptions options_;
  KeyMap keys_;
  LcdServer display_;
  UniqueFd line_;
  FrameAssembler assembler_;
  uint64_t lastReopenTryMs_ = 0;
  RepeatCounter repeats_;
  LinePacer pacer_;
  Lines sent_;
  bool sentValid_ = false;
  Listener lircListen_, lcdListen_;
  std::map<int, Client> clients_;
  int nextId_ = 1;
};

bool Bridge::Start() {
  line_.Reset(OpenSerialAtStart(options_.serport));
  if (!line_.Valid()) return false;
  std::string error;
  lcdListen_.lcd = true;
  if (!ListenUnix(options_.socketPath, lircListen_.fd, error)) {
    Trace("Unable to listen on %s: %s\n\n", Printable(options_.socketPath).c_str(), error.c_str());
    return false;
  }
  int port = options_.port;
  if (!ListenTcp(port, lcdListen_.fd, error)) {
    Trace("Unable to listen on 127.0.0.1:%d: %s\n\n", options_.port, error.c_str());
    unlink(options_.socketPath.c_str());
    return false;
  }
  Trace("Keys on %s, display on 127.0.0.1:%d\n", Printable(options_.socketPath).c_str(), port);
  return true;
}

std::vector<Seat> Bridge::Seats(bool lcd) const {
  std::vector<Seat> seats;
  for (const auto& [id, client] : clients_) {
    if (client.dead || client.lcd != lcd) continue;
    Seat seat;
    seat.id = id;
    seat.sinceMs = client.sinceMs;
    if (lcd) {
      seat.active = display_.SaidHello(id);
    } else {
      // What the socket holds that the client has not read yet.
      int queued = 0;
      if (ioctl(client.fd.Get(), SIOCOUTQ, &queued) != 0) queued = 0;
      seat.unread = queued > 0 || !client.out.empty();
      seat.active = client.sentTo && !seat.unread;
    }
    seats.push_back(seat);
  }
  return seats;
}

void Bridge::Accept(Listener& listener, uint64_t nowMs) {
  const bool lcd = listener.lcd;
  const char* kind = lcd ? "Display" : "Key";
  std::vector<Seat> seats = Seats(lcd);
  const Room room = FindRoom(seats, kMaxClientsPerKind, nowMs);
  if (room.kind == Room::kWait) {
    // The newcomer waits in the backlog until an idle client's grace is over.
    listener.resumeMs = nowMs + room.waitMs;
    return;
  }
  size_t count = 0;
  // Dropped to make room; said once a second at most, as they may come by
  // the thousand.
  const auto evict = [&](int id, const char* why) {
    if (listener.evictions.Note(nowMs, count))
      Trace("%s client %d dropped: idle, %s%s\n", kind, id, why, InAll(count).c_str());
    Close(id, clients_[id], "", nowMs, false);
  };
  if (room.kind == Room::kMake) evict(room.evict, "its place taken by a new client");
  UniqueFd fd(accept4(listener.fd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!fd.Valid()) {
    if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM) return;
    const int error = errno;
    // Out of descriptors: an idle client gives its own back, else the
    // connections wait, without a busy loop, until some are free.
    const Room spare = FindRoom(seats, seats.size(), nowMs);
    if (room.kind != Room::kMake && spare.kind == Room::kMake) {
      evict(spare.evict, "out of descriptors");
      return;
    }
    listener.resumeMs = nowMs + kAcceptPauseMs;
    if (listener.failures.Note(nowMs, count))
      Trace("%s client not accepted: %s%s\n", kind, strerror(error), InAll(count).c_str());
    return;
  }
  if (room.kind == Room::kNone) {
    if (listener.refusals.Note(nowMs, count))
      Trace("%s client refused: %zu already connected and active%s\n", kind, seats.size(),
            InAll(count).c_str());
    return;
  }
  const int id = nextId_++;
  Client& client = clients_[id];
  client.lcd = lcd;
  client.fd = std::move(fd);
  client.reader = LineReader(lcd ? kMaxLcdLine : kMaxLircLine);
  client.sinceMs = nowMs;
  if (lcd) display_.Connect(id);
  Trace("%s client %d connected\n", kind, id);
}

void Bridge::Queue(int id, const std::string& text) {
  auto it = clients_.find(id);
  if (it == clients_.end() || it->second.dead) return;
  Client& client = it->second;
  if (client.out.size() + text.size() > kMaxPendingOutput) {
    // It does not read: it must not hold up the others, nor our memory.
    Drop(id, "it does not read");
    return;
  }
  client.out += text;
  client.sentTo = true;
  Flush(id, client);
}

void Bridge::Flush(int id, Client& client) {
  while (!client.out.empty()) {
    const ssize_t n = send(client.fd.Get(), client.out.data(), client.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      client.out.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) Drop(id, "it went away");
      return;
    }
  }
}

void Bridge::Drop(int id, const char* why) {
  auto it = clients_.find(id);
  if (it == clients_.end() || it->second.dead) return;
  Close(id, it->second, std::string("dropped: ") + why, MonotonicMs());
}

void Bridge::Close(int id, Client& client, const std::string& how, uint64_t nowMs, bool traced) {
  client.dead = true;
  client.fd.Reset();
  client.out.clear();
  if (client.lcd) display_.Disconnect(id, nowMs);
  if (traced) Trace("%s client %d %s\n", client.lcd ? "Display" : "Key", id, how.c_str());
}

void Bridge::DeliverMessages() {
  for (const LcdMessage& message : display_.TakeMessages()) Queue(message.client, message.text);
}

void Bridge::ReadClient(int id, Client& client, uint64_t nowMs) {
  char buffer[16384];
  // One read a pass: a client that floods waits its turn behind the others.
  const ssize_t n = read(client.fd.Get(), buffer, sizeof buffer);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return Close(id, client, "left", nowMs);
  if (n < 0) return;
  LineReader::Result got = client.reader.Feed(buffer, static_cast<size_t>(n));
  if (!client.lcd) {
    if (got.overlong > 0) return Drop(id, "its line is too long");
    for (const std::string& line : got.lines) Queue(id, LircReply(line, keys_, NORVELO_VERSION));
    return;
  }
  for (size_t i = 0; i < got.overlong; ++i) display_.LineTooLong(id);
  for (const std::string& line : got.lines) display_.Handle(id, line, nowMs);
  DeliverMessages();
}

void Bridge::HandleFrame(const uint8_t frame[2], uint64_t nowMs) {
  const uint16_t code = MakeRemoteCode(frame[0], frame[1]);
  const unsigned repeat = repeats_.Next(frame[0], frame[1], nowMs);
  const std::string name = KeyNameFor(keys_, code);
  TraceRemoteCode(code);
  const int holder = display_.KeyHolder(name);
  if (holder >= 0) {
    display_.SendKey(holder, name, repeat);
    DeliverMessages();
    return;
  }
  const std::string line = KeyLine(code, repeat, name);
  for (auto& entry : clients_)
    if (!entry.second.lcd) Queue(entry.first, line);
}

void Bridge::LoseLine() {
  int fd = line_.Release();
  ::LoseLine(fd, assembler_, options_.serport);
  sentValid_ = false;  // the unit may come back blank
}

void Bridge::ReadLine(uint64_t nowMs) {
  // Bounded: a line full of noise cannot keep the clients waiting.
  for (int reads = 0; reads < 256 && line_.Valid(); ++reads) {
    uint8_t bytes[2];
    const ssize_t got = read(line_.Get(), bytes, static_cast<size_t>(assembler_.Wanted()));
    if (got > 0) {
      uint8_t frame[2];
      if (assembler_.Take(bytes, static_cast<int>(got), nowMs, frame)) HandleFrame(frame, nowMs);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && LineGoneError(errno)) LoseLine();
    return;
  }
}

int64_t Bridge::SendDisplay(uint64_t nowMs) {
  if (!line_.Valid()) return -1;
  const Lines want = display_.Render(nowMs);
  if (sentValid_ && want == sent_) return -1;
  const uint64_t nowUs = MonotonicUs();
  const uint64_t waitUs = pacer_.WaitUs(nowUs);
  if (waitUs > 0) return static_cast<int64_t>((waitUs + 999) / 1000);
  const std::string frame = BuildDisplayFrame(want[0], want[1], false);
  const ssize_t n = write(line_.Get(), frame.data(), frame.size());
  pacer_.Sent(nowUs, frame.size());
  // A frame the driver did not take whole goes again whole, once the line
  // has had the time for this one.
  sentValid_ = n == static_cast<ssize_t>(frame.size());
  if (sentValid_) sent_ = want;
  if (n < 0 && LineGoneError(errno)) LoseLine();
  return sentValid_ ? -1 : static_cast<int64_t>((LineTimeUs(frame.size()) + 999) / 1000);
}

void Bridge::End(int sig) {
  TraceEndingSignal(sig);
  clients_.clear();
  lircListen_.fd.Reset();
  lcdListen_.fd.Reset();
  unlink(options_.socketPath.c_str());
  // The line stays open to the end: its exclusive mode is undone through it.
  RaiseDefault(sig);
}

void Bridge::Loop() {
  for (;;) {
    const uint64_t now = MonotonicMs();
    int64_t timeout = display_.Tick(now);
    DeliverMessages();
    const auto sooner = [&timeout](int64_t ms) {
      if (ms >= 0 && (timeout < 0 || ms < timeout)) timeout = ms;
    };
    sooner(SendDisplay(now));
    if (!line_.Valid()) {
      if (now - lastReopenTryMs_ >= static_cast<uint64_t>(kReopenIntervalMs)) {
        lastReopenTryMs_ = now;
        line_.Reset(TryReopenLine(options_.serport));
        if (line_.Valid()) {
          sooner(0);
          continue;
        }
      }
      sooner(static_cast<int64_t>(lastReopenTryMs_ + kReopenIntervalMs - now));
    } else {
      sooner(assembler_.Expire(now));
    }

    std::vector<pollfd> fds;
    std::vector<int> ids;
    fds.push_back({SignalPipeFd(), POLLIN, 0});
    // A listener that waits for room or for descriptors is not looked at
    // meanwhile: its pending connections would wake the loop at once.
    for (Listener* listener : {&lircListen_, &lcdListen_}) {
      const bool paused = listener->resumeMs > now;
      if (paused) sooner(static_cast<int64_t>(listener->resumeMs - now));
      fds.push_back({paused ? -1 : listener->fd.Get(), POLLIN, 0});
    }
    fds.push_back({line_.Valid() ? line_.Get() : -1, POLLIN, 0});
    for (auto& entry : clients_) {
      ids.push_back(entry.first);
      const short events = static_cast<short>(POLLIN | (entry.second.out.empty() ? 0 : POLLOUT));
      fds.push_back({entry.second.fd.Get(), events, 0});
    }
    poll(fds.data(), fds.size(), timeout > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(timeout));

    if (fds[0].revents & POLLIN) {
      int ending = 0;
      while (const int sig = TakeSignal())
        if (ending == 0) ending = sig;
      if (ending != 0) End(ending);
    }
    const uint64_t after = MonotonicMs();
    if (fds[3].revents & kLineGoneEvents) {
      LoseLine();
    } else if (fds[3].revents & POLLIN) {
      ReadLine(after);
    }
    if (fds[1].revents & POLLIN) Accept(lircListen_, after);
    if (fds[2].revents & POLLIN) Accept(lcdListen_, after);
    for (size_t i = 0; i < ids.size(); ++i) {
      auto it = clients_.find(ids[i]);
      if (it == clients_.end() || it->second.dead) continue;
      const short revents = fds[4 + i].revents;
      if (revents & POLLOUT) Flush(ids[i], it->second);
      if (!it->second.dead && (revents & (POLLIN | POLLHUP | POLLERR))) ReadClient(ids[i], it->second, after);
    }
    for (auto it = clients_.begin(); it != clients_.end();)
      it = it->second.dead ? clients_.erase(it) : std::next(it);
  }
}

}  // namespace

int RunBridge(int argc, char* argv[]) {
  OpenStandardDescriptors();
  BridgeOptions options;
  KeyMap keys = DefaultKeys();
  std::string error;
  if (!ReadBridgeOptions(argc, argv, options, keys, error)) {
    Trace("%s\n%s", Printable(error).c_str(), kBridgeUsage);
    return 1;
  }
  if (options.help) {
    Trace("%s", kBridgeUsage);
    return 0;
  }
  const DisplayCharset charset = DisplayCharsetFromEnvironment();
  if (!InstallSignalPipe({SIGTERM, SIGINT, SIGHUP})) {
    Trace("Unable to create signal pipe!\n\n");
    return 1;
  }
  static Bridge bridge(options, keys, charset);
  if (!bridge.Start()) return 1;
  bridge.Loop();
}
