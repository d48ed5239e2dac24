#!/usr/bin/env bash
# The real program under a real window manager (openbox), or with none when
# ZUMILO_NO_WM is set, in a virtual X server: Ctrl+N opens a new note's
# window, whose title takes what the user types first and whose body takes
# what follows Tab; Ctrl+S stores both.
# Screenshots go to the artefact folder.
set -euo pipefail

source "$(dirname "$0")/../e2e/x11session.sh"
PID=""
WM=""
cleanup() {
  set +e
  for p in $PID $WM; do
    kill "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

if [ -z "${ZUMILO_NO_WM:-}" ]; then
  openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
  WM=$!
  wait_for 60 bash -c "xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'" \
    || { cat "$WORK/openbox.log" >&2; fail "openbox did not start"; }
fi
# The window that has the keyboard; without a window manager none is "active".
has_keyboard() { [ "$(xdotool getwindowfocus)" = "$1" ]; }

# A file of its own: a copy of the help database, named by the settings.
DB="$WORK/notes.zmd"
cp "$(dirname "$(readlink -f "$BIN")")/Zumiloﾍﾙﾌﾟ.zmd" "$DB"
mkdir -p "$XDG_CONFIG_HOME/zumilo"
printf '[DB_name]\nLastNameFull=%s\nLastName=notes.zmd\n' "$DB" >"$XDG_CONFIG_HOME/zumilo/zumilo.ini"

"$BIN" >"$WORK/out.log" 2>&1 &
PID=$!
wait_for 30 xdotool search --name '^Zumilo  ' || { cat "$WORK/out.log" >&2; fail "main window did not appear"; }
MAIN="$(xdotool search --name '^Zumilo  ' | head -1)"
xdotool windowactivate --sync "$MAIN" 2>/dev/null || xdotool windowfocus --sync "$MAIN"
wait_for 10 has_keyboard "$MAIN" || fail "main window does not have the keyboard"

xdotool key --clearmodifiers ctrl+n
wait_for 20 xdotool search --name ' - Zumilo$' || fail "no window for a new note"
NOTE="$(xdotool search --name ' - Zumilo$' | head -1)"
wait_for 10 has_keyboard "$NOTE" || fail "the new note's window does not have the keyboard"

xdotool type --delay 40 'Focus title'
xdotool key Tab
xdotool type --delay 40 'Focus body'
wait_for 10 xdotool search --name '^Focus title  ' || fail "the typing did not reach the title"
import -window root "$ART/new-note-typed.png"
xdotool key --clearmodifiers ctrl+s

stored() { sqlite3 "$DB" "select title || '|' || naiyo from T_idea where title like 'Focus%'"; }
wait_for 10 bash -c "[ \"\$(sqlite3 '$DB' \"select naiyo from T_idea where title = 'Focus title'\")\" = 'Focus body' ]" \
  || fail "stored: '$(stored)'"

# Leave as the user does: the note's window, then File > 終了(&X).
xdotool key --clearmodifiers ctrl+w
wait_for 10 bash -c "! xdotool search --name ' - Zumilo$'" || fail "the note's window did not close"
MAIN="$(xdotool search --name '^Zumilo  ' | head -1)"
xdotool windowactivate --sync "$MAIN" 2>/dev/null || xdotool windowfocus --sync "$MAIN"
quit_through_file_menu "$PID"
PID=""
echo "1 passed, 0 failed"
