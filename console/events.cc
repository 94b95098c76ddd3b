#include "console/events.h"

#include "console/display.h"
#include "console/mixer.h"
#include "console/player.h"
#include "console/title.h"
#include "posix/trace.h"
#include "posix/trim.h"

namespace {

// Distinct messages of the decoder's noise echoed; past this, new ones are
// echoed without being kept.
constexpr size_t kNotesKept = 256;

// Cuts to the title buffer's size without splitting a UTF-8 sequence.
void FitTitle(std::string& title) {
  if (title.size() <= kTitleMax) return;
  size_t cut = kTitleMax;
  while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) --cut;
  title.resize(cut);
  TrimString(title);
}

const std::string* CurrentEntry(const Transport& transport) {
  if (transport.track < 0 || transport.track >= transport.trackCount()) return nullptr;
  return &transport.playlist[static_cast<size_t>(transport.track)];
}

void SetTitle(NowPlaying& now, DisplayState& display, const Transport& transport,
              const EngineEvent& event) {
  std::string title = event.text;
  if (event.untagged) {
    const std::string* entry = CurrentEntry(transport);
    title = entry != nullptr ? NameOfPath(*entry) : std::string();
  }
  TrimString(title);
  ShowTitle(display, title);
  FitTitle(title);
  now.title = title;
  now.failedInARow = 0;
  Trace("Track %d: \"%s\"\n", transport.track + 1, Printable(title).c_str());
}

// Status lines the decoder does not know are echoed every time; the noise of
// its libraries once per distinct message.
void Echo(NowPlaying& now, const std::string& text) {
  const bool status = !text.empty() && text[0] == '@';
  if (!status && now.notes.count(text) != 0) return;
  if (!status && now.notes.size() < kNotesKept) now.notes.insert(text);
  Trace("%s\n", Printable(text).c_str());
}

void EntryFailed(NowPlaying& now, const Transport& transport, const std::string& reason) {
  const std::string* entry = CurrentEntry(transport);
  Trace("Unable to play %s: %s\n", Printable(entry != nullptr ? *entry : "").c_str(),
        Printable(reason).c_str());
  now.failedEntry = true;
}

Next EntryEnded(NowPlaying& now, Transport& transport, Engine& engine) {
  if (now.failedEntry) {
    now.failedEntry = false;
    // A list none of whose entries plays is a failure, not the end of a list.
    if (++now.failedInARow >= transport.trackCount() && transport.trackCount() > 0) {
      Trace("No entry of the list could be played!\n\n");
      return Next::Quit(1);
    }
  }
  return TrackEnded(transport, engine);
}

void Away(NowPlaying& now, DisplayState& display, const std::string& what) {
  if (what == now.away) return;
  now.away = what;
  Trace("%s\n", Printable(what).c_str());
  ShowTitle(display, what);
}

}  // namespace

void EngineRestarted(NowPlaying& now, const Transport& transport) {
  // Before any track was loaded the new engine starts from the first entry.
  now.reloadOnReady = transport.playing || transport.paused;
}

Next HandleEngineEvent(PlayerState& state, const EngineEvent& event) {
  Engine& engine = *state.engine;
  NowPlaying& now = state.now;
  switch (event.kind) {
    case EngineEvent::kReady:
      // Before anything is loaded, so that a new decoder plays at the user's volume.
      if (state.engineMixer != nullptr) state.engineMixer->EngineReady();
      now.away.clear();
      if (now.reloadOnReady) {
        now.reloadOnReady = false;
        ReloadTrack(state.transport, engine);
      } else {
        StartFromTheFirst(state.transport, engine);
      }
      break;
    case EngineEvent::kTitle:
      SetTitle(now, state.display, state.transport, event);
      break;
    case EngineEvent::kElapsed:
      now.elapsedSeconds = static_cast<float>(event.seconds);
      break;
    case EngineEvent::kState:
      FollowState(state.transport, event.state);
      break;
    case EngineEvent::kEntry:
      FollowEntry(state.transport, event.entry);
      break;
    case EngineEvent::kEntryEnded:
      return EntryEnded(now, state.transport, engine);
    case EngineEvent::kEntryFailed:
      EntryFailed(now, state.transport, event.text);
      break;
    case EngineEvent::kNoOutput:
      Away(now, state.display, "No sound output");
      Trace("No sound output could be opened: %s\n", Printable(event.text).c_str());
      state.transport.playing = false;
      break;
    case EngineEvent::kVolume:
      // The answer to a volume the player set.
      if (state.engineMixer != nullptr)
        state.engineMixer->OnVolume(event.volume);
      else
        Echo(now, event.text);
      break;
    case EngineEvent::kAway:
      Away(now, state.display, event.text);
      break;
    case EngineEvent::kNote:
      Echo(now, event.text);
      break;
    case EngineEvent::kEnded:  // the main loop starts it again
      break;
  }
  return Next::GoOn();
}
