#!/usr/bin/env python3
# qzbios-dump as a user meets it: its flags, exit statuses, messages, sources, formats, and record
# and replay. Each case runs the tool and checks what it did; a failure shows what differs and keeps
# the case's files in WORK/<case>. A case that needs root to drop privileges is skipped (77) without.
#
#   dump_tool_test.py --list [windows]                   the cases of the platform, a name a line
#   dump_tool_test.py TOOL DATA WORK CASE [EMULATOR...]  runs one case
import atexit, ctypes, difflib, grp, os, pwd, re, resource, shutil, signal, socket, stat, subprocess, sys, tempfile, threading, time

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
    "TerminalSafeJson": dict(status=0, args=["--format=json", "--capture", C + "terminal.json"], out_file=C + "terminal.expected.json"),
    "Prometheus": dict(status=0, args=["--format", "prometheus", "--capture", C + "terminal.json"], out_file=C + "terminal.expected.prom", promtool=1),
    "PrometheusOfBytes": dict(status=3, args=["--format", "prometheus"], env={"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes-odd"}, out_file="{data}/firmware-attributes-odd.expected.prom"),
    "PrometheusOnEveryInput": dict(status=0, every=1),
    "OutputIsTheCapture": dict(status=2, args=["--output", "{work}/../one.json", "--capture", "{work}/../one.json"], before_capture=1, err="the output '.*one.json' is the capture being read"),
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
    "UnwritableRecord": dict(status=1, args=["record", "/nonexistent/out.json"] + ONE, err="^qzbios-dump: cannot write '/nonexistent/out.json': cannot open the folder '/nonexistent': No such file or directory\nqzbios-dump: the firmware"),
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
# The output writer, a row a case: what stands at {work}/qzbios.prom before the run (holding "old"
# where it holds anything), the exit status, what stderr says, and more for the run. A refusal
# writes nothing, waits for nothing, and leaves what stood there as it was.
def refused(kind):
    return f"^qzbios-dump: cannot write '[^']*': {kind} stands at that name: qzbios-dump " \
        "replaces only a regular file, and follows no link \\(remove it, or name the file itself\\)\n"


TEMPORARY = "the temporary file '.*/\\.qzbios-[A-Za-z0-9_-]+': "
WRITER = {
    "New": ("", 0, None, dict(umask=0o077, mode=0o600)),
    "Replaced": ("file", 0, None, dict(mode=0o640, both=1)),
    "Link": ("link", 1, refused("a symbolic link"), {}),
    "DanglingLink": ("dangling", 1, refused("a symbolic link"), {}),
    "LinkIntoANamespace": ("proc-root", 1, refused("a symbolic link"), {}),
    "LinkToABlockDevice": ("loop", 1, refused("a symbolic link"), {}),
    "DevStdout": ("", 1, refused("a symbolic link"), dict(output="/dev/stdout")),
    "Folder": ("folder", 1, refused("a folder"), {}),
    "FifoWithoutReader": ("fifo", 1, refused("a FIFO"), {}),
    "SocketWithFullBacklog": ("socket", 1, refused("a socket"), {}),
    "Device": ("chardev", 1, refused("a character device"), {}),
    "LongName": ("", 0, None, dict(output="{work}/" + "n" * 255)),
    "MissingFolder": ("", 1, "cannot write '.*/qzbios.prom': cannot (open|make a temporary file in) "
                      "the folder '.*/missing': ", dict(output="{work}/missing/qzbios.prom", both=1)),
    "WriteFails": ("file", 1, "writing " + TEMPORARY + "File too large", dict(fsize=0)),
    "FlushFails": ("file", 1, "flushing " + TEMPORARY + "Input/output error",
                   dict(strace="fsync:error=EIO:when=1")),
    "RenameFails": ("file", 1, "renaming into place " + TEMPORARY + "Invalid cross-device link",
                    dict(strace="rename,renameat,renameat2:error=EXDEV")),
    "Signalled": ("file", -15, None, dict(strace="fsync:signal=TERM:when=1")),
    "LibraryFails": ("file", 1, "the library cannot read the Video Memory Size value '1,\\*64,128': "
                     "its current option is three bytes long\n",
                     dict(capture=C + "video-three-bytes.json")),
}
for name, (_, status, _, more) in WRITER.items():
    CASES["Writer." + name] = dict(status=status, writer=name, both=more.get("both"))
# Root's output into a folder its user controls, while the user swaps the name between a file of
# their own and a link to a root-only file; a setuid copy run by nobody; the tree whose links would
# have the walk list one device 512 times.
CASES["Writer.ExchangeLoop"] = dict(status=0, exchange=1)
CASES["Privileged"] = dict(status=2, args=["record", "{work}/capture"], setuid=1,
                           err="^qzbios-dump: refusing to run setuid, setgid or with file capabilities")
CASES["WorstTree"] = dict(status=1, args=[], worst=1, err="cannot read the settings: firmware-attributes "
                          ".*: more than 8192 entries in its folders, the most a firmware-attributes tree may have")


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


def as_nobody():
    if os.geteuid() != 0:
        sys.exit(77)
    return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


def stand(kind, work, cleanups):
    """Places `kind` at {work}/qzbios.prom; returns the state to compare afterwards."""
    path, target = os.path.join(work, "qzbios.prom"), os.path.join(work, "target")
    if kind in ["file", "link", "proc-root", "loop"]:
        with open(path if kind == "file" else target, "w") as f:
            f.write("old\n" * (128 if kind == "loop" else 1))
    if kind == "file" and os.geteuid() == 0:
        os.chmod(path, 0o6640)
        os.chown(path, pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
    link = {"link": "target", "dangling": "target"}.get(kind)
    if kind == "proc-root":  # a process of nobody's in a mount namespace of its own
        holder = subprocess.Popen(as_nobody() + ["unshare", "--user", "--mount", "sleep", "60"])
        cleanups.append(holder.kill)
        time.sleep(0.3)
        holder.poll() is None or sys.exit(print("unprivileged user namespaces are off") or 77)
        link = f"/proc/{holder.pid}/root{target}"
    if kind == "loop":
        made = subprocess.run(["losetup", "-f", "--show", target], capture_output=True, text=True)
        made.returncode == 0 or sys.exit(print("no loop device: " + made.stderr) or 77)
        cleanups.append(lambda: subprocess.run(["losetup", "-d", made.stdout.strip()]))
        link = made.stdout.strip()
    if link:
        os.symlink(link, path)
    if kind == "folder":
        os.mkdir(path)
    if kind == "fifo":
        os.mkfifo(path)
    if kind == "socket":  # listening, its backlog full
        server = socket.socket(socket.AF_UNIX)
        server.bind(path)
        server.listen(0)
        cleanups.append(server.close)
        for _ in range(8):
            client = socket.socket(socket.AF_UNIX)
            client.setblocking(False)
            cleanups.append(client.close)
            if client.connect_ex(path) != 0:
                break
    if kind == "chardev":
        os.geteuid() == 0 or sys.exit(77)
        os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    return snapshot(work)


def snapshot(work):
    """Each name in `work` with its kind, mode, owner, group and text, links not followed."""
    state = {}
    for name in sorted(os.listdir(work)):
        st = os.lstat(os.path.join(work, name))
        text = read(os.path.join(work, name)) if stat.S_ISREG(st.st_mode) else ""
        state[name] = (stat.S_IFMT(st.st_mode), st.st_mode & 0o7777, st.st_uid, st.st_gid, text)
    return state


def writer(command, env, work, name, emulator, fill):
    kind, status, err, more = WRITER[name]
    cleanups = []
    shutil.rmtree(work)
    os.mkdir(work)
    try:
        before = stand(kind, work, cleanups)
        output = fill(more.get("output", "{work}/qzbios.prom"))
        args = ["--format=prometheus", "--output", output]
        args += [] if emulator else ["--capture", fill(more.get("capture", C + "one-object.json"))]
        if "strace" in more:
            shutil.which("strace") or sys.exit(77)
            command = ["strace", "-qq", "-o", "/dev/null", "-e", "inject=" + more["strace"]] + command
        done = run(command + args, env, work, umask=more.get("umask", 0o022), fsize=more.get("fsize"))
        check(dict(status=status, **({"err": err} if err else {})), *done, fill)
    finally:
        for cleanup in cleanups:
            cleanup()
    after = snapshot(work)
    after.pop("stdout", None), before.pop("stdout", None)
    if status != 0 or emulator:
        return emulator or fail_if_differs("what stood at the name", repr(before), repr(after))
    written = after.pop(os.path.basename(output))
    expected_mode = more.get("mode", 0o644)
    group = grp.getgrnam("nogroup").gr_gid if kind == "file" and os.geteuid() == 0 else os.getegid()
    if written[:4] != (stat.S_IFREG, expected_mode, os.geteuid(), group):
        sys.exit(f"FAIL: the output is {written[:4]}, not a file of mode {oct(expected_mode)}, owned by this user, group {group}")
    re.search(PROM, written[4]) or fail("the output does not match", PROM, written[4])
    before.pop("qzbios.prom", None)
    fail_if_differs("the folder beside the output", repr(before), repr(after))


def exchange_loop(command, env, data):
    """Root writes into a folder while its owner swaps the name between their file and a link to a
    root-only file, as fast as renameat2 can: the root-only file keeps its text, mode and owner."""
    base = private_folder()
    secret, work = os.path.join(base, "secret"), os.path.join(base, "shared")
    with open(secret, "w") as f:
        f.write("SECRET\n")
    os.chmod(secret, 0o600)
    os.mkdir(work, 0o777)
    os.chmod(work, 0o777)
    with open(os.path.join(work, "qzbios.prom"), "w") as f:
        f.write("mine\n")
    os.symlink(secret, os.path.join(work, "link"))
    for name in ["qzbios.prom", "link"]:
        os.lchown(os.path.join(work, name), pwd.getpwnam("nobody").pw_uid, -1)
    swapper = subprocess.Popen(as_nobody() + [sys.executable, "-c", "import ctypes, os, time\n"
        f"os.chdir({work!r})\n"
        "libc, swaps, end = ctypes.CDLL(None), 0, time.time() + 3\n"
        "while time.time() < end: swaps += libc.renameat2(-100, b'qzbios.prom', -100, b'link', 2) == 0\n"
        "print(swaps)\n"], stdout=subprocess.PIPE, text=True)
    while swapper.poll() is None:
        run(command + ["--output", "qzbios.prom", "--capture", data + "/captures/one-object.json"], env, work)
    swaps = int(swapper.stdout.read() or 0)
    print(f"{swaps} exchanges during the runs")
    st = os.stat(secret)
    if swaps == 0 or read(secret) != "SECRET\n" or (st.st_mode & 0o777, st.st_uid) != (0o600, 0):
        sys.exit(f"FAIL: {swaps} swaps; the root-only file is {oct(st.st_mode)} {st.st_uid} {read(secret)!r}")


def private_folder():
    """A new folder every user can reach, removed at exit: the build tree may lie where user nobody
    cannot (under /root, say)."""
    folder = tempfile.mkdtemp(prefix="qzbios-")
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    return folder


def worst_tree(work):
    """512 links to one device whose attributes folder holds 4095 files."""
    tree = os.path.join(work, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(os.path.join(tree, "device/attributes"))
    for i in range(4095):
        open(os.path.join(tree, f"device/attributes/{i}"), "w").close()
    for i in range(512):
        os.symlink("device", os.path.join(tree, f"link{i}"))
    return tree


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
    if "writer" in case:
        return writer(command, env, work, case["writer"], emulator, fill)
    if "exchange" in case:
        return exchange_loop(command, env, data)
    if "worst" in case:
        env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = worst_tree(work)
    if "setuid" in case:  # a setuid-root copy run by nobody refuses, and writes nothing
        base = private_folder()
        os.mkdir(os.path.join(base, "root-only"), 0o700)
        shutil.copy(tool, os.path.join(base, "setuid"))
        os.chmod(os.path.join(base, "setuid"), 0o4755)
        command, work = as_nobody() + [os.path.join(base, "setuid")], os.path.join(base, "root-only")
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
        private = private_folder()
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
    stdin = open(fill(case["stdin"]), "rb").read() if "stdin" in case else None
    status, out, err = run(command + args, env, work, stdin, case.get("stdout"), case.get("umask"), case.get("fsize"))
    check(case, status, out, err, fill)
    if "setuid" in case and os.listdir(work) != ["stdout"]:
        sys.exit("FAIL: the setuid copy wrote into a root-only folder")
    if "promtool" in case:
        promtool(out, name)
    if "wrote" in case:
        fail_if_differs("the written capture", read(fill(case["wrote"])), read(os.path.join(work, "out.json")))


if __name__ == "__main__":
    if sys.argv[1] == "--list":
        print("\n".join(n for n, c in CASES.items() if len(sys.argv) == 2 or c.get("both")))
    else:
        main(*sys.argv[1:])
