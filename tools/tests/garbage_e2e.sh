#!/bin/sh
# A host that writes garbage neither crashes nor stalls the emulator; the
# frame that follows the garbage is still shown whole.
BIN=$1
WRAPPER=$2
. "$(dirname "$0")/e2e_lib.sh"
: >"$TMP/empty.keys"
# Started as: host.sh -s device
cat >"$TMP/host.sh" <<'HOST'
#!/bin/sh
head -c 300000 /dev/urandom >"$2"
printf '\200Line one\250Line two is long' >"$2"
HOST
chmod +x "$TMP/host.sh"
run_unit garbage "$TMP/empty.keys" -- "$TMP/host.sh"
status=$?
[ $status -eq 0 ] || fail "status $status"
tail -1 "$TMP/garbage.out" | grep -q '"Line one" "Line two is long"$' || fail "the last frame was not shown"
check_no_leftovers
echo ok
