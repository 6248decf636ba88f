#!/usr/bin/env bash
# The lock overlay on a Wayland output, with the hold bar part way: OrbinWash in a headless
# sway, locked with Return against the tests' mock input guard on a private bus, taken
# with grim. The same pieces as the Wayland tests; sway refuses root, so as root the
# compositor, the app and the tools run as nobody.
# Usage: wayland-screenshot.sh BUILD_DIR OUTPUT.png
set -euo pipefail
build=$(realpath "$1")
out="$2"
src=$(realpath "$(dirname "$0")/..")
guard=com.orbinlabs.OrbinWash.InputGuard

home=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait; rm -rf "$home"' EXIT
mkdir -p "$home/bin" "$home/config/OrbinWash" "$home/run"
chmod 700 "$home/run"
echo '{"OWOnboarded": true, "OWMenuBarMode": false}' > "$home/config/OrbinWash/defaults.json"
cp "$build/app/orbinwash" "$build/app/orbinwash-watchdog" "$build/app/orbinwash-fetch" "$src/tests/wayland/sway.config" "$home/bin/"

as_user=()
if [[ $(id -u) -eq 0 ]]; then
    chown -R 65534:65534 "$home"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
unset DISPLAY WAYLAND_DISPLAY
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/run" LANGUAGE=en QT_QPA_PLATFORM=wayland \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1

# Polls a command for up to ten seconds.
until_true() {
    for _ in $(seq 100); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "wayland-screenshot: gave up waiting for: $*" >&2
    tail -n 20 "$home"/*.log >&2
    return 1
}
# A call on the private bus, in Debian's python-dbus (which dbusmock brings).
bus_call() {
    /usr/bin/python3 -c 'import dbus, sys
bus = dbus.bus.BusConnection(sys.argv[1])
exec(sys.argv[2])' "$DBUS_SYSTEM_BUS_ADDRESS" "$1"
}

"${as_user[@]}" sway -c "$home/bin/sway.config" >"$home/sway.log" 2>&1 &
until_true compgen -G "$home/run/sway-ipc.*.sock"
until_true compgen -G "$home/run/wayland-?"
SWAYSOCK=$(compgen -G "$home/run/sway-ipc.*.sock") WAYLAND_DISPLAY=$(basename "$(compgen -G "$home/run/wayland-?")")
export SWAYSOCK WAYLAND_DISPLAY
# The size of the X screenshots.
"${as_user[@]}" swaymsg 'output * mode 1280x800' >/dev/null

dbus-daemon --config-file="$src/tests/wayland/system-bus.conf" --nofork --print-address=1 >"$home/bus" 2>"$home/bus.log" &
until_true test -s "$home/bus"
DBUS_SYSTEM_BUS_ADDRESS=$(head -n1 "$home/bus")
export DBUS_SYSTEM_BUS_ADDRESS
/usr/bin/python3 -m dbusmock --template "$src/tests/support/input_guard_mock.py" >/dev/null &
until_true bus_call "assert bus.name_has_owner('$guard')"

"${as_user[@]}" "$home/bin/orbinwash" >"$home/app.log" 2>&1 &
# Whether sway shows one of the app's windows, full screen or not (0 or 1).
app_shown() {
    "${as_user[@]}" swaymsg -t get_tree | /usr/bin/python3 -c 'import json, sys
def shown(node):
    return (node.get("app_id") == "orbinwash" and node["fullscreen_mode"] == int(sys.argv[1])
            or any(shown(child) for child in node["nodes"] + node["floating_nodes"]))
sys.exit(not shown(json.load(sys.stdin)))' "$1"
}
until_true app_shown 0
# wtype's keyboard appears first: a key sent with it would come before the app has a keyboard.
"${as_user[@]}" wtype -s 300 -k Return
until_true app_shown 1
shoot() { "${as_user[@]}" grim - >"$1"; }
shoot "$home/before.png"
bus_call "bus.get_object('$guard', '/com/orbinlabs/OrbinWash/InputGuard').EmitSignal(
    '', 'Progress', 'd', [dbus.Double(0.4)], dbus_interface='org.freedesktop.DBus.Mock')"
# The bar has moved and the hint has faded in once two frames in a row agree and differ
# from the one before the signal; a busy machine may take a while.
settled() {
    cp "$home/now.png" "$home/last.png" 2>/dev/null
    sleep 0.3
    shoot "$home/now.png"
    ! cmp -s "$home/now.png" "$home/before.png" && cmp -s "$home/now.png" "$home/last.png"
}
until_true settled
cp "$home/now.png" "$out"
echo "wayland-screenshot: wrote $out"
