#!/usr/bin/env bash
# Runs the built headless tool on real kernel drivers: Debian's own kernel under QEMU, with a
# 16550 UART as ttyS1 (8250) and an emulated FTDI adapter as ttyUSB0 (ftdi_sio). Their far ends
# are host ptys, read from boot on; what arrives there must be exactly the records the tool
# answered `sent`. The guest sees the host's files read-only over 9p and runs
# tools/realport-guest.sh from a second, writable share, which also carries its requests to pull
# and plug the adapter (QEMU monitor) and its results.
#   tools/realport.sh [BUILD_DIR]    (tools/dev.sh realport builds first)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tools/install-missing qemu-system-x86 linux-image-amd64 busybox-static cpio socat
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# The machine may run a kernel of its own without modules; the guest boots Debian's.
kernel=$(ls /boot/vmlinuz-6.1* | sort -V | tail -n 1)
version=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$version
[ -d "$modules" ] || { echo "realport: no $modules for $kernel" >&2; exit 1; }

# Mode 755 all the way, so that the guest's ordinary users reach the tool and their scratch.
work=$(mktemp -d /var/tmp/dorq-realport.XXXXXX)
chmod 755 "$work"
qemu_pid=""
readers=()
cleanup() {
    [ -z "$qemu_pid" ] || kill "$qemu_pid" 2>/dev/null || true
    for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "${DORQ_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
share=$work/share
mkdir -m 755 "$share"
install -m 755 "$build/dorq-pulse" tools/realport-guest.sh "$share/"

# A busybox initramfs that loads the drivers the kernel has as modules, mounts the host's root
# and the share, and runs the guest script in the host's root.
initrd=$work/initrd
mkdir -p "$initrd"/{bin,proc,sys,dev,newroot,modules}
cp /bin/busybox "$initrd/bin/"
order=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache
       9pnet 9pnet_virtio 9p usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)
for m in "${order[@]}"; do
    find "$modules/kernel" -name "$m.ko" -exec cp {} "$initrd/modules/" \;
    [ -f "$initrd/modules/$m.ko" ] || { echo "realport: no module $m in $modules" >&2; exit 1; }
done
cat >"$initrd/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for m in ${order[*]}; do insmod /modules/\$m.ko || echo "insmod \$m failed"; done
p9="-t 9p -o trans=virtio,version=9p2000.L,msize=262144"
mount \$p9,ro hostroot /newroot
mount -t proc proc /newroot/proc
mount -t sysfs sys /newroot/sys
mount -t devtmpfs dev /newroot/dev
mkdir -p /newroot/dev/pts
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /newroot/dev/pts
mount -t tmpfs tmp /newroot/tmp
mount -t tmpfs run /newroot/run
mkdir /newroot/run/work
mount \$p9 work /newroot/run/work
chroot /newroot /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/bash /run/work/realport-guest.sh
sync
poweroff -f
EOF
chmod 755 "$initrd/init"
(cd "$initrd" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
# Debian's kernel image may be readable by root only.
$sudo cat "$kernel" >"$work/vmlinuz"

monitor=$work/monitor
# The limit counts from the boot, not from the installs before it.
started=$SECONDS
qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults -display none -no-reboot -S \
    -kernel "$work/vmlinuz" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet" \
    -serial "file:$work/console.log" -chardev pty,id=s1 -serial chardev:s1 \
    -fsdev local,id=root,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=root,mount_tag=hostroot \
    -fsdev local,id=work,path="$share",security_model=none,multidevs=remap \
    -device virtio-9p-pci,fsdev=work,mount_tag=work \
    -device qemu-xhci,id=xhci -chardev pty,id=usb0 -chardev pty,id=usb1 \
    -device usb-serial,id=adapter0,chardev=usb0,bus=xhci.0 \
    -monitor "unix:$monitor,server,nowait" >"$work/qemu.log" 2>&1 &
qemu_pid=$!
ask() { printf '%s\n' "$1" | socat -t 1 - "UNIX-CONNECT:$monitor"; }
for _ in $(seq 50); do [ -S "$monitor" ] && break; sleep 0.1; done

# Each far end is read from before the guest runs: QEMU drops what a pty without a reader gets.
info=$(ask "info chardev")
for id in s1 usb0 usb1; do
    pty=$(printf '%s\n' "$info" | sed -n "s/^$id: filename=pty:\(\/dev\/pts\/[0-9]*\).*/\1/p")
    [ -n "$pty" ] || { echo "realport: no pty for $id" >&2; exit 1; }
    stty -F "$pty" raw -echo
    cat "$pty" >"$work/far-$id" 2>/dev/null & # it reads until QEMU ends
    readers+=($!)
done
sleep 1.5 # QEMU looks for a reader once a second
ask cont >/dev/null

# The guest asks for the adapter to be pulled out and plugged back in.
while kill -0 "$qemu_pid" 2>/dev/null; do
    if [ -f "$share/request" ]; then
        case $(cat "$share/request") in
        pull) ask "device_del adapter0" >/dev/null ;;
        plug) ask "device_add usb-serial,id=adapter1,chardev=usb1,bus=xhci.0" >/dev/null ;;
        esac
        rm "$share/request"
    fi
    if ((SECONDS - started > ${DORQ_LIMIT:-170})); then
        echo "FAIL the guest finished in time"
        kill "$qemu_pid" 2>/dev/null || true
        break
    fi
    sleep 0.1
done
wait "$qemu_pid" || true
qemu_pid=""
sleep 0.2 # the readers take the last bytes
failed=0
if [ -f "$share/results" ]; then
    grep -v '^DONE' "$share/results"
    grep -q '^FAIL' "$share/results" && failed=1
    grep -q '^DONE' "$share/results" || { echo "FAIL the guest ran every check"; failed=1; }
else
    echo "FAIL the guest ran the checks"
    failed=1
    cat "$work/console.log" "$work/qemu.log"
fi
declare -A far_end=([s1]="/dev/ttyS1" [usb0]="/dev/ttyUSB0" [usb1]="/dev/ttyUSB0 plugged back")
for id in s1 usb0 usb1; do
    if [ -s "$share/expected-$id" ] && cmp -s "$share/expected-$id" "$work/far-$id"; then
        echo "PASS ${far_end[$id]}: the far end got exactly the records answered sent" \
             "($(wc -c <"$work/far-$id") bytes)"
    else
        echo "FAIL ${far_end[$id]}: the far end did not get exactly the records answered sent"
        diff <(od -c "$share/expected-$id" 2>&1) <(od -c "$work/far-$id") | head -n 20 || true
        failed=1
    fi
done
[ ! -s "$share/stderr" ] || { echo "the tool's advice on standard error:"; cat "$share/stderr"; }
echo "realport: $((SECONDS - started)) s, $( ((failed)) && echo FAIL || echo PASS)"
exit $failed
