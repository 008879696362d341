"""Shared helpers of the mimetool tests: running the tool, temporary folders, message parsing with
Python's email package. Standard library only."""

import email
import email.policy
import os
import random
import subprocess
import sys
import tempfile
import unittest

MIMETOOL = None  # set by main() from the command line


class Run:
    """One finished run of a program: exit code, standard output (bytes), standard error (text)."""

    def __init__(self, completed):
        self.code = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr.decode("utf-8", "replace")

    def lines(self):
        return self.out.decode("utf-8").splitlines()

    def __repr__(self):
        return f"exit {self.code}, stderr {self.err!r}, stdout {self.out[:300]!r}"


def run(args, stdin=None, cwd=None, timeout=120, env=None):
    completed = subprocess.run(args, input=stdin, cwd=cwd, capture_output=True, timeout=timeout, env=env)
    return Run(completed)


def mimetool(*args, stdin=None, cwd=None):
    return run([MIMETOOL, *args], stdin=stdin, cwd=cwd)


class ToolTestCase(unittest.TestCase):
    """A test case with a fresh temporary folder per test (self.tmp) and a few assertions on runs."""

    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="mimetool-test-")
        self.tmp = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def write(self, name, data):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()

    def assertSucceeded(self, result):
        self.assertEqual(result.code, 0, result)
        return result

    def assertFailedCleanly(self, result, code=1, pattern=None):
        """A refusal: the given exit code and exactly one line on standard error, naming the tool."""
        self.assertEqual(result.code, code, result)
        lines = result.err.splitlines()
        self.assertEqual(len(lines), 1, result)
        self.assertTrue(lines[0].startswith("mimetool: "), result)
        if pattern:
            self.assertRegex(lines[0], pattern)
        return lines[0]


def parse(message_bytes, policy=email.policy.default):
    return email.message_from_bytes(message_bytes, policy=policy)


def leaves(message):
    """The non-multipart parts of a parsed message, depth first, as mimetool numbers them."""
    return [part for part in message.walk() if not part.is_multipart()]


def unpack_lines(result):
    """mimetool unpack's lines as dicts: index, type, cte, size, cid, file."""
    rows = []
    for line in result.lines():
        fields = line.split("\t")
        assert len(fields) == 6, line
        rows.append(dict(zip(("index", "type", "cte", "size", "cid", "file"), fields)))
    return rows


def random_bytes(rng, size):
    return bytes(rng.getrandbits(8) for _ in range(size))


def main():
    global MIMETOOL
    if len(sys.argv) < 2:
        sys.exit(f"usage: {sys.argv[0]} PATH-TO-MIMETOOL [unittest arguments]")
    MIMETOOL = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], *sys.argv[2:]], verbosity=1)


__all__ = ["Run", "run", "mimetool", "ToolTestCase", "parse", "leaves", "unpack_lines", "random_bytes",
           "main", "random"]
