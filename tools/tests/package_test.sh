#!/bin/sh
# The Debian package, unpacked into a scratch root: the programs run, the
# manual pages show, and the service is there but not enabled.
BUILD=$1
set -u
TMP=$(mktemp -d /tmp/norvelo-package.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$BUILD/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1 || { cat "$TMP/cpack.log"; fail "cpack"; }
deb=$(ls "$TMP"/out/norvelo_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb made"
dpkg-deb -f "$deb" Depends | grep -q mpg123 || fail "the package does not depend on mpg123"
dpkg-deb -f "$deb" Recommends | grep -qw mpv || fail "the package does not recommend mpv"
dpkg-deb -x "$deb" "$TMP/root" || fail "dpkg-deb -x"
for program in norvelo norvelo-unit norvelo-learn norvelo-bridge; do
  [ -x "$TMP/root/usr/bin/$program" ] || fail "$program missing"
  [ -f "$TMP/root/usr/share/man/man1/$program.1.gz" ] || fail "$program(1) missing"
done
"$TMP/root/usr/bin/norvelo" >"$TMP/usage" 2>&1
[ $? -eq 1 ] || fail "norvelo without arguments should end with status 1"
grep -q "^Usage: norvelo \[options\] list" "$TMP/usage" || fail "no usage text"
"$TMP/root/usr/bin/norvelo" --version | grep -qx "norvelo [0-9.]*" || fail "norvelo --version"
"$TMP/root/usr/bin/norvelo-unit" -h | grep -q "^Usage: norvelo-unit" || fail "norvelo-unit -h"
# What a new user reads first, and a key map to start from that the player takes.
doc="$TMP/root/usr/share/doc/norvelo"
grep -q "Four Linux programs ship" "$doc/README.md" 2>/dev/null || fail "README missing from $doc"
[ "$(grep -c '^0x' "$doc/examples/remote.map" 2>/dev/null)" = 20 ] || fail "example mappings file missing"
"$TMP/root/usr/bin/norvelo" -m "$doc/examples/remote.map" -s /nonexistent-tty a.mp3 >"$TMP/map" 2>&1
grep -q "Remote mappings file" "$TMP/map" && fail "the example mappings file does not load: $(cat "$TMP/map")"
"$TMP/root/usr/bin/norvelo-bridge" -h | grep -q "^Usage: norvelo-bridge" || fail "norvelo-bridge -h"
if command -v man >/dev/null; then
  MANPATH="$TMP/root/usr/share/man" MANWIDTH=80 man norvelo 2>/dev/null | grep -q "remote mappings file" \
    || fail "man norvelo does not show the page"
  MANPATH="$TMP/root/usr/share/man" MANWIDTH=80 man norvelo 2>/dev/null | grep -q "norvelo-bridge(1)" \
    || fail "man norvelo does not name norvelo-bridge(1)"
fi

# The service: its unit verifies in the scratch root (beside systemd's own
# targets, which it is ordered after), its defaults file is a conffile.
unit="$TMP/root/usr/lib/systemd/system/norvelo.service"
[ -f "$unit" ] || fail "norvelo.service missing"
grep -q "^ExecStart=/usr/bin/norvelo " "$unit" || fail "the unit does not start the installed player"
grep -q "^User=norvelo$" "$unit" || fail "the service does not run as norvelo"
[ -f "$TMP/root/etc/default/norvelo" ] || fail "/etc/default/norvelo missing"
grep -q "^ExecStart=.* -S /var/lib/norvelo/[a-z]" "$unit" && grep -q "^StateDirectory=norvelo$" "$unit" \
  || fail "the service keeps no play state in its state folder"
for name in NORVELO_DEVICE NORVELO_MUSIC NORVELO_PLAYER NORVELO_OPTIONS NORVELO_DISPLAY_CHARSET; do
  grep -B1 "^$name=" "$TMP/root/etc/default/norvelo" | grep -q "^#" || fail "$name missing or without a comment"
done
dpkg-deb -e "$deb" "$TMP/control" || fail "dpkg-deb -e"
grep -qx /etc/default/norvelo "$TMP/control/conffiles" || fail "the defaults file is not a conffile"

# The bridge's service: same user and hardening, its own defaults, the
# lircd socket's folder its own, and never beside the player on the line.
bridge="$TMP/root/usr/lib/systemd/system/norvelo-bridge.service"
[ -f "$bridge" ] || fail "norvelo-bridge.service missing"
grep -q "^ExecStart=/usr/bin/norvelo-bridge " "$bridge" || fail "the bridge's unit does not start the installed bridge"
grep -q "^RuntimeDirectory=lirc$" "$bridge" || fail "the bridge's socket folder is not its own"
grep -q "^Conflicts=.*norvelo.service" "$bridge" || fail "the bridge does not conflict with the player"
grep -q "^Conflicts=norvelo-bridge.service" "$unit" || fail "the player does not conflict with the bridge"
for u in "$unit" "$bridge"; do
  # systemd warns of, and some tools refuse, units anyone may write or run.
  [ "$(stat -c %a "$u")" = 644 ] || fail "$(basename "$u") has mode $(stat -c %a "$u"), not 644"
  sed -n '/^User=/p;/^NoNewPrivileges=/,/^UMask=/p' "$u" >"$u.hardening"
done
cmp -s "$unit.hardening" "$bridge.hardening" || fail "the bridge's user or hardening differ from the player's"
rm -f "$unit.hardening" "$bridge.hardening"
for name in NORVELO_DEVICE NORVELO_BRIDGE_SOCKET NORVELO_BRIDGE_PORT NORVELO_BRIDGE_OPTIONS NORVELO_DISPLAY_CHARSET; do
  grep -B1 "^$name=" "$TMP/root/etc/default/norvelo-bridge" | grep -q "^#" || fail "$name missing or without a comment"
done
grep -qx /etc/default/norvelo-bridge "$TMP/control/conffiles" || fail "the bridge's defaults file is not a conffile"
if command -v systemd-analyze >/dev/null; then
  cp /usr/lib/systemd/system/*.target "$TMP/root/usr/lib/systemd/system/"
  MANPATH="$TMP/root/usr/share/man" systemd-analyze --root="$TMP/root" verify norvelo.service norvelo-bridge.service \
    >"$TMP/verify" 2>&1 || { cat "$TMP/verify"; fail "systemd-analyze verify"; }
  # Both hardened to an exposure of 2.0 or lower (the threshold counts tenths).
  for u in "$unit" "$bridge"; do
    systemd-analyze security --offline=true --threshold=20 "$u" >"$TMP/security" 2>&1 \
      || { cat "$TMP/security"; fail "$(basename "$u") is exposed above 2.0"; }
  done
fi

# The desktop's user unit: installed where the user managers look, it runs
# the installed player on the session's player, and verifies.
desktop="$TMP/root/usr/lib/systemd/user/norvelo-desktop.service"
[ -f "$desktop" ] || fail "norvelo-desktop.service missing"
grep -q "^ExecStart=/usr/bin/norvelo .*-p mpris$" "$desktop" || fail "the user unit does not drive the session's player"
[ "$(stat -c %a "$desktop")" = 644 ] || fail "norvelo-desktop.service has mode $(stat -c %a "$desktop"), not 644"
if command -v systemd-analyze >/dev/null; then
  # A user manager's verifier takes no scratch root: the system's, which
  # reads the unit the same way, checks it beside the installed player.
  cp "$desktop" "$TMP/root/usr/lib/systemd/system/"
  MANPATH="$TMP/root/usr/share/man" systemd-analyze --root="$TMP/root" verify norvelo-desktop.service \
    >"$TMP/verify" 2>&1 || { cat "$TMP/verify"; fail "systemd-analyze verify of the user unit"; }
  rm "$TMP/root/usr/lib/systemd/system/norvelo-desktop.service"
fi

# postinst, with the system's commands recorded instead of run: the user is
# made once, joins audio and dialout, and nothing is enabled or started.
mkdir "$TMP/stubs"
for command in adduser systemctl getent; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n[ %s != getent ]\n' "$command" "$TMP/calls" "$command" \
    >"$TMP/stubs/$command"
  chmod +x "$TMP/stubs/$command"
done
PATH="$TMP/stubs:$PATH" sh "$TMP/control/postinst" configure || fail "postinst configure"
grep -q "^adduser --system --group .* norvelo$" "$TMP/calls" || fail "postinst made no system user"
grep -q "^adduser --quiet norvelo audio$" "$TMP/calls" || fail "norvelo not put in audio"
grep -q "^adduser --quiet norvelo dialout$" "$TMP/calls" || fail "norvelo not put in dialout"
grep -Eq "^systemctl (enable|start)" "$TMP/calls" && fail "postinst enables or starts the service"
for script in prerm postrm; do
  PATH="$TMP/stubs:$PATH" sh "$TMP/control/$script" remove || fail "$script remove"
done
echo ok
