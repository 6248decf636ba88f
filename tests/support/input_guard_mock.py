'''A python-dbusmock template standing in for the input guard on the system bus.

Lock hands out one end of a socketpair and keeps the other, so that Lease can tell whether
the app's end is still open, and how often Release was asked. The parameter "can-lock" is
the body of CanLock. HangUp closes the guard's end as a dying guard's does; LetGo closes it
and says why a moment later, as the real guard's reason follows its hang-up through the bus;
HandOver gives the caller a copy of it.
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
        ('HangUp', '', '', "self.lease.close()"),
        ('LetGo', '', '', "self.lease.close()\nimport time\ntime.sleep(0.3)\n"
         "self.EmitSignal('%s', 'Released', 's', ['chord'])" % MAIN_IFACE),
        ('HandOver', '', 'h', "ret = dbus.types.UnixFd(self.lease)"),
        ('Lease', '', 'bu',
         "import select\n"
         "held = hasattr(self, 'lease') and self.lease.fileno() >= 0 and not select.select([self.lease], [], [], 0)[0]\n"
         "ret = (held, getattr(self, 'releases', 0))"),
    ])
