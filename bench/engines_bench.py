#!/usr/bin/env python3
"""Messages per second of each engine bridge against its real engine: a
private instance of each (tests/e2e/lab/engines.py) judges ~100 messages of
varied ham and spam through tests/plugins/bridge_driver, one at a time and
with a few calls at once (as the program's worker threads make them). Not a
test: it prints a table.

  python3 bench/engines_bench.py [--build build/test] [--count 100] [--threads 4]
                                 [--engines spamd,rspamd,bogofilter,clamd]
"""
import argparse
import os
import random
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from lab import engines, mail  # noqa: E402
from lab.proc import exit_on_sigterm  # noqa: E402


def corpus(count, seed=7):
    """`count` messages: the e2e mailbox, GTUBE, the test signature, word
    messages of both kinds, some with a larger body."""
    rng = random.Random(seed)
    fixed = [data for _, data in mail.committed()] + [
        engines.gtube_message(), engines.virus_message(), mail.large_ham(60_000)]
    out = list(fixed)
    while len(out) < count:
        n = len(out)
        words = engines.SPAM_WORDS if n % 2 else engines.HAM_WORDS
        message = engines.word_message(words, n, "spam" if n % 2 else "ham")
        if n % 5 == 0:
            message += b"\r\n".join(b" ".join(rng.choice(words).encode() for _ in range(12))
                                    for _ in range(rng.randint(20, 400))) + b"\r\n"
        out.append(message)
    return out[:count]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "test"))
    parser.add_argument("--count", type=int, default=100)
    parser.add_argument("--threads", type=int, default=4)
    parser.add_argument("--engines", default="spamd,rspamd,bogofilter,clamd")
    args = parser.parse_args()
    exit_on_sigterm()
    driver = engines.Driver(os.path.join(args.build, "tests", "plugins", "bridge_driver"),
                            os.path.join(args.build, "plugins"))
    if not driver.available():
        sys.exit(f"no bridge_driver or plugins under {args.build}: build the bridge_driver target")
    root = tempfile.mkdtemp(prefix="orvelane-engines-bench-")
    os.chmod(root, 0o755)
    try:
        files = []
        for i, data in enumerate(corpus(args.count)):
            files.append(os.path.join(root, f"m{i:03}.eml"))
            with open(files[-1], "wb") as f:
                f.write(data)
        print(f"{len(files)} messages, {sum(os.path.getsize(f) for f in files) // 1024} KiB")
        print(f"{'bridge':<12}{'1 call':>12}{f'{args.threads} calls':>12}  verdicts (ham/spam/unsure/not judged)")
        for name in args.engines.split(","):
            cls = engines.ENGINES[name]
            if not cls.installed():
                print(f"{name:<12}{'(not installed)':>24}")
                continue
            engine = cls(os.path.join(root, name))
            try:
                engine.start()
                if name == "bogofilter":
                    for kind in ("spam", "ham"):
                        words = engines.SPAM_WORDS if kind == "spam" else engines.HAM_WORDS
                        train = []
                        for n in range(10):
                            train.append(os.path.join(root, f"train-{kind}-{n}.eml"))
                            with open(train[-1], "wb") as f:
                                f.write(engines.word_message(words, 1000 + n, kind))
                        driver.run(name, kind, train, engine.options())
                rates, counts = [], [0, 0, 0, 0]
                for threads in (1, args.threads):
                    results, _, elapsed = driver.run(name, "check", files, engine.options(),
                                                     threads=threads, wait=600)
                    rates.append(len(results) / elapsed)
                    if threads == 1:
                        for r in results:
                            counts[r["verdict"]] += 1
                print(f"{name:<12}{rates[0]:>8.0f} /s {rates[1]:>8.0f} /s  "
                      f"{'/'.join(map(str, counts))}")
            finally:
                engine.stop()
    finally:
        shutil.rmtree(root, True)


if __name__ == "__main__":
    main()
