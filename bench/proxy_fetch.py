#!/usr/bin/env python3
"""Proxy throughput: one client fetches 1,000 corpus messages from a private
Dovecot directly and through orvelane (analysis on, 1,000 rules), in one run,
and receives single large messages (12.5, 25 and 50 MB) both ways to show how
the cost grows with the size.

The same 1,000 messages are also fetched over POP3S (implicit TLS, a test
authority's certificate trusted through ServerCertificate): directly, and
through orvelane with ServerSecurity=tls, which decrypts, analyses and serves
them in clear to the local client.

The same mailbox is then fetched with mpop (a client that pipelines its
commands when the server offers PIPELINING), keeping the messages on the
server: directly, through a fresh orvelane (first check) and through the same
orvelane again (every message known).

Over a link as fast as a LAN (a relay paced at 12.5 MB/s, 100 Mbit/s, between
orvelane and the Dovecot), the time from the last byte of the mailbox to the
STAT answer is reported: what the analysis and the store still do once the
download has ended (no budget; --no-link skips it).

Budgets checked: through orvelane at most 1.2 x the direct time, over plain
POP3 and over POP3S; mpop through orvelane at most 1.1 x direct, first check
and every message known; no 2-second
grace wait (a one-message mailbox is scanned in under 1 s); the cost per
megabyte of the 50 MB message at most 1.5 x that of the 12.5 MB one (linear
growth). Each budget is reported as met or missed; with --strict a missed
budget also makes the exit status 1 (by default it stays 0, so that
scripts/bench.sh goes on with the other benchmarks).

  proxy_fetch.py --orvelane build/bench/orvelane [--corpus DIR] [--count 1000] [--no-tls] [--no-mpop]
Unknown arguments (benchmark-library flags from scripts/bench.sh) are ignored.
"""
import argparse
import os
import random
import shutil
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from lab import mail, rawpop  # noqa: E402
from lab.certs import Certificates  # noqa: E402
from lab.dovecot import Dovecot  # noqa: E402
from lab.orvelane import Orvelane  # noqa: E402
from lab.proc import exit_on_sigterm  # noqa: E402
from latency_relay import Relay  # noqa: E402

USER, PASSWORD = "alice", "secret"
RATIO_BUDGET = 1.2
MPOP_BUDGET = 1.1
LINEAR_BUDGET = 1.5
LARGE_SIZES_MB = (12.5, 25, 50)
LARGE_TIMEOUT = 60
# The plain runs stay plain although the Dovecot also offers STLS.
PLAIN = "ServerSecurity=none\r\n"
LINK_RATE = 12.5e6  # bytes per second: 100 Mbit/s
GRACE_LIMIT = 1.0  # seconds; a 2000 ms grace wait cannot hide below this


def to_crlf(data):
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


def load_corpus(root, count):
    """`count` messages taken in turn from each group of the corpus (files in
    name order), with CR LF line ends, so ham and spam are mixed."""
    groups = []
    for name in sorted(os.listdir(root)):
        folder = os.path.join(root, name)
        if os.path.isdir(folder):
            files = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".txt"))
            if files:
                groups.append((name, files))
    if not groups:
        raise SystemExit(f"no corpus under {root}; run scripts/fetch-corpus.sh")
    picked, counts, i = [], {}, 0
    while len(picked) < count and any(i < len(f) for _, f in groups):
        for name, files in groups:
            if i < len(files) and len(picked) < count:
                with open(files[i], "rb") as f:
                    picked.append(to_crlf(f.read()))
                counts[name] = counts.get(name, 0) + 1
        i += 1
    return picked, counts


def generated_rules(count=1000, seed=1):
    """A rule file of `count` entries over the header and body lists: mostly
    synthetic words that never match, plus a few phrases common in spam."""
    rng = random.Random(seed)
    real = {
        "SUBJECT:": ["FREE*MONEY", "MORTGAGE RATE"],
        "BODY:": ["CLICK HERE TO BE REMOVED", "TO BE REMOVED FROM", "MILLION EMAIL ADDRESSES",
                  "THIS IS NOT SPAM", "100% FREE", "ACT NOW"],
        "BODYHTML:": ["<FONT SIZE=7>"],
        "FROM:": ["@MAIL.RU"],
    }
    shares = [("FROM:", 150), ("RETPATH:", 50), ("TO:", 50), ("CC:", 50),
              ("SUBJECT:", 200), ("BODY:", 400), ("BODYHTML:", 100)]
    lines = []
    for section, share in shares:
        lines.append(section)
        entries = list(real.get(section, []))
        while len(entries) < share:
            word = "".join(rng.choice("ABCDEFGHIJKLMNOPRSTUVWXYZ") for _ in range(rng.randint(5, 9)))
            entries.append(f"{word} {rng.randint(10, 9999)}" if section in ("BODY:", "SUBJECT:")
                           else f"{word.lower()}@{word[:4].lower()}-spam.example".upper())
        lines += entries
    assert sum(s for _, s in shares) == count
    return ("\r\n".join(lines) + "\r\n").encode()


def fetch(port, user, password, timeout=120, tls=None):
    """One session: login, STAT, RETR of every message, QUIT. Returns
    (seconds for the whole session, seconds STAT took to be answered, [raw
    answers]). Through orvelane the STAT answer waits for the scan: download
    and analysis. `timeout` bounds each wait for data."""
    start = time.perf_counter()
    with rawpop.RawPop(port, timeout=timeout, tls=tls) as pop:
        pop.login(user, password)
        stat_start = time.perf_counter()
        count = int(pop.ok("STAT").split()[1])
        stat_seconds = time.perf_counter() - stat_start
        answers = [pop.retr_raw(n)[1] for n in range(1, count + 1)]
        pop.ok("QUIT")
    return time.perf_counter() - start, stat_seconds, answers


MPOPRC = """\
account bench
host 127.0.0.1
port {port}
user "{user}"
password "{password}"
auth user
tls off
keep on
only_new off
uidls_file {folder}/uidls
delivery mbox {folder}/mbox
received_header off
timeout {timeout}
account default : bench
"""


def mpop(port, user, folder, timeout=120, password=PASSWORD):
    """One mpop run that fetches every message, keeps them on the server and
    delivers them to an mbox file. Returns (seconds, messages delivered)."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    rc = os.path.join(folder, "mpoprc")
    with open(rc, "w") as f:
        f.write(MPOPRC.format(port=port, user=user, password=password, folder=folder, timeout=timeout))
    os.chmod(rc, 0o600)
    start = time.perf_counter()
    done = subprocess.run(["mpop", "-q", "-C", rc], capture_output=True, timeout=timeout + 10)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise RuntimeError(f"mpop failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
    try:
        with open(os.path.join(folder, "mbox"), "rb") as f:
            box = f.read()
    except FileNotFoundError:
        box = b""
    return seconds, box.startswith(b"From ") + box.count(b"\nFrom ")


def large_message(megabytes):
    size = int(megabytes * 1_000_000)
    line = b"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n"
    head = (b"Return-Path: <archive@example.org>\r\nFrom: Archive <archive@example.org>\r\n"
            b"To: alice@example.net\r\nSubject: Large archive\r\n"
            b"Message-ID: <large-%d@example.org>\r\n\r\n" % size)
    return head + line * ((size - len(head)) // len(line))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--orvelane", required=True)
    parser.add_argument("--corpus", default=os.environ.get(
        "ORVELANE_CORPUS", os.path.join(HERE, ".corpus", "package", "data")))
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--no-large", action="store_true")
    parser.add_argument("--no-tls", action="store_true", help="skip the POP3S fetches")
    parser.add_argument("--no-mpop", action="store_true", help="skip the mpop fetches")
    parser.add_argument("--no-link", action="store_true", help="skip the fetches over a paced link")
    parser.add_argument("--strict", action="store_true",
                        help="exit with status 1 when a budget is missed")
    args, _ = parser.parse_known_args()
    exit_on_sigterm()

    messages, groups = load_corpus(args.corpus, args.count)
    root = tempfile.mkdtemp(prefix="orvelane-bench-")
    os.chmod(root, 0o755)
    dovecot = orvelane = None
    failures = []
    try:
        certs = None if args.no_tls else Certificates(os.path.join(root, "certs"))
        dovecot = Dovecot(os.path.join(root, "dovecot"), USER, PASSWORD,
                          tls=certs.server("server") if certs else None)
        for m in messages:
            dovecot.add_message(m)
        # one small message: its scan shows whether a grace wait happened
        dovecot.add_user("single", PASSWORD)
        dovecot.add_message(messages[0], user="single")
        large_users = {}
        if not args.no_large:
            for mb in LARGE_SIZES_MB:
                user = "large%d" % int(mb * 10)
                dovecot.add_user(user, PASSWORD)
                dovecot.add_message(large_message(mb), user=user)
                large_users[mb] = user
        dovecot.start()

        total_bytes = sum(len(m) for m in messages)
        print(f"corpus: {len(messages)} messages, {total_bytes / 1e6:.1f} MB, "
              + ", ".join(f"{g} {n}" for g, n in groups.items()))
        fetch(dovecot.port, USER, PASSWORD)  # Dovecot builds its index once
        direct_times, proxy_times, scan_times = [], [], []
        tagged = differing = 0
        for run in range(args.repeat):
            seconds, _, direct = fetch(dovecot.port, USER, PASSWORD)
            direct_times.append(seconds)
            # a fresh orvelane each time: nothing analysed yet
            orvelane = Orvelane(args.orvelane, os.path.join(root, f"orvelane-{run}"),
                                rules=generated_rules(), extra_settings=PLAIN)
            orvelane.start()
            proxy_user = f"{USER}(127.0.0.1:{dovecot.port})"
            seconds, scan, through = fetch(orvelane.port, proxy_user, PASSWORD)
            orvelane.stop()
            orvelane = None
            proxy_times.append(seconds)
            scan_times.append(scan)
            if run == 0:
                for d, t in zip(direct, through):
                    if t != d:
                        if mail.tagged(d) == t:
                            tagged += 1
                        else:
                            differing += 1
        direct_s, proxy_s = statistics.median(direct_times), statistics.median(proxy_times)
        ratio = proxy_s / direct_s
        print(f"direct from Dovecot:   {direct_s:.3f} s (runs: "
              + ", ".join(f"{t:.3f}" for t in direct_times) + ")")
        print(f"through orvelane:      {proxy_s:.3f} s (runs: "
              + ", ".join(f"{t:.3f}" for t in proxy_times) + f"); of which STAT (scan: "
              f"download and analysis) {statistics.median(scan_times):.3f} s")
        print(f"ratio through/direct:  {ratio:.2f} (budget {RATIO_BUDGET})")
        print(f"messages tagged as spam: {tagged}; changed otherwise: {differing}")
        if ratio > RATIO_BUDGET:
            failures.append(f"through orvelane {ratio:.2f} x direct > {RATIO_BUDGET}")

        if certs:
            context = ssl.create_default_context(cafile=certs.ca)
            fetch(dovecot.pop3s_port, USER, PASSWORD, tls=context)
            direct_times, proxy_times = [], []
            for run in range(args.repeat):
                direct_times.append(fetch(dovecot.pop3s_port, USER, PASSWORD, tls=context)[0])
                orvelane = Orvelane(args.orvelane, os.path.join(root, f"orvelane-tls-{run}"),
                                    rules=generated_rules(),
                                    extra_settings=f"ServerSecurity=tls\r\nServerCertificate={certs.ca}\r\n")
                orvelane.start()
                seconds, _, through = fetch(orvelane.port, f"{USER}(127.0.0.1:{dovecot.pop3s_port})",
                                            PASSWORD)
                encrypted = "Connexion chiffr\u00e9e avec" in orvelane.log()
                orvelane.stop()
                orvelane = None
                proxy_times.append(seconds)
                if len(through) != len(messages) or not encrypted:
                    failures.append("POP3S through orvelane: mailbox incomplete or not encrypted")
                    break
            direct_s, proxy_s = statistics.median(direct_times), statistics.median(proxy_times)
            ratio = proxy_s / direct_s
            print(f"POP3S direct:          {direct_s:.3f} s (runs: "
                  + ", ".join(f"{t:.3f}" for t in direct_times) + ")")
            print(f"POP3S through orvelane: {proxy_s:.3f} s (runs: "
                  + ", ".join(f"{t:.3f}" for t in proxy_times) + ")")
            print(f"POP3S ratio through/direct: {ratio:.2f} (budget {RATIO_BUDGET})")
            if ratio > RATIO_BUDGET:
                failures.append(f"POP3S through orvelane {ratio:.2f} x direct > {RATIO_BUDGET}")

        if not args.no_mpop and shutil.which("mpop"):
            folder = os.path.join(root, "mpop")
            mpop(dovecot.port, USER, folder)
            times = {"direct": [], "first": [], "known": []}
            for run in range(args.repeat):
                seconds, got = mpop(dovecot.port, USER, folder)
                times["direct"].append(seconds)
                orvelane = Orvelane(args.orvelane, os.path.join(root, f"orvelane-mpop-{run}"),
                                    rules=generated_rules(), extra_settings=PLAIN)
                orvelane.start()
                through = []
                for check in ("first", "known"):
                    seconds, got_through = mpop(orvelane.port, f"{USER}(127.0.0.1:{dovecot.port})", folder)
                    times[check].append(seconds)
                    through.append(got_through)
                orvelane.stop()
                orvelane = None
                if through != [got, got]:
                    failures.append(f"mpop delivered {got} direct, {through} through orvelane")
                    break
            direct_s = statistics.median(times["direct"])
            print(f"mpop direct:           {direct_s:.3f} s (runs: "
                  + ", ".join(f"{t:.3f}" for t in times["direct"]) + ")")
            for check, what in (("first", "first check"), ("known", "every message known")):
                ratio = statistics.median(times[check]) / direct_s
                print(f"mpop through, {what}: {statistics.median(times[check]):.3f} s (runs: "
                      + ", ".join(f"{t:.3f}" for t in times[check]) + f"), ratio {ratio:.2f} "
                      f"(budget {MPOP_BUDGET})")
                if ratio > MPOP_BUDGET:
                    failures.append(f"mpop through orvelane, {what}, {ratio:.2f} x direct > {MPOP_BUDGET}")
        elif not args.no_mpop:
            print("mpop not installed (apt-get install mpop): its fetches are skipped")

        if not args.no_link:
            relay = Relay(dovecot.port, rate=LINK_RATE).start()
            try:
                wire = total_bytes / LINK_RATE
                scans = []
                for run in range(args.repeat):
                    orvelane = Orvelane(args.orvelane, os.path.join(root, f"orvelane-link-{run}"),
                                        rules=generated_rules(), extra_settings=PLAIN)
                    orvelane.start()
                    scans.append(fetch(orvelane.port, f"{USER}(127.0.0.1:{relay.port})", PASSWORD)[1])
                    orvelane.stop()
                    orvelane = None
            finally:
                relay.stop()
            scan = statistics.median(scans)
            print(f"over a {LINK_RATE * 8 / 1e6:.0f} Mbit/s link: STAT answered in {scan:.3f} s (runs: "
                  + ", ".join(f"{t:.3f}" for t in scans) + f"), {(scan - wire) * 1000:.0f} ms after "
                  f"the {wire:.3f} s the mailbox takes on the wire")

        orvelane = Orvelane(args.orvelane, os.path.join(root, "orvelane-single"),
                            rules=generated_rules(), extra_settings=PLAIN)
        orvelane.start()
        scans = [fetch(orvelane.port, f"single(127.0.0.1:{dovecot.port})", PASSWORD)[1]
                 for _ in range(2)]
        orvelane.stop()
        orvelane = None
        print(f"one-message mailbox: STAT answered in {scans[0] * 1000:.1f} ms "
              f"(download and analysis; a grace wait would add 2000 ms), "
              f"{scans[1] * 1000:.1f} ms when the copy is reused")
        if scans[0] >= GRACE_LIMIT:
            failures.append(f"one-message scan took {scans[0]:.2f} s: a grace wait")
        if differing:
            failures.append(f"{differing} messages changed beyond the tag")

        if large_users:
            orvelane = Orvelane(args.orvelane, os.path.join(root, "orvelane-large"),
                                rules=generated_rules(), extra_settings=PLAIN)
            orvelane.start()
            per_mb = {}
            for mb, user in large_users.items():
                direct_s, _, _ = fetch(dovecot.port, user, PASSWORD)
                try:
                    seconds, scan, answers = fetch(orvelane.port,
                                                   f"{user}(127.0.0.1:{dovecot.port})",
                                                   PASSWORD, timeout=LARGE_TIMEOUT)
                except (OSError, rawpop.PopError) as e:
                    print(f"{mb:>5} MB message through orvelane: no answer ({e})")
                    failures.append(f"{mb} MB message: no answer within {LARGE_TIMEOUT} s")
                    break
                ok = len(answers) == 1 and rawpop.unstuff(answers[0]) == large_message(mb)
                per_mb[mb] = seconds / mb
                print(f"{mb:>5} MB message: direct {direct_s:.3f} s, through orvelane "
                      f"{seconds:.3f} s ({seconds / mb * 1000:.1f} ms/MB, download "
                      f"{scan:.3f} s){'' if ok else ' CONTENT DIFFERS'}")
                if not ok:
                    failures.append(f"{mb} MB message arrived changed")
            if len(per_mb) >= 2:
                growth = per_mb[max(per_mb)] / per_mb[min(per_mb)]
                print(f"cost per MB, {max(per_mb)} MB vs {min(per_mb)} MB: {growth:.2f} "
                      f"(budget {LINEAR_BUDGET})")
                if growth > LINEAR_BUDGET:
                    failures.append(f"large messages cost {growth:.2f} x more per MB")
    finally:
        if orvelane:
            orvelane.stop()
        if dovecot:
            dovecot.stop()
        shutil.rmtree(root, ignore_errors=True)
    for f in failures:
        print("BUDGET MISSED: " + f)
    if not failures:
        print("all budgets met")
    return 1 if failures and args.strict else 0


if __name__ == "__main__":
    sys.exit(main())
