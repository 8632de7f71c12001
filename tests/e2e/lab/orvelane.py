"""The orvelane binary under test, with a configuration folder of its own:
Orvelane.ini and blacklist.txt in $XDG_CONFIG_HOME/orvelane, which is also its
working directory. Its activity log (standard output) goes to a file."""
import os
import signal
import subprocess
import time

from . import net
from .proc import die_with_parent


class Orvelane:
    def __init__(self, binary, root, pop_server="127.0.0.1", rules=b"", extra_settings=""):
        self.binary = os.path.abspath(binary)  # it runs in its own folder
        self.root = root
        self.port = net.free_port()
        self.home = os.path.join(root, "home")
        self.xdg = os.path.join(root, "xdg")
        self.folder = os.path.join(self.xdg, "orvelane")
        os.makedirs(self.home, exist_ok=True)
        os.makedirs(self.folder, exist_ok=True)
        self.pop_server = pop_server
        self.extra_settings = extra_settings
        self._write_settings()
        self.write_rules(rules)
        self.log_path = os.path.join(root, "orvelane.log")
        self.process = None

    def _write_settings(self):
        settings = (f"POPServer={self.pop_server}\r\nListenAddress=127.0.0.1\r\n"
                    f"ListenPort={self.port}\r\n{self.extra_settings}")
        with open(os.path.join(self.folder, "Orvelane.ini"), "wb") as f:
            f.write(settings.encode("latin-1"))

    def write_rules(self, rules):
        with open(os.path.join(self.folder, "blacklist.txt"), "wb") as f:
            f.write(rules)

    def start(self, timeout=20, attempts=3):
        """Starts the program and waits until it listens; when its port was
        taken meanwhile (tests run in parallel), tries again on another."""
        env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=self.xdg,
                   QT_QPA_PLATFORM="offscreen")
        for attempt in range(attempts):
            with open(self.log_path, "wb") as log:
                self.process = subprocess.Popen(
                    [self.binary], cwd=self.folder, env=env,
                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                    start_new_session=True, preexec_fn=die_with_parent)
            try:
                net.wait_listening(self.port, self.process.pid, timeout)
                return self
            except net.PortTaken:
                self.stop()
                if attempt + 1 == attempts:
                    raise
                self.port = net.free_port()
                self._write_settings()
            except Exception as e:
                self.stop()
                raise RuntimeError(f"orvelane did not listen: {e}\n{self.log()[-3000:]}") from e
        return self

    def stop(self, timeout=5):
        """Ends the process (SIGTERM, then SIGKILL); returns its exit code."""
        if not self.process:
            return None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(2)
        code = self.process.returncode
        self.process = None
        return code

    def log(self):
        """The activity log written so far, as text."""
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", errors="replace")
        except OSError:
            return ""

    def wait_log(self, needle, timeout=10):
        """Waits until the log holds `needle`; returns the log."""
        deadline = time.monotonic() + timeout
        while True:
            text = self.log()
            if needle in text:
                return text
            if time.monotonic() > deadline:
                raise TimeoutError(f"log never showed {needle!r}:\n{text[-3000:]}")
            time.sleep(0.05)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
