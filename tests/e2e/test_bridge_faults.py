"""The engine bridges against engines that fail: a scripted fake of each
engine's protocol (or, for bogofilter, a fake program) refuses, stays silent,
answers garbage, half an answer, an answer past every bound or an error of its
own. Every row must give "not judged" with one log line naming the bridge, and
return well within the host's wait. The first row of each engine is a correct
answer, which shows that the fake speaks the protocol."""
import os
import shutil
import socket
import tempfile
import threading
import unittest

from lab.engines import Driver, NOT_JUDGED, SPAM
from lab.proc import exit_on_sigterm

exit_on_sigterm()

TIMEOUT_MS = 1000  # the host's wait given to the bridge; it ends its own calls before
BOUND_S = 3 * TIMEOUT_MS / 1000  # far above it: the call came back, nothing hung

MESSAGE = (b"From: a@example.com\r\nTo: b@example.org\r\nSubject: hello\r\n"
           b"Message-ID: <fake@example.com>\r\n\r\nHello there.\r\n")

SPAMD_OK = (b"SPAMD/1.1 0 EX_OK\r\nContent-length: 21\r\nSpam: True ; 7.3 / 5.0\r\n\r\n"
            b"BAYES_99,HTML_MESSAGE")
RSPAMD_JSON = (b'{"is_skipped":false,"score":7.5,"required_score":15.0,"action":"add header",'
               b'"symbols":{"LOW":{"name":"LOW","score":2.5},"HIGH":{"score":5.0,'
               b'"options":["a","b"]}}}')
RSPAMD_OK = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s" % (len(RSPAMD_JSON), RSPAMD_JSON)
CLAMD_OK = b"stream: Fake.Signature FOUND\0"


def request_complete(engine, data):
    """Whether the fake has read the bridge's whole request."""
    if engine == "clamd":
        return data.endswith(b"\0\0\0\0")
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep:
        return False
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            return len(body) >= int(line.split(b":")[1])
    return True


class FakeEngine:
    """Accepts connections on 127.0.0.1 and answers each request as `behaviour`
    says: bytes to send then close, "silent" (read, keep the connection, say
    nothing), or "flood" (send without end)."""

    def __init__(self, engine, behaviour):
        self.engine, self.behaviour = engine, behaviour
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.held, self.stopped = [], threading.Event()
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while not self.stopped.is_set():
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._answer, args=(conn,), daemon=True).start()

    def _answer(self, conn):
        data = b""
        conn.settimeout(5)
        try:
            while not request_complete(self.engine, data):
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
            if self.behaviour == "silent":
                self.held.append(conn)
                return
            if self.behaviour == "flood":
                block = b"x" * 65536
                for _ in range(256):  # 16 MB at most, past every bound
                    conn.sendall(block)
            else:
                conn.sendall(self.behaviour)
        except OSError:
            pass
        conn.close()

    def close(self):
        self.stopped.set()
        self.listener.close()
        for conn in self.held:
            conn.close()


def refused_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# (engine, row, behaviour, verdict, text expected in the log line, or for a
# judged row in the reason)
NETWORK_ROWS = [
    ("spamd", "answers", SPAMD_OK, SPAM, "BAYES_99,HTML_MESSAGE"),
    ("spamd", "refused", "refused", NOT_JUDGED, "injoignable"),
    ("spamd", "silent", "silent", NOT_JUDGED, "pas de r\u00e9ponse"),
    ("spamd", "garbage", b"220 mail.example.com ESMTP\r\n", NOT_JUDGED, "illisible"),
    ("spamd", "half", SPAMD_OK[:len(SPAMD_OK) // 2], NOT_JUDGED, "incompl\u00e8te"),
    ("spamd", "cut body", SPAMD_OK[:-3], NOT_JUDGED, "incompl\u00e8te"),
    ("spamd", "flood", "flood", NOT_JUDGED, "trop longue"),
    ("spamd", "error", b"SPAMD/1.0 76 Bad header line: x\r\n", NOT_JUDGED, "76"),
    ("spamd", "no score", b"SPAMD/1.1 0 EX_OK\r\n\r\n", NOT_JUDGED, "Spam:"),
    ("rspamd", "answers", RSPAMD_OK, SPAM, "HIGH,LOW"),
    ("rspamd", "refused", "refused", NOT_JUDGED, "injoignable"),
    ("rspamd", "silent", "silent", NOT_JUDGED, "pas de r\u00e9ponse"),
    ("rspamd", "garbage", b"SSH-2.0-OpenSSH_9.2\r\n", NOT_JUDGED, "illisible"),
    ("rspamd", "half", RSPAMD_OK[:len(RSPAMD_OK) // 2], NOT_JUDGED, "incompl\u00e8te"),
    ("rspamd", "broken JSON", RSPAMD_OK[:-1] + b"x", NOT_JUDGED, "illisible"),
    ("rspamd", "deep JSON", b"HTTP/1.0 200 OK\r\n\r\n" + b'{"a":' * 5000, NOT_JUDGED,
     "illisible"),
    ("rspamd", "flood", "flood", NOT_JUDGED, "trop longue"),
    ("rspamd", "error", b'HTTP/1.1 500 invalid command\r\nContent-Length: 27\r\n\r\n'
                        b'{"error":"invalid command"}', NOT_JUDGED, "invalid command"),
    ("clamd", "answers", CLAMD_OK, SPAM, "Fake.Signature"),
    ("clamd", "refused", "refused", NOT_JUDGED, "injoignable"),
    ("clamd", "silent", "silent", NOT_JUDGED, "pas de r\u00e9ponse"),
    ("clamd", "garbage", b"+OK POP3 ready\r\n", NOT_JUDGED, "illisible"),
    ("clamd", "half", CLAMD_OK[:12], NOT_JUDGED, "incompl\u00e8te"),
    ("clamd", "flood", "flood", NOT_JUDGED, "trop longue"),
    ("clamd", "no socket", "no socket", NOT_JUDGED, "injoignable"),
    ("clamd", "size limit", b"INSTREAM size limit exceeded. ERROR\0", NOT_JUDGED,
     "size limit exceeded"),
]

# bogofilter: (row, the fake program's shell script, word list present,
# verdict, text expected in the log line or the reason)
PROGRAM_ROWS = [
    ("answers", 'cat >/dev/null; echo "S 0.9991"; exit 0', True, SPAM, "0.9991"),
    ("exit 3, no word list", "cat >/dev/null; echo oops >&2; exit 3", False, NOT_JUDGED,
     "liste de mots vide"),
    ("exit 3", "cat >/dev/null; echo 'cannot lock' >&2; exit 3", True, NOT_JUDGED,
     "cannot lock"),
    ("hangs", 'case "$1" in -T) exec sleep 30;; esac', True, NOT_JUDGED, "pas fini"),
    ("garbage", "cat >/dev/null; echo hello; exit 0", True, NOT_JUDGED, "illisible"),
    ("letter and status disagree", 'cat >/dev/null; echo "S 0.99"; exit 1', True, NOT_JUDGED,
     "illisible"),
    ("floods", 'case "$1" in -T) exec yes;; esac', True, NOT_JUDGED, "trop longue"),
    ("killed", "kill -9 $$", True, NOT_JUDGED, "signal 9"),
]


class BridgeFaults(unittest.TestCase):
    def setUp(self):
        self.driver = Driver()
        if not self.driver.available():
            self.fail("BRIDGE_DRIVER and ORVELANE_PLUGINS must name the built driver and bridges")
        self.root = tempfile.mkdtemp(prefix="orvelane-faults-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.message = os.path.join(self.root, "message.eml")
        with open(self.message, "wb") as f:
            f.write(MESSAGE)

    def check_row(self, what, bridge, options, verdict, expected):
        results, logs, elapsed = self.driver.run(bridge, "check", [self.message], options,
                                                 timeout_ms=TIMEOUT_MS)
        self.assertLess(elapsed, BOUND_S, f"{what}: the call did not come back in time")
        self.assertEqual(len(results), 1, f"{what}: {results} {logs}")
        result = results[0]
        self.assertEqual(result.get("verdict"), verdict, f"{what}: {result} {logs}")
        if verdict == NOT_JUDGED:
            self.assertEqual(len(logs), 1, f"{what}: one log line per check: {logs}")
            self.assertTrue(logs[0].startswith(f"{bridge} : "), f"{what}: {logs}")
            self.assertIn(expected, logs[0], what)
            self.assertTrue(result["reason"], f"{what}: a not-judged verdict says why")
        else:
            self.assertEqual(logs, [], what)
            self.assertIn(expected, result["reason"], what)

    def test_engines_over_the_network(self):
        for bridge, row, behaviour, verdict, expected in NETWORK_ROWS:
            with self.subTest(bridge=bridge, row=row):
                if behaviour == "refused":
                    address = f"127.0.0.1:{refused_port()}"
                elif behaviour == "no socket":
                    address = os.path.join(self.root, "none.sock")
                else:
                    fake = FakeEngine(bridge, behaviour)
                    self.addCleanup(fake.close)
                    address = f"127.0.0.1:{fake.port}"
                self.check_row(f"{bridge} {row}", bridge, {"Address": address}, verdict, expected)

    def test_bogofilter_program(self):
        for row, script, word_list, verdict, expected in PROGRAM_ROWS:
            with self.subTest(row=row):
                folder = tempfile.mkdtemp(dir=self.root)
                program = os.path.join(folder, "fake-bogofilter")
                with open(program, "w") as f:
                    f.write("#!/bin/sh\n" + script + "\n")
                os.chmod(program, 0o755)
                words = os.path.join(folder, "words")
                os.makedirs(words)
                if word_list:
                    with open(os.path.join(words, "wordlist.db"), "wb") as f:
                        f.write(b"not empty")
                self.check_row(f"bogofilter {row}", "bogofilter",
                               {"Program": program, "WordList": words}, verdict, expected)


if __name__ == "__main__":
    unittest.main()
