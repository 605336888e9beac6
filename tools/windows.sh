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
    # Gone for good before the next run starts its own.
    [ -x /usr/lib/wine/wineserver ] && { /usr/lib/wine/wineserver -k; /usr/lib/wine/wineserver -w; } \
        2>/dev/null || true
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
# The check of the installer's last page is a Windows program of its own.
[ "$build/finish_page.exe" -nt tools/finish_page.cpp ] ||
    x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -Wall -Wextra -Wpedantic -Wshadow -Werror -static \
        -s -o "$build/finish_page.exe" tools/finish_page.cpp

stage "tests under Wine"
start_display
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init
    /usr/lib/wine/wineserver -w
fi
# One server for the whole run, so that each test does not start Wine from scratch.
/usr/lib/wine/wineserver -p
ctest --test-dir "$build" --output-on-failure --timeout 300 -j2

stage "console program on a virtual cable"
# COM1 of the Wine prefix is the terminal end of a pty pair; the far end reads the other end
# and, told by SIGUSR1, stops the terminal's output as a mechanism that no longer takes lines
# would (SIGUSR2 starts it again); a file says when it has. The link is made while the Wine
# server runs: a starting server writes its own links.
run=$build/headless
rm -rf "$run" && mkdir -p "$run"
python3 -c '
import os, pty, signal, sys, termios, tty
master, terminal = pty.openpty()
tty.setraw(terminal)
def flow(action, state):
    termios.tcflow(terminal, action)
    open(os.path.join(sys.argv[3], state), "w").close()
signal.signal(signal.SIGUSR1, lambda *_: flow(termios.TCOOFF, "stopped"))
signal.signal(signal.SIGUSR2, lambda *_: flow(termios.TCOON, "reading"))
os.symlink(os.ttyname(terminal), sys.argv[1])
with open(sys.argv[2], "wb", buffering=0) as received:
    while True:
        received.write(os.read(master, 4096))
' "$run/plc" "$run/received" "$run" &
far_end=$!
for _ in $(seq 50); do [ -e "$run/plc" ] && break; sleep 0.1; done
plc=$(readlink -f "$run/plc")
ln -sfn "$plc" "$WINEPREFIX/dosdevices/com1"
appdata=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/dorq-pulse
rm -rf "$appdata"
fail() { echo "$*" >&2; exit 1; }
appeared() { for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done; fail "no $1"; }
answered() { # pattern, count, answers file
    for _ in $(seq 100); do [ "$(grep -c "$1" "$3")" -ge "$2" ] && return 0; sleep 0.1; done
    cat "$3" "$run/errors" >&2
    fail "no $2 answers $1"
}
# 1. Commands from a pipe, as a script gives them; the console the program shares then gets
# Ctrl+C, with the pipe still open. Answers go to a file: a pipe would stay open in Wine's
# own processes.
mkfifo "$run/commands"
"$wine" "$build/std_handles.exe" --ctrl-c "Z:$run/ctrl-c" "$build/dorq-pulse.com" --headless \
    <"$run/commands" >"$run/answers" 2>"$run/errors" &
program=$!
exec 7>"$run/commands"
echo com1 >&7
answered '^ok PLC op COM1 9600,O,8,1' 1 "$run/answers"
settings=$(stty -F "$plc" -a)
grep -q 'speed 9600 baud' <<<"$settings" && grep -q ' parodd' <<<"$settings" ||
    fail "COM1 is not at 9600 baud with odd parity requested: $settings"
printf '1\n5\n8\n' >&7
answered '^sent 8 ' 1 "$run/answers"
# Presses the system does not take are answered as not sent, and never reach the far end
# later, once it takes lines again: not with the port's watch, every half second, nor before
# the next press.
kill -USR1 "$far_end"
appeared "$run/stopped"
printf '3\n3\n3\n' >&7
answered '^error 258: .*deze regel is niet verzonden' 3 "$run/answers"
kill -USR2 "$far_end"
appeared "$run/reading"
sleep 1.5
printf '4\n6\n' >&7
answered '^sent 6 ' 1 "$run/answers"
sent_bytes=$(($(grep -c '^sent ' "$run/answers") * 16))
for _ in $(seq 100); do [ "$(stat -c %s "$run/received")" -ge "$sent_bytes" ] && break; sleep 0.1; done
touch "$run/ctrl-c"
status=0
wait "$program" || status=$?
exec 7>&-
[ "$status" -eq 1 ] || fail "Ctrl+C after lines not sent ended the run with $status, not 1"
ls "$appdata"/journal-*.csv >/dev/null || fail "no journal in $appdata"
[ "$(grep -c ',COM1,COM1,' "$appdata"/journal-*.csv)" -eq 8 ] ||
    fail "the journal does not hold the eight presses: $(cat "$appdata"/journal-*.csv)"
echo "from a pipe: answered, ended by Ctrl+C with status 1, every press journaled"
# 2. Commands from a file, in cmd, which finds the console program for "dorq-pulse" on PATH
# and waits for it (a program with a window it would leave running, status 0). A pty has no
# parity and keeps the last settings: asked for odd parity again with PARODD still set, Linux
# says EINVAL, so the line starts as a fresh one would.
stty -F "$plc" -parodd
printf 'com1\r\n2\r\n7\r\ncom2\r\nquit\r\n' >"$run/commands.txt"
printf '%s\r\n' "set PATH=Z:${build//\//\\};%PATH%" "cd /d Z:${run//\//\\}" \
    'dorq-pulse --headless < commands.txt > answers-file.txt 2> errors-file.txt' \
    'echo %ERRORLEVEL%> status.txt' exit >"$run/cmd.txt"
"$wine" cmd <"$run/cmd.txt" >/dev/null
status=$(tr -d '\r\n' <"$run/status.txt")
[ "$status" = 1 ] || fail "cmd saw status $status after a failed selection, not 1"
tr -d '\r' <"$run/answers-file.txt" >"$run/answers-file"
[ "$(cut -d' ' -f1 "$run/answers-file" | tr '\n' ' ')" = "ready ok sent sent error " ] ||
    fail "from a file: $(cat "$run/answers-file")"
echo "from a file, in cmd: answered, status 1 after the failed selection"
# Wine's server keeps the cable as its terminal: stop it before the cable goes.
/usr/lib/wine/wineserver -k || true
sleep 0.5
kill "$far_end" 2>/dev/null || true
tr -d '\r' <"$run/answers" | cat - "$run/answers-file" | tee "$run/answers.txt" | cut -c1-120
sed -n 's/^sent \(.*\)$/\1\r/p' "$run/answers.txt" >"$run/expected"
[ "$(wc -l <"$run/expected")" -eq 7 ] || fail "not seven lines answered sent"
cmp -s "$run/expected" "$run/received" || {
    echo "the far end got other bytes than the lines answered sent:" >&2
    cat -A "$run/received" >&2
    exit 1
}
echo "the far end got exactly the lines answered sent, none refused; 9600 baud with odd" \
     "parity requested"

stage "package"
rm -f "$build"/dorq-pulse-*-win64.exe "$build"/dorq-pulse-*-win64.zip
(cd "$build" && cpack >/dev/null)
installer=$(ls "$build"/dorq-pulse-*-win64.exe)
zip=$(ls "$build"/dorq-pulse-*-win64.zip)
ls -l "$installer" "$zip"
# The ZIP opens on LEESMIJ.txt and the two programs, with what they need beside them.
zipped=$(unzip -Z1 "$zip")
for file in LEESMIJ.txt dorq-pulse.exe dorq-pulse.com Qt6Core.dll platforms/qwindows.dll \
            styles/qwindowsvistastyle.dll translations/qtbase_nl.qm Qt-LGPL-3.0.txt \
            Qt-qtbase-copyright.txt doc/handleiding.html; do
    grep -qxF "$file" <<<"$zipped" || fail "the ZIP lacks $file at its top"
done
for program in 'dorq-pulse.exe' 'dorq-pulse.com' 'dorq-pulse --headless'; do
    unzip -p "$zip" LEESMIJ.txt | grep -qF "$program" || fail "LEESMIJ.txt does not name $program"
done
[ "$(wrestool -x --raw -t 16 "$installer" | strings -el | grep -A1 -x ProductVersion | sed -n 2p)" = 0.01 ] ||
    { echo "the installer's own version is not 0.01" >&2; exit 1; }

stage "install and uninstall under Wine"
target='C:\dorq-pulse-check'
installed=$WINEPREFIX/drive_c/dorq-pulse-check
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/DORQ PLC Pulse"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\dorq-pulse'
registry_value() {
    "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
registry_has() { "$wine" reg query "$1" >/dev/null 2>&1; }
rm -rf "$installed" "$menu" # left by a run that stopped half-way
# The uninstaller runs from a copy of itself in the temporary folder, so that it can delete
# the original: it returns at once and works on.
left_behind() {
    for file in dorq-pulse.exe dorq-pulse.com; do
        [ -e "$installed/$file" ] && echo "$installed/$file"
    done
    [ -e "$menu" ] && echo "$menu"
    for key in "$uninstall_key" 'HKLM\Software\DORQ' 'HKCU\Software\dorq-pulse'; do
        registry_has "$key" && echo "$key"
    done
    return 0
}
uninstall() {
    "$wine" "$target\\Uninstall.exe" /S
    for _ in $(seq 60); do
        [ -z "$(left_behind)" ] && break
        sleep 0.5
    done
    [ -z "$(left_behind)" ] || fail "the uninstaller left $(left_behind)"
}
# The system's PATH, longer than the installer's own strings, must come back whole. What a
# run that stopped half-way left in it goes first.
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
system_path() { registry_value "$environment" PATH; }
set_system_path() { "$wine" reg add "$environment" /v PATH /t REG_EXPAND_SZ /d "$1" /f >/dev/null; }
original_path=$(system_path | tr ';' '\n' | grep -v -x -F -e "$target" | grep -v '^C:\\lang-pad-' |
                paste -sd ';')
long_path=$original_path
for i in $(seq 40); do long_path+=";C:\\lang-pad-$i\\Programma's en zo"; done
set_system_path "$long_path"
[ "$(system_path)" = "$long_path" ] && [ "${#long_path}" -gt 1100 ] || fail "cannot set a long PATH"
"$wine" "$installer" /S /NOPATH "/D=$target"
[ -f "$installed/dorq-pulse.exe" ] || fail "installer put no program in $target"
[ "$(system_path)" = "$long_path" ] || fail "with /NOPATH the installer changed PATH: $(system_path)"
# Again over it, as an update is, now with the folder on PATH.
"$wine" "$installer" /S "/D=$target"
[ "$(system_path)" = "$long_path;$target" ] || fail "PATH after installing: $(system_path)"
uninstall
[ "$(system_path)" = "$long_path" ] || fail "PATH after uninstalling: $(system_path)"
echo "PATH: the folder added and taken off again, a PATH of ${#long_path} characters kept whole;" \
     "with /NOPATH untouched"
# Wine itself cuts a long PATH short in the environment it gives programs: the checks of the
# installed programs run with a PATH it keeps whole.
set_system_path "$original_path"
# Through the pages as a person goes, keeping every default. The last page's box starts the
# program through Explorer, as the signed-in user, not from the installer, which runs as
# administrator; the window it opened then closes cleanly.
finished=$(tools/wine-run "$build/finish_page.exe" "$installer" "/D=$target") ||
    fail "the program the last page started ended with $?: $finished"
[ "$finished" = "DORQ PLC Pulse starten"$'\n'"started by another process" ] ||
    fail "the installer's last page: $finished"
[ "$(system_path)" = "$original_path;$target" ] || fail "PATH after installing: $(system_path)"
echo "installed page by page: \"DORQ PLC Pulse starten\" started the program through another" \
     "process, which closed cleanly"
echo "installed in $target: $(cd "$installed" && find . -type f | sort | tr '\n' ' ')"
for entry in "DORQ PLC Pulse" "DORQ PLC Pulse verwijderen"; do
    [ -f "$menu/$entry.lnk" ] || fail "no Start menu entry \"$entry\" in $menu"
done
[ ! -e "$menu/Uninstall.lnk" ] || fail "an English Start menu entry in $menu"
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' "$installed/Qt-LGPL-3.0.txt" ||
    fail "no LGPL text beside the Qt DLLs"
[ -s "$installed/Qt-qtbase-copyright.txt" ] || fail "no Qt notices beside the Qt DLLs"
[ -s "$installed/translations/qtbase_nl.qm" ] || fail "no Dutch translation of Qt"
[ -s "$installed/LEESMIJ.txt" ] || fail "no LEESMIJ.txt"
# The window program and the console program: Windows' own subsystem numbers, 2 and 3.
for file in dorq-pulse.exe:2 dorq-pulse.com:3; do
    exe=$installed/${file%:*}
    subsystem=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '$1 == "Subsystem" { print $2 + 0 }')
    [ "$subsystem" = "${file#*:}" ] || fail "${file%:*} has subsystem $subsystem"
    manifest=$(wrestool -x --raw -t 24 "$exe")
    for wanted in '>PerMonitorV2</dpiAwareness>' 'level="asInvoker"' '<supportedOS Id='; do
        grep -qF "$wanted" <<<"$manifest" || fail "the manifest of $exe lacks $wanted"
    done
    version_texts=$(wrestool -x --raw -t 16 "$exe" | strings -el)
    version_text() { grep -A1 -x "$1" <<<"$version_texts" | sed -n 2p; }
    [ "$(version_text FileVersion)" = 0.01 ] && [ "$(version_text ProductVersion)" = 0.01 ] &&
        [ "$(version_text CompanyName)" = DORQ ] &&
        [ "$(version_text OriginalFilename)" = "${file%:*}" ] &&
        [ -n "$(version_text LegalCopyright)" ] || fail "the version resource of $exe: $version_texts"
    wrestool -x -t 14 "$exe" >"$build/installed.ico"
    icon_images=$(icotool -l "$build/installed.ico")
    for size in 16 24 32 48 64 256; do
        grep -q -- "--width=$size --height=$size" <<<"$icon_images" ||
            fail "the icon of $exe has no $size pixel image"
    done
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
echo "installed: a window and a console program, Qt's licences and notices, the manifests," \
     "version 0.01 from DORQ, a 256 pixel icon, the uninstall entry, Dutch Start menu entries"
# Only what the installer put there: no Qt or runtime from the build tree or the environment.
unset QT_PLUGIN_PATH QT_QPA_PLATFORM QT_QPA_PLATFORM_PLUGIN_PATH
version=$(tools/wine-run "$build/std_handles.exe" "$target\\dorq-pulse.exe" --version)
echo "installed --version: $version"
[ "$version" = "dorq-pulse 0.01" ]
# Typed in a console anywhere, "dorq-pulse" is the console program, found on PATH.
rm -f "$WINEPREFIX/drive_c/version.txt"
# (cmd reads its commands from a file; from a pipe it takes the first line only.)
printf '%s\r\n' 'cd /d C:\windows' 'dorq-pulse --version > C:\version.txt' \
    'echo %ERRORLEVEL%>> C:\version.txt' exit >"$build/version-cmd.txt"
"$wine" cmd <"$build/version-cmd.txt" >/dev/null
[ "$(tr -d '\r' <"$WINEPREFIX/drive_c/version.txt" | paste -sd ' ')" = "dorq-pulse 0.01 0" ] ||
    fail "dorq-pulse --version in cmd: $(cat "$WINEPREFIX/drive_c/version.txt")"
echo "in cmd, on PATH: dorq-pulse --version answered, status 0"
# The window comes up on Windows' own platform and closes cleanly when asked to, as by the
# operator. A missing platform plugin would show Qt's error box instead and exit non-zero.
timeout 60 "$wine" "$target\\dorq-pulse.exe" >"$build/installed-run.log" 2>&1 &
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
uninstall
[ "$(system_path)" = "$original_path" ] || fail "PATH after uninstalling: $(system_path)"
ls "$appdata"/journal-*.csv >/dev/null || fail "the uninstaller took the journals in $appdata"
echo "uninstalled: $target, its Start menu entries, registry keys and PATH entry are gone," \
     "the journals stay"
finish_stage

echo "Times on this machine:"
for i in "${!stage_names[@]}"; do
    printf '  %-36s %7s s\n' "${stage_names[$i]}" "${stage_seconds[$i]}"
done
