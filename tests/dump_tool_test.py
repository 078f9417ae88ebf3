#!/usr/bin/env python3
# qzbios-dump as a user meets it: its flags, exit statuses, messages, sources, formats, and record
# and replay. Each case runs the tool and checks what it did; a failure shows what differs and keeps
# the case's files in WORK/<case>. A case that needs root to drop privileges is skipped (77) without.
#
#   dump_tool_test.py --list [windows]                   the cases of the platform, a name a line
#   dump_tool_test.py TOOL DATA WORK CASE [EMULATOR...]  runs one case
import atexit, difflib, os, re, shutil, subprocess, sys, tempfile, threading

# A case: exit status, arguments, and what it needs and checks; "{data}", "{work}" and "{tool}" in
# arguments stand for those folders and the tool. err: a pattern standard error must match;
# out: a pattern, or out_file: the file standard output must equal; wrote: the file the tool wrote to
# {work}/out.json must equal; env: variables over a machine without sources; make: an input to write
# first; stdin: a file to pipe in; fifo: a file to write into the FIFO {work}/fifo.json; stdout:
# "/dev/full" or "closed"; unprivileged: a tree to copy with current values for root only and read
# as user nobody; tree: a firmware-attributes tree to record and replay. Cases marked both run on
# Windows too.
C = "{data}/captures/"
TREE = {"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes"}
ONE = ["--capture", C + "one-object.json"]
HIDDEN = "9 published settings' current values could not be read: Permission denied \\(the kernel shows current values to root only: run qzbios-dump as root\\)\n"
CASES = {
    "Help": dict(both=1, status=0, args=["--help"], out=r"(?s)^usage: qzbios-dump .*QZ_WMI_CAPTURE .*QZ_FIRMWARE_ATTRIBUTES_DIR .*Exit status:\n  0 .*\n  3  written, but incomplete"),
    "HelpWinsAnywhere": dict(both=1, status=0, args=["--bogus", "--format", "--help"], out=r"^usage: qzbios-dump "),
    "UnknownFlag": dict(both=1, status=2, args=["--bogus"], err="unknown argument '--bogus'"),
    "BadFormat": dict(both=1, status=2, args=["--format=xml"], err="--format must be table, json, jsonl or prometheus, not 'xml'"),
    "BadLogLevel": dict(both=1, status=2, args=["--log-level", "7"], err="--log-level must be one of "),
    "NumericLogLevel": dict(both=1, status=0, args=["--log-level", "6", "--format", "jsonl"], out=r'"NetPXEBoot":"NA",'),
    "FlagWithoutValue": dict(both=1, status=2, args=["--format"], err="--format needs a value"),
    "EmptyValue": dict(both=1, status=2, args=["--format="], err="--format needs a value"),
    "FlagTwice": dict(both=1, status=2, args=["--format", "json", "--format=table"], err="--format is given twice"),
    "RecordTwice": dict(both=1, status=2, args=["record", "a.json", "--record", "b.json"], err="--record is given twice"),
    "RecordWithoutFile": dict(both=1, status=2, args=["record"], err="record needs an output file"),
    "RecordEmptyFile": dict(both=1, status=2, args=["record", ""], err="record needs an output file"),
    "OutputToFullDisk": dict(both=1, status=1, args=["--format", "json"], stdout="/dev/full", err="cannot write the output: No space left on device"),
    "OutputClosed": dict(status=1, args=[], stdout="closed", err="cannot write the output: Bad file descriptor"),
    "NoSource": dict(status=0, args=[], err="no settings source found", out_file="{data}/no-source.expected.txt"),
    "CaptureEmptyName": dict(status=2, args=["--capture", ""], err="--capture needs a value"),
    "MissingCapture": dict(status=2, args=["--capture", "/nonexistent.json"], err="capture file '/nonexistent.json': No such file or directory"),
    "EmptyCapture": dict(status=2, args=["--capture", "/dev/null"], err="capture file '/dev/null': the file is empty"),
    "DirectoryCapture": dict(status=2, args=["--capture", "{data}"], err="capture file '.*/data': "),
    "BinaryCapture": dict(status=2, args=["--capture", "{tool}"], err="capture file '.*qzbios-dump': not valid JSON at byte 1: "),
    "EndlessCapture": dict(status=2, args=["--capture", "/dev/zero"], err="capture file '/dev/zero': larger than the 8 MiB"),
    "HugeCapture": dict(status=2, make=5 << 30, err="capture file '.*': larger than the 8 MiB a capture may have"),
    "LargestCapture": dict(status=2, make=8 << 20, err="capture file '.*': not valid JSON at byte 1: "),
    "NestedArrays": dict(status=2, make="[" * 100000, err="capture file '.*': element 1 is not an object"),
    "NestedObjects": dict(status=2, make='{"a":' * 100000, err="capture file '.*': nested deeper than 32 levels"),
    "CaptureFromStandardInput": dict(status=0, args=["--capture", "-", "--format=jsonl", "--source"], stdin=C + "one-object.json", err="^qzbios-dump: source: capture standard input\n$", out='"FastBoot":"On",'),
    "CaptureFromDevStdin": dict(status=0, args=["--capture", "/dev/stdin", "--format=jsonl"], stdin=C + "one-object.json", err="^$", out='"FastBoot":"On",'),
    "CaptureFromFifo": dict(status=0, args=["--format=jsonl"], env={"QZ_WMI_CAPTURE": "{work}/fifo.json"}, fifo=C + "one-object.json", err="^$", out='"FastBoot":"On",'),
    "TerminalSafeTable": dict(status=0, args=["--capture", C + "terminal.json"], out_file=C + "terminal.expected.txt"),
    "Prometheus": dict(status=0, args=["--format", "prometheus", "--capture", C + "terminal.json"], out_file=C + "terminal.expected.prom", promtool=1),
    "PrometheusOfBytes": dict(status=3, args=["--format", "prometheus"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-odd"}, out_file="{data}/firmware-attributes-odd.expected.prom"),
    "PrometheusOnEveryInput": dict(status=0, every=1),
    "OutputReplaced": dict(both=1, status=0, args=["--format=prometheus", "--output", "{work}/qzbios.prom"], before="old\n", after=r'qzbios_source_info\{source="(none|wmi)"\} 1\n', promtool=1),
    "OutputKeptOnFailure": dict(status=1, args=["--format=prometheus", "--output", "{work}/qzbios.prom", "--capture", C + "video-three-bytes.json"], before="old\n", err="reading the BIOS settings failed: "),
    "OutputUnwritable": dict(both=1, status=1, args=["--output", "{work}/missing/qzbios.prom"], err="cannot write '.*qzbios.prom': "),
    "OutputWithRecord": dict(both=1, status=2, args=["record", "a.json", "--output", "b.json"], err="record writes to its own FILE: --output is for the formats"),
    "TerminalSafeTableOfBytes": dict(status=3, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-odd"}, out_file="{data}/firmware-attributes-odd.expected.txt"),
    "CaptureWinsOverTree": dict(status=0, args=["--source", "--format=jsonl"] + ONE, env=TREE, err="^qzbios-dump: source: capture .*/one-object.json\n$", out='"FastBoot":"On",'),
    "TreeSource": dict(status=0, args=["--source", "--format=jsonl"], env=TREE, err="^qzbios-dump: source: firmware-attributes .*/firmware-attributes: aux-firmware platform-bios\n$"),
    "OlderTreeSource": dict(status=0, args=["--source", "--format=jsonl"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-pre-6.3"}, err="^qzbios-dump: source: firmware-attributes [^\n]*: legacy-bios\n$"),
    "DeviceNamedForRoot": dict(status=2, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes/platform-bios/"}, err="names the firmware-attributes device '.*/platform-bios/'; name the folder that holds its devices instead, '.*/data/firmware-attributes'"),
    "DefaultRoot": dict(status=0, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": ""}, err="/sys/class/firmware-attributes holds no firmware-attributes device"),
    "HiddenValues": dict(status=3, args=["--format=jsonl"], unprivileged="{data}/firmware-attributes", err="^qzbios-dump: " + HIDDEN + "$", out='"FastBoot":"","USBSBoot":"","NetPXEBoot":"NA",'),
    "HiddenValuesRecorded": dict(status=3, args=["record", "-"], unprivileged="{data}/firmware-attributes", err="^qzbios-dump: recorded 11 settings to standard output\nqzbios-dump: " + HIDDEN + "$", out='"Name": "Fast Boot",\n        "Value": null'),
    "UnwritableRecord": dict(status=1, args=["record", "/nonexistent/out.json"] + ONE, err="cannot write '/nonexistent/out.json': No such file or directory"),
    "RecordOneSetting": dict(status=0, args=["--source", "record", "{work}/out.json"] + ONE, err="\nqzbios-dump: recorded 1 setting to '.*'\n$"),
    "RecordWithoutSource": dict(status=1, args=["record", "{work}/out.json"], err=r"no settings to record: the query failed \(0x8004100E\)"),
}
for name, message in [("truncated", "not valid JSON at byte"), ("bom-only", "not valid JSON at byte 1: .*unexpected end of input"),
                      ("single-value", "expected an array of objects or one object, found a single value"), ("element-2", "element 2 is not an object"),
                      ("not-utf8", "not valid JSON at byte 12: "), ("trailing", "not valid JSON at byte 19: "),
                      ("odd-utf16", "UTF-16 text with an odd number"), ("nested-33", "nested deeper than 32 levels")]:
    CASES["Capture." + name] = dict(status=2, args=["--capture", C + name + ".json"], err=f"capture file '.*/{name}.json': {message}")
# Captures with nothing the library can use: a warning naming the file, and the records as they are.
for name, path in [("records", "{data}/firmware-attributes.expected.json"), ("lower-case", C + "lower-case.json"), ("empty-object", "{data}/captures/empty-object.json")]:
    CASES["Unusable." + name] = dict(status=3, args=["--format=jsonl", "--capture", path], err='capture file .*: no row has a "Name" that is a string \\(1 read;', out='"NetPXEBoot":"NA",')
# PowerShell's output in each encoding (byte order marks, CRLF, members that cannot be read, escapes,
# 32 levels of nesting), re-recorded as the client delivered it.
CASES["Capture.powershell"] = dict(status=0, args=["record", "-", "--capture", C + "powershell.json"], err="recorded 8 settings to standard output", out_file=C + "powershell.expected.json")
for encoding in ["-utf16le", "-utf16be"]:
    CASES["Capture.powershell" + encoding] = dict(status=0, args=["record", "{work}/out.json", "--capture", C + f"powershell{encoding}.json"],
                                                  err="recorded 8 settings", wrote=C + "powershell.expected.json")
# Each tree is recorded as the capture beside it, its records are those beside it, and the capture
# replays to the same records. The FIFO tree is made when the case runs. Values that cannot be read
# are said, and make the run incomplete.
CASES["RecordAndReplay.firmware-attributes"] = dict(status=0, tree="firmware-attributes", err="^qzbios-dump: recorded 11 settings to 'capture.json'\n$")
CASES["RecordAndReplay.firmware-attributes-pre-6.3"] = dict(status=0, tree="firmware-attributes-pre-6.3", err="^qzbios-dump: recorded 12 settings to 'capture.json'\n$")
CASES["RecordAndReplay.firmware-attributes-odd"] = dict(status=3, tree="firmware-attributes-odd", err=": 1 published setting's current value could not be read: Is a directory\n.*: 1 published setting's current value could not be read: Too many levels of symbolic links\n$")
# A tree a user built against a privileged reader, made when the case runs: a FIFO and links to a FIFO
# (each with a writer waiting, which an open would let through), to a root-only file and to a folder
# of its own. Nothing is opened, and nothing of theirs is read.
CASES["RecordAndReplay.firmware-attributes-hostile"] = dict(status=3, tree="firmware-attributes-hostile", err=": 1 published setting's current value could not be read: Invalid argument\n.*: 2 published settings' current values could not be read: Too many levels of symbolic links\n$")
# A setuid copy run by user nobody reads neither variable, and says nothing of them; a copy without
# the bit, run the same way, reads both.
CASES["Privileged"] = dict(status=0, privileged=1)


def fail(what, expected, actual):
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True), "expected", "actual")
    sys.exit(f"FAIL: {what}\n" + "".join(list(diff)[:60]))


def fail_if_differs(what, expected, actual):
    if expected != actual:
        fail(f"{what} differs", expected, actual)


def run(command, env, work, stdin=None, stdout=None):
    out_target = subprocess.PIPE if stdout is None else subprocess.DEVNULL if stdout == "closed" else open(stdout, "wb")
    try:
        done = subprocess.run(command, env=env, cwd=work, input=stdin, stdout=out_target, stderr=subprocess.PIPE, timeout=60,
                              preexec_fn=(lambda: os.close(1)) if stdout == "closed" else None)
    except subprocess.TimeoutExpired:
        sys.exit(f"FAIL: {command} did not finish within 60 s")
    out, err = (s.decode("utf-8", "surrogateescape").replace("\r\n", "\n") for s in (done.stdout or b"", done.stderr))
    with open(os.path.join(work, "stdout"), "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write(out)
    return done.returncode, out, err


def promtool(text, what):
    if shutil.which("promtool") is None:
        sys.exit(77)
    done = subprocess.run(["promtool", "check", "metrics"], input=text.encode(), capture_output=True)
    if done.returncode != 0 or done.stdout or done.stderr:
        sys.exit(f"FAIL: promtool check metrics on {what}:\n{(done.stdout + done.stderr).decode()}")


def read(path):
    with open(path, encoding="utf-8", errors="surrogateescape", newline="") as f:
        return f.read()


def hostile_tree(work):
    tree = os.path.join(work, "tree")
    for made in ["tree", "folder", "outside-fifo", "secret"]:
        shutil.rmtree(os.path.join(work, made), ignore_errors=True) if made in ["tree", "folder"] else os.path.exists(os.path.join(work, made)) and os.remove(os.path.join(work, made))
    attributes = os.path.join(tree, "dev/attributes")
    for name in ["Fifo", "LinkToFifo", "LinkToSecret", "folder"]:
        os.makedirs(os.path.join(attributes, name))
    os.mkfifo(os.path.join(attributes, "Fifo/current_value"))
    os.mkfifo(os.path.join(work, "outside-fifo"))
    os.symlink(os.path.join(work, "outside-fifo"), os.path.join(attributes, "LinkToFifo/current_value"))
    with open(os.path.join(work, "secret"), "w") as f:
        f.write("SECRET\n")
    os.chmod(os.path.join(work, "secret"), 0o600)
    os.symlink(os.path.join(work, "secret"), os.path.join(attributes, "LinkToSecret/current_value"))
    shutil.move(os.path.join(attributes, "folder"), os.path.join(work, "folder"))
    shutil.copy(os.path.join(work, "secret"), os.path.join(work, "folder/current_value"))
    os.symlink(os.path.join(work, "folder"), os.path.join(attributes, "LinkedFolder"))
    writers = []
    for fifo in [os.path.join(attributes, "Fifo/current_value"), os.path.join(work, "outside-fifo")]:
        writers.append(threading.Thread(target=lambda f=fifo: open(f, "wb"), name=fifo, daemon=True))
        writers[-1].start()
    return tree, writers


def privileged(tool, data, work, env):
    if os.geteuid() != 0:
        sys.exit(77)
    private = tempfile.mkdtemp(prefix="qzbios-setuid-")
    atexit.register(shutil.rmtree, private, ignore_errors=True)
    os.chmod(private, 0o755)
    tree, _ = hostile_tree(private)
    link = os.path.join(tree, "dev/attributes/Setup/current_value")
    os.makedirs(os.path.dirname(link))
    os.symlink(os.path.join(private, "secret"), link)
    env = dict(env, QZ_WMI_CAPTURE=os.path.join(data, "captures/one-object.json"), QZ_FIRMWARE_ATTRIBUTES_DIR=tree)
    drop = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
    for setuid in [True, False]:
        copy = os.path.join(private, "qzbios-dump-setuid" if setuid else "qzbios-dump")
        shutil.copy(tool, copy)
        os.chmod(copy, 0o4755 if setuid else 0o755)
        status, out, err = run(drop + [copy, "--source", "--format=jsonl"], env, private)
        for variable in [] if setuid else ["QZ_WMI_CAPTURE"]:
            del env[variable]
        status2, out2, err2 = run(drop + [copy, "--source", "--format=jsonl"], env, private)
        print(f"{os.path.basename(copy)}: {err.strip()} | without a capture: {err2.strip()}")
        if setuid and (status != 0 or "/sys/class/firmware-attributes" not in err or "QZ_" in err + err2 or '"FastBoot":""' not in out
                       or "SECRET" in out + out2 or "/sys/class/firmware-attributes" not in err2 or status2 != 0):
            sys.exit(f"FAIL: the setuid copy followed its caller's environment:\n{err}{out}{err2}{out2}")
        if not setuid and ('"FastBoot":"On"' not in out or tree not in err2 or status2 != 3 or "SECRET" in out2):
            sys.exit(f"FAIL: the copy without the bit did not read its caller's capture and tree:\n{err}{out}{err2}{out2}")


def check(case, status, out, err, fill):
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


def main(tool, data, work, name, *emulator):
    case = CASES[name]
    work = os.path.join(work, name)
    os.makedirs(work, exist_ok=True)
    fill = lambda s: s.format(data=data, work=work, tool=tool)
    env = dict(os.environ, QZ_WMI_CAPTURE="", QZ_FIRMWARE_ATTRIBUTES_DIR="/nonexistent")
    env.update({k: fill(v) for k, v in case.get("env", {}).items()})
    command = list(emulator) + [tool]
    if "privileged" in case:
        return privileged(tool, data, work, env)
    if "tree" in case:
        tree = os.path.join(data, case["tree"])
        hostile = case["tree"].endswith("hostile")
        if hostile:  # git cannot hold a FIFO
            tree, writers = hostile_tree(work)
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = tree
        check(case, *run(command + ["record", "capture.json"], env, work), fill)
        fail_if_differs("the recorded capture", read(os.path.join(data, case["tree"] + ".json")), read(os.path.join(work, "capture.json")))
        status, live, _ = run(command + ["--format", "json"], env, work)
        if hostile:
            opened = [w.name for w in writers if not w.is_alive()]
            opened and sys.exit(f"FAIL: the tool opened {opened}")
            "SECRET" in live + read(os.path.join(work, "capture.json")) and sys.exit(f"FAIL: a secret was read:\n{live}")
        else:
            fail_if_differs("the records", read(os.path.join(data, case["tree"] + ".expected.json")), live)
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = "/nonexistent"
        _, replayed, _ = run(command + ["--capture", "capture.json", "--format", "json"], env, work)
        fail_if_differs("the replayed records", live, replayed)
        return
    args = [fill(a) for a in case.get("args", [])]
    if "make" in case:
        made = os.path.join(work, "input.json")
        with open(made, "wb") as f:
            f.truncate(case["make"]) if isinstance(case["make"], int) else f.write(case["make"].encode())
        args = ["--capture", made]
    if "fifo" in case:
        fifo = os.path.join(work, "fifo.json")
        os.path.exists(fifo) or os.mkfifo(fifo)
        threading.Thread(target=lambda: open(fifo, "wb").write(open(fill(case["fifo"]), "rb").read()), daemon=True).start()
    if "unprivileged" in case:
        if os.geteuid() != 0:
            sys.exit(77)
        # The tool, its libraries and the tree in a folder every user can reach: the build tree may
        # lie where user nobody cannot (under /root, say).
        private = tempfile.mkdtemp(prefix="qzbios-hidden-")
        os.chmod(private, 0o755)
        atexit.register(shutil.rmtree, private, ignore_errors=True)
        libraries = subprocess.run(["ldd", tool], capture_output=True, text=True).stdout
        for library in re.findall(r"=> (\S*libqz-shared-\S*)", libraries) + [tool]:
            shutil.copy(library, private)
        tree = os.path.join(private, "tree")
        shutil.copytree(fill(case["unprivileged"]), tree, symlinks=True)
        for folder, _, files in os.walk(tree):
            "current_value" in files and os.chmod(os.path.join(folder, "current_value"), 0o600)
        env.update(QZ_FIRMWARE_ATTRIBUTES_DIR=tree, LD_LIBRARY_PATH=private)
        command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", os.path.join(private, os.path.basename(tool))]
    if "every" in case:  # every committed tree and capture, hostile ones included, passes promtool
        inputs = [("QZ_FIRMWARE_ATTRIBUTES_DIR", os.path.join(data, t)) for t in ["firmware-attributes", "firmware-attributes-pre-6.3", "firmware-attributes-odd"]]
        inputs += [("QZ_WMI_CAPTURE", os.path.join(data, "captures", c)) for c in sorted(os.listdir(os.path.join(data, "captures"))) if c.endswith(".json")]
        for variable, path in inputs:
            _, out, _ = run(command + ["--format", "prometheus"], dict(env, **{variable: path}), work)
            promtool(out, path)
        return
    output = os.path.join(work, "qzbios.prom")
    if "before" in case:
        open(output, "w").write(case["before"])
    stdin = open(fill(case["stdin"]), "rb").read() if "stdin" in case else None
    status, out, err = run(command + args, env, work, stdin, case.get("stdout"))
    check(case, status, out, err, fill)
    if "before" in case:
        written = read(output)
        if "after" not in case and written != case["before"]:
            fail("a failed run changed --output's file", case["before"], written)
        if "after" in case and not re.search(case["after"], written):
            fail(f"--output's file does not match /{case['after']}/", "", written)
        if "after" in case and oct(os.stat(output).st_mode & 0o777) != "0o644" and not emulator:
            sys.exit(f"FAIL: --output's file has mode {oct(os.stat(output).st_mode & 0o777)}, not 0o644")
        if sorted(os.listdir(work)) != ["qzbios.prom", "stdout"]:
            sys.exit(f"FAIL: files left beside --output's: {sorted(os.listdir(work))}")
        out = written
    if "promtool" in case:
        promtool(out, name)
    if "wrote" in case:
        fail_if_differs("the written capture", read(fill(case["wrote"])), read(os.path.join(work, "out.json")))


if __name__ == "__main__":
    if sys.argv[1] == "--list":
        print("\n".join(n for n, c in CASES.items() if len(sys.argv) == 2 or c.get("both")))
    else:
        main(*sys.argv[1:])
