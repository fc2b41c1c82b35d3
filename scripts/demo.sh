#!/usr/bin/env bash
# The main job without a phone: kova-phone stands in for an iPhone behind a private usbmux
# socket, and kova streams to it through the same path a real iPhone uses (usbmuxd "Connect"
# to port 48000, the tunnel as the session's link). Usage: scripts/demo.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-5}"
out="$PWD/out/demo"
serial="KOVA-DEMO-00008030"

bash scripts/setup.sh
echo "demo: building kova and kova-phone"
cmake -S . -B build -G Ninja > /dev/null
cmake --build build --target kova-cli kova-phone > out.build.log 2>&1 || { cat out.build.log; exit 1; }
rm -f out.build.log

mkdir -p "$out"
work="$(mktemp -d)"
phone_pid=""
cleanup() {
  [[ -n "$phone_pid" ]] && kill "$phone_pid" 2> /dev/null && wait "$phone_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

socket="$work/usbmuxd"
build/tools/phone/kova-phone --usbmux "$socket" --serial "$serial" --record "$out/received.wav" \
  --sessions 1 > "$out/phone-summary.json" 2> "$out/phone.log" &
phone_pid=$!
for _ in $(seq 100); do
  [[ -S "$socket" ]] && break
  sleep 0.05
done
[[ -S "$socket" ]] || { echo "demo: the phone emulator did not start"; cat "$out/phone.log"; exit 1; }
export USBMUXD_SOCKET_ADDRESS="UNIX:$socket"

echo "demo: phones seen through the emulated usbmuxd:"
build/tools/cli/kova --list
device="$(build/tools/cli/kova --list --json | grep -o '"path":"ios:[0-9a-f]*"' | head -n 1 | cut -d '"' -f 4)"

echo "demo: streaming a test tone to $device for $seconds s"
set +e
build/tools/cli/kova --device "$device" --signal sine --seconds "$seconds" > "$out/report.json"
code=$?
set -e
wait "$phone_pid" 2> /dev/null || true
phone_pid=""

echo "demo: what the phone received:"
tail -n 1 "$out/phone-summary.json"
echo "demo: report in $out/report.json, the phone's recording in $out/received.wav"
exit "$code"
