#include "console/transport.h"

#include "console/decoder.h"

void LoadTrack(Transport& transport, DecoderChannel& decoder) {
  if (transport.track >= 0 && transport.track < transport.trackCount())
    SendDecoderCommand(decoder, "LOAD " + transport.playlist[static_cast<size_t>(transport.track)]);
  transport.playing = true;
  transport.paused = false;
}

void Play(Transport& transport, DecoderChannel& decoder) {
  if (transport.paused && transport.playing) {
    transport.paused = false;
    SendDecoderCommand(decoder, "PAUSE");
  } else {
    LoadTrack(transport, decoder);
  }
}

void Pause(Transport& transport, DecoderChannel& decoder) {
  if (!transport.playing) return;
  transport.paused = !transport.paused;
  SendDecoderCommand(decoder, "PAUSE");
}

void Stop(Transport& transport, DecoderChannel& decoder) {
  if (!transport.playing) return;
  transport.playing = false;
  transport.paused = true;
  SendDecoderCommand(decoder, "STOP");
}

Next MoveTrack(Transport& transport, DecoderChannel& decoder, int by) {
  transport.track += by;
  if (transport.track >= transport.trackCount()) return Next::Kill();
  if (transport.track < 0) transport.track = 0;
  LoadTrack(transport, decoder);
  return Next::GoOn();
}

Next TrackEnded(Transport& transport, DecoderChannel& decoder) {
  if (transport.paused) return Next::GoOn();
  transport.track += 1;
  if (transport.track >= transport.trackCount()) return Next::Quit(0);
  LoadTrack(transport, decoder);
  return Next::GoOn();
}

void StartFromTheFirst(Transport& transport, DecoderChannel& decoder) {
  transport.track = 0;
  // With nothing to play the player waits for keys instead.
  if (transport.trackCount() > 0) LoadTrack(transport, decoder);
}

void ReloadTrack(Transport& transport, DecoderChannel& decoder) {
  if (!transport.playing) return;
  const bool paused = transport.paused;
  LoadTrack(transport, decoder);
  if (paused) {
    SendDecoderCommand(decoder, "PAUSE");
    transport.paused = true;
  }
}
