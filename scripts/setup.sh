#!/usr/bin/env bash
# Installs the Debian packages the build needs (only when one is missing), then configures and builds.
set -euo pipefail
cd "$(dirname "$0")/.."
PACKAGES="qtbase5-dev libminiupnpc-dev zlib1g-dev pkg-config cmake g++ xvfb xauth tango-icon-theme famfamfam-flag-png"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
BUILD_DIR="${BUILD_DIR:-build}"
LAUNCHER=""
command -v ccache >/dev/null && LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo $LAUNCHER "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
