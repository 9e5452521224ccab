#!/usr/bin/env bash
# Installs what the program needs on a Debian machine, fetches the libpd
# sources, then configures and builds everything into ./build.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"

packages=(build-essential cmake pkg-config dpkg-dev
          qtbase5-dev libqt5svg5-dev libboost-dev portaudio19-dev libsndfile1-dev libbenchmark-dev
          xvfb xauth xdotool x11-utils sox puredata-core clang libclang-rt-dev
          desktop-file-utils appstream zlib1g-dev librtmidi-dev jackd2)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

./scripts/fetch-libpd.sh "$here/build/_deps/puredata"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
