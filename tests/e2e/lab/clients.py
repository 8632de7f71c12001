"""Real POP3 clients, each run against a port with a user name and password:
Python's poplib, curl and fetchmail. Each returns the messages it received,
as bytes with CR LF line ends."""
import os
import poplib
import shutil
import subprocess
import urllib.parse

from .net import LOOPBACK

CLIENT_TIMEOUT = 30


def fetch_poplib(port, user, password, delete=False, timeout=CLIENT_TIMEOUT):
    """STAT, LIST, UIDL, then RETR (and DELE) of every message, then QUIT.
    Returns (sizes from LIST, {number: (octets, message)}, uidls)."""
    pop = poplib.POP3(LOOPBACK, port, timeout=timeout)
    try:
        pop.user(user)
        pop.pass_(password)
        count, _ = pop.stat()
        _, rows, _ = pop.list()
        sizes = {int(a): int(b) for a, b in (r.split() for r in rows)}
        _, rows, _ = pop.uidl()
        uidls = {int(a): b for a, b in (r.split(None, 1) for r in rows)}
        messages = {}
        for n in range(1, count + 1):
            _, lines, octets = pop.retr(n)
            messages[n] = (octets, b"\r\n".join(lines) + b"\r\n")
            if delete:
                pop.dele(n)
        pop.quit()
        return sizes, messages, uidls
    finally:
        pop.close()


def curl_url(port, user, password, path=""):
    quote = lambda s: urllib.parse.quote(s, safe="")
    return f"pop3://{quote(user)}:{quote(password)}@{LOOPBACK}:{port}/{path}"


def run_curl(port, user, password, path="", options=(), timeout=CLIENT_TIMEOUT):
    """One curl transfer; returns its output bytes. Raises on failure with
    curl's own trace."""
    cmd = ["curl", "--silent", "--show-error", "--max-time", str(timeout),
           *options, curl_url(port, user, password, path)]
    done = subprocess.run(cmd, capture_output=True, timeout=timeout + 5)
    if done.returncode != 0:
        raise RuntimeError(f"curl {path!r} {list(options)} failed ({done.returncode}): "
                           f"{done.stderr.decode(errors='replace')}")
    return done.stdout


def curl_list(port, user, password, options=()):
    """{number: size} from curl's listing (curl sends LIST)."""
    out = run_curl(port, user, password, "", options)
    return {int(a): int(b) for a, b in (r.split() for r in out.splitlines() if r.strip())}


def curl_retr(port, user, password, n, options=()):
    """Message n as curl writes it (curl sends RETR n)."""
    return run_curl(port, user, password, str(n), options)


FETCHMAILRC = """\
set no syslog
poll {host} with proto POP3 port {port}
  user "{user}" there with password "{password}" is "root" here
  options {keep} no rewrite forcecr no stripcr
  mda "cat > {out}/$$.eml"
"""


def run_fetchmail(port, user, password, workdir, keep=True, timeout=CLIENT_TIMEOUT):
    """One fetchmail poll delivering each message to a file of its own through
    an MDA (CR LF kept, no header rewriting, no Received line). keep=True
    fetches all and leaves them on the server; keep=False deletes what it
    fetched. Returns (list of delivered messages, fetchmail's transcript)."""
    out = os.path.join(workdir, "delivered")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    rc = os.path.join(workdir, "fetchmailrc")
    with open(rc, "w") as f:
        f.write(FETCHMAILRC.format(host=LOOPBACK, port=port, user=user, password=password,
                                   keep="keep fetchall" if keep else "fetchall", out=out))
    os.chmod(rc, 0o600)
    env = dict(os.environ, HOME=workdir, FETCHMAILHOME=workdir)
    done = subprocess.run(
        ["fetchmail", "-f", rc, "--sslproto", "", "--invisible", "--verbose",
         "--timeout", str(timeout), "--nodetach",
         # root keeps its lock in /var/run otherwise, shared by parallel tests
         "--pidfile", os.path.join(workdir, "fetchmail.pid")],
        env=env, capture_output=True, timeout=timeout + 10)
    transcript = (done.stdout + done.stderr).decode(errors="replace")
    # 0: mail fetched, 1: no mail
    if done.returncode not in (0, 1):
        raise RuntimeError(f"fetchmail failed ({done.returncode}):\n{transcript}")
    delivered = []
    for name in sorted(os.listdir(out)):
        with open(os.path.join(out, name), "rb") as f:
            delivered.append(f.read())
    return delivered, transcript
