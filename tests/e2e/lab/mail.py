"""The test mailbox: the committed ham and spam messages, a generated message
larger than one network read, the rule file that tags the spam, and the
expected form of a tagged message."""
import base64
import os
import random
import re

MESSAGES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "messages")

# Upper-case entries, as the rule file keeps them; each spam message is caught
# by a different list, the trusted sender's message would match the body rule.
RULES = b"\r\n".join([
    b"FROM:", b"OFFERS@BULK-MAILER.EXAMPLE",
    b"RETPATH:", b"LOTTERY.EXAMPLE",
    b"SUBJECT:", b"MIRACLE*PILLS",
    b"BODY:", b"CLAIM YOUR FREE CRUISE NOW",
    b"TRUST:", b"GRACE@PARTNER.EXAMPLE",
]) + b"\r\n"

TAG = b"_SPAM_ "


def committed():
    """[(file name, bytes)] in name order: ham-* then spam-*."""
    names = sorted(n for n in os.listdir(MESSAGES) if n.endswith(".eml"))
    out = []
    for name in names:
        with open(os.path.join(MESSAGES, name), "rb") as f:
            out.append((name, f.read()))
    return out


def large_ham(size=300_000, seed=5):
    """A ham message with a base64 attachment, larger than 102400 bytes, so it
    crosses several network reads. Deterministic."""
    rng = random.Random(seed)
    payload = bytes(rng.getrandbits(8) for _ in range(size * 3 // 4))
    encoded = base64.encodebytes(payload).replace(b"\n", b"\r\n")
    head = (b"Return-Path: <archive@example.org>\r\n"
            b"From: Archive <archive@example.org>\r\n"
            b"To: alice@example.net\r\n"
            b"Subject: Monthly archive\r\n"
            b"Message-ID: <ham-large@example.org>\r\n"
            b"MIME-Version: 1.0\r\n"
            b"Content-Type: multipart/mixed; boundary=\"zz\"\r\n\r\n"
            b"--zz\r\nContent-Type: text/plain\r\n\r\nThe archive is attached.\r\n"
            b"--zz\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n")
    return head + encoded + b"--zz--\r\n"


def mailbox():
    """{message id: (is spam, bytes)} of everything the tests put on the
    server."""
    box = {}
    for name, data in committed():
        box[message_id(data)] = (name.startswith("spam-"), data)
    big = large_ham()
    box[message_id(big)] = (False, big)
    return box


def message_id(data):
    m = re.search(rb"^Message-ID: (<[^>]*>)\r?$", data, re.M)
    if not m:
        raise ValueError(f"message without Message-ID: {data[:200]!r}")
    return m.group(1).decode()


def tagged(message):
    """The message as the filter delivers spam: "_SPAM_ " right after the
    first "Subject: ", or a new "Subject: _SPAM_ " line just before the line
    holding the first "From: " when there is no Subject; no second tag when
    "_SPAM_" already follows the Subject."""
    at = message.find(b"Subject: ")
    if at < 0:
        sender = message.find(b"From: ")
        if sender < 0:
            return message
        at = message.rfind(b"\n", 0, sender) + 1
        message = message[:at] + b"Subject: \r\n" + message[at:]
    if b"_SPAM_" in message[at:]:
        return message
    return message[:at + 9] + TAG + message[at + 9:]
