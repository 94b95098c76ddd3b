#!/bin/sh
# The service as systemd would run it: the unit's ExecStart line, expanded
# with the values of the defaults file, as the user the package's postinst
# creates, on the emulated control unit. The tracks play, keys act, and the
# quit key ends it with the status the unit takes for "stay stopped".
BIN=$1
WRAPPER=$2
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
. "$(dirname "$0")/e2e_lib.sh"
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to create the service user"; exit 77; }

# The user, made by the package's own script; removed again if it is ours.
created=
if ! getent passwd norvelo >/dev/null; then
  created=yes
  trap 'userdel norvelo 2>/dev/null; groupdel norvelo 2>/dev/null; rm -rf "$TMP"' EXIT
fi
sh "$SOURCE/tools/packaging/postinst" configure || fail "postinst"
getent passwd norvelo >/dev/null || fail "postinst made no user norvelo"
for group in audio dialout; do
  id -nG norvelo | tr ' ' '\n' | grep -qx "$group" || fail "norvelo is not in $group"
done

# The tracks must be readable by the service user, not only by root.
chmod 755 "$TMP"
mkdir -m 755 "$TMP/music" "$TMP/music/1 First" "$TMP/music/2 Second"
make_track "$TMP/music/1 First/a.mp3" 8 "First album"
make_track "$TMP/music/2 Second/b.mp3" 8 "Second album"
chmod 644 "$TMP"/music/*/*.mp3

# The unit's command line, with the player of this build in place of the
# installed one and the state file in the test's own state folder.
mkdir -m 777 "$TMP/state"
sed -n -e "s|/var/lib/norvelo/|$TMP/state/|" -e "s|^ExecStart=@NORVELO_BINDIR@|ExecStart=$BIN|p" \
  "$SOURCE/tools/packaging/norvelo.service.in" >"$TMP/execstart"
# norvelo-unit starts this with "-s <line>": the line takes the place of the
# device in the defaults file, the test's folder that of the music.
cat >"$TMP/as-service" <<'SCRIPT'
#!/bin/sh
chgrp dialout "$2" && chmod 660 "$2" || exit 1
sed -e "s|^NORVELO_DEVICE=.*|NORVELO_DEVICE=$2|" -e "s|^NORVELO_MUSIC=.*|NORVELO_MUSIC=$TMP/music|" \
  "$SOURCE/tools/packaging/norvelo.default" >"$TMP/default"
HOME=$TMP exec sh "$SOURCE/tools/tests/run_as_service.sh" "$TMP/execstart" "$TMP/default"
SCRIPT
chmod 755 "$TMP/as-service"

cat >"$TMP/service.keys" <<'KEYS'
wait 2500
next
wait 1500
quit
KEYS
export TMP SOURCE
run_unit service "$TMP/service.keys" -- "$TMP/as-service"
status=$?
[ $status -eq 2 ] || fail "the service's player ended with $status"
grep -q "^ExecStart: $BIN/norvelo -s /dev/pts/[0-9]* -p mpg123 -S $TMP/state/state -r $TMP/music\$" \
  "$TMP/service.err" || fail "ExecStart did not expand as systemd would"
grep -q "^entry 1$" "$TMP/state/state" || fail "the service kept no play state"
grep -q 'Track 1: "E2E - First album"' "$TMP/service.err" || fail "the first album did not play"
grep -q 'Track 2: "E2E - Second album"' "$TMP/service.err" || fail "next did not reach the second album"
grep -q '"Trk 1 (0:0' "$TMP/service.out" || fail "no status line on the display"
check_no_leftovers
echo ok
