"""Ports and readiness checks on the loopback interface."""
import os
import socket
import time

LOOPBACK = "127.0.0.1"


def free_port():
    """A TCP port that nothing listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def wait_for_greeting(port, timeout, alive=lambda: True):
    """Connects until the peer sends a line starting with "+OK"; returns that
    line. Raises TimeoutError when nothing greets within `timeout` seconds or
    when `alive()` turns false (the process died)."""
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        if not alive():
            raise RuntimeError("the server process ended before it greeted")
        try:
            with socket.create_connection((LOOPBACK, port), timeout=2) as s:
                line = s.makefile("rb").readline()
                if line.startswith(b"+OK"):
                    s.sendall(b"QUIT\r\n")
                    return line
                last_error = f"unexpected greeting {line!r}"
        except OSError as e:
            last_error = str(e)
        time.sleep(0.05)
    raise TimeoutError(f"no POP3 greeting on port {port}: {last_error}")


def listening_inodes(port):
    """Inodes of the sockets that listen on the TCP port (IPv4 or IPv6),
    read from the kernel's tables, so the listener sees no client."""
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for row in f:
                    fields = row.split()
                    local, state = fields[1], fields[3]
                    if state == "0A" and int(local.rsplit(":", 1)[1], 16) == port:
                        inodes.add(fields[9])
        except OSError:
            continue
    return inodes


def socket_inodes(pid):
    """Inodes of the sockets that process `pid` holds."""
    inodes = set()
    folder = f"/proc/{pid}/fd"
    try:
        names = os.listdir(folder)
    except OSError:
        return inodes
    for name in names:
        try:
            target = os.readlink(os.path.join(folder, name))
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    return inodes


def wait_listening(port, pid, timeout):
    """Waits until process `pid` listens on the TCP port. Raises when the
    process ends, when another process holds the port, or on time-out."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not os.path.exists(f"/proc/{pid}"):
            raise RuntimeError("the process ended before it listened")
        inodes = listening_inodes(port)
        if inodes & socket_inodes(pid):
            return
        if inodes:
            raise PortTaken(f"another process listens on port {port}")
        time.sleep(0.02)
    raise TimeoutError(f"nothing listens on port {port} after {timeout} s")


class PortTaken(RuntimeError):
    pass
