#!/usr/bin/env bash
# The exporter on a plant: LINES simulated lines of 4 relays (default 64),
# one simulator process serving them all, one exporter polling them all.
#   bench/exporter_bench.sh [SECONDS] [LINES]        (after building relay-sim,
#                                                     zashchita-exporter; mbpoll installed)
# Round 1, every relay answers: each line's use of what 9600 8N1 allows, the
# exporter's CPU per exchange against mbpoll's (polling a line of its own from
# a simulator of its own, in the same run), the exporter's resident memory,
# and the time of a scrape of /metrics while polling (256 relays at 64 lines),
# then the CPU per exchange once more with no scrapes between its readings.
# Round 2, the fourth relay of every line dead: the rate the three others keep.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
lines=${2:-64}
build=${BUILD:-build}
sim=$build/tools/relay-sim/relay-sim
exporter=$build/tools/exporter/zashchita-exporter
tmp=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; sleep 0.5; rm -rf "$tmp"; }
trap cleanup EXIT
tick=$(getconf CLK_TCK)

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# The sum of a metric's samples on /metrics, filtered by a label pattern.
metric_sum() { curl -s "http://127.0.0.1:$1/metrics" | awk -v m="$2" -v f="${3:-}" \
  'index($0, m"{") == 1 && index($0, f) > 0 { s += $NF } END { printf "%.0f\n", s }'; }
# Ideal line time of one exchange of N registers: request 8 bytes, reply 5+2N,
# 10 bits a byte at 9600, the relay's 3 ms turnaround, 3.5 characters of silence.
ideal_ms() { awk -v n="$1" 'BEGIN { printf "%.4f\n", (8 + 5 + 2 * n) * 10000 / 9600 + 3 + 35 * 1000 / 9600 }'; }

# One round: addresses the simulator serves; prints "requests/s per live relay".
round() {
  local name=$1 served=$2 log=$tmp/$1.log port
  local args=(--lines "$lines" --link "$tmp/$name-line" --log "$log" --seed 1)
  for a in $served; do args+=(--address "$a"); done
  "$sim" "${args[@]}" >"$tmp/$name-sim.out" &
  local simpid=$!
  pids+=($simpid)
  for _ in $(seq 50); do [ -e "$tmp/$name-line.$lines" ] && break; sleep 0.1; done
  {
    echo "lines:"
    for l in $(seq "$lines"); do
      echo "  - name: l$l"
      echo "    port: $tmp/$name-line.$l"
      echo "    relays: [{name: R1, address: 1}, {name: R2, address: 2}, {name: R3, address: 3}, {name: R4, address: 4}]"
    done
  } >"$tmp/$name.yaml"
  port=$(free_port)
  "$exporter" --config "$tmp/$name.yaml" --listen "127.0.0.1:$port" --state-dir "$tmp/$name-state" 2>"$tmp/$name-exporter.err" &
  local ex=$!
  pids+=($ex)
  sleep 5   # lines open, first reads, records archived
  local req0 cpu0 t0 req1 cpu1 t1
  req0=$(metric_sum "$port" zashchita_relay_requests_total)
  local logged0
  logged0=$(wc -l <"$log")
  cpu0=$(cpu_ticks $ex)
  t0=$(date +%s.%N)
  # Scrapes while polling, one every 100 ms.
  local scrapes=$tmp/$name-scrapes
  : >"$scrapes"
  local end=$(( $(date +%s) + seconds ))
  while [ "$(date +%s)" -lt "$end" ]; do
    curl -s -o /dev/null -w '%{time_total}\n' "http://127.0.0.1:$port/metrics" >>"$scrapes"
    sleep 0.1
  done
  t1=$(date +%s.%N)
  cpu1=$(cpu_ticks $ex)
  local logged1
  logged1=$(wc -l <"$log")
  req1=$(metric_sum "$port" zashchita_relay_requests_total)
  # Then polling alone for half as long, with no scrape between the two
  # readings of the counters: the exporter's cost to a Prometheus that
  # scrapes every 15 s, where the loop above scrapes ten times a second.
  sleep $(( (seconds + 1) / 2 ))
  local t2 cpu2 req2
  t2=$(date +%s.%N)
  cpu2=$(cpu_ticks $ex)
  req2=$(metric_sum "$port" zashchita_relay_requests_total)
  local elapsed exchanges
  elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  exchanges=$((req1 - req0))
  echo "== $name: $lines lines, relays at '$served' answering, ${elapsed}s"
  echo "exchanges: $exchanges ($(awk -v e="$exchanges" -v s="$elapsed" -v l="$lines" 'BEGIN { printf "%.2f", e / s / l }')/s a line)"
  # What the line allows: the ideal time of the exchanges the simulators logged.
  sed -n "$((logged0 + 1)),${logged1}p" "$log" | awk 'function hex(h) { return (index("0123456789ABCDEF", substr(h, 1, 1)) - 1) * 16 + index("0123456789ABCDEF", substr(h, 2, 1)) - 1 }
    { c[hex($5) * 256 + hex($6)]++ } END { for (n in c) print n, c[n] }' \
    >"$tmp/$name-counts"
  local busy=0
  while read -r n c; do busy=$(awk -v b="$busy" -v c="$c" -v i="$(ideal_ms "$n")" 'BEGIN { print b + c * i }'); done <"$tmp/$name-counts"
  echo "line use (ideal time of the exchanges / time, all lines): $(awk -v b="$busy" -v s="$elapsed" -v l="$lines" 'BEGIN { printf "%.3f", b / 1000 / s / l }')"
  echo "exporter CPU: $(awk -v c=$((cpu1 - cpu0)) -v t="$tick" -v s="$elapsed" 'BEGIN { printf "%.1f%% of a core", 100 * c / t / s }'), $(awk -v c=$((cpu1 - cpu0)) -v t="$tick" -v e="$exchanges" 'BEGIN { printf "%.1f µs", 1e6 * c / t / e }') per exchange"
  echo "exporter CPU without the scrape loop: $(awk -v c=$((cpu2 - cpu1)) -v t="$tick" -v e=$((req2 - req1)) 'BEGIN { printf "%.1f µs", 1e6 * c / t / e }') per exchange ($((req2 - req1)) exchanges)"
  echo "exporter resident memory: $(awk '/VmHWM/ { print $2 / 1024 " MB at most" }' "/proc/$ex/status")"
  sort -n "$scrapes" | awk '{ v[NR] = $1 } END { printf "scrape of /metrics: %d scrapes, median %.1f ms, p99 %.1f ms, max %.1f ms\n", NR, 1000 * v[int(NR * 0.5) + 1], 1000 * v[int(NR * 0.99) + (NR * 0.99 > int(NR * 0.99))], 1000 * v[NR] }'
  curl -s "http://127.0.0.1:$port/metrics" | wc -c | awk '{ printf "scrape size: %d bytes\n", $1 }'
  # Per live relay, for the round with a dead one: requests since the exporter's start.
  for r in R1 R2 R3; do
    echo "$r $(metric_sum "$port" zashchita_relay_requests_total "relay=\"$r\"")"
  done >"$tmp/$name-per-relay"
  kill "$ex" "$simpid"
  wait "$ex" "$simpid" 2>/dev/null || true
}

# mbpoll beside round 1: one line of its own, 29 registers every 11 ms.
"$sim" --log "$tmp/mbpoll.log" >"$tmp/mbpoll-sim.out" &
pids+=($!)
sleep 0.5
mbpoll -m rtu -b 9600 -P none -d 8 -s 1 -a 1 -r 51 -c 29 -t 4 -l 11 -o 0.5 "$(head -1 "$tmp/mbpoll-sim.out")" >/dev/null 2>&1 &
mb=$!
pids+=($mb)
sleep 5
mcpu0=$(cpu_ticks $mb)
mreq0=$(wc -l <"$tmp/mbpoll.log")
round all "1 2 3 4"
mcpu1=$(cpu_ticks $mb)
mreq1=$(wc -l <"$tmp/mbpoll.log")
kill $mb
echo "mbpoll: $((mreq1 - mreq0)) exchanges, $(awk -v c=$((mcpu1 - mcpu0)) -v t="$tick" -v e=$((mreq1 - mreq0)) 'BEGIN { printf "%.1f µs", 1e6 * c / t / e }') CPU per exchange"
cp "$tmp/all-per-relay" "$tmp/all-rates"

round dead "1 2 3"
echo "== the three live relays' rate with the fourth dead, against all answering (same time):"
join "$tmp/all-rates" "$tmp/dead-per-relay" | awk '{ printf "%s %.2f\n", $1, $3 / $2 }'
