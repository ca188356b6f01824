#!/usr/bin/env bash
# The relay session's CPU while random bytes pour in: the simulator floods
# its line (--flood, 4 KiB every millisecond) on a pty and over TCP, and
# zashchita-cli monitor polls it without pause for SECONDS. Prints the
# companion's user and system time against the wall-clock time.
#   bench/flood_cpu.sh [SECONDS]   (default 20; build/ must be built)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
sim=build/tools/relay-sim/relay-sim
cli=build/tools/cli/zashchita-cli
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for transport in pty tcp; do
  args=(--flood)
  [[ $transport == tcp ]] && args+=(--tcp 0)
  : >"$out"
  "$sim" "${args[@]}" >"$out" &
  simPid=$!
  while [[ ! -s $out ]]; do sleep 0.1; done
  port=$(head -n1 "$out")
  TIMEFORMAT="$transport: %U s user, %S s system in %R s"
  time { "$cli" --port "$port" --timeout 300 --retries 1 monitor --interval 0 --seconds "$seconds" >/dev/null 2>&1 || true; }
  kill "$simPid"
  wait "$simPid" || true
done
