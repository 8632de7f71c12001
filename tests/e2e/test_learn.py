"""orvelane --learn-spam / --learn-ham: the program itself on a Maildir, an mbox
and single files, teaching the test plug-in (which records every text it is
taught) or real bogofilter through its bridge; its refusals and exit
statuses."""
import os
import shutil
import subprocess
import tempfile
import unittest

from lab import engines
from lab.engines import Driver, HAM, SPAM
from lab.proc import die_with_parent, exit_on_sigterm

exit_on_sigterm()

BINARY = os.environ.get("ORVELANE_BIN", "")


class LearnTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="orvelane-learn-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.work = self.path("work")
        self.config = self.path("xdg", "orvelane")
        for folder in (self.work, self.config):
            os.makedirs(folder)
        self.record = self.path("taught")

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, data, *parts):
        path = self.path(*parts)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def settings(self, lines, folder=None):
        self.write(("\n".join(lines) + "\n").encode(), folder or self.work, "Orvelane.ini")

    def learn(self, *args):
        done = subprocess.run([BINARY, *args], cwd=self.work, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60, preexec_fn=die_with_parent,
                              env=dict(os.environ, XDG_CONFIG_HOME=self.path("xdg"), HOME=self.root))
        return done.returncode, done.stderr.decode("utf-8", "replace")

    def taught(self):
        """The texts the test plug-in was taught, as (kind, bytes), sorted."""
        if not os.path.exists(self.record):
            return []
        with open(self.record, "rb") as f:
            data = f.read()
        out = []
        while data:
            head, data = data.split(b"\n", 1)
            _, kind, length = head.split(b" ")
            out.append((kind.decode(), data[:int(length)]))
            data = data[int(length):]
        return sorted(out)

    def test_maildir_mbox_and_files(self):
        self.settings(["PlugIn=testengine", f"testengine.Record={self.record}"])
        maildir = self.path("Maildir")
        self.write(b"Subject: one\n\nfirst\n", "Maildir", "cur", "1:2,S")
        self.write(b"Subject: two\r\n\r\nsecond", "Maildir", "new", "2")
        self.write(b"", "Maildir", "cur", "3-empty")
        os.symlink(self.path("gone"), self.path("Maildir", "cur", "4-dangling"))
        os.makedirs(self.path("Maildir", "tmp"))
        mbox = self.write(b"From a@example.com Mon Jan  1 00:00:00 2024\nSubject: m1\n\n>From quoted\n"
                          b">>From twice\nFrom inside a paragraph\n\n"
                          b"From b@example.com Mon Jan  1 00:00:01 2024\nSubject: m2\n\nlast\n", "inbox.mbox")
        single = self.write(b"Subject: single\n\nbody\n", "single.eml")
        empty = self.write(b"", "empty.eml")
        status, err = self.learn("--learn-spam", maildir, mbox, single, empty)
        self.assertEqual(status, 0, err)
        self.assertEqual(self.taught(), sorted([
            ("spam", b"Subject: one\r\n\r\nfirst\r\n"),
            ("spam", b"Subject: two\r\n\r\nsecond\r\n"),
            ("spam", b"Subject: m1\r\n\r\nFrom quoted\r\n>From twice\r\nFrom inside a paragraph\r\n"),
            ("spam", b"Subject: m2\r\n\r\nlast\r\n"),
            ("spam", b"Subject: single\r\n\r\nbody\r\n"),
        ]))
        for needle in ("cannot read " + self.path("Maildir", "cur", "4-dangling"),
                       maildir + " (Maildir): 2 messages, 0 over 10485760 bytes, 1 empty, 1 unreadable",
                       empty + " (message file): 0 messages, 0 over 10485760 bytes, 1 empty",
                       "5 messages read as spam from 4 PATH(s)",
                       "testengine: 5 taught, 0 skipped (nothing to learn or known already), 0 failed"):
            self.assertIn(needle, err)

    def test_refusals_and_exit_statuses(self):
        message = self.write(b"Subject: x\n\nx\n", "m.eml")
        engine = ["PlugIn=testengine", f"testengine.Record={self.record}"]
        unreadable = [self.path("gone.eml")]
        os.symlink(self.path("nowhere"), self.path("dangling.eml"))
        unreadable.append(self.path("dangling.eml"))
        if os.geteuid() != 0:
            unreadable.append(self.write(b"Subject: y\n\ny\n", "locked.eml"))
            os.chmod(unreadable[-1], 0)
        rows = [
            # (name, settings here, settings in the configuration folder, arguments, status, stderr, taught)
            ("unreadable PATH", engine, None, ["--learn-ham", message, *unreadable], 2, "cannot read", 0),
            ("no PATH", engine, None, ["--learn-ham"], 2, "needs at least one PATH", 0),
            ("folder of nothing", engine, None, ["--learn-ham", self.work + "/sub"], 2,
             "neither a Maildir", 0),
            ("no plug-in learns", ["PlugIn=rulecheck"], None, ["--learn-spam", message], 2,
             "none of the plug-ins of", 0),
            ("no plug-in at all", [], None, ["--learn-spam", message], 2, "(it names none)", 0),
            ("engine knew it", engine + ["testengine.Learn=0"], None, ["--learn-spam", message], 1,
             "0 taught, 1 skipped", 1),
            ("engine failed", engine + ["testengine.Learn=-1"], None, ["--learn-spam", message], 1,
             "1 failed\n    first failure: " + message + ": spam 17 bytes", 1),
            ("/default reads the configuration folder", [], engine, ["/default", "--learn-ham", message],
             0, "1 taught", 1),
            # read from where the command was given, not the configuration folder
            ("/default and a relative PATH", [], engine, ["/default", "--learn-ham", "../m.eml"],
             0, "1 taught", 1),
        ]
        os.makedirs(self.work + "/sub/empty-folder")
        for name, here, there, args, status, needle, count in rows:
            with self.subTest(row=name):
                if os.path.exists(self.record):
                    os.remove(self.record)
                self.settings(here)
                if there is not None:
                    self.settings(there, self.config)
                got, err = self.learn(*args)
                self.assertEqual(got, status, err)
                self.assertIn(needle, err)
                for path in unreadable if name == "unreadable PATH" else []:
                    self.assertIn("cannot read " + path, err)
                self.assertEqual(len(self.taught()), count, err)

    def test_bogofilter_round_trip(self):
        """A message bogofilter judges ham, taught as spam from its file, is
        then judged spam through the bridge."""
        if not engines.Bogofilter.installed():
            self.skipTest("bogofilter is not installed (scripts/deps.sh --tests installs it)")
        driver = Driver()
        if not driver.available():
            self.fail("BRIDGE_DRIVER and ORVELANE_PLUGINS must name the built driver and bridges")
        options = {"Program": engines.Bogofilter.binary, "WordList": self.path("words")}
        self.settings(["PlugIn=bogofilter"] + [f"bogofilter.{k}={v}" for k, v in options.items()])
        for kind, words in (("spam", engines.SPAM_WORDS), ("ham", engines.HAM_WORDS)):
            for n in range(6):
                self.write(engines.word_message(words, n, kind).replace(b"\r\n", b"\n"), kind, "cur", str(n))
            status, err = self.learn(f"--learn-{kind}", self.path(kind))
            self.assertEqual(status, 0, err)
            self.assertIn("bogofilter: 6 taught", err)
        target = self.write(engines.message("Harvest notes", (
            "meeting agenda " + " ".join(f"orchard{n} tractor{n} harvest{n}" for n in range(12))).encode()),
            "target.eml")

        def judged():
            (result,), logs, _ = driver.run("bogofilter", "check", [target], options)
            return result["verdict"]

        self.assertEqual(judged(), HAM)
        status, err = self.learn("--learn-spam", target)
        self.assertEqual(status, 0, err)
        self.assertEqual(judged(), SPAM)


if __name__ == "__main__":
    unittest.main()
