#!/usr/bin/env python3
"""mimetool's own behaviour: the round trip of the sample folder, file names from hostile messages, no
overwrite without --force, one-line refusals that leave nothing behind, the options file, the flags, and
encode/decode of one entity. Run as: mimetool_test.py PATH-TO-MIMETOOL."""

import email.policy
import os
import contextlib
import re
import shutil
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
import toolrun
from toolrun import ToolTestCase, leaves, main, mimetool, parse, run, unpack_lines

SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "sample")


def multipart(parts, boundary="fence", subtype="mixed", lf=False):
    """A message of the given parts, each a (list of header lines, body bytes) pair."""
    out = [b"MIME-Version: 1.0", f"Content-Type: multipart/{subtype}; boundary={boundary}".encode(), b""]
    for headers, body in parts:
        out.append(b"--" + boundary.encode())
        out.extend(h.encode("utf-8") if isinstance(h, str) else h for h in headers)
        out.append(b"")
        out.append(body)
    out.append(b"--" + boundary.encode() + b"--")
    text = b"\r\n".join(out) + b"\r\n"
    return text.replace(b"\r\n", b"\n") if lf else text


def named_part(disposition_name, body=b"data\r\n"):
    return ([f"Content-Type: application/octet-stream", f"Content-Disposition: attachment; {disposition_name}"],
            body)


class RoundTrip(ToolTestCase):
    def test_the_sample_folder_packs_and_unpacks_to_the_same_files(self):
        # Text travels with CR LF line ends (hello.txt has LF ones); --binary sends every file as it is.
        files = sorted(os.listdir(SAMPLE))
        for options, text_lines in (([], b"\r\n"), (["--binary"], b"\n")):
            out = self.path("out" + "".join(options))
            self.check_round_trip(files, options, out, text_lines)

    def check_round_trip(self, files, options, out, text_lines):
        message = self.path("sample.eml")
        self.assertSucceeded(mimetool("pack", *options, "-o", message, *(os.path.join(SAMPLE, f) for f in files)))
        rows = unpack_lines(self.assertSucceeded(mimetool("unpack", message, "-d", out)))
        self.assertEqual([r["index"] for r in rows], [str(i + 1) for i in range(len(files))])
        self.assertEqual(sorted(os.listdir(out)), files)
        for name, row in zip(files, rows):
            with open(os.path.join(SAMPLE, name), "rb") as f:
                original = f.read()
            if name == "hello.txt":
                original = original.replace(b"\n", text_lines)
            with open(os.path.join(out, name), "rb") as f:
                self.assertEqual(f.read(), original, name)
            self.assertEqual(int(row["size"]), len(original))
            self.assertRegex(row["cid"], r"^<[^<>]+@[^<>]+>$")
            self.assertEqual(row["file"], os.path.join(out, name))
        types = {r["file"].rsplit("/", 1)[1]: r["type"].split(";")[0] for r in rows}
        self.assertEqual(types["gradient.png"], "image/png")
        self.assertEqual(types["hello.txt"], "text/plain")

    def test_show_prints_the_tree_and_writes_nothing(self):
        inner = multipart([(["Content-Type: text/plain"], b"plain"), (["Content-Type: text/html"], b"<b>x</b>")],
                          boundary="inner", subtype="alternative")
        inner_body = inner.split(b"\r\n\r\n", 1)[1]
        message = self.write("m.eml", multipart([
            (["Content-Type: multipart/alternative; boundary=inner"], inner_body),
            named_part('filename="a.bin"'),
        ]))
        result = self.assertSucceeded(mimetool("show", message, cwd=self.tmp))
        lines = result.lines()
        self.assertEqual([re.match(r"^ *\S+", line).group(0) for line in lines],
                         ["message", "  1", "    1.1", "    1.2", "  2"])
        self.assertIn("text/html", lines[3])
        self.assertIn('file "a.bin"', lines[4])
        self.assertEqual(sorted(os.listdir(self.tmp)), ["m.eml"])

    def test_lf_line_ends_are_read_line_by_line(self):
        # The octets of a part stay as the file has them: an LF file's binary part keeps its LF.
        message = self.write("lf.eml", multipart([named_part('filename="x.bin"', b"line\r\n")], lf=True))
        result = self.assertSucceeded(mimetool("unpack", message, "-d", self.path("out")))
        self.assertEqual(result.err, "")
        self.assertEqual(self.read("out", "x.bin"), b"line\n")


class Pack(ToolTestCase):
    # label, operand (file name, or FILE:TYPE), octets, options, the type, transfer encoding and payload a
    # reader gets (None: any transfer encoding)
    PARTS = [
        ("LF text goes as CR LF", "hello.txt", b"Hello\nWorld\n", [], "text/plain", "7bit", b"Hello\r\nWorld\r\n"),
        ("mixed line ends", "m.csv", b"a;b\r\nc;d\n", [], "text/csv", "7bit", b"a;b\r\nc;d\r\n"),
        ("--binary keeps LF", "hello.txt", b"Hello\nWorld\n", ["--binary"], "text/plain", None, b"Hello\nWorld\n"),
        ("other types keep LF", "x.bin", b"a\nb\n", [], "application/octet-stream", None, b"a\nb\n"),
        ("FILE:TYPE", "data.dat:text/plain; format=flowed", b"x\n", [], "text/plain", "7bit", b"x\r\n"),
        ("FILE:TYPE beats -t", "y.txt:image/png", b"\x89P\n", ["-t", "text/html"], "image/png", None, b"\x89P\n"),
        ("-t for the others", "z.png", b"z\n", ["-t", "text/html"], "text/html", "7bit", b"z\r\n"),
        ("a colon in an existing name", "a:b.txt", b"colon\n", [], "text/plain", "7bit", b"colon\r\n"),
    ]

    def test_each_file_becomes_a_part_a_reader_takes_as_it_is(self):
        for label, operand, octets, options, mediatype, cte, payload in self.PARTS:
            with self.subTest(label):
                name = operand if operand == "a:b.txt" else operand.split(":")[0]
                path = self.write(os.path.join(label, name), octets)
                argument = path + operand[len(name):]
                message = parse(self.assertSucceeded(mimetool("pack", *options, argument)).out)
                self.assertEqual(message.defects, [], label)
                part = leaves(message)[0]
                self.assertEqual(part.defects, [], label)
                self.assertEqual(part.get_content_type(), mediatype, label)
                if cte:
                    self.assertEqual(part["Content-Transfer-Encoding"], cte, label)
                self.assertEqual(part.get_payload(decode=True), payload, label)
                self.assertEqual(part.get_filename(), name, label)
                self.assertEqual(part.get_content_disposition(), "attachment", label)
                self.assertIsNone(message.get_body(), f"{label}: a file taken for the message's text")

    # label, --subject as given, as a reader reads it
    SUBJECTS = [
        ("long ASCII", "Quarterly figures " * 8, ("Quarterly figures " * 8).strip()),
        ("not ASCII", "\u00dcbersicht f\u00fcr M\u00e4rz \u2013 " + "\u65e5\u672c\u8a9e\u306e\u8cc7\u6599 " * 6,
         ("\u00dcbersicht f\u00fcr M\u00e4rz \u2013 " + "\u65e5\u672c\u8a9e\u306e\u8cc7\u6599 " * 6).strip()),
        ("text that looks encoded", "=?utf-8?q?not_a_word?= stays", "=?utf-8?q?not_a_word?= stays"),
    ]

    def test_the_message_carries_its_addresses_subject_date_and_id(self):
        to = ", ".join(f"Person Number {i} <person{i}@example.org>" for i in range(12))
        path = self.write("a.txt", b"x\n")
        for label, subject, read in self.SUBJECTS:
            octets = self.assertSucceeded(mimetool("pack", "--from", "Ann Example <ann@example.org>", "--to", to,
                                                   "--cc", '"Doe, Jo" <jo@example.org>', "--subject", subject,
                                                   path)).out
            header = octets.split(b"\r\n\r\n", 1)[0]
            self.assertTrue(header.isascii(), label)
            foldable = [line for line in header.split(b"\r\n") if not line.startswith(b"Message-ID:")]  # one word
            self.assertLessEqual(max(len(line) for line in foldable), 78, label)
            message = parse(octets)
            self.assertEqual(message.defects, [], label)
            self.assertEqual(message["Subject"], read, label)
        self.assertEqual(str(message["From"]), "Ann Example <ann@example.org>")
        self.assertEqual(len(message["To"].addresses), 12)
        self.assertEqual(message["Cc"].addresses[0].display_name, "Doe, Jo")
        self.assertIsNotNone(message["Date"].datetime.tzinfo)
        self.assertRegex(message["Message-ID"], r"^<[^<>@]+@[^<>@]+>$")
        self.assertNotEqual(parse(mimetool("pack", path).out)["Message-ID"], message["Message-ID"])


class FileNames(ToolTestCase):
    # label, the file name parameter as it stands in the message, the name written
    ROWS = [
        ("plain", 'filename="report.pdf"', "report.pdf"),
        ("parent directories", 'filename="../../etc/passwd"', "passwd"),
        ("absolute path", 'filename="/tmp/abs.txt"', "abs.txt"),
        ("backslashes", 'filename="..\\\\..\\\\win.ini"', "win.ini"),
        ("dot-dot alone", 'filename=".."', "part-{i}.bin"),
        ("hidden file", 'filename=".profile"', "profile"),
        ("control characters", "filename*=utf-8''a%01b%0Ac%1B.txt", "a_b_c_.txt"),
        ("NUL", "filename*=utf-8''nul%00.txt", "nul_.txt"),
        ("DEL and C1 controls (8-bit CSI)", "filename*=utf-8''d%7Fe%C2%9B31m%C2%85.txt", "d_e_31m_.txt"),
        ("right-to-left override", "filename*=utf-8''invoice%E2%80%AEfdp.exe", "invoice_fdp.exe"),
        ("isolates and marks", "filename*=utf-8''%E2%81%A6a%E2%81%A9%E2%80%8Fb%D8%9C.txt", "_a__b_.txt"),
        ("characters file systems refuse", "filename*=utf-8''q%3Ca%3Eb%3Ac%22d%7Ce%3Ff%2A.txt", "q_a_b_c_d_e_f_.txt"),
        ("line separator", "filename*=utf-8''one%E2%80%A8two.txt", "one_two.txt"),
        ("RFC 2231 sections", "filename*0*=utf-8''%C3%9Cber;filename*1*=weisung.pdf", "\u00dcberweisung.pdf"),
        ("empty", 'filename=""', "part-{i}.bin"),
        ("only spaces and dots", 'filename=" . . "', "part-{i}.bin"),
        ("trailing dots", 'filename="x.txt.."', "x.txt"),
        ("too long", 'filename="' + "n" * 300 + '.txt"', "n" * 196 + ".txt"),
        ("twice the same", 'filename="report.pdf"', "report-2.pdf"),
    ]

    def test_names_from_the_message_never_leave_the_directory(self):
        message = self.write("m.eml", multipart([named_part(row[1]) for row in self.ROWS]))
        out = self.path("deep", "out")
        rows = unpack_lines(self.assertSucceeded(mimetool("unpack", message, "-d", out)))
        self.assertEqual(len(rows), len(self.ROWS))
        for i, ((label, _, expected), row) in enumerate(zip(self.ROWS, rows), start=1):
            expected = expected.format(i=i)
            self.assertEqual(row["file"], os.path.join(out, expected), label)
            self.assertEqual(self.read("deep", "out", expected), b"data\r\n", label)
        self.assertEqual(sorted(os.listdir(self.tmp)), ["deep", "m.eml"])
        self.assertEqual(len(os.listdir(out)), len(self.ROWS))

    def test_parts_without_a_name_are_numbered_with_the_extension_of_their_type(self):
        message = self.write("m.eml", multipart([
            (["Content-Type: image/png"], b"png"),
            ([], b"no header at all"),
            (["Content-Type: application/x-unknown"], b"?"),
            (["Content-Type: text/html; name=page.html"], b"<p>"),
        ]))
        rows = unpack_lines(self.assertSucceeded(mimetool("unpack", message, "-d", self.path("out"))))
        self.assertEqual([os.path.basename(r["file"]) for r in rows],
                         ["part-1.png", "part-2.txt", "part-3.bin", "page.html"])
        self.assertEqual(rows[1]["type"], "-")
        self.assertEqual(rows[1]["cte"], "-")


def hazards(octets):
    """The characters of a tool's output that a terminal would act on or show out of order (tab and line
    feed are the tool's own; U+FFFD, which the library makes of octets that are no UTF-8, is harmless)."""
    text = octets.decode("utf-8", "replace") if isinstance(octets, bytes) else octets
    return [c for c in text if (ord(c) < 0x20 and c not in "\t\n") or 0x7F <= ord(c) <= 0x9F or
            c in "\u061c\u200e\u200f\u2028\u2029\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069"]


class TerminalSafety(ToolTestCase):
    # label, message octets; unpack and show must print none of its hazards, whether they read it or refuse it
    MESSAGES = [
        ("escape and bell in a line that is no header field", b"\x1b]0;owned\x07\x1b[2J: x\r\nno header\r\n\r\nx"),
        ("raw C1 and invalid UTF-8 in a field", b"Content-Transfer-Encoding: \xc2\x9b31m\x9b\xff\r\n\r\nx"),
        ("override and controls in names and parameters", multipart([
            (["Content-Type: text/plain; name*=utf-8''%E2%80%AEtxt.exe; x*=utf-8''%C2%9B%1B%07%E2%81%A6"], b"x\r\n"),
            named_part("filename*=utf-8''%1B%5D0%3Bt%07a%E2%80%A8b%C2%85.bin")])),
    ]

    def test_nothing_from_a_message_reaches_the_terminal_unescaped(self):
        for label, octets in self.MESSAGES:
            message = self.write("m.eml", octets)
            for args in (["show", message], ["unpack", message, "-d", self.path("out-" + str(len(label)))]):
                result = mimetool(*args)
                self.assertIn(result.code, (0, 1, 3), result)
                self.assertEqual(hazards(result.out) + hazards(result.err), [], f"{label}, {args[0]}: {result}")
                self.assertTrue(result.out or result.err, label)
        self.assertRegex(mimetool("show", self.path("m.eml")).out.decode(), r"\\u202Etxt\.exe.*\\x1B")


class Overwriting(ToolTestCase):
    def test_existing_files_are_kept_unless_forced(self):
        message = self.write("m.eml", multipart([named_part('filename="a.bin"', b"new"),
                                                 named_part('filename="b.bin"', b"new")]))
        out = self.path("out")
        os.makedirs(out)
        self.write("out/b.bin", b"old")
        self.assertFailedCleanly(mimetool("unpack", message, "-d", out), 1, r"b\.bin: exists \(use --force")
        self.assertEqual(sorted(os.listdir(out)), ["b.bin"], "nothing written when one name is taken")
        self.assertEqual(self.read("out", "b.bin"), b"old")
        self.assertSucceeded(mimetool("unpack", message, "-d", out, "--force"))
        self.assertEqual(self.read("out", "a.bin"), b"new")
        self.assertEqual(self.read("out", "b.bin"), b"new")
        self.assertEqual(sorted(os.listdir(out)), ["a.bin", "b.bin"])

    def test_a_symbolic_link_in_the_way_is_neither_followed_nor_replaced(self):
        message = self.write("m.eml", multipart([named_part('filename="link"', b"payload")]))
        target = self.write("target", b"keep")
        os.makedirs(self.path("out"))
        os.symlink(target, self.path("out", "link"))
        self.assertFailedCleanly(mimetool("unpack", message, "-d", self.path("out")), 1, "exists")
        self.assertEqual(self.read("target"), b"keep")
        self.assertSucceeded(mimetool("unpack", message, "-d", self.path("out"), "--force"))
        self.assertEqual(self.read("target"), b"keep", "--force replaces the link, not what it points to")
        self.assertFalse(os.path.islink(self.path("out", "link")))


class ReadPast(ToolTestCase):
    # label, message octets, the defect lines on standard error, the files written and their octets. What
    # the reader reads past is reported, exit code 3, and no octet of a part is lost.
    MESSAGES = [
        ("no close delimiter", b"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx\r\n",
         [r"the message: no-close-delimiter at offset 55"], {"part-1.txt": b"x\r\n"}),
        ("no boundary parameter", b"Content-Type: multipart/mixed\r\n\r\n--b\r\n\r\nx\r\n--b--\r\n",
         [r"part 1: no-boundary at offset 0"], {"part-1.bin": b"--b\r\n\r\nx\r\n--b--\r\n"}),
        ("unknown transfer encoding", b"Content-Type: text/plain\r\nContent-Transfer-Encoding: x-zip\r\n\r\nx",
         [r"part 1: bad-transfer-encoding at offset 26"], {"part-1.txt": b"x"}),
        ("broken Base64", b"Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\nR\r\n",
         [r"part 1: base64-truncated at offset \d+"], {"part-1.txt": b"ABC"}),
        ("a part whose header block has no blank line", multipart([(["Content-Type: text/plain"], b"")])
         .replace(b"text/plain\r\n\r\n", b"text/plain\r\nkept text\r\n"),
         [r"part 1: not-a-header-field at offset 103"], {"part-1.txt": b"kept text\r\n"}),
        ("no header field at all", b"this is no message\r\n\r\nbody",
         [r"part 1: not-a-header-field at offset 0"], {"part-1.txt": b"this is no message\r\n\r\nbody"}),
    ]

    def test_what_the_reader_reads_past_is_reported_and_kept(self):
        for label, octets, defects, files in self.MESSAGES:
            with self.subTest(label):
                message = self.write("bad.eml", octets)
                out = self.path("out-" + label.replace(" ", "-"))
                result = mimetool("unpack", message, "-d", out)
                self.assertEqual(result.code, 3, result)
                self.assertEqual(len(result.err.splitlines()), len(defects), result)
                for line, pattern in zip(result.err.splitlines(), defects):
                    self.assertRegex(line, "^mimetool: " + pattern + "$")
                self.assertEqual({name: self.read(out, name) for name in os.listdir(out)}, files)
                shown = mimetool("show", message)
                self.assertEqual((shown.code, shown.err), (3, result.err))

    def test_nesting_past_the_limit_stays_a_leaf(self):
        body = b"--b0\r\n\r\nx\r\n--b0--"
        for depth in range(1, 120):
            body = (f"--b{depth}\r\nContent-Type: multipart/mixed; boundary=b{depth - 1}\r\n\r\n".encode() + body +
                    f"\r\n--b{depth}--".encode())
        message = self.write("deep.eml", b"Content-Type: multipart/mixed; boundary=b119\r\n\r\n" + body + b"\r\n")
        result = mimetool("show", message)
        self.assertEqual(result.code, 3, result)
        self.assertRegex(result.err, r"^mimetool: part 1(\.1)+: too-deep at offset \d+\n$")


class Refusals(ToolTestCase):
    def good(self):
        return multipart([named_part('filename="x.bin"')])

    # label, arguments, exit code, the pattern of the one line on standard error
    COMMAND_LINES = [
        ("no command", [], 2, "no command"),
        ("unknown command", ["frobnicate"], 2, 'unknown command "frobnicate"'),
        ("unknown option", ["pack", "--frob", "x"], 2, "unknown option --frob"),
        ("missing value", ["pack", "-o"], 2, "needs a value"),
        ("missing operand", ["unpack"], 2, "missing operand"),
        ("extra operand", ["show", "a", "b"], 2, "unexpected operand b"),
        ("option of another command", ["show", "-d", "x", "m"], 2, "does not apply to show"),
        ("--force outside unpack", ["pack", "--force", "m"], 2, "does not apply to pack"),
        ("fold below -1", ["--fold", "-2", "options"], 2, "--fold needs"),
        ("fold not a number", ["--fold=7x", "options"], 2, "--fold needs"),
        ("section 0", ["--rfc2231-section", "0", "options"], 2, "--rfc2231-section needs"),
        ("unknown charset", ["--rfc2231-charset", "klingon", "options"], 2, "unknown charset klingon"),
        ("a part type that is none", ["pack", "-t", "nonsense", "f"], 2, "not a content type"),
        ("a multipart type that is none", ["pack", "-m", "text/plain", "f"], 2, "multipart"),
        ("missing input file", ["pack", "/nonexistent/file"], 1, "/nonexistent/file: No such file"),
        ("a header injected through the subject", ["pack", "--subject", "hi\r\nBcc: all@example.org", "f"], 2,
         "--subject: a line break"),
        ("a control character in an address", ["pack", "--to", "a@b\x1b[2J", "f"], 2, r"--to: .*control"),
        ("an address that is not ASCII", ["pack", "--from", "J\u00fcrgen <j@example.org>", "f"], 2, "only ASCII"),
        ("a per-file type that is none", ["pack", "/:nonsense"], 2, "not a content type: nonsense"),
        ("--from outside pack", ["show", "--from", "a@b", "m"], 2, "does not apply to show"),
        ("--binary outside pack", ["encode", "--binary", "m"], 2, "does not apply to encode"),
        ("missing message", ["unpack", "/nonexistent/m.eml"], 1, "No such file"),
        ("a directory as message", ["show", "/"], 1, "is a directory"),
        ("missing options file", ["--options", "/nonexistent/o", "options"], 1, "No such file"),
    ]

    def test_bad_command_lines_are_refused_in_one_line(self):
        for label, args, code, pattern in self.COMMAND_LINES:
            with self.subTest(label):
                self.assertFailedCleanly(mimetool(*args, cwd=self.tmp), code, pattern)
        self.assertEqual(os.listdir(self.tmp), [])

    def test_a_failed_pack_leaves_the_old_output_and_no_temporary_file(self):
        out = self.write("out.eml", b"previous message")
        good = self.write("good.bin", b"x")
        self.assertFailedCleanly(mimetool("pack", "-o", out, good, self.path("missing.bin")), 1, "missing.bin")
        self.assertEqual(self.read("out.eml"), b"previous message")
        self.assertEqual(sorted(os.listdir(self.tmp)), ["good.bin", "out.eml"])

    def test_a_signal_during_a_large_write_leaves_no_file(self):
        # pack reads its last file from a FIFO: it is stopped in the middle of its output, deterministically.
        for signal_number in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signal_number.name):
                self.write("old.eml", b"previous message")
                small = self.write("small.txt", b"x\r\n")
                fifo = self.path("big.bin")
                os.mkfifo(fifo)
                process = subprocess.Popen([toolrun.MIMETOOL, "pack", "-o", self.path("old.eml"), small, fifo],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                with open(fifo, "wb") as writer:
                    writer.write(os.urandom(1 << 16) * 256)  # 16 MiB taken in
                    self.assertEqual(len([n for n in os.listdir(self.tmp) if n.startswith(".mimetool-")]), 1)
                    process.send_signal(signal_number)
                    process.wait(timeout=60)
                    with contextlib.suppress(BrokenPipeError):
                        writer.close()
                self.assertEqual(process.returncode, -signal_number)
                self.assertEqual(sorted(os.listdir(self.tmp)), ["big.bin", "old.eml", "small.txt"])
                self.assertEqual(self.read("old.eml"), b"previous message")
                os.unlink(fifo)

    def test_an_unwritable_directory_is_refused(self):
        message = self.write("m.eml", self.good())
        self.write("file", b"")
        self.assertFailedCleanly(mimetool("unpack", message, "-d", self.path("file", "sub")), 1, "file")


class OptionsAndFlags(ToolTestCase):
    def test_saved_options_are_read_back_under_the_command_line(self):
        saved = self.path("opts.txt")
        self.assertSucceeded(mimetool("--fold", "40", "--no-parse-rfc2231-headers", "--rfc2231-charset",
                                      "latin1", "--save-options", saved, "options"))
        text = self.read("opts.txt").decode()
        self.assertIn("wrapLineLength = 40", text)
        self.assertIn('rfc2231Charset = "ISO_8859_1"', text)
        self.assertNotIn("MIME_FLAG_PARSE_RFC2231_HEADERS", text)
        self.assertNotIn("rfc2231MaxSegmentLength", text, "only explicit fields are saved")

        shown = self.assertSucceeded(mimetool("--options", saved, "--rfc2231-section", "20", "options")).out.decode()
        self.assertIn("wrapLineLength = 40", shown)
        self.assertIn("rfc2231MaxSegmentLength = 20", shown)
        self.assertIn('rfc2231Charset = "ISO_8859_1"', shown)
        overridden = self.assertSucceeded(mimetool("--options", saved, "--parse-rfc2231-headers", "options"))
        self.assertIn("MIME_FLAG_PARSE_RFC2231_HEADERS", overridden.out.decode())

        self.write("junk.txt", "this is { not a store")
        self.assertFailedCleanly(mimetool("--options", self.path("junk.txt"), "options"), 1, "not an options file")

    def pack_one(self, name, data, *flags):
        """The message and its one part as Python's compat32 parser reads it (the interop tests hold the
        comparison with the stricter default policy)."""
        path = self.write(os.path.join("in", name), data)
        result = self.assertSucceeded(mimetool(*flags, "pack", path))
        return result.out, leaves(parse(result.out, email.policy.compat32))[0]

    def test_each_flag_changes_what_pack_writes(self):
        text = "A line of mostly plain English text with one caf\u00e9 in it.\r\n".encode() * 3
        _, default = self.pack_one("t.txt", text)
        self.assertEqual(default["Content-Transfer-Encoding"], "quoted-printable")
        _, base64 = self.pack_one("t.txt", text, "--generate-disable-quoted-printable")
        self.assertEqual(base64["Content-Transfer-Encoding"], "base64")
        raw, binary = self.pack_one("t.txt", text, "--generate-eight-bit-body")
        self.assertEqual(binary["Content-Transfer-Encoding"], "binary")
        self.assertIn(text, raw)
        self.assertEqual(binary.get_payload(decode=True), text)

        name = "R\u00e9sum\u00e9 of the quarterly figures for the board meeting.txt"
        raw, part = self.pack_one(name, b"x\r\n")
        self.assertIn(b"filename*0*=UTF-8''R%C3%A9sum%C3%A9", raw)
        self.assertEqual(part.get_filename(), name)
        raw, part = self.pack_one(name, b"x\r\n", "--rfc2231-section", "12")
        self.assertIn(b"filename*5*=", raw)
        self.assertEqual(part.get_filename(), name)
        raw, part = self.pack_one(name, b"x\r\n", "--rfc2231-charset", "ISO-8859-1")
        self.assertIn(b"filename*0*=ISO-8859-1''R%E9sum%E9", raw)
        self.assertEqual(part.get_filename(), name)
        raw, part = self.pack_one(name, b"x\r\n", "--no-generate-rfc2231-headers")
        self.assertNotIn(b"filename", raw, "a non-ASCII value that cannot be written is left out")
        folds = {}
        for fold in ("30", "76", "-1"):
            raw, part = self.pack_one("plain-ascii-name-long-enough-to-fold.txt", b"x\r\n", "--fold", fold)
            folds[fold] = raw.split(b"\r\n\r\n", 2)[1].count(b"\r\n ")
            self.assertEqual(part.get_filename(), "plain-ascii-name-long-enough-to-fold.txt")
        self.assertGreater(folds["30"], folds["76"])
        self.assertEqual(folds["-1"], 0)


    def test_files_larger_than_a_piece_pack_as_encoding_them_whole_does(self):
        # pack writes a body a piece (1 MiB) at a time; encode holds the whole body: the octets must agree, and
        # text with LF line ends must arrive with CR LF, a line of 1.5 MiB (cut inside a line) included.
        line = "caf\u00e9 au lait =\t".encode() * 80000
        lf_text = b"".join(b"line %d of a long text, mostly ASCII \xc3\xa9\n" % i for i in range(60000)) + line + b"\n"
        binary = bytes((i * 7919 + (i >> 11)) % 251 for i in range(3 * 1024 * 1024 + 1))
        crlf_text = lf_text.replace(b"\n", b"\r\n")
        for name, data, expected, encoding in (("long.txt", lf_text, crlf_text, "quoted-printable"),
                                               ("data.bin", binary, binary, "base64")):
            raw, part = self.pack_one(name, data)
            self.assertEqual(part["Content-Transfer-Encoding"], encoding, name)
            self.assertTrue(part.get_payload(decode=True) == expected, name)
            whole = self.write(os.path.join("whole", name), expected)
            entity = self.assertSucceeded(mimetool("encode", whole)).out
            body = entity.split(b"\r\n\r\n", 1)[1]
            self.assertTrue(b"\r\n\r\n" + body + b"\r\n--" in raw, name + ": not the octets of the whole body")


class Help(ToolTestCase):
    COMMANDS = ["pack", "unpack", "show", "encode", "decode", "options"]
    MANUAL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "mimetool.1")

    def test_each_command_has_its_own_page_with_examples_and_exit_codes(self):
        general = self.assertSucceeded(mimetool("--help")).out.decode()
        pages = {}
        for command in self.COMMANDS:
            for args in ([command, "--help"], ["help", command], ["--fold", "40", command, "-h", "x"]):
                page = self.assertSucceeded(mimetool(*args)).out.decode()
                self.assertTrue(page.startswith(f"usage: mimetool [OPTIONS] {command}"), args)
                self.assertIn("examples:\n  mimetool", page, args)
                self.assertIn("exit status:", page, args)
                pages[command] = page
            self.assertIn(f"  {command} ", general)
        self.assertEqual(len(set(pages.values())), len(self.COMMANDS), "no two commands share a page")
        self.assertFailedCleanly(mimetool("help", "frobnicate"), 2, 'unknown command "frobnicate"')

    def test_version_names_the_tool_and_the_library(self):
        out = self.assertSucceeded(mimetool("--version")).out.decode()
        self.assertRegex(out, r"^mimetool \d+\.\d+\.\d+\nmime library \d+\.\d+\.\d+, built ")

    def test_the_manual_page_renders_and_names_every_option(self):
        with open(self.MANUAL, encoding="utf-8") as f:
            source = f.read().replace("\\-", "-")
        texts = [mimetool("--help").out.decode()] + [mimetool(c, "--help").out.decode() for c in self.COMMANDS]
        for option in sorted({o for text in texts for o in re.findall(r"--[a-z0-9][a-z0-9-]+", text)}):
            self.assertIn(option.replace("--[no-]", "--"), source, f"{option} is missing from the manual page")
        if shutil.which("man"):
            result = run(["man", "--warnings", "-l", self.MANUAL], env=dict(os.environ, MANWIDTH="80"))
            self.assertEqual((result.code, result.err), (0, ""), result)
            self.assertIn("EXIT STATUS", result.out.decode())


class OneEntity(ToolTestCase):
    def test_encode_and_decode_give_the_file_back(self):
        data = bytes(range(256)) * 4
        source = self.write("blob.bin", data)
        entity = self.path("blob.entity")
        self.assertSucceeded(mimetool("encode", "-t", "application/x-test; level=3", "-o", entity, source))
        text = self.read("blob.entity")
        self.assertRegex(text, rb"^Content-Type: application/x-test;filename=blob\.bin;level=3;name=blob\.bin\r\n"
                               rb"Content-Transfer-Encoding: base64\r\nContent-Id: <[^>]+>\r\n\r\n")
        decoded = self.assertSucceeded(mimetool("decode", entity))
        self.assertEqual(decoded.out, data)
        self.assertRegex(decoded.err, r"^1\tapplication/x-test; filename=blob\.bin; level=3; name=blob\.bin\t"
                                      r"base64\t1024\t<[^>]+>\t-\n$")
        result = self.assertSucceeded(mimetool("decode", "-o", self.path("back.bin"), "-", stdin=text))
        self.assertEqual(self.read("back.bin"), data)
        self.assertTrue(result.out.decode().endswith("\t" + self.path("back.bin") + "\n"))


if __name__ == "__main__":
    main()
