"""The window's "Spam" button in front of each real engine that learns: the
window test EngineCorrectionTest runs against an engine this test starts
(lab/engines.py) and trains a little first. A message the engine judges good,
corrected from the window, is judged spam at the next check; rspamd, without
redis, refuses to learn and says so in the log."""
import os
import shutil
import subprocess
import tempfile
import unittest

from lab import engines
from lab.engines import Driver
from lab.proc import die_with_parent, exit_on_sigterm

exit_on_sigterm()

# Words neither the training nor the engines' own rules have seen.
TARGET = engines.message("Harvest notes", (
    "meeting agenda " + " ".join(f"orchard{n} tractor{n} harvest{n}" for n in range(12))).encode())


class QuickBayesSpamd(engines.Spamd):
    """spamd whose Bayes answers after one message of each kind, not 200."""

    def _spawn(self, args, env=None):
        super()._spawn(args + ["--cf=bayes_min_spam_num 1", "--cf=bayes_min_ham_num 1"], env)


class CorrectEngines(unittest.TestCase):
    def setUp(self):
        self.window_test = os.environ.get("TEST_UI", "")
        self.driver = Driver()
        if not os.access(self.window_test, os.X_OK) or not self.driver.available():
            self.fail("TEST_UI, BRIDGE_DRIVER and ORVELANE_PLUGINS must name the build")
        self.root = tempfile.mkdtemp(prefix="orvelane-correct-")
        os.chmod(self.root, 0o755)
        self.addCleanup(shutil.rmtree, self.root, True)

    def write(self, name, data):
        path = os.path.join(self.root, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def train(self, name, options):
        for kind, words in (("spam", engines.SPAM_WORDS), ("ham", engines.HAM_WORDS)):
            files = [self.write(f"{name}-{kind}-{n}.eml", engines.word_message(words, n, kind)) for n in range(6)]
            results, _, _ = self.driver.run(name, kind, files, options)
            self.assertEqual({r["learn"] for r in results}, {1}, results)

    def correct(self, name, options, expect):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ORVELANE_ENGINE=name, ORVELANE_ENGINE_EXPECT=expect,
                   ORVELANE_ENGINE_MESSAGE=self.write(f"{name}-target.eml", TARGET),
                   ORVELANE_ENGINE_OPTIONS="\n".join(f"{k}={v}" for k, v in options.items()))
        done = subprocess.run([self.window_test, "--gtest_filter=EngineCorrectionTest.*"], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=300,
                              preexec_fn=die_with_parent)
        out = done.stdout.decode("cp1252", errors="replace")
        self.assertEqual(done.returncode, 0, out[-4000:])
        self.assertIn("[  PASSED  ] 1 test.", out)

    def test_each_engine(self):
        rows = [
            (engines.Bogofilter, {}, "learned"),
            (QuickBayesSpamd, {"Threshold": "3"}, "learned"),  # Bayes alone weighs 3.7 at most
            (engines.Rspamd, {}, "refused"),
        ]
        for engine_class, extra, expect in rows:
            with self.subTest(engine=engine_class.name):
                if not engine_class.installed():
                    self.skipTest(f"{engine_class.binary} is not installed (scripts/deps.sh --tests installs it)")
                engine = engine_class(os.path.join(self.root, engine_class.name))
                try:
                    engine.start()
                    options = dict(engine.options(), **extra)
                    if expect == "learned":
                        self.train(engine_class.name, options)
                    self.correct(engine_class.name, options, expect)
                finally:
                    engine.stop()


if __name__ == "__main__":
    unittest.main()
