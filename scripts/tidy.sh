#!/usr/bin/env bash
# Runs clang-tidy with .clang-tidy over the sources changed since this
# branch left main (or the branch given), or over every source with --all.
# A source counts as changed when it or its own header is.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/setup.sh" # the compile commands, and the headers moc writes
cd "$ROOT"
if [ "${1:-}" = "--all" ]; then
  mapfile -t files < <(git ls-files 'src/*.cpp' 'tests/*.cpp' 'bench/*.cpp' 'tools/*.cpp' | grep -v '^tests/fuzz/')
else
  base="$(git merge-base HEAD "${1:-main}")"
  mapfile -t files < <(git diff --name-only --diff-filter=d "$base" -- src tests bench tools \
    | grep -v '^tests/fuzz/' | grep -E '\.(cpp|h)$' | sed 's/\.h$/.cpp/' | sort -u | while read -r f; do [ -f "$f" ] && echo "$f"; done)
fi
[ ${#files[@]} -gt 0 ] || { echo "No sources to check."; exit 0; }
echo "clang-tidy: ${#files[@]} sources"
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -n 1 clang-tidy -p "$BUILD_DIR" --quiet
