#!/usr/bin/env python3
# Peak resident memory and time of a host of the shared library and of qzbios-dump over the worst
# inputs: trees and captures at (and beyond) the limits the client sets, made in a temporary folder.
#
#   worst-inputs.py HOST TOOL [LD_LIBRARY_PATH]    prints a Markdown table (needs GNU time)
import os, shutil, subprocess, sys, tempfile

MiB = 1 << 20


def tree(root, attributes, size):
    """`attributes` attributes whose current_value files are hard links to one file of `size` bytes."""
    os.makedirs(os.path.join(root, "dev/attributes"))
    with open(os.path.join(root, "value"), "wb") as f:
        f.write(b"x" * size)
    for i in range(attributes):
        folder = os.path.join(root, "dev/attributes", f"a{i:06}")
        os.mkdir(folder)
        os.link(os.path.join(root, "value"), os.path.join(folder, "current_value"))
    return root


def linked_tree(root, links, entries):
    """`links` links to one device whose attributes folder holds `entries` empty files."""
    os.makedirs(os.path.join(root, "dev/attributes"))
    for i in range(entries):
        open(os.path.join(root, "dev/attributes", f"e{i:06}"), "w").close()
    for i in range(links):
        os.symlink("dev", os.path.join(root, f"link{i:04}"))
    return root


def capture(path, rows, value, encoding="utf-8"):
    body = ",".join('{"Name":"s%d","Value":"%s"}' % (i, value) for i in range(rows)) if value is not None else ",".join(["{}"] * rows)
    text = "[" + body + "]"
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le") if encoding == "utf-16" else text.encode())
    return path


def measure(command, env):
    # GNU time measures a child of its own: a child of this process would count the pages it
    # shared with this process before exec.
    done = subprocess.run(["/usr/bin/time", "-f", "%M %e %x", "-o", "/dev/stderr", "--"] + command, env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    kib, seconds, status = done.stderr.strip().splitlines()[-1].split()
    return int(kib) / 1024, float(seconds), int(status)


def main(host, tool, libraries=None):
    work = tempfile.mkdtemp(prefix="qzbios-worst-")
    try:
        inputs = [
            ("tree of 20,000 attributes, each 64 KiB (one file, hard links)", "QZ_FIRMWARE_ATTRIBUTES_DIR", tree(os.path.join(work, "t20000"), 20000, 64 * 1024)),
            ("tree at the limits: 4,096 attributes, 4 MiB", "QZ_FIRMWARE_ATTRIBUTES_DIR", tree(os.path.join(work, "t4096"), 4096, 1024)),
            ("tree of 512 links to one device of 4,095 entries", "QZ_FIRMWARE_ATTRIBUTES_DIR", linked_tree(os.path.join(work, "links"), 512, 4095)),
            ("capture of 16 MiB of `{}` rows", "QZ_WMI_CAPTURE", capture(os.path.join(work, "empty.json"), (16 * MiB - 2) // 3, None)),
            ("capture of 8 MiB of `{}` rows", "QZ_WMI_CAPTURE", capture(os.path.join(work, "empty8.json"), (8 * MiB - 2) // 3, None)),
            ("capture at the limits: 8,192 rows, 8 MiB", "QZ_WMI_CAPTURE", capture(os.path.join(work, "full.json"), 8192, "x" * 995)),
            ("UTF-16 capture at the limits: 8,192 rows of U+20AC, 8 MiB", "QZ_WMI_CAPTURE", capture(os.path.join(work, "utf16.json"), 8192, "\u20ac" * 480, "utf-16")),
        ]
        print("| Input | Host: peak RSS | Host: time | qzbios-dump: peak RSS | qzbios-dump: time |")
        print("|---|---:|---:|---:|---:|")
        for name, variable, path in inputs:
            env = {"PATH": os.environ["PATH"], variable: path}
            if libraries:
                env["LD_LIBRARY_PATH"] = libraries
            host_mib, host_s, host_rc = measure([host], env)
            tool_mib, tool_s, tool_rc = measure([tool, "--format", "json"], env)
            print(f"| {name} | {host_mib:.1f} MiB (exit {host_rc}) | {host_s:.2f} s | {tool_mib:.1f} MiB (exit {tool_rc}) | {tool_s:.2f} s |")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(*sys.argv[1:])
