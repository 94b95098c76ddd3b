#!/bin/sh
# The demo's path in scripted mode: the player under the emulator with the
# real-time silent output. The clock and the ticker run, pause shows "[",
# next changes the track, volume shows the bar, quit ends everything.
BIN=$1
WRAPPER=$2
. "$(dirname "$0")/e2e_lib.sh"

make_track "$TMP/1.mp3" 12 "A title much longer than the display"
make_track "$TMP/2.mp3" 12 "Second"
cat >"$TMP/demo.keys" <<'KEYS'
wait 2700
pause
wait 1100
pause
wait 300
next
wait 1100
vol+
wait 400
quit
KEYS
run_unit demo "$TMP/demo.keys" -- "$BIN/norvelo" "$TMP/1.mp3" "$TMP/2.mp3"
status=$?
[ $status -eq 2 ] || fail "the player ended with $status"
out="$TMP/demo.out"
# Records: seconds "line 1" "line 2".
grep -q '"Trk 1 (0:0[12])' "$out" || fail "the elapsed time did not count up"
# Real time: 2.7 s in, the first track cannot be far along.
grep -q '"Trk 1 (0:0[5-9])' "$out" && fail "the track ran faster than real time"
titles=$(grep '"Trk 1 (' "$out" | cut -d'"' -f2 | sort -u | wc -l)
[ "$titles" -ge 3 ] || fail "the title did not move ($titles positions)"
grep -q '"Trk 1 \[0:0[1-4]\]' "$out" || fail "pause did not show ["
grep -q '"Trk 2 (' "$out" || fail "next did not change the track"
grep -Eq '" "[>]{1,16} *.?"$|" " {15}.?"$' "$out" || fail "no volume bar"
check_no_leftovers

# With -b the line is read at 2400 baud: a held volume key asks for a frame
# every 114 ms, but no frame can come in less than the 142 ms it takes.
cat >"$TMP/hold.keys" <<'KEYS'
wait 700
hold vol+ 1500ms
wait 2500
quit
KEYS
run_unit rate "$TMP/hold.keys" -b -- "$BIN/norvelo" "$TMP/1.mp3"
status=$?
[ $status -eq 2 ] || fail "the player ended at the real rate with $status"
bars=$(grep -c '" ">>>>' "$TMP/rate.out")
[ "$bars" -ge 8 ] || fail "only $bars volume frames at the real rate"
awk 'NR > 1 && $1 - prev < 0.135 { print "frames " prev " and " $1 " too close"; bad = 1 }
     { prev = $1 } END { exit bad }' "$TMP/rate.out" >&2 || fail "frames faster than the line"
check_no_leftovers
echo ok
