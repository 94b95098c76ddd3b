#include "console/player.h"

void QuitPlayer(PlayerState& state, int status) {
  state.ended = true;
  state.exits->QuitPlayer(status);
}

void KillPlayer(PlayerState& state) {
  state.ended = true;
  state.exits->KillPlayer();
}
