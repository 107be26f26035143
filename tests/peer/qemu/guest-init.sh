#!/bin/sh
# /init of the peer-test guest: brings up the two disks, runs each command once and prints what it
# wrote (stdout, stderr, exit code) as base64 between markers on the serial console, then powers off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp/results
echo "init $(cut -d' ' -f1 /proc/uptime)" >/tmp/results/timings.out

for m in crct10dif_generic crc64_rocksoft_generic ahci sd_mod nvme; do
    modprobe "$m" 2>>/tmp/results/modprobe.err
done
echo "modules $(cut -d' ' -f1 /proc/uptime)" >>/tmp/results/timings.out

# The disks appear once their drivers have probed them; give up after 30 s.
tries=0
while [ ! -b /dev/sda ] || [ ! -b /dev/nvme0n1 ] || [ ! -c /dev/nvme0 ]; do
    tries=$((tries + 1))
    [ "$tries" -gt 300 ] && break
    sleep 0.1
done
echo "disks $(cut -d' ' -f1 /proc/uptime)" >>/tmp/results/timings.out
ls -l /dev/sda /dev/nvme0 /dev/nvme0n1 >/tmp/results/devices.out 2>&1
# As udev leaves them: the disk group may open the disks, but only root has the privileges.
chgrp 6 /dev/sda /dev/nvme0 /dev/nvme0n1 2>/dev/null
chmod 660 /dev/sda /dev/nvme0 /dev/nvme0n1 2>/dev/null

# The sanitized build of tarvexctl reports on stderr, which the comparison reads.
export ASAN_OPTIONS=abort_on_error=0:symbolize=0
export UBSAN_OPTIONS=print_stacktrace=1

# run NAME COMMAND...: keeps stdout, stderr and the exit code of one command.
run() {
    name=$1
    shift
    "$@" >"/tmp/results/$name.out" 2>"/tmp/results/$name.err" </dev/null
    echo $? >"/tmp/results/$name.rc"
    echo "$name $(cut -d' ' -f1 /proc/uptime)" >>/tmp/results/timings.out
}

tarvex() {
    TARVEX_PLATFORM=linux TARVEX_STATE=/tmp/tarvex tarvexctl "$@"
}

run scan tarvex --json scan
# The interface kind the scan gives each disk number (3 NVMe); a number the scan does not list
# is asked both ways, so that its failure shows too.
kind_of() {
    awk -v want="$1" '
        /"diskNumber":/ { gsub(/[^0-9]/, ""); number = $0 }
        /"interfaceKind":/ { gsub(/[^0-9]/, ""); if (number == want) print $0 }
    ' /tmp/results/scan.out
}
# ask COMMAND N: tarvexctl's COMMAND for disk number N, in the form that fits its kind.
ask() {
    case $(kind_of "$2") in
        3) run "$1-disk$2-nvme" tarvex --json "$1" --disk "$2" --nvme ;;
        "") run "$1-disk$2" tarvex --json "$1" --disk "$2"
            run "$1-disk$2-nvme" tarvex --json "$1" --disk "$2" --nvme ;;
        *) run "$1-disk$2" tarvex --json "$1" --disk "$2" ;;
    esac
}
for n in 0 1; do
    ask identify "$n"
    run "health-drive$n" tarvex --json health --drive "$n"
done
# smartctl runs right after tarvexctl's SMART reads, so that the NVMe disk's command counters
# cannot have moved in between.
ask smart 0
ask smart 1
run smartctl-sata smartctl -x --json /dev/sda
run smartctl-nvme smartctl -x --json /dev/nvme0
run smartctl-nvme-namespace smartctl -x --json /dev/nvme0n1
run report tarvex report /tmp/report.txt
cp /tmp/report.txt /tmp/results/report.txt 2>/dev/null

# Without privileges: a member of the disk group (it may open the disks) with no capabilities.
# Busybox's shell runs its own applets before PATH; the full path picks util-linux's setpriv,
# which can also clear the bounding set.
mkdir -p /tmp/nobody
chown 65534:65534 /tmp/nobody
run unprivileged-scan /usr/bin/setpriv --reuid=65534 --regid=65534 --groups=6 --inh-caps=-all --bounding-set=-all \
    env TARVEX_PLATFORM=linux TARVEX_STATE=/tmp/nobody/tarvex tarvexctl --json scan
run unprivileged-caps /usr/bin/setpriv --reuid=65534 --regid=65534 --groups=6 --inh-caps=-all --bounding-set=-all \
    grep -E '^Cap(Eff|Prm|Bnd)' /proc/self/status

for f in /tmp/results/*; do
    name=${f##*/}
    echo "==tarvex-guest-begin $name=="
    base64 "$f"
    echo "==tarvex-guest-end $name=="
done
echo "==tarvex-guest-done=="
sync
poweroff -f
