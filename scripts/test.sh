#!/usr/bin/env bash
# Builds the program and runs every test (headless), then builds again with AddressSanitizer and
# UndefinedBehaviorSanitizer in a second folder and runs every test there too.
# SANITIZE=0 skips the second run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
(cd "${BUILD_DIR:-build}" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
[ "${SANITIZE:-1}" = 0 ] && exit 0
# Lean: no benchmarks, light optimisation and line tables only, assertions on.
BUILD_DIR="${SANITIZE_BUILD_DIR:-build-asan}" scripts/setup.sh -DTAVRINEL_SANITIZE=ON -DTAVRINEL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
cd "${SANITIZE_BUILD_DIR:-build-asan}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
