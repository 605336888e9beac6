#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks in build-bench/ (Release), runs every one
# and prints one summary table. Each benchmark's own output goes to build-bench/bench-output.txt.
#   tools/bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."

tools/dev.sh deps

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORQ_BUILD_BENCH=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build build-bench

# The machine may be shared: the load before and after says how quiet it was.
loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
out=build-bench/bench-output.txt
: >"$out"
failed=()
run() {
    echo "== $*" | tee -a "$out" >&2
    # The details scroll by on stderr; the RESULT lines make the table below.
    if ! "$@" 2>&1 | tee -a "$out" | { grep -v '^RESULT' >&2 || true; }; then
        failed+=("$*")
    fi
}
b=build-bench/bench
run $b/record_bench
run $b/window_bench press
run $b/window_bench clock
run $b/window_bench error
run $b/process_bench idle
run $b/process_bench startup
run $b/process_bench headless-idle
run $b/process_bench headless-press
run $b/process_bench headless-ready
run $b/process_bench headless-stalled
# --play: ten minutes at 50 presses a second, CPU between presses, the largest programs, SIGTERM.
run $b/play_bench latency 600
run $b/play_bench idle
run $b/play_bench memory
run $b/play_bench stop

# The journal on this machine's disk, and on two slow ones made here: a FUSE file system that
# takes 0.3 s to sync a file and 0.5 ms more for every write, and ext4 on a disk image kept
# on it (as root only: mounting needs it).
disks=$(mktemp -d)
mkdir -p "$disks/local" "$disks/back" "$disks/fuse" "$disks/ext4"
run $b/window_bench journal "$disks/local" "this machine's disk"
$b/slow_disk "$disks/back" "$disks/fuse" 300 500 >/dev/null 2>&1 &
for _ in $(seq 50); do mountpoint -q "$disks/fuse" && break; sleep 0.1; done
if mountpoint -q "$disks/fuse"; then
    run $b/window_bench journal "$disks/fuse" "a FUSE file system syncing in 0.3 s"
    if [ "$(id -u)" -eq 0 ] && dd if=/dev/zero of="$disks/fuse/disk.img" bs=1M count=64 status=none &&
        mkfs.ext4 -q "$disks/fuse/disk.img" && mount -o loop "$disks/fuse/disk.img" "$disks/ext4"; then
        run $b/window_bench journal "$disks/ext4" "ext4 on a disk syncing in 0.3 s"
        umount "$disks/ext4"
    else
        echo "== ext4 on a slow disk skipped: needs root and loop devices" >&2
    fi
    fusermount3 -u "$disks/fuse"
else
    echo "== slow disks skipped: no FUSE here" >&2
fi
rm -rf "$disks"

commit=$(git rev-parse --short HEAD)
git diff --quiet HEAD -- src CMakeLists.txt || commit="$commit + uncommitted changes"
echo
echo "Machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p'), kernel $(uname -r)," \
    "Qt $(qtpaths6 --qt-version 2>/dev/null || echo '?'); code at $commit; $(date -u '+%F %H:%M UTC');" \
    "load average $loadBefore before, $(cut -d' ' -f1-3 /proc/loadavg) after"
echo
echo "| Measurement | Result | Target | Met |"
echo "|---|---|---|---|"
awk -F'\t' '$1 == "RESULT" {
    for (i = 2; i <= 5; ++i) gsub(/\|/, "\\|", $i) # a "|" in a result would split its cell
    printf "| %s | %s | %s | %s |\n", $2, $3, $4, $5
}' "$out"
if ((${#failed[@]})); then
    printf 'FAILED: %s\n' "${failed[@]}" >&2
    exit 1
fi
