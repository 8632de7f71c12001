"""A private Dovecot POP3 server in a temporary folder: its own configuration,
one passwd-file user with a maildir, plaintext login, listening on 127.0.0.1
on a free port; with a certificate also POP3S on a second port and STLS on the
first. Works for root (the mail user is then "nobody") and
for an unprivileged user (everything runs as that user)."""
import grp
import os
import pwd
import shutil
import signal
import subprocess
import time

from . import net
from .proc import die_with_parent

DOVECOT = shutil.which("dovecot") or "/usr/sbin/dovecot"

CONFIG = """\
base_dir = {root}/run
state_dir = {root}/state
instance_name = orvelane-test-{port}
log_path = {root}/dovecot.log
protocols = pop3
listen = 127.0.0.1
{ssl}
disable_plaintext_auth = no
auth_mechanisms = plain login
first_valid_uid = 1
first_valid_gid = 1
mail_location = maildir:~/Maildir
pop3_uidl_format = {uidl_format}
{privileges}
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {root}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={root}/home/%u
}}
service pop3-login {{
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener pop3s {{
    address = 127.0.0.1
    port = {pop3s_port}
  }}
{login_chroot}
}}
{extra_services}
"""


class Dovecot:
    """Use as a context manager; the server is stopped and its processes
    killed on exit, whatever happened."""

    def __init__(self, root, user="alice", password="secret", start_timeout=20,
                 uidl_format="%08Xu%08Xv", tls=None):
        """`tls`: (certificate, key) paths; then STLS is offered and
        `pop3s_port` serves implicit TLS."""
        self.root = root
        self.user = user
        self.users = {}
        self.uidl_format = uidl_format
        self.port = net.free_port()
        self.tls = tls
        self.pop3s_port = net.free_port() if tls else 0
        self.start_timeout = start_timeout
        self.process = None
        self._sequence = 0
        if os.geteuid() == 0:
            # Dovecot refuses mail access as root; the mailbox belongs to nobody.
            nobody = pwd.getpwnam("nobody")
            self.uid, self.gid = nobody.pw_uid, nobody.pw_gid
            privileges, chroot, extra = "", "", ""
        else:
            self.uid, self.gid = os.getuid(), os.getgid()
            me = pwd.getpwuid(self.uid).pw_name
            group = grp.getgrgid(self.gid).gr_name
            privileges = (f"default_login_user = {me}\ndefault_internal_user = {me}\n"
                          f"default_internal_group = {group}")
            chroot = "  chroot ="
            # without root nothing can chroot; anvil would stay unreachable
            extra = "service anvil {\n  chroot =\n}"
        os.makedirs(root, exist_ok=True)
        os.chmod(root, 0o755)
        self.config_path = os.path.join(root, "dovecot.conf")
        self._settings = dict(root=root, uid=self.uid, gid=self.gid, privileges=privileges,
                              login_chroot=chroot, extra_services=extra,
                              uidl_format=uidl_format)
        self._write_config()
        self.add_user(user, password)

    def _write_config(self):
        ssl = (f"ssl = yes\nssl_cert = <{self.tls[0]}\nssl_key = <{self.tls[1]}"
               if self.tls else "ssl = no")
        with open(self.config_path, "w") as f:
            f.write(CONFIG.format(port=self.port, ssl=ssl, pop3s_port=self.pop3s_port,
                                  **self._settings))

    def add_user(self, user, password):
        """A further mailbox; call before start()."""
        self.users[user] = password
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(self.maildir_of(user), sub), exist_ok=True)
        with open(os.path.join(self.root, "passwd"), "w") as f:
            for name, secret in self.users.items():
                f.write(f"{name}:{{PLAIN}}{secret}::::::\n")

    def maildir_of(self, user):
        return os.path.join(self.root, "home", user, "Maildir")

    # -- mailbox -------------------------------------------------------------

    def add_message(self, data, user=None):
        """Drops one message (bytes, stored as given) into a user's maildir.
        Names grow with each call, so Dovecot numbers the messages in that
        order."""
        path = self._drop(data, user)
        self._chown_tree()
        return path

    def add_messages(self, messages, user=None):
        """Drops many messages in that order, setting their owner once (a
        benchmark's mailbox holds thousands)."""
        paths = [self._drop(data, user) for data in messages]
        self._chown_tree()
        return paths

    def _drop(self, data, user):
        self._sequence += 1
        name = f"{1700000000 + self._sequence}.M{self._sequence}P1.orvelane-test:2,"
        path = os.path.join(self.maildir_of(user or self.user), "cur", name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def message_files(self, user=None):
        cur = os.path.join(self.maildir_of(user or self.user), "cur")
        return sorted(os.path.join(cur, n) for n in os.listdir(cur))

    def _chown_tree(self):
        if os.geteuid() != 0:
            return
        home = os.path.join(self.root, "home")
        for folder, dirs, files in os.walk(home):
            os.chown(folder, self.uid, self.gid)
            for name in files:
                os.chown(os.path.join(folder, name), self.uid, self.gid)

    # -- process -------------------------------------------------------------

    def start(self, attempts=3):
        """Starts the server; when its port was taken meanwhile (tests run in
        parallel), tries again on another one."""
        self._chown_tree()
        for attempt in range(attempts):
            self._stderr = open(os.path.join(self.root, "dovecot.stderr"), "wb")
            self.process = subprocess.Popen(
                [DOVECOT, "-F", "-c", self.config_path],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=self._stderr,
                start_new_session=True, preexec_fn=die_with_parent)
            try:
                greeting = net.wait_for_greeting(self.port, self.start_timeout,
                                                 alive=lambda: self.process.poll() is None)
                if b"Dovecot" not in greeting:
                    raise RuntimeError(f"another server greets on port {self.port}: {greeting!r}")
                return self
            except Exception as e:
                self.stop()
                if attempt + 1 == attempts:
                    raise RuntimeError(f"Dovecot did not start: {e}\n{self.log_tail()}") from e
                self.port = net.free_port()
                if self.tls:
                    self.pop3s_port = net.free_port()
                self._write_config()

    def stop(self, timeout=5):
        if not self.process:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                pass
        # The master's children share its process group.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        try:
            self.process.wait(2)
        except subprocess.TimeoutExpired:
            pass
        self.process = None
        self._stderr.close()

    def restart(self, tls):
        """Starts again with another certificate, or (None) without TLS."""
        self.stop()
        self.tls = tls
        self.pop3s_port = net.free_port() if tls else 0
        self._write_config()
        return self.start()

    def logins(self):
        """Dovecot's login lines so far ("... TLS, session=..." when encrypted)."""
        try:
            with open(os.path.join(self.root, "dovecot.log"), errors="replace") as f:
                return [r for r in f.read().splitlines() if "pop3-login" in r and "Login: user=" in r]
        except OSError:
            return []

    def logouts(self, user=None):
        """Dovecot's logout lines so far, e.g. "... retr=3/1200, del=0/3 ...",
        for one user or all."""
        try:
            with open(os.path.join(self.root, "dovecot.log"), errors="replace") as f:
                rows = f.read().splitlines()
        except OSError:
            return []
        tag = f"pop3({user})" if user else "pop3("
        return [r for r in rows if tag in r and "Logged out" in r]

    def wait_logouts(self, count, user=None, timeout=10):
        """Waits until `count` sessions have logged out; returns their lines."""
        deadline = time.monotonic() + timeout
        while True:
            rows = self.logouts(user)
            if len(rows) >= count or time.monotonic() > deadline:
                return rows
            time.sleep(0.05)

    def log_tail(self, lines=30):
        out = []
        for name in ("dovecot.stderr", "dovecot.log"):
            try:
                with open(os.path.join(self.root, name), errors="replace") as f:
                    out += f.read().splitlines()[-lines:]
            except OSError:
                pass
        return "\n".join(out)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
