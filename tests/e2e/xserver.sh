#!/usr/bin/env bash
# Runs a command in a virtual X server of its own. The server picks a free
# display itself: servers started at the same moment never share one, as
# they may when each is given the first display that looks free. It does
# not reset when its last client goes (a program killed), which would turn
# away the next one for a moment.
set -euo pipefail
dir="$(mktemp -d)"
Xvfb -displayfd 3 -ac -noreset -nolisten tcp -screen 0 1280x800x24 3>"$dir/display" 2>"$dir/log" &
xpid=$!
trap 'kill "$xpid" 2>/dev/null || true; wait "$xpid" 2>/dev/null || true; rm -rf "$dir"' EXIT
for _ in $(seq 150); do
  [ -s "$dir/display" ] && break
  kill -0 "$xpid" 2>/dev/null || break
  sleep 0.2
done
[ -s "$dir/display" ] || { cat "$dir/log" >&2; echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -1 "$dir/display")"
"$@"
