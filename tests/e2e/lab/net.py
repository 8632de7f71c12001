"""Ports and readiness checks on the loopback interface."""
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


def is_listening(port):
    """True when some socket listens on the TCP port (IPv4 or IPv6). Reads the
    kernel's tables instead of connecting, so the listener sees no client."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for row in f:
                    fields = row.split()
                    local, state = fields[1], fields[3]
                    if state == "0A" and int(local.rsplit(":", 1)[1], 16) == port:
                        return True
        except OSError:
            continue
    return False


def wait_listening(port, timeout, alive=lambda: True):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not alive():
            raise RuntimeError("the process ended before it listened")
        if is_listening(port):
            return
        time.sleep(0.02)
    raise TimeoutError(f"nothing listens on port {port} after {timeout} s")
