"""Orvelane in front of a Dovecot that serves POP3S and STLS with a
certificate from a test authority: the mail arrives through every
ServerSecurity mode, and each refusal ends the session with its log line and
an -ERR, without a login byte in clear on the wire."""
import base64
import os
import socket
import threading
import unittest

from lab import mail, rawpop
from lab.capture import Capture
from lab.fixture import MailboxTest, PASSWORD, USER
from lab.net import LOOPBACK
from lab.orvelane import Orvelane

ENCRYPTED = "Connexion chiffr\u00e9e avec 127.0.0.1:%d (TLSv1."


class TlsTest(MailboxTest):
    TLS = True

    def orvelane_with(self, name, security, trust=True):
        binary = os.environ.get("ORVELANE_BIN")
        if not binary or not os.access(binary, os.X_OK):
            self.fail("ORVELANE_BIN does not name the built orvelane program")
        settings = f"ServerSecurity={security}\r\n"
        if trust:
            settings += f"ServerCertificate={self.certs.ca}\r\n"
        orvelane = Orvelane(binary, os.path.join(self.root, name), rules=mail.RULES,
                            extra_settings=settings)
        self.addCleanup(orvelane.stop)
        self.orvelane = orvelane  # its log is printed on failure
        return orvelane.start()

    def stopped_cleanly(self, orvelane):
        self.assertEqual(orvelane.stop(), 0, "orvelane did not end cleanly on SIGTERM")
        log = orvelane.log()
        self.assertNotIn("Sanitizer", log)
        self.assertNotIn("runtime error:", log)
        self.assertNotIn(PASSWORD, log, "the activity log shows a credential")
        return log

    def capture(self, port):
        capture = Capture(port)
        self.addCleanup(capture.close)
        return capture

    def assert_nothing_in_clear(self, capture):
        sent = capture.sent()
        self.assertTrue(sent, "nothing reached the server")
        for secret in (b"USER", b"PASS", b"AUTH", PASSWORD.encode(), USER.encode()):
            self.assertNotIn(secret, sent, f"{secret!r} went to the server in clear")


class TlsFetch(TlsTest):
    def test_every_mode_delivers_the_mail_encrypted(self):
        """tls on the POP3S port; starttls (with an AUTH PLAIN login) and
        auto (which picks STLS, as offered) on the plain port. Through a
        capture: no login in clear."""
        for security, port in (("tls", self.dovecot.pop3s_port), ("starttls", self.dovecot.port),
                               ("auto", self.dovecot.port)):
            with self.subTest(security=security):
                capture = self.capture(port)
                orvelane = self.orvelane_with(security, security)
                user = f"{USER}(127.0.0.1:{capture.port})"
                with rawpop.RawPop(orvelane.port) as pop:
                    if security == "starttls":
                        # AUTH PLAIN, carried out upstream once encrypted
                        token = base64.b64encode(f"\0{user}\0{PASSWORD}".encode()).decode()
                        pop.ok(f"AUTH PLAIN {token}")
                    else:
                        pop.login(user, PASSWORD)
                    received = [rawpop.unstuff(pop.retr_raw(n)[1]) for n in pop.list_sizes()]
                    pop.ok("QUIT")
                self.check_delivered(received, security)
                orvelane.wait_log("D\u00e9connect\u00e9")
                log = self.stopped_cleanly(orvelane)
                self.assertIn(ENCRYPTED % capture.port, log)
                self.assertEqual(log.count("est un Spam de type"), 4)
                self.assert_nothing_in_clear(capture)
        logins = self.dovecot.logins()
        self.assertEqual(len(logins), 3, logins)
        for row in logins:
            self.assertIn("TLS", row)


class TlsRefusals(TlsTest):
    def refused(self, name, security, port, why_fr, why_en, trust=True):
        capture = self.capture(port)
        orvelane = self.orvelane_with(name, security, trust)
        with rawpop.RawPop(orvelane.port) as pop:
            answer = pop.command(f"USER {USER}(127.0.0.1:{capture.port})")
        self.assertEqual(answer, b"-ERR [SYS/PERM] TLS with 127.0.0.1:%d failed: %s\r\n"
                         % (capture.port, why_en.encode()))
        log = self.stopped_cleanly(orvelane)
        self.assertIn(f"La connexion chiffr\u00e9e \u00e0 127.0.0.1:{capture.port} a \u00e9chou\u00e9 : "
                      f"{why_fr}", log)
        self.assertNotIn("Connexion chiffr\u00e9e avec", log)
        if security == "tls":
            self.assertEqual(capture.connections, 1)
        self.assert_nothing_in_clear(capture)

    def test_each_refusal_says_why_and_sends_nothing_in_clear(self):
        # the test authority's certificate, but not trusted
        self.refused("untrusted", "tls", self.dovecot.pop3s_port,
                     "\u00e9metteur du certificat inconnu", "unknown certificate issuer", trust=False)
        # a plain POP3 server where TLS was asked for
        self.refused("plain", "tls", self.dovecot.port,
                     "\u00e9chec de la n\u00e9gociation TLS", "TLS handshake failed")
        self.dovecot.restart(self.certs.server("other", alt="DNS:mail.other.example"))
        self.refused("host", "starttls", self.dovecot.port,
                     "le certificat ne correspond pas au nom d'h\u00f4te", "host name mismatch")
        self.dovecot.restart(self.certs.server("expired", expired=True))
        self.refused("expired", "tls", self.dovecot.pop3s_port, "certificat expir\u00e9",
                     "certificate expired")
        self.dovecot.restart(None)
        self.refused("nostls", "starttls", self.dovecot.port,
                     "le serveur ne propose pas STLS", "server does not offer STLS")
        self.assertEqual(self.dovecot.logins(), [])


class StlsStripper:
    """A relay in front of the server, as a man in the middle would be: once
    `strip` is set, the connections it takes drop the STLS line from what
    the server answers. It records what each connection's client sent."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.listener = socket.create_server((LOOPBACK, 0))
        self.port = self.listener.getsockname()[1]
        self.strip = False
        self.sent = []  # one bytearray per connection
        self.pumps = []  # per connection: the thread that carries what its client sends
        self._open = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection((LOOPBACK, self.target_port))
            self._open += [client, server]
            sent = bytearray()
            self.sent.append(sent)
            pump = threading.Thread(target=self._pump, args=(client, server, sent, False), daemon=True)
            self.pumps.append(pump)
            pump.start()
            threading.Thread(target=self._pump, args=(server, client, None, self.strip), daemon=True).start()

    @staticmethod
    def _pump(source, sink, record, strip):
        pending = b""
        try:
            while data := source.recv(65536):
                if record is not None:
                    record += data
                if strip:  # line by line: no TLS ever starts on such a connection
                    pending += data
                    cut = pending.rfind(b"\r\n") + 2 if b"\r\n" in pending else 0
                    lines, pending = pending[:cut], pending[cut:]
                    data = b"".join(l for l in lines.splitlines(keepends=True) if l.upper() != b"STLS\r\n")
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
        for s in self._open:
            s.close()


class TlsDowngrade(TlsTest):
    def test_auto_sends_no_login_in_clear_where_stls_was_offered_before(self):
        """A check with STLS seen, then a man in the middle strips it from
        CAPA: no USER or PASS in clear, in this run or the next."""
        relay = StlsStripper(self.dovecot.port)
        self.addCleanup(relay.close)
        orvelane = self.orvelane_with("downgrade", "auto")
        user = f"{USER}(127.0.0.1:{relay.port})"
        with rawpop.RawPop(orvelane.port) as pop:
            pop.login(user, PASSWORD)
            self.assertEqual(len(pop.list_sizes()), len(self.mailbox))
            pop.ok("QUIT")
        orvelane.wait_log(ENCRYPTED % relay.port)

        relay.strip = True
        refused = (b"-ERR [SYS/PERM] TLS with 127.0.0.1:%d failed: server no longer offers STLS, which it "
                   b"offered before (credentials not sent in clear)\r\n" % relay.port)
        for restarted in (False, True):
            with self.subTest(restarted=restarted):
                if restarted:
                    orvelane.stop()
                    orvelane.start()
                with rawpop.RawPop(orvelane.port) as pop:
                    self.assertEqual(pop.command(f"USER {user}"), refused)
                # The connection is over once the relay has carried all its
                # client sent.
                relay.pumps[-1].join(10)
                self.assertFalse(relay.pumps[-1].is_alive(), "the connection was left open")
                self.assertEqual(bytes(relay.sent[-1]), b"CAPA\r\n")
                self.assertIn("le serveur ne propose plus STLS, qu'il a d\u00e9j\u00e0 propos\u00e9", orvelane.log())
        self.stopped_cleanly(orvelane)
        self.assertEqual(len(relay.sent), 3)
        self.assertEqual(len(self.dovecot.logins()), 1)


if __name__ == "__main__":
    unittest.main()
