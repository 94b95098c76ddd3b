#!/bin/sh
# norvelo-learn driven by norvelo-unit's script writes a mappings file; the
# player loaded with it acts on the learned keys and not on the defaults.
BIN=$1
WRAPPER=$2
. "$(dirname "$0")/e2e_lib.sh"

cat >"$TMP/learn.keys" <<'KEYS'
wait 600
stop            # Quit is learned from the Stop key
wait 150
hold play 700   # held: one key only
wait 400        # past the 300 ms window of the last repeat
play            # again: already Play, refused
wait 150
code 0x1777     # Pause, from a key the default remote does not have
wait 150
KEYS
for i in $(seq 4 24); do printf 'enter\nwait 60\n' >>"$TMP/learn.keys"; done

# A mappings file named as the device by mistake is refused, not read as a line.
printf '350C\n' >"$TMP/mistake.map"
timeout 10 "$BIN/norvelo-learn" -s "$TMP/mistake.map" "$TMP/unused.map" </dev/null 2>"$TMP/refused.err"
[ $? -eq 1 ] || fail "norvelo-learn took a regular file for the line"
grep -q "unable to use $TMP/mistake.map: a regular file, not a terminal" "$TMP/refused.err" ||
  fail "no reason given for the refused device"
[ "$(cat "$TMP/mistake.map")" = 350C ] && [ ! -e "$TMP/unused.map" ] || fail "files changed"

run_unit learn "$TMP/learn.keys" -- "$BIN/norvelo-learn" "$TMP/keys.map"
status=$?
[ $status -eq 0 ] || fail "norvelo-learn ended with $status"
grep -q "3535 is already Play" "$TMP/learn.err" || fail "the repeated key was not refused"
{
  printf '3536 Quit\n3535 Play\n1777 Pause\n'
  for name in Stop "Volume up" "Volume down" Mute "Jump forward" "Jump back" "Next track" \
      "Previous track" "Forward ten" "Back ten" Mode; do
    printf '0000 %s\n' "$name"
  done
  for d in 0 1 2 3 4 5 6 7 8 9; do printf '0000 Digit %s\n' $d; done
} >"$TMP/expected.map"
cmp -s "$TMP/keys.map" "$TMP/expected.map" || { diff "$TMP/expected.map" "$TMP/keys.map" >&2; fail "mappings file"; }

make_track "$TMP/a.mp3" 20 "Learned keys"
# The emulator plays the learned remote too (-m), so keys go by their names.
cat >"$TMP/play.keys" <<'KEYS'
wait 1500
code 0x350C     # the default Quit code: unmapped now
wait 1000
pause           # the learned Pause, 1777
wait 1000
quit            # the learned Quit, 3536
KEYS
run_unit play "$TMP/play.keys" -m "$TMP/keys.map" -- "$BIN/norvelo" -m "$TMP/keys.map" "$TMP/a.mp3"
status=$?
[ $status -eq 2 ] || fail "the player ended with $status, not by the learned Quit"
grep -q "IR Command: 350C" "$TMP/play.err" || fail "the default Quit key was not sent"
grep -q "IR Command: 1777" "$TMP/play.err" || fail "the learned Pause was not sent"
grep -q '"Trk 1 \[0:0[0-9]\]' "$TMP/play.out" || fail "the learned Pause did not pause"
check_no_leftovers
echo ok
