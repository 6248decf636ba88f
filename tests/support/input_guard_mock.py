'''A python-dbusmock template standing in for the input guard on the system bus.

Lock hands out one end of a socketpair and keeps the other, so that Lease can tell whether
the app's end is still open, and how often Release was asked. The parameter "can-lock" is
the body of CanLock.
'''
BUS_NAME = 'com.orbinlabs.OrbinWash.InputGuard'
MAIN_OBJ = '/com/orbinlabs/OrbinWash/InputGuard'
MAIN_IFACE = 'com.orbinlabs.OrbinWash.InputGuard1'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ('CanLock', '', 'bs', parameters.get('can-lock', "ret = (True, '')")),
        ('Lock', 'a{sv}', 'h',
         "hold, timeout = args[0]['hold-seconds'], args[0]['timeout-seconds']\n"
         "assert type(hold) is dbus.UInt32 and type(timeout) is dbus.UInt32\n"
         "import socket\nmine, theirs = socket.socketpair()\nself.lease = mine\n"
         "ret = dbus.types.UnixFd(theirs)\ntheirs.close()"),
        ('Release', '', '', "self.releases = getattr(self, 'releases', 0) + 1"),
        ('Lease', '', 'bu',
         "import select\n"
         "held = hasattr(self, 'lease') and not select.select([self.lease], [], [], 0)[0]\n"
         "ret = (held, getattr(self, 'releases', 0))"),
    ])
