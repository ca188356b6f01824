#!/usr/bin/env bash
# The exporter's scrape of 256 relays (64 simulated lines of 4, one
# simulator process, one exporter) timed with nothing else connected, then
# with 100 idle connections held open, then with 100 idle and 10 slow ones
# (a byte a second of a request that never ends), then alone again; each
# connection the exporter closes is opened again at once.
#   bench/web_bench.sh [SCRAPES] [LINES]     (after building relay-sim and zashchita-exporter)
# Each round: SCRAPES GETs of /metrics with gzip (as Prometheus asks), one
# every 200 ms, timed by curl (given up after 5 s); p50, p99 and the largest.
# BUILD=DIR takes the programs from another build (an earlier one, to compare).
set -euo pipefail
cd "$(dirname "$0")/.."
scrapes=${1:-200}
lines=${2:-64}
build=${BUILD:-build}
sim=$build/tools/relay-sim/relay-sim
exporter=$build/tools/exporter/zashchita-exporter
tmp=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; sleep 0.5; rm -rf "$tmp"; }
trap cleanup EXIT

"$sim" --lines "$lines" --link "$tmp/line" --address 1 --address 2 --address 3 --address 4 --seed 1 >"$tmp/sim.out" &
pids+=($!)
for _ in $(seq 50); do [ -e "$tmp/line.$lines" ] && break; sleep 0.1; done
{
  echo "lines:"
  for l in $(seq "$lines"); do
    echo "  - {name: l$l, port: $tmp/line.$l, relays: [{name: R1, address: 1}, {name: R2, address: 2}, {name: R3, address: 3}, {name: R4, address: 4}]}"
  done
} >"$tmp/exporter.yaml"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$exporter" --config "$tmp/exporter.yaml" --listen "127.0.0.1:$port" --state-dir "$tmp/state" 2>"$tmp/exporter.err" &
pids+=($!)
sleep 8   # lines open, first reads, records archived

# Holds IDLE idle and SLOW slow connections open until killed; its pid in $holder.
hold() {
  python3 - "$port" "$1" "$2" >/dev/null <<'PY' &
import socket, sys, time
port, idle, slow = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
text = b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "
def connect():
    s = socket.create_connection(("127.0.0.1", port)); s.setblocking(False); return [s, 0]
held = [connect() for _ in range(idle + slow)]
while True:
    for k, c in enumerate(held):
        try:
            gone = c[0].recv(1) == b""
        except BlockingIOError:
            gone = False
        except OSError:
            gone = True
        if gone:
            c[0].close(); c[:] = connect()
        if k >= idle:
            try:
                c[0].send(text[c[1]:c[1] + 1] if c[1] < len(text) else b"a"); c[1] += 1
            except OSError:
                pass
    time.sleep(1)
PY
  holder=$!
  pids+=($holder)
}

round() {
  local name=$1 out=$tmp/$1.times
  : >"$out"
  for _ in $(seq "$scrapes"); do
    curl -s -m 5 --compressed -o /dev/null -w '%{time_total} %{http_code}\n' "http://127.0.0.1:$port/metrics" >>"$out" || true
    sleep 0.2
  done
  sort -n "$out" | awk -v n="$name" '$2 != 200 { failed++ } { v[NR] = $1 }
    END { printf "%-24s %d scrapes (%d unanswered in 5 s)  p50 %.1f ms  p99 %.1f ms  max %.1f ms\n", n, NR, failed, 1000 * v[int(NR * 0.5) + 1], 1000 * v[int(NR * 0.99) + (NR * 0.99 > int(NR * 0.99))], 1000 * v[NR] }'
}

echo "$lines lines, $((lines * 4)) relays; load average $(cut -d' ' -f1-3 /proc/loadavg)"
round "alone"
hold 100 0; sleep 2
round "100 idle held"
kill "$holder"; hold 100 10; sleep 2
round "100 idle + 10 slow held"
kill "$holder"
round "alone, again"
curl -s "http://127.0.0.1:$port/metrics" | grep -E '^zashchita_exporter_http_connections_closed_total\{reason="(idle|slow|limit)"' || true
