#!/bin/sh
# The keyboard mode in a real terminal, as a user (or tmux send-keys) drives
# it: single key presses act and the quit key ends everything.
BIN=$1
WRAPPER=$2
command -v tmux >/dev/null || exit 77
. "$(dirname "$0")/e2e_lib.sh"
SOCKET="norvelo-e2e-$$"
tmux_() { tmux -L "$SOCKET" "$@"; }
trap 'tmux_ kill-server 2>/dev/null; rm -rf "$TMP"' EXIT

make_track "$TMP/1.mp3" 30 "A title much longer than the display"
make_track "$TMP/2.mp3" 30 "Second"
# As narrow as the demo's terminal may be: the display keeps its place.
tmux_ -f /dev/null new-session -d -s unit -x 60 -y 24 \
  "env PATH='$WRAPPER:$PATH' NORVELO_E2E_MARK='$TMP' '$BIN/norvelo-unit' -- '$BIN/norvelo' '$TMP/1.mp3' '$TMP/2.mp3'; echo UNIT-ENDED \$?; sleep 30"

# wait_for pattern: the screen shows it within ten seconds.
wait_for() {
  i=0
  while [ $i -lt 100 ]; do
    tmux_ capture-pane -p -t unit >"$TMP/screen.out" 2>/dev/null
    grep -Eq "$1" "$TMP/screen.out" && return 0
    sleep 0.1
    i=$((i + 1))
  done
  fail "the screen never showed: $1"
}

wait_for '\|Trk 1 \(0:0[1-9]\)'
tmux_ send-keys -t unit ' '
wait_for '\|Trk 1 \[0:0[1-9]\]'
wait_for 'Last key: Pause .* toggle 1'
tmux_ send-keys -t unit n
wait_for '\|Trk 2 \('
# Below it the program's lines were written long; the display stays on its rows.
sed -n 5p "$TMP/screen.out" | grep -Eq '^   \|Trk 2 \(' || fail "the display left its place"
tmux_ send-keys -t unit +
wait_for '\|>{1,16}|\| {15}'
tmux_ send-keys -t unit q
wait_for 'UNIT-ENDED 2'
check_no_leftovers
echo ok
