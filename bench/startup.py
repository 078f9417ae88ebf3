#!/usr/bin/env python3
# What one run of qzbios-dump costs a machine: the firmware reads it makes (current_value, type and
# possible_values files opened, counted by strace) on a tree of the 31 settings and 300 others and
# on a tree of 108 settings none of which is among the 31, and its whole-process time on the
# latter against a C++ program that prints "{}", both started through env, taken in pairs.
#
#   startup.py TOOL [PAIRS]    prints a Markdown table (needs strace and g++)
import os, shutil, statistics, subprocess, sys, tempfile, time

# The 31 settings qzbios reads, as the field reference names them.
FIELDS_MD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../docs/fields.md")
SETTINGS = [line.split(" | ")[2].strip('"') for line in open(FIELDS_MD) if line.startswith("| `")]


def tree(root, names):
    """One device whose attributes are enumerations named `names`."""
    for i, name in enumerate(names):
        folder = os.path.join(root, "dev/attributes", f"a{i:04}")
        os.makedirs(folder)
        for file, text in [("display_name", name), ("current_value", "Enable"),
                           ("type", "enumeration"), ("possible_values", "Disable;Enable")]:
            with open(os.path.join(folder, file), "w") as f:
                f.write(text + "\n")
    return root


def firmware_reads(tool, root):
    """How many times each value file was opened, by name."""
    trace = subprocess.run(["strace", "-f", "-e", "trace=openat", "-o", "/dev/stdout", tool,
                            "--format", "json"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": root},
                           capture_output=True, text=True).stdout
    return {name: sum(f'"{name}"' in line and "= -1" not in line for line in trace.splitlines())
            for name in ["current_value", "type", "possible_values"]}


def main(tool, pairs="200"):
    work = tempfile.mkdtemp(prefix="qzbios-startup-")
    try:
        wanted = tree(os.path.join(work, "wanted"),
                      SETTINGS + [f"Vendor Setting {i}" for i in range(300)])
        others = tree(os.path.join(work, "others"), [f"Vendor Setting {i}" for i in range(108)])
        empty = os.path.join(work, "empty.cpp")
        with open(empty, "w") as f:
            f.write('#include <cstdio>\nint main() { std::puts("{}"); }\n')
        subprocess.run(["g++", "-O2", "-o", empty[:-4], empty], check=True)
        print("| Tree | current_value | type | possible_values |")
        print("|---|---:|---:|---:|")
        for name, root in [(f"{len(SETTINGS)} of the 31 and 300 others", wanted),
                           ("108 settings, none of the 31", others)]:
            reads = firmware_reads(tool, root)
            print(f"| {name} | {reads['current_value']} | {reads['type']} | "
                  f"{reads['possible_values']} |")
        times = {"qzbios-dump": [], "{}": []}
        env = {"QZ_FIRMWARE_ATTRIBUTES_DIR": others, "PATH": os.environ["PATH"]}
        for _ in range(int(pairs)):
            for name, command in [("qzbios-dump", [tool, "--format", "json"]),
                                  ("{}", [empty[:-4]])]:
                start = time.perf_counter()
                subprocess.run(["env"] + command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                times[name].append(time.perf_counter() - start)
        tool_ms, empty_ms = (statistics.median(times[n]) * 1000 for n in ["qzbios-dump", "{}"])
        print(f"\nOn the 108-setting tree, median of {pairs} pairs: qzbios-dump {tool_ms:.2f} ms, "
              f"a program printing {{}} {empty_ms:.2f} ms: {tool_ms / empty_ms:.2f}x")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(*sys.argv[1:])
