#!/usr/bin/env bash
# Builds the program and runs every test (headless), in the C locale and again in a German and a
# Russian one, then builds again with AddressSanitizer and UndefinedBehaviorSanitizer in a second
# folder and runs every test there too.
# SANITIZE=0 skips the second run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
(cd "${BUILD_DIR:-build}" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
# Stored and compared times and numbers must not follow the desktop's language: the same tests
# again on a German and on a Russian desktop.
for lang in de_DE.UTF-8 ru_RU.UTF-8; do
  echo "Tests with LANG=$lang"
  (cd "${BUILD_DIR:-build}" && LANG="$lang" LC_ALL="$lang" QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
done
[ "${SANITIZE:-1}" = 0 ] && exit 0
# Lean: no benchmarks, light optimisation and line tables only, assertions on.
BUILD_DIR="${SANITIZE_BUILD_DIR:-build-asan}" scripts/setup.sh -DTAVRINEL_SANITIZE=ON -DTAVRINEL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
cd "${SANITIZE_BUILD_DIR:-build-asan}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
