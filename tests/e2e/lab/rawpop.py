"""A minimal POP3 client that keeps the bytes exactly as they travel, so tests
can assert on the wire form (dot-stuffing and closing line included)."""
import socket
import time

from .net import LOOPBACK


class PopError(Exception):
    pass


class RawPop:
    def __init__(self, port, timeout=20, host=LOOPBACK, tls=None):
        """`tls`: an ssl.SSLContext for implicit TLS (POP3S)."""
        self.sock = socket.create_connection((host, port), timeout=timeout)
        if tls:
            self.sock = tls.wrap_socket(self.sock, server_hostname=host)
        self.buffer = b""
        self.greeting = self.line()

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _fill(self):
        chunk = self.sock.recv(1 << 20)
        if not chunk:
            raise PopError(f"connection closed; unread {self.buffer[:200]!r}")
        self.buffer += chunk

    def line(self):
        """One line with its CR LF."""
        while True:
            end = self.buffer.find(b"\r\n")
            if end >= 0:
                out, self.buffer = self.buffer[:end + 2], self.buffer[end + 2:]
                return out
            self._fill()

    def until_terminator(self):
        """The body of a multi-line answer, up to and including the closing
        ".\\r\\n" line, exactly as received."""
        parts = []
        size = 0
        tail = b"\r\n"  # the status line ended in CR LF
        while True:
            end = (tail + self.buffer).find(b"\r\n.\r\n")
            if end >= 0:
                cut = end - len(tail) + 5
                parts.append(self.buffer[:cut])
                self.buffer = self.buffer[cut:]
                return b"".join(parts)
            # keep the last four bytes, which may start the terminator
            keep = min(4, len(self.buffer))
            if len(self.buffer) > keep:
                parts.append(self.buffer[:-keep])
                size += len(self.buffer) - keep
                tail = (tail + self.buffer[:-keep])[-2:]
                self.buffer = self.buffer[-keep:]
            self._fill()

    def command(self, text):
        """Sends one command line; returns the status line."""
        self.sock.sendall(text.encode("latin-1") + b"\r\n")
        return self.line()

    def ok(self, text):
        status = self.command(text)
        if not status.startswith(b"+OK"):
            raise PopError(f"{text.split()[0]} answered {status!r}")
        return status

    def multi(self, text):
        """A command with a multi-line answer: (status line, raw body)."""
        status = self.ok(text)
        return status, self.until_terminator()

    def login(self, user, password):
        self.ok(f"USER {user}")
        self.ok(f"PASS {password}")

    def list_sizes(self):
        _, body = self.multi("LIST")
        sizes = {}
        for row in body.split(b"\r\n"):
            fields = row.split()
            if len(fields) == 2:
                sizes[int(fields[0])] = int(fields[1])
        return sizes

    def retr_raw(self, n):
        """(status line, the answer after it with dot-stuffing and the closing
        line), as it came."""
        return self.multi(f"RETR {n}")


def unstuff(raw):
    """The message carried by a multi-line answer: closing line removed,
    leading dots of stuffed lines dropped."""
    if not raw.endswith(b".\r\n"):
        raise ValueError("answer without its closing line")
    body = raw[:-3]
    lines = body.split(b"\r\n")
    return b"\r\n".join(l[1:] if l.startswith(b".") else l for l in lines)


def stuff(message):
    """The wire form of a message that ends in CR LF."""
    lines = message.split(b"\r\n")
    return b"\r\n".join(b"." + l if l.startswith(b".") else l for l in lines) + b".\r\n"


def timed(fn, *args):
    start = time.perf_counter()
    result = fn(*args)
    return result, time.perf_counter() - start
