#!/usr/bin/env bash
# Boots a Debian kernel in QEMU (q35, software emulation) with one SATA disk on the built-in AHCI
# controller and one NVMe disk, runs tarvexctl and smartctl inside the guest once, and leaves what
# each command printed in WORK/out/:
#   <name>.out  <name>.err  <name>.rc
# Usage: run-guest.sh WORK TARVEXCTL
# The kernel and busybox packages are fetched with `apt-get download` and unpacked with
# `dpkg-deb -x` into WORK/cache (nothing is installed on this machine); a second run reuses them.
# Exit codes: 0 the guest ran every command, 77 a tool is missing (the message names it),
# 1 anything else.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: run-guest.sh WORK TARVEXCTL" >&2
    exit 1
fi
work=$(realpath -m "$1")
tarvexctl=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
boot_timeout=${TARVEX_QEMU_TIMEOUT:-150}

missing() {
    echo "run-guest.sh: $1" >&2
    exit 77
}
command -v qemu-system-x86_64 >/dev/null || missing "qemu-system-x86_64 is not installed (package qemu-system-x86)"
smartctl=$(command -v smartctl || true)
[ -n "$smartctl" ] || missing "smartctl is not installed (package smartmontools)"
setpriv=$(command -v setpriv || true)
[ -n "$setpriv" ] || missing "setpriv is not installed (package util-linux)"
for tool in cpio gzip base64 ldd apt-get apt-cache dpkg-deb truncate timeout; do
    command -v "$tool" >/dev/null || missing "$tool is not installed"
done
[ -x "$tarvexctl" ] || { echo "run-guest.sh: $tarvexctl is not an executable" >&2; exit 1; }

mkdir -p "$work"
cache=$work/cache
mkdir -p "$cache"

# --- The kernel and busybox, unpacked once ------------------------------------------------------

# The kernel package the metapackage linux-image-amd64 currently points at.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# Fetches package $1 into $2 (a folder) without installing it.
fetch_deb() {
    local package=$1 into=$2
    rm -rf "$into.part"
    mkdir -p "$into.part"
    (cd "$into.part" && apt-get download -q "$package" >/dev/null 2>&1) ||
        { echo "run-guest.sh: apt-get download $package failed" >&2; exit 1; }
    local deb
    deb=$(ls "$into.part"/*.deb)
    dpkg-deb -x "$deb" "$into.part/root"
    rm -f "$deb"
}

if [ ! -x "$cache/busybox/bin/busybox" ]; then
    fetch_deb busybox-static "$cache/busybox"
    rm -rf "$cache/busybox"
    mkdir -p "$cache/busybox/bin"
    cp "$cache/busybox.part/root/bin/busybox" "$cache/busybox/bin/busybox"
    rm -rf "$cache/busybox.part"
fi
busybox=$cache/busybox/bin/busybox

# The modules the two disks need; the crc providers are soft dependencies that the block
# integrity code asks the crypto layer for.
wanted_modules=(ahci sd_mod nvme crct10dif_generic crc64_rocksoft_generic)

kernel_dir=$(ls -d "$cache"/kernel-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$kernel_dir" ] || [ ! -f "$kernel_dir/complete" ]; then
    package=$(kernel_package)
    [ -n "$package" ] || { echo "run-guest.sh: apt-cache knows no kernel behind linux-image-amd64" >&2; exit 1; }
    version=${package#linux-image-}
    # A cut-short unpacking of this or an older kernel goes first.
    rm -rf "$cache"/kernel-*
    kernel_dir=$cache/kernel-$version
    fetch_deb "$package" "$kernel_dir"
    unpacked=$kernel_dir.part/root
    # The package carries no modules.dep (depmod makes it on installation); make it here.
    "$busybox" depmod -b "$unpacked" "$version"
    dep=$unpacked/lib/modules/$version/modules.dep
    # Every wanted module and, through modules.dep, everything it needs.
    declare -A needed=()
    for m in "${wanted_modules[@]}"; do
        line=$(grep -E "(^|/)${m//_/[-_]}\.ko:" "$dep" || true)
        [ -n "$line" ] || { echo "run-guest.sh: the kernel has no module $m" >&2; exit 1; }
        for f in ${line/:/}; do
            needed[$f]=1
        done
    done
    rm -rf "$kernel_dir"
    mkdir -p "$kernel_dir/lib/modules/$version"
    cp "$unpacked/boot/vmlinuz-$version" "$kernel_dir/vmlinuz"
    for f in "${!needed[@]}"; do
        mkdir -p "$kernel_dir/lib/modules/$version/$(dirname "$f")"
        cp "$unpacked/lib/modules/$version/$f" "$kernel_dir/lib/modules/$version/$f"
    done
    # modules.dep of the copied modules only, so that modprobe in the guest finds their order.
    : >"$kernel_dir/lib/modules/$version/modules.dep"
    for f in "${!needed[@]}"; do
        grep -E "^$f:" "$dep" >>"$kernel_dir/lib/modules/$version/modules.dep"
    done
    cp "$unpacked/lib/modules/$version"/modules.{builtin,order} "$kernel_dir/lib/modules/$version/"
    rm -rf "$kernel_dir.part"
    touch "$kernel_dir/complete"
fi
kernel_dir=${kernel_dir%/}
version=${kernel_dir##*/kernel-}

# --- The initramfs --------------------------------------------------------------------------------

stage=$work/initramfs
rm -rf "$stage"
mkdir -p "$stage"/{bin,sbin,usr/bin,usr/sbin,dev,proc,sys,tmp,etc,lib,lib64}
chmod 1777 "$stage/tmp"
cp "$busybox" "$stage/bin/busybox"
for applet in $("$busybox" --list); do
    [ -e "$stage/bin/$applet" ] || ln -s busybox "$stage/bin/$applet"
done
cp -a "$kernel_dir/lib/modules" "$stage/lib/"

# A program and every shared library ldd lists for it, the dynamic loader included, at the same
# paths as on this machine.
copy_program() {
    local program=$1 target=$2
    mkdir -p "$stage$(dirname "$target")"
    cp "$program" "$stage$target"
    { ldd "$program" || true; } | { grep -oE '/[^ ]+' || true; } | while read -r lib; do
        [ -e "$stage$lib" ] && continue
        mkdir -p "$stage$(dirname "$lib")"
        cp -L "$lib" "$stage$lib"
    done
}
copy_program "$tarvexctl" /usr/bin/tarvexctl
# The debug build carries some 60 MB of debug information that the guest does not need; without
# it the initramfs packs and unpacks several seconds faster. The symbol table stays for ASan.
if command -v objcopy >/dev/null; then
    objcopy --strip-debug "$stage/usr/bin/tarvexctl"
fi
copy_program "$smartctl" /usr/sbin/smartctl
copy_program "$setpriv" /usr/bin/setpriv
# smartctl names drives from its database when it has one; the facts compared do not need it.
[ -f /etc/os-release ] && cp /etc/os-release "$stage/etc/os-release"
echo "root:x:0:0:root:/:/bin/sh" >"$stage/etc/passwd"
echo "nobody:x:65534:65534:nobody:/tmp:/bin/sh" >>"$stage/etc/passwd"
printf 'root:x:0:\ndisk:x:6:\nnogroup:x:65534:\n' >"$stage/etc/group"
cp "$here/guest-init.sh" "$stage/init"
chmod 755 "$stage/init"

initramfs=$work/initramfs.cpio.gz
(cd "$stage" && find . -print0 | cpio --null --create --format=newc --quiet | gzip -1 >"$initramfs")

# --- The disks and the boot -----------------------------------------------------------------------

# What the guest's disks say about themselves; the comparison checks that smartctl saw these.
sata_model="TARVEX QEMU SATA"
sata_serial=TVXSATA0001
sata_wwn=0x5000c500a1b2c3d4
nvme_serial=TVXNVME0001
cat >"$work/disks.env" <<END
sata_model=$sata_model
sata_serial=$sata_serial
sata_wwn=$sata_wwn
sata_bytes=$((3500 * 1024 * 1024))
nvme_serial=$nvme_serial
nvme_bytes=$((5500 * 1024 * 1024))
END

# Sparse files. The sizes lie well inside a decimal gigabyte (3.67 GB and 5.77 GB), so whole
# gigabytes agree however a tool rounds, and the two disks cannot be mistaken for each other.
rm -f "$work/sata.img" "$work/nvme.img"
truncate -s 3500M "$work/sata.img"
truncate -s 5500M "$work/nvme.img"

console=$work/console.log
start=$(date +%s.%N)
status=0
timeout "$boot_timeout" qemu-system-x86_64 \
    -accel tcg -machine q35 -m 1024 -smp 1 \
    -nographic -no-reboot -nic none \
    -kernel "$kernel_dir/vmlinuz" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=0 panic=-1" \
    -drive if=none,id=satadisk,file="$work/sata.img",format=raw \
    -device ide-hd,drive=satadisk,bus=ide.0,model="$sata_model",serial="$sata_serial",wwn="$sata_wwn" \
    -drive if=none,id=nvmedisk,file="$work/nvme.img",format=raw \
    -device nvme,drive=nvmedisk,serial="$nvme_serial" \
    </dev/null >"$console" 2>"$work/qemu.err" || status=$?
end=$(date +%s.%N)
boot_seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
echo "$boot_seconds" >"$work/boot-seconds"
if [ "$status" -eq 124 ]; then
    echo "run-guest.sh: the guest did not power off within ${boot_timeout} s (see $console)" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    echo "run-guest.sh: qemu-system-x86_64 failed with exit code $status: $(head -c 300 "$work/qemu.err")" >&2
    exit 1
fi

# --- The outputs ----------------------------------------------------------------------------------

out=$work/out
rm -rf "$out"
mkdir -p "$out"
# Between "==tarvex-guest-begin NAME==" and "==tarvex-guest-end NAME==" lies the base64 of one file.
tr -d '\r' <"$console" | awk -v dir="$out" '
    /^==tarvex-guest-begin [A-Za-z0-9._-]+==$/ { name = $2; sub(/==$/, "", name); file = dir "/" name ".b64"; printf "" > file; next }
    /^==tarvex-guest-end [A-Za-z0-9._-]+==$/ { close(file); file = ""; next }
    file != "" { print >> file }
'
for b in "$out"/*.b64; do
    [ -e "$b" ] || break
    base64 -d <"$b" >"${b%.b64}" || { echo "run-guest.sh: $(basename "$b") is not whole base64" >&2; exit 1; }
    rm -f "$b"
done
if ! grep -q '^==tarvex-guest-done==' <(tr -d '\r' <"$console"); then
    echo "run-guest.sh: the guest stopped before its last command (see $console)" >&2
    exit 1
fi
echo "run-guest.sh: guest ran in ${boot_seconds} s, outputs in $out" >&2
