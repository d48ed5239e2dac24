#!/usr/bin/env bash
# Types unsaved edits into three windows of the real program (the main
# window, a single-record window on a note, a window for a new note), kills
# it with SIGKILL once their drafts are written, starts it again, restores
# the drafts (their captions saying so), saves them and finds every typed
# character in the file.
# Screenshots go to the artefact folder.
set -euo pipefail

source "$(dirname "$0")/x11session.sh"
FAILURE_SHOT=drafts-failure
DB="$WORK/notes.zmd"
DRAFTS="$XDG_CONFIG_HOME/zumilo/drafts"
cp "$(dirname "$(readlink -f "$BIN")")/Zumiloﾍﾙﾌﾟ.zmd" "$DB"
mkdir -p "$XDG_CONFIG_HOME/zumilo"
printf '[DB_name]\nLastName=notes.zmd\nLastNameFull=%s\n' "$DB" >"$XDG_CONFIG_HOME/zumilo/zumilo.ini"

main_window() { xdotool search --name '^Zumilo  ' | head -1; }
single_windows() { xdotool search --name ' - Zumilo$'; }
count_singles() { [ "$(single_windows | wc -l)" -eq "$1" ]; }
count_marked() { [ "$(xdotool search --name '^（復元した下書き）' | wc -l)" -eq "$1" ]; }
# Clicks at a point of a window (no window manager: windows lie where they ask).
click() { xdotool mousemove --window "$1" "$2" "$3" click ${4:+--repeat 2 --delay 80} 1; }
type_at() {
  local wid=$1 x=$2 y=$3 text=$4
  xdotool windowfocus --sync "$wid"
  click "$wid" "$x" "$y"
  # Slowly: xdotool lends a key code to each Japanese character in turn, and
  # a program that reads the key late must still find it lent.
  xdotool key ctrl+End type --delay 150 -- "$text"
}
note() { sqlite3 "$DB" "select $1 from T_idea where $2"; }

# What is typed: ASCII, signs and Japanese, at the end of each box.
S_TITLE=' s1:会議「メモ」!'
S_BODY=' body-1 日本語#42'
M_TITLE=' main*タイトル?'
M_BODY=' main-body 本文&'
N_TITLE='新規note 1'
N_BODY='new body メモ (3)'

"$BIN" >"$WORK/run1.log" 2>&1 &
PID=$!
wait_for 30 main_window || { cat "$WORK/run1.log" >&2; fail "main window did not appear"; }
MAIN="$(main_window)"
xdotool windowfocus --sync "$MAIN"
click "$MAIN" 97 107                         # category "1 はじめに"
sleep 1
click "$MAIN" 567 100 double                 # its second note, in a window of its own
wait_for 20 count_singles 1 || fail "no single-record window"
SINGLE="$(single_windows | head -1)"
type_at "$SINGLE" 280 100 "$S_TITLE"
type_at "$SINGLE" 280 220 "$S_BODY"

xdotool windowfocus --sync "$MAIN"
click "$MAIN" 617 82                         # the first note in the main editor
sleep 1
type_at "$MAIN" 617 250 "$M_TITLE"
type_at "$MAIN" 617 410 "$M_BODY"

xdotool key ctrl+n                           # a new note
wait_for 20 count_singles 2 || fail "no window for a new note"
NEW="$(single_windows | grep -vx "$SINGLE" | head -1)"
type_at "$NEW" 280 100 "$N_TITLE"
type_at "$NEW" 280 210 "$N_BODY"

drafted() {
  local n; n=$(find "$DRAFTS" -name '*.draft' | wc -l)
  [ "$n" -eq 3 ] || return 1
  for t in "$S_TITLE" "$S_BODY" "$M_TITLE" "$M_BODY" "$N_TITLE" "$N_BODY"; do
    grep -qF -- "$t" "$DRAFTS"/*/*.draft || return 1
  done
}
wait_for 20 drafted || { cat "$DRAFTS"/*/*.draft >&2; fail "the three drafts were not written"; }
import -window root "$ART/drafts-before-kill.png"
kill -9 "$PID"
wait "$PID" 2>/dev/null || true
[ "$(note "count(*)" "title like '%会議「メモ」%' or title like '新規note%'")" = 0 ] || fail "something was saved without the user"

"$BIN" >"$WORK/run2.log" 2>&1 &
PID=$!
wait_for 30 xdotool search --name '保存されていない編集' || { cat "$WORK/run2.log" >&2; fail "no restore prompt"; }
import -window root "$ART/drafts-prompt.png"
PROMPT="$(xdotool search --name '保存されていない編集' | head -1)"
xdotool windowfocus --sync "$PROMPT"
xdotool key Return                           # restore all three (the first choice)
wait_for 20 count_singles 3 || fail "the drafts did not come back in three windows"
import -window root "$ART/drafts-restored.png"
count_marked 3 || fail "the restored windows' captions do not say they hold a draft"
for w in $(single_windows); do
  xdotool windowfocus --sync "$w"
  xdotool key ctrl+s
  sleep 0.3
done
# Saved drafts leave the journal; then File > 終了.
wait_for 20 bash -c "[ \$(find '$DRAFTS' -name '*.draft' | wc -l) -eq 0 ]" || fail "drafts stay after saving"
wait_for 10 count_marked 0 || fail "a saved draft's caption still says it was restored"
MAIN="$(main_window)"
xdotool windowfocus --sync "$MAIN"
quit_through_file_menu "$PID"
PID=""

ends_with() { # column, row condition, text
  [ "$(sqlite3 -cmd ".param set :t '$3'" "$DB" "select substr($1, -length(:t)) = :t from T_idea where $2")" = 1 ] \
    || fail "$1 of the note where $2 does not end in '$3': $(note "$1" "$2" | tail -c 200)"
}
ends_with title "id=28" "$S_TITLE"
ends_with naiyo "id=28" "$S_BODY"
ends_with title "id=2" "$M_TITLE"
ends_with naiyo "id=2" "$M_BODY"
NEWID="$(note id "title = '$N_TITLE'")"
[ -n "$NEWID" ] || fail "the new note was not saved"
ends_with naiyo "id=$NEWID" "$N_BODY"
[ -z "$(ls -A "$DRAFTS")" ] || fail "the journal is not empty after a clean exit: $(ls -A "$DRAFTS")"
echo "1 passed, 0 failed"
