#!/usr/bin/env python3
"""Peak memory of the message reader on hostile messages, each read in a process of its own by the test tool
message_dump --sizes (which reads the file into memory, reads it as a message and decodes every leaf body):

    scripts/reader-hostile-memory.py build/release/tests/message_dump

For each input it prints its size, the peak resident set of the process less that of an empty message, and
that excess over the input size. The tool holds the input twice (the file read and the buffer given to the
reader), so an excess of 2x is the reader taking nothing beyond it; what the reader takes should stay near
the input and never pass 8x."""

import os
import subprocess
import sys
import tempfile


def multipart(parts):
    return b"Content-Type: multipart/mixed; boundary=B\r\n\r\n" + b"".join(b"--B\r\n" + p + b"\r\n" for p in parts) + (
        b"--B--\r\n")


INPUTS = [
    ("Content-Type of 1,000,000 parameters",
     lambda: b"Content-Type: text/plain" + b"".join(b"; p%d=v" % i for i in range(1000000)) + b"\r\n\r\nbody"),
    ("Content-Disposition of 1,000,000 parameters",
     lambda: b"Content-Disposition: attachment" + b"".join(b"; p%d=v" % i for i in range(1000000)) + b"\r\n\r\nb"),
    ("the same behind a quoted string left open",
     lambda: b"Content-Disposition: attachment; filename=\"" + b"".join(b"; p%d=v" % i for i in range(1000000)) +
     b"\r\n\r\nb"),
    ("a 100 MB header line in a part", lambda: multipart([b"Subject: " + b"x" * 100000000 + b"\r\n\r\nbody"])),
    ("1,000,000 header lines in a part",
     lambda: multipart([b"".join(b"X-F%d: v\r\n" % i for i in range(1000000)) + b"\r\nbody"])),
    ("1,000,000 empty parts", lambda: multipart([b""] * 1000000)),
    ("100,000 nested multiparts",
     lambda: b"".join(b"Content-Type: multipart/mixed; boundary=b%d\r\n\r\n--b%d\r\n" % (i, i) for i in range(100000))),
    ("LF-only delimiters and no close delimiter, 10 MB",
     lambda: b"Content-Type: multipart/mixed; boundary=B\r\n\r\n" + b"--B\nx\r--B\r\n--Bz\n" * 700000),
]


def peak_kib(tool, path):
    """Through /usr/bin/time: a process forked from this one would count this one's memory as its own."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M", tool, "--sizes", path], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, check=True)
    return int(result.stderr.split()[-1])


def main():
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "message")
        with open(path, "wb") as f:
            f.write(b"\r\n")
        base = peak_kib(tool, path)
        for label, make in INPUTS:
            data = make()
            with open(path, "wb") as f:
                f.write(data)
            size = len(data)
            del data
            excess = peak_kib(tool, path) - base
            print("%-50s %8.1f MB  peak +%7.1f MB  %5.1fx" % (label, size / 1e6, excess * 1024 / 1e6,
                                                               excess * 1024 / size))


if __name__ == "__main__":
    main()
