#!/usr/bin/env python3
"""Accuracy: how much spam the engines catch and how much good mail they tag,
measured the way a user meets it.

The public corpus (spam and ham groups) is split in two halves by a hash of
each file's name. The training half is taught with `orvelane --learn-spam` and
`orvelane --learn-ham` (as Maildir folders); the other half goes into a real
Dovecot mailbox and is fetched through orvelane by a POP3 client. A message
counts as tagged when its Subject arrives with "_SPAM_ ". Configurations: the
README's example rules alone; bogofilter; spamd with its Bayes learning (no
automatic learning, no network tests); both engines.

Then the incremental run, as the TREC spam track evaluates filters: every
message in arrival order (its Date), judged through the bridge with the
engine's score, and each mistake corrected at once through the same
`orvelane --learn-*` path; reported as 1-ROCA % (the area above the ROC curve
of those scores) and the mistakes made.

Before any of it, the bridges' default cutoffs are chosen on the training half
alone (bogofilter taught one part of it, scored on the other); --cutoffs-only
stops there.

Budgets: bogofilter at its shipped defaults >= 90 % caught with <= 0.5 % of
ham tagged; the best configuration >= 97 % caught with <= 0.3 % tagged.

  accuracy.py --orvelane build/bench/orvelane --driver build/bench/bench/bridge_driver
              --plugins build/bench/plugins [--configs rules,bogofilter,spamd,both]
              [--incremental bogofilter,spamd] [--incremental-limit N] [--swap]
              [--spamd-children 4] [--sample N] [--cutoffs-only]
"""
import argparse
import email.utils
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, HERE)

from lab import engines  # noqa: E402
from lab.dovecot import Dovecot  # noqa: E402
from lab.orvelane import Orvelane  # noqa: E402
from lab.proc import die_with_parent, exit_on_sigterm  # noqa: E402
from proxy_fetch import fetch  # noqa: E402

USER, PASSWORD = "alice", "secret"
# The example rule file of README.md ("The rules live in blacklist.txt").
README_RULES = (b"FROM:\r\n@lottery.example\r\nSUBJECT:\r\nCHEAP*PILLS\r\nBODY:\r\n"
                b"CLICK HERE TO UNSUBSCRIBE\r\nTRUST:\r\nboss@example.org\r\nNBRTO:\r\n30\r\n")
BUDGET_DEFAULT = (90.0, 0.5)
BUDGET_BEST = (97.0, 0.3)
# What the default cutoffs aim at on the part of the training half they are
# measured on: ham tagged at most this share, ham unsure at most the second.
CUTOFF_HAM_TAGGED = 0.002
CUTOFF_HAM_UNSURE = 0.01
# bogofilter's score for a message of words it has not seen (its robx): a
# cutoff at or below it would make everything new spam for a young word list.
BOGOFILTER_ROBX = 0.52


class Message:
    def __init__(self, group, name, data):
        self.group, self.name = group, name
        self.spam = group.startswith("spam")
        # The corpus files begin with the mbox "From " line of their archive:
        # not part of the message a server would hold.
        if data.startswith(b"From "):
            data = data.split(b"\n", 1)[1] if b"\n" in data else b""
        self.data = data  # LF line ends, as on disk
        self.wire = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        self.key = hashlib.sha256(f"{group}/{name}".encode()).digest()
        head = data.split(b"\n\n", 1)[0].decode("latin-1")
        self.when = 0.0
        for line in head.split("\n"):
            if line.lower().startswith("date:"):
                try:
                    self.when = email.utils.parsedate_to_datetime(line[5:].strip()).timestamp()
                except (TypeError, ValueError, IndexError, OverflowError):
                    pass
                break


def load(root, sample):
    messages = []
    for group in sorted(os.listdir(root)):
        folder = os.path.join(root, group)
        if not os.path.isdir(folder):
            continue
        for name in sorted(os.listdir(folder)):
            if name.endswith(".txt"):
                with open(os.path.join(folder, name), "rb") as f:
                    messages.append(Message(group, name, f.read()))
    if not messages:
        raise SystemExit(f"no corpus under {root}; run scripts/fetch-corpus.sh")
    if sample:
        messages = sorted(messages, key=lambda m: m.key)[:sample]
        messages.sort(key=lambda m: (m.group, m.name))
    return messages


def split(messages, bit=0):
    """Two halves by one bit of the name's hash."""
    a = [m for m in messages if not (m.key[bit // 8] >> (bit % 8)) & 1]
    b = [m for m in messages if (m.key[bit // 8] >> (bit % 8)) & 1]
    return a, b


def counts(messages):
    spam = sum(m.spam for m in messages)
    return f"{len(messages)} ({spam} spam, {len(messages) - spam} ham)"


def write_maildir(folder, messages):
    os.makedirs(os.path.join(folder, "cur"), exist_ok=True)
    os.makedirs(os.path.join(folder, "new"), exist_ok=True)
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    for i, m in enumerate(messages):
        with open(os.path.join(folder, "cur", f"{i:05}.{m.group}.{m.name}:2,S"), "wb") as f:
            f.write(m.data)
    return folder


class Setup:
    """An orvelane configuration folder with its plug-ins, for learning and
    for a check."""

    def __init__(self, binary, root, plugins, rules=b""):
        lines = ["ServerSecurity=none", "ScanAnswerSeconds=0", "PlugInSeconds=60", "MaxMemoMsg=100000"]
        for name, options in plugins:
            lines.append(f"PlugIn={name}")
            lines += [f"{name}.{k}={v}" for k, v in options.items()]
        self.orvelane = Orvelane(binary, root, rules=rules, extra_settings="\r\n".join(lines) + "\r\n")

    def learn(self, kind, paths, quiet=True, known_ok=False):
        o = self.orvelane
        env = dict(os.environ, HOME=o.home, XDG_CONFIG_HOME=o.xdg)
        done = subprocess.run([o.binary, f"--learn-{kind}"] + list(paths), cwd=o.folder, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              preexec_fn=die_with_parent, timeout=7200)
        err = done.stderr.decode(errors="replace")
        # A message the engine knows already (the corpus holds a few twice)
        # teaches nothing: for a single correction that is no failure.
        if done.returncode != 0 and not (known_ok and "nothing was taught" in err):
            raise RuntimeError(f"orvelane --learn-{kind} ended with {done.returncode}:\n{err[-3000:]}")
        if not quiet:
            print("    " + "\n    ".join(l for l in err.splitlines() if l.startswith("  ")))
        return err

    def check(self, dovecot):
        """Fetches the whole mailbox through a fresh orvelane; the tagged flags in order."""
        self.orvelane.start()
        try:
            seconds, _, answers = fetch(self.orvelane.port, f"{USER}(127.0.0.1:{dovecot.port})", PASSWORD,
                                        timeout=3600)
        finally:
            self.orvelane.stop()
        return seconds, [b"\r\nSubject: _SPAM_ " in b"\r\n" + a.split(b"\r\n\r\n", 1)[0] for a in answers]


class Spamd(engines.Spamd):
    """spamd as the lab starts it, with more children (it judges about ten
    messages a second each)."""

    def __init__(self, root, children):
        super().__init__(root)
        self.children = children

    def _spawn(self, args, env=None):
        args = [a for a in args if not a.startswith(("--min-children", "--min-spare", "--max-spare"))]
        i = args.index("-m")
        args[i + 1] = str(self.children)
        args[i + 2:i + 2] = [f"--min-children={self.children}", f"--min-spare={self.children}",
                             f"--max-spare={self.children}", "--cf=skip_rbl_checks 1",
                             "--cf=dns_available no"]
        super()._spawn(args, env)


def rates(messages, tagged):
    spam = [t for m, t in zip(messages, tagged) if m.spam]
    ham = [t for m, t in zip(messages, tagged) if not m.spam]
    return 100.0 * sum(spam) / max(len(spam), 1), 100.0 * sum(ham) / max(len(ham), 1), sum(spam), sum(ham)


def roca(scored):
    """1 - the area under the ROC curve of (score, spam) pairs, in %."""
    ordered = sorted(scored, key=lambda p: p[0])
    spam_total = sum(1 for _, s in ordered if s)
    ham_total = len(ordered) - spam_total
    if not spam_total or not ham_total:
        return float("nan")
    # Ham below each spam, ties counted half.
    above = 0.0
    i = 0
    ham_seen = 0
    while i < len(ordered):
        j = i
        while j < len(ordered) and ordered[j][0] == ordered[i][0]:
            j += 1
        spam_here = sum(1 for _, s in ordered[i:j] if s)
        ham_here = (j - i) - spam_here
        above += spam_here * (ham_seen + ham_here / 2)
        ham_seen += ham_here
        i = j
    return 100.0 * (1 - above / (spam_total * ham_total))


def choose_cutoffs(args, root, training, driver, bogofilter_options):
    """bogofilter taught one part of the training half, scored on the other:
    the spam cutoff leaves at most CUTOFF_HAM_TAGGED of that ham tagged, the
    unsure cutoff at most CUTOFF_HAM_UNSURE of it at or above."""
    fit, tune = split(training, bit=9)
    print(f"cutoffs: bogofilter taught {counts(fit)}, scored on {counts(tune)} (both from the training half)")
    options = dict(bogofilter_options, WordList=os.path.join(root, "cutoff-words"))
    setup = Setup(args.orvelane, os.path.join(root, "cutoff"), [("bogofilter", options)])
    setup.learn("spam", [write_maildir(os.path.join(root, "cutoff-spam"), [m for m in fit if m.spam])])
    setup.learn("ham", [write_maildir(os.path.join(root, "cutoff-ham"), [m for m in fit if not m.spam])])
    files = []
    folder = os.path.join(root, "cutoff-tune")
    os.makedirs(folder)
    for i, m in enumerate(tune):
        files.append(os.path.join(folder, f"{i:05}.eml"))
        with open(files[-1], "wb") as f:
            f.write(m.wire)
    results, _, _ = driver.run("bogofilter", "check", files, options, timeout_ms=60000, threads=2, wait=3600)
    score = {r["file"]: r["score"] for r in results if "score" in r}
    spam = sorted(score[f] for f, m in zip(files, tune) if m.spam and f in score)
    ham = sorted(score[f] for f, m in zip(files, tune) if not m.spam and f in score)

    def cutoff(share):
        allowed = int(share * len(ham))  # ham that may lie at or above
        # Just above the (allowed+1)-th highest ham score, on a 0.0001 grid.
        edge = ham[-(allowed + 1)] if len(ham) > allowed else 0.0
        return min(1.0, max((int(edge * 10000) + 1) / 10000, BOGOFILTER_ROBX + 0.001))

    spam_cut, unsure_cut = cutoff(CUTOFF_HAM_TAGGED), cutoff(CUTOFF_HAM_UNSURE)
    for name, cut in (("spam cutoff (Threshold)", spam_cut), ("unsure cutoff (Unsure)", unsure_cut)):
        caught = sum(s >= cut for s in spam) / max(len(spam), 1) * 100
        tagged = sum(h >= cut for h in ham) / max(len(ham), 1) * 100
        print(f"  {name}: {cut:.4f}: spam at or above {caught:.1f} %, ham {tagged:.2f} %")
    return spam_cut, unsure_cut


def incremental(args, root, name, ordered, driver, options):
    """Judged in arrival order through the bridge, each mistake taught at once
    through orvelane --learn-*. Returns (1-ROCA %, mistakes, judged)."""
    setup = Setup(args.orvelane, os.path.join(root, f"inc-{name}"), [(name, options)])
    folder = os.path.join(root, f"inc-{name}-files")
    os.makedirs(folder)
    scored, mistakes = [], 0
    start = time.perf_counter()
    for i, m in enumerate(ordered):
        path = os.path.join(folder, f"{i:05}.eml")
        with open(path, "wb") as f:
            f.write(m.data)
        results, _, _ = driver.run(name, "check", [path], options, timeout_ms=60000, wait=120)
        r = results[0] if results else {}
        judged = r.get("verdict", engines.NOT_JUDGED)
        score = r.get("score", 0.0) if r.get("hasScore") and judged != 3 else (0.5 if name == "bogofilter" else 0.0)
        scored.append((score, m.spam))
        # Unsure and not judged are corrected too, as a user answers what the
        # window shows as unsure; otherwise a filter that starts with no ham
        # would never be taught any.
        if judged != (1 if m.spam else 0):
            mistakes += 1
            setup.learn("spam" if m.spam else "ham", [path], known_ok=True)
        if (i + 1) % 500 == 0:
            print(f"    {name}: {i + 1} judged, {mistakes} mistakes, {time.perf_counter() - start:.0f} s",
                  flush=True)
    return roca(scored), mistakes, len(ordered)


def verdict(caught, tagged, budget):
    return "met" if caught >= budget[0] and tagged <= budget[1] else "missed"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvelane", required=True)
    build = os.path.join(HERE, "..", "build", "bench")
    parser.add_argument("--driver", default=os.path.join(build, "bench", "bridge_driver"))
    parser.add_argument("--plugins", default=os.path.join(build, "plugins"))
    parser.add_argument("--corpus", default=os.environ.get(
        "ORVELANE_CORPUS", os.path.join(HERE, ".corpus", "package", "data")))
    parser.add_argument("--configs", default="rules,bogofilter,spamd,both")
    parser.add_argument("--incremental", default="bogofilter,spamd")
    parser.add_argument("--incremental-limit", type=int, default=0, help="first N messages in arrival order")
    parser.add_argument("--spamd-children", type=int, default=4)
    parser.add_argument("--sample", type=int, default=0, help="a smaller corpus, for trying the benchmark")
    parser.add_argument("--swap", action="store_true", help="train on the second half, measure on the first")
    parser.add_argument("--cutoffs-only", action="store_true")
    parser.add_argument("--strict", action="store_true")
    args, _ = parser.parse_known_args()
    exit_on_sigterm()
    driver = engines.Driver(args.driver, args.plugins)
    if not driver.available():
        raise SystemExit(f"no bridge_driver at {args.driver} or no plug-ins in {args.plugins}")
    configs = [c for c in args.configs.split(",") if c]
    wanted = set(configs) | set(c for c in args.incremental.split(",") if c)
    if wanted & {"spamd", "both"} and not engines.Spamd.installed():
        raise SystemExit("spamd is not installed (scripts/deps.sh --tests installs it)")
    if wanted & {"bogofilter", "both"} and not engines.Bogofilter.installed():
        raise SystemExit("bogofilter is not installed (scripts/deps.sh --tests installs it)")

    messages = load(args.corpus, args.sample)
    first, second = split(messages)
    training, measured = (second, first) if args.swap else (first, second)
    print(f"corpus: {counts(messages)}; training half ({'second' if args.swap else 'first'}): "
          f"{counts(training)}; measured half: {counts(measured)}", flush=True)

    root = tempfile.mkdtemp(prefix="orvelane-accuracy-")
    os.chmod(root, 0o755)
    dovecot = spamd = None
    missed, rows = [], []
    try:
        bogofilter = {"Program": engines.Bogofilter.binary, "WordList": os.path.join(root, "words")}
        spam_cut, unsure_cut = choose_cutoffs(args, root, training, driver, {"Program": bogofilter["Program"]})
        if args.cutoffs_only:
            return 0

        needs_spamd = bool(set(configs) & {"spamd", "both"}) or "spamd" in args.incremental
        if needs_spamd:
            spamd = Spamd(os.path.join(root, "spamd"), args.spamd_children).start()
        spamd_options = spamd.options() if spamd else {}

        # Training: the same Maildir folders for every engine.
        spam_dir = write_maildir(os.path.join(root, "train-spam"), [m for m in training if m.spam])
        ham_dir = write_maildir(os.path.join(root, "train-ham"), [m for m in training if not m.spam])
        taught = []
        if set(configs) & {"bogofilter", "both"}:
            taught.append(("bogofilter", bogofilter))
        if set(configs) & {"spamd", "both"}:
            taught.append(("spamd", spamd_options))
        for name, options in taught:
            start = time.perf_counter()
            setup = Setup(args.orvelane, os.path.join(root, f"learn-{name}"), [(name, options)])
            print(f"training {name} with orvelane --learn-spam / --learn-ham:", flush=True)
            setup.learn("spam", [spam_dir], quiet=False)
            setup.learn("ham", [ham_dir], quiet=False)
            print(f"  {time.perf_counter() - start:.0f} s", flush=True)

        dovecot = Dovecot(os.path.join(root, "dovecot"), USER, PASSWORD)
        dovecot.add_messages([m.wire for m in measured])
        dovecot.start()
        fetch(dovecot.port, USER, PASSWORD, timeout=600)  # Dovecot builds its index once

        plans = {
            "rules": ("README example rules alone", README_RULES, []),
            "bogofilter": ("bogofilter (shipped defaults)", b"", [("bogofilter", bogofilter)]),
            "spamd": ("spamd, Bayes taught", b"", [("spamd", spamd_options)]),
            "both": ("bogofilter + spamd", b"", [("bogofilter", bogofilter), ("spamd", spamd_options)]),
        }
        for config in configs:
            title, rules, plugins = plans[config]
            setup = Setup(args.orvelane, os.path.join(root, f"check-{config}"), plugins, rules=rules)
            seconds, tagged = setup.check(dovecot)
            if len(tagged) != len(measured):
                raise RuntimeError(f"{config}: {len(tagged)} messages fetched of {len(measured)}")
            caught, ham_tagged, n_spam, n_ham = rates(measured, tagged)
            rows.append((config, title, caught, ham_tagged, n_spam, n_ham, seconds))
            print(f"  {title:<32} caught {caught:6.2f} % ({n_spam}), ham tagged {ham_tagged:5.2f} % ({n_ham}), "
                  f"{seconds:.0f} s", flush=True)
        incremental_rows = []
        ordered = sorted(messages, key=lambda m: (m.when, m.group, m.name))
        if args.incremental_limit:
            ordered = ordered[:args.incremental_limit]
        for name in [c for c in args.incremental.split(",") if c]:
            if name == "spamd":
                spamd.stop()
                spamd = Spamd(os.path.join(root, "spamd-inc"), args.spamd_children).start()
                options = spamd.options()
            else:
                options = dict(bogofilter, WordList=os.path.join(root, "inc-words"))
            print(f"incremental {name}: {counts(ordered)} in arrival order", flush=True)
            result = incremental(args, root, name, ordered, driver, options)
            incremental_rows.append((name,) + result)
    finally:
        for part in (spamd, dovecot):
            if part:
                part.stop()
        shutil.rmtree(root, ignore_errors=True)

    print()
    print(f"chosen on the training half: bogofilter Threshold {spam_cut:.4f}, Unsure {unsure_cut:.4f}")
    print(f"measured half: {counts(measured)}")
    best = None
    for config, title, caught, ham_tagged, n_spam, n_ham, seconds in rows:
        note = ""
        if config == "bogofilter":
            note = f"budget {BUDGET_DEFAULT[0]:.0f} % / {BUDGET_DEFAULT[1]} %: " + verdict(
                caught, ham_tagged, BUDGET_DEFAULT)
            if note.endswith("missed"):
                missed.append("bogofilter at its defaults")
        print(f"  {title:<32} spam caught {caught:6.2f} %  ham tagged {ham_tagged:5.2f} %  {note}")
        if config != "rules" and (best is None or (ham_tagged <= BUDGET_BEST[1], caught) >
                                  (best[3] <= BUDGET_BEST[1], best[2])):
            best = (config, title, caught, ham_tagged)
    if best:
        v = verdict(best[2], best[3], BUDGET_BEST)
        print(f"  best: {best[1]}: budget {BUDGET_BEST[0]:.0f} % / {BUDGET_BEST[1]} %: {v}")
        if v == "missed":
            missed.append("best configuration")
    for name, value, mistakes, judged in incremental_rows:
        print(f"  incremental {name:<12} 1-ROCA {value:.3f} %, {mistakes} mistakes corrected of {judged}")
    print("budgets: " + ("all met" if not missed else "missed: " + ", ".join(missed)))
    return 1 if missed and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
