#!/usr/bin/env bash
# Builds the Debian package, unpacks it into an empty root and checks what it
# holds and declares; then starts the unpacked program in a virtual X server,
# as a user who cannot write beside it, with an empty home: it must open its
# help database through a copy in that user's data folder, and name it at exit.
set -euo pipefail

BUILD="$1"
ART="${2:-$(mktemp -d)}"
mkdir -p "$ART"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

WORK="$(mktemp -d)"
chmod 755 "$WORK"
XPID="" PID=""
trap 'kill $PID $XPID 2>/dev/null || true; rm -rf "$WORK"' EXIT

cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 \
  || { cat "$WORK/cpack.log" >&2; fail "cpack could not build the package"; }
DEB="$(ls "$WORK"/out/zumilo_*.deb)"
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
SHARE="$ROOT/usr/share"
APP=io.github.zumilo.Zumilo

desktop-file-validate "$SHARE/applications/$APP.desktop" || fail "desktop entry does not validate"
appstreamcli validate --no-net --explain "$SHARE/metainfo/$APP.metainfo.xml" >"$WORK/as.log" 2>&1 \
  || { cat "$WORK/as.log" >&2; fail "AppStream data does not validate"; }
icon="$(sed -n 's/^Icon=//p' "$SHARE/applications/$APP.desktop")"
for size in 16x16 24x24 32x32 48x48 64x64 128x128; do
  [ -f "$SHARE/icons/hicolor/$size/apps/$icon.png" ] || fail "no $size icon named $icon"
done
for page in man/man1/zumilo.1.gz man/ja/man1/zumilo.1.gz; do
  gzip -t "$SHARE/$page" || fail "$page is not a gzip file"
done

# Every library the program links, or loads by its name when first used,
# comes from a package it depends on.
depends="$(dpkg-deb -f "$DEB" Depends)"
on_demand="$(strings -a "$ROOT/usr/bin/zumilo" | grep -E '^lib[[:alnum:]_+-]+[.]so[.][0-9]+$' | sort -u)"
[ -n "$on_demand" ] || fail "the program names no library it loads when first used"
for lib in $(objdump -p "$ROOT/usr/bin/zumilo" | awk '$1 == "NEEDED" { print $2 }') $on_demand; do
  path="$(ldd "$ROOT/usr/bin/zumilo" | awk -v l="$lib" '$1 == l { print $3 } $1 ~ ("/" l "$") { print $1 }')"
  # awk reads to the end: leaving early would break ldconfig's pipe and,
  # under pipefail, end the script without a word.
  [ -n "$path" ] || path="$(ldconfig -p | awk -v l="$lib" '$1 == l && !found++ { print $NF }')"
  [ -n "$path" ] || fail "$lib is not found"
  # /lib and /usr/lib are one folder; dpkg knows each file by one of them.
  owner="$(dpkg -S "$path" "/usr$path" "${path#/usr}" 2>/dev/null | head -1 || true)"
  owner="${owner%%:*}"
  [ -n "$owner" ] || fail "no package owns $lib ($path)"
  [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] \
    || fail "$lib comes from $owner, which Depends ($depends) lacks"
done
[[ ", $depends," == *", fonts-noto-cjk"* ]] || fail "Depends lacks the Japanese fonts: $depends"

# The installed program, run as a user without write access to it.
chmod -R a-w "$ROOT/usr"
RUNAS=()
[ "$(id -u)" -eq 0 ] && RUNAS=(setpriv --reuid=65534 --regid=65534 --clear-groups)
export HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/runtime"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
[ "$(id -u)" -eq 0 ] && chown 65534:65534 "$HOME" "$XDG_RUNTIME_DIR"

# A server of its own that the other user may reach; it takes no connections
# from the network.
Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 1280x800x24 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XPID=$!
wait_for 20 test -s "$WORK/display" || { cat "$WORK/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$(cat "$WORK/display")" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8

"${RUNAS[@]}" "$ROOT/usr/bin/zumilo" >"$WORK/out.log" 2>&1 &
PID=$!
HELP="$XDG_DATA_HOME/zumilo/zumilo/Zumiloﾍﾙﾌﾟ.zmd"
wait_for 30 xdotool search --name "^Zumilo  " || { cat "$WORK/out.log" >&2; fail "main window did not appear"; }
WID="$(xdotool search --name '^Zumilo  ' | head -1)"
CAPTION="$(xdotool getwindowname "$WID")"
[ "$CAPTION" = "Zumilo  $HELP" ] || fail "caption is '$CAPTION', expected 'Zumilo  $HELP'"
import -window root "$ART/package-main-window.png"

xdotool windowfocus --sync "$WID" 2>/dev/null || xdotool windowfocus "$WID"
xdotool key --clearmodifiers ctrl+q
wait_for 20 bash -c "! kill -0 $PID" || fail "the program did not end through Ctrl+Q"
wait "$PID" || fail "the program ended with an error"
grep -qxF "LastNameFull=$HELP" "$XDG_CONFIG_HOME/zumilo/zumilo.ini" || fail "settings do not name $HELP"
echo "1 passed, 0 failed"
