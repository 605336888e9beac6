#!/usr/bin/env bash
# Installs what is missing, builds, then starts the tool or runs every test.
#   tools/dev.sh start [dorq-pulse options]
#   tools/dev.sh test       as root: as the ordinary user dorq-test in a copy of the tree
#                           under /var/tmp/dorq-test; the tests labelled root then as root
#   tools/dev.sh sanitize   the tests again, built with AddressSanitizer and UBSan
#       test --repeat N, sanitize --repeat N: built once, the whole suite N times in a row
#   tools/dev.sh realport   the headless tool on real kernel drivers in a QEMU guest
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
# xdotool: the test of held keys on a real X server; xauth: xvfb-run, for a window without a
# display; socat: the virtual cable of the README; faketime: a wall clock that stands still,
# for the headless start-up test.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
          libgtest-dev googletest libbenchmark-dev libfuse3-dev fuse3 fonts-dejavu-core
          fonts-liberation2 qt6-translations-l10n xvfb xauth xdotool dpkg-dev file socat
          ccache faketime)
# Debian's own checks of the .deb and its AppStream metadata; only packaging needs them.
if [ "${1:-}" = package ]; then
    packages+=(lintian appstream)
fi
tools/install-missing "${packages[@]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# One configuration for starting, testing and packaging, so that switching rebuilds nothing.
# ccache is keyed on paths within the tree, so that a copy elsewhere hits what this one built.
release=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDORQ_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
sanitized=(-DCMAKE_BUILD_TYPE=Debug -DDORQ_WERROR=ON -DDORQ_SANITIZE=ON
           -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
build() { # directory, cmake options, then optionally -- and the targets
    local dir=$1 options=() targets=()
    shift
    while (($#)) && [ "$1" != -- ]; do options+=("$1"); shift; done
    (($#)) && shift && targets=(--target "$@")
    echo "building in $PWD/$dir"
    cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
    CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 cmake --build "$dir" "${targets[@]}"
}
if [ "$(id -u)" -eq 0 ]; then
    # Root's cache, in a place only root can make, which the test user only reads.
    export CCACHE_DIR=/var/cache/dorq-pulse/ccache CCACHE_UMASK=022
    install -d -m 755 "$CCACHE_DIR"
fi
configure() { build build "${release[@]}"; }

# The tests run as an ordinary user: root passes file modes and exclusive locks that stop
# everyone else, and would hide what a user meets. Only those labelled root run as root.
tester=dorq-test
home=/var/tmp/$tester # every folder on the way open to all, so that uid 65534 reaches it too
tests_at="" # the build folder the tests run in
# Builds the tests: in place for a user; for root, as the test user in a copy of the tree.
build_tests() { # build directory, cmake options
    local dir=$1
    shift
    if [ "$(id -u)" -ne 0 ]; then
        build "$dir" "$@"
        tests_at=$PWD/$dir
        return
    fi
    id -u "$tester" >/dev/null 2>&1 ||
        useradd --system --user-group --home-dir "$home" --shell /usr/sbin/nologin "$tester"
    install -d -m 755 -o "$tester" -g "$tester" "$home" "$home/ccache-tmp"
    # The tree afresh, with its times kept so that only what changed is rebuilt; the build
    # folders inside it are the test user's.
    install -d -m 755 "$home/tree"
    find "$home/tree" -mindepth 1 -maxdepth 1 ! -name 'build*' -exec rm -rf {} +
    tar -C . --exclude=./.git --exclude='./build*' -cf - . | tar -C "$home/tree" -xf -
    chmod -R a+rX "$home/tree"
    install -d -m 755 -o "$tester" -g "$tester" "$home/tree/$dir"
    echo "as the ordinary user $tester in $home/tree"
    (cd "$home/tree" && as_tester CCACHE_READONLY=1 CCACHE_TEMPDIR="$home/ccache-tmp" \
        bash -c "set -euo pipefail; $(declare -f build); build $dir $*")
    tests_at=$home/tree/$dir
}
as_tester() { # environment settings, command...
    runuser -u "$tester" -- env -u XDG_RUNTIME_DIR HOME="$home" "$@"
}
# Both parts, the second also when the first failed; says how each went. Status 1 when
# either failed or could not run.
test_round() { # ctest options...
    local ctest=(ctest --test-dir "$tests_at" --timeout 300 "$@") user=0 root=0
    if [ "$(id -u)" -ne 0 ]; then
        "${ctest[@]}" -j2 -LE root || user=1
        echo "the tests labelled root, as root (sudo -n)"
        if ! sudo -n true 2>/dev/null; then
            echo "not run: sudo asks for a password; run sudo -v, then this command again" >&2
            root=2
        else
            sudo -n --preserve-env=ASAN_OPTIONS,UBSAN_OPTIONS "${ctest[@]}" -L root || root=1
            sudo -n chown -R "$(id -u):$(id -g)" "$tests_at/Testing"
        fi
    else
        as_tester "${ctest[@]}" -j2 -LE root || user=1
        echo "the tests labelled root, as root"
        "${ctest[@]}" -L root || root=1
        chown -R "$tester:$tester" "$tests_at/Testing"
    fi
    local words=(passed failed "not run")
    echo "ordinary user: ${words[$user]}; root: ${words[$root]}"
    ((user == 0 && root == 0))
}
# The whole suite `rounds` times on one build: a line per round, each round's output in the
# build folder, and how many passed.
run_tests() { # rounds, build directory, cmake options; ASAN_OPTIONS and UBSAN_OPTIONS pass
    local rounds=$1
    shift
    build_tests "$@"
    if ((rounds == 1)); then
        test_round --output-on-failure
        return
    fi
    local passed=0 round log started
    if [ "$(id -u)" -eq 0 ]; then
        install -d -o "$tester" -g "$tester" "$tests_at/Testing"
    else
        mkdir -p "$tests_at/Testing"
    fi
    for ((round = 1; round <= rounds; round++)); do
        log=$tests_at/Testing/round-$round.log
        started=$SECONDS
        if test_round --output-on-failure >"$log" 2>&1; then
            ((++passed))
            echo "round $round/$rounds: passed ($((SECONDS - started)) s)"
        else
            echo "round $round/$rounds: FAILED ($((SECONDS - started)) s): $(tail -n 1 "$log")," \
                 "output in $log"
            grep -E '^[[:space:]]+[0-9]+ - ' "$log" | sed 's/^[[:space:]]*/    /' || true
        fi
    done
    echo "$passed/$rounds passed"
    ((passed == rounds))
}

mode=${1:-}
shift || true
case "$mode" in
deps) ;;
start)
    # Only what it starts; and the window needs a display, which is said before building.
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
        echo "no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset): the window" \
             "cannot start here. Once this has built it, use one of" >&2
        echo "  xvfb-run -a tools/dev.sh start         on a virtual X display" >&2
        echo "  QT_QPA_PLATFORM=vnc build/dorq-pulse   for a VNC viewer on port 5900" >&2
        echo "  build/dorq-pulse --headless            without a window" >&2
        build build "${release[@]}" -- dorq-pulse
        exit 2
    fi
    build build "${release[@]}" -- dorq-pulse
    exec ./build/dorq-pulse "$@"
    ;;
test | sanitize)
    rounds=1
    if [ "${1:-}" = --repeat ]; then
        rounds=${2:-}
        [[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 $mode [--repeat N]" >&2; exit 2; }
    fi
    if [ "$mode" = test ]; then
        run_tests "$rounds" build "${release[@]}"
    else
        export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1
        run_tests "$rounds" build-asan "${sanitized[@]}"
    fi
    ;;
realport)
    configure
    exec tools/realport.sh build
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
    echo "usage: $0 start [options] | test | sanitize | realport | package | deps | windows" >&2
    exit 2
    ;;
esac
