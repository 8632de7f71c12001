"""A TCP relay on 127.0.0.1 that records every byte a client sends the
server behind it, to show what went over the wire in clear."""
import select
import socket
import threading

from .net import LOOPBACK


class Capture:
    def __init__(self, target_port):
        self.target_port = target_port
        self.listener = socket.create_server((LOOPBACK, 0))
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self._sent = bytearray()
        self.connections = 0
        self._open = []
        self._pumps = []  # one per connection: what its client sends
        threading.Thread(target=self._accept, daemon=True).start()

    def sent(self, timeout=10):
        """Everything the clients sent, over all connections, once their
        clients have closed them. A connection can end before the relay has
        carried what its client sent (a server that breaks a TLS handshake
        with its greeting), so the relay's own side is waited for."""
        with self.lock:
            pumps = list(self._pumps)
        for pump in pumps:
            pump.join(timeout)
        with self.lock:
            return bytes(self._sent)

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection((LOOPBACK, self.target_port))
            except OSError:
                client.close()
                continue
            # A client that speaks first (a TLS handshake) has its first
            # bytes carried before the server's side is relayed: a client
            # that gives up on the server's first answer closes with the
            # server's bytes unread, and the reset that follows would take
            # its own unread bytes with it here.
            if select.select([client], [], [], 0.5)[0]:
                try:
                    first = client.recv(65536)
                    with self.lock:
                        self._sent += first
                    server.sendall(first)
                except OSError:
                    pass
            pump = threading.Thread(target=self._pump, args=(client, server, True), daemon=True)
            with self.lock:
                self.connections += 1
                self._open += [client, server]
                self._pumps.append(pump)
            pump.start()
            threading.Thread(target=self._pump, args=(server, client, False), daemon=True).start()

    def _pump(self, source, sink, record):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if record:
                    with self.lock:
                        self._sent += data
                sink.sendall(data)
        except OSError:
            pass
        for s in (sink, source):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def close(self):
        self.listener.close()
        with self.lock:
            for s in self._open:
                try:
                    s.close()
                except OSError:
                    pass
