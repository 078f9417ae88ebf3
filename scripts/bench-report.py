#!/usr/bin/env python3
"""Turns the benchmarks' JSON output (the folder given) into a Markdown report on stdout: each
figure beside its floor and the ratio between them, and the heap a QZBios holds."""

import json
import sys
from pathlib import Path

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(folder, suite):
    data = json.loads((Path(folder) / f"{suite}.json").read_text())
    runs = {}
    for run in data["benchmarks"]:
        # Medians when the run was repeated, the single run otherwise.
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        runs[run["run_name"]] = run
    return data["context"], runs


def find(runs, prefix):
    """The one run whose name begins with `prefix` (names carry settings such as iterations:N)."""
    found = [run for name, run in runs.items() if name.startswith(prefix)]
    if len(found) != 1:
        sys.exit(f"bench-report.py: {len(found)} results named {prefix}*")
    return found[0]


def ns(run):
    """CPU time of one iteration, or for the per-call benchmarks the mean time of one call."""
    if "per_call" in run:
        return run["per_call"] * 1e9
    return run["cpu_time"] * UNIT_NS[run["time_unit"]]


def fmt_time(value):
    if value >= 1e6:
        return f"{value / 1e6:.2f} ms"
    if value >= 1e3:
        return f"{value / 1e3:.1f} µs"
    return f"{value:.1f} ns"


def fmt_bytes(value):
    return f"{int(value):,} B"


def main(folder):
    context, library = load(folder, "library")
    _, sources = load(folder, "sources")
    _, memory = load(folder, "memory")
    print("# qzbios benchmark report\n")
    print(f"{context['date']}, {context['num_cpus']} CPUs at {context['mhz_per_cpu']} MHz, "
          f"load average {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}. "
          "CPU time per iteration (the median of the repetitions when repeated).\n")

    print("## Against the floor\n")
    print("| Figure | Time | Floor | Ratio |")
    print("|---|---:|---:|---:|")

    def row(label, run, floor):
        t, f = ns(run), ns(floor)
        print(f"| {label} | {fmt_time(t)} | {fmt_time(f)} | {t / f:.1f}× |")

    for n in (31, 200, 2000):
        row(f"Snapshot (constructor), {n:,} settings published", library[f"BM_Snapshot/{n}"],
            library[f"BM_SnapshotFloor/{n}"])
    for k in (1, 10, 100, 1000, 10000):
        row("GetQZBiosData, the first call" if k == 1 else
            f"GetQZBiosData, mean of the first {k:,} calls",
            find(library, f"BM_GetQZBiosData/{k}/"), find(library, f"BM_GetQZBiosDataFloor/{k}/"))
    row("Firmware-attributes reader, the library's query (the 31 of 331 settings)",
        sources["BM_FirmwareAttributes/library_query"], sources["BM_FirmwareAttributesFloor"])
    row("Firmware-attributes reader, every setting (331)",
        sources["BM_FirmwareAttributes/every_setting"], sources["BM_FirmwareAttributesFloor"])
    row("Capture file, the tree's 331 rows", sources["BM_CaptureFile"],
        sources["BM_CaptureFileFloor"])
    print("\nFloors: a snapshot is 31 look-ups in a hash map of the settings, already built, and 31 "
          "copies of the values; a call is appending a copy of a finished record to a growing "
          "list; a reader is open, read to the end and close of the files the library's query "
          "reads (every display_name, and the values of the 31) or of the capture file, and "
          "nothing else.\n")

    print("## Without a floor\n")
    print("| Figure | Time |")
    print("|---|---:|")
    for name, run in library.items():
        if name.startswith(("BM_MapOfBiosAttribute", "BM_GetSelectedOption")):
            print(f"| `{name.removeprefix('BM_')}` | {fmt_time(ns(run))} |")
    for name, label in (("BM_QZBios/capture", "QZBios over the capture (whole library)"),
                        ("BM_QZBios/firmware_attributes",
                         "QZBios over the firmware-attributes tree (whole library)")):
        print(f"| {label} | {fmt_time(ns(sources[name]))} |")

    print("\n## Heap held\n")
    print("| State | Bytes held | Blocks | Peak while constructing |")
    print("|---|---:|---:|---:|")
    for n in (31, 200, 2000):
        run = find(memory, f"BM_HeldAfterConstruction/{n}/")
        print(f"| After construction, {n:,} settings published | {fmt_bytes(run['held_bytes'])} | "
              f"{int(run['held_blocks'])} | {fmt_bytes(run['peak_bytes'])} |")
    for k in (1, 10, 100, 1000, 10000):
        run = find(memory, f"BM_HeldAfterCalls/{k}/")
        calls = "call" if k == 1 else "calls"
        print(f"| After {k:,} GetQZBiosData {calls} | {fmt_bytes(run['held_bytes'])} | | |")
    print("\nBytes as the heap sized the blocks (malloc_usable_size), counted by a replaced "
          "operator new.")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: bench-report.py RESULTS_FOLDER")
    main(sys.argv[1])
