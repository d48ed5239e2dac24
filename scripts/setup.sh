#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds.
# Sourced by ./run and ./test; BUILD_DIR may be set by the caller.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  cmake g++ ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools
  libsqlite3-dev libxlsxwriter-dev libcairo2-dev libcups2-dev
  fonts-noto-cjk qt6-translations-l10n
  xvfb xauth xdotool imagemagick poppler-utils
  cups-daemon cups-client printer-driver-cups-pdf
  sqlite3 clang libclang-rt-14-dev clang-format clang-tidy python3-openpyxl
  libreoffice-calc-nogui openbox x11-utils
  dpkg-dev desktop-file-utils appstream
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

WERROR=OFF
[ "${CI:-}" = "true" ] && WERROR=ON
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DZUMILO_WERROR="$WERROR" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
