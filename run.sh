#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts the relay simulator on a
# pseudo-terminal wired as COM1 and opens the window; closing the window stops
# the simulator. With no display it runs under Xvfb instead, opens COM1,
# visits every page and writes a picture of each into ./shots (or the folder
# named by ZASHCHITA_SHOTS), then exits.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/deps.sh

headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
fi
packages=("${ZASHCHITA_PACKAGES[@]}")
[ "$headless" = 1 ] && packages+=("${ZASHCHITA_DEMO_PACKAGES[@]}")
zashchita_install_missing "${packages[@]}"
zashchita_build build

work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The relay plays a motor start 25 s after it starts, for the trends.
build/tools/relay-sim/relay-sim --link "$work/COM1" --motor-start 25 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 50); do
  [ -s "$work/sim.out" ] && break
  sleep 0.1
done
pty=$(head -n 1 "$work/sim.out")
[ -n "$pty" ] || { echo "the relay simulator did not start" >&2; exit 1; }
export ZASHCHITA_COM1="$work/COM1"
echo "Relay simulator on $pty, wired as COM1 ($ZASHCHITA_COM1)"

if [ "$headless" = 1 ]; then
  shots=$(realpath -m "${ZASHCHITA_SHOTS:-shots}")
  tour=$PWD/build/tools/tour/zashchita-tour
  # The tour writes record 4's report; keep its TXT folder out of the tree.
  (cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" "$tour" "$shots")
  [ -f "$work/TXT/Protokol4.txt" ] && cp "$work/TXT/Protokol4.txt" "$shots/"
  echo "Pictures of every page, and record 4's report file, are in $shots"
else
  build/zashchita
fi
