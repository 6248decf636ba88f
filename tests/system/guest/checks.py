#!/usr/bin/python3
"""The full-system checks, run as root by orbinwash-system-checks.service in the booted
Debian system. It installs the package with apt, makes two uinput keyboards and a mouse,
reads them as a compositor would, and tries the input guard (and the installed app) from
the callers a desktop has: programs of the tty1 session (started by its agent), of the
user's service manager, of no session, of another user. Each row prints one result line to
the second serial port, which the host's runner reads:
  1..N / ok K NAME (details) / not ok K NAME: why / N passed, M failed
Every row ends by checking that the session is free again: no device held, every key and
click reaching the readers."""

import json
import os
import random
import select
import signal
import socket
import subprocess
import sys
import time
import traceback

import evdev
from evdev import ecodes as e

HERE = os.path.dirname(os.path.abspath(__file__))
AGENT = "\0orbinwash-system-agent"
GUARD_UNIT = "orbinwash-inputguard.service"
GUARD_NAME = "com.orbinlabs.OrbinWash.InputGuard"
STRANGER = 1001
SLOW_POLKIT_RULE = "/etc/polkit-1/rules.d/10-orbinwash-checks-slow.rules"
SCREEN = (1024, 768)
# The whole run's bound, within the host's; each wait below has its own, shorter one.
DEADLINE_SECONDS = 600
RESULTS = open("/dev/ttyS1", "w", buffering=1) if os.path.exists("/dev/ttyS1") else sys.stdout


class Failed(Exception):
    pass


def check(ok, why):
    if not ok:
        raise Failed(why)


def report(line):
    print(line, file=RESULTS, flush=True)
    if RESULTS is not sys.stdout:
        print(line, flush=True)


def run(*argv, timeout=60):
    """A command's stdout; a failure names the command and what it said."""
    done = subprocess.run(argv, capture_output=True, text=True, timeout=timeout)
    check(done.returncode == 0, f"{' '.join(argv)} exited {done.returncode}: {done.stderr.strip()}")
    return done.stdout.strip()


def wait_until(condition, seconds, interval=0.1):
    """The condition's first true value within the time, else its last false one."""
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value or time.monotonic() > end:
            return value
        time.sleep(interval)


HUMAN = random.Random(7)


def human_hold():
    """A key stroke is down 50 to 400 ms, the same sequence every run."""
    return (50 + HUMAN.randrange(351)) / 1000


class Device:
    """A uinput device and the compositor's reader of its event node."""

    def __init__(self, name, mouse=False):
        self.name = name
        self.mouse = mouse
        capabilities = ({e.EV_REL: [e.REL_X, e.REL_Y], e.EV_KEY: [e.BTN_LEFT, e.BTN_RIGHT]} if mouse
                        else {e.EV_KEY: list(range(e.KEY_ESC, e.KEY_MICMUTE + 1))})
        self.uinput = evdev.UInput(capabilities, name=name, vendor=0x1209, product=2 if mouse else 1)
        if self.uinput.device:
            self.uinput.device.close()
        self.node = wait_until(self._node, 10)
        check(self.node, f"no event node for {name}")
        self.reader = evdev.InputDevice(self.node)

    def _node(self):
        for entry in os.listdir("/sys/class/input"):
            try:
                with open(f"/sys/class/input/{entry}/device/name") as file:
                    if entry.startswith("event") and file.read().strip() == self.name:
                        return "/dev/input/" + entry
            except OSError:
                pass
        return None

    def close(self):
        self.reader.close()
        self.uinput.close()

    def key(self, code, value):
        self.uinput.write(e.EV_KEY, code, value)
        self.uinput.syn()

    def tap(self, code):
        self.key(code, 1)
        time.sleep(human_hold())
        self.key(code, 0)

    def poke(self):
        """Some typing or pointing, as a person would; returns what a reader should get."""
        if self.mouse:
            self.uinput.write(e.EV_REL, e.REL_X, 7)
            self.uinput.write(e.EV_REL, e.REL_Y, -4)
            self.uinput.syn()
            self.tap(e.BTN_LEFT)
            return [(e.EV_REL, e.REL_X, 7), (e.EV_REL, e.REL_Y, -4), (e.EV_KEY, e.BTN_LEFT, 1),
                    (e.EV_KEY, e.BTN_LEFT, 0)]
        for code in (e.KEY_W, e.KEY_ENTER):
            self.tap(code)
        return [(e.EV_KEY, e.KEY_W, 1), (e.EV_KEY, e.KEY_W, 0), (e.EV_KEY, e.KEY_ENTER, 1),
                (e.EV_KEY, e.KEY_ENTER, 0)]

    def received(self):
        """What reached the reader since the last call, without reports and autorepeats."""
        got = []
        try:
            for event in self.reader.read():
                if event.type not in (e.EV_SYN, e.EV_MSC) and not (event.type == e.EV_KEY and event.value == 2):
                    got.append((event.type, event.code, event.value))
        except BlockingIOError:
            pass
        return got

    def is_free(self):
        """Nobody holds the device: our own grab succeeds, and is let go at once."""
        try:
            self.reader.grab()
        except OSError:
            return False
        self.reader.ungrab()
        return True

    def udev_seat(self):
        """The seat in udev's finished record of the node; None until udev has written it."""
        minor = os.minor(os.stat(self.node).st_rdev)
        try:
            with open(f"/run/udev/data/c13:{minor}") as record:
                lines = record.read().splitlines()
        except OSError:
            return None
        return next((line[len("E:ID_SEAT="):] for line in lines if line.startswith("E:ID_SEAT=")), "seat0")


def expect_input(devices, reaches):
    """Pokes every device; its reader must get all of it, or (while locked) nothing."""
    for device in devices:
        device.received()
        sent = device.poke()
        # The kernel hands the events to the readers as they are written.
        got = device.received()
        check(got == sent if reaches else not got, f"{device.name}: its reader got {len(got)} of {len(sent)} "
              f"events{'' if reaches else ' while locked'}")


class Program:
    """A program started for a check: its stdin, and its output read line by line."""

    def __init__(self, argv, *, session=None, uid=None, env=None):
        stdin_r, self.stdin = os.pipe()
        self.output, stdout_w = os.pipe()
        self.child = None
        try:
            if session:
                self.pid = session.spawn(argv, env or {}, [stdin_r, stdout_w, stdout_w])
            else:
                home = f"/home/{'stranger' if uid == STRANGER else 'tester'}"
                self.child = subprocess.Popen(argv, stdin=stdin_r, stdout=stdout_w, stderr=stdout_w,
                                              user=uid, group=uid, extra_groups=[], start_new_session=True,
                                              env={"PATH": "/usr/bin:/bin", "HOME": home, **(env or {})})
                self.pid = self.child.pid
        finally:
            os.close(stdin_r)
            os.close(stdout_w)
        os.set_blocking(self.output, False)
        self.lines = []
        self.taken = set()
        self.buffer = b""
        self.ended = False  # its output closed
        self.grace = 5

    def send(self, line):
        os.write(self.stdin, (line + "\n").encode())

    def _read(self, seconds):
        ready, _, _ = select.select([self.output], [], [], max(seconds, 0))
        if not ready:
            return False
        chunk = os.read(self.output, 65536)
        self.ended = not chunk
        self.buffer += chunk
        *complete, self.buffer = self.buffer.split(b"\n")
        self.lines += [line.decode(errors="replace") for line in complete]
        return bool(chunk)

    def next(self, prefixes, seconds):
        """The first line not taken yet that starts with one of the prefixes, said already or
        within the time; else None."""
        end = time.monotonic() + seconds
        while True:
            for index, line in enumerate(self.lines):
                if index not in self.taken and line.startswith(prefixes):
                    self.taken.add(index)
                    return line
            if not self._read(end - time.monotonic()) and (self.ended or time.monotonic() >= end):
                return None

    def said(self):
        self._read(0)
        return " | ".join(self.lines[-8:]) or "nothing"

    def alive(self):
        if self.child:
            return self.child.poll() is None
        try:
            os.kill(self.pid, 0)
            return True
        except ProcessLookupError:
            return False

    def kill(self):
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if self.child:
            self.child.wait(10)

    def stop(self):
        """Closes its stdin, then ends its process group if it has not left within its grace."""
        os.close(self.stdin)
        if not wait_until(lambda: not self.alive(), self.grace):
            self.kill()
        os.close(self.output)


class LockClient(Program):
    """lock_client.py: the guard's caller, answering each command with one line."""

    def __init__(self, rig, where, *, uid=1000, cgroup=None):
        argv = ["python3", f"{HERE}/lock_client.py"]
        if where == "user manager":
            argv = ["systemd-run", "--user", "--quiet", "--pipe", "--wait", "--collect"] + argv
        super().__init__(argv, session=rig.session if where != "system" else None, uid=uid)
        rig.programs.append(self)
        ready = self.next(("ready",), 60)
        check(ready, f"the lock client did not start ({where}): {self.said()}")
        # Under systemd-run the client is not the process started here.
        client = ready.split()[1]
        if cgroup:
            # Where `sudo -u` or a set-uid program leaves a process: in the session's scope.
            with open(f"/sys/fs/cgroup{cgroup}/cgroup.procs", "w") as procs:
                procs.write(client)
        with open(f"/proc/{client}/cgroup") as file:
            self.cgroup = file.read().strip().split("::", 1)[1]

    def ask(self, command, seconds=90):
        self.send(command)
        answer = self.next(("canlock ", "locked", "closed", "error"), seconds)
        check(answer, f"no answer to {command} within {seconds} s: {self.said()}")
        return answer

    def can_lock(self):
        """Whether CanLock said yes, and its why (or the error)."""
        answer = self.ask("canlock")
        words = answer.split()
        return words[:2] == ["canlock", "yes"], " ".join(words[2:]) if words[0] == "canlock" else answer

    def try_lock(self):
        """Lock's answer for a 1 s hold and a 2-minute timeout."""
        return self.ask("lock 1 120")

    def lock(self):
        check(self.try_lock() == "locked", f"Lock failed: {self.said()}")

    def close_lease(self):
        """Closes its end of the lease; the guard must say the lock is over."""
        self.ask("close")
        check(self.heard("released client-gone", 5), f"no release after the lease closed: {self.said()}")

    def heard(self, line, seconds):
        return self.next((line,), seconds)


class Session:
    """The tty1 login's session, through the agent its login shell became."""

    def __init__(self):
        self.agent_pid = None
        wait_until(self._find_agent, 180, interval=0.5)
        check(self.agent_pid, "the tty1 login's agent never came up")
        with open(f"/proc/{self.agent_pid}/environ", "rb") as environ:
            pairs = [item.split(b"=", 1) for item in environ.read().split(b"\0") if b"=" in item]
        self.env = {key.decode(): value.decode() for key, value in pairs}
        with open(f"/proc/{self.agent_pid}/cgroup") as cgroup:
            self.cgroup = cgroup.read().strip().split("::", 1)[1]
        self.id = self.env.get("XDG_SESSION_ID", "")
        wait_until(lambda: self.state()["Active"] == "yes", 30)
        state = self.state()
        check(state == {"Active": "yes", "Remote": "no", "Seat": "seat0", "VTNr": "1"},
              f"session {self.id} is not an active local session on seat0's tty1: {state}")

    def _find_agent(self):
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
                probe.connect(AGENT)
                credentials = probe.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, 12)
                self.agent_pid = int.from_bytes(credentials[:4], "little")
            return True
        except OSError:
            return False

    def state(self):
        fields = run("loginctl", "show-session", self.id, "-p", "Active", "-p", "Remote", "-p", "Seat",
                     "-p", "VTNr")
        return dict(line.split("=", 1) for line in fields.splitlines())

    def spawn(self, argv, env, fds):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.connect(AGENT)
            socket.send_fds(connection, [json.dumps({"argv": argv, "env": env}).encode()], fds)
            answer = json.loads(connection.recv(4096))
        check("pid" in answer, f"the session's agent could not start {argv[0]}: {answer.get('error')}")
        return answer["pid"]


def guard_state():
    return run("systemctl", "show", GUARD_UNIT, "-p", "ActiveState", "--value")


def guard_pid():
    return int(run("systemctl", "show", GUARD_UNIT, "-p", "MainPID", "--value"))


def stop_guard():
    run("systemctl", "stop", GUARD_UNIT)
    subprocess.run(["systemctl", "reset-failed", GUARD_UNIT], capture_output=True)
    check(wait_until(lambda: guard_state() == "inactive", 10), f"the guard is {guard_state()} after a stop")


def slow_polkit(on):
    """polkit answering about the lock action a second late, as on a loaded machine, or not."""
    if on:
        with open(SLOW_POLKIT_RULE, "w") as rule:
            rule.write('polkit.addRule(function(action, subject) {\n'
                       '    if (action.id == "com.orbinlabs.OrbinWash.InputGuard.lock")\n'
                       '        polkit.spawn(["/usr/bin/sleep", "1"]);\n'
                       '});\n')
    else:
        os.remove(SLOW_POLKIT_RULE)
    run("systemctl", "restart", "polkit.service")


def chvt(number, session, active):
    run("chvt", str(number))
    check(wait_until(lambda: session.state()["Active"] == ("yes" if active else "no"), 15),
          f"session {session.id} is not {'active' if active else 'inactive'} after chvt {number}")


class Rig:
    def __init__(self):
        self.session = Session()
        self.keyboard = Device("orbinwash vm keyboard")
        self.keypad = Device("orbinwash vm second keyboard")
        self.mouse = Device("orbinwash vm mouse", mouse=True)
        self.late = []      # devices made during a row, gone after it
        self.programs = []  # programs of a row, stopped after it
        self.xvfb = None
        self.display = None

    def devices(self):
        return [self.keyboard, self.keypad, self.mouse] + self.late

    def client(self, where="session", **options):
        return LockClient(self, where, **options)

    def hold_chord(self, until):
        """Left Ctrl on one keyboard and right Ctrl on the other, held until the condition's
        first true value (or 8 s); returns it."""
        self.keyboard.key(e.KEY_LEFTCTRL, 1)
        time.sleep(0.08)
        self.keypad.key(e.KEY_RIGHTCTRL, 1)
        try:
            return wait_until(until, 8)
        finally:
            self.keypad.key(e.KEY_RIGHTCTRL, 0)
            self.keyboard.key(e.KEY_LEFTCTRL, 0)

    def start_display(self):
        """An X server of the session, as its display manager would start it; its display name."""
        if self.xvfb and not self.xvfb.alive():
            raise Failed(f"Xvfb has gone: {self.xvfb.said()}")
        if not self.xvfb:
            # Xvfb prints the display's number once it accepts clients. It stays as it is
            # when its last client leaves: a reset then would turn the next app away.
            self.xvfb = Program(["Xvfb", "-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0",
                                 f"{SCREEN[0]}x{SCREEN[1]}x24"], session=self.session)
            number = self.xvfb.next(tuple("0123456789"), 60)
            check(number, f"Xvfb did not start: {self.xvfb.said()}")
            self.display = ":" + number.strip()
        return self.display

    def end_row(self):
        for program in self.programs:
            program.stop()
        self.programs.clear()
        free = wait_until(lambda: all(device.is_free() for device in self.devices()), 5)
        held = [device.name for device in self.devices() if not device.is_free()]
        try:
            check(free, f"still held after the row: {', '.join(held)}")
            expect_input(self.devices(), reaches=True)
        finally:
            for device in self.late:
                device.close()
            self.late.clear()


# The installed app, as the tty1 user starts it on an X display.

def xdotool(app, *arguments):
    done = subprocess.run(["xdotool", *arguments], capture_output=True, text=True, timeout=30,
                          env={"DISPLAY": app.display, "PATH": "/usr/bin:/bin"})
    return done.stdout.split() if done.returncode == 0 else []


def app_windows(app):
    """The app's visible windows, as (id, name, full screen)."""
    windows = []
    for window in xdotool(app, "search", "--onlyvisible", "--pid", str(app.pid)):
        geometry = dict(item.split("=") for item in xdotool(app, "getwindowgeometry", "--shell", window))
        size = (int(geometry.get("WIDTH", 0)), int(geometry.get("HEIGHT", 0)))
        name = " ".join(xdotool(app, "getwindowname", window))
        windows.append((window, name, size == SCREEN))
    return windows


def main_window(app):
    return next((window for window, name, full in app_windows(app) if name == "OrbinWash" and not full), None)


def overlay_up(app):
    return any(full for _, _, full in app_windows(app))


def start_app(rig):
    display = rig.start_display()
    config = "/home/tester/.config/OrbinWash"
    os.makedirs(config, exist_ok=True)
    with open(f"{config}/defaults.json", "w") as defaults:
        json.dump({"OWOnboarded": True, "OWMenuBarMode": False, "OWHoldSecondsUser": 1}, defaults)
    subprocess.run(["chown", "-R", "tester:tester", "/home/tester/.config"], check=True)
    app = Program(["orbinwash"], session=rig.session, env={"DISPLAY": display, "LANGUAGE": "en"})
    app.display = display
    app.grace = 0
    rig.programs.append(app)
    check(wait_until(lambda: main_window(app), 60, interval=0.5),
          f"the main window of orbinwash did not show: {app.said()}")
    return app


def lock_app(rig, app, command):
    """Locks the running app as a person does: `orbinwash --lock` run in the session (a
    launcher's action or a desktop's shortcut), whose exit status says the lock holds; or
    Return held on its window."""
    if command:
        lock = Program(["sh", "-c", 'orbinwash --lock; echo "exit $?"'], session=rig.session,
                       env={"DISPLAY": app.display, "LANGUAGE": "en"})
        rig.programs.append(lock)
        status = lock.next(("exit ",), 30)
        check(status == "exit 0", f"orbinwash --lock: {lock.said()}")
    else:
        xdotool(app, "windowfocus", "--sync", main_window(app))
        xdotool(app, "keydown", "Return")
        time.sleep(0.15)
        xdotool(app, "keyup", "Return")
    check(wait_until(lambda: overlay_up(app), 30, interval=0.5),
          f"orbinwash showed no overlay: {app.said()}")
    check(guard_state() == "active", f"orbinwash locked while the guard is {guard_state()}")
    try:
        expect_input(rig.devices(), reaches=False)
    except Failed as failure:
        raise Failed(f"orbinwash shows its overlay but did not lock through the guard ({failure}); "
                     f"its output: {app.said()}")


# The rows: each one a check with its own steps.

def first_call(rig):
    check(guard_state() == "inactive", f"the guard is {guard_state()} before anyone asked for it")
    client = rig.client()
    start = time.monotonic()
    allowed, why = client.can_lock()
    took = time.monotonic() - start
    check(allowed, f"CanLock answered no ({why}) in the active tty1 session")
    check(guard_state() == "active", f"the guard's unit is {guard_state()} after the first call")
    owner = run("busctl", "call", "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "GetConnectionUnixProcessID", "s", GUARD_NAME).split()[-1]
    check(int(owner) == guard_pid(), f"the bus name is owned by {owner}, the unit runs {guard_pid()}")
    exe = os.readlink(f"/proc/{owner}/exe")
    check(exe == "/usr/libexec/orbinwash/orbinwash-inputguard", f"the bus name's owner runs {exe}")
    return f"a cold start answered CanLock in {took * 1000:.0f} ms"


def chord_over_two_keyboards(rig):
    client = rig.client()
    client.lock()
    expect_input(rig.devices(), reaches=False)
    start = time.monotonic()
    released = rig.hold_chord(lambda: client.heard("released", 0.05))
    check(released == "released chord", f"the chord did not release: {client.said()}")
    check(any(line.startswith("progress") for line in client.lines), "no progress while the chord was held")
    return f"released {(time.monotonic() - start) * 1000:.0f} ms into a 1 s hold"


def lease_closed(rig):
    client = rig.client()
    client.lock()
    expect_input(rig.devices(), reaches=False)
    client.close_lease()


def caller_killed(rig):
    client = rig.client()
    client.lock()
    client.kill()
    start = time.monotonic()
    check(wait_until(lambda: all(device.is_free() for device in rig.devices()), 5),
          "the devices are still held 5 s after the caller was killed")
    return f"free {(time.monotonic() - start) * 1000:.0f} ms after"


def guard_killed(rig):
    client = rig.client()
    client.lock()
    os.kill(guard_pid(), signal.SIGKILL)
    check(wait_until(lambda: all(device.is_free() for device in rig.devices()), 3),
          "the devices are still held 3 s after the guard was killed")
    stop_guard()


def user_manager_caller(rig):
    client = rig.client("user manager")
    allowed, why = client.can_lock()
    check(allowed, f"CanLock answered no ({why}) to a program of the user's service manager ({client.cgroup})")
    client.lock()
    expect_input(rig.devices(), reaches=False)
    client.close_lease()


def refused(rig, client, who):
    allowed, why = client.can_lock()
    check(not allowed, f"CanLock answered yes to {who} ({client.cgroup})")
    answer = client.try_lock()
    check(answer.startswith("error"), f"Lock answered {answer} to {who} ({client.cgroup})")
    expect_input(rig.devices(), reaches=True)
    return f"CanLock: {why}; Lock: {answer.split()[-1].rsplit('.', 1)[-1]}"


def no_session_caller(rig):
    return refused(rig, rig.client("system", uid=STRANGER), "a user without a session")


def other_uid_in_session(rig):
    client = rig.client("system", uid=STRANGER, cgroup=rig.session.cgroup)
    return refused(rig, client, "another user's process in the tty1 session")


def inactive_session(rig):
    client = rig.client()
    chvt(2, rig.session, active=False)
    try:
        note = refused(rig, client, "the tty1 session while tty2 is in front")
    finally:
        chvt(1, rig.session, active=True)
    client.lock()
    chvt(2, rig.session, active=False)
    try:
        check(client.heard("released session-inactive", 5), f"the lock outlived the VT switch: {client.said()}")
    finally:
        chvt(1, rig.session, active=True)
    return note


def other_seat_device(rig):
    client = rig.client()
    client.lock()
    # seat1's first: by the time the guard has taken the seat0 one, it has seen both appear.
    rig.late.append(Device("orbinwash seat1 keyboard"))
    rig.late.append(Device("orbinwash seat0 late keyboard"))
    other, ours = rig.late
    check(wait_until(lambda: other.udev_seat() == "seat1" and ours.udev_seat() == "seat0", 10),
          f"udev gave the new keyboards seats {other.udev_seat()} and {ours.udev_seat()}")

    def taken():
        ours.received()
        ours.poke()
        return not ours.received()

    check(wait_until(taken, 5), "a seat0 keyboard made during the lock was not taken")
    try:
        expect_input([other], reaches=True)
    except Failed as failure:
        raise Failed(f"the guard took a keyboard of seat1 ({failure})")
    client.close_lease()


def app_cold_start(rig):
    app = start_app(rig)
    # The lock finds the guard not running, and each of its answers takes a second.
    slow_polkit(True)
    try:
        start = time.monotonic()
        check(rig.client().can_lock()[0] and time.monotonic() - start >= 1, "polkit's slow rule did not take")
        stop_guard()
        lock_app(rig, app, command=True)
    finally:
        slow_polkit(False)
    start = time.monotonic()
    check(rig.hold_chord(lambda: not overlay_up(app)), "the overlay stayed up while Ctrl was held on two keyboards")
    check(wait_until(lambda: main_window(app), 5, interval=0.5), "the main window did not come back")
    return f"overlay gone {(time.monotonic() - start) * 1000:.0f} ms into a 1 s hold"


def app_guard_killed(rig):
    # The guard runs already: only its death is tried here, not a cold start.
    warm = rig.client()
    check(warm.can_lock()[0], f"CanLock answered no: {warm.said()}")
    app = start_app(rig)
    lock_app(rig, app, command=False)
    os.kill(guard_pid(), signal.SIGKILL)
    check(wait_until(lambda: all(device.is_free() for device in rig.devices()), 3),
          "the devices are still held 3 s after the guard was killed")
    start = time.monotonic()
    check(wait_until(lambda: not overlay_up(app), 10, interval=0.5),
          "orbinwash's overlay is still up 10 s after the guard died")
    check(wait_until(lambda: main_window(app), 5, interval=0.5), "the main window did not come back")
    stop_guard()
    return f"overlay gone {(time.monotonic() - start) * 1000:.0f} ms after the guard died"


ROWS = [
    ("systemd starts the guard on the first call", first_call),
    ("locked, nothing reaches the readers; Ctrl on two keyboards releases", chord_over_two_keyboards),
    ("closing the lease releases", lease_closed),
    ("killing the caller releases", caller_killed),
    ("killing the guard frees every device", guard_killed),
    ("a program of the user's service manager (systemd-run --user) may lock", user_manager_caller),
    ("a user without a session may not lock", no_session_caller),
    ("another user's process in the session may not lock", other_uid_in_session),
    ("an inactive session may not lock; a lock ends when its VT goes", inactive_session),
    ("a keyboard of another seat made during a lock stays free", other_seat_device),
    ("orbinwash --lock locks through a guard that starts cold and answers late", app_cold_start),
    ("orbinwash locked with Return lets go when the guard dies", app_guard_killed),
]


def chosen_rows():
    """Every row, or only those numbered in rows.txt (OW_SYSTEM_VM_ROWS on the host)."""
    try:
        with open(f"{HERE}/rows.txt") as file:
            return [ROWS[int(number) - 1] for number in file.read().split(",")]
    except FileNotFoundError:
        return ROWS


def install_package():
    debs = [name for name in os.listdir(HERE) if name.endswith(".deb")]
    check(len(debs) == 1, f"expected one package in {HERE}, found {debs}")
    start = time.monotonic()
    done = subprocess.run(["apt-get", "install", "--yes", f"{HERE}/{debs[0]}"], capture_output=True, text=True,
                          timeout=300, env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"})
    check(done.returncode == 0, f"apt-get install failed: {done.stdout[-1500:]} {done.stderr[-1500:]}")
    return time.monotonic() - start


expired = False


def on_deadline(*_):
    global expired
    expired = True
    raise Failed(f"the checks ran out of their {DEADLINE_SECONDS} s")


def main():
    signal.signal(signal.SIGALRM, on_deadline)
    signal.alarm(DEADLINE_SECONDS)
    rows = chosen_rows()
    report(f"1..{len(rows)}")
    passed = 0
    try:
        seconds = install_package()
        report(f"# apt installed the package offline in {seconds:.1f} s")
        rig = Rig()
        report(f"# session {rig.session.id} of tester is active and local on seat0's tty1 ({rig.session.cgroup})")
    except Exception as failure:
        for number, (name, _) in enumerate(rows, 1):
            report(f"not ok {number} {name}: not run, the setup failed: {failure}")
        traceback.print_exc()
        report(f"0 passed, {len(rows)} failed")
        return 1
    for number, (name, row) in enumerate(rows, 1):
        if expired:
            report(f"not ok {number} {name}: not run, out of time")
            continue
        start = time.monotonic()
        try:
            try:
                note = row(rig)
            finally:
                rig.end_row()
            took = f"{time.monotonic() - start:.1f} s" + (f"; {note}" if note else "")
            report(f"ok {number} {name} ({took})")
            passed += 1
        except Exception as failure:
            report(f"not ok {number} {name}: {failure}")
            traceback.print_exc()
            # The next row starts from a guard that is not running.
            subprocess.run(["systemctl", "stop", GUARD_UNIT], capture_output=True, timeout=60)
            subprocess.run(["systemctl", "reset-failed", GUARD_UNIT], capture_output=True, timeout=60)
    report(f"{passed} passed, {len(rows) - passed} failed")
    return 0 if passed == len(rows) else 1


if __name__ == "__main__":
    status = main()
    # Off at once: the host's runner waits for the machine to stop. A driver that dies
    # before this point fails its unit, whose FailureAction stops the machine instead.
    subprocess.run(["systemctl", "poweroff", "--force"])
    sys.exit(status)
