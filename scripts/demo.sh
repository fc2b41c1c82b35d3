#!/usr/bin/env bash
# The main job without a phone or a sound card: a private PulseAudio server gets the KOVA
# device (`kova --install-device`), a generated piece of music with clicks plays into it, and
# `kova --kova-device` streams it to kova-phone standing in for an iPhone behind a private
# usbmux socket (the same path a real iPhone uses). Afterwards the phone's recording is
# compared with what was played. The user's own sound server is never touched.
# Usage: scripts/demo.sh [DEVICE_RATE]   (default 44100, so the converter is at work)
# KOVA_DEMO_SERVER=pipewire runs the same on a private PipeWire server.
set -euo pipefail
cd "$(dirname "$0")/.."

rate="${1:-44100}"
lead_in=3        # the monitor of a fresh sink may start up to 2 s late
seconds=15       # lead-in, about 9 s of music, and margin
out="$PWD/out/demo"
serial="KOVA-DEMO-00008030"

bash scripts/setup.sh
echo "demo: building kova, kova-phone and kova-demo-audio"
cmake -S . -B build -G Ninja > /dev/null
cmake --build build --target kova-cli kova-phone kova-demo-audio > out.build.log 2>&1 \
  || { cat out.build.log; exit 1; }
rm -f out.build.log
kova=build/tools/cli/kova
phone=build/tools/phone/kova-phone
audio=build/bench/kova-demo-audio

mkdir -p "$out"
rm -f "$out"/*
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2> /dev/null && wait "$pid" 2> /dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local tries=$(($1 * 20))
  shift
  for _ in $(seq "$tries"); do
    "$@" > /dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

# A sound server of the demo's own: its own runtime directory and socket, no sound card.
# KOVA_DEMO_SERVER=pipewire runs PipeWire with its pulse interface instead of PulseAudio.
pulse="$work/pulse"
mkdir -p "$pulse/home" "$pulse/config" "$pulse/runtime"
chmod 700 "$pulse/runtime"
server_env=(env -i PATH="$PATH" HOME="$pulse/home" XDG_RUNTIME_DIR="$pulse/runtime"
  XDG_CONFIG_HOME="$pulse/config")

start_pulseaudio() {
  echo "load-module module-native-protocol-unix auth-anonymous=1 socket=$pulse/native" \
    > "$pulse/default.pa"
  "${server_env[@]}" pulseaudio --daemonize=no --system=no --exit-idle-time=-1 \
    --use-pid-file=no --realtime=no --high-priority=no --disable-shm=yes \
    --log-target="file:$out/pulseaudio.log" -n -F "$pulse/default.pa" &
  pids+=($!)
  export PULSE_SERVER="unix:$pulse/native"
}

# No desktop session: a session bus of its own, then the graph, its session manager and the
# pulse interface.
start_pipewire() {
  local bus="$pulse/runtime/bus"
  server_env+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$bus")
  "${server_env[@]}" dbus-daemon --session --nofork --nopidfile --address="unix:path=$bus" \
    > "$out/dbus.log" 2>&1 &
  pids+=($!)
  wait_for 10 test -S "$bus" || { echo "demo: the session bus did not start"; exit 1; }
  "${server_env[@]}" pipewire > "$out/pipewire.log" 2>&1 &
  pids+=($!)
  wait_for 10 test -S "$pulse/runtime/pipewire-0" || { echo "demo: PipeWire did not start"; exit 1; }
  "${server_env[@]}" wireplumber > "$out/wireplumber.log" 2>&1 &
  pids+=($!)
  "${server_env[@]}" pipewire-pulse > "$out/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  export PULSE_SERVER="unix:$pulse/runtime/pulse/native"
}

case "${KOVA_DEMO_SERVER:-pulseaudio}" in
  pulseaudio) start_pulseaudio ;;
  pipewire) start_pipewire ;;
  *) echo "demo: KOVA_DEMO_SERVER is pulseaudio or pipewire"; exit 2 ;;
esac
wait_for 15 pactl info || { echo "demo: the private sound server did not start"; exit 1; }
echo "demo: private sound server at $PULSE_SERVER"
"$kova" --install-device --rate "$rate"

socket="$work/usbmuxd"
"$phone" --usbmux "$socket" --serial "$serial" --record "$out/received.wav" \
  --arrivals "$out/arrivals.txt" --sessions 1 > "$out/phone-summary.json" 2> "$out/phone.log" &
phone_pid=$!
pids+=("$phone_pid")
wait_for 5 test -S "$socket" || { echo "demo: the phone emulator did not start"; exit 1; }
export USBMUXD_SOCKET_ADDRESS="UNIX:$socket"

echo "demo: phones seen through the emulated usbmuxd:"
"$kova" --list
device="$("$kova" --list --json | grep -o '"path":"ios:[0-9a-f]*"' | head -n 1 | cut -d '"' -f 4)"

echo "demo: streaming the KOVA device to $device for $seconds s"
"$kova" --device "$device" --kova-device --seconds "$seconds" > "$out/report.json" &
kova_pid=$!
pids+=("$kova_pid")
"$audio" play --rate "$rate" --lead-in "$lead_in" --out "$out/played.json"
set +e
wait "$kova_pid"
code=$?
set -e
wait "$phone_pid" 2> /dev/null || true
if ((code != 0)); then
  echo "demo: kova failed (exit $code):"
  tail -n 1 "$out/report.json"
  exit "$code"
fi

set +e
"$audio" compare --played "$out/played.json" --recording "$out/received.wav" \
  --arrivals "$out/arrivals.txt" --report "$out/report.json" --phone "$out/phone-summary.json"
code=$?
echo "demo: kova's report in $out/report.json, the phone's recording in $out/received.wav"
exit "$code"
