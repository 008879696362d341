#!/usr/bin/env python3
"""mimetool unpack and show on real mail: every message of an mbox, attached messages descended into, line
ends read line by line, encoded-word names, defects reported with their offsets in the input, the exit codes,
and show --json. Run as: unpack_test.py PATH-TO-MIMETOOL."""

import base64
import json
import os
import random
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
from toolrun import ToolTestCase, main, mimetool

PDF = b"%PDF-1.4\n" + bytes(range(256)) * 12 + b"\n%%EOF\n"


def b64(octets):
    return base64.encodebytes(octets)  # lines of 76 ending in LF


def tree(directory):
    """Every file under the directory, as {relative path: octets}."""
    found = {}
    for root, _, files in os.walk(directory):
        for name in files:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, directory)] = f.read()
    return found


ATTACHED = (b"Content-Type: multipart/mixed; boundary=outer\r\n\r\n"
            b"--outer\r\nContent-Type: text/plain\r\n\r\nsee below\r\n"
            b"--outer\r\nContent-Type: message/rfc822\r\nContent-Disposition: attachment; filename=fwd.eml\r\n\r\n"
            b"Subject: inner\r\nContent-Type: multipart/mixed; boundary=inner\r\n\r\n"
            b"--inner\r\nContent-Type: text/plain\r\n\r\ninner text\r\n"
            b"--inner\r\nContent-Type: application/pdf; name=scan.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            + b64(PDF).replace(b"\n", b"\r\n") + b"--inner--\r\n"
            b"--outer--\r\n")

# The three messages of an mbox: plain LF text with a quoted envelope line, a multipart with an attachment,
# a CR LF message.
MBOX_MESSAGES = [
    b"From a@example.org Mon Jan  1 00:00:00 2024\nSubject: one\n\nfirst\n>From the start\n>>From twice\n",
    b"From b@example.org Mon Jan  1 00:00:00 2024\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
    b"Content-Type: application/pdf\nContent-Disposition: attachment; filename=\"doc.pdf\"\n"
    b"Content-Transfer-Encoding: base64\n\n" + b64(PDF) + b"--b--\n",
    b"From c@example.org Mon Jan  1 00:00:00 2024\r\nContent-Type: text/plain; name=three.txt\r\n\r\nthird\r\n",
]


class Messages(ToolTestCase):
    # label, input octets, the files under the output directory
    ROWS = [
        ("an mbox of three messages gives three folders", b"\n".join(MBOX_MESSAGES) + b"\n",
         {"1/part-1.txt": b"first\nFrom the start\n>From twice\n", "2/doc.pdf": PDF, "3/three.txt": b"third\r\n"}),
        ("a single message after an envelope line keeps today's layout", MBOX_MESSAGES[2],
         {"three.txt": b"third\r\n"}),
        ("first line CR LF, the rest LF", b"Content-Type: multipart/mixed; boundary=x\r\n\n--x\n"
         b"Content-Type: application/pdf; name=a.pdf\nContent-Transfer-Encoding: base64\n\n" + b64(PDF) + b"--x--\n",
         {"a.pdf": PDF}),
        ("an attached message descended into, its parts in a folder", ATTACHED,
         {"part-1.txt": b"see below", "fwd/part-2.1.1.txt": b"inner text", "fwd/scan.pdf": PDF}),
        ("an encoded-word name in two words, folded", b"Content-Type: text/plain;\r\n"
         b" name=\"=?UTF-8?B?w5xiZXJ3ZWlzdW5n?=\r\n =?ISO-8859-1?Q?_M=E4rz.txt?=\"\r\n\r\nbody",
         {"\u00dcberweisung M\u00e4rz.txt".encode(): b"body"}),
    ]

    def test_every_part_of_every_message_is_written_exactly(self):
        for label, octets, files in self.ROWS:
            with self.subTest(label):
                message = self.write("in.mbox", octets)
                out = self.path("out-" + label.replace(" ", "-"))
                result = mimetool("unpack", message, "-d", out)
                self.assertEqual((result.code, result.err), (0, ""), result)
                expected = {(k.decode() if isinstance(k, bytes) else k): v for k, v in files.items()}
                self.assertEqual(tree(out), expected)
                self.assertEqual(len(result.lines()), len(files))

    def test_a_defect_is_reported_at_its_offset_in_the_input(self):
        # Message 2 has a quoted envelope line before the junk: the offset still counts octets of the file.
        second = (b"From b@example.org Mon Jan  1 00:00:00 2024\nContent-Type: multipart/mixed; boundary=b\n\n"
                  b"--b\n\n>From here\n--b\nContent-Transfer-Encoding: base64\n\nQUJD*REVG\n--b--\n")
        octets = MBOX_MESSAGES[0] + b"\n" + second
        result = mimetool("unpack", self.write("in.mbox", octets), "-d", self.path("out"))
        self.assertEqual(result.code, 3, result)
        self.assertEqual(result.err, f"mimetool: message 2, part 2: base64-junk at offset {octets.index(b'*')}\n")
        self.assertEqual(tree(self.path("out"))["2/part-2.txt"], b"ABCDEF")
        self.assertEqual(tree(self.path("out"))["2/part-1.txt"], b"From here")


class ExitCodes(ToolTestCase):
    # label, command, input octets (None: no such file), exit code, the pattern of standard error
    ROWS = [
        ("clean", "unpack", MBOX_MESSAGES[2], 0, r"^$"),
        ("a defect", "unpack", b"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx",
         3, r"^mimetool: the message: no-close-delimiter at offset 53\n$"),  # at the end
        ("a defect in show", "show", b"Content-Transfer-Encoding: x-zip\r\n\r\nx", 3, "bad-transfer-encoding"),
        ("an empty file", "unpack", b"", 1, r"^mimetool: .*in\.eml: empty: no message to read\n$"),
        ("no such file", "show", None, 1, r"^mimetool: .*missing\.eml: No such file or directory\n$"),
        ("--json outside show", "unpack", b"x", 2, "option --json does not apply to unpack"),
    ]

    def test_exit_codes_say_whether_anything_was_lost_or_guessed(self):
        for label, command, octets, code, pattern in self.ROWS:
            with self.subTest(label):
                message = self.path("missing.eml") if octets is None else self.write("in.eml", octets)
                args = [command, message] + (["-d", self.path("out")] if command == "unpack" else [])
                if "--json" in label:
                    args.append("--json")
                result = mimetool(*args)
                self.assertEqual(result.code, code, result)
                self.assertRegex(result.err, pattern)


class Writing(ToolTestCase):
    def test_files_are_named_in_order_and_none_after_a_failure(self):
        # Files are written on several threads: the lines, and the files named, still follow the message. A
        # directory in the way of file 150 (--force replaces files, not directories) stops the run there.
        rng = random.Random(14)
        bodies = [rng.randbytes(300_000 if i % 37 == 0 else 1 + i * 13 % 900) for i in range(300)]
        names = [f"p{i:03d}.bin" for i in range(300)]
        message = self.write("m.eml", b"Content-Type: multipart/mixed; boundary=b\n\n" + b"".join(
            b"--b\nContent-Type: application/octet-stream; name=" + name.encode() +
            b"\nContent-Transfer-Encoding: base64\n\n" + b64(body) for name, body in zip(names, bodies)) + b"--b--\n")
        for label, force, blocked in (("new files", [], 300), ("replacing, a directory in the way", ["--force"], 150)):
            with self.subTest(label):
                out = self.path(label)
                os.makedirs(os.path.join(out, names[blocked]) if blocked < 300 else out)
                result = mimetool("unpack", *force, message, "-d", out)
                self.assertEqual([line.split("\t")[-1] for line in result.lines()],
                                 [os.path.join(out, name) for name in names[:blocked]])
                self.assertEqual(tree(out), {name: body for name, body in zip(names[:blocked], bodies)})
                self.assertEqual(len(os.listdir(out)), min(blocked + 1, 300), "no temporary file is left")
                if blocked < 300:
                    self.assertFailedCleanly(result, 1, names[blocked] + ": Is a directory")


def outline(part):
    """The fields of show --json a test pins, children included."""
    return (part["index"], part["content_type"], part["file_name"], part["size"], part["disposition"],
            [d["kind"] for d in part["defects"]], [outline(child) for child in part["children"]])


class ShowJson(ToolTestCase):
    def test_the_tree_of_a_nested_message_as_json(self):
        octets = ATTACHED.replace(b"inner text", b"inner text\x1b]0;\xe2\x80\xae").replace(b"--outer--\r\n", b"")
        result = mimetool("show", "--json", self.write("m.eml", octets))
        self.assertEqual(result.code, 3, result)  # no close delimiter
        checked = subprocess.run([sys.executable, "-m", "json.tool"], input=result.out, capture_output=True)
        self.assertEqual(checked.returncode, 0, checked.stderr)
        self.assertFalse([c for c in result.out if c < 0x20 and c != 0x0A], "control characters are escaped")
        [root] = json.loads(result.out)["messages"]
        self.assertEqual(outline(root), (
            "", "multipart/mixed", None, len(octets) - octets.index(b"\r\n\r\n") - 4, None, ["no-close-delimiter"], [
                ("1", "text/plain", None, 9, None, [], []),
                ("2", "message/rfc822", "fwd.eml", len(octets) - octets.index(b"Subject:"), "attachment", [], [
                    ("2.1", "multipart/mixed", None, len(octets) - octets.index(b"--inner\r\n"), None, [], [
                        ("2.1.1", "text/plain", None, 17, None, [], []),
                        ("2.1.2", "application/pdf", "scan.pdf", len(PDF), None, [], [])])])]))
        self.assertEqual(root["parameters"], {"boundary": "outer"})
        self.assertEqual(root["children"][1]["children"][0]["children"][1]["transfer_encoding"], "base64")


if __name__ == "__main__":
    main()
