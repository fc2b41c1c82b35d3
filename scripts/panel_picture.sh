#!/usr/bin/env bash
# Draws the README's picture of the panel with the application's own --snapshot, while it
# streams to kova-phone posing as an iPhone, from a private audio server that plays a tone into
# the KOVA device. Nothing touches the desktop's own sound or settings.
# Usage: scripts/panel_picture.sh [OUTPUT.png]   (default docs/panel.png)
set -euo pipefail
cd "$(dirname "$0")/.."

output="$(realpath -m "${1:-docs/panel.png}")"
build="${BUILD_DIR:-build}"

cmake -S . -B "$build" -G Ninja > /dev/null
cmake --build "$build" --target kova-phone kova-connect > "$build/panel_picture.log" 2>&1 ||
  { cat "$build/panel_picture.log"; exit 1; }

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The private audio server with the KOVA sink.
mkdir -p "$work/home" "$work/runtime" "$work/config"
chmod 700 "$work/runtime"
cat > "$work/default.pa" << PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/native
load-module module-null-sink sink_name=com.brenvale.kova.device sink_properties=device.description=KOVA format=float32le channels=2 rate=48000
PA
HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" \
  pulseaudio --daemonize=no --system=no --exit-idle-time=-1 --use-pid-file=no --realtime=no \
  --high-priority=no --disable-shm=yes --log-target=file:"$work/pulse.log" -n -F "$work/default.pa" &
pids+=($!)
export PULSE_SERVER="unix:$work/native"
for _ in $(seq 100); do
  pactl info > /dev/null 2>&1 && break
  sleep 0.1
done
pactl info > /dev/null 2>&1 || { echo "panel_picture: no audio server"; cat "$work/pulse.log"; exit 1; }

# A quiet 440 Hz tone, so the meter shows a level.
perl -e '$|=1; for (;;) { for $i (0..47999) { $v = 0.3 * sin(6.283185307 * 440 * $i / 48000);
  print pack("f<f<", $v, $v) } }' |
  pacat --playback --device=com.brenvale.kova.device --format=float32le --rate=48000 \
    --channels=2 2> /dev/null &
pids+=($!)

# The emulated iPhone behind its own usbmux socket.
"$build/tools/phone/kova-phone" --usbmux "$work/usbmuxd" --serial KOVA-PICTURE-00008030 \
  --status-interval-ms 200 > "$work/phone.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [[ -S "$work/usbmuxd" ]] && break
  sleep 0.05
done
export USBMUXD_SOCKET_ADDRESS="UNIX:$work/usbmuxd"

# The application with settings of its own; the picture is taken once it streams.
mkdir -p "$(dirname "$output")"
rm -f "$output"
XDG_CONFIG_HOME="$work/app-config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
  "$build/app/shell/kova-connect" --snapshot "$output" --snapshot-delay 5000 &
app=$!
pids+=("$app")
for _ in $(seq 300); do
  [[ -f "$output" ]] && break
  kill -0 "$app" 2> /dev/null || break
  sleep 0.1
done
[[ -f "$output" ]] || { echo "panel_picture: no snapshot"; exit 1; }
echo "panel_picture: wrote $output"
