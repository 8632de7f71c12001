"""unittest base: a temporary folder, a Dovecot filled with the test mailbox,
and on request an orvelane in front of it. Everything is stopped, and the
logs printed on failure, whatever the test did."""
import os
import shutil
import sys
import tempfile
import unittest

from . import mail
from .certs import Certificates
from .dovecot import Dovecot
from .orvelane import Orvelane
from .proc import exit_on_sigterm

exit_on_sigterm()

USER, PASSWORD = "alice", "secret"


class MailboxTest(unittest.TestCase):
    maxDiff = 2000
    # Dovecot's UIDL format and further accounts ({user: password}); a class
    # may change them.
    UIDL_FORMAT = "%08Xu%08Xv"
    EXTRA_USERS = {}
    # Dovecot with a certificate for 127.0.0.1 from a test authority
    # (self.certs): STLS on its port, POP3S on dovecot.pop3s_port.
    TLS = False

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvelane-e2e-")
        os.chmod(self.root, 0o755)  # Dovecot's own users read below it
        self.addCleanup(shutil.rmtree, self.root, True)
        self.orvelane = None
        self.mailbox = mail.mailbox()
        tls = None
        if self.TLS:
            self.certs = Certificates(os.path.join(self.root, "certs"))
            tls = self.certs.server("server")
        self.dovecot = Dovecot(os.path.join(self.root, "dovecot"), USER, PASSWORD,
                               uidl_format=self.UIDL_FORMAT, tls=tls)
        for user, password in self.EXTRA_USERS.items():
            self.dovecot.add_user(user, password)
        for _, data in self.mailbox.values():
            self.dovecot.add_message(data)
        self.addCleanup(self.dovecot.stop)
        self.dovecot.start()
        self.addCleanup(self._capture_logs)

    def start_orvelane(self, rules=mail.RULES, extra_settings=""):
        binary = os.environ.get("ORVELANE_BIN")
        if not binary or not os.access(binary, os.X_OK):
            self.fail("ORVELANE_BIN does not name the built orvelane program")
        self.orvelane = Orvelane(binary, os.path.join(self.root, "orvelane"),
                                 rules=rules, extra_settings=extra_settings)
        self.addCleanup(self.orvelane.stop)
        self.orvelane.start()
        self.addCleanup(self._capture_logs)
        self.addCleanup(self._stop_orvelane_cleanly)
        return self.orvelane

    def _stop_orvelane_cleanly(self):
        """SIGTERM must end orvelane with status 0, and a sanitizer build
        must have reported nothing."""
        code = self.orvelane.stop()
        log = self.orvelane.log()
        self.assertNotIn("Sanitizer", log, "orvelane's output holds a sanitizer report")
        self.assertNotIn("runtime error:", log, "orvelane's output holds a sanitizer report")
        self.assertEqual(code, 0, "orvelane did not end cleanly on SIGTERM")

    def proxy_user(self, user=USER):
        """The user name that makes orvelane log in to our Dovecot."""
        return f"{user}(127.0.0.1:{self.dovecot.port})"

    def expected(self, mid, filtered=True):
        is_spam, data = self.mailbox[mid]
        return mail.tagged(data) if is_spam and filtered else data

    def check_delivered(self, received, what, filtered=True):
        """`received`: list of message bytes. Every message of the mailbox
        must be there once, ham unchanged and spam tagged (when `filtered`)."""
        got = {}
        for data in received:
            got.setdefault(mail.message_id(data), []).append(data)
        self.assertEqual(sorted(got), sorted(self.mailbox), f"{what}: message set")
        for mid, copies in got.items():
            self.assertEqual(len(copies), 1, f"{what}: {mid} delivered {len(copies)} times")
            want = self.expected(mid, filtered)
            self.assertEqual(copies[0], want, f"{what}: {mid} differs")

    def _capture_logs(self):
        self._logs = ""
        if self.orvelane:
            self._logs += "---- orvelane log (tail)\n" + self.orvelane.log()[-8000:] + "\n"
        self._logs += "---- dovecot log (tail)\n" + self.dovecot.log_tail() + "\n"

    def run(self, result=None):
        # The peers' logs are printed when the test failed; they are taken
        # by the last cleanup to run, before the folder goes.
        self._logs = ""
        if result is None:
            return super().run(result)
        before = len(result.failures) + len(result.errors)
        outcome = super().run(result)
        if len(result.failures) + len(result.errors) > before:
            sys.stderr.write(self._logs)
        return outcome


class ProxyTest(MailboxTest):
    """A MailboxTest with orvelane started in front of the Dovecot."""

    def setUp(self):
        super().setUp()
        self.start_orvelane()

    def all_reused_line(self, count):
        """The log line of a scan that found every message already analysed."""
        numbers = ", ".join(str(n) for n in range(1, count + 1))
        if count == 1:
            return f"Message n\u00b01 est d\u00e9j\u00e0 t\u00e9l\u00e9charg\u00e9 et analys\u00e9"
        return (f"Messages n\u00b0{numbers} sont d\u00e9j\u00e0 "
                f"t\u00e9l\u00e9charg\u00e9s et analys\u00e9s")

    def assert_downloads(self, logout_line, count):
        """Dovecot's logout line of one proxy session shows `count` RETRs."""
        self.assertRegex(logout_line, rf"retr={count}/\d+")

    def assert_log_keeps_secrets(self, *secrets):
        log = self.orvelane.log()
        for secret in (PASSWORD, *secrets):
            self.assertNotIn(secret, log, "the activity log shows a credential")
