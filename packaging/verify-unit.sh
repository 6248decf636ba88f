#!/bin/sh
# systemd-analyze verify on a unit as it will be installed, without installing anything:
# in a scratch root holding a copy of this machine's units (for the unit's dependencies,
# such as dbus.socket) and the unit's program at the path its ExecStart= names. Any
# complaint fails, as systemd-analyze itself exits 0 on most of them.
#   verify-unit.sh UNIT_FILE PROGRAM
set -eu

[ $# -eq 2 ] || { echo "usage: $0 UNIT_FILE PROGRAM" >&2; exit 2; }
unit=$1
program=$2
units=/lib/systemd/system
[ -d "$units" ] || { echo "no $units: the package systemd is missing" >&2; exit 1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/verify-unit.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/usr/lib/systemd"
cp -a "$units" "$root/usr/lib/systemd/system"
cp "$unit" "$root/usr/lib/systemd/system/"
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
case $exec_start in
    /*) ;;
    *) echo "$unit: ExecStart=$exec_start is no absolute path" >&2; exit 1 ;;
esac
mkdir -p "$root$(dirname "$exec_start")"
cp "$program" "$root$exec_start"

out=$(systemd-analyze verify --root="$root" "$(basename "$unit")" 2>&1) || status=$?
if [ -n "$out" ] || [ "${status:-0}" -ne 0 ]; then
    printf '%s\n' "$out"
    exit 1
fi
echo "$(basename "$unit"): no complaints"
