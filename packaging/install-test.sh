#!/usr/bin/env bash
# Installs the Debian package for real, starts the installed /usr/bin/orbinwash under a
# private Xvfb with a window manager and a fresh home (the end-to-end tests of test_x11),
# then purges the package and checks that nothing of it is left.
#
#   packaging/install-test.sh [make variables, e.g. WERROR=ON BUILD_DIR=build]
#
# Needs root (or sudo) for dpkg; run it after `make test`, which builds test_x11.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
for arg in "$@"; do
    if [[ "$arg" == BUILD_DIR=* ]]; then
        build_dir="${arg#BUILD_DIR=}"
    fi
done
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"

step() {
    echo "install-test: $* (${SECONDS} s so far)"
}
fail() {
    echo "install-test: FAILED: $*" >&2
    exit 1
}
# dpkg's status of the package: empty, or e.g. "install ok installed".
status() {
    dpkg-query -W -f='${Status}' orbinwash 2>/dev/null || true
}
# Gone: unknown to dpkg, or known as not installed with no configuration files left.
gone() {
    [[ -z "$(status)" || "$(status)" == *" not-installed" ]]
}

# A package installed by hand is not ours to remove.
gone || fail "orbinwash is already installed here ($(status)); remove it first: sudo dpkg --purge orbinwash"

step "building the package"
make package "$@"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
deb="$build_dir/orbinwash_${version}_$(dpkg --print-architecture).deb"
[[ -n "$version" && -f "$deb" ]] || fail "no package at $deb"
test_x11="$build_dir/tests/test_x11"
[[ -x "$test_x11" ]] || fail "$test_x11 is missing: run make test first"

work=$(mktemp -d)
# Whatever happens from here on, the machine is left without the package.
cleanup() {
    gone || $sudo dpkg --purge orbinwash >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

step "installing $deb"
if ! $sudo dpkg -i "$deb"; then
    echo "install-test: dpkg left dependencies missing; asking apt for them"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -qq --no-install-recommends
fi
[[ "$(status)" == "install ok installed" ]] || fail "orbinwash is not installed after dpkg -i"
dpkg -L orbinwash > "$work/files"

for path in /usr/bin/orbinwash /usr/share/applications/orbinwash.desktop \
    /usr/share/metainfo/com.orbinlabs.OrbinWash.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/orbinwash.svg \
    /usr/share/icons/hicolor/256x256/apps/orbinwash.png \
    /usr/share/man/man1/orbinwash.1.gz /usr/share/doc/orbinwash/copyright \
    /usr/libexec/orbinwash/orbinwash-inputguard /usr/libexec/orbinwash/orbinwash-fetch \
    /usr/share/dbus-1/system-services/com.orbinlabs.OrbinWash.InputGuard.service \
    /usr/share/dbus-1/system.d/com.orbinlabs.OrbinWash.InputGuard.conf \
    /usr/share/polkit-1/actions/com.orbinlabs.OrbinWash.InputGuard.policy \
    /usr/lib/systemd/system/orbinwash-inputguard.service; do
    [[ -e "$path" ]] || fail "$path was not installed"
done
desktop-file-validate /usr/share/applications/orbinwash.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.orbinlabs.OrbinWash.metainfo.xml >/dev/null
[[ "$(man -w orbinwash)" == /usr/share/man/man1/orbinwash.1.gz ]] || fail "man cannot find orbinwash(1)"
# The bus starts the guard through the unit, so the two must name the same program.
exec_line=$(sed -n 's/^ExecStart=//p' /usr/lib/systemd/system/orbinwash-inputguard.service)
[[ -x "$exec_line" ]] || fail "the guard's unit starts $exec_line, which is not installed"
grep -qx "Exec=$exec_line" /usr/share/dbus-1/system-services/com.orbinlabs.OrbinWash.InputGuard.service \
    || fail "the bus activation file does not start $exec_line"

step "starting the installed /usr/bin/orbinwash"
mkdir "$work/home"
HOME="$work/home" ORBINWASH_UNDER_TEST=/usr/bin/orbinwash \
    "$test_x11" --gtest_filter='AppEndToEnd*' || fail "the installed OrbinWash did not pass the end-to-end tests"

step "removing the package"
$sudo dpkg --purge orbinwash
gone || fail "dpkg still has orbinwash after the purge: $(status)"
left=0
while IFS= read -r path; do
    [[ -z "$path" || "$path" == "/." ]] && continue
    if [[ -d "$path" && ! -L "$path" ]]; then
        # Shared folders (/usr/share/applications, the icon theme's) stay; ours must go.
        if [[ "${path,,}" == *orbinwash* ]]; then
            echo "left behind: $path/" >&2
            left=1
        fi
    elif [[ -e "$path" || -L "$path" ]]; then
        echo "left behind: $path" >&2
        left=1
    fi
done < "$work/files"
if compgen -G "/var/lib/dpkg/info/orbinwash.*" >/dev/null; then
    echo "left behind: dpkg's records in /var/lib/dpkg/info/orbinwash.*" >&2
    left=1
fi
[[ $left -eq 0 ]] || fail "files of the package are still on disk"

step "done: installed, started, locked and removed without a trace"
