#!/usr/bin/env bash
# Installs the Debian packages the build needs (only when one is missing) and the German and Russian
# locales the tests also run in (only when missing), then configures and builds.
set -euo pipefail
cd "$(dirname "$0")/.."
PACKAGES="qtbase5-dev libminiupnpc-dev zlib1g-dev pkg-config cmake g++ xvfb xauth tango-icon-theme famfamfam-flag-png locales"
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
# The tests run a second and a third time on a German and a Russian desktop (scripts/test.sh).
LOCALES="de_DE ru_RU"
available="$(locale -a 2>/dev/null || true)"
absent=""
for l in $LOCALES; do
  grep -qix "$l\.utf-\?8" <<<"$available" || absent="$absent $l"
done
if [ -n "$absent" ]; then
  for l in $absent; do
    if grep -q "^# *$l\.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
      $SUDO sed -i "s/^# *\($l\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    elif ! grep -q "^$l\.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$l.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
  done
  $SUDO locale-gen >/dev/null
fi
BUILD_DIR="${BUILD_DIR:-build}"
LAUNCHER=""
command -v ccache >/dev/null && LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo $LAUNCHER "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
