#!/usr/bin/env python3
# qzbios-dump as a user meets it: its flags, exit statuses, messages, sources, formats, and record
# and replay. Each case runs the tool and checks what it did; a failure shows what differs and keeps
# the case's files in WORK/<case>. A case that needs root to drop privileges is skipped (77) without.
#
#   dump_tool_test.py --list [windows]                   the cases of the platform, a name a line
#   dump_tool_test.py TOOL DATA WORK CASE [EMULATOR...]  runs one case
import atexit, difflib, grp, os, pwd, re, resource, shutil, signal, socket, stat, subprocess, sys, tempfile, threading

# A case: exit status, arguments, and what it needs and checks; "{data}", "{work}" and "{tool}" in
# arguments stand for those folders and the tool. err: a pattern standard error must match;
# out: a pattern, or out_file: the file standard output must equal; wrote: the file the tool wrote to
# {work}/out.json must equal; env: variables over a machine without sources (None unsets one);
# make: a capture to write first and pass as --capture; stdin: a file to pipe in; fifo: a file to
# write into the FIFO {work}/fifo.json; stdout: "/dev/full" or "closed"; unprivileged: a tree to
# copy with current values for root only and read as user nobody; tree: a firmware-attributes tree
# to record and replay. Output cases: at: what stands at {work}/qzbios.prom before the run ("file",
# "link" to target.prom, "fifo", "chardev", "socket", or nothing), holding "old"; mode and owner:
# its mode, and nobody's ownership; umask: the run's; fsize: the most a file may grow to; strace: a
# fault to inject; after: a pattern its text must match afterwards (without it, it must be as it
# was); mode_after: its mode then. Cases marked both run on Windows too.
C = "{data}/captures/"
TREE = {"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes"}
ONE = ["--capture", C + "one-object.json"]
OUT = ["--format=prometheus", "--output", "{work}/qzbios.prom"]
PROM = r'qzbios_source_info\{source="(none|wmi|capture)"\} 1\n'
HIDDEN = "9 published settings' current values could not be read: Permission denied \\(the kernel shows current values to root only: run qzbios-dump as root\\)\n"
CASES = {
    "Help": dict(both=1, status=0, args=["--help"], err="^$", out=r"(?s)^Usage: qzbios-dump .*QZ_WMI_CAPTURE .*QZ_FIRMWARE_ATTRIBUTES_DIR .*Exit status:\n  0 .*\n  3  written, but incomplete: a value of a published setting could not be read\n     \(the kernel shows current values to root only; a capture holds null\), or a\n     capture held no row with a Name the library can use\n$"),
    "ShortHelpWinsAnywhere": dict(both=1, status=0, args=["--bogus", "--format", "-h"], err="^$", out=r"^Usage: qzbios-dump "),
    "Version": dict(both=1, status=0, args=["--format", "x", "--version"], err="^$", out=r"^qzbios-dump \d+\.\d+\.\d+\n$"),
    "UnknownFlag": dict(both=1, status=2, args=["--bogus\x1b[2J"], err=r"unknown argument '--bogus\\x1b\[2J'"),
    "BadFormat": dict(both=1, status=2, args=["--format=xml"], err="--format must be table, json, jsonl or prometheus, not 'xml'"),
    "BadLogLevel": dict(both=1, status=2, args=["--log-level", "7"], err="--log-level must be one of "),
    "NumericLogLevel": dict(both=1, status=0, args=["--log-level", "6", "--format", "jsonl"], out=r'"NetPXEBoot":"NA",'),
    "FlagWithoutValue": dict(both=1, status=2, args=["--format"], err="--format needs a value"),
    "FlagTwice": dict(both=1, status=2, args=["--format", "json", "--format=table"], err="--format is given twice"),
    "RecordTwice": dict(both=1, status=2, args=["record", "a.json", "--record", "b.json"], err="--record is given twice"),
    "RecordTwiceReversed": dict(both=1, status=2, args=["--record", "a.json", "record", "b.json"], err="record is given twice"),
    "RecordEmptyFile": dict(both=1, status=2, args=["record", ""], err="record needs an output file"),
    "RecordWithFormat": dict(both=1, status=2, args=["record", "a.json", "--format", "json"], err="record writes a capture: --format is for the records"),
    "OutputWithRecord": dict(both=1, status=2, args=["record", "a.json", "--output", "b.json"], err="record writes to its own FILE: --output is for the formats"),
    "OutputToFullDisk": dict(both=1, status=1, args=["--format", "json"], stdout="/dev/full", err="cannot write the output: No space left on device"),
    "OutputClosed": dict(status=1, args=[], stdout="closed", err="cannot write the output: Bad file descriptor"),
    "RecordToFullDisk": dict(status=1, args=["record", "-"] + ONE, stdout="/dev/full", err=r"^qzbios-dump: cannot write the output: No space left on device\nqzbios-dump: the firmware publishes 1 of"),
    "NoSource": dict(status=0, args=[], err=r"^qzbios-dump: no settings source found: none \(no capture named, and .*/no-devices holds no firmware-attributes device\)\n$", out_file="{data}/no-source.expected.txt"),
    "EmptyCaptureVariable": dict(status=2, args=[], env={"QZ_WMI_CAPTURE": ""}, err="QZ_WMI_CAPTURE is set but empty: name a capture file, or unset it"),
    "CaptureFlagWins": dict(status=0, args=["--source"] + ONE, env={"QZ_WMI_CAPTURE": "/nonexistent.json"}, err="source: capture .*/one-object.json\n"),
    "MissingCapture": dict(status=2, args=["--capture", "/nonexistent.json"], err="capture file '/nonexistent.json': No such file or directory"),
    "EmptyCapture": dict(status=2, args=["--capture", "/dev/null"], err="capture file '/dev/null': the file is empty"),
    "DirectoryCapture": dict(status=2, args=["--capture", "{data}"], err="capture file '.*/data': Is a directory"),
    "BinaryCapture": dict(status=2, args=["--capture", "{tool}"], err="capture file '.*qzbios-dump': not valid JSON at byte 1: "),
    "C1InParseError": dict(status=2, make=b'"\xc2\x85', err=r"not valid JSON at byte 4: .*'\"\\u0085'"),
    "EndlessCapture": dict(status=2, args=["--capture", "/dev/zero"], err="capture file '/dev/zero': larger than the 8 MiB a capture may have"),
    "LargestCapture": dict(status=2, make=8 << 20, err="capture file '.*': not valid JSON at byte 1: "),
    "NestedArrays": dict(status=2, make="[" * 100000, err="capture file '.*': element 1 is not an object"),
    "NestedObjects": dict(status=2, make='{"a":' * 100000, err="capture file '.*': nested deeper than 32 levels"),
    "CaptureFromStandardInput": dict(status=0, args=["--capture", "-", "--format=jsonl", "--source"], stdin=C + "one-object.json", err="^qzbios-dump: source: capture standard input\n", out='"FastBoot":"On",'),
    "CaptureFromDevStdin": dict(status=0, args=["--capture", "/dev/stdin", "--format=jsonl"], stdin=C + "one-object.json", err="^qzbios-dump: the firmware publishes 1 of the 31 settings qzbios reads, and 0 other settings \\('qzbios-dump record FILE' shows every setting\\)\n$", out='"FastBoot":"On",'),
    "CaptureFromFifo": dict(status=0, args=["--format=jsonl"], env={"QZ_WMI_CAPTURE": "{work}/fifo.json"}, fifo=C + "one-object.json", out='"FastBoot":"On",'),
    "PublishesNone": dict(status=0, make='[{"Name":"Asset Tag","Value":"X"},{"Name":"Asset Tag","Value":"Y"},{"Name":"Fast boot","Value":"*On"}]', args=["--format=prometheus"], err="^qzbios-dump: the firmware publishes 0 of the 31 settings qzbios reads, and 2 other settings", out=r"^(?!(?s:.*)qzbios_setting_(info|value)\{)(?s:.*)\nqzbios_settings_published 0\n(?s:.*)\nqzbios_firmware_settings 2\n"),
    "ValuesNotRead": dict(status=3, make='[{"Name":"Fast Boot","Value":null},{"Name":"Video Memory Size","Value":64},{"Name":"VT","Value":null},{"Value":"*On"},{"Name":"Turbo-boost"},{"Name":"Fast Charge","Value":"*On"}]', args=["--format=prometheus"], err=r"qzbios-dump: 3 published settings have no value in the capture \(null, or not a string\): Turbo-boost, Fast Boot, Video Memory Size\n$", out=r'^(?!(?s:.*)setting="(FastBoot|VMS|TurboMode)")(?s:.*)qzbios_setting_info\{setting="FASTCHARGE",value="On"\} 1\n(?s:.*)qzbios_settings_published 4\n(?s:.*)qzbios_unreadable_values 3\n'),
    "TerminalSafeTable": dict(status=0, args=["--capture", C + "terminal.json"], out_file=C + "terminal.expected.txt"),
    "Prometheus": dict(status=0, args=["--format", "prometheus", "--capture", C + "terminal.json"], out_file=C + "terminal.expected.prom", promtool=1),
    "PrometheusOfBytes": dict(status=3, args=["--format", "prometheus"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-odd"}, out_file="{data}/firmware-attributes-odd.expected.prom"),
    "PrometheusOnEveryInput": dict(status=0, every=1),
    "OutputReplaced": dict(both=1, status=0, args=OUT, at="file", mode=0o640, owner=1, after=PROM, mode_after=0o640, promtool=1),
    "OutputNew": dict(status=0, args=OUT, umask=0o077, after=PROM, mode_after=0o600),
    "OutputThroughLink": dict(status=0, args=OUT, at="link", after=PROM),
    "OutputToFifo": dict(status=0, args=OUT, at="fifo", after=PROM),
    "OutputToDevice": dict(status=0, args=OUT, at="chardev", after="^$"),
    "OutputToSocket": dict(status=0, args=OUT, at="socket", after=PROM),
    "OutputToDevStdout": dict(status=0, args=["--format=prometheus", "--output", "/dev/stdout"], out=PROM),
    "OutputLongName": dict(status=0, args=["--output", "{work}/" + "n" * 255], after_file="n" * 255),
    "OutputIsTheCapture": dict(status=2, args=["--output", "{work}/../one.json", "--capture", "{work}/../one.json"], before_capture=1, err="the output '.*one.json' is the capture being read"),
    "OutputKeptOnFailure": dict(status=1, args=OUT + ["--capture", C + "video-three-bytes.json"], at="file", err=r"reading the BIOS settings failed: the library cannot read the Video Memory Size value '1,\*64,128': its current option is three bytes long"),
    "OutputUnwritable": dict(both=1, status=1, args=["--output", "{work}/missing/qzbios.prom"], err="cannot write '.*qzbios.prom': cannot make a temporary file in the folder '.*missing': "),
    "OutputWriteFails": dict(status=1, args=OUT + ONE, at="file", fsize=0, err="cannot write '.*qzbios.prom': writing the temporary file '.*/.qzbios-.*': File too large"),
    "OutputFlushFails": dict(status=1, args=OUT + ONE, at="file", strace="fsync:error=EIO:when=1", err="flushing the temporary file .*: Input/output error"),
    "OutputRenameFails": dict(status=1, args=OUT + ONE, at="file", strace="rename:error=EXDEV", err="renaming into place the temporary file .*: Invalid cross-device link"),
    "OutputSignalled": dict(status=-15, args=OUT + ONE, at="file", strace="fsync:signal=TERM:when=1"),
    "TerminalSafeTableOfBytes": dict(status=3, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-odd"}, out_file="{data}/firmware-attributes-odd.expected.txt"),
    "CaptureWinsOverTree": dict(status=0, args=["--source", "--format=jsonl"] + ONE, env=TREE, err="^qzbios-dump: source: capture .*/one-object.json\n", out='"FastBoot":"On",'),
    "TreeSource": dict(status=0, args=["--source", "--format=jsonl"], env=TREE, err="^qzbios-dump: source: firmware-attributes .*/firmware-attributes: aux-firmware platform-bios\n"),
    "OlderTreeSource": dict(status=0, args=["--source", "--format=jsonl"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-pre-6.3"}, err="^qzbios-dump: source: firmware-attributes [^\n]*: legacy-bios\n"),
    "DeviceNamesEscaped": dict(status=0, args=["--source"], device="dev\x1b]0;x\x07\u202e", err=r"^qzbios-dump: source: firmware-attributes .*: dev\\x1b\]0;x\\x07\\u202e\n"),
    "DeviceNamedForRoot": dict(status=2, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes/platform-bios/"}, err="names '.*/platform-bios/', a firmware-attributes device; name the folder that holds its devices instead, '.*/data/firmware-attributes'"),
    "AttributesNamedForRoot": dict(status=2, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes/platform-bios/attributes"}, err="names '.*/attributes', the attributes folder of a device; name the folder that holds its devices instead, '.*/data/firmware-attributes'"),
    "MissingRoot": dict(status=2, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "/nonexistent"}, err="QZ_FIRMWARE_ATTRIBUTES_DIR names '/nonexistent', which is not a folder: No such file or directory"),
    "DefaultRoot": dict(status=0, args=[], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": None}, err="/sys/class/firmware-attributes holds no firmware-attributes device"),
    "HiddenValues": dict(status=3, args=["--format=jsonl"], unprivileged="{data}/firmware-attributes", err="^qzbios-dump: the firmware publishes 10 of .*\nqzbios-dump: " + HIDDEN + "$", out='"FastBoot":"","USBSBoot":"","NetPXEBoot":"NA",'),
    "HiddenValuesGauge": dict(status=3, args=["--format=prometheus"], unprivileged="{data}/firmware-attributes", out="\nqzbios_unreadable_values 9\n"),
    "HiddenValuesAndFailed": dict(status=1, args=["--output", "/nonexistent/out"], unprivileged="{data}/firmware-attributes", err="cannot write '/nonexistent/out': (?s:.*)" + HIDDEN),
    "HiddenValuesRecorded": dict(status=3, args=["record", "-"], unprivileged="{data}/firmware-attributes", err="^qzbios-dump: recorded 11 settings to standard output\nqzbios-dump: the firmware publishes 10 .*\nqzbios-dump: " + HIDDEN + "$", out='"Name": "Fast Boot",\n        "Value": null'),
    "UnwritableRecord": dict(status=1, args=["record", "/nonexistent/out.json"] + ONE, err="^qzbios-dump: cannot write '/nonexistent/out.json': cannot make a temporary file in the folder '/nonexistent': No such file or directory\nqzbios-dump: the firmware"),
    "RecordOneSetting": dict(status=0, args=["--source", "record", "{work}/out.json"] + ONE, err="\nqzbios-dump: recorded 1 setting to '.*'\n"),
    "RecordWithoutSource": dict(status=1, args=["record", "{work}/out.json"], err=r"no settings to record: none \(no capture named"),
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
CASES["RecordAndReplay.firmware-attributes"] = dict(status=0, tree="firmware-attributes", err="^qzbios-dump: recorded 11 settings to 'capture.json'\nqzbios-dump: the firmware publishes 10 of the 31 settings qzbios reads, and 1 other setting ")
CASES["RecordAndReplay.firmware-attributes-pre-6.3"] = dict(status=0, tree="firmware-attributes-pre-6.3", err="^qzbios-dump: recorded 12 settings to 'capture.json'\n")
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


def run(command, env, work, stdin=None, stdout=None, umask=None, fsize=None):
    out_target = subprocess.PIPE if stdout is None else subprocess.DEVNULL if stdout == "closed" else open(stdout, "wb")
    def prepare():
        stdout == "closed" and os.close(1)
        umask is not None and os.umask(umask)
        if fsize is not None:  # files may not grow: a write fails with EFBIG, not a signal
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
    try:
        done = subprocess.run(command, env=env, cwd=work, input=stdin, stdout=out_target, stderr=subprocess.PIPE, timeout=60, preexec_fn=prepare)
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
    """The hostile tree, in a new folder of `work`: the tree, and the writers waiting on its FIFOs."""
    base = tempfile.mkdtemp(dir=work)
    os.chmod(base, 0o755)
    attributes = os.path.join(base, "tree/dev/attributes")
    secret, outside, folder = (os.path.join(base, name) for name in ["secret", "outside-fifo", "folder"])
    for name in ["Fifo", "LinkToFifo", "LinkToSecret", folder]:
        os.makedirs(os.path.join(attributes, name))
    for path in [secret, os.path.join(folder, "current_value")]:
        open(path, "w").write("SECRET\n")
        os.chmod(path, 0o600)
    for fifo in [os.path.join(attributes, "Fifo/current_value"), outside]:
        os.mkfifo(fifo)
    for target, name in [(outside, "LinkToFifo/current_value"), (secret, "LinkToSecret/current_value"), (folder, "LinkedFolder")]:
        os.symlink(target, os.path.join(attributes, name))
    writers = [threading.Thread(target=lambda f=f: open(f, "wb"), name=f, daemon=True) for f in [os.path.join(attributes, "Fifo/current_value"), outside]]
    for writer in writers:
        writer.start()
    return os.path.join(base, "tree"), writers


def privileged(tool, data, work, env):
    if os.geteuid() != 0:
        sys.exit(77)
    private = tempfile.mkdtemp(prefix="qzbios-setuid-")
    atexit.register(shutil.rmtree, private, ignore_errors=True)
    os.chmod(private, 0o755)
    tree, _ = hostile_tree(private)
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


def place_output(case, work):
    """Stands at {work}/qzbios.prom what the case names, holding "old"; returns a FIFO's reader."""
    output, at = os.path.join(work, "qzbios.prom"), case.get("at")
    for name in os.listdir(work):
        name != "stdout" and (shutil.rmtree if os.path.isdir(os.path.join(work, name)) and not os.path.islink(os.path.join(work, name)) else os.remove)(os.path.join(work, name))
    if at in ["file", "link"]:
        with open(os.path.join(work, "target.prom" if at == "link" else "qzbios.prom"), "w") as f:
            f.write("old\n")
        at == "link" and os.symlink("target.prom", output)
        os.chmod(output, case.get("mode", 0o644))
        if case.get("owner"):
            if os.geteuid() != 0:
                sys.exit(77)
            shutil.chown(output, "nobody", "nogroup")
    if at == "chardev":
        if os.geteuid() != 0:
            sys.exit(77)
        os.mknod(output, 0o666 | stat.S_IFCHR, os.makedev(1, 3))  # /dev/null's numbers
    if at in ["fifo", "socket"]:
        got = []
        if at == "fifo":
            os.mkfifo(output)
            read_all = lambda: got.append(open(output).read())
        else:
            server = socket.socket(socket.AF_UNIX)
            server.bind(output)
            server.listen(1)
            read_all = lambda: got.append(server.accept()[0].makefile().read())
        reader = threading.Thread(target=read_all, daemon=True)
        reader.start()
        return lambda: (reader.join(10), got[0] if got else "")[1]
    return None


def check_output(case, work, fifo):
    """What stands at {work}/qzbios.prom afterwards: the same kind of thing, the text, the mode, and
    no temporary file beside it."""
    output, at = os.path.join(work, "qzbios.prom"), case.get("at")
    kinds = {"link": stat.S_ISLNK, "fifo": stat.S_ISFIFO, "chardev": stat.S_ISCHR, "socket": stat.S_ISSOCK}
    if at in kinds and not kinds[at](os.lstat(output).st_mode):
        sys.exit(f"FAIL: the {at} at --output's name was replaced")
    written = fifo() if fifo else "" if at == "chardev" else read(output)
    if "after" not in case and written != "old\n":
        fail("a failed run changed --output's file", "old\n", written)
    if "after" in case and not re.search(case["after"], written):
        fail(f"--output's file does not match /{case['after']}/", "", written)
    st = os.stat(output)
    if "mode_after" in case and st.st_mode & 0o777 != case["mode_after"]:
        sys.exit(f"FAIL: --output's file has mode {oct(st.st_mode & 0o777)}, not {oct(case['mode_after'])}")
    if case.get("owner") and (st.st_uid, st.st_gid) != (pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid):
        sys.exit(f"FAIL: --output's file changed its owner or group to {st.st_uid}:{st.st_gid}")
    expected = sorted(["qzbios.prom", "stdout"] + (["target.prom"] if at == "link" else []))
    if sorted(os.listdir(work)) != expected:
        sys.exit(f"FAIL: files left beside --output's: {sorted(os.listdir(work))}")
    return written


def main(tool, data, work, name, *emulator):
    case = CASES[name]
    work = os.path.join(work, name)
    os.makedirs(work, exist_ok=True)
    fill = lambda s: s.format(data=data, work=work, tool=tool)
    empty = os.path.join(os.path.dirname(work), "no-devices")
    os.makedirs(empty, exist_ok=True)
    env = dict(os.environ, QZ_FIRMWARE_ATTRIBUTES_DIR=empty)
    env.pop("QZ_WMI_CAPTURE", None)
    for k, v in case.get("env", {}).items():
        env.pop(k, None) if v is None else env.update({k: fill(v)})
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
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = empty
        _, replayed, _ = run(command + ["--capture", "capture.json", "--format", "json"], env, work)
        fail_if_differs("the replayed records", live, replayed)
        return
    args = [fill(a) for a in case.get("args", [])]
    if "make" in case:
        made = os.path.join(work, "input.json")
        with open(made, "wb") as f:
            f.truncate(case["make"]) if isinstance(case["make"], int) else f.write(case["make"] if isinstance(case["make"], bytes) else case["make"].encode())
        args += ["--capture", made]
    if "before_capture" in case:
        shutil.copy(os.path.join(data, "captures/one-object.json"), os.path.join(work, "../one.json"))
    if "device" in case:  # a device whose folder name a terminal would act on
        tree = os.path.join(work, "tree")
        shutil.rmtree(tree, ignore_errors=True)
        os.makedirs(os.path.join(tree, case["device"], "attributes"))
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = tree
    if "fifo" in case:
        fifo = os.path.join(work, "fifo.json")
        os.path.exists(fifo) or os.mkfifo(fifo)
        threading.Thread(target=lambda: open(fifo, "wb").write(open(fill(case["fifo"]), "rb").read()), daemon=True).start()
    if "strace" in case:
        if shutil.which("strace") is None:
            sys.exit(77)
        command = ["strace", "-qq", "-o", "/dev/null", "-e", "inject=" + case["strace"]] + command
    if "unprivileged" in case:
        if os.geteuid() != 0:
            sys.exit(77)
        # The tool and the tree in a folder every user can reach: the build tree may lie where user
        # nobody cannot (under /root, say).
        private = tempfile.mkdtemp(prefix="qzbios-hidden-")
        os.chmod(private, 0o755)
        atexit.register(shutil.rmtree, private, ignore_errors=True)
        shutil.copy(tool, private)
        tree = os.path.join(private, "tree")
        shutil.copytree(fill(case["unprivileged"]), tree, symlinks=True)
        for folder, _, files in os.walk(tree):
            "current_value" in files and os.chmod(os.path.join(folder, "current_value"), 0o600)
        env.update(QZ_FIRMWARE_ATTRIBUTES_DIR=tree)
        command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", os.path.join(private, os.path.basename(tool))]
    if "every" in case:  # every committed tree and capture, hostile ones included, passes promtool
        inputs = [("QZ_FIRMWARE_ATTRIBUTES_DIR", os.path.join(data, t)) for t in ["firmware-attributes", "firmware-attributes-pre-6.3", "firmware-attributes-odd"]]
        inputs += [("QZ_WMI_CAPTURE", os.path.join(data, "captures", c)) for c in sorted(os.listdir(os.path.join(data, "captures"))) if c.endswith(".json")]
        for variable, path in inputs:
            _, out, _ = run(command + ["--format", "prometheus"], dict(env, **{variable: path}), work)
            promtool(out, path)
        return
    output_case = "at" in case or "after" in case
    fifo = place_output(case, work) if output_case else None
    stdin = open(fill(case["stdin"]), "rb").read() if "stdin" in case else None
    status, out, err = run(command + args, env, work, stdin, case.get("stdout"), case.get("umask"), case.get("fsize"))
    check(case, status, out, err, fill)
    if output_case and not emulator:
        out = check_output(case, work, fifo)
    if "after_file" in case and not read(os.path.join(work, case["after_file"])).startswith("Field "):
        sys.exit(f"FAIL: {case['after_file']} was not written")
    if "promtool" in case:
        promtool(out, name)
    if "wrote" in case:
        fail_if_differs("the written capture", read(fill(case["wrote"])), read(os.path.join(work, "out.json")))


if __name__ == "__main__":
    if sys.argv[1] == "--list":
        print("\n".join(n for n, c in CASES.items() if len(sys.argv) == 2 or c.get("both")))
    else:
        main(*sys.argv[1:])
