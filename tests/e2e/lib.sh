# Shared by the scripts that drive the real program; ART is the artefact folder.

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
