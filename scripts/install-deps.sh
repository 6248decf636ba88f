#!/usr/bin/env bash
# Installs the Debian packages OrbinWash needs to build, test and run, asking dpkg
# first so that a machine that has them all is left alone.
set -euo pipefail

packages=(
    cmake make g++ musl-tools clang libclang-rt-14-dev pkg-config
    qt6-base-dev qt6-wayland fonts-dejavu-core
    libx11-dev libx11-xcb-dev libxcb-sync-dev libxcb-xinput-dev libxcb-xtest0-dev libxcb-xfixes0-dev
    libxcb-screensaver0-dev libxi-dev libxtst-dev libxres-dev
    libgtest-dev qt6-httpserver-dev qt6-websockets-dev libssl-dev
    xvfb x11-xkb-utils openbox dbus-daemon python3-dbusmock trayer
    sway grim wtype weston
    librsvg2-bin dpkg-dev file desktop-file-utils appstream lintian
    libsystemd-dev libevdev-dev libudev-dev systemd dbus-system-bus-common
    qemu-system-x86 linux-image-amd64 busybox-static cpio
)
# `install-deps.sh bench` adds the lockers the benchmark measures OrbinWash against.
if [[ "${1:-}" == bench ]]; then
    packages+=(i3lock xtrlock suckless-tools)
fi
# `install-deps.sh desktops` adds the compositors of GNOME and KDE Plasma for their stage.
if [[ "${1:-}" == desktops ]]; then
    packages+=(gnome-shell gnome-shell-extension-appindicator kwin-wayland)
fi
# `install-deps.sh system` adds what builds the Debian system of the full-system stage.
if [[ "${1:-}" == system ]]; then
    packages+=(mmdebstrap e2fsprogs)
fi

missing=()
for pkg in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
