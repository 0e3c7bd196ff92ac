#!/usr/bin/env bash
# Builds the program and runs every test (headless).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cd "${BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
