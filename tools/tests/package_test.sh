#!/bin/sh
# The Debian package, unpacked into a scratch root: the programs run and the
# manual pages show.
BUILD=$1
set -u
TMP=$(mktemp -d /tmp/norvelo-package.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$BUILD/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1 || { cat "$TMP/cpack.log"; fail "cpack"; }
deb=$(ls "$TMP"/out/norvelo_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no .deb made"
dpkg-deb -f "$deb" Depends | grep -q mpg123 || fail "the package does not depend on mpg123"
dpkg-deb -x "$deb" "$TMP/root" || fail "dpkg-deb -x"
for program in norvelo norvelo-unit norvelo-learn; do
  [ -x "$TMP/root/usr/bin/$program" ] || fail "$program missing"
  [ -f "$TMP/root/usr/share/man/man1/$program.1.gz" ] || fail "$program(1) missing"
done
"$TMP/root/usr/bin/norvelo" >"$TMP/usage" 2>&1
[ $? -eq 1 ] || fail "norvelo without arguments should end with status 1"
grep -q "^Usage: norvelo \[options\] list" "$TMP/usage" || fail "no usage text"
"$TMP/root/usr/bin/norvelo-unit" -h | grep -q "^Usage: norvelo-unit" || fail "norvelo-unit -h"
if command -v man >/dev/null; then
  MANPATH="$TMP/root/usr/share/man" MANWIDTH=80 man norvelo 2>/dev/null | grep -q "remote mappings file" \
    || fail "man norvelo does not show the page"
fi
echo ok
