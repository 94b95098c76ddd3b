// Who makes room when a kind of client is full. Any local user may open
// connections (the lircd socket is everyone's, the port is on loopback), and
// connections that hold a place and do nothing must not lock out the key and
// display clients that would use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A display client has this long to say hello, and a key client that has
// been sent nothing yet this long, before a newcomer may take its place.
constexpr uint64_t kIdleGraceMs = 3000;

struct Seat {
  int id = -1;
  uint64_t sinceMs = 0;  // when it connected
  // A display client that said hello, or a key client that read everything
  // it was sent: it keeps its place.
  bool active = false;
  // A key client that leaves what it was sent unread: it goes first, whatever
  // its age, since every key it is sent waits for it.
  bool unread = false;
};

struct Room {
  enum Kind {
    kFree,  // a place is free
    kMake,  // evict goes to make room
    kWait,  // one may go in waitMs: the newcomer waits until then
    kNone,  // everyone keeps their place: the newcomer is refused
  } kind = kFree;
  int evict = -1;
  uint64_t waitMs = 0;
};

// Room for a newcomer among seats, of which max may be taken: the oldest of
// those that leave what they were sent unread or are idle past their grace.
Room FindRoom(const std::vector<Seat>& seats, size_t max, uint64_t nowMs);

// Events that may come by the thousand (refused clients) said at most once a
// second, each line with how many it stands for.
class TraceLimit {
 public:
  // Counts one event at nowMs. True when it is to be said now; count then
  // holds the events the line stands for: this one and those held back since
  // the last line.
  bool Note(uint64_t nowMs, size_t& count);

 private:
  bool said_ = false;
  uint64_t lastMs_ = 0;
  size_t held_ = 0;
};
