#!/usr/bin/env bash
# Starts the real program in a real X server with an empty settings folder,
# checks its caption, leaves it through File > 終了(&X) and checks what it
# stored. Screenshots go to the artefact folder.
set -euo pipefail

source "$(dirname "$0")/x11session.sh"

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
quit_through_file_menu "$PID" "$ART/file-menu.png"

INI="$XDG_CONFIG_HOME/zumilo/zumilo.ini"
[ -f "$INI" ] || fail "no settings file at $INI"
for key in LastNameFull LastName LastPath Top Left Width Height; do
  grep -q "^$key=" "$INI" || fail "settings file lacks $key"
done
grep -q '^\[DB_name\]' "$INI" || fail "settings file lacks [DB_name]"
grep -q '^\[F1Position\]' "$INI" || fail "settings file lacks [F1Position]"
grep -q "^RecentFile1=" "$INI" || fail "settings file lacks RecentFile1"
echo "1 passed, 0 failed"
