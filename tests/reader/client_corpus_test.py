#!/usr/bin/env python3
"""The message reader on messages written the way common mail clients write them: for each style of STYLES
(the clients', and that of Python's own generator, which they depart from), one message per file name of NAMES,
the rest drawn with a fixed seed: non-ASCII file names as RFC 2047 words split and folded, RFC 2231 sections,
raw UTF-8; Content-Disposition with and without a file name; inline images with a Content-ID;
multipart/alternative inside multipart/mixed; attached messages; Subjects in windows-1251, ISO-8859-1 and
UTF-8. Every part's content type, file name, Subject and decoded body must be exactly what the message was
made of, and Python's email package (policy.default) must read the same.

Run as: client_corpus_test.py PATH-TO-MESSAGE-DUMP."""

import base64
import email
import email.policy
import os
import quopri
import random
import subprocess
import sys
import tempfile
import unicodedata
import urllib.parse
from email.message import EmailMessage

NAMES = ["Résumé.pdf", "Отчёт о продажах за первый квартал 2024 года (окончательная версия).xlsx",
         "会議の議事録と次回の予定について.docx", "Ελληνικό κείμενο με τόνους.txt", "naïve café – €100.png",
         "plain name.txt"]
SUBJECTS = [("windows-1251", "Привет, мир: отчёт за март"), ("iso-8859-1", "Café crème à Zürich"),
            ("utf-8", "Grüße 👋 from the team — 会議")]
TEXTS = ["Hello,\r\nsee the attachment.\r\n", "Добрый день!\r\nОтчёт во вложении.\r\n", "Grüße,\r\n  Jürgen \r\n"]


def b_words(text, charset="utf-8", octets=30, split_characters=False):
    """RFC 2047 B words of at most octets octets each: whole characters, or cut anywhere (as .NET does)."""
    chunks, raw = [], b""
    for c in text:
        if raw and len(raw + c.encode(charset)) > octets and not split_characters:
            chunks.append(raw)
            raw = b""
        raw += c.encode(charset)
    if split_characters:
        chunks, raw = [raw[i:i + octets] for i in range(0, len(raw), octets)], b""
    return ["=?%s?B?%s?=" % (charset, base64.b64encode(chunk).decode()) for chunk in chunks + [raw] if chunk]


def q_word(text, charset):
    return "=?%s?Q?%s?=" % (charset, "".join(chr(b) if chr(b).isalnum() and b < 128 else "_" if b == 32 else
                                             "=%02X" % b for b in text.encode(charset)))


def rfc2231(key, text, charset="utf-8", section=None):
    """key*=charset''... or, with a section length, key*0*=charset''...; key*1*=... folded."""
    value = urllib.parse.quote(text.encode(charset), safe="")
    if section is None:
        return "%s*=%s''%s" % (key, charset, value)
    cuts, at = [], 0
    while at < len(value):
        end = min(at + section, len(value))
        end -= 1 if value[end - 1:end] == "%" else 2 if value[end - 2:end - 1] == "%" else 0
        cuts.append(value[at:end])
        at = end
    return ";\r\n ".join("%s*%d*=%s%s" % (key, i, charset + "''" if i == 0 else "", cut) for i, cut in enumerate(cuts))


def leaf(content_type, body, encoding, fields=(), filename=None):
    """An entity's octets, and the parts the reader should find in it: (type, file name, Subject, body)."""
    encoded = {"base64": lambda b: base64.encodebytes(b).replace(b"\n", b"\r\n").rstrip(b"\r\n"),
               "quoted-printable": lambda b: b"\r\n".join(quopri.encodestring(line) for line in b.split(b"\r\n")),
               "8bit": lambda b: b}[encoding](body)
    head = ["Content-Type: " + content_type] + list(fields) + ["Content-Transfer-Encoding: " + encoding]
    return "\r\n".join(head).encode() + b"\r\n\r\n" + encoded, [(content_type.split(";")[0], filename, None, body)]


def container(content_type, boundary, children, fields=(), subject=None, filename=None):
    """A multipart (children: what leaf gives) or, without a boundary, message/rfc822 holding one message."""
    head = ("Content-Type: " + content_type + ("; boundary=\"%s\"" % boundary if boundary else "")).encode()
    head = b"\r\n".join([head] + [f.encode("utf-8") for f in fields]) + b"\r\n\r\n"
    if boundary:
        body = b"".join(b"--%s\r\n%s\r\n" % (boundary.encode(), data) for data, _ in children) + b"--%s--\r\n" % (
            boundary.encode())
    else:
        body = children[0][0]
    parts = [(content_type.split(";")[0], filename, subject, None)] + [p for _, ps in children for p in ps]
    return head + body, parts


def message(rng, style_fields, root):
    """A whole message: top fields with a Subject in one of SUBJECTS, then the root entity."""
    charset, subject = rng.choice(SUBJECTS)
    words = b_words(subject, charset) if style_fields.get("b") else [q_word(subject, charset)]
    top = "From: a@example.com\r\nTo: b@example.org\r\nSubject: %s\r\nMIME-Version: 1.0\r\n" % "\r\n ".join(words)
    data, parts = root
    return top.encode() + data, [parts[0][:2] + (subject,) + parts[0][3:]] + parts[1:]


def attachment_body(rng):
    return bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300)))


def alternative(rng, boundary, charset="UTF-8", encoding="quoted-printable"):
    text = rng.choice(TEXTS).encode("utf-8")
    return container("multipart/alternative", boundary, [
        leaf("text/plain; charset=\"%s\"" % charset, text, encoding),
        leaf("text/html; charset=\"%s\"" % charset, b"<p>" + text + b"</p>", encoding)])


def inline_image(rng, name, content_id):
    return leaf("image/png; name=\"%s\"" % name, attachment_body(rng), "base64", [
        "Content-Disposition: inline; filename=\"%s\"" % name, "Content-ID: <%s>" % content_id], name)


# --- the client styles: each writes a message attaching a file called name, drawing the rest from rng, and
# returns its octets and its parts ---

def outlook(rng, name):
    words = "\r\n\t".join(b_words(name))
    attached = leaf("application/octet-stream; name=\"%s\"" % words, attachment_body(rng), "base64", [
        "Content-Description: " + " ".join(b_words(name)),
        "Content-Disposition: attachment; filename=\"%s\"; size=12;\r\n\tcreation-date=\"Mon, 04 Mar 2024 "
        "10:00:00 GMT\"" % words], name)
    related = container("multipart/related", "_003_DB8PR04MB", [
        alternative(rng, "_000_DB8PR04MB"), inline_image(rng, "image001.png", "image001.png@01DA6E2F.5A3B0C10")])
    return message(rng, {"b": True}, container("multipart/mixed", "_004_DB8PR04MB", [related, attached]))


def gmail(rng, name):
    raw = rng.randrange(2) == 0  # a name in raw UTF-8, as a client that may send 8-bit headers writes it
    written = name if raw else " ".join(b_words(name, "UTF-8", 45))
    attached = leaf("application/pdf; name=\"%s\"" % written, attachment_body(rng), "base64", [
        "Content-Disposition: attachment; filename=\"%s\"" % written, "Content-ID: <f_lt1abcd0>",
        "X-Attachment-Id: f_lt1abcd0"], name)
    return message(rng, {"b": True}, container("multipart/mixed", "000000000000a1b2c3", [
        alternative(rng, "000000000000d4e5f6"), inline_image(rng, "image.png", "ii_lt1abcd1"), attached]))


def apple_mail(rng, name):
    name = unicodedata.normalize("NFD", name)  # file names come from the file system decomposed
    disposition = rfc2231("filename", name, section=rng.choice([None, 40]))
    attached = leaf("application/pdf;\r\n\tx-unix-mode=0644;\r\n\tname=\"%s\"" % q_word(name, "utf-8"),
                    attachment_body(rng), "base64", ["Content-Disposition: attachment;\r\n\t" + disposition], name)
    text = leaf("text/plain; charset=utf-8", rng.choice(TEXTS).encode("utf-8"), "quoted-printable")
    image = leaf("image/jpeg;\r\n\tx-unix-mode=0644;\r\n\tname=\"photo.jpg\"", attachment_body(rng), "base64",
                 ["Content-Disposition: inline;\r\n\tfilename=photo.jpg", "Content-Id: <E1B2C3D4-0001@home>"],
                 "photo.jpg")
    return message(rng, {}, container("multipart/mixed", "Apple-Mail=_5F4E3D2C-1B0A", [text, image, attached]))


def forwarded(rng):
    """An attached message as Python's email package writes one."""
    inner = EmailMessage(policy=email.policy.SMTP)
    inner["Subject"] = rng.choice(SUBJECTS)[1]
    inner.set_content(rng.choice(TEXTS).replace("\r\n", "\n"), cte="8bit")
    data = inner.as_bytes()
    return data, [("text/plain", None, inner["Subject"], data.split(b"\r\n\r\n", 1)[1])]


def thunderbird(rng, name):
    attached = leaf("application/pdf; name=\"%s\"" % "\r\n ".join(b_words(name, "UTF-8")), attachment_body(rng),
                    "base64", ["Content-Disposition: attachment;\r\n " + rfc2231("filename", name, "UTF-8", 60)],
                    name)
    message_part = container("message/rfc822; name=\"Fwd.eml\"", None, [forwarded(rng)],
                             ["Content-Disposition: attachment; filename=\"Fwd.eml\""], filename="Fwd.eml")
    return message(rng, {"b": True}, container("multipart/mixed", "------------Ab12Cd34Ef56", [
        alternative(rng, "------------Gh78Ij90", "UTF-8", "8bit"), attached, message_part]))


def mutt(rng, name):
    charset = "iso-8859-1" if all(ord(c) < 256 for c in name) else "utf-8"
    text = leaf("text/plain; charset=us-ascii", b"See below.\r\n", "8bit", ["Content-Disposition: inline"])
    attached = leaf("application/octet-stream", attachment_body(rng), "base64",
                    ["Content-Disposition: attachment; " + rfc2231("filename", name, charset)], name)
    message_part = container("message/rfc822", None, [forwarded(rng)], ["Content-Disposition: inline"])
    return message(rng, {}, container("multipart/mixed", "8PpZBq0nKLhD4xV2", [text, attached, message_part]))


def dotnet(rng, name):
    words = "\r\n ".join(b_words(name, "utf-8", 30, split_characters=True))  # characters cut across words
    with_name = rng.randrange(2) == 0
    attached = leaf("application/octet-stream; name=\"%s\"" % words, attachment_body(rng), "base64", [
        "Content-Disposition: attachment" + ("; filename=\"%s\"" % words if with_name else "")], name)
    text = leaf("text/plain; charset=us-ascii", b"Automated report.\r\n", "quoted-printable")
    return message(rng, {"b": True}, container("multipart/mixed", "--boundary_0_6f0b5d3c-1a2b", [text, attached]))


def python_generator(rng, name):
    """The package's own output, which the hand-written styles depart from: RFC 2231 names, folded by it."""
    msg = EmailMessage(policy=email.policy.SMTP)
    msg["Subject"] = rng.choice(SUBJECTS)[1]
    text = rng.choice(TEXTS).replace("\r\n", "\n")
    msg.set_content(text)
    msg.add_alternative("<p>%s</p>" % text, subtype="html")
    body = attachment_body(rng)
    msg.add_attachment(body, maintype="application", subtype="octet-stream", filename=name)
    lines = lambda t: t.replace("\n", "\r\n").encode("utf-8")
    return msg.as_bytes(), [
        ("multipart/mixed", None, msg["Subject"], None), ("multipart/alternative", None, None, None),
        ("text/plain", None, None, lines(text)), ("text/html", None, None, lines("<p>%s</p>\n" % text)),
        ("application/octet-stream", name, None, body)]


STYLES = [("Python's email package", python_generator), ("Outlook", outlook), ("Gmail", gmail),
          ("Apple Mail", apple_mail), ("Thunderbird", thunderbird), ("mutt", mutt), (".NET System.Net.Mail", dotnet)]


def reader_parts(dump, files):
    out = subprocess.run([dump] + files, check=True, capture_output=True).stdout.decode("ascii")
    text = lambda h: None if h == "-" else bytes.fromhex(h).decode("utf-8")
    messages = [[]]
    for line in out.splitlines():
        if line == "--":
            messages.append([])
            continue
        kind, name, subject, body = line.split("\t")
        messages[-1].append((kind, text(name), text(subject), None if body == "-" else bytes.fromhex(body)))
    return messages[:-1]


def python_parts(data):
    parts = []
    for part in email.message_from_bytes(data, policy=email.policy.default).walk():
        body = None if part.is_multipart() else part.get_payload(decode=True).replace(b"\r\n", b"\n")
        subject = str(part["subject"]) if part["subject"] is not None else None
        parts.append((part.get_content_type(), part.get_filename(), subject, body))
    return parts


def main():
    made = [(style, seed) + fn(random.Random(seed), name) for style, fn in STYLES for seed, name in enumerate(NAMES)]
    with tempfile.TemporaryDirectory() as directory:
        files = []
        for i, (_, _, data, _) in enumerate(made):
            files.append(os.path.join(directory, "%d.eml" % i))
            with open(files[-1], "wb") as f:
                f.write(data)
        read = reader_parts(sys.argv[1], files)
    failures = []
    for (style, seed, data, truth), ours in zip(made, read):
        if ours != truth:
            failures.append("%s seed %d: read %r, made %r" % (style, seed, ours, truth))
        lf = [(t, n, s, b if b is None else b.replace(b"\r\n", b"\n")) for t, n, s, b in truth]
        if python_parts(data) != lf:
            failures.append("%s seed %d: Python reads %r, made %r" % (style, seed, python_parts(data), lf))
    print("%d messages in %d client styles, %d faults" % (len(made), len(STYLES), len(failures)))
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
