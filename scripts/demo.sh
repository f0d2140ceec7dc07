#!/usr/bin/env bash
# The main job on its built-in default. Installs, builds, runs.
#
# Starts the emulated DVR (dvrsim) on free loopback ports and points the
# headless client (dvrctl) at it: the DVR's settings and status, then the live
# stream one line a second (frames/s, Mbit/s, stream frame interval, channels),
# then a snapshot of the picture as the client shows it. DEMO_SECONDS sets how
# long the stream is watched (default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target dvrsim dvrctl

bin="build/release${RD_BUILD_SUFFIX:-}/bin"
out=build/demo
seconds="${DEMO_SECONDS:-10}"
mkdir -p "$out"
log="$out/dvrsim.out"

"$bin/dvrsim" --listen 127.0.0.1 --control-port 0 --stream-port 0 --quiet >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  grep -q 'dvrsim listening' "$log" && break
  kill -0 "$sim" 2>/dev/null || { cat "$log"; exit 1; }
  sleep 0.1
done
cport=$(sed -n 's/^dvrsim listening control=\([0-9]*\) stream=\([0-9]*\)$/\1/p' "$log")
sport=$(sed -n 's/^dvrsim listening control=\([0-9]*\) stream=\([0-9]*\)$/\2/p' "$log")
[ -n "$cport" ] && [ -n "$sport" ] || { echo "dvrsim did not start"; cat "$log"; exit 1; }

ctl=("$bin/dvrctl" --dvr 127.0.0.1 --password 123456 --control-port "$cport" --stream-port "$sport")
echo
echo "== emulated DVR on 127.0.0.1, control port $cport, stream port $sport"
echo "== dvrctl info"
"${ctl[@]}" info
echo
echo "== dvrctl watch --seconds $seconds"
"${ctl[@]}" watch --seconds "$seconds"
echo
echo "== dvrctl snapshot"
"${ctl[@]}" snapshot --frames 8 "$out/snapshot.bmp" >/dev/null
echo "Snapshot of the live picture: $(realpath "$out/snapshot.bmp")"
