"""Each engine bridge in the real program: orvelane with PlugIn=<bridge> and
its options in Orvelane.ini, in front of a private Dovecot, fetched with
poplib. The engine's spam comes tagged "_SPAM_ ", ham byte for byte as the
server holds it, and the log shows the bridge's verdict. The rule file is
empty: only the plug-in judges."""
import os
import shutil
import tempfile
import unittest

from lab import clients, engines, mail
from lab.dovecot import Dovecot
from lab.engines import Driver
from lab.orvelane import Orvelane
from lab.proc import exit_on_sigterm

exit_on_sigterm()

USER, PASSWORD = "alice", "secret"


def bogofilter_spam():
    return engines.word_message(engines.SPAM_WORDS, 9, "spam")


# bridge: (its spam, what the log's verdict shows)
SPAM = {
    "spamd": (engines.gtube_message, "GTUBE"),
    "rspamd": (engines.gtube_message, "GTUBE"),
    "clamd": (engines.virus_message, engines.SIGNATURE_NAME),
    "bogofilter": (bogofilter_spam, "PlugIn (bogofilter"),
}


class ProxyEngines(unittest.TestCase):
    def setUp(self):
        self.binary = os.environ.get("ORVELANE_BIN", "")
        self.driver = Driver()
        if not os.access(self.binary, os.X_OK) or not self.driver.available():
            self.fail("ORVELANE_BIN, BRIDGE_DRIVER and ORVELANE_PLUGINS must name the build")
        self.root = tempfile.mkdtemp(prefix="orvelane-proxy-engines-")
        os.chmod(self.root, 0o755)
        self.addCleanup(shutil.rmtree, self.root, True)
        with open(os.path.join(mail.MESSAGES, "ham-01-plain.eml"), "rb") as f:
            self.hams = [f.read(), engines.ham_message(3)]

    def train_bogofilter(self, engine):
        """Its word list learns through the bridge, as the program would teach it."""
        for kind, words in (("spam", engines.SPAM_WORDS), ("ham", engines.HAM_WORDS)):
            files = []
            for n in range(6):
                files.append(os.path.join(self.root, f"train-{kind}-{n}.eml"))
                with open(files[-1], "wb") as f:
                    f.write(engines.word_message(words, n, kind))
            results, _, _ = self.driver.run("bogofilter", kind, files, engine.options())
            self.assertEqual({r["learn"] for r in results}, {1}, results)

    def test_spam_tagged_ham_unchanged(self):
        for bridge, (make_spam, shown) in SPAM.items():
            with self.subTest(bridge=bridge):
                cls = engines.ENGINES[bridge]
                if not cls.installed():
                    self.skipTest(f"{cls.binary} is not installed")
                self.fetch_through(bridge, cls, make_spam(), shown)

    def fetch_through(self, bridge, cls, spam, shown):
        folder = os.path.join(self.root, bridge)
        engine = cls(os.path.join(folder, "engine"))
        self.addCleanup(engine.stop)
        engine.start()
        if bridge == "bogofilter":
            self.train_bogofilter(engine)
        dovecot = Dovecot(os.path.join(folder, "dovecot"), USER, PASSWORD)
        for data in [spam] + self.hams:
            dovecot.add_message(data)
        self.addCleanup(dovecot.stop)
        dovecot.start()
        settings = f"PlugIn={bridge}\r\n" + "".join(
            f"{bridge}.{key}={value}\r\n" for key, value in engine.options().items())
        orvelane = Orvelane(self.binary, os.path.join(folder, "orvelane"), extra_settings=settings)
        self.addCleanup(orvelane.stop)
        orvelane.start()

        _, messages, _ = clients.fetch_poplib(orvelane.port,
                                              f"{USER}(127.0.0.1:{dovecot.port})", PASSWORD)
        received = {mail.message_id(m): m for _, m in messages.values()}
        log = orvelane.log()
        self.assertEqual(received.pop(mail.message_id(spam)), mail.tagged(spam), log[-3000:])
        self.assertEqual(received, {mail.message_id(h): h for h in self.hams}, log[-3000:])
        self.assertIn(shown, log)
        self.assertNotIn("non jug", log)  # every message was judged
        self.assertEqual(orvelane.stop(), 0)
        engine.stop()


if __name__ == "__main__":
    unittest.main()
