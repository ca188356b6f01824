#!/usr/bin/env bash
# Many sites, one central store, on Debian's engines: at each of SITES
# sites a simulated line of two relays, zashchita-exporter on it and a site
# Prometheus in agent mode (it scrapes, keeps a WAL, stores nothing itself)
# that remote-writes to one VictoriaMetrics (Debian's victoria-metrics),
# each site's series with its own label site="siteN". Then a relay's series
# is queried at the central store, by site, and the time from the start to
# the first sample there is told.
#   bench/sites_remote_write.sh [SITES] [SECONDS]   (after building relay-sim and zashchita-exporter)
# SECONDS: how long the sites run before the last query (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
sites=${1:-2}
seconds=${2:-30}
build=${BUILD:-build}
sim=$build/tools/relay-sim/relay-sim
exporter=$build/tools/exporter/zashchita-exporter
for program in victoria-metrics prometheus curl python3; do
  command -v "$program" >/dev/null || { echo "$program not found (scripts/deps.sh's bench list installs it)" >&2; exit 1; }
done
tmp=$(mktemp -d)
pids=()
# The last started first: a site's Prometheus before the store it writes to.
cleanup() {
  for ((k = ${#pids[@]} - 1; k >= 0; k--)); do
    kill "${pids[k]}" 2>/dev/null || true
    wait "${pids[k]}" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
# The value of an instant query at the central store, one line a series.
central() {
  curl -s "http://127.0.0.1:$vm/api/v1/query" --data-urlencode "query=$1" | python3 -c '
import json, sys
for r in json.load(sys.stdin)["data"]["result"]:
    labels = ",".join("%s=\"%s\"" % kv for kv in sorted(r["metric"].items()) if kv[0] != "__name__")
    print("  %s{%s} %s" % (r["metric"].get("__name__", ""), labels, r["value"][1]))'
}
started=$(date +%s%N)

# The central store. Its latency offset is cut to a second, so that what
# the sites wrote a moment ago is already answered.
vm=$(free_port)
victoria-metrics -httpListenAddr="127.0.0.1:$vm" -storageDataPath="$tmp/vm" -search.latencyOffset=1s \
  -loggerLevel=ERROR >"$tmp/vm.log" 2>&1 &
pids+=($!)

for n in $(seq "$sites"); do
  site=$tmp/site$n
  mkdir -p "$site"
  "$sim" --link "$site/line" --address 1 --address 2 --freeze --set 50=$((80 + n)) >"$site/sim.out" &
  pids+=($!)
  for _ in $(seq 50); do [ -e "$site/line" ] && break; sleep 0.1; done
  cat >"$site/exporter.yaml" <<YAML
lines:
  - name: pump-house
    port: $site/line
    relays: [{name: M1, address: 1}, {name: M2, address: 2}]
YAML
  exporter_port=$(free_port)
  "$exporter" --config "$site/exporter.yaml" --listen "127.0.0.1:$exporter_port" --state-dir "$site/state" \
    2>"$site/exporter.err" &
  pids+=($!)
  cat >"$site/prometheus.yml" <<YAML
global:
  scrape_interval: 5s
  external_labels: {site: site$n}
scrape_configs:
  - job_name: zashchita
    static_configs: [{targets: ['127.0.0.1:$exporter_port']}]
remote_write:
  - url: http://127.0.0.1:$vm/api/v1/write
    queue_config: {batch_send_deadline: 1s}
YAML
  prometheus --enable-feature=agent --config.file="$site/prometheus.yml" --storage.agent.path="$site/wal" \
    --web.listen-address="127.0.0.1:$(free_port)" --log.level=error >"$site/prometheus.log" 2>&1 &
  pids+=($!)
done

query='zashchita_phase_current_ratio{relay="M1",phase="A"}'
for _ in $(seq 600); do
  [ "$(central "$query" | wc -l)" -ge "$sites" ] && break
  sleep 0.1
done
first=$(date +%s%N)
awk -v n="$sites" -v ns=$((first - started)) 'BEGIN { printf "%d site(s): every site'"'"'s M1 at the central store %.1f s after the start\n", n, ns / 1e9 }'
sleep "$seconds"
echo "$query at the central store, after ${seconds} s more:"
central "$query"
echo "samples of zashchita_relay_up in the last minute, by site:"
central 'sum by (site) (count_over_time(zashchita_relay_up[1m]))'
