#!/usr/bin/env bash
# The exporter's Modbus TCP server under SCADA-like load: LINES simulated
# lines of 4 relays (default 64; one simulator process), one exporter polling
# them all with a unit id for each of the first 247 relays, measured SECONDS
# (default 20) without clients, then as long with CLIENTS connections
# (default 8) each reading the current parameters of 64 relays 10 times a
# second (bench_modbus_clients), then without clients again.
#   bench/modbus_bench.sh [SECONDS] [LINES] [CLIENTS]   (after building relay-sim,
#                                                       zashchita-exporter, bench_modbus_clients)
# Each phase: each line's use of what 9600 8N1 allows (the ideal time of the
# exchanges the simulator logged over the time), the exporter's CPU and
# resident memory; with clients also the answers and their times, and the
# clients' own CPU (they share the machine's cores with the exporter).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
lines=${2:-64}
clients=${3:-8}
build=${BUILD:-build}
sim=$build/tools/relay-sim/relay-sim
exporter=$build/tools/exporter/zashchita-exporter
asker=$build/bench/bench_modbus_clients
tmp=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; sleep 0.5; rm -rf "$tmp"; }
trap cleanup EXIT
tick=$(getconf CLK_TCK)
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Ideal line time of one exchange of N registers: request 8 bytes, reply 5+2N,
# 10 bits a byte at 9600, the relay's 3 ms turnaround, 3.5 characters of silence.
ideal_ms() { awk -v n="$1" 'BEGIN { printf "%.4f\n", (8 + 5 + 2 * n) * 10000 / 9600 + 3 + 35 * 1000 / 9600 }'; }
# The line use of the log's lines FROM+1..TO over SECONDS.
line_use() {
  local busy=0 n c
  sed -n "$(($1 + 1)),$2p" "$tmp/sim.log" | awk 'function hex(h) { return (index("0123456789ABCDEF", substr(h, 1, 1)) - 1) * 16 + index("0123456789ABCDEF", substr(h, 2, 1)) - 1 }
    { c[hex($5) * 256 + hex($6)]++ } END { for (n in c) print n, c[n] }' >"$tmp/counts"
  while read -r n c; do busy=$(awk -v b="$busy" -v c="$c" -v i="$(ideal_ms "$n")" 'BEGIN { print b + c * i }'); done <"$tmp/counts"
  awk -v b="$busy" -v s="$3" -v l="$lines" 'BEGIN { printf "%.3f", b / 1000 / s / l }'
}

"$sim" --lines "$lines" --link "$tmp/line" --address 1 --address 2 --address 3 --address 4 --seed 1 --log "$tmp/sim.log" >"$tmp/sim.out" &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/line.$lines" ] && break; sleep 0.1; done
mport=$(free_port)
{
  echo "modbus_listen: 127.0.0.1:$mport"
  echo "lines:"
  unit=0
  for l in $(seq "$lines"); do
    relays=()
    for a in 1 2 3 4; do
      unit=$((unit + 1))
      if [ "$unit" -le 247 ]; then relays+=("{name: R$a, address: $a, unit: $unit}"); else relays+=("{name: R$a, address: $a}"); fi
    done
    echo "  - {name: l$l, port: $tmp/line.$l, relays: [$(IFS=,; echo "${relays[*]}")]}"
  done
} >"$tmp/exporter.yaml"
units=$(( lines * 4 < 247 ? lines * 4 : 247 ))
"$exporter" --config "$tmp/exporter.yaml" --listen "127.0.0.1:$(free_port)" --state-dir "$tmp/state" 2>"$tmp/exporter.err" &
ex=$!
pids+=($ex)
sleep 8   # lines open, first reads, records archived

phase() {
  local name=$1 logged0 logged1 cpu0 cpu1 t0 t1 elapsed
  logged0=$(wc -l <"$tmp/sim.log")
  cpu0=$(cpu_ticks $ex)
  t0=$(date +%s.%N)
  if [ "$name" = clients ]; then
    # The clients stand for a SCADA on a machine of its own: niced, they
    # take what the exporter leaves (their answer times include their own waits).
    nice -n 10 "$asker" "$mport" "$clients" 64 10 "$seconds" "$units" >"$tmp/asked"
  else
    sleep "$seconds"
  fi
  t1=$(date +%s.%N)
  cpu1=$(cpu_ticks $ex)
  logged1=$(wc -l <"$tmp/sim.log")
  elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  echo "== $name: $lines lines, ${elapsed}s"
  echo "line use: $(line_use "$logged0" "$logged1" "$elapsed")"
  echo "exporter CPU: $(awk -v c=$((cpu1 - cpu0)) -v t="$tick" -v s="$elapsed" 'BEGIN { printf "%.1f%% of a core", 100 * c / t / s }')"
  echo "exporter memory: $(awk '/VmRSS/ { r = $2 } /VmHWM/ { h = $2 } END { printf "%.1f MB resident, %.1f MB at most", r / 1024, h / 1024 }' "/proc/$ex/status")"
  [ "$name" = clients ] && cat "$tmp/asked"
  return 0
}
phase alone
phase clients
phase alone-again
