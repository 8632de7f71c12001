"""orvelane --check: the program itself judging a Maildir, an mbox and single
files with the rule file and a plug-in, without any server; its verdict
lines, its summary and its refusals."""
import os
import shutil
import subprocess
import tempfile
import unittest

from lab.proc import die_with_parent, exit_on_sigterm

exit_on_sigterm()

BINARY = os.environ.get("ORVELANE_BIN", "")
RULES = b"\r\n".join([b"SUBJECT:", b"MIRACLE*PILLS", b"BODY:", b"FREE CRUISE", b"TRUST:",
                      b"GRACE@PARTNER.EXAMPLE"]) + b"\r\n"


class CheckTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvelane-check-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.work = os.path.join(self.root, "work")
        os.makedirs(os.path.join(self.root, "xdg", "orvelane"))
        self.write(RULES, "blacklist.txt")
        self.write(b"PlugIn=testengine\ntestengine.Verdict=spam\ntestengine.Word=lottery\n"
                   b"testengine.Reason=numbers\n", "Orvelane.ini")

    def write(self, data, *parts):
        path = os.path.join(self.work, *parts)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def check(self, *args):
        done = subprocess.run([BINARY, *args], cwd=self.work, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60, preexec_fn=die_with_parent,
                              env=dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "xdg"),
                                       HOME=self.root))
        return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")

    def test_verdicts_of_maildir_mbox_and_file(self):
        self.write(b"From: a@example.com\nSubject: Miracle diet pills\n\nhello\n", "Maildir", "cur", "1:2,S")
        self.write(b"From: b@example.com\nSubject: notes\n\n.leading dot\nminutes\n", "Maildir", "new", "2")
        self.write(b"From a@example.com Mon Jan  1 00:00:00 2024\nFrom: c@example.com\nSubject: trip\n\n"
                   b"Claim your <b>free</b> cruise\n\n"
                   b"From b@example.com Mon Jan  1 00:00:01 2024\nFrom: Grace <grace@partner.example>\n"
                   b"Subject: free cruise\n\nfree cruise\n\n"
                   b"From c@example.com Mon Jan  1 00:00:02 2024\nFrom: d@example.com\nSubject: hi\n\n"
                   b"lottery numbers\n", "inbox.mbox")
        self.write(b"From: e@example.com\nSubject: plain\n\nnothing here\n", "one.eml")
        status, out, err = self.check("--check", "Maildir", "inbox.mbox", "one.eml")
        self.assertEqual(status, 0, err)
        self.assertEqual(out.splitlines(), [
            "Maildir/cur/1:2,S\tspam\tSubject (String search): MIRACLE*PILLS",
            "Maildir/new/2\tham",
            "inbox.mbox:1\tspam\tBody (no HTML): FREE CRUISE",
            "inbox.mbox:2\tham\tTrust",
            "inbox.mbox:3\tspam\tPlugIn: testengine numbers",
            "one.eml\tham",
            "6 messages checked from 3 PATH(s): 3 spam, 3 ham; skipped: 0 too big, 0 empty, 0 unreadable",
        ])
        self.assertIn("Chargement de " + os.path.join(self.work, "blacklist.txt"), err)
        self.assertNotIn("Analyse du Msg", err)

    def test_refusals(self):
        message = self.write(b"Subject: x\n\nx\n", "m.eml")
        rows = [
            # (name, arguments, stderr)
            ("missing PATH", ["--check", message, "gone.eml"], "cannot read gone.eml"),
            ("no PATH", ["--check"], "needs at least one PATH"),
            ("folder of nothing", ["--check", os.path.join(self.work, "empty")], "neither a Maildir"),
        ]
        os.makedirs(os.path.join(self.work, "empty", "sub"))
        for name, args, needle in rows:
            with self.subTest(row=name):
                status, out, err = self.check(*args)
                self.assertEqual(status, 2, err)
                self.assertIn(needle, err)
                self.assertEqual(out, "")


if __name__ == "__main__":
    unittest.main()
