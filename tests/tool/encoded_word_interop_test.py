#!/usr/bin/env python3
"""Encoded words against Python's email package, texts drawn from fixed seeds:

- a Subject that mimeEncodedWordEncode writes reads back in Python (email.policy.default) as the text, with no
  defect, and no line of the header passes the fold length;
- what Python writes (the legacy email.header API in each charset it offers for headers, and the folding of
  email.policy.default) mimeEncodedWordDecode reads back as Python does, with nothing malformed.

Run as: encoded_word_interop_test.py PATH-TO-ENCODED_WORD_FILTER (tests/tool/encoded_word_filter.cpp, which
takes the texts separated by NUL)."""

import email
import email.policy
import random
import subprocess
import sys
import unittest
from email.header import Header
from email.message import EmailMessage

FILTER = None  # set from the command line

WORDS = ["Grüße", "München", "Köln", "€", "100", "Привет", "мир", "日本語の", "テキスト", "안녕하세요", "😀", "plain",
         "a_b", "=?utf-8?q?x?=", "price:", "(draft)", "x" * 40, "über-lange-Wortverbindung-ohne-Pause"]

# {charset Python writes headers in: a text it can hold}
CHARSET_TEXTS = {
    "utf-8": "Grüße € 😀 日本語 Привет",
    "iso-8859-1": "Grüße aus Köln, café crème",
    "iso-8859-2": "Zażółć gęślą jaźń",
    "iso-8859-15": "€ œ Œ Ÿ",
    "windows-1251": "Привет мир, как дела",
    "windows-1252": "“quoted” – dash …",
    "koi8-r": "Привет мир",
    "shift_jis": "こんにちは世界、長いテキストです" * 3,
    "iso-2022-jp": "こんにちは世界、長いテキストです" * 3,
    "euc-jp": "日本語のテキスト",
    "euc-kr": "안녕하세요 세계" * 3,
    "gb2312": "你好世界" * 6,
    "gbk": "你好世界",
    "big5": "你好世界",
    "utf-7": "Grüße",
}


def run_filter(args, texts):
    """The filter's outputs for the texts, and its standard error."""
    completed = subprocess.run([FILTER, *args], input="\0".join(texts).encode(), capture_output=True, timeout=60)
    if completed.returncode != 0:
        raise AssertionError(f"filter {args} failed: {completed.returncode}")
    return completed.stdout.decode().split("\0"), completed.stderr.decode()


def random_subject(rng, words=WORDS):
    return (" " * rng.choice([1, 1, 1, 2])).join(rng.choice(words) for _ in range(rng.randrange(1, 16)))


class EncodeReadByPython(unittest.TestCase):
    def test_subjects(self):
        rng = random.Random(2047)
        for fold in (76, 60, 998):
            texts = [random_subject(rng) for _ in range(50)]
            encoded, _ = run_filter(["encode", str(fold), "9"], texts)
            for text, value in zip(texts, encoded, strict=True):
                header = "Subject: " + value
                message = email.message_from_bytes((header + "\r\n\r\nbody\r\n").encode(),
                                                   policy=email.policy.default)
                self.assertEqual(str(message["Subject"]), text, header)
                self.assertEqual(list(message["Subject"].defects), [], header)
                for line in header.split("\r\n"):
                    if " " in line.strip():  # a line of one word may be longer
                        self.assertLessEqual(len(line), fold, header)


class DecodeWhatPythonWrites(unittest.TestCase):
    def assertDecodedAs(self, values, expected):
        decoded, err = run_filter(["decode"], [value.replace("\r\n", "").replace("\n", "") for value in values])
        self.assertEqual(err, "", values)
        for value, got, want in zip(values, decoded, expected, strict=True):
            self.assertEqual(got, want, value)

    def test_legacy_header_api_in_every_charset(self):
        values, texts = [], []
        for charset, text in CHARSET_TEXTS.items():
            for maxlinelen in (76, 40):
                values.append(Header(text, charset).encode(maxlinelen=maxlinelen))
                texts.append(text)
        self.assertDecodedAs(values, texts)

    def test_policy_default_folding(self):
        rng = random.Random(2231)
        values, read_back = [], []
        for _ in range(100):
            # Python takes text that looks like an encoded word, set as a header value, for one and decodes it.
            message = EmailMessage()
            message["Subject"] = random_subject(rng, [word for word in WORDS if "=?" not in word])
            written = message.as_string()
            values.append(written.split("\n\n", 1)[0].split("Subject: ", 1)[1])
            # Python's folder sometimes loses the space between two words it encodes separately; what it
            # wrote is then read as Python itself reads it back.
            read_back.append(str(email.message_from_string(written, policy=email.policy.default)["Subject"]))
        self.assertDecodedAs(values, read_back)


if __name__ == "__main__":
    FILTER = sys.argv.pop(1)
    unittest.main()
