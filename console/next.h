// What the main loop does after a key or a decoder line. The handlers return
// it instead of ending the process themselves, so that the ending is done in
// one place, after the handler has left the state as it should be.
#pragma once

struct Next {
  enum Kind {
    kGoOn,
    kQuit,  // "QUIT", SIGTERM, bounded wait, exit(status)
    kKill,  // "QUIT", SIGKILL of the decoder's group, bounded wait, exit(0)
  };
  Kind kind = kGoOn;
  int status = 0;

  bool GoesOn() const { return kind == kGoOn; }
  static Next GoOn() { return Next(); }
  static Next Quit(int status) { return Next{kQuit, status}; }
  static Next Kill() { return Next{kKill, 0}; }
};
