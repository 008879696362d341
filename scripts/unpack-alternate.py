#!/usr/bin/env python3
"""Alternating unpack runs of mimetool and munpack on one message, each into a fresh directory.

usage: scripts/unpack-alternate.py MESSAGE [--rounds N] [--dir DIR] [--mimetool PATH]

Nothing is removed before or between the runs (ext4 passes over inodes freed in the last half minute when it
allocates new ones, which would charge one tool for another's files); the outputs stay under DIR (default
build/whole-process/alternate-PID) for the caller to remove. Each run is timed with /usr/bin/time (wall, user,
system, peak memory) after a sync; the order of the tools rotates every round. Prints every run, then the
medians and the ratio of the median wall times.
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("message", type=Path)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--dir", type=Path, default=REPO / "build" / "whole-process" / f"alternate-{os.getpid()}")
    parser.add_argument("--mimetool", default=str(REPO / "build" / "release" / "tools" / "mimetool"))
    args = parser.parse_args()
    message = str(args.message.resolve())
    commands = {"mimetool": lambda out: [args.mimetool, "unpack", message, "-d", out],
                "munpack": lambda out: ["munpack", "-q", "-C", out, message]}
    args.dir.mkdir(parents=True)
    times = {tool: [] for tool in commands}
    report = tempfile.NamedTemporaryFile(suffix=".time")
    for round_ in range(args.rounds):
        order = list(commands)[round_ % 2:] + list(commands)[:round_ % 2]
        for tool in order:
            out = args.dir / f"{round_}-{tool}"
            out.mkdir()
            os.sync()
            start = time.perf_counter()
            subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report.name] + commands[tool](str(out)),
                           stdout=subprocess.DEVNULL, check=True)
            wall = time.perf_counter() - start
            user, system, peak = open(report.name).read().split()[-3:]
            times[tool].append((wall, float(user), float(system), int(peak) / 1024))
            print(f"round {round_ + 1}: {tool}: {wall:.3f} s (user {user} s, system {system} s), "
                  f"{int(peak) / 1024:.1f} MiB", flush=True)
    medians = {tool: [statistics.median(column) for column in zip(*runs)] for tool, runs in times.items()}
    for tool, (wall, user, system, peak) in medians.items():
        print(f"median {tool}: {wall:.3f} s (user {user:.2f} s, system {system:.2f} s), {peak:.1f} MiB")
    print(f"munpack / mimetool: {medians['munpack'][0] / medians['mimetool'][0]:.2f}")


if __name__ == "__main__":
    main()
