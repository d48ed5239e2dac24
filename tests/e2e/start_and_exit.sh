#!/usr/bin/env bash
# Starts the real program in a real X server with an empty settings folder,
# checks its caption, leaves it through File > 終了(&X) and checks what it
# stored. Screenshots go to the artefact folder.
set -euo pipefail

BIN="$1"
ART="${2:-$(mktemp -d)}"
mkdir -p "$ART"

if [ -z "${ZUMILO_E2E_INNER:-}" ]; then
  export ZUMILO_E2E_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" bash "$0" "$BIN" "$ART"
fi

WORK="$(mktemp -d)"
trap 'kill "$PID" 2>/dev/null || true; rm -rf "$WORK"' EXIT
export XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache"
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

"$BIN" >"$WORK/out.log" 2>&1 &
PID=$!

wait_for 30 xdotool search --name '^Zumilo  ' || { cat "$WORK/out.log" >&2; fail "main window did not appear"; }
WID="$(xdotool search --name '^Zumilo  ' | head -1)"
CAPTION="$(xdotool getwindowname "$WID")"
EXPECTED="Zumilo  $(dirname "$(readlink -f "$BIN")")/Zumiloﾍﾙﾌﾟ.zmd"
[ "$CAPTION" = "$EXPECTED" ] || fail "caption is '$CAPTION', expected '$EXPECTED'"
echo "caption: $CAPTION"

xdotool windowfocus --sync "$WID" 2>/dev/null || xdotool windowfocus "$WID"
import -window root "$ART/main-window.png"

# File menu by its access key; it must open before it is screenshot.
before=$(xdotool search --onlyvisible --pid "$PID" 2>/dev/null | wc -l)
xdotool key --clearmodifiers alt+f
wait_for 10 bash -c "[ \$(xdotool search --onlyvisible --pid $PID 2>/dev/null | wc -l) -gt $before ]" \
  || fail "File menu did not open"
import -window root "$ART/file-menu.png"
xdotool key x   # 終了(&X)

wait_for 20 bash -c "! kill -0 $PID" || fail "the program did not end through File > 終了"
wait "$PID" || fail "the program ended with an error"

INI="$XDG_CONFIG_HOME/zumilo/zumilo.ini"
[ -f "$INI" ] || fail "no settings file at $INI"
for key in LastNameFull LastName LastPath Top Left Width Height; do
  grep -q "^$key=" "$INI" || fail "settings file lacks $key"
done
grep -q '^\[DB_name\]' "$INI" || fail "settings file lacks [DB_name]"
grep -q '^\[F1Position\]' "$INI" || fail "settings file lacks [F1Position]"
grep -q "^RecentFile1=" "$INI" || fail "settings file lacks RecentFile1"
echo "1 passed, 0 failed"
