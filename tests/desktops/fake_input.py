'''Types keys into KWin through its fake-input protocol, as a keyboard would.

Usage: fake_input.py HOLD_MS KEY... (Linux key codes, e.g. 28 for Return). Each key goes
down, stays down HOLD_MS and comes up. The protocol is spoken on the wire here, a few
requests of it, so that the test needs no client library or generated code.
'''
import os
import socket
import struct
import sys
import time

DISPLAY_ID, REGISTRY_ID, CALLBACK_ID, FAKE_INPUT_ID = 1, 2, 3, 4
# Requests by opcode: wl_display.sync 0, get_registry 1; wl_registry.bind 0;
# org_kde_kwin_fake_input.authenticate 0, keyboard_key 10 (version 4).
AUTHENTICATE, KEYBOARD_KEY = 0, 10


def string(text):
    data = text.encode() + b'\0'
    return struct.pack('<I', len(data)) + data + b'\0' * (-len(data) % 4)


class Connection:
    def __init__(self):
        path = os.path.join(os.environ['XDG_RUNTIME_DIR'], os.environ.get('WAYLAND_DISPLAY', 'wayland-0'))
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b''

    def send(self, obj, opcode, payload=b''):
        self.sock.sendall(struct.pack('<IHH', obj, opcode, 8 + len(payload)) + payload)

    def events(self):
        while True:
            while len(self.buffer) >= 8:
                obj, opcode, size = struct.unpack_from('<IHH', self.buffer)
                if len(self.buffer) < size:
                    break
                body, self.buffer = self.buffer[8:size], self.buffer[size:]
                yield obj, opcode, body
            chunk = self.sock.recv(65536)
            if not chunk:
                raise SystemExit('fake_input: the compositor closed the connection')
            self.buffer += chunk

    def roundtrip(self, on_event=lambda *event: None):
        self.send(DISPLAY_ID, 0, struct.pack('<I', CALLBACK_ID))
        for obj, opcode, body in self.events():
            if obj == DISPLAY_ID and opcode == 0:
                raise SystemExit('fake_input: protocol error %r' % body)
            if obj == CALLBACK_ID:
                return
            on_event(obj, opcode, body)


def main():
    hold = int(sys.argv[1]) / 1000
    keys = [int(key) for key in sys.argv[2:]]
    wl = Connection()
    wl.send(DISPLAY_ID, 1, struct.pack('<I', REGISTRY_ID))
    found = {}

    def on_global(obj, opcode, body):
        if obj == REGISTRY_ID and opcode == 0:
            name, length = struct.unpack_from('<II', body)
            interface = body[8:8 + length - 1].decode()
            version = struct.unpack_from('<I', body, 8 + length + (-length % 4))[0]
            found[interface] = (name, version)

    wl.roundtrip(on_global)
    if 'org_kde_kwin_fake_input' not in found:
        raise SystemExit('fake_input: the compositor offers no org_kde_kwin_fake_input')
    name, version = found['org_kde_kwin_fake_input']
    wl.send(REGISTRY_ID, 0, struct.pack('<I', name) + string('org_kde_kwin_fake_input')
            + struct.pack('<II', min(version, 4), FAKE_INPUT_ID))
    wl.send(FAKE_INPUT_ID, AUTHENTICATE, string('orbinwash tests') + string('types keys'))
    wl.roundtrip()
    for key in keys:
        for state in (1, 0):
            wl.send(FAKE_INPUT_ID, KEYBOARD_KEY, struct.pack('<II', key, state))
            wl.roundtrip()
            if state:
                time.sleep(hold)


if __name__ == '__main__':
    main()
