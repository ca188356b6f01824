#!/usr/bin/env bash
# Installs what the benchmark needs (the build's packages and mbpoll, its
# measuring peer), builds bench_poll and runs it with the given arguments:
#   bench/run.sh [SECONDS] [TURNAROUND_MS] [SIMULATOR OPTIONS...]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
zashchita_install_missing "${ZASHCHITA_PACKAGES[@]}" "${ZASHCHITA_BENCH_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target bench_poll zashchita-cli -j"$(nproc)"
exec build/bench/bench_poll "$@"
