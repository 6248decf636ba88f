#!/usr/bin/env bash
# Starts OrbinWash on the current display, or on a private Xvfb with a window manager
# when there is no display (a server or a CI machine).
set -euo pipefail
bin="$1"
shift

if [[ -n "${DISPLAY:-}" ]]; then
    exec "$bin" "$@"
fi

tmp=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$tmp"' EXIT
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$tmp/displayfd" &
for _ in $(seq 100); do
    [[ -s "$tmp/displayfd" ]] && break
    sleep 0.1
done
export DISPLAY=":$(tr -d '[:space:]' < "$tmp/displayfd")"
echo "No display: started Xvfb on $DISPLAY"
openbox >/dev/null 2>&1 &
"$bin" "$@"
