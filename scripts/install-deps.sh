#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Glove Monitor need,
# and only those that are missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    liblo-dev liblo-tools python3
    librtmidi-dev libjack-jackd2-dev jackd2
    libgtest-dev
    clang libclang-rt-14-dev
    fonts-dejavu-core
    xvfb xdotool x11-utils xclip imagemagick inotify-tools
    dpkg-dev file lintian desktop-file-utils appstream man-db
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
# jackd2 asks whether to let JACK run at realtime priority; the tests need no such thing.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
