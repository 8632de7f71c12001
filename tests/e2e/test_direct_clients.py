"""The clients against Dovecot alone: the mailbox, the clients and their
options give back exactly the committed messages. The tests through orvelane
rely on this."""
import os
import unittest

from lab import clients, mail, rawpop
from lab.fixture import MailboxTest, USER, PASSWORD


class DirectClients(MailboxTest):
    def test_wire_copy_is_the_committed_message(self):
        with rawpop.RawPop(self.dovecot.port) as pop:
            pop.login(USER, PASSWORD)
            sizes = pop.list_sizes()
            received = []
            for n, size in sizes.items():
                status, raw = pop.retr_raw(n)
                message = rawpop.unstuff(raw)
                self.assertEqual(rawpop.stuff(message), raw)
                self.assertEqual(size, len(message))
                received.append(message)
            pop.ok("QUIT")
        self.check_delivered(received, "raw", filtered=False)

    def test_poplib(self):
        sizes, messages, uidls = clients.fetch_poplib(self.dovecot.port, USER, PASSWORD)
        self.assertEqual(len(messages), len(self.mailbox))
        self.assertEqual(len(set(uidls.values())), len(messages))
        self.check_delivered([m for _, m in messages.values()], "poplib", filtered=False)

    def test_curl_sasl_and_login(self):
        for options in ((), ("--login-options", "AUTH=LOGIN")):
            sizes = clients.curl_list(self.dovecot.port, USER, PASSWORD, options)
            received = [clients.curl_retr(self.dovecot.port, USER, PASSWORD, n, options)
                        for n in sizes]
            self.check_delivered(received, f"curl {options}", filtered=False)

    def test_fetchmail_keep_then_delete(self):
        work = os.path.join(self.root, "fetchmail")
        os.makedirs(work)
        for keep in (True, True, False):
            delivered, log = clients.run_fetchmail(self.dovecot.port, USER, PASSWORD, work, keep)
            self.check_delivered(delivered, f"fetchmail keep={keep}", filtered=False)
        delivered, log = clients.run_fetchmail(self.dovecot.port, USER, PASSWORD, work, True)
        self.assertEqual(delivered, [])
        self.assertEqual(self.dovecot.message_files(), [])


if __name__ == "__main__":
    unittest.main()
