#!/usr/bin/python3
"""Runs in the tty1 login of the test user, in place of its shell: starts programs for the
checks inside this session, as the user would from a terminal there. The checks connect to
an abstract socket and send one request each: a JSON object with "argv" and "env" (added to
the session's environment), and three descriptors for the program's stdin, stdout and
stderr. The answer is the program's process id, as JSON. Each program leads a process group
of its own, so that the checks can end it with its children."""

import json
import os
import signal
import socket

ADDRESS = "\0orbinwash-system-agent"


def spawn(request, fds):
    environment = dict(os.environ)
    environment.update(request.get("env", {}))
    actions = [(os.POSIX_SPAWN_DUP2, fd, target) for target, fd in enumerate(fds)]
    # The agent leaves its children to the kernel; theirs are theirs to wait for.
    return os.posix_spawnp(request["argv"][0], request["argv"], environment,
                           file_actions=actions, setpgroup=0, setsigdef=[signal.SIGCHLD])


def main():
    # Children are reaped by the kernel: the checks watch them by their process id.
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(ADDRESS)
    server.listen()
    while True:
        connection, _ = server.accept()
        with connection:
            message, fds, _, _ = socket.recv_fds(connection, 65536, 3)
            if not message:  # the checks looking for the agent
                continue
            try:
                answer = {"pid": spawn(json.loads(message), fds)}
            except (OSError, ValueError, KeyError) as error:
                answer = {"error": str(error)}
            finally:
                for fd in fds:
                    os.close(fd)
            try:
                connection.sendall(json.dumps(answer).encode())
            except OSError:
                pass


if __name__ == "__main__":
    main()
