#!/usr/bin/env python3
"""mimetool against mail tools nobody here wrote, every input made from fixed seeds:

- Python's email package parses every message `mimetool pack` writes (parts, content types, RFC 2231 file
  names, decoded payloads equal to the files), and `mimetool unpack` reads what Python's generator writes
  (mixed and alternative, nested, text in several charsets, binary attachments, RFC 2231 file names), in
  CR LF, in LF and with 8bit bodies;
- files packed by `mpack -o` unpack with mimetool to the same octets, and `munpack` and `ripmime` extract the
  files of messages that mimetool packed.

Run as: interop_test.py PATH-TO-MIMETOOL. scripts/install-deps.sh installs mpack and ripmime."""

import email.policy
import os
import random
import re
import shutil
import sys
from email.message import EmailMessage

sys.dont_write_bytecode = True  # nothing written into the source tree
from toolrun import ToolTestCase, leaves, main, mimetool, parse, random_bytes, run, unpack_lines

# File names the tests draw from: plain ones, and ones that need RFC 2231 (non-ASCII, long, spaces).
ASCII_NAMES = ["report.pdf", "photo.png", "notes.txt", "data.bin", "table.csv", "page.html", "backup.tar.gz"]
LATIN1_NAMES = ["\u00dcberweisung M\u00e4rz.pdf", "caf\u00e9 cr\u00e8me menu.html",
                "R\u00e9sum\u00e9 of the quarterly figures for the board meeting in the spring of 2024.pdf"]
OTHER_NAMES = ["\u043e\u0442\u0447\u0451\u0442 \u0437\u0430 \u043a\u0432\u0430\u0440\u0442\u0430\u043b.txt",
               "\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb\u540d.png",
               "\u00dcberweisung M\u00e4rz \u2013 Kontoauszug f\u00fcr Frau M\u00fcller, Seite 1 von 2.pdf"]

# What mimetool's extension table says for the extensions above.
TYPES = {".pdf": "application/pdf", ".png": "image/png", ".txt": "text/plain", ".bin": "application/octet-stream",
         ".csv": "text/csv", ".html": "text/html", ".gz": "application/gzip"}


# Words of real file names in several scripts, for names made from fixed seeds (emoji beside Latin words, some
# of them sequences of several code points).
SCRIPT_WORDS = {script: words.split() for script, words in {
    "German": "Jahresabschluss Übersicht Rechnung Prüfbericht für März Quartal Kündigung Straßenbau Gebäude "
              "Änderungsantrag Bestätigung Außendienst Müller Entwurf endgültig Vertrag Öffnungszeiten 2024 (1)",
    "Russian": "Отчёт за квартал Договор поставки Счёт Приложение Протокол совещания Смета ремонт Акт сверки "
               "итоговый 2024",
    "Japanese": "見積書 請求書 議事録 会議 年度 報告書 第 四半期 売上 資料 確認 契約書 最終版 プロジェクト 東京 予算 （案） 2024",
    "Greek": "Αναφορά τριμήνου Τιμολόγιο Σύμβαση Πρακτικά τελικό Αθήνα έγγραφο 2024",
    "Arabic": "تقرير الربع فاتورة عقد توريد محضر اجتماع الميزانية النهائي 2024",
    "emoji": "Party 🎉 Urlaub 📷 Fotos 😀 🚀 Launch ✈️ 🌍 👍🏽 👨‍👩‍👧",
}.items()}
NAME_EXTENSIONS = [".pdf", ".csv", ".txt", ".png", ".html", ".bin"]


def generated_names(seed, script, count, shortest, longest):
    """count different file names of shortest to longest code points, extension included, of the script's
    words joined by spaces, "_" or "-"; the last word may be cut. A name never passes 255 octets in UTF-8,
    the longest a file system holds (a long Japanese name is cut to that)."""
    rng = random.Random(f"{seed} {script}")
    names = []
    while len(names) < count:
        extension, length = rng.choice(NAME_EXTENSIONS), rng.randint(shortest, longest)
        stem = rng.choice(SCRIPT_WORDS[script])
        while len(stem) < length:
            stem += rng.choice(" _-") + rng.choice(SCRIPT_WORDS[script])
        stem = stem[:length - len(extension)]
        while len((stem + extension).encode()) > 255:
            stem = stem[:-1]
        name = stem.rstrip(" _-") + extension
        if len(name) >= shortest and name not in names:
            names.append(name)
    return names


def many_generated_names():
    """Four short and four long names of every script and two with "'", for one message of many attachments."""
    return ["apos'trophe.txt", "l'été d'Olivier.pdf"] + [
        name for script in SCRIPT_WORDS
        for name in generated_names(5, script, 4, 10, 39) + generated_names(5, script, 4, 40, 120)]


def defects(message):
    """The defects Python found in a message or part and in its header fields (the default policy keeps those
    of a field on the field, e.g. a section that ends inside a character)."""
    fields = [value for key in set(message.keys()) for value in message.get_all(key)]
    return list(message.defects) + [defect for value in fields for defect in getattr(value, "defects", ())]


def type_of(name):
    return TYPES[os.path.splitext(name)[1]]


def random_content(rng, name):
    """Octets of a kind that fits the name: random binary, or text with CR LF or LF line ends, ASCII or
    UTF-8, sometimes with a line that starts like a delimiter; now and then empty."""
    kind = rng.randrange(6)
    if kind == 0:
        return b""
    if not type_of(name).startswith("text/"):
        return random_bytes(rng, rng.randrange(1, 4000))
    words = ["mime", "caf\u00e9", "--frontier", "Gr\u00fc\u00dfe", "plain", "=3D", "\u65e5\u672c", "end.  "]
    lines = [" ".join(rng.choice(words) for _ in range(rng.randrange(1, 14))) for _ in range(rng.randrange(1, 30))]
    if kind == 1:
        lines = [line.encode("ascii", "replace").decode() for line in lines]
    return ("\r\n" if kind in (1, 2) else "\n").join(lines).encode() + (b"\r\n" if kind == 2 else b"")


def crlf(octets):
    """Bare LF turned into CR LF, as mimetool reads a file with LF line ends."""
    return octets.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


class PythonReadsWhatWePack(ToolTestCase):
    # label, mimetool options, names to draw from
    VARIANTS = [
        ("defaults", [], ASCII_NAMES + LATIN1_NAMES + OTHER_NAMES),
        ("Base64 only", ["--generate-disable-quoted-printable"], ASCII_NAMES + OTHER_NAMES),
        ("binary bodies", ["--generate-eight-bit-body"], ASCII_NAMES + LATIN1_NAMES),
        ("short folds and sections", ["--fold", "40", "--rfc2231-section", "20"], ASCII_NAMES + OTHER_NAMES),
        ("Latin-1 parameters", ["--rfc2231-charset", "ISO-8859-1"], ASCII_NAMES + LATIN1_NAMES),
        ("text as it is", ["--binary"], ASCII_NAMES + OTHER_NAMES),
    ]

    def pack(self, rng, options, names, count, content=None):
        """Packs files drawn from names; returns (name, the octets a reader must get, path) per file and the
        message. Text travels with CR LF line ends unless --binary keeps the file's own."""
        files = []
        for i, name in enumerate(rng.sample(names, count)):
            octets = random_content(rng, name) if content is None else content
            path = self.write(os.path.join(f"in{i}", name), octets)
            if type_of(name).startswith("text/") and "--binary" not in options:
                octets = crlf(octets)
            files.append((name, octets, path))
        result = self.assertSucceeded(mimetool(*options, "pack", *(path for _, _, path in files)))
        return files, result.out

    def check_parsed(self, message, files, policy_name, label):
        self.assertEqual(defects(message), [], f"{label}, {policy_name}")
        self.assertTrue(message.is_multipart(), label)
        self.assertEqual(message.get_content_type(), "multipart/mixed", label)
        parts = leaves(message)
        self.assertEqual(len(parts), len(files), label)
        for (name, content, _), part in zip(files, parts):
            where = f"{label}, {policy_name}, {name}"
            self.assertEqual(defects(part), [], where)
            self.assertEqual(part.get_content_type(), type_of(name), where)
            self.assertEqual(part.get_filename(), name, where)
            self.assertEqual(part.get_payload(decode=True), content, where)
            self.assertRegex(part["Content-Id"], r"^<[^<>]+@[^<>]+>$", where)

    # Both policies, with no defect on the message or any part: the default policy's parser refuses a
    # parameter folded between its name and its "=", and flags a section that ends inside a character.
    def test_python_parses_every_message_we_pack(self):
        rng = random.Random(20240601)
        for label, options, names in self.VARIANTS:
            for round_ in range(6):
                files, octets = self.pack(rng, options, names, rng.randrange(1, 5))
                self.check_both_policies(octets, files, f"{label} #{round_}")

    def check_both_policies(self, octets, files, label):
        for policy_name, policy in [("compat32", email.policy.compat32), ("default", email.policy.default)]:
            self.check_parsed(parse(octets, policy), files, policy_name, label)

    # issue 12: the fold stood between "filename*1*" and its "=", and the default policy lost the name.
    def test_python_default_policy_reads_long_sectioned_names(self):
        files, octets = self.pack(random.Random(1), ["--rfc2231-section", "12"],
                                  ["R\u00e9sum\u00e9 of the quarterly figures for the board meeting.txt"], 1,
                                  content=b"x\r\n")
        folds = re.findall(rb"(.)\r\n ", octets)
        self.assertGreater(len(folds), 1)
        self.assertEqual(set(folds), {b";"}, "every fold right after a semicolon")
        self.check_parsed(parse(octets, email.policy.default), files, "default", "folded parameter")

    # File names of 10-39 and 40-120 characters in six scripts, one per message, under the defaults, short
    # folds and sections, and no sections; the first rows are 90 long names (30 German, 30 Russian, 30
    # Japanese) as in the measurement that found folds before "=".
    NAME_SETS = [(script, 30 if script in ("German", "Russian", "Japanese") else 10, 40, 120)
                 for script in SCRIPT_WORDS] + [(script, 10, 10, 39) for script in SCRIPT_WORDS]

    def test_python_reads_every_generated_name_exactly(self):
        for options in [[], ["--fold", "30", "--rfc2231-section", "13"], ["--rfc2231-section", "-1"]]:
            for script, count, shortest, longest in self.NAME_SETS:
                names = generated_names(12, script, count, shortest, longest)
                if options:
                    names = names[:4]  # the other option sets on a few names of each kind
                for name in names:
                    files, octets = self.pack(random.Random(name), options, [name], 1, content=name.encode())
                    self.check_both_policies(octets, files, f"{script} {options}")

    # issue 12: an unquoted "'" made the default policy return no file name at all.
    def test_python_reads_a_message_of_many_attachments(self):
        files, octets = self.pack(random.Random(5), [], many_generated_names(), len(many_generated_names()))
        self.check_both_policies(octets, files, "many attachments")

    # Raw UTF-8 parameters in the part headers make the multipart body 8bit: it must travel as 8bit, never
    # quoted-printable or Base64 as a whole, or readers find no parts.
    def test_python_reads_unicode_parameters(self):
        files, octets = self.pack(random.Random(2), ["--no-generate-rfc2231-headers", "--generate-unicode-headers"],
                                  LATIN1_NAMES, 2)
        # Raw UTF-8 header text is read as text (RFC 6532); every encoded body is ASCII.
        message = email.message_from_string(octets.decode("utf-8"), policy=email.policy.compat32)
        self.check_parsed(message, files, "compat32", "unicode headers")


def python_message(rng):
    """A message as a mail program builds it with Python's email package: text alternatives in a charset,
    attachments of text in other charsets and of binary data, RFC 2231 file names, now and then a nested
    multipart/mixed."""
    charsets = ["utf-8", "iso-8859-1", "iso-8859-15", "windows-1252", "koi8-r", "shift_jis", "us-ascii"]
    samples = {"utf-8": "Gr\u00fc\u00dfe \u2013 \u65e5\u672c\u8a9e \u2709", "iso-8859-1": "caf\u00e9 cr\u00e8me",
               "iso-8859-15": "prix en \u20ac", "windows-1252": "\u201cquoted\u201d \u2013 dash",
               "koi8-r": "\u043f\u0440\u0438\u0432\u0435\u0442", "shift_jis": "\u65e5\u672c\u8a9e\u306e\u6587",
               "us-ascii": "plain ASCII"}

    def text(charset):
        return "\n".join(f"{samples[charset]} line {i}" for i in range(rng.randrange(1, 12))) + "\n"

    def attach_some(message, names):
        for _ in range(rng.randrange(1, 4)):
            name = rng.choice(names)
            if rng.randrange(2):
                charset = rng.choice(charsets)
                message.add_attachment(text(charset), subtype="plain", charset=charset, filename=name + ".txt")
            else:
                maintype, subtype = rng.choice([("application", "octet-stream"), ("image", "png"),
                                                ("application", "pdf")])
                message.add_attachment(random_bytes(rng, rng.randrange(0, 3000)), maintype=maintype,
                                       subtype=subtype, filename=name + ".bin")

    names = ["plain", "\u00dcberweisung M\u00e4rz", "\u043e\u0442\u0447\u0451\u0442", "\u65e5\u672c\u8a9e",
             "a rather long file name that needs RFC 2231 continuations \u2013 section after section"]
    message = EmailMessage()
    message["Subject"] = "seed"
    charset = rng.choice(charsets)
    message.set_content(text(charset), charset=charset)
    if rng.randrange(2):
        message.add_alternative(f"<p>{samples['utf-8']}</p>\n", subtype="html", charset="utf-8")
    attach_some(message, names)
    if rng.randrange(2):
        inner = EmailMessage()
        inner.set_content(text("utf-8"))
        attach_some(inner, names)
        message.attach(inner)  # a multipart/mixed already: add_attachment made it one
    return message


class WeReadWhatPythonWrites(ToolTestCase):
    # label, Python's policy, True when its line ends are LF
    POLICIES = [
        ("CR LF", email.policy.SMTP, False),
        ("LF", email.policy.default, True),
        ("CR LF with 8bit bodies", email.policy.SMTP.clone(cte_type="8bit"), False),
        ("LF with 8bit bodies", email.policy.default.clone(cte_type="8bit"), True),
    ]

    def test_mimetool_unpacks_every_message_python_generates(self):
        for seed in range(12):
            built = python_message(random.Random(seed))
            for label, policy, lf in self.POLICIES:
                with self.subTest(seed=seed, policy=label):
                    self.check_unpack(built.as_bytes(policy=policy), lf, f"seed {seed}, {label}")

    def check_unpack(self, octets, lf, where):
        message_path = self.write("python.eml", octets)
        out = self.path("out-" + where.replace(" ", "_").replace(",", ""))
        result = self.assertSucceeded(mimetool("unpack", message_path, "-d", out))
        self.assertEqual(result.err, "", where)
        rows = unpack_lines(result)
        expected = leaves(parse(octets))
        self.assertEqual(len(rows), len(expected), where)
        seen = {}
        for row, part in zip(rows, expected):
            what = f"{where}, part {row['index']}"
            self.assertEqual(row["type"].split(";")[0], part.get_content_type(), what)
            self.assertEqual(row["cte"], part["Content-Transfer-Encoding"] or "-", what)
            name = part.get_filename()
            if name:
                seen[name] = seen.get(name, 0) + 1
                if seen[name] > 1:  # a second part of the same name gets "-2" before the extension
                    stem, extension = os.path.splitext(name)
                    name = f"{stem}-{seen[name]}{extension}"
                self.assertEqual(os.path.basename(row["file"]), name, what)
            payload = part.get_payload(decode=True)  # an LF file's text keeps its LF line ends
            with open(row["file"], "rb") as f:
                self.assertEqual(f.read(), payload, what)
            if part.get_content_type() == "text/plain" and part.get_content_charset():
                self.assertIn(f"charset={part.get_content_charset()}", row["type"], what)


def require(program):
    path = shutil.which(program)
    if not path:
        raise AssertionError(f"{program} is not installed: scripts/install-deps.sh installs it")
    return path


class Mpack(ToolTestCase):
    # label, mpack options (before -o), the description part's text or None
    RUNS = [
        ("one file", [], None),
        ("with a description", ["-d", "DESC"], "A description\nover two lines.\n"),
        ("labelled and attached", ["-a", "-c", "image/png"], None),
        ("empty file", [], None),
        ("non-ASCII name", [], None),
    ]

    def test_what_mpack_packs_unpacks_to_the_same_octets(self):
        require("mpack")
        rng = random.Random(31337)
        for label, options, description in self.RUNS:
            with self.subTest(label):
                name = "\u00dcberweisung.bin" if "non-ASCII" in label else f"file{rng.randrange(100)}.bin"
                content = b"" if "empty" in label else random_bytes(rng, rng.randrange(1, 30000))
                source = self.write(os.path.join("in", name), content)
                args = [a.replace("DESC", self.write("desc.txt", description or "")) for a in options]
                packed = self.path("mpack.eml")
                if os.path.exists(packed):
                    os.remove(packed)
                made = run(["mpack", "-s", "interop", *args, "-o", packed, source])
                self.assertEqual(made.code, 0, made)
                out = self.path("out", label.replace(" ", "-"))
                result = self.assertSucceeded(mimetool("unpack", packed, "-d", out))
                rows = unpack_lines(result)
                self.assertEqual(len(rows), 2 if description else 1)
                if description:
                    with open(rows[0]["file"], "rb") as f:
                        self.assertEqual(f.read(), description.encode(), "mpack writes LF line ends")
                self.assertEqual(os.path.basename(rows[-1]["file"]), name)
                with open(rows[-1]["file"], "rb") as f:
                    self.assertEqual(f.read(), content)


class Extractors(ToolTestCase):
    """munpack and ripmime on a message mimetool packed. Where either one changes a file, it is held to do
    exactly the same with the message Python's generator writes from ours (same parts, same encoded
    bodies, Python's headers and layout): the change is then the extractor's reading, not our writing."""

    def pack_files(self):
        rng = random.Random(4242)
        files = {name: random_bytes(rng, rng.randrange(1, 20000))
                 for name in ["photo.png", "data.bin", "report.pdf", "\u00dcberweisung M\u00e4rz.pdf"]}
        files["notes.txt"] = b"text with LF line ends\nsecond line\n"  # quoted-printable
        files["table.csv"] = "Stra\u00dfe;Betrag\r\nK\u00f6ln;12,40\r\n".encode()  # quoted-printable, CR LF
        paths = [self.write(os.path.join("in", name), content) for name, content in files.items()]
        ours = self.path("ours.eml")
        self.assertSucceeded(mimetool("pack", "--from", "Ann <ann@example.org>", "--to", "bob@example.org",
                                      "--subject", "Files", "-o", ours, *paths))
        with open(ours, "rb") as f:
            theirs = self.write("python.eml", parse(f.read(), email.policy.compat32).as_bytes(policy=email.policy.SMTP))
        return files, ours, theirs

    def extract(self, command, message, folder):
        os.makedirs(self.path(folder))
        result = run([arg.replace("DIR", self.path(folder)) for arg in command] + [message], cwd=self.path(folder))
        self.assertEqual(result.code, 0, result)
        return {name: self.read(folder, name) for name in os.listdir(self.path(folder))}

    def check(self, command, files, ours, theirs, name_of=lambda name: name):
        from_ours = self.extract(command, ours, "ours")
        from_python = self.extract(command, theirs, "python")
        for name, content in files.items():
            if name_of(name) is None:
                continue
            got = from_ours.get(name_of(name))
            if got != content:
                self.assertIsNotNone(got, name)
                self.assertEqual(got, from_python.get(name_of(name)), f"{name}: changed only in our message")
        return from_ours

    def pack_many(self):
        """A message of many attachments under generated names, each of random octets long enough to travel
        in Base64."""
        rng = random.Random(2026)
        files = {name: random_bytes(rng, rng.randrange(300, 3000)) for name in many_generated_names()}
        paths = [self.write(os.path.join("in", name), content) for name, content in files.items()]
        message = self.path("many.eml")
        self.assertSucceeded(mimetool("pack", "-o", message, *paths))
        # Text travels with CR LF line ends.
        return {name: crlf(content) if type_of(name).startswith("text/") else content
                for name, content in files.items()}, message

    # ripmime keeps at most 128 octets of a name: every name that fits comes out exactly, and every file whole.
    # munpack names RFC 2231 parts itself and gives text parts the system's line ends: the octets of every
    # other part come out whole.
    def test_ripmime_and_munpack_extract_many_attachments(self):
        files, message = self.pack_many()
        by_ripmime = self.extract([require("ripmime"), "-d", "DIR", "--no-paranoid", "-i"], message, "ripmime")
        by_munpack = self.extract([require("munpack"), "-f", "-q"], message, "munpack")
        for name, content in files.items():
            if len(name.encode()) <= 128:
                self.assertEqual(by_ripmime.get(name), content, name)
            self.assertTrue(content in by_ripmime.values(), f"{name}: whole from ripmime")
            if not type_of(name).startswith("text/"):
                self.assertTrue(content in by_munpack.values(), f"{name}: whole from munpack")
        self.assertGreater(sum(len(name.encode()) <= 128 for name in files), len(files) // 2)

    def test_munpack_extracts_our_files(self):
        require("munpack")
        files, ours, theirs = self.pack_files()
        # munpack predates RFC 2231: it names a part with such a name itself ("part1", ...).
        got = self.check(["munpack", "-f", "-q"], files, ours, theirs,
                         name_of=lambda name: name if name.isascii() else None)
        for name, content in files.items():
            if not name.startswith(("notes", "table")):
                self.assertIn(content, got.values(), f"{name}: a Base64 part comes out whole")

    def test_ripmime_extracts_our_files_under_their_rfc2231_names(self):
        require("ripmime")
        files, ours, theirs = self.pack_files()
        got = self.check(["ripmime", "-d", "DIR", "--no-paranoid", "-i"], files, ours, theirs)
        for name, content in files.items():
            if not name.startswith(("notes", "table")):
                self.assertEqual(got[name], content, f"{name}: a Base64 part comes out whole")


if __name__ == "__main__":
    main()
