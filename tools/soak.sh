#!/usr/bin/env bash
# A million presses on a pseudo-terminal whose far end checks every line.
#   tools/soak.sh [presses]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/dev.sh deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORQ_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench --target dorq-soak
exec build-bench/bench/soak/dorq-soak "$@"
