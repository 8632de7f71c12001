"""Real mail clients through orvelane: poplib, curl (which authenticates with
SASL and sends RETR before any STAT) and fetchmail in keep and delete modes.
Ham arrives unchanged, spam tagged, and later sessions download nothing."""
import base64
import os
import unittest

from lab import clients, mail
from lab.fixture import ProxyTest, USER, PASSWORD


class Poplib(ProxyTest):
    def test_two_runs(self):
        port = self.orvelane.port
        for run in (1, 2):
            mark = len(self.orvelane.log())
            sizes, messages, uidls = clients.fetch_poplib(port, self.proxy_user(), PASSWORD)
            self.check_delivered([m for _, m in messages.values()], f"poplib run {run}")
            self.assertEqual(len(set(uidls.values())), len(self.mailbox))
            rows = self.dovecot.wait_logouts(run, USER)
            self.assert_downloads(rows[-1], len(self.mailbox) if run == 1 else 0)
        self.assertIn(self.all_reused_line(len(self.mailbox)), self.orvelane.log()[mark:])

        # new mail: only that message is fetched and analysed
        late = (b"Return-Path: <offers@bulk-mailer.example>\r\n"
                b"From: Best Offers <offers@bulk-mailer.example>\r\n"
                b"To: alice@example.net\r\nSubject: Last chance\r\n"
                b"Message-ID: <spam-late@bulk-mailer.example>\r\n\r\nStill here.\r\n")
        self.dovecot.add_message(late)
        self.mailbox[mail.message_id(late)] = (True, late)
        mark = len(self.orvelane.log())
        sizes, messages, uidls = clients.fetch_poplib(port, self.proxy_user(), PASSWORD)
        self.check_delivered([m for _, m in messages.values()], "poplib after new mail")
        self.assert_downloads(self.dovecot.wait_logouts(3, USER)[-1], 1)
        log = self.orvelane.log()[mark:]
        self.assertIn(self.all_reused_line(len(self.mailbox) - 1), log)
        self.assertEqual(log.count("Analyse du Msg"), 1, log)
        self.assert_log_keeps_secrets()


class Curl(ProxyTest):
    def test_sasl_plain_and_login(self):
        port, user = self.orvelane.port, self.proxy_user()
        count = len(self.mailbox)
        sessions = 0
        for options in ((), ("--login-options", "AUTH=LOGIN")):
            # RETR as the first mailbox command, one connection per message
            received = [clients.curl_retr(port, user, PASSWORD, n, options)
                        for n in range(1, count + 1)]
            self.check_delivered(received, f"curl RETR {options}")
            # LIST as the first mailbox command
            sizes = clients.curl_list(port, user, PASSWORD, options)
            self.assertEqual(sorted(sizes), list(range(1, count + 1)))
            sessions += count + 1
        rows = self.dovecot.wait_logouts(sessions, USER)
        self.assertEqual(len(rows), sessions)
        self.assert_downloads(rows[0], count)
        for row in rows[1:]:
            self.assert_downloads(row, 0)
        plain = base64.b64encode(f"\0{user}\0{PASSWORD}".encode()).decode()
        self.assert_log_keeps_secrets(plain, base64.b64encode(PASSWORD.encode()).decode())


class Fetchmail(ProxyTest):
    def test_keep_keep_delete_then_empty(self):
        work = os.path.join(self.root, "fetchmail")
        os.makedirs(work)
        port, user = self.orvelane.port, self.proxy_user()
        for run, keep in enumerate((True, True, False), 1):
            delivered, transcript = clients.run_fetchmail(port, user, PASSWORD, work, keep)
            self.check_delivered(delivered, f"fetchmail run {run} keep={keep}")
            rows = self.dovecot.wait_logouts(run, USER)
            self.assertEqual(len(rows), run, transcript)
            self.assert_downloads(rows[-1], len(self.mailbox) if run == 1 else 0)
            self.assertRegex(rows[-1], r"del=%d/" % (0 if keep else len(self.mailbox)))
        self.assertEqual(self.dovecot.message_files(), [])
        delivered, transcript = clients.run_fetchmail(port, user, PASSWORD, work, True)
        self.assertEqual(delivered, [], transcript)
        self.assert_log_keeps_secrets()


if __name__ == "__main__":
    unittest.main()
