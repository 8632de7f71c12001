"""Orvelane between a raw POP3 client and Dovecot: the exact bytes of its
answers, the sizes it announces, the reuse of analysed copies, and accounts
that must not see each other's mail."""
import os
import signal
import time
import unittest

from lab import mail, rawpop
from lab.fixture import ProxyTest, PASSWORD, USER

GREETING = b"+OK Orvelane Server V2.20\r\n"


class WireBytes(ProxyTest):
    def fetch_all(self, case=str.upper, newest_first=False):
        """One session: login, STAT, LIST, RETR of every message (command
        words in `case`), QUIT. Returns {message id: raw
        answer after the status line}."""
        with rawpop.RawPop(self.orvelane.port) as pop:
            self.assertEqual(pop.greeting, GREETING)
            self.assertEqual(pop.command(f"{case('user')} {self.proxy_user()}"), b"+OK\r\n")
            self.assertEqual(pop.command(f"{case('pass')} {PASSWORD}"), b"+OK Logged in.\r\n")
            wire = {mid: rawpop.stuff(self.expected(mid)) for mid in self.mailbox}
            total = sum(len(w) for w in wire.values())
            self.assertEqual(pop.command(case("stat")),
                             b"+OK %d %d\r\n" % (len(wire), total))
            _, listing = pop.multi(case("list"))
            sizes = {int(a): int(b) for a, b in (r.split() for r in listing.split(b"\r\n")[:-2])}
            self.assertEqual(sorted(sizes), list(range(1, len(wire) + 1)))
            got = {}
            for n in sorted(sizes, reverse=newest_first):
                size = sizes[n]
                self.assertEqual(pop.command(f"{case('list')} {n}"), b"+OK %d %d\r\n" % (n, size))
                status, raw = pop.multi(f"{case('retr')} {n}")
                # what is announced is what is sent
                self.assertEqual(status, b"+OK %d octets\r\n" % size)
                self.assertEqual(len(raw), size)
                got[mail.message_id(raw)] = raw
            self.assertTrue(pop.command("QUIT").startswith(b"+OK"))
        self.assertEqual(sorted(got), sorted(wire))
        for mid, raw in got.items():
            self.assertEqual(raw, wire[mid], f"{mid} on the wire")
        return got

    def test_exact_answers_then_reuse_of_analysed_copies(self):
        self.fetch_all()
        log = self.orvelane.wait_log("D\u00e9connect\u00e9")
        self.assertEqual(log.count("est un Spam de type"), 4, log[-3000:])
        for kind in ("From (String search)", "RetPath (String search)",
                     "Subject (String search)", "Body (no HTML)"):
            self.assertIn(f"est un Spam de type {kind}", log)
        self.assertEqual(log.count("vient d'un utilisateur connu"), 1)
        first = self.dovecot.wait_logouts(1, "alice")
        self.assert_downloads(first[-1], len(self.mailbox))

        # command words in lower case, newest message first
        mark = len(self.orvelane.log())
        self.fetch_all(case=str.lower, newest_first=True)
        second_log = self.orvelane.log()[mark:]
        self.assertIn(self.all_reused_line(len(self.mailbox)), second_log)
        self.assertNotIn("Analyse du Msg", second_log)
        rows = self.dovecot.wait_logouts(2, "alice")
        self.assert_downloads(rows[-1], 0)
        self.assert_log_keeps_secrets()

    def test_top_answered_from_the_analysed_copies(self):
        with rawpop.RawPop(self.dovecot.port) as pop:
            pop.login(USER, PASSWORD)
            count = len(pop.list_sizes())
            direct = {}
            for n in range(1, count + 1):
                for lines in (0, 3):
                    direct[n, lines] = pop.multi(f"TOP {n} {lines}")[1]
            pop.ok("QUIT")
        with rawpop.RawPop(self.orvelane.port) as pop:
            pop.login(self.proxy_user(), PASSWORD)
            # TOP as the first mailbox command starts the scan
            for (n, lines), top in direct.items():
                _, raw = pop.multi(f"top {n} {lines}")
                spam = self.mailbox[mail.message_id(top)][0]
                self.assertEqual(raw, mail.tagged(top) if spam else top, f"TOP {n} {lines}")
            self.assertEqual(pop.command(f"TOP {count + 1} 0"), b"-ERR no such message\r\n")
            self.assertTrue(pop.command(f"RETR {count + 1}").startswith(b"-ERR"))
            pop.ok("QUIT")
        rows = self.dovecot.wait_logouts(2, USER)
        self.assertRegex(rows[-1], r"top=0/0, retr=%d/" % count)


def bob_message(n, spam):
    subject = b"Miracle pills for Bob" if spam else b"Bob's note %d" % n
    return (b"Return-Path: <friend@example.com>\r\n"
            b"From: Friend <friend@example.com>\r\n"
            b"To: bob@example.net\r\n"
            b"Subject: " + subject + b"\r\n"
            b"Message-ID: <bob-%d@example.com>\r\n\r\n"
            b"Hello Bob, this is message %d.\r\n" % (n, n))


class Deletions(ProxyTest):
    def test_deletions_reach_exactly_the_messages_the_client_chose(self):
        """DELE 1, a new STAT, then the last message retrieved and deleted:
        Dovecot keeps exactly the others."""
        with rawpop.RawPop(self.orvelane.port) as pop:
            pop.login(self.proxy_user(), PASSWORD)
            count = int(pop.ok("STAT").split()[1])
            _, first = pop.retr_raw(1)
            pop.ok("DELE 1")
            self.assertEqual(pop.command("RETR 1"), b"-ERR no such message\r\n")
            self.assertEqual(int(pop.ok("STAT").split()[1]), count - 1)
            self.assertEqual(sorted(pop.list_sizes()), list(range(2, count + 1)))
            _, last = pop.retr_raw(count)
            pop.ok(f"DELE {count}")
            pop.ok("QUIT")
        self.dovecot.wait_logouts(1, "alice")
        with rawpop.RawPop(self.dovecot.port) as direct:
            direct.login(USER, PASSWORD)
            left = {mail.message_id(direct.retr_raw(n)[1]) for n in direct.list_sizes()}
            direct.ok("QUIT")
        gone = {mail.message_id(first), mail.message_id(last)}
        self.assertEqual(len(gone), 2)
        self.assertEqual(left, set(self.mailbox) - gone)


class TwoAccounts(ProxyTest):
    # UIDLs are the bare message numbers, so both mailboxes use the same ones.
    UIDL_FORMAT = "%u"
    EXTRA_USERS = {"bob": "bobs-secret"}

    def test_accounts_with_equal_uidls_get_their_own_mail(self):
        bob = {}
        for n, spam in ((1, False), (2, True), (3, False)):
            data = bob_message(n, spam)
            self.dovecot.add_message(data, user="bob")
            bob[mail.message_id(data)] = mail.tagged(data) if spam else data
        self.fetch_account("alice", PASSWORD,
                           {mid: self.expected(mid) for mid in self.mailbox})
        self.fetch_account("bob", "bobs-secret", bob)
        # and back: alice's copies are still hers
        self.fetch_account("alice", PASSWORD,
                           {mid: self.expected(mid) for mid in self.mailbox})
        self.assert_log_keeps_secrets("bobs-secret")

    def fetch_account(self, user, password, want):
        with rawpop.RawPop(self.orvelane.port) as pop:
            pop.login(self.proxy_user(user), password)
            sizes = pop.list_sizes()
            got = {}
            for n in sizes:
                _, raw = pop.retr_raw(n)
                message = rawpop.unstuff(raw)
                got[mail.message_id(message)] = message
            pop.ok("QUIT")
        self.assertEqual(sorted(got), sorted(want), f"{user} got another account's mail")
        for mid, message in got.items():
            self.assertEqual(message, want[mid], f"{user}: {mid}")


if __name__ == "__main__":
    unittest.main()


class Restarts(ProxyTest):
    fetch_all = WireBytes.fetch_all

    def test_a_restart_downloads_nothing_and_a_kill_mid_scan_leaves_a_sound_store(self):
        """The store outlives the program: after a restart every message is
        served from it, byte for byte, without a RETR. A SIGKILL during a
        scan (wherever it lands) leaves nothing half-written: the next scan
        serves every message exactly."""
        self.fetch_all()
        self.orvelane.stop()
        self.orvelane.start()
        mark = len(self.orvelane.log())
        self.fetch_all()
        self.assertIn(self.all_reused_line(len(self.mailbox)), self.orvelane.log()[mark:])
        self.assert_downloads(self.dovecot.wait_logouts(2, "alice")[-1], 0)
        folder = self.orvelane.folder
        self.assertEqual(os.stat(os.path.join(folder, "Orvelane.db")).st_mode & 0o777, 0o600)

        # Enough new mail (60 x 40 KB) for the kill to land in the download.
        for n in range(1, 61):
            data = bob_message(n, n % 3 == 0) + b"Padding line of the message body.\r\n" * 1200
            self.dovecot.add_message(data)
            self.mailbox[mail.message_id(data)] = (n % 3 == 0, data)
        pop = rawpop.RawPop(self.orvelane.port)
        pop.login(self.proxy_user(), PASSWORD)
        pop.sock.sendall(b"STAT\r\n")
        time.sleep(0.05)
        os.killpg(self.orvelane.process.pid, signal.SIGKILL)
        self.orvelane.process.wait(5)
        self.orvelane.process = None
        pop.close()
        self.orvelane.start()
        self.fetch_all()
        self.assertNotIn("illisible", self.orvelane.log())
