#!/usr/bin/env bash
# The Windows program, built on Debian: cross-compiles it with MinGW-w64 against the Qt for
# Windows in shared/toolchains, runs its tests under Wine, makes the installer and the ZIP,
# then installs the installer silently under Wine, checks the installed program and
# uninstalls it. Prints the time each stage took.
#   tools/windows.sh            (also: tools/dev.sh windows)
# Everything goes to build-windows/: the unpacked Qt, the build, the Wine prefix, the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
qt_archive=${DORQ_QT_ARCHIVE:-$root/../shared/toolchains/qt-6.4.2-mingw64.tar.xz}
# The Windows Qt comes from the shared toolchains beside the checkout; without it there is
# nothing to build against, and saying so beats failing half-way.
if [ ! -f "$qt_archive" ] && [ ! -f "$build/qt/qt-6.4.2-mingw64/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    echo "== Windows build SKIPPED: no Qt for Windows at $qt_archive (set DORQ_QT_ARCHIVE)" >&2
    exit 0
fi
qt=$build/qt/qt-6.4.2-mingw64

declare -a stage_names=() stage_seconds=()
stage_name="" stage_start=""
stage() {
    finish_stage
    stage_name=$1
    stage_start=$(date +%s.%N)
    echo "== $stage_name"
}
finish_stage() {
    [ -n "$stage_name" ] || return 0
    local seconds
    seconds=$(awk -v a="$stage_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    echo "== $stage_name: ${seconds} s"
    stage_names+=("$stage_name")
    stage_seconds+=("$seconds")
    stage_name=""
}

stage "install missing packages"
packages=(cmake ninja-build qt6-base-dev googletest g++-mingw-w64-x86-64-posix wine64 nsis xvfb
          icoutils zip unzip xz-utils librsvg2-bin netpbm qt6-translations-l10n
          libqt6serialport6 python3)
tools/install-missing "${packages[@]}"

stage "unpack Qt for Windows"
if [ ! -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    rm -rf "$build/qt"
    mkdir -p "$build/qt"
    tar -C "$build/qt" -xJf "$qt_archive"
else
    echo "already in $qt"
fi

# Wine: a prefix of our own, made without asking anything (no Mono or Gecko download, no menu
# entries on this machine), and an X display of our own, since Wine needs one for any window
# or event loop, Qt's offscreen platform included.
wine=/usr/lib/wine/wine64
export WINEPREFIX=$build/wine WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
xvfb_pid=""
cleanup() {
    [ -x /usr/lib/wine/wineserver ] && /usr/lib/wine/wineserver -k 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
start_display() {
    rm -f "$build/xvfb.display"
    mkdir -p "$build"
    Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$build/xvfb.display" \
        2>"$build/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$build/xvfb.display" ] && break
        sleep 0.1
    done
    [ -s "$build/xvfb.display" ] || { cat "$build/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$(cat "$build/xvfb.display")"
}

stage "configure"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORQ_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/wine-run" >/dev/null

stage "build"
cmake --build "$build"

stage "tests under Wine"
start_display
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init
    /usr/lib/wine/wineserver -w
fi
# One server for the whole run, so that each test does not start Wine from scratch.
/usr/lib/wine/wineserver -p
ctest --test-dir "$build" --output-on-failure --timeout 300 -j2

stage "headless run under Wine on a virtual cable"
# COM1 of the Wine prefix is the terminal end of a pty pair; the far end reads the other end
# and, told by SIGUSR1, stops the terminal's output as a mechanism that no longer takes lines
# would (SIGUSR2 starts it again). The link is made while the Wine server runs: a starting
# server writes its own links.
run=$build/headless
rm -rf "$run" && mkdir -p "$run"
python3 -c '
import os, pty, signal, sys, termios, tty
master, terminal = pty.openpty()
tty.setraw(terminal)
signal.signal(signal.SIGUSR1, lambda *_: termios.tcflow(terminal, termios.TCOOFF))
signal.signal(signal.SIGUSR2, lambda *_: termios.tcflow(terminal, termios.TCOON))
os.symlink(os.ttyname(terminal), sys.argv[1])
with open(sys.argv[2], "wb", buffering=0) as received:
    while True:
        received.write(os.read(master, 4096))
' "$run/plc" "$run/received" &
far_end=$!
for _ in $(seq 50); do [ -e "$run/plc" ] && break; sleep 0.1; done
plc=$(readlink -f "$run/plc")
ln -sfn "$plc" "$WINEPREFIX/dosdevices/com1"
appdata=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/dorq-pulse
rm -rf "$appdata"
# Commands through a fifo, answers to a file (a pipe would stay open in Wine's own
# processes), so that the line can be looked at while the port is open.
mkfifo "$run/commands"
"$wine" "$build/dorq-pulse.exe" --headless <"$run/commands" >"$run/answers" 2>"$run/errors" &
program=$!
exec 7>"$run/commands"
answered() {
    for _ in $(seq 100); do [ "$(grep -c "$1" "$run/answers")" -ge "${2:-1}" ] && return 0; sleep 0.1; done
    cat "$run/answers" "$run/errors" >&2
    exit 1
}
echo com1 >&7
answered '^ok PLC op COM1 9600,O,8,1'
settings=$(stty -F "$plc" -a)
grep -q 'speed 9600 baud' <<<"$settings" && grep -q ' parodd' <<<"$settings" ||
    { echo "COM1 is not at 9600 baud with odd parity requested: $settings" >&2; exit 1; }
printf '1\n5\n8\n' >&7
answered '^sent 8 '
# Presses the system does not take are answered as not sent, and never reach the far end
# later, once it takes lines again.
kill -USR1 "$far_end"
sleep 0.3
printf '3\n3\n3\n' >&7
answered '^error 258: .*deze regel is niet verzonden' 3
kill -USR2 "$far_end"
printf '4\nquit\n' >&7
exec 7>&-
status=0
wait "$program" || status=$?
# Wine's server keeps the cable as its terminal: stop it before the cable goes.
/usr/lib/wine/wineserver -k || true
sleep 0.5
kill "$far_end" 2>/dev/null || true
tr -d '\r' <"$run/answers" | tee "$run/answers.txt" | cut -c1-120
[ "$status" -eq 1 ] || { echo "headless run with lines not sent ended with $status, not 1" >&2; exit 1; }
sed -n 's/^sent \(.*\)$/\1\r/p' "$run/answers.txt" >"$run/expected"
[ "$(wc -l <"$run/expected")" -eq 4 ] || { echo "not four lines answered sent" >&2; exit 1; }
ls "$appdata"/journal-*.csv >/dev/null || { echo "no journal in $appdata" >&2; exit 1; }
# Wine hands the first line the terminal does not take to a write() that blocks in the
# kernel, where cancelling it cannot reach: that line leaves once the terminal takes lines
# again (Windows' own driver ends a cancelled write for good). The lines refused after it
# never may: a queue in the program would send them all.
first_refused=$(awk -F, '$8 ~ /^error 258:/ { print $5; exit }' "$appdata"/journal-*.csv)
{ head -3 "$run/expected"; printf '%s\r\n' "$first_refused"; tail -1 "$run/expected"; } \
    >"$run/expected-under-wine"
if cmp -s "$run/expected" "$run/received"; then
    echo "the far end got exactly the lines answered sent"
elif cmp -s "$run/expected-under-wine" "$run/received"; then
    echo "the far end got the lines answered sent and the first refused, held by Wine's write"
else
    echo "the far end got other bytes:" >&2
    cat -A "$run/received" >&2
    exit 1
fi
echo "no other refused line reached it; 9600 baud with odd parity requested"

stage "package"
rm -f "$build"/dorq-pulse-*-win64.exe "$build"/dorq-pulse-*-win64.zip
(cd "$build" && cpack >/dev/null)
installer=$(ls "$build"/dorq-pulse-*-win64.exe)
zip=$(ls "$build"/dorq-pulse-*-win64.zip)
ls -l "$installer" "$zip"
zipped=$(unzip -l "$zip")
for file in bin/Qt-LGPL-3.0.txt bin/Qt-qtbase-copyright.txt bin/translations/qtbase_nl.qm; do
    grep -q "/$file\$" <<<"$zipped" || { echo "the ZIP lacks $file" >&2; exit 1; }
done
[ "$(wrestool -x --raw -t 16 "$installer" | strings -el | grep -A1 -x ProductVersion | sed -n 2p)" = 0.01 ] ||
    { echo "the installer's own version is not 0.01" >&2; exit 1; }

stage "install and uninstall under Wine"
target='C:\dorq-pulse-check'
installed=$WINEPREFIX/drive_c/dorq-pulse-check
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/DORQ PLC Pulse"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\dorq-pulse'
fail() { echo "$*" >&2; exit 1; }
registry_value() {
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
registry_has() { "$wine" reg query "$1" >/dev/null 2>&1; }
rm -rf "$installed" "$menu" # left by a run that stopped half-way
"$wine" "$installer" /S "/D=$target"
[ -f "$installed/bin/dorq-pulse.exe" ] || { echo "installer put no program in $target" >&2; exit 1; }
echo "installed in $target: $(cd "$installed" && find . -type f | sort | tr '\n' ' ')"
for entry in "DORQ PLC Pulse" "DORQ PLC Pulse verwijderen"; do
    [ -f "$menu/$entry.lnk" ] || fail "no Start menu entry \"$entry\" in $menu"
done
[ ! -e "$menu/Uninstall.lnk" ] || fail "an English Start menu entry in $menu"
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' "$installed/bin/Qt-LGPL-3.0.txt" ||
    fail "no LGPL text beside the Qt DLLs"
[ -s "$installed/bin/Qt-qtbase-copyright.txt" ] || fail "no Qt notices beside the Qt DLLs"
[ -s "$installed/bin/translations/qtbase_nl.qm" ] || fail "no Dutch translation of Qt"
exe=$installed/bin/dorq-pulse.exe
manifest=$(wrestool -x --raw -t 24 "$exe")
for wanted in '>PerMonitorV2</dpiAwareness>' 'level="asInvoker"' '<supportedOS Id='; do
    grep -qF "$wanted" <<<"$manifest" || fail "the program's manifest lacks $wanted"
done
version_texts=$(wrestool -x --raw -t 16 "$exe" | strings -el)
version_text() { grep -A1 -x "$1" <<<"$version_texts" | sed -n 2p; }
[ "$(version_text FileVersion)" = 0.01 ] && [ "$(version_text ProductVersion)" = 0.01 ] &&
    [ "$(version_text CompanyName)" = DORQ ] && [ "$(version_text OriginalFilename)" = dorq-pulse.exe ] &&
    [ -n "$(version_text LegalCopyright)" ] || fail "the program's version resource: $version_texts"
wrestool -x -t 14 "$exe" >"$build/installed.ico"
icon_images=$(icotool -l "$build/installed.ico")
for size in 16 24 32 48 64 256; do
    grep -q -- "--width=$size --height=$size" <<<"$icon_images" ||
        fail "the program's icon has no $size pixel image"
done
[ "$(registry_value "$uninstall_key" DisplayVersion)" = 0.01 ] || fail "uninstall entry: not 0.01"
[ "$(registry_value "$uninstall_key" InstallLocation)" = "$target" ] ||
    fail "uninstall entry: no InstallLocation"
[ -n "$(registry_value "$uninstall_key" EstimatedSize)" ] || fail "uninstall entry: no EstimatedSize"
if [ -f docs/handleiding.html ]; then
    [ -f "$installed/doc/handleiding.html" ] || fail "the guide is not installed"
    [ "$(registry_value "$uninstall_key" HelpLink)" = "$target\\doc\\handleiding.html" ] ||
        fail "uninstall entry: no HelpLink to the guide"
fi
echo "installed: Qt's licences and notices, the manifest, version 0.01 from DORQ, a 256 pixel" \
     "icon, the uninstall entry, Dutch Start menu entries"
# Only what the installer put there: no Qt or runtime from the build tree or the environment.
unset QT_PLUGIN_PATH QT_QPA_PLATFORM QT_QPA_PLATFORM_PLUGIN_PATH
version=$(tools/wine-run "$build/std_handles.exe" "$target\\bin\\dorq-pulse.exe" --version)
echo "installed --version: $version"
[ "$version" = "dorq-pulse 0.01" ]
# The window comes up on Windows' own platform and closes cleanly when asked to, as by the
# operator. A missing platform plugin would show Qt's error box instead and exit non-zero.
timeout 60 "$wine" "$target\\bin\\dorq-pulse.exe" >"$build/installed-run.log" 2>&1 &
program=$!
sleep 3
for _ in $(seq 30); do
    "$wine" taskkill /im dorq-pulse.exe >/dev/null 2>&1 || true
    sleep 1
    kill -0 "$program" 2>/dev/null || break
done
status=0
wait "$program" || status=$?
[ "$status" -eq 0 ] || { echo "installed program ended with $status" >&2; exit 1; }
echo "installed program started and closed cleanly"
# What the program itself kept for the user must be there, or the check after proves nothing.
registry_has 'HKCU\Software\dorq-pulse' || fail "the program remembered nothing in the registry"
"$wine" "$target\\Uninstall.exe" /S
# The uninstaller runs from a copy of itself in the temporary folder, so that it can delete
# the original: it returns at once and works on.
left_behind() {
    [ -e "$installed/bin/dorq-pulse.exe" ] && echo "$installed/bin/dorq-pulse.exe"
    [ -e "$menu" ] && echo "$menu"
    for key in "$uninstall_key" 'HKLM\Software\DORQ' 'HKCU\Software\dorq-pulse'; do
        registry_has "$key" && echo "$key"
    done
    return 0
}
for _ in $(seq 60); do
    [ -z "$(left_behind)" ] && break
    sleep 0.5
done
[ -z "$(left_behind)" ] || fail "the uninstaller left $(left_behind)"
ls "$appdata"/journal-*.csv >/dev/null || fail "the uninstaller took the journals in $appdata"
echo "uninstalled: $target, its Start menu entries and registry keys are gone, the journals stay"
finish_stage

echo "Times on this machine:"
for i in "${!stage_names[@]}"; do
    printf '  %-36s %7s s\n' "${stage_names[$i]}" "${stage_seconds[$i]}"
done
