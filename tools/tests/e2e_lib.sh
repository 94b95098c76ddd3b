# Shared by the end-to-end tests of the tools. Expects BIN (the built
# programs) and WRAPPER (the directory of the real-time decoder wrapper).
set -u
TMP=$(mktemp -d /tmp/norvelo-tools-e2e.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
export NORVELO_DEMO_OUTPUT=silent

fail() {
  echo "FAIL: $*" >&2
  for f in "$TMP"/*.out "$TMP"/*.err; do
    [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
  done
  exit 1
}

# make_track file seconds title: a tagged MP3 of a short tune.
make_track() {
  "$BIN/demo-tone" "$TMP/t.wav" "$2" 3 || fail "demo-tone"
  lame --quiet -m m -b 32 --tt "$3" --ta "E2E" "$TMP/t.wav" "$1" || fail "lame"
  rm -f "$TMP/t.wav"
}

# run_unit name script [args...]: the emulator in scripted mode, bounded in
# time; every process it starts carries a mark in its environment.
run_unit() {
  name=$1
  script=$2
  shift 2
  PATH="$WRAPPER:$PATH" NORVELO_E2E_MARK="$TMP" timeout 60 "$BIN/norvelo-unit" -f "$script" -t 20 "$@" \
    >"$TMP/$name.out" 2>"$TMP/$name.err"
}

# No process started by the emulator outlives it.
check_no_leftovers() {
  sleep 0.2
  left=$(grep -l "NORVELO_E2E_MARK=$TMP" /proc/[0-9]*/environ 2>/dev/null | tr '\n' ' ')
  [ -z "$left" ] || fail "processes left behind: $left"
}
