#!/bin/sh
# mmdebstrap's hooks for the full-system image, run as root outside the chroot.
#   customize.sh essential ROOT   before the packages are installed: the files under files/
#                                 (the initramfs settings must be there when the kernel's is made)
#   customize.sh customize ROOT   after: the users, the units and what the boot needs
set -eu
phase=$1
root=$2
here=$(dirname "$0")

case $phase in
essential)
    (cd "$here/files" && find . -type f) | while read -r file; do
        install -D -m 0644 "$here/files/$file" "$root/$file"
    done
    ;;
customize)
    echo orbinwash-vm >"$root/etc/hostname"
    # A fixed machine id: no first-boot questions, and every run boots the same system.
    chroot "$root" systemd-machine-id-setup
    chroot "$root" useradd --create-home --uid 1000 --shell /bin/bash tester
    chroot "$root" useradd --create-home --uid 1001 --shell /bin/bash stranger
    cat >>"$root/home/tester/.profile" <<'EOF'

# The full-system checks: the tty1 login hands its session to their agent.
if [ "$(tty)" = /dev/tty1 ] && [ -e /run/orbinwash-system/session_agent.py ]; then
    exec python3 /run/orbinwash-system/session_agent.py </dev/null
fi
EOF
    chroot "$root" systemctl set-default multi-user.target
    chroot "$root" systemctl enable orbinwash-system-checks.service
    # Nothing may hold dpkg's lock or wake up on its own while the checks run.
    chroot "$root" systemctl mask apt-daily.timer apt-daily-upgrade.timer dpkg-db-backup.timer \
        e2scrub_all.timer fstrim.timer
    ;;
*)
    echo "customize.sh: unknown phase $phase" >&2
    exit 2
    ;;
esac
