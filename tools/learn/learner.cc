#include "tools/learn/learner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/link.h"
#include "posix/posix.h"
#include "posix/unique_fd.h"

LearnOutcome Learner::OnFrame(uint8_t byte0, uint8_t byte1, uint32_t nowMs) {
  LearnOutcome out;
  out.code = MakeRemoteCode(byte0, byte1);
  out.slot = slot_;
  // The player's rule: the same code within its window is the same press.
  const bool repeat = !repeats_.Acts(out.code, nowMs, HeldKey::kOnce);
  if (Finished()) {
    out.kind = LearnOutcome::kFinished;
  } else if (repeat) {
    out.kind = LearnOutcome::kRepeat;
  } else if (out.code == 0) {
    out.kind = LearnOutcome::kZero;
  } else if ((out.owner = LookupKey(keys_, out.code)) != KeyNone) {
    out.kind = LearnOutcome::kTaken;
  } else {
    out.owner = KeyNone;
    out.kind = LearnOutcome::kAssigned;
    keys_[slot_++] = out.code;
  }
  return out;
}

LearnOutcome Learner::Skip() {
  LearnOutcome out;
  out.slot = slot_;
  if (Finished()) {
    out.kind = LearnOutcome::kFinished;
    return out;
  }
  out.kind = LearnOutcome::kSkipped;
  keys_[slot_++] = 0;
  return out;
}

std::string FormatMappings(const KeyMap& keys) {
  std::string text;
  for (int slot = 0; slot < kKeySlots; ++slot) {
    char line[64];
    snprintf(line, sizeof line, "%04X %s\n", keys[slot], KeySlotName(slot));
    text += line;
  }
  return text;
}

bool WriteMappings(const std::string& path, const KeyMap& keys, std::string& error) {
  const std::string temporary = path + ".new";
  // Made new, never through a link someone left at that name (root learning
  // in a shared folder would write wherever it points); a stale one from a
  // run that was cut short is no file of anyone's.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd file(open(temporary.c_str(), flags, 0666));
  if (!file.Valid() && errno == EEXIST && unlink(temporary.c_str()) == 0)
    file.Reset(open(temporary.c_str(), flags, 0666));
  if (!file.Valid()) {
    error = "cannot create " + temporary + ": " + strerror(errno);
    return false;
  }
  const bool written = WriteAll(file.Get(), FormatMappings(keys));
  const int saved = errno;
  if (close(file.Release()) != 0 || !written) {
    error = "cannot write " + temporary + ": " + strerror(written ? errno : saved);
    unlink(temporary.c_str());
    return false;
  }
  if (rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot replace " + path + ": " + strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}
