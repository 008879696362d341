#!/usr/bin/env python3
"""The message reader against Python's email package (policy.default) on Python's own test corpus
(test/test_email/data/msg_*.txt of the Python installation): every message is read, and part count, content
types, file names, Subjects and decoded bodies agree, except where listed in DIFFERENT with the reason.

Run as: python_corpus_test.py PATH-TO-MESSAGE-DUMP. Skips (exit 0 with a note) when the corpus is absent."""

import email
import email.policy
import glob
import os
import subprocess
import sys
import sysconfig

# Messages where we differ on purpose, and why.
DELIVERY_STATUS = "Python splits message/delivery-status into a pseudo-part per header block; it is one leaf here"
DIFFERENT = {
    "msg_15.txt": "a multipart whose parent took its delimiters: Python keeps the line end before the next "
                  "delimiter in its body, which belongs to that delimiter",
    "msg_16.txt": DELIVERY_STATUS,
    "msg_42.txt": "a multipart holding only its close delimiter: Python empties the body, here every octet "
                  "stays in it",
    "msg_43.txt": DELIVERY_STATUS,
}


def corpus():
    """The corpus of this interpreter's own standard library, else of another Python 3 on the machine."""
    roots = [sysconfig.get_path("stdlib")] + sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/*/lib/python3*")))
    for root in roots:
        files = sorted(glob.glob(os.path.join(root, "test", "test_email", "data", "msg_*.txt")))
        if files:
            return files
    return []


def python_parts(path):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.default)
    parts = []
    for part in message.walk():
        entry = {"type": part.get_content_type(), "filename": part.get_filename(),
                 "subject": None if part["subject"] is None else str(part["subject"])}
        if not part.is_multipart():
            entry["body"] = (part.get_payload(decode=True) or b"").hex()
        parts.append(entry)
    return parts


def reader_parts(dump, files):
    out = subprocess.run([dump] + files, check=True, capture_output=True).stdout.decode("ascii")
    messages, current = [], []
    for line in out.splitlines():
        if line == "--":
            messages.append(current)
            current = []
            continue
        kind, name, subject, body = line.split("\t")
        current.append({"type": kind, "filename": None if name == "-" else bytes.fromhex(name).decode("utf-8"),
                        "subject": None if subject == "-" else bytes.fromhex(subject).decode("utf-8"),
                        **({} if body == "-" else {"body": body})})
    return messages


def lf_lines(body):
    """Python reads a file with universal newlines, so CR LF comes out as LF: bodies compare that way."""
    return body and bytes.fromhex(body).replace(b"\r\n", b"\n")


def difference(ours, theirs):
    if len(ours) != len(theirs):
        return "%d parts, Python %d" % (len(ours), len(theirs))
    for i, (a, b) in enumerate(zip(ours, theirs)):
        for key in ("type", "filename", "subject", "body"):
            if (lf_lines if key == "body" else str)(a.get(key)) != (lf_lines if key == "body" else str)(b.get(key)):
                return "part %d %s: %r, Python %r" % (i, key, str(a.get(key))[:60], str(b.get(key))[:60])
    return None


def main():
    files = corpus()
    if not files:
        print("Python's email test corpus is not on this machine: skipped")
        return 0
    messages = reader_parts(sys.argv[1], files)
    agree, failures = 0, []
    for path, ours in zip(files, messages):
        name = os.path.basename(path)
        why = difference(ours, python_parts(path))
        if why is None:
            agree += 1
            if name in DIFFERENT:
                failures.append("%s: listed as different but agrees now" % name)
        elif name not in DIFFERENT:
            failures.append("%s: %s" % (name, why))
        else:
            print("%s differs on purpose (%s): %s" % (name, DIFFERENT[name], why))
    print("%d of %d messages agree with Python's email package" % (agree, len(files)))
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
