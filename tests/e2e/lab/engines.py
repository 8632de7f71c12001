"""The spam engines the bridges under plugins/ talk to, each a private
instance in a temporary folder listening on 127.0.0.1 (free ports) or a
socket of its own, never the system's services: spamd (Bayes in the folder,
no network tests), rspamd (no redis, a local name server that answers every
query "no such name"), clamd (a one-signature database the lab writes) and
bogofilter (a word list in the folder). Also the driver that runs a bridge
outside orvelane (tests/plugins/bridge_driver) and the messages the tests use."""
import os
import pwd
import re
import shutil
import signal
import socket
import struct
import subprocess
import threading
import time

from . import net
from .proc import die_with_parent

GTUBE = b"XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X"
SIGNATURE_NAME = "Orvelane.Test.Signature"
SIGNATURE = b"ORVELANE-TEST-SIGNATURE-7f3a9c51"

NOT_JUDGED, HAM, SPAM, UNSURE = 3, 0, 1, 2


def message(subject, body, sender="news@example.com", mid=None):
    mid = mid or f"<{abs(hash((subject, body))) % 10**12}@example.com>"
    return (f"From: {sender}\r\nTo: alice@example.net\r\nSubject: {subject}\r\n"
            f"Date: Mon, 1 Dec 2025 10:00:00 +0100\r\nMessage-ID: {mid}\r\n"
            f"MIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
            ).encode() + body + b"\r\n"


def gtube_message():
    return message("Test", b"This is the GTUBE test message.\r\n\r\n" + GTUBE + b"\r\n",
                   mid="<gtube@example.com>")


def virus_message():
    return message("Invoice", b"Please find the text below.\r\n" + SIGNATURE + b"\r\n",
                   mid="<signature@example.com>")


def ham_message(n=0):
    return message(f"Meeting notes {n}", (
        b"Hello Alice,\r\n\r\nthe project review moves to Thursday at ten. I attached no\r\n"
        b"files; the agenda is the budget, the schedule and the staffing plan.\r\n\r\n"
        b"Regards,\r\nBob\r\n"), sender="bob@example.org", mid=f"<ham-{n}@example.org>")


# Word lists that bogofilter learns apart after a few messages of each.
SPAM_WORDS = "casino jackpot lottery winner prize bitcoin viagra pharmacy discount offer".split()
HAM_WORDS = "meeting agenda project budget schedule review thursday report minutes team".split()


def word_message(words, n, kind):
    body = " ".join(words[(n + i) % len(words)] for i in range(40)).encode()
    return message(f"{kind} {n}", body, mid=f"<{kind}-{n}@example.com>")


# -- the driver -------------------------------------------------------------

class Driver:
    """Runs tests/plugins/bridge_driver on one bridge."""

    def __init__(self, driver=None, plugins=None):
        self.driver = driver or os.environ.get("BRIDGE_DRIVER", "")
        self.plugins = plugins or os.environ.get("ORVELANE_PLUGINS", "")

    def available(self):
        return os.access(self.driver, os.X_OK) and os.path.isdir(self.plugins)

    def run(self, bridge, command, files, options=None, timeout_ms=10000, folder=None,
            threads=1, wait=60):
        """Returns (results: [dict], logs: [str], elapsed seconds). A result is
        {"file", "verdict", "hasScore", "score", "threshold", "reason"} or
        {"file", "learn", "result"}; {"open-error": text} when Open failed."""
        args = [self.driver, os.path.join(self.plugins, bridge + ".so"), "-t", str(timeout_ms),
                "-j", str(threads)]
        if folder:
            args += ["-f", folder]
        for key, value in (options or {}).items():
            args += ["-o", f"{key}={value}"]
        args += [command] + list(files)
        start = time.monotonic()
        done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=wait, preexec_fn=die_with_parent)
        elapsed = time.monotonic() - start
        # Log lines and reasons are Windows-1252.
        out = done.stdout.decode("cp1252", errors="replace")
        if done.returncode not in (0, 2) or "fault=" in out or "Sanitizer" in done.stderr.decode(
                errors="replace"):
            raise AssertionError(f"bridge_driver failed ({done.returncode}):\n{out}\n"
                                 f"{done.stderr.decode(errors='replace')}")
        results, logs = [], []
        for line in out.splitlines():
            if line.startswith("log="):
                logs.append(line[4:])
            elif line.startswith("open-error="):
                results.append({"open-error": line[11:]})
            elif " verdict=" in line:
                m = re.match(r"(.*) verdict=(\d+) hasScore=(\d+) score=(\S+) threshold=(\S+) "
                             r"reason=(.*)$", line)
                results.append(dict(file=m[1], verdict=int(m[2]), hasScore=int(m[3]),
                                    score=float(m[4]), threshold=float(m[5]), reason=m[6]))
            elif " learn=" in line:
                m = re.match(r"(.*) learn=(-?\d+) result=(.*)$", line)
                results.append(dict(file=m[1], learn=int(m[2]), result=m[3]))
        return results, logs, elapsed


# -- engines ------------------------------------------------------------------

def _mail_user():
    """Who spamd's children run as: root has them drop to nobody."""
    return "nobody" if os.geteuid() == 0 else pwd.getpwuid(os.getuid()).pw_name


class Engine:
    name = ""
    binary = ""

    def __init__(self, root):
        self.root = root
        os.makedirs(root, exist_ok=True)
        self.process = None
        self.log_path = os.path.join(root, f"{self.name}.log")

    @classmethod
    def installed(cls):
        return os.access(cls.binary, os.X_OK)

    def options(self):
        """The bridge's options for this instance."""
        raise NotImplementedError

    def _spawn(self, args, env=None):
        self._log = open(self.log_path, "ab")
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self._log,
                                        stderr=subprocess.STDOUT, cwd=self.root, env=env,
                                        start_new_session=True, preexec_fn=die_with_parent)

    def _wait(self, ready, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"{self.name} ended at start-up:\n{self.log_tail()}")
            try:
                if ready():
                    return
            except OSError:
                pass
            time.sleep(0.05)
        raise TimeoutError(f"{self.name} not ready after {timeout} s:\n{self.log_tail()}")

    def stop(self):
        if not self.process:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(self.process.pid, signal.SIGKILL)  # its workers share its group
        except ProcessLookupError:
            pass
        try:
            self.process.wait(2)
        except subprocess.TimeoutExpired:
            pass
        self.process = None
        self._log.close()

    def log_tail(self, lines=30):
        try:
            with open(self.log_path, errors="replace") as f:
                return "\n".join(f.read().splitlines()[-lines:])
        except OSError:
            return ""


def _ask(address, request, family=socket.AF_INET, timeout=2):
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(address)
        s.sendall(request)
        s.shutdown(socket.SHUT_WR)
        data = b""
        while chunk := s.recv(65536):
            data += chunk
        return data


class Spamd(Engine):
    name = "spamd"
    binary = shutil.which("spamd") or "/usr/sbin/spamd"

    def start(self, timeout=60):
        bayes = os.path.join(self.root, "bayes")
        home = os.path.join(self.root, "home")
        for folder in (bayes, home):
            os.makedirs(folder, exist_ok=True)
            os.chmod(folder, 0o777)  # spamd's children run as nobody under root
        os.chmod(self.root, 0o755)
        self.port = net.free_port()
        args = [self.binary, "-x", "-L", "--allow-tell", "-m", "1", "--min-children=1",
                "--min-spare=1", "--max-spare=1", f"--listen=127.0.0.1:{self.port}",
                f"--helper-home-dir={home}", "--syslog=stderr",
                f"--cf=bayes_path {bayes}/bayes", "--cf=bayes_file_mode 0777",
                "--cf=bayes_auto_learn 0", "--cf=use_auto_whitelist 0"]
        if os.geteuid() == 0:
            args.append(f"--username={_mail_user()}")
        self._spawn(args)
        self._wait(lambda: b"PONG" in _ask(("127.0.0.1", self.port), b"PING SPAMC/1.5\r\n\r\n"),
                   timeout)
        return self

    def options(self):
        return {"Address": f"127.0.0.1:{self.port}"}


class NameServer:
    """Answers every DNS query over UDP on 127.0.0.1 with "no such name", at
    once, so that an engine without network access does not wait for time-outs."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                query, peer = self.sock.recvfrom(4096)
            except OSError:
                return
            if len(query) < 12:
                continue
            flags = struct.unpack(">H", query[2:4])[0]
            at = 12  # the question's name: labels up to an empty one
            while at < len(query) and query[at] != 0 and at < 300:
                at += 1 + query[at]
            question = query[12:at + 5]
            # QR=1, opcode and RD kept, RA=1, RCODE=3 (NXDOMAIN); one question echoed
            answer = query[:2] + struct.pack(">H", 0x8000 | (flags & 0x7900) | 0x0080 | 3)
            answer += b"\0\1\0\0\0\0\0\0" + question
            self.sock.sendto(answer, peer)

    def close(self):
        self.sock.close()


class Rspamd(Engine):
    name = "rspamd"
    binary = shutil.which("rspamd") or "/usr/bin/rspamd"

    def start(self, timeout=60):
        self.dns = NameServer()
        conf = os.path.join(self.root, "conf")
        for sub in ("local.d", "override.d", "db", "run", "log"):
            os.makedirs(os.path.join(conf if sub.endswith(".d") else self.root, sub), exist_ok=True)
        self.port, self.controller_port, spare = net.free_port(), net.free_port(), net.free_port()
        files = {
            "override.d/worker-normal.inc": f'bind_socket = "127.0.0.1:{self.port}";\ncount = 1;\n',
            "override.d/worker-controller.inc":
                f'bind_socket = "127.0.0.1:{self.controller_port}";\ncount = 1;\n',
            "override.d/worker-proxy.inc": f'bind_socket = "127.0.0.1:{spare}";\nenabled = false;\n',
            "override.d/logging.inc":
                f'type = "file";\nfilename = "{self.log_path}";\nlevel = "notice";\n',
            # A short public-suffix list: compiling the full one takes seconds.
            "tld.dat": "com\norg\nnet\nfr\nexample\n",
            "local.d/options.inc": (
                f'url_tld = "{conf}/tld.dat";\n'
                f'dns {{\n  nameserver = ["127.0.0.1:{self.dns.port}"];\n'
                f'  timeout = 1s;\n  retransmits = 1;\n}}\n'),
        }
        for name, text in files.items():
            with open(os.path.join(conf, name), "w") as f:
                f.write(text)
        args = [self.binary, "-f", "-i", "-c", "/etc/rspamd/rspamd.conf",
                f"--var=LOCAL_CONFDIR={conf}", f"--var=DBDIR={self.root}/db",
                f"--var=RUNDIR={self.root}/run", f"--var=LOGDIR={self.root}/log"]
        self._spawn(args)

        def ready():
            for port in (self.port, self.controller_port):
                if b"pong" not in _ask(("127.0.0.1", port), b"GET /ping HTTP/1.0\r\n\r\n"):
                    return False
            return True
        self._wait(ready, timeout)
        return self

    def stop(self):
        super().stop()
        if getattr(self, "dns", None):
            self.dns.close()

    def options(self):
        return {"Address": f"127.0.0.1:{self.port}",
                "ControllerAddress": f"127.0.0.1:{self.controller_port}"}


class Clamd(Engine):
    name = "clamd"
    binary = shutil.which("clamd") or "/usr/sbin/clamd"
    STREAM_MAX = 1024 * 1024

    def start(self, timeout=60):
        db = os.path.join(self.root, "db")
        os.makedirs(db, exist_ok=True)
        # An extended signature: any file type, anywhere, these bytes in hex.
        with open(os.path.join(db, "orvelane-test.ndb"), "w") as f:
            f.write(f"{SIGNATURE_NAME}:0:*:{SIGNATURE.hex()}\n")
        self.socket = os.path.join(self.root, "clamd.sock")
        config = os.path.join(self.root, "clamd.conf")
        with open(config, "w") as f:
            f.write(f"LocalSocket {self.socket}\nDatabaseDirectory {db}\nForeground yes\n"
                    f"LogFile {self.log_path}\nTemporaryDirectory {self.root}\n"
                    f"StreamMaxLength {self.STREAM_MAX}\nSelfCheck 0\n")
        self._spawn([self.binary, "-c", config])
        self._wait(lambda: os.path.exists(self.socket) and
                   _ask(self.socket, b"zPING\0", socket.AF_UNIX) == b"PONG\0", timeout)
        return self

    def options(self):
        return {"Address": self.socket}


class Bogofilter(Engine):
    """Nothing runs: the bridge starts the program for each message."""
    name = "bogofilter"
    binary = shutil.which("bogofilter") or "/usr/bin/bogofilter"

    def start(self, timeout=0):
        self.word_list = os.path.join(self.root, "wordlist")
        return self

    def options(self):
        return {"Program": self.binary, "WordList": self.word_list}

    def stop(self):
        pass


ENGINES = {cls.name: cls for cls in (Spamd, Rspamd, Clamd, Bogofilter)}
