#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest.
# ZASHCHITA_SANITIZE=1 ./test.sh builds with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh
zashchita_install_missing "${ZASHCHITA_PACKAGES[@]}"

build=build
extra=()
if [ "${ZASHCHITA_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  extra=(-DZASHCHITA_SANITIZE=ON)
fi
zashchita_build "$build" "${extra[@]}"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600
