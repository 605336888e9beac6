#!/usr/bin/env bash
# Installs what is missing, builds, then starts the tool or runs every test.
#   tools/dev.sh start [dorq-pulse options]
#   tools/dev.sh test
#   tools/dev.sh sanitize   the tests again, built with AddressSanitizer and UBSan
#   tools/dev.sh package    builds the .deb, checks it with lintian and appstreamcli, installs
#                           it and starts the installed tool
#   tools/dev.sh deps       only installs what is missing
#   tools/dev.sh windows    the Windows program, tested under Wine, its installer and ZIP
set -euo pipefail
cd "$(dirname "$0")/.."

# The Windows build has packages and a build tree of its own.
if [ "${1:-}" = windows ]; then
    exec tools/windows.sh
fi

# fonts-liberation2: the window's font, which the .deb depends on and the window tests expect;
# qt6-translations-l10n: Qt's own words in Dutch, a dependency of the .deb too; xvfb and
# xdotool: the test of held keys on a real X server.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          libgtest-dev googletest libbenchmark-dev libfuse3-dev fuse3 fonts-dejavu-core
          fonts-liberation2 qt6-translations-l10n xvfb xdotool dpkg-dev file)
# Debian's own checks of the .deb and its AppStream metadata; only packaging needs them.
if [ "${1:-}" = package ]; then
    packages+=(lintian appstream)
fi
tools/install-missing "${packages[@]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# One configuration for starting, testing and packaging, so that switching rebuilds nothing.
configure() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORQ_WERROR=ON >/dev/null
    cmake --build build
}

mode=${1:-}
shift || true
case "$mode" in
deps) ;;
start)
    configure
    exec ./build/dorq-pulse "$@"
    ;;
test)
    configure
    ctest --test-dir build --output-on-failure --timeout 300 -j2
    ;;
sanitize)
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORQ_WERROR=ON \
        -DDORQ_SANITIZE=ON >/dev/null
    cmake --build build-asan
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --test-dir build-asan --output-on-failure --timeout 300 -j2
    ;;
package)
    configure
    rm -f build/dorq-pulse_*.deb
    (cd build && cpack -G DEB >/dev/null)
    deb=$(ls build/dorq-pulse_*.deb)
    lintian --fail-on error "$deb"
    # The metadata as shipped, with the desktop entry its launchable names.
    unpacked=$(mktemp -d)
    dpkg-deb -x "$deb" "$unpacked"
    appstreamcli validate-tree --no-net --pedantic "$unpacked"
    rm -rf "$unpacked"
    echo "lintian and appstreamcli: no errors"
    $sudo dpkg -i "$deb"
    version=$(env -u DISPLAY dorq-pulse --version)
    echo "installed: $version"
    [ "$version" = "dorq-pulse 0.01" ]
    # The installed tool starts its window (offscreen here) and ends cleanly when told to.
    QT_QPA_PLATFORM=offscreen timeout --preserve-status -s TERM 2 dorq-pulse
    echo "installed tool started and quit cleanly"
    # And without a window or a display, as a script runs it.
    [ "$(echo quit | env -u DISPLAY dorq-pulse --headless --no-journal)" = ready ]
    echo "installed tool ran headless"
    ;;
*)
    echo "usage: $0 start [options] | test | sanitize | package | deps | windows" >&2
    exit 2
    ;;
esac
