#!/usr/bin/env bash
# Runs as root inside the guest of tools/realport.sh and drives the tool as ordinary users, on
# ttyS1 (8250) and ttyUSB0 (ftdi_sio). Writes one PASS or FAIL line per check to the share and,
# per far end, the records answered `sent`, which the host compares with what arrived there.
set -u
share=/run/work
tool=$share/dorq-pulse
ok="ok PLC op COM1 9600,O,8,1"
cd /tmp

check() { # name, 0 when it held, what was seen instead
    if [ "$2" -eq 0 ]; then echo "PASS $1"; else echo "FAIL $1: $3"; fi >>"$share/results"
}
# Set up as udev would for the dialout group, which the users below are in.
for_dialout() {
    for _ in $(seq 150); do [ -c "$1" ] && break; sleep 0.1; done
    chgrp 20 "$1" && chmod 660 "$1"
}
as_user() { # uid, command...
    local uid=$1
    shift
    mkdir -p "/tmp/home-$uid" && chown "$uid:$uid" "/tmp/home-$uid"
    setpriv --reuid="$uid" --regid="$uid" --groups=20 \
        env HOME="/tmp/home-$uid" "$@" 2>>"$share/stderr"
}
headless() { # uid, device, then the tool reads standard input
    as_user "$1" "$tool" --headless --com1 "$2" --no-journal
}
# DTR and RTS as the driver has them (TIOCMGET), opened without waiting for a carrier.
modem_lines() { # device
    perl -e 'use Fcntl; sysopen(my $f, $ARGV[0], O_RDONLY | O_NONBLOCK | O_NOCTTY) or die "$!\n";
        my $m = pack("i", 0); ioctl($f, 0x5415, $m) or die "$!\n"; $m = unpack("i", $m);
        print join(" ", $m & 0x002 ? "dtr" : "-dtr", $m & 0x004 ? "rts" : "-rts"), "\n"' "$1" 2>&1
}
# The far end of a device: ttyUSB0 is a new one after the adapter comes back.
far=(s1 usb0)
keep_sent() { # far end, answers
    sed -n 's/^sent //p' <<<"$2" | while IFS= read -r record; do
        printf '%s\r\n' "$record"
    done >>"$share/expected-$1"
}
# The answers must be exactly these lines, with a record where a line says "sent N".
answers_are() { # answers, expected lines
    local got=$1 want=$2
    got=$(sed -E 's/^(sent [1-8])  [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{2}$/\1/' <<<"$got")
    [ "$got" = "$want" ]
}

for_dialout /dev/ttyS1
for_dialout /dev/ttyUSB0
devices=(/dev/ttyS1 /dev/ttyUSB0)
for i in 0 1; do
    dev=${devices[$i]}
    got=$(printf 'com1\n1\ncom1\n2\nquit\n' | headless 2001 "$dev")
    status=$?
    keep_sent "${far[$i]}" "$got"
    answers_are "$got" "$(printf 'ready\n%s\nsent 1\n%s\nsent 2' "$ok" "$ok")" && ((status == 0))
    check "$dev: the same port chosen twice opens and sends" $? "$got (status $status)"

    # A second run, which then holds the port against another user.
    coproc holder { headless 2001 "$dev"; }
    holder_pid=$holder_PID
    second=""
    for command in "" com1 3; do
        [ -z "$command" ] || echo "$command" >&"${holder[1]}"
        read -r -t 20 line <&"${holder[0]}" || line="(no answer)"
        second+=$line$'\n'
    done
    keep_sent "${far[$i]}" "$second"
    answers_are "${second%$'\n'}" "$(printf 'ready\n%s\nsent 3' "$ok")"
    check "$dev: a second run opens and sends" $? "$second"
    # The line as the driver keeps it, read back while the tool holds the port: a pty drops
    # parity enable, a UART does not.
    settings=$(stty -F "$dev" -a 2>&1)
    lines=$(modem_lines "$dev")
    words=" $(tr -s ';\n' '  ' <<<"$settings") "
    held=0
    for want in "speed 9600 baud" parenb parodd cs8 -cstopb -crtscts; do
        [[ $words == *" $want "* ]] || held=1
    done
    [ "$lines" = "dtr rts" ] || held=1
    check "$dev: held at 9600,O,8,1 with DTR and RTS on, as the driver reads them back" $held \
        "$(tr -s '\n' ' ' <<<"$settings")modem lines: $lines"
    got=$(printf 'com1\n' | headless 2002 "$dev")
    status=$?
    [[ $got == "ready"$'\n'"error 16: "*"$dev"* ]] && ((status == 1))
    check "$dev: another user is refused with 16 while the port is held" $? \
        "$got (status $status)"
    echo quit >&"${holder[1]}"
    wait "$holder_pid"
    got=$(printf 'com1\n4\n' | headless 2002 "$dev")
    keep_sent "${far[$i]}" "$got"
    answers_are "$got" "$(printf 'ready\n%s\nsent 4' "$ok")"
    check "$dev: the other user opens it once the holder has quit" $? "$got"
done

# The adapter pulled out in the middle of a run, then plugged back in.
coproc run { headless 2001 /dev/ttyUSB0; }
run_pid=$run_PID
answer() { read -r -t 20 line <&"${run[0]}" || line="(no answer)"; }
answer
got=$line$'\n'
for command in com1 5; do
    echo "$command" >&"${run[1]}"
    answer
    got+=$line$'\n'
done
keep_sent usb0 "$got"
echo pull >"$share/request"
answer
echo 6 >&"${run[1]}"
read -r -t 20 unsent <&"${run[0]}"
[[ $got == "ready"$'\n'"$ok"$'\n'"sent 5  "* && $line == "lost 5: "* &&
    $unsent == "unsent 6  "*": Selecteer een comport !!!!" ]]
check "/dev/ttyUSB0: pulled out mid-run: one lost answer, then unsent" $? \
    "${got}then: $line; then: $unsent"
for _ in $(seq 100); do [ -e /dev/ttyUSB0 ] || break; sleep 0.1; done
echo plug >"$share/request"
for_dialout /dev/ttyUSB0
got=""
for command in com1 7 quit; do
    echo "$command" >&"${run[1]}"
    [ "$command" = quit ] || { answer; got+=$line$'\n'; }
done
wait "$run_pid"
status=$?
keep_sent usb1 "$got"
[[ $got == "$ok"$'\n'"sent 7  "* ]] && ((status == 1))
check "/dev/ttyUSB0: plugged back in: com1 opens the new adapter and the press is sent" $? \
    "$got(status $status)"
echo DONE >>"$share/results"
