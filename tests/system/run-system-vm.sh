#!/usr/bin/env bash
# The full-system stage: boots the Debian 12 system of build-image.sh in qemu on its own
# kernel, with the package under test and the checks (guest/) on a second disk. Inside,
# orbinwash-system-checks.service installs the package with apt, offline, and runs
# guest/checks.py, whose rows come back on the second serial port. This script asserts them:
# every row of the plan reported, and each one ok. Exits 0 only then.
#   run-system-vm.sh DEB
# OW_SYSTEM_VM_ACCEL=kvm|tcg forces the accelerator (default: kvm when /dev/kvm is usable);
# OW_SYSTEM_VM_ROWS=2,11 runs only those rows of guest/checks.py, while working on them.
set -euo pipefail

die() { echo "system-vm: $*" >&2; exit 1; }

[[ $# -eq 1 && -f $1 ]] || die "usage: $0 DEB"
deb=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (scripts/install-deps.sh)"

start=$SECONDS
image=$("$here/build-image.sh" "$deb" | tail -n 1)
[[ -f $image/rootfs.img ]] || die "no image from build-image.sh"
image_seconds=$((SECONDS - start))

# /dev/kvm can be there and still hang every guest, so it counts only when a guest boots
# and stops within seconds.
kvm_works() {
    [[ -r /dev/kvm && -w /dev/kvm ]] &&
        timeout 10 qemu-system-x86_64 -accel kvm -m 256 -nographic -no-reboot -kernel "$image/vmlinuz" \
            -append "console=ttyS0 panic=-1" </dev/null >/dev/null 2>&1
}
case ${OW_SYSTEM_VM_ACCEL:-} in
    kvm|tcg) accel=$OW_SYSTEM_VM_ACCEL ;;
    "") if kvm_works; then accel=kvm; else accel=tcg; fi ;;
    *) die "OW_SYSTEM_VM_ACCEL must be kvm or tcg" ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/system-vm.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The second disk is a plain tar: the guest unpacks /dev/vdb as it is.
mkdir -m 0755 "$work/payload"
install -m 0644 "$deb" "$here"/guest/*.py "$work/payload/"
[[ -z ${OW_SYSTEM_VM_ROWS:-} ]] || echo "$OW_SYSTEM_VM_ROWS" >"$work/payload/rows.txt"
tar -cf "$work/payload.tar" -C "$work/payload" .

console=$work/console.log
results=$work/results.log
: >"$results"
# The checks bound themselves to 10 minutes; this stops a guest that hangs on its own.
limit=${OW_SYSTEM_VM_TIMEOUT:-900}
boot=$SECONDS
status=0
timeout "$limit" qemu-system-x86_64 -accel "$accel" -m 2048 -smp 2 -no-reboot \
    -display none -vga std -nic none -monitor none \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 fsck.mode=skip panic=-1 loglevel=4" \
    -drive "file=$image/rootfs.img,if=virtio,format=raw,snapshot=on" \
    -drive "file=$work/payload.tar,if=virtio,format=raw,readonly=on" \
    -serial "file:$console" -serial "file:$results" </dev/null &
qemu=$!
# The rows as they come, while the guest runs.
tail -n +1 -f "$results" --pid "$qemu" 2>/dev/null | sed -u 's/\r$//; s/^/system-vm: /' &
wait "$qemu" || status=$?
wait || true
vm_seconds=$((SECONDS - boot))

tr -d '\r' <"$results" >"$work/rows"
plan=$(sed -n 's/^1\.\.\([0-9]*\)$/\1/p' "$work/rows" | head -n 1)
failed=0
if [[ -z $plan ]]; then
    echo "system-vm: the checks never started (no plan on the second serial port)" >&2
    failed=1
else
    for ((row = 1; row <= plan; row++)); do
        if ! grep -q "^ok $row " "$work/rows"; then
            grep -q "^not ok $row " "$work/rows" || echo "system-vm: row $row never reported" >&2
            failed=1
        fi
    done
fi
[[ $status -eq 0 ]] || { echo "system-vm: qemu failed or timed out after $limit s (status $status)" >&2; failed=1; }
if [[ $failed -ne 0 ]]; then
    echo "system-vm: the guest's console, last lines:" >&2
    tail -n 80 "$console" | tr -d '\r' | sed 's/^/console: /' >&2
fi
echo "system-vm: image $image_seconds s, VM $vm_seconds s (boot, install and checks) with $accel"
exit "$failed"
