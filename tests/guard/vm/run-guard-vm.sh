#!/usr/bin/env bash
# Boots the installed Debian kernel in qemu with a small initramfs holding the input guard,
# the driver that tries it and busybox, and exits with the driver's result. This is the one
# place the guard meets real evdev and uinput, so anything missing fails the run: a skip
# here would pass CI without ever having grabbed a device.
#   run-guard-vm.sh GUARD_BINARY DRIVER_BINARY
# OW_GUARD_VM_ACCEL=kvm|tcg forces the accelerator (default: kvm when /dev/kvm is usable).
set -euo pipefail

die() { echo "guard-vm: $*" >&2; exit 1; }

[[ $# -eq 2 ]] || die "usage: $0 GUARD_BINARY DRIVER_BINARY"
guard=$1
driver=$2
for tool in qemu-system-x86_64 cpio ldd; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh installs it)"
done
for bin in "$guard" "$driver"; do
    [[ -x $bin ]] || die "no executable at $bin"
done
busybox=/bin/busybox
[[ -x $busybox ]] || die "$busybox is missing (package busybox-static)"

kernel=$(find /boot -maxdepth 1 -name 'vmlinuz-*' | sort -V | tail -n 1)
[[ -n $kernel ]] || die "no /boot/vmlinuz-* (package linux-image-amd64)"
[[ -r $kernel ]] || die "$kernel is not readable by $(id -un)"
version=${kernel#/boot/vmlinuz-}
moddir=/lib/modules/$version
[[ -d $moddir ]] || die "no $moddir for $kernel"

# /dev/kvm can be there and still hang every guest (broken nested virtualisation), so KVM
# counts only when the kernel, booted with no root, panics and stops within seconds.
kvm_works() {
    [[ -r /dev/kvm && -w /dev/kvm ]] &&
        timeout 10 qemu-system-x86_64 -accel kvm -m 256 -nographic -no-reboot -kernel "$kernel" \
            -append "console=ttyS0 panic=-1" </dev/null >/dev/null 2>&1
}
case ${OW_GUARD_VM_ACCEL:-} in
    kvm|tcg) accel=$OW_GUARD_VM_ACCEL ;;
    "") if kvm_works; then accel=kvm; else accel=tcg; fi ;;
    *) die "OW_GUARD_VM_ACCEL must be kvm or tcg" ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/guard-vm.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,run,tmp,lib/modules}

# A binary and every shared library it loads, the dynamic loader included, at their own paths.
copy_with_libraries() {
    local bin=$1 dest=$2 listing lib
    install -m 0755 "$bin" "$root/$dest"
    if ! listing=$(ldd "$bin" 2>&1); then
        [[ $listing == *"not a dynamic executable"* ]] && return 0
        die "ldd $bin: $listing"
    fi
    [[ $listing != *"not found"* ]] || die "$bin needs libraries that are missing: $listing"
    for lib in $(awk '/=> \// { print $3 } /^[[:space:]]*\// { print $1 }' <<<"$listing"); do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done
}
copy_with_libraries "$busybox" bin/busybox
copy_with_libraries "$guard" bin/orbinwash-inputguard
copy_with_libraries "$driver" bin/guard-vm-driver

for module in evdev uinput; do
    found=$(find "$moddir" \( -name "$module.ko" -o -name "$module.ko.xz" \) | head -n 1)
    [[ -n $found ]] || die "no $module.ko or $module.ko.xz under $moddir"
    case $found in
        *.xz) command -v xz >/dev/null || die "xz is needed to unpack $found"
              xz -dc "$found" >"$root/lib/modules/$module.ko" ;;
        *) cp "$found" "$root/lib/modules/$module.ko" ;;
    esac
done

cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
insmod /lib/modules/evdev.ko && insmod /lib/modules/uinput.ko || echo "guard-vm: insmod failed"
echo 1 >/proc/sys/kernel/sysrq
/bin/guard-vm-driver /bin/orbinwash-inputguard
echo "guard-vm: driver exit $?"
poweroff -f
EOF
chmod 0755 "$root/init"

(cd "$root" && find . -print0 | cpio --quiet --null -o -H newc -R 0:0) >"$work/initramfs.cpio" \
    || die "cpio failed"

log=$work/console.log
start=$EPOCHREALTIME
# The driver's own timeouts are far shorter than this; it only stops a kernel that hangs.
status=0
timeout 240 qemu-system-x86_64 -accel "$accel" -m 512 -smp 1 -nographic -no-reboot \
    -kernel "$kernel" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet" </dev/null 2>&1 | tee "$log" || status=$?
seconds=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
echo "guard-vm: the VM stage took ${seconds} s with $accel on $version"
[[ $status -eq 0 ]] || die "qemu failed or timed out (status $status)"

result=$(sed -n 's/^guard-vm: driver exit \([0-9]*\).*/\1/p' "$log" | tail -n 1)
[[ -n $result ]] || die "the driver never finished (no exit line on the console)"
exit "$result"
