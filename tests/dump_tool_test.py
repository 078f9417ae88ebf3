#!/usr/bin/env python3
# qzbios-dump as a user meets it: its flags, exit statuses, messages, sources, formats, and record
# and replay. Each case runs the tool and checks what it did; a failure shows what differs and keeps
# the case's files in WORK/<case>.
#
#   dump_tool_test.py --list [windows]                   the cases of the platform, a name a line
#   dump_tool_test.py TOOL DATA WORK CASE [EMULATOR...]  runs one case
import difflib, json, os, re, subprocess, sys

# A case: exit status, arguments, and what it needs and checks; "{data}", "{work}" and "{tool}" in
# arguments stand for those folders and the tool. err: a pattern standard error must match;
# out: a pattern, or out_file: the file standard output must equal; wrote: the file the tool wrote to
# {work}/out.json must equal; env: variables over a machine without sources; make: an input to write
# first; tree: a firmware-attributes tree to record and replay. Cases marked both run on Windows too.
C = "{data}/captures/"
CASES = {
    "Help": dict(both=1, status=0, args=["--help"], out=r"^usage: qzbios-dump "),
    "UnknownFlag": dict(both=1, status=2, args=["--bogus"], err="unknown argument '--bogus'"),
    "BadFormat": dict(both=1, status=2, args=["--format=xml"], err="--format must be table, json or jsonl, not 'xml'"),
    "BadLogLevel": dict(both=1, status=2, args=["--log-level", "7"], err="--log-level must be one of "),
    "NumericLogLevel": dict(both=1, status=0, args=["--log-level", "6", "--format", "jsonl"], out=r'"NetPXEBoot":"NA",'),
    "FlagWithoutValue": dict(both=1, status=2, args=["--format"], err="--format needs a value"),
    "RecordWithoutFile": dict(both=1, status=2, args=["record"], err="record needs an output file"),
    "NoSource": dict(status=0, args=[], err="no settings source found", out_file="{data}/no-source.expected.txt"),
    "MissingCapture": dict(status=2, args=["--capture", "/nonexistent.json"], err="capture file '/nonexistent.json': No such file or directory"),
    "EmptyCapture": dict(status=2, args=["--capture", "/dev/null"], err="capture file '/dev/null': the file is empty"),
    "DirectoryCapture": dict(status=2, args=["--capture", "{data}"], err="capture file '.*/data': "),
    "BinaryCapture": dict(status=2, args=["--capture", "{tool}"], err="capture file '.*qzbios-dump': not valid JSON at byte 1: "),
    "EndlessCapture": dict(status=2, args=["--capture", "/dev/zero"], err="capture file '/dev/zero': larger than the 16 MiB"),
    "HugeCapture": dict(status=2, make=5 << 30, err="capture file '.*': larger than the 16 MiB a capture may have"),
    "LargestCapture": dict(status=2, make=16 << 20, err="capture file '.*': not valid JSON at byte 1: "),
    "NestedArrays": dict(status=2, make="[" * 100000, err="capture file '.*': element 1 is not an object"),
    "NestedObjects": dict(status=2, make='{"a":' * 100000, err="capture file '.*': nested deeper than 32 levels"),
    "CaptureWinsOverTree": dict(status=0, args=["--source", "--format=jsonl", "--capture", C + "one-object.json"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes"}, err="^qzbios-dump: source: capture .*/one-object.json\n$", out='"FastBoot":"On",'),
    "TreeSource": dict(status=0, args=["--source", "--format=jsonl"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes"}, err="^qzbios-dump: source: firmware-attributes .*/firmware-attributes: aux-firmware platform-bios\n$"),
    "OlderTreeSource": dict(status=0, args=["--source", "--format=jsonl"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-pre-6.3"}, err="^qzbios-dump: source: firmware-attributes [^\n]*: legacy-bios\n$"),
    "DefaultRoot": dict(status=0, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": ""}, err="/sys/class/firmware-attributes holds no firmware-attributes device"),
    "UnwritableRecord": dict(status=2, args=["record", "/nonexistent/out.json", "--capture", C + "one-object.json"], err="cannot write '/nonexistent/out.json': No such file or directory"),
    "RecordOneSetting": dict(status=0, args=["--record={work}/out.json", "--capture", C + "one-object.json"], err="^qzbios-dump: recorded 1 setting to '.*'\n$"),
    "RecordWithoutSource": dict(status=1, args=["record", "{work}/out.json"], err=r"no settings to record: the query failed \(0x8004100E\)"),
}
for name, message in [("truncated", "not valid JSON at byte"), ("bom-only", "not valid JSON at byte 1: .*unexpected end of input"),
                      ("single-value", "expected an array of objects or one object, found a single value"), ("element-2", "element 2 is not an object"),
                      ("not-utf8", "not valid JSON at byte 12: "), ("trailing", "not valid JSON at byte 19: "),
                      ("odd-utf16", "UTF-16 text with an odd number"), ("nested-33", "nested deeper than 32 levels")]:
    CASES["Capture." + name] = dict(status=2, args=["--capture", C + name + ".json"], err=f"capture file '.*/{name}.json': {message}")
# PowerShell's output in each encoding (byte order marks, CRLF, members that cannot be read, escapes,
# 32 levels of nesting), re-recorded as the client delivered it.
for encoding in ["", "-utf16le", "-utf16be"]:
    CASES["Capture.powershell" + encoding] = dict(status=0, args=["record", "{work}/out.json", "--capture", C + f"powershell{encoding}.json"],
                                                  err="recorded 8 settings", wrote=C + "powershell.expected.json")
# Each tree is recorded as the capture beside it, its records are those beside it, and the capture
# replays to the same records. The FIFO tree is made when the case runs.
for tree in ["firmware-attributes", "firmware-attributes-pre-6.3", "firmware-attributes-odd", "firmware-attributes-fifo"]:
    CASES["RecordAndReplay." + tree] = dict(status=0, tree=tree)


def fail(what, expected, actual):
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True), "expected", "actual")
    sys.exit(f"FAIL: {what}\n" + "".join(list(diff)[:60]))


def fail_if_differs(what, expected, actual):
    if expected != actual:
        fail(f"{what} differs", expected, actual)


def run(command, env, work):
    try:
        done = subprocess.run(command, env=env, cwd=work, capture_output=True, timeout=60)
    except subprocess.TimeoutExpired:
        sys.exit(f"FAIL: {command} did not finish within 60 s")
    out, err = (s.decode("utf-8", "surrogateescape").replace("\r\n", "\n") for s in (done.stdout, done.stderr))
    with open(os.path.join(work, "stdout"), "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write(out)
    return done.returncode, out, err


def read(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return f.read()


def main(tool, data, work, name, *emulator):
    case = CASES[name]
    work = os.path.join(work, name)
    os.makedirs(work, exist_ok=True)
    fill = lambda s: s.format(data=data, work=work, tool=tool)
    env = dict(os.environ, QZ_WMI_CAPTURE="", QZ_FIRMWARE_ATTRIBUTES_DIR="/nonexistent")
    env.update({k: fill(v) for k, v in case.get("env", {}).items()})
    tool_command = list(emulator) + [tool]
    if "tree" in case:
        tree = os.path.join(data, case["tree"])
        if case["tree"].endswith("fifo"):  # git cannot hold a FIFO
            tree = os.path.join(work, "tree")
            os.makedirs(os.path.join(tree, "dev/attributes/Fifo"), exist_ok=True)
            fifo = os.path.join(tree, "dev/attributes/Fifo/current_value")
            os.path.exists(fifo) or os.mkfifo(fifo)
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = tree
        status, _, err = run(tool_command + ["record", "capture.json"], env, work)
        if status != 0:
            sys.exit(f"FAIL: record exit {status}: {err}")
        fail_if_differs("the recorded capture", read(os.path.join(data, case["tree"] + ".json")), read(os.path.join(work, "capture.json")))
        status, live, err = run(tool_command + ["--format", "json"], env, work)
        if not case["tree"].endswith("fifo"):
            fail_if_differs("the records", read(os.path.join(data, case["tree"] + ".expected.json")), live)
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = "/nonexistent"
        _, replayed, _ = run(tool_command + ["--capture", "capture.json", "--format", "json"], env, work)
        fail_if_differs("the replayed records", live, replayed)
        return
    args = [fill(a) for a in case.get("args", [])]
    if "make" in case:
        made = os.path.join(work, "input.json")
        with open(made, "wb") as f:
            f.truncate(case["make"]) if isinstance(case["make"], int) else f.write(case["make"].encode())
        args = ["--capture", made]
    status, out, err = run(tool_command + args, env, work)
    if status != case["status"]:
        sys.exit(f"FAIL: exit status {status}, expected {case['status']}; stderr:\n{err}")
    if status == 2 and not re.fullmatch(r"[^\n]+\n", err):
        sys.exit(f"FAIL: a refusal must be one line on stderr, not:\n{err}")
    if "err" in case and not re.search(fill(case["err"]), err):
        fail(f"stderr does not match /{case['err']}/", "", err)
    if "out" in case and not re.search(case["out"], out):
        fail(f"stdout does not match /{case['out']}/", "", out)
    if "out_file" in case:
        fail_if_differs("stdout", read(fill(case["out_file"])), out)
    if "wrote" in case:
        fail_if_differs("the written capture", read(fill(case["wrote"])), read(os.path.join(work, "out.json")))


if __name__ == "__main__":
    if sys.argv[1] == "--list":
        print("\n".join(n for n, c in CASES.items() if len(sys.argv) == 2 or c.get("both")))
    else:
        main(*sys.argv[1:])
