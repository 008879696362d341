#!/usr/bin/env python3
"""Turns the JSON of peer_compare_bench (run with --benchmark_repetitions=N and random interleaving) into one
table: per workload and library the median time over the rounds with min and max, the throughput at the
median, and the multiple of the memcpy of the same size in the same round (median, min and max over the
rounds). Skipped benchmarks show their reason; the peak-memory rows show multiples of the input size.

usage: compare_table.py RESULT.json [--time cpu|real] [--markdown]
"""
import argparse
import json
import statistics
import sys
from collections import defaultdict

# The order of the program's workloads and libraries; anything unknown sorts after them by name.
WORKLOADS = [
    "base64_encode", "base64_decode", "qp_encode_text", "qp_encode_binary", "qp_decode_text",
    "choose_encode_binary_1MiB", "choose_encode_binary_16MiB", "choose_encode_text_16MiB",
    "choose_decode_binary_1MiB", "choose_decode_binary_16MiB", "choose_decode_text_16MiB",
    "multipart_unpack", "multipart_pack", "content_type_decode", "content_type_encode",
    "content_type_decode_octets", "content_disposition_decode_octets", "read_attachments_20x5MiB",
    "read_small_parts_20000", "read_python_corpus", "multipart_unpack_peak",
]
LIBRARIES = ["mime", "gmime", "vmime", "mimetic"]
VARIANTS = ["", "lf", "crlf", "utf8"]
SECONDS_PER_UNIT = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
MIB = 1 << 20
COLUMNS = ["workload", "library", "median", "min", "max", "rate", "x memcpy", "x memcpy min-max", "note"]
RIGHT_ALIGNED = {"median", "min", "max", "rate", "x memcpy", "x memcpy min-max"}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("json_file")
    parser.add_argument("--time", choices=["cpu", "real"], default="cpu")
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()
    with open(args.json_file, encoding="utf-8") as source:
        report = json.load(source)
    runs = [run for run in report["benchmarks"] if run.get("run_type", "iteration") == "iteration"]
    rows = build_rows(runs, args.time + "_time")
    rounds = max((run.get("repetitions", 1) for run in runs), default=0)
    print(f"{args.time.upper()} time per operation: median of {rounds} interleaved rounds, with min and max. "
          "x memcpy: the time over a memcpy of the same size in the same round.")
    print(render(rows, args.markdown))


# --- reading the runs ---

def split_name(run_name):
    """("workload", "library") of "workload/library" or "workload/library/iterations:1"."""
    workload, _, rest = run_name.partition("/")
    return workload, rest.split("/")[0]


def seconds(run, time_key):
    return run[time_key] * SECONDS_PER_UNIT[run.get("time_unit", "ns")]


def memcpy_times(runs, time_key):
    """{octets: {repetition index: seconds}} of the memcpy baselines."""
    times = defaultdict(dict)
    for run in runs:
        workload, library = split_name(run["run_name"])
        if workload == "memcpy" and not run.get("error_occurred"):
            times[int(library)][run.get("repetition_index", 0)] = seconds(run, time_key)
    return times


def build_rows(runs, time_key):
    baselines = memcpy_times(runs, time_key)
    by_name = defaultdict(list)
    for run in runs:
        by_name[run["run_name"]].append(run)
    rows = []
    workloads_seen = set()
    for run_name, group in by_name.items():
        workload, library = split_name(run_name)
        if workload == "memcpy":
            continue
        workloads_seen.add(workload)
        if workload == "multipart_unpack_peak":
            rows.append(peak_row(workload, library, group))
        else:
            rows.append(timed_row(workload, library, group, time_key, baselines))
    for workload in workloads_seen:
        row = memcpy_row(workload, rows, baselines)
        if row:
            rows.append(row)
    rows.sort(key=sort_key)
    return rows


def sort_key(row):
    workload, library = row["workload"], row["library"]
    base, _, variant = library.partition("_")
    return (WORKLOADS.index(workload) if workload in WORKLOADS else len(WORKLOADS), workload,
            base == "memcpy", LIBRARIES.index(base) if base in LIBRARIES else len(LIBRARIES), base,
            VARIANTS.index(variant) if variant in VARIANTS else len(VARIANTS), variant)


def error_of(group):
    for run in group:
        if run.get("error_occurred"):
            return run.get("error_message", "error")
    return None


def timed_row(workload, library, group, time_key, baselines):
    row = {"workload": workload, "library": library}
    error = error_of(group)
    if error:
        row["note"] = "skipped: " + error
        return row
    times = [seconds(run, time_key) for run in group]
    octets = int(group[0].get("octets", 0))
    median = statistics.median(times)
    row.update(median=format_time(median), min=format_time(min(times)), max=format_time(max(times)),
               rate=format_rate(octets, median, "ops" in group[0]), note=group[0].get("label", ""),
               octets=octets, median_seconds=median)
    baseline = baselines.get(octets, {})
    ratios = [seconds(run, time_key) / baseline[run.get("repetition_index", 0)]
              for run in group if run.get("repetition_index", 0) in baseline]
    if ratios:
        row["x memcpy"] = format_multiple(statistics.median(ratios))
        row["x memcpy min-max"] = format_multiple(min(ratios)) + " - " + format_multiple(max(ratios))
    return row


def memcpy_row(workload, rows, baselines):
    """The memcpy of the workload's size, shown within the workload's rows for scale."""
    octets = next((row["octets"] for row in rows if row["workload"] == workload and "octets" in row), None)
    if octets is None or octets not in baselines:
        return None
    times = list(baselines[octets].values())
    median = statistics.median(times)
    return {"workload": workload, "library": "memcpy", "median": format_time(median),
            "min": format_time(min(times)), "max": format_time(max(times)),
            "rate": format_rate(octets, median, octets < MIB), "x memcpy": "1",
            "note": f"{octets} octets"}


def peak_row(workload, library, group):
    row = {"workload": workload, "library": library}
    error = error_of(group)
    if error:
        row["note"] = "skipped: " + error
        return row
    peaks = [run["peak_x"] for run in group]
    held = [run["held_x"] for run in group]
    row["note"] = (f"peak +{statistics.median(peaks):.3g} x input (min {min(peaks):.3g}, max {max(peaks):.3g}), "
                   f"+{statistics.median(held):.3g} x input still held by the result")
    return row


# --- formatting ---

def format_time(value):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if value >= scale:
            return f"{value / scale:.3g} {unit}"
    return f"{value / 1e-9:.3g} ns"


def format_rate(octets, median, operations):
    if median <= 0:
        return ""
    if operations:
        return f"{1 / median / 1e3:,.0f} k ops/s"
    return f"{octets / median / MIB:,.0f} MiB/s"


def format_multiple(value):
    return f"{value:.3g}" if value < 100 else f"{value:,.0f}"


def render(rows, markdown):
    cells = [[row.get(column, "") for column in COLUMNS] for row in rows]
    if markdown:
        lines = ["| " + " | ".join(COLUMNS) + " |",
                 "|" + "|".join("---:" if column in RIGHT_ALIGNED else "---" for column in COLUMNS) + "|"]
        lines += ["| " + " | ".join(cell.replace("|", "\\|") for cell in line) + " |" for line in cells]
        return "\n".join(lines)
    widths = [max(len(column), *(len(line[i]) for line in cells)) for i, column in enumerate(COLUMNS)]

    def line_of(values):
        return "  ".join(value.rjust(width) if column in RIGHT_ALIGNED else value.ljust(width)
                         for value, width, column in zip(values, widths, COLUMNS)).rstrip()

    lines = [line_of(COLUMNS), "  ".join("-" * width for width in widths)]
    previous = None
    for row, line in zip(rows, cells):
        if previous is not None and row["workload"] != previous:
            lines.append("")
        previous = row["workload"]
        lines.append(line_of(line))
    return "\n".join(lines)


if __name__ == "__main__":
    sys.exit(main())
