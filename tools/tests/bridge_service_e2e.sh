#!/bin/sh
# The bridge's service as systemd would run it: the unit's ExecStart line,
# expanded with the values of its defaults file, as the user the package's
# postinst creates, on the emulated control unit, with a folder of the
# user's own for the socket as RuntimeDirectory= gives it. A key client of
# another user gets the unit's keys; the socket goes when the service stops.
BIN=$1
WRAPPER=$2
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
. "$(dirname "$0")/e2e_lib.sh"
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to create the service user"; exit 77; }
command -v irw >/dev/null || { echo "skipped: no irw (make deps installs lirc)"; exit 77; }

created=
if ! getent passwd norvelo >/dev/null; then
  created=yes
  trap 'userdel norvelo 2>/dev/null; groupdel norvelo 2>/dev/null; rm -rf "$TMP"' EXIT
fi
sh "$SOURCE/tools/packaging/postinst" configure || fail "postinst"

chmod 755 "$TMP"
mkdir -m 755 "$TMP/run"
chown norvelo:norvelo "$TMP/run"
sed -n "s|^ExecStart=@NORVELO_BINDIR@|ExecStart=$BIN|p" "$SOURCE/tools/packaging/norvelo-bridge.service.in" \
  >"$TMP/execstart"
# norvelo-unit starts this with "-s <line>". A free port: LCDd or another
# test may hold 13666.
cat >"$TMP/as-service" <<'SCRIPT'
#!/bin/sh
chgrp dialout "$2" && chmod 660 "$2" || exit 1
sed -e "s|^NORVELO_DEVICE=.*|NORVELO_DEVICE=$2|" -e "s|^NORVELO_BRIDGE_SOCKET=.*|NORVELO_BRIDGE_SOCKET=$TMP/run/lircd|" \
  -e "s|^NORVELO_BRIDGE_PORT=.*|NORVELO_BRIDGE_PORT=0|" \
  "$SOURCE/tools/packaging/norvelo-bridge.default" >"$TMP/default"
# A key client of another user, once the socket is there.
(
  for i in $(seq 100); do [ -S "$TMP/run/lircd" ] && break; sleep 0.05; done
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups irw "$TMP/run/lircd" >"$TMP/irw.out" 2>&1
) &
exec sh "$SOURCE/tools/tests/run_as_service.sh" "$TMP/execstart" "$TMP/default"
SCRIPT
chmod 755 "$TMP/as-service"

printf 'wait 1500\nplay\nwait 1000\n' >"$TMP/bridge.keys"
export TMP SOURCE
run_unit bridge "$TMP/bridge.keys" -t 1 -- "$TMP/as-service"
grep -q "^ExecStart: $BIN/norvelo-bridge -s /dev/pts/[0-9]* -l $TMP/run/lircd -p 0\$" "$TMP/bridge.err" \
  || fail "ExecStart did not expand as systemd would"
grep -q "^0000000000003535 00 KEY_PLAY norvelo\$" "$TMP/irw.out" || fail "irw got no play key"
grep -q '"norvelo-bridge  " "no screens      "' "$TMP/bridge.out" || fail "no display frame"
grep -q "SIGTERM received, quitting" "$TMP/bridge.err" || fail "the bridge did not end on SIGTERM"
[ ! -e "$TMP/run/lircd" ] || fail "the socket was left behind"
check_no_leftovers
echo ok
