"""The bridges against the real engines from Debian, each a private instance
the test starts (lab/engines.py): GTUBE is spam for spamd and rspamd, the
test signature for clamd, a word list trained through the bridge for
bogofilter, and plain ham is ham everywhere; learning and the engines' own
refusals come back as the interface says."""
import os
import shutil
import tempfile
import unittest

from lab import engines
from lab.engines import Driver, HAM, NOT_JUDGED, SPAM
from lab.proc import exit_on_sigterm

exit_on_sigterm()

LEARNED, LEARN_NOTHING, LEARN_FAILED = 1, 0, -1


class EngineTest(unittest.TestCase):
    ENGINE = None

    @classmethod
    def setUpClass(cls):
        if not cls.ENGINE.installed():
            raise unittest.SkipTest(f"{cls.ENGINE.binary} is not installed "
                                    "(scripts/deps.sh --tests installs it)")
        cls.root = tempfile.mkdtemp(prefix=f"orvelane-{cls.ENGINE.name}-")
        os.chmod(cls.root, 0o755)
        cls.engine = cls.ENGINE(os.path.join(cls.root, "engine"))
        try:
            cls.engine.start()
        except Exception:
            cls.engine.stop()
            shutil.rmtree(cls.root, True)
            raise

    @classmethod
    def tearDownClass(cls):
        cls.engine.stop()
        shutil.rmtree(cls.root, True)

    def setUp(self):
        self.driver = Driver()
        if not self.driver.available():
            self.fail("BRIDGE_DRIVER and ORVELANE_PLUGINS must name the built driver and bridges")

    def write(self, name, data):
        path = os.path.join(self.root, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_bridge(self, command, files, **options):
        # Two calls at once on one instance, as the program's worker threads make them.
        results, logs, _ = self.driver.run(self.ENGINE.name, command, files,
                                           dict(self.engine.options(), **options), threads=2)
        self.assertEqual(len(results), len(files), f"{results} {logs}\n{self.engine.log_tail()}")
        return results, logs

    def check_table(self, rows):
        """rows: (name, message bytes, verdict, text in the reason)."""
        files = [self.write(f"{name}.eml", data) for name, data, _, _ in rows]
        results, logs = self.run_bridge("check", files)
        by_file = {r["file"]: r for r in results}
        for (name, _, verdict, reason), path in zip(rows, files):
            with self.subTest(message=name):
                got = by_file[path]
                self.assertEqual(got["verdict"], verdict, f"{got} {logs}")
                self.assertIn(reason, got["reason"])
        return by_file, logs


class Spamd(EngineTest):
    ENGINE = engines.Spamd

    def test_check_and_learn(self):
        by_file, logs = self.check_table([
            ("gtube", engines.gtube_message(), SPAM, "GTUBE"),
            ("ham", engines.ham_message(), HAM, ""),
        ])
        gtube = by_file[os.path.join(self.root, "gtube.eml")]
        self.assertTrue(gtube["hasScore"])
        self.assertGreaterEqual(gtube["score"], 1000)  # GTUBE alone weighs 1000
        self.assertEqual(gtube["threshold"], 5.0)      # spamd's required score
        self.assertEqual(logs, [])

        spam = self.write("learn.eml", engines.word_message(engines.SPAM_WORDS, 1, "spam"))
        for expected in (LEARNED, LEARN_NOTHING):  # the second time it knows the message
            (result,), logs = self.run_bridge("spam", [spam])
            self.assertEqual(result["learn"], expected, result)
        self.assertIn("d\u00e9j\u00e0 connu", result["result"])


class Rspamd(EngineTest):
    ENGINE = engines.Rspamd

    def test_check_and_learn(self):
        _, logs = self.check_table([
            ("gtube", engines.gtube_message(), SPAM, "GTUBE"),
            ("ham", engines.ham_message(), HAM, ""),
        ])
        self.assertEqual(logs, [])
        # Without redis rspamd has no Bayes store: its refusal comes back.
        ham = self.write("learn.eml", engines.word_message(engines.HAM_WORDS, 1, "ham"))
        (result,), logs = self.run_bridge("ham", [ham])
        self.assertEqual(result["learn"], LEARN_FAILED, result)
        self.assertIn("denied learning ham", result["result"])
        self.assertEqual(len(logs), 1, logs)


class Clamd(EngineTest):
    ENGINE = engines.Clamd

    def test_check(self):
        big = engines.message("Archive", b"A" * (engines.Clamd.STREAM_MAX + 1024))
        by_file, logs = self.check_table([
            ("signature", engines.virus_message(), SPAM, engines.SIGNATURE_NAME),
            ("ham", engines.ham_message(), HAM, ""),
            ("past StreamMaxLength", big, NOT_JUDGED, "size limit"),
        ])
        self.assertEqual(len(logs), 1, logs)
        self.assertIn("size limit exceeded", logs[0])


class Bogofilter(EngineTest):
    ENGINE = engines.Bogofilter

    def test_learn_then_check(self):
        ham = self.write("ham.eml", engines.ham_message())
        (result,), logs = self.run_bridge("check", [ham])
        self.assertEqual(result["verdict"], NOT_JUDGED)
        self.assertIn("liste de mots vide", logs[0])

        for kind, words in (("spam", engines.SPAM_WORDS), ("ham", engines.HAM_WORDS)):
            files = [self.write(f"train-{kind}-{n}.eml", engines.word_message(words, n, kind))
                     for n in range(6)]
            results, logs = self.run_bridge(kind, files)
            self.assertEqual({r["learn"] for r in results}, {LEARNED}, results)
        by_file, logs = self.check_table([
            ("spam", engines.word_message(engines.SPAM_WORDS, 7, "spam"), SPAM, ""),
            ("ham", engines.word_message(engines.HAM_WORDS, 7, "ham"), HAM, ""),
        ])
        spam = by_file[os.path.join(self.root, "spam.eml")]
        self.assertEqual((spam["hasScore"], spam["threshold"]), (1, 0.521))  # the bridge's default
        self.assertGreaterEqual(spam["score"], 0.99)
        self.assertEqual(logs, [])


if __name__ == "__main__":
    unittest.main()
