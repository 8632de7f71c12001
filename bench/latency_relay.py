#!/usr/bin/env python3
"""A TCP relay that plays a far or slow link on the loopback interface: each
chunk read on one side is written to the other after a fixed one-way delay
(25 ms each way makes a 50 ms round trip), in the order it came; optionally
each direction is limited to a number of bytes per second, shared by all the
connections, as on one link. It also counts the POP3 commands the client side
sends (RETR, TOP, STAT, ...), so a benchmark can tell how many messages the
server was asked for.

As a module:
    relay = Relay(target_port, delay=0.025, rate=1_000_000).start()
    ... connect to relay.port ...
    relay.commands["RETR"]; relay.reset(); relay.wait_idle(); relay.stop()

As a program (counts are printed when it is interrupted):
    latency_relay.py --target 127.0.0.1:110 [--listen 10110] [--delay-ms 25] [--rate 1000000]
"""
import argparse
import asyncio
import collections
import threading
import time

CHUNK = 64 * 1024
QUEUED_CHUNKS = 64  # at most 4 MB waits in each direction of a connection


class _Pace:
    """One direction of the link: when its next byte may leave."""

    def __init__(self, rate):
        self.rate = rate
        self.free_at = 0.0

    def slot(self, due, size):
        """The time a chunk of `size` bytes due at `due` leaves; books it."""
        if not self.rate:
            return due
        start = max(due, self.free_at)
        self.free_at = start + size / self.rate
        return start


class Relay:
    def __init__(self, target_port, target_host="127.0.0.1", delay=0.0, rate=None,
                 listen_port=0, listen_host="127.0.0.1"):
        self.target = (target_host, target_port)
        self.listen = (listen_host, listen_port)
        self.delay = delay
        self.rate = rate
        self.port = None
        self.commands = collections.Counter()
        self.bytes_up = self.bytes_down = 0
        self.connections = 0  # accepted so far
        self.active = 0
        self._loop = None
        self._server = None
        self._thread = None
        self._tasks = set()

    # -- control from the benchmark's thread --------------------------------

    def start(self):
        started = threading.Event()
        self._thread = threading.Thread(target=self._run, args=(started,), daemon=True)
        self._thread.start()
        if not started.wait(10) or self.port is None:
            raise RuntimeError("the relay did not start")
        return self

    def stop(self):
        if self._loop:
            asyncio.run_coroutine_threadsafe(self._close(), self._loop).result(10)
            self._loop.call_soon_threadsafe(self._loop.stop)
            self._thread.join(10)
            self._loop = None

    def reset(self):
        """Starts counting commands and bytes afresh."""
        self.commands = collections.Counter()
        self.bytes_up = self.bytes_down = 0

    def wait_idle(self, timeout):
        """Waits until no connection is open; returns whether that happened."""
        deadline = time.monotonic() + timeout
        while self.active and time.monotonic() < deadline:
            time.sleep(0.02)
        return not self.active

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- the event loop ------------------------------------------------------

    def _run(self, started):
        self._loop = asyncio.new_event_loop()
        self._up, self._down = _Pace(self.rate), _Pace(self.rate)
        try:
            self._server = self._loop.run_until_complete(
                asyncio.start_server(self._accept, *self.listen))
            self.port = self._server.sockets[0].getsockname()[1]
        finally:
            started.set()
        self._loop.run_forever()
        self._loop.close()

    async def _close(self):
        self._server.close()
        for task in list(self._tasks):
            task.cancel()
        await asyncio.gather(*self._tasks, return_exceptions=True)

    async def _accept(self, client_reader, client_writer):
        task = asyncio.current_task()
        self._tasks.add(task)
        self.connections += 1
        self.active += 1
        server_writer = None
        try:
            server_reader, server_writer = await asyncio.open_connection(*self.target)
            await asyncio.gather(
                self._pump(client_reader, server_writer, self._up, self._upward()),
                self._pump(server_reader, client_writer, self._down, self._downward))
        except (OSError, asyncio.CancelledError):
            pass  # a side went away, or the relay stops
        finally:
            for writer in (client_writer, server_writer):
                if writer:
                    writer.close()
            self.active -= 1
            self._tasks.discard(task)

    async def _pump(self, reader, writer, pace, on_chunk):
        """Copies one direction: the reader stamps each chunk with the time it
        is due, the writer sends it then. End of stream is passed on
        (half-close) once everything before it has left; a broken side ends
        both halves."""
        queue = asyncio.Queue(QUEUED_CHUNKS)

        async def read():
            try:
                while chunk := await reader.read(CHUNK):
                    on_chunk(chunk)
                    await queue.put((time.monotonic() + self.delay, chunk))
            except OSError:
                pass
            await queue.put((0.0, b""))

        async def write():
            while True:
                due, chunk = await queue.get()
                if not chunk:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                wait = pace.slot(due, len(chunk)) - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                writer.write(chunk)
                await writer.drain()

        reading = asyncio.ensure_future(read())
        try:
            await write()
        except OSError:
            writer.close()
        finally:
            reading.cancel()
            await asyncio.gather(reading, return_exceptions=True)

    def _upward(self):
        """What the client side sends: counted in bytes and, by the first
        word of each complete line, in commands."""
        partial = b""

        def on_chunk(chunk):
            nonlocal partial
            self.bytes_up += len(chunk)
            *lines, partial = (partial + chunk).split(b"\n")
            for line in lines:
                words = line.split(None, 1)
                if words:
                    self.commands[words[0].upper().decode("latin-1")] += 1
        return on_chunk

    def _downward(self, chunk):
        self.bytes_down += len(chunk)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", required=True, help="host:port of the server")
    parser.add_argument("--listen", type=int, default=0, help="port to listen on (0: any)")
    parser.add_argument("--delay-ms", type=float, default=25.0, help="one-way delay")
    parser.add_argument("--rate", type=float, default=None, help="bytes per second each way")
    args = parser.parse_args()
    host, port = args.target.rsplit(":", 1)
    relay = Relay(int(port), host, delay=args.delay_ms / 1000, rate=args.rate,
                  listen_port=args.listen).start()
    print(f"relaying 127.0.0.1:{relay.port} -> {args.target}, {args.delay_ms} ms each way"
          + (f", {args.rate:.0f} bytes/s" if args.rate else ""), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass
    finally:
        relay.stop()
        print(f"connections {relay.connections}, up {relay.bytes_up} bytes, "
              f"down {relay.bytes_down} bytes, commands {dict(relay.commands)}")


if __name__ == "__main__":
    main()
