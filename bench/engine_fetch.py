#!/usr/bin/env python3
"""An engine behind orvelane: a first check of 300 corpus messages through
orvelane with PlugIn=spamd (spamd with one child, on 127.0.0.1), against the
same check without a plug-in (the download alone) and the engine's own time
for those messages (each sent to spamd in turn, as the bridge sends it).

While the check runs, another mail client connects again and again and asks
orvelane for its greeting and its CAPA answer: the slowest of those answers
shows whether the engine's work held the event loop.

Budgets: the slowest answer to the other client at most 100 ms; the check
through orvelane at most 1.1 x the larger of the download alone and the
engine's own time. Reported as met or missed; --strict exits 1 on a miss.

  engine_fetch.py --orvelane build/bench/orvelane [--corpus DIR] [--count 300]
"""
import argparse
import os
import shutil
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, HERE)

from lab import engines, rawpop  # noqa: E402
from lab.dovecot import Dovecot  # noqa: E402
from lab.orvelane import Orvelane  # noqa: E402
from lab.proc import exit_on_sigterm  # noqa: E402
from proxy_fetch import fetch, load_corpus  # noqa: E402

USER, PASSWORD = "alice", "secret"
LATENCY_BUDGET = 0.100
RATIO_BUDGET = 1.1


def symbols(spamd, message):
    """spamd's own judgement of one message, as the bridge asks for it."""
    return engines._ask(("127.0.0.1", spamd.port),
                        b"SYMBOLS SPAMC/1.5\r\nContent-length: %d\r\n\r\n" % len(message) + message,
                        timeout=60)


class Prober(threading.Thread):
    """Connects to orvelane in a loop, reads the greeting and the CAPA answer,
    and keeps the slowest round."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.worst, self.rounds = port, 0.0, 0
        self.stopping = threading.Event()

    def run(self):
        while not self.stopping.is_set():
            start = time.perf_counter()
            with rawpop.RawPop(self.port, timeout=30) as pop:
                pop.multi("CAPA")
                pop.ok("QUIT")
            self.worst = max(self.worst, time.perf_counter() - start)
            self.rounds += 1
            self.stopping.wait(0.02)


def check(binary, root, dovecot, extra):
    """A first check through a fresh orvelane; returns (seconds, answers, log, prober)."""
    orvelane = Orvelane(binary, root, extra_settings="ServerSecurity=none\r\n" + extra)
    orvelane.start()
    prober = Prober(orvelane.port)
    prober.start()
    try:
        seconds, _, answers = fetch(orvelane.port, f"{USER}(127.0.0.1:{dovecot.port})", PASSWORD, timeout=600)
    finally:
        prober.stopping.set()
        prober.join(60)
        orvelane.stop()
    return seconds, answers, orvelane.log(), prober


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvelane", required=True)
    parser.add_argument("--corpus", default=os.environ.get(
        "ORVELANE_CORPUS", os.path.join(HERE, ".corpus", "package", "data")))
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--strict", action="store_true")
    args, _ = parser.parse_known_args()
    exit_on_sigterm()
    if not engines.Spamd.installed():
        raise SystemExit("spamd is not installed (scripts/deps.sh --tests installs it)")

    messages, groups = load_corpus(args.corpus, args.count)
    root = tempfile.mkdtemp(prefix="orvelane-engine-bench-")
    os.chmod(root, 0o755)
    dovecot = spamd = None
    missed = []
    try:
        dovecot = Dovecot(os.path.join(root, "dovecot"), USER, PASSWORD)
        for m in messages:
            dovecot.add_message(m)
        dovecot.start()
        spamd = engines.Spamd(os.path.join(root, "spamd")).start()
        print(f"corpus: {len(messages)} messages, {sum(map(len, messages)) / 1e6:.1f} MB, "
              + ", ".join(f"{g} {n}" for g, n in groups.items()))
        fetch(dovecot.port, USER, PASSWORD)  # Dovecot builds its index once

        start = time.perf_counter()
        engine_spam = sum(b"Spam: True" in symbols(spamd, m) for m in messages)
        engine = time.perf_counter() - start
        alone, _, _, plain_prober = check(args.orvelane, os.path.join(root, "alone"), dovecot, "")
        through, answers, log, prober = check(
            args.orvelane, os.path.join(root, "spamd-check"), dovecot,
            f"PlugIn=spamd\r\nspamd.Address=127.0.0.1:{spamd.port}\r\n")
        tagged = sum(b"_SPAM_ " in a.split(b"\r\n\r\n", 1)[0] for a in answers)
        bound = max(alone, engine)
        ratio = through / bound
        print(f"download alone (no plug-in):      {alone:.2f} s")
        print(f"spamd alone, one message a time:  {engine:.2f} s ({len(messages) / engine:.1f} msg/s, "
              f"{engine_spam} spam)")
        print(f"through orvelane with spamd:      {through:.2f} s, {tagged} tagged; "
              f"{ratio:.2f} x the larger (budget {RATIO_BUDGET})")
        print(f"slowest answer to another client: {prober.worst * 1000:.0f} ms over {prober.rounds} rounds "
              f"(without the plug-in {plain_prober.worst * 1000:.0f} ms; budget {LATENCY_BUDGET * 1000:.0f} ms)")
        if ratio > RATIO_BUDGET:
            missed.append("total time")
        if prober.worst > LATENCY_BUDGET:
            missed.append("other client's answer")
        if "Plugin spamd : pas de r\ufffdponse" in log or "non jug" in log:
            print("note: the log shows messages spamd did not judge")
    finally:
        for part in (spamd, dovecot):
            if part:
                part.stop()
        shutil.rmtree(root, ignore_errors=True)
    print("budgets: " + ("all met" if not missed else "missed: " + ", ".join(missed)))
    return 1 if missed and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
