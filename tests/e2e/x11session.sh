# Sourced by the scripts that drive the real program in a virtual X server,
# with the program and the artefact folder as $1 and $2: runs the script
# again inside a server of its own (xserver.sh), gives the program empty settings, data and cache
# folders under WORK, and offers the steps the scripts share. A script that
# starts more than the program (PID) sets a trap of its own.
BIN="$1"
ART="${2:-$(mktemp -d)}"
mkdir -p "$ART"

if [ -z "${ZUMILO_X11_INNER:-}" ]; then
  export ZUMILO_X11_INNER=1
  exec bash "$(dirname "${BASH_SOURCE[0]}")/xserver.sh" bash "$0" "$BIN" "$ART"
fi

WORK="$(mktemp -d)"
PID=""
trap '[ -z "$PID" ] || kill "$PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache"
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Leaves the program $1 through File > 終了(&X), as the user does; the open
# menu is screenshot into $2 when given.
quit_through_file_menu() {
  local pid=$1 before
  before=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)
  xdotool key --clearmodifiers alt+f
  wait_for 10 bash -c "[ \$(xdotool search --onlyvisible --pid $pid 2>/dev/null | wc -l) -gt $before ]" \
    || fail "File menu did not open"
  [ -z "${2:-}" ] || import -window root "$2"
  xdotool key x
  wait_for 20 bash -c "! kill -0 $pid" || fail "the program did not end through File > 終了"
  wait "$pid" || fail "the program ended with an error"
}
