// PlayerState: the one record of the running console player, owned by the
// main process. Its parts change together and each is changed only by its own
// module; the others read it, or call that module's operations. The platform
// edges (clock, mixer) hang off it so that tests can put fakes in their place.
#pragma once

#include "console/decoder.h"
#include "console/dispatch.h"
#include "console/display.h"
#include "console/line.h"
#include "console/next.h"
#include "console/transport.h"

class PlayerClock;
struct Mixer;

struct PlayerState {
  Transport transport;     // play list, current entry, playing, paused
  DecoderChannel decoder;  // command lines out, status lines in
  KeyState remote;         // key map, repeat filter, seek mode, mute
  DisplayState display;    // what the two lines show next, and when
  SerialLine line;         // the line the DisplayFrames go out on

  PlayerClock* clock = nullptr;
  Mixer* mixer = nullptr;
};
