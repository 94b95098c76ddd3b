#include "console/resume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "posix/posix.h"
#include "posix/trace.h"

namespace {

constexpr char kHeader[] = "norvelo state 1";
// A state is a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxStateBytes = 64 * 1024;
// After a resume, the player's position counts once it is this close to the
// saved one, or after this long (a jump back, a seek that failed).
constexpr double kLandedWithinS = 2.0;
constexpr uint32_t kHoldAtMostMs = 5000;

uint64_t Fnv1a(const std::string& text, uint64_t hash = 1469598103934665603ull) {
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string Hex(uint64_t value) {
  char text[17];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Control bytes and the backslash as \xHH, so that a path is one line.
std::string Escape(const std::string& text) {
  return EscapeBytes(text, [](unsigned char byte) { return byte < 0x20 || byte == '\\'; });
}

bool Unescape(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 3 >= text.size()) return false;
    if (text[i + 1] != 'x' || !isxdigit(static_cast<unsigned char>(text[i + 2])) ||
        !isxdigit(static_cast<unsigned char>(text[i + 3])))
      return false;
    out += static_cast<char>(strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
    i += 3;
  }
  return true;
}

const char* StateName(PlayState state) {
  switch (state) {
    case PlayState::kPlaying: return "playing";
    case PlayState::kPaused: return "paused";
    case PlayState::kStopped: break;
  }
  return "stopped";
}

bool WholeNumber(const std::string& text, long low, long high, int& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long value = strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

std::string ErrnoText() { return strerror(errno); }

}  // namespace

bool PlayPoint::SameButPosition(const PlayPoint& other) const {
  return list == other.list && entry == other.entry && path == other.path &&
         state == other.state && volume == other.volume && muted == other.muted &&
         savedVolume == other.savedVolume;
}

std::string ListIdentity(const std::vector<std::string>& arguments, bool recursive) {
  uint64_t hash = Fnv1a(recursive ? "scan" : "files");
  for (const std::string& argument : arguments) hash = Fnv1a(argument + '\0', hash);
  return Hex(hash);
}

std::string FormatPlayPoint(const PlayPoint& point) {
  char position[32];
  snprintf(position, sizeof position, "%.3f", point.position);
  const std::string body = std::string(kHeader) + "\n" +
                           "list " + point.list + "\n" +
                           "entry " + std::to_string(point.entry) + "\n" +
                           "path " + Escape(point.path) + "\n" +
                           "position " + position + "\n" +
                           "state " + StateName(point.state) + "\n" +
                           "volume " + std::to_string(point.volume) + "\n" +
                           "muted " + (point.muted ? "1 " : "0 ") +
                           std::to_string(point.savedVolume) + "\n";
  return body + "sum " + Hex(Fnv1a(body)) + "\n";
}

bool ParsePlayPoint(const std::string& text, PlayPoint& point) {
  const size_t sumAt = text.rfind("sum ");
  if (sumAt == std::string::npos || (sumAt > 0 && text[sumAt - 1] != '\n')) return false;
  const std::string body = text.substr(0, sumAt);
  if (text.compare(sumAt, std::string::npos, "sum " + Hex(Fnv1a(body)) + "\n") != 0) return false;

  std::map<std::string, std::string> fields;
  size_t from = 0;
  bool first = true;
  while (from < body.size()) {
    const size_t end = body.find('\n', from);
    if (end == std::string::npos) return false;
    const std::string line = body.substr(from, end - from);
    from = end + 1;
    if (first) {
      if (line != kHeader) return false;
      first = false;
      continue;
    }
    const size_t space = line.find(' ');
    if (space == std::string::npos) return false;
    fields[line.substr(0, space)] = line.substr(space + 1);
  }
  for (const char* key : {"list", "entry", "path", "position", "state", "volume", "muted"})
    if (fields.count(key) == 0) return false;

  PlayPoint read;
  read.list = fields["list"];
  if (!WholeNumber(fields["entry"], 0, 1 << 30, read.entry)) return false;
  if (!Unescape(fields["path"], read.path)) return false;
  char* end = nullptr;
  read.position = strtod(fields["position"].c_str(), &end);
  if (end == fields["position"].c_str() || *end != '\0' || !std::isfinite(read.position) ||
      read.position < 0)
    return false;
  const std::string& state = fields["state"];
  if (state == "playing")
    read.state = PlayState::kPlaying;
  else if (state == "paused")
    read.state = PlayState::kPaused;
  else if (state != "stopped")
    return false;
  if (!WholeNumber(fields["volume"], -1, 100, read.volume)) return false;
  const std::string& muted = fields["muted"];
  if (muted.size() < 3 || (muted[0] != '0' && muted[0] != '1') || muted[1] != ' ' ||
      !WholeNumber(muted.substr(2), 0, 100, read.savedVolume))
    return false;
  read.muted = muted[0] == '1';
  point = read;
  return true;
}

int ResumeEntry(const PlayPoint& point, const std::string& identity, const Playlist& list) {
  if (point.list != identity) return -1;
  const int count = static_cast<int>(list.size());
  if (point.entry < count && list[static_cast<size_t>(point.entry)] == point.path)
    return point.entry;
  for (int i = 0; i < count; ++i)
    if (list[static_cast<size_t>(i)] == point.path) return i;
  return point.entry < count ? point.entry : -1;
}

StateStore::Read StateFile::Load(std::string& text, std::string& why) {
  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return kNone;
    why = ErrnoText();
    return kFailed;
  }
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      why = ErrnoText();
      close(fd);
      return kFailed;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > kMaxStateBytes) {
      why = "too large";
      close(fd);
      return kFailed;
    }
  }
  close(fd);
  return kRead;
}

bool StateFile::Save(const std::string& text, std::string& why) {
  std::string temporary = path_ + ".XXXXXX";
  // Exclusive creation: a name someone else made (a link into another
  // user's files, say) is never written through.
  const int fd = mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) {
    why = ErrnoText();
    return false;
  }
  const bool written = WriteAll(fd, text) && fsync(fd) == 0;
  if (!written) why = ErrnoText();
  close(fd);
  bool renamed = written && rename(temporary.c_str(), path_.c_str()) == 0;
  // An empty directory in the state's place (made by mistake) is replaced.
  if (written && !renamed && (errno == EISDIR || errno == ENOTEMPTY || errno == EEXIST) &&
      rmdir(path_.c_str()) == 0)
    renamed = rename(temporary.c_str(), path_.c_str()) == 0;
  if (!renamed) {
    if (written) why = ErrnoText();
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself must reach the disk before a power cut.
  const size_t slash = path_.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool ResumeKeeper::Resume(const Playlist& list, PlayPoint& point, int& entry) {
  std::string text, why;
  const StateStore::Read read = store_.Load(text, why);
  if (read == StateStore::kNone) return false;
  if (read == StateStore::kFailed) {
    Trace("State file unreadable (%s), starting from the first entry\n", Printable(why).c_str());
    return false;
  }
  if (!ParsePlayPoint(text, point)) {
    Trace("State file makes no sense, starting from the first entry\n");
    return false;
  }
  entry = ResumeEntry(point, identity_, list);
  if (entry < 0) return false;
  point.entry = entry;
  point.path = list[static_cast<size_t>(entry)];
  // What the file holds already; the position stands until the seek lands.
  written_ = true;
  last_ = point;
  staleEntry_ = entry;
  staleFrom_ = -1;
  holding_ = point.state != PlayState::kStopped;
  held_ = point.position;
  heldSinceMs_ = 0;
  return true;
}

void ResumeKeeper::SettlePosition(PlayPoint& now, uint32_t nowMs) {
  if (holding_) {
    if (heldSinceMs_ == 0) heldSinceMs_ = nowMs == 0 ? 1 : nowMs;
    if (now.entry != last_.entry || now.position >= held_ - kLandedWithinS ||
        nowMs - heldSinceMs_ > kHoldAtMostMs)
      holding_ = false;
    else
      now.position = held_;
  }
  if (now.entry != staleEntry_) {
    // The position still shows the entry before, until the new one reports.
    staleEntry_ = now.entry;
    staleFrom_ = now.position;
  }
  if (staleFrom_ >= 0) {
    if (now.position == staleFrom_)
      now.position = 0;
    else
      staleFrom_ = -1;
  }
}

void ResumeKeeper::Note(PlayPoint now, uint32_t nowMs) {
  now.list = identity_;
  SettlePosition(now, nowMs);
  if (!written_ || !now.SameButPosition(last_) ||
      (now.state == PlayState::kPlaying && nowMs - lastMs_ >= kResumeEveryMs))
    Write(now, nowMs);
}

void ResumeKeeper::Final(PlayPoint now) {
  now.list = identity_;
  SettlePosition(now, lastMs_);
  Write(now, lastMs_);
}

void ResumeKeeper::Write(PlayPoint point, uint32_t nowMs) {
  written_ = true;
  last_ = point;
  lastMs_ = nowMs;
  std::string why;
  if (store_.Save(FormatPlayPoint(point), why)) {
    failing_ = false;
    return;
  }
  // Once, not every ten seconds: the music plays on regardless.
  if (!failing_) Trace("Unable to write state file (%s)\n", Printable(why).c_str());
  failing_ = true;
}
