// PlayerState: the one record of the running console player, owned by the
// main process. Its parts change together and each is changed only by its own
// module; the others read it, or call that module's operations. The platform
// edges (clock, mixer, engine) hang off it so that tests can put fakes in
// their place.
#pragma once

#include "console/dispatch.h"
#include "console/display.h"
#include "console/engine.h"
#include "console/events.h"
#include "console/line.h"
#include "console/next.h"
#include "console/transport.h"

class PlayerClock;
struct Mixer;
class EngineMixer;

struct PlayerState {
  Transport transport;  // play list, current entry, playing, paused
  NowPlaying now;       // title and time of what plays, as the engine reports
  KeyState remote;      // key map, repeat filter, seek mode, mute
  DisplayState display;  // what the two lines show next, and when
  SerialLine line;       // the line the DisplayFrames go out on

  PlayerClock* clock = nullptr;
  Engine* engine = nullptr;
  Mixer* mixer = nullptr;
  EngineMixer* engineMixer = nullptr;  // the mixer, when it is the engine's own
};
