#!/usr/bin/env bash
# Installs what is missing, builds, then starts the tool or runs every test.
#   tools/dev.sh start [dorq-pulse options]
#   tools/dev.sh test
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          libgtest-dev googletest libbenchmark-dev fonts-dejavu-core)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

mode=${1:-}
shift || true
case "$mode" in
start)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build
    exec ./build/dorq-pulse "$@"
    ;;
test)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORQ_WERROR=ON >/dev/null
    cmake --build build
    ctest --test-dir build --output-on-failure --timeout 300 -j2
    ;;
*)
    echo "usage: $0 start [options] | test" >&2
    exit 2
    ;;
esac
