#!/usr/bin/env python3
"""Runs the shared mutation sampler on a part of its sample, drawn exactly as the whole sample is drawn.

  mutants_part.py TOOL [--shard K/N] [--within 'GLOB ...'] SAMPLER-OPTIONS...

--shard K/N keeps the drawn sites K, K+N, K+2N... (K from 0), so N checkouts can share one sample;
--within keeps the drawn sites in the files the globs match (or at the lines, as `source/kx/kx_string.cpp:447`),
so a change of some tests can be checked against the faults planted in the code they cover. Everything else goes to the sampler unchanged.
"""
import argparse
import fnmatch
import importlib.util
import os
import random
import signal
import subprocess
import sys
import types


def load(path):
    found = importlib.util.spec_from_file_location("mutants_tool", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def run_in_group(command, timeout, env):
    """Runs a test or build command in a process group of its own: on a timeout the whole group ends, so no
    test process keeps running the planted fault (and eating the machine) while the next mutant runs."""
    with subprocess.Popen(command, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                          start_new_session=True) as process:
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return "timeout"


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("tool")
    parser.add_argument("--shard", default="0/1")
    parser.add_argument("--within", default="")
    parser.add_argument("--sample", type=int, default=80)
    ours, rest = parser.parse_known_args()
    index, count = (int(x) for x in ours.shard.split("/"))
    globs = ours.within.split()

    def kept(position, site):
        where = (site[0], f"{site[0]}:{site[1]}")
        in_files = not globs or any(fnmatch.fnmatch(w, g) for g in globs for w in where)
        return position % count == index and in_files

    class PartRandom(random.Random):
        def shuffle(self, pool):  # the sampler shuffles once, then takes the first --sample sites
            super().shuffle(pool)
            pool[:] = [site for position, site in enumerate(pool[: ours.sample]) if kept(position, site)]

    tool = load(ours.tool)
    tool.random = types.SimpleNamespace(Random=PartRandom)
    tool.run = lambda command, timeout: run_in_group(command, timeout, tool.CLEAN_ENV)
    sys.argv = [ours.tool, "--sample", str(ours.sample)] + rest
    return tool.main()


if __name__ == "__main__":
    sys.exit(main())
