#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the plain suite, the suite again
# under AddressSanitizer+UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, a soak of SOAK_MINUTES (default 3) on the emulated iPhone and of
# ANDROID_SOAK_MINUTES (default 0.5) on the fake USB bus, and each fuzz target for
# FUZZ_SECONDS (default 10).
# --quick runs the plain suite only.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[[ "${1:-}" == "--quick" ]] && quick=1
# CI gives each fuzz target a short run; longer campaigns use scripts/fuzz.sh directly.
fuzz_seconds="${FUZZ_SECONDS:-10}"
jobs="$(nproc)"

bash scripts/setup.sh

stage() { printf '\n=== %s\n' "$*"; }

# The system's usbmuxd with nothing attached, for the tests labelled usbmuxd (they skip, saying
# so, without it). It needs root; one that is already running is used and left alone.
usbmuxd_pid=""
start_usbmuxd() {
  if ((EUID != 0)) || ! command -v usbmuxd > /dev/null; then
    echo "usbmuxd: not started (needs root and the usbmuxd package)"
    return 0
  fi
  if [[ -f /var/run/usbmuxd.pid ]] && kill -0 "$(cat /var/run/usbmuxd.pid)" 2> /dev/null; then
    echo "usbmuxd: already running"
    return 0
  fi
  mkdir -p build
  usbmuxd --foreground --user root > build/usbmuxd.log 2>&1 &
  usbmuxd_pid=$!
  for _ in $(seq 50); do
    if grep -q "Initialization complete" build/usbmuxd.log; then
      export KOVA_TEST_RESTART_USBMUXD=1  # ours, so a test may restart it
      return 0
    fi
    kill -0 "$usbmuxd_pid" 2> /dev/null || break
    sleep 0.1
  done
  echo "usbmuxd: did not start:"
  cat build/usbmuxd.log
  stop_usbmuxd
}
stop_usbmuxd() {
  if [[ -n "$usbmuxd_pid" ]]; then
    # A test may have restarted the daemon; its pid file names the one running now.
    local current
    current=$(cat /var/run/usbmuxd.pid 2> /dev/null || true)
    if [[ -n "$current" && "$(cat "/proc/$current/comm" 2> /dev/null)" == usbmuxd ]]; then
      kill "$current" 2> /dev/null || true
    fi
    kill "$usbmuxd_pid" 2> /dev/null || true
    wait "$usbmuxd_pid" 2> /dev/null || true
    usbmuxd_pid=""
  fi
}
trap stop_usbmuxd EXIT
start_usbmuxd

# build DIR [CMAKE ARGS...] [--target TARGET]: configures DIR and builds all, or TARGET.
build() {
  local dir="$1"
  shift
  local args=() target=()
  while (($#)); do
    if [[ "$1" == "--target" ]]; then
      target=(--target "$2")
      shift 2
    else
      args+=("$1")
      shift
    fi
  done
  cmake -S . -B "$dir" -G Ninja "${args[@]}" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" "${target[@]}"
}

run_ctest() {
  local dir="$1"
  shift
  if ctest --test-dir "$dir" --output-on-failure --timeout 300 -j "$jobs" "$@"; then
    return 0
  fi
  # Tests against real audio servers and daemons share two cores with everything else: a
  # test that failed gets one more run on its own, and the log above keeps the first failure.
  echo "=== rerunning what failed in $dir once, alone"
  ctest --test-dir "$dir" --output-on-failure --timeout 300 --rerun-failed "$@"
}

# The Debian package from the plain build, installed, used from its installed paths and
# removed again without leaving anything behind. Installing needs root, so only CI does it.
package_check() {
  if ((EUID != 0)); then
    echo "package: skipped (installing it needs root)"
    return 0
  fi
  rm -f build/kova-connect_*.deb
  (cd build && cpack -G DEB > cpack.log 2>&1) || { cat build/cpack.log; return 1; }
  local deb
  deb="$(ls build/kova-connect_*.deb)"
  dpkg-deb -f "$deb" Depends
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb" > build/package-install.log 2>&1 ||
    { cat build/package-install.log; return 1; }
  dpkg -L kova-connect > build/package-files.txt
  local runtime
  runtime="$(mktemp -d)"
  /usr/bin/kova --help > /dev/null
  # Exit 1 only says something is missing here (no sound server, no phone); the document counts.
  local status=0
  /usr/bin/kova --doctor --json > build/package-doctor.json || status=$?
  ((status <= 1)) && jq -e '.checks | length > 0' build/package-doctor.json > /dev/null ||
    { echo "package: kova --doctor --json failed ($status)"; cat build/package-doctor.json; return 1; }
  XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen timeout 30 /usr/bin/kova-connect \
    --open-panel --snapshot "$runtime/panel.png" > /dev/null 2>&1 &
  local app=$!
  for _ in $(seq 100); do
    [[ -s "$runtime/panel.png" ]] && break
    sleep 0.1
  done
  kill "$app" 2> /dev/null || true
  wait "$app" 2> /dev/null || true
  [[ -s "$runtime/panel.png" ]] || { echo "package: kova-connect saved no snapshot"; return 1; }
  rm -rf "$runtime"
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -q kova-connect > build/package-remove.log 2>&1 ||
    { cat build/package-remove.log; return 1; }
  local left=0
  while IFS= read -r path; do
    if [[ -L "$path" || (-e "$path" && ! -d "$path") ]]; then
      echo "package: left behind: $path"
      left=1
    fi
  done < build/package-files.txt
  ((left == 0)) || return 1
  echo "package: $(basename "$deb") installed, used and removed without a trace"
}

# CI builds the tree four times on two cores, so every stage favours build time: light
# optimisation and line-table debug information, and clang for the sanitizers (it compiles
# the sanitized code about twice as fast as gcc).
light_flags="-O1 -g1"

stage "plain build and tests"
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$light_flags -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$light_flags -DNDEBUG"
run_ctest build
((quick)) && exit 0

stage "Debian package"
package_check

# The capture tests again on PipeWire: a private dbus-daemon, pipewire, wireplumber and
# pipewire-pulse per test, the KOVA sink made by the README's pipewire-pulse configuration.
stage "capture tests on PipeWire"
KOVA_TEST_AUDIO_SERVER=pipewire run_ctest build -L "audio|session|sink|doctor" \
  -R "DeviceCapture|DeviceApi|CaptureSession|KovaSink|SystemFacts"

# The main job as the README's quick start runs it, on both sound servers. A sound server
# starved by a busy machine can drop a moment of what is played before it reaches the device,
# which the demo reports as a mismatch, so a failed demo gets one more try.
run_demo() {
  local log="build/demo-$1.log"
  for attempt in 1 2; do
    if KOVA_DEMO_SERVER="$1" bash scripts/demo.sh > "$log" 2>&1; then
      tail -n 4 "$log"
      return 0
    fi
    echo "demo on $1, try $attempt failed:"
    tail -n 8 "$log"
  done
  return 1
}
stage "demo on PulseAudio and on PipeWire"
run_demo pulseaudio
run_demo pipewire

stage "soak, ${SOAK_MINUTES:-3} minute(s) on the iPhone, ${ANDROID_SOAK_MINUTES:-0.5} on Android"
build/bench/kova-soak --minutes "${SOAK_MINUTES:-3}"
build/bench/kova-soak --minutes "${ANDROID_SOAK_MINUTES:-0.5}" --android

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ build build-asan -DCMAKE_BUILD_TYPE=Debug -DKOVA_SANITIZE=address,undefined \
  -DKOVA_BENCH=OFF -DKOVA_SHELL=OFF "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O0 -g1"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build-asan

stage "ThreadSanitizer (threaded tests)"
CC=clang CXX=clang++ build build-tsan -DCMAKE_BUILD_TYPE=Debug -DKOVA_SANITIZE=thread \
  -DKOVA_BENCH=OFF -DKOVA_SHELL=OFF "-DCMAKE_CXX_FLAGS_DEBUG=$light_flags" \
  "-DCMAKE_C_FLAGS_DEBUG=$light_flags"
# ThreadSanitizer cannot map its shadow memory under full address-space randomisation.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" setarch "$(uname -m)" -R \
  ctest --test-dir build-tsan --output-on-failure --timeout 300 -j "$jobs" -L threaded

stage "fuzzing, ${fuzz_seconds}s per target"
CC=clang CXX=clang++ build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_FUZZ=ON \
  -DKOVA_TESTS=OFF -DKOVA_BENCH=OFF -DKOVA_SHELL=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$light_flags" \
  --target fuzz_targets
bash scripts/fuzz.sh "$fuzz_seconds" build-fuzz

stage "all stages passed"
