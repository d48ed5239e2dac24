# What the end-to-end scripts share; sourced with the program and the
# artefact folder as $1 and $2. Runs the script again inside a virtual X
# server, with settings, data and cache in a folder of its own.
BIN="$1"
ART="${2:-$(mktemp -d)}"
mkdir -p "$ART"

if [ -z "${ZUMILO_E2E_INNER:-}" ]; then
  export ZUMILO_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" bash "$0" "$BIN" "$ART"
fi

WORK="$(mktemp -d)"
PID=""
trap '[ -z "$PID" ] || kill "$PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache"
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8

fail() { echo "FAIL: $*" >&2; import -window root "$ART/${FAILURE_SHOT:-failure}.png" 2>/dev/null || true; exit 1; }

# Polls a command for up to $1 seconds.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}
