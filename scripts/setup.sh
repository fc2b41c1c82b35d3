#!/usr/bin/env bash
# Installs the Debian packages KOVA Connect builds, runs and tests with. Idempotent: only
# what is missing is installed. Needs root (or sudo) when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config binutils clang libclang-rt-14-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libusb-1.0-0-dev libplist-dev libsoxr-dev libpulse-dev libudev-dev libssl-dev
  qt6-base-dev pulseaudio pulseaudio-utils usbmuxd
  pipewire pipewire-pulse wireplumber dbus help2man file jq
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

sudo=""
if ((EUID != 0)); then
  sudo="sudo"
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
