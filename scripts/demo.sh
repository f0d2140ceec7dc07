#!/usr/bin/env bash
# The main job on its built-in default. Installs, builds, runs.
#
# Starts the emulated DVR (dvrsim) on free loopback ports and the client
# window (rdclient --connect) against it: live video of the four cameras, the
# DVR's state, the connection panel. On a desktop the window opens and the
# demo ends when it is closed. Without a display the window runs on a virtual
# one (Xvfb) for DEMO_SECONDS (default 10) and a PNG screenshot of it is saved
# (the path is printed). The headless client dvrctl does the same without a
# window (see README).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target dvrsim rdclient

bin="build/release${RD_BUILD_SUFFIX:-}/bin"
out=build/demo
seconds="${DEMO_SECONDS:-10}"
mkdir -p "$out"
log="$out/dvrsim.out"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

"$bin/dvrsim" --listen 127.0.0.1 --control-port 0 --stream-port 0 --quiet >"$log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  grep -q 'dvrsim listening' "$log" && break
  kill -0 "${pids[0]}" 2>/dev/null || { cat "$log"; exit 1; }
  sleep 0.1
done
cport=$(sed -n 's/^dvrsim listening control=\([0-9]*\) stream=\([0-9]*\)$/\1/p' "$log")
sport=$(sed -n 's/^dvrsim listening control=\([0-9]*\) stream=\([0-9]*\)$/\2/p' "$log")
[ -n "$cport" ] && [ -n "$sport" ] || { echo "dvrsim did not start"; cat "$log"; exit 1; }
echo "== emulated DVR on 127.0.0.1, control port $cport, stream port $sport, password 123456"

client=("$bin/rdclient" --connect 127.0.0.1 --password 123456 --control-port "$cport"
        --stream-port "$sport")

if [ -n "${DISPLAY:-}" ] && xwininfo -root >/dev/null 2>&1; then
  echo "== rdclient: the window is open; close it to end the demo"
  "${client[@]}"
  exit 0
fi

# No display: a virtual one.
rm -f "$out/xvfb.display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$out/xvfb.display" 2>/dev/null &
pids+=($!)
for _ in $(seq 1 100); do
  [ -s "$out/xvfb.display" ] && break
  sleep 0.1
done
number=$(head -n1 "$out/xvfb.display")
[ -n "$number" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$number"
uilog="$out/ui.log"
rm -f "$uilog"
RD_UI_LOG="$uilog" "${client[@]}" >"$out/rdclient.out" 2>&1 &
client_pid=$!
pids+=("$client_pid")
echo "== rdclient on the virtual display $DISPLAY for $seconds seconds"
for _ in $(seq 1 100); do
  grep -q '^window	open	Tessaro' "$uilog" 2>/dev/null && break
  kill -0 "$client_pid" 2>/dev/null || { cat "$out/rdclient.out"; exit 1; }
  sleep 0.1
done
sleep "$seconds"
window=$(xwininfo -name "Tessaro 6.4" | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
shot="$out/rdclient.png"
if [ -n "$window" ]; then import -window "$window" "$shot"; else import -window root "$shot"; fi
kill -TERM "$client_pid"
wait "$client_pid" || true
echo "Screenshot of the client window: $(realpath "$shot")"
