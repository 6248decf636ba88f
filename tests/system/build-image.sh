#!/usr/bin/env bash
# Makes the Debian 12 system of the full-system stage with mmdebstrap, or finds it made:
# an ext4 root file system, and its own kernel and initramfs beside it. Prints the folder
# that holds them (rootfs.img, vmlinuz, initrd.img) on its last line.
#   build-image.sh DEB
# DEB is the package under test: the image holds the packages it depends on, so that apt
# installs it offline, but not the package itself. The image is kept under
# ${XDG_CACHE_HOME:-~/.cache}/orbinwash/system-vm/KEY, KEY a digest of this script, the
# files under image/, the package list and the apt sources; a new key replaces older images.
# Needs root (or sudo): mmdebstrap's root mode keeps the files' owners.
set -euo pipefail

die() { echo "system-image: $*" >&2; exit 1; }

[[ $# -eq 1 && -f $1 ]] || die "usage: $0 DEB"
deb=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
for tool in mmdebstrap mkfs.ext4 dpkg-deb sha256sum; do
    command -v "$tool" >/dev/null || die "$tool is missing (scripts/install-deps.sh system installs it)"
done

# A user's machine: systemd with logind and pam_systemd, the system bus, polkit, udev. Then
# what the checks need: uinput devices and their readers, bus calls, chvt, an X server and
# key presses for the installed app.
packages=(
    systemd systemd-sysv dbus dbus-user-session polkitd libpam-systemd udev kmod passwd
    linux-image-amd64 initramfs-tools zstd
    kbd python3 python3-evdev python3-dbus python3-gi xvfb xdotool
)
# The package's own dependencies, first of each alternative, without versions.
mapfile -t depends < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' \
    | sed -E 's/\|.*//; s/\(.*\)//; s/[[:space:]]//g' | grep -v '^$' | sort -u)
packages+=("${depends[@]}")

# The host's own mirror when it serves bookworm; otherwise mmdebstrap's default, which is
# deb.debian.org with bookworm's updates and security suites.
sources=/etc/apt/sources.list.d/debian.sources
mirror=()
if [[ -r $sources ]] && grep -qw bookworm "$sources"; then
    mirror=("$sources")
fi

key=$( {
    cat "$0"
    (cd "$here/image" && find . -type f | LC_ALL=C sort | xargs sha256sum)
    printf '%s\n' "${packages[@]}"
    [[ ${#mirror[@]} -eq 0 ]] || cat "$sources"
} | sha256sum | cut -c1-16)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/orbinwash/system-vm
image=$cache/$key
if [[ -f $image/rootfs.img && -f $image/vmlinuz && -f $image/initrd.img ]]; then
    echo "system-image: using the cached image $image" >&2
    echo "$image"
    exit 0
fi

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
start=$SECONDS
mkdir -p "$cache"
work=$(mktemp -d "$cache/build.XXXXXX")
trap '$sudo rm -rf "$work"' EXIT
echo "system-image: building $image with mmdebstrap (${#packages[@]} packages asked for)" >&2
# Directory output: mkfs.ext4 then copies it with its owners into the image.
$sudo mmdebstrap --mode=root --variant=apt --format=directory \
    --aptopt='Acquire::Retries "3"' \
    --include="$(IFS=,; echo "${packages[*]}")" \
    --essential-hook="\"$here/image/customize.sh\" essential \"\$1\"" \
    --customize-hook="\"$here/image/customize.sh\" customize \"\$1\"" \
    bookworm "$work/root" "${mirror[@]}" >&2 || die "mmdebstrap failed"

kernels=("$work"/root/boot/vmlinuz-*)
initrds=("$work"/root/boot/initrd.img-*)
[[ ${#kernels[@]} -eq 1 && -f ${kernels[0]} && ${#initrds[@]} -eq 1 && -f ${initrds[0]} ]] \
    || die "expected one kernel and one initramfs in the image's /boot"
$sudo install -m 0644 -o "$(id -u)" "${kernels[0]}" "$work/vmlinuz"
$sudo install -m 0644 -o "$(id -u)" "${initrds[0]}" "$work/initrd.img"
# Room for the package, its files and the logs of a run; the run writes to a snapshot.
used=$($sudo du -sm "$work/root" | cut -f1)
$sudo mkfs.ext4 -q -F -L orbinwash-vm -d "$work/root" "$work/rootfs.img" "$((used * 5 / 4 + 512))M" \
    || die "mkfs.ext4 failed"
$sudo chown "$(id -u):$(id -g)" "$work/rootfs.img"
$sudo rm -rf "$work/root"

# Only the newest image is kept; one that another run finished first stays.
find "$cache" -mindepth 1 -maxdepth 1 -not -name 'build.*' -not -path "$image" -exec $sudo rm -rf {} +
mv -T "$work" "$image" 2>/dev/null || rm -rf "$work"
trap - EXIT
echo "system-image: built in $((SECONDS - start)) s ($((used)) MB of files)" >&2
echo "$image"
