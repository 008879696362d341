#!/usr/bin/env python3
"""Whole-process speed and memory of mimetool against munpack/mpack and ripmime, each run a fresh process.

usage: scripts/tool-whole-process.py [--dir DIR] [--rounds N] [--huge] [--only unpack|pack] [--mimetool PATH]

Inputs are generated once under DIR (default build/whole-process; never in git) from fixed seeds, and reused
while their parameters stay the same:
  attachments-143M.eml   six Base64 attachments of random octets, about 143 MB
  attachments-1.4G.eml   the same ten times larger, about 1.4 GB (only with --huge: 1 GB of raw files too)
  parts-20000.eml        20,000 small Base64 parts (64 to 2,048 random octets each)
  pack-one/              one file of random octets (104.5 MB; 1.045 GB with --huge)
  pack-many/             the 20,000 small files of parts-20000.eml
unpack: `mimetool unpack`, `munpack` and `ripmime` on each message. pack: `mimetool pack` of one huge file and
of the first 1,000 small files against `mpack`, which takes one file per message, so it runs once per small
file there (its figure is the sum of those runs, its memory their largest).

Each run is timed (wall clock, and the user and system CPU time of the child) and measured (peak resident set
size), from /usr/bin/time's report on that child, after the input was read once to warm the page cache. Every
tool starts on an equal footing: each run writes into a fresh, empty directory made by this script right before
it, on the same file system (under DIR), and the file system is synced before the clock starts, so that no tool
pays for writing back another's files and none writes into a directory that once held 20,000 entries. A run's
output of many files is kept until the end of the script, not removed before the next run: ext4's inode
allocator passes over inodes freed in the last 30 s (minutes, while their inode table block is not yet written
back), so the run after a removal of 20,000 files would pay a large kernel cost for it (perf shows it in
recently_deleted); an output of a few files is removed at once. The order of the tools rotates from round to
round. The table gives
the median of the rounds (wall, user, system, peak memory as a multiple of the input) and wall time as a
multiple of munpack's (unpack) or mpack's (pack). No tool wins by failing: every run must exit 0 and write
every expected file with its size; in the first round every file's SHA-256 is checked too (packed messages are
checked by unpacking them with munpack). Peak memory counts the pages of a mapped input file the tool touched,
as the kernel does. Needs
python3, /usr/bin/time, mpack and ripmime (scripts/install-deps.sh installs them).
"""
import argparse
import base64
import hashlib
import itertools
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path
from typing import NamedTuple

REPO = Path(__file__).resolve().parent.parent
BOUNDARY = "----=_whole_process_0123456789"
ATTACHMENT_SIZES = [37_000_000, 27_000_000, 19_000_000, 12_500_000, 6_500_000, 2_500_000]  # 104.5 MB raw
SMALL_PARTS = 20_000
PACKED_SMALL_FILES = 1_000  # mpack takes one file per run, about 11 ms each
BLOCK = 57 * 16384  # whole Base64 lines of 76 characters per block
GENERATOR_VERSION = 1  # change when the inputs change, so that old ones are made again


# --- inputs ---

def random_blocks(seed, size):
    rng = random.Random(seed)
    left = size
    while left:
        n = min(BLOCK, left)
        yield rng.randbytes(n)
        left -= n


def write_message(path, parts, subject):
    """parts: (file name, seed, size); writes the message, returns {name: (size, sha256)}."""
    manifest = {}
    with open(path, "wb") as out:
        out.write((f"From: bench@example.org\r\nTo: bench@example.org\r\nSubject: {subject}\r\n"
                   f"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"{BOUNDARY}\"\r\n\r\n"
                   "This is a multi-part message in MIME format.\r\n").encode())
        for name, seed, size in parts:
            out.write((f"--{BOUNDARY}\r\nContent-Type: application/octet-stream; name=\"{name}\"\r\n"
                       f"Content-Transfer-Encoding: base64\r\n"
                       f"Content-Disposition: attachment; filename=\"{name}\"\r\n\r\n").encode())
            digest = hashlib.sha256()
            for block in random_blocks(seed, size):
                digest.update(block)
                out.write(base64.encodebytes(block).replace(b"\n", b"\r\n"))
            manifest[name] = (size, digest.hexdigest())
        out.write(f"--{BOUNDARY}--\r\n".encode())
    return manifest


def write_file(path, seed, size):
    digest = hashlib.sha256()
    with open(path, "wb") as out:
        for block in random_blocks(seed, size):
            digest.update(block)
            out.write(block)
    return size, digest.hexdigest()


def small_parts():
    rng = random.Random(20000)
    return [(f"p{i:05d}.bin", 100_000 + i, rng.randint(64, 2048)) for i in range(SMALL_PARTS)]


def make_inputs(directory, huge):
    """Generates what is missing; returns the cases: (kind, name, input path, input octets, expected files)."""
    directory.mkdir(parents=True, exist_ok=True)
    manifest_path = directory / "manifest.json"
    manifest = json.loads(manifest_path.read_text()) if manifest_path.exists() else {}
    if manifest.get("version") != GENERATOR_VERSION:
        manifest = {"version": GENERATOR_VERSION}

    def once(key, make):
        if key not in manifest:
            print(f"generating {key} ...", file=sys.stderr, flush=True)
            manifest[key] = make()
            manifest_path.write_text(json.dumps(manifest))
        return manifest[key]

    scales = [("143M", 1)] + ([("1.4G", 10)] if huge else [])
    cases = []
    for label, scale in scales:
        parts = [(f"attachment{i + 1}.bin", 1000 * scale + i, size * scale)
                 for i, size in enumerate(ATTACHMENT_SIZES)]
        message = directory / f"attachments-{label}.eml"
        files = once(message.name, lambda: write_message(message, parts, f"{label} of attachments"))
        cases.append(("unpack", message.name, message, message.stat().st_size, files))
    message = directory / f"parts-{SMALL_PARTS}.eml"
    small = once(message.name, lambda: write_message(message, small_parts(), f"{SMALL_PARTS} parts"))
    cases.append(("unpack", message.name, message, message.stat().st_size, small))

    for label, scale in scales:
        one = directory / "pack-one" / f"one-{label}.bin"
        one.parent.mkdir(exist_ok=True)
        size = sum(ATTACHMENT_SIZES) * scale
        files = once(f"pack-one/{one.name}", lambda: {one.name: write_file(one, 7 * scale, size)})
        cases.append(("pack", f"one file of {size / 1e6:.1f} MB", [one], size, files))
    many = directory / "pack-many"
    many.mkdir(exist_ok=True)

    def write_many():
        return {name: write_file(many / name, seed, size) for name, seed, size in small_parts()}

    files = once("pack-many", write_many)
    files = {name: files[name] for name in sorted(files)[:PACKED_SMALL_FILES]}
    cases.append(("pack", f"{PACKED_SMALL_FILES} small files", [many / name for name in files],
                  sum(size for size, _ in files.values()), files))
    return cases


# --- runs ---

class Sample(NamedTuple):
    wall: float  # seconds
    user: float  # CPU seconds
    system: float  # CPU seconds
    peak: int  # KiB


def run_measured(command, cwd, work):
    """Runs one fresh process; returns a Sample. Fails unless it exits 0.

    The figures come from /usr/bin/time, not from this script's own rusage of its children: Linux carries the
    peak of the process that execs into the program's figure, and that would be this Python process's.
    /usr/bin/time forks the program from a process of about 2 MiB, which is the floor of every figure."""
    report = work / "time.out"
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", str(report)] + command, cwd=cwd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{command[0]} failed ({done.returncode}): {done.stderr.decode(errors='replace')[:500]}")
    user, system, peak = report.read_text().split()[-3:]
    return Sample(wall, float(user), float(system), int(peak))


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 22):
            digest.update(block)
    return digest.hexdigest()


def check_files(directory, expected, with_hashes, who):
    """Every expected file under directory (searched by name, any depth) with its size (and hash)."""
    found = {}
    for root, _, names in os.walk(directory):
        for name in names:
            found.setdefault(name, Path(root) / name)
    for name, (size, digest) in expected.items():
        path = found.get(name)
        if path is None:
            sys.exit(f"{who}: {name} was not written")
        if path.stat().st_size != size:
            sys.exit(f"{who}: {name} has {path.stat().st_size} octets, not {size}")
        if with_hashes and sha256_of(path) != digest:
            sys.exit(f"{who}: {name} does not hold the octets it should")


def warm(paths):
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 24):
                pass


def unpack_tools(mimetool):
    return {
        "mimetool unpack": lambda message, out: ([mimetool, "unpack", str(message), "-d", str(out)], None),
        "munpack": lambda message, out: (["munpack", "-q", "-C", str(out), str(message)], None),
        "ripmime": lambda message, out: (["ripmime", "-i", str(message), "-d", str(out)], None),
    }


def pack_runs(tool, mimetool, files, out):
    """The commands (with their working directory) that pack the files into messages under out."""
    if tool == "mimetool pack":
        return [([mimetool, "pack", "-o", str(out / "packed.eml")] + [f.name for f in files], files[0].parent)]
    return [(["mpack", "-s", "whole-process", "-o", str(out / f"packed{i}.eml"), f.name], f.parent)
            for i, f in enumerate(files)]


def check_packed(out, expected, who):
    """Unpacks every message pack wrote with munpack and checks the files it gives."""
    unpacked = out / "unpacked"
    unpacked.mkdir()
    for message in sorted(out.glob("packed*.eml")):
        subprocess.run(["munpack", "-q", "-C", str(unpacked), str(message)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check_files(unpacked, expected, True, who + " (its message unpacked by munpack)")


FEW_FILES = 100  # an output of fewer files is removed right after its run (see the module's text)


def fresh_directory(work, number):
    """Syncs what the runs before wrote to disk and makes a new empty directory."""
    os.sync()
    out = work / f"out-{os.getpid()}-{number}"  # never one an interrupted run left behind
    out.mkdir(parents=True)
    return out


def put_away(out, kept):
    """Removes a run's output of a few files at once; keeps one of many (in kept) until the end."""
    if sum(len(files) for _, _, files in os.walk(out)) < FEW_FILES:
        shutil.rmtree(out, ignore_errors=True)
    else:
        kept.append(out)


def measure(cases, rounds, mimetool, work, only):
    results = {}  # (kind, case name, tool) -> [Sample]
    kept = []
    run_numbers = itertools.count(1)
    for round_index in range(rounds):
        for kind, name, inputs, _, expected in cases:
            if only and kind != only:
                continue
            paths = [inputs] if kind == "unpack" else inputs
            warm(paths)
            tools = list(unpack_tools(mimetool)) if kind == "unpack" else ["mimetool pack", "mpack"]
            shift = round_index % len(tools)
            for tool in tools[shift:] + tools[:shift]:
                out = fresh_directory(work, next(run_numbers))
                if kind == "unpack":
                    runs = [unpack_tools(mimetool)[tool](inputs, out)]
                else:
                    runs = pack_runs(tool, mimetool, inputs, out)
                samples = [run_measured(command, cwd, work) for command, cwd in runs]
                sample = Sample(*(sum(column) for column in list(zip(*samples))[:3]),
                                max(s.peak for s in samples))
                results.setdefault((kind, name, tool), []).append(sample)
                if kind == "unpack":
                    check_files(out, expected, round_index == 0, f"{tool} on {name}")
                elif round_index == 0:
                    check_packed(out, expected, f"{tool} of {name}")
                put_away(out, kept)
                print(f"round {round_index + 1}: {kind} {name}: {tool}: {sample.wall:.3f} s "
                      f"(user {sample.user:.2f} s, system {sample.system:.2f} s), {sample.peak / 1024:.1f} MiB",
                      file=sys.stderr, flush=True)
    for out in kept:
        shutil.rmtree(out, ignore_errors=True)
    os.sync()
    return results


def report(cases, results):
    print("| Input | Tool | Wall (median) | x the reference | User | System | Peak RSS | x the input |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    for kind, name, _, octets, _ in cases:
        reference = "munpack" if kind == "unpack" else "mpack"
        if (kind, name, reference) not in results:
            continue
        base = statistics.median(s.wall for s in results[(kind, name, reference)])
        for (k, n, tool), samples in results.items():
            if (k, n) != (kind, name):
                continue
            wall, user, system, peak = (statistics.median(column) for column in zip(*samples))
            rss = peak * 1024
            label = f"{kind} {name}" + (f" ({octets / 1e6:.1f} MB)" if kind == "unpack" else "")
            print(f"| {label} | {tool} | {wall:.3f} s | {wall / base:.3g} | {user:.2f} s | {system:.2f} s | "
                  f"{rss / 2**20:.1f} MiB | {rss / octets:.3f} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dir", type=Path, default=REPO / "build" / "whole-process",
                        help="where the inputs are kept and the tools write (default build/whole-process)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds per tool and input (default 3)")
    parser.add_argument("--huge", action="store_true", help="also the 1.4 GB message and the 1 GB file")
    parser.add_argument("--only", choices=["unpack", "pack"], help="only one of the two commands")
    parser.add_argument("--mimetool", default=str(REPO / "build" / "release" / "tools" / "mimetool"),
                        help="the mimetool to measure (default the release build's)")
    args = parser.parse_args()
    for tool in ("munpack", "mpack", "ripmime", "/usr/bin/time", args.mimetool):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing (scripts/install-deps.sh installs the peers; build mimetool first)")
    directory = args.dir.resolve()
    cases = make_inputs(directory / "inputs", args.huge)
    report(cases, measure(cases, args.rounds, os.path.abspath(args.mimetool), directory, args.only))


if __name__ == "__main__":
    main()
