#!/usr/bin/env python3
# qzbios-dump as a user meets it: its flags, exit statuses, messages, sources, formats, output
# writer, and record and replay. Each case runs the tool and checks what it did; a failure shows
# what differs and keeps the case's files in WORK/<case>. A case that needs root is skipped (77)
# without it.
#
#   dump_tool_test.py --list [windows]                   the cases of the platform, a name a line
#   dump_tool_test.py TOOL DATA WORK CASE [EMULATOR...]  runs one case
import atexit, difflib, grp, json, os, pwd, re, resource, shutil, signal, socket, stat, subprocess
import sys, tempfile, threading, time

CASES = {}  # name: (check, runs under Wine too)


def case(name, both=False):
    def register(check):
        CASES[name] = (check, both)
        return check
    return register


def fail(what, expected="", actual=""):
    diff = difflib.unified_diff(expected.splitlines(True), actual.splitlines(True),
                                "expected", "actual")
    sys.exit(f"FAIL: {what}\n" + "".join(list(diff)[:60]))


def check(condition, what, actual=""):
    if not condition:
        fail(what, "", actual)


def read(path):
    with open(path, encoding="utf-8", errors="surrogateescape", newline="") as f:
        return f.read()


def write(path, text, mode=None):
    with open(path, "wb" if isinstance(text, bytes) else "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path, mode)


def as_nobody():
    if os.geteuid() != 0:
        sys.exit(77)
    return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


# A new folder every user can reach, removed at exit: the build tree may lie where user nobody
# cannot (under /root, say).
def private_folder():
    folder = tempfile.mkdtemp(prefix="qzbios-")
    os.chmod(folder, 0o755)
    atexit.register(shutil.rmtree, folder, ignore_errors=True)
    return folder


# Runs the tool for one case, over a machine without sources unless told otherwise.
class Tool:
    def __init__(self, tool, data, work, emulator):
        self.data, self.work, self.emulator = data, work, list(emulator)
        self.command = self.emulator + [tool]
        self.empty = os.path.join(os.path.dirname(work), "no-devices")
        os.makedirs(self.empty, exist_ok=True)
        self.env = {k: v for k, v in os.environ.items() if k != "QZ_WMI_CAPTURE"}
        self.env["QZ_FIRMWARE_ATTRIBUTES_DIR"] = self.empty

    def path(self, name):
        return os.path.join(self.data, name)

    def run(self, *args, env=None, stdin=None, stdout=None, prefix=(), cwd=None, umask=0o022,
            fsize=None):
        def prepare():
            os.umask(umask)
            if stdout == "closed":
                os.close(1)
            if fsize is not None:  # files may not grow: a write fails with EFBIG, not a signal
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
        environment = dict(self.env)
        for key, value in (env or {}).items():
            environment.pop(key) if value is None else environment.update({key: value})
        target = {None: subprocess.PIPE, "closed": subprocess.DEVNULL}.get(stdout)
        try:
            done = subprocess.run(list(prefix) + self.command + list(args), env=environment,
                                  cwd=cwd or self.work, input=stdin, timeout=60,
                                  stdout=target or open(stdout, "wb"), stderr=subprocess.PIPE,
                                  preexec_fn=prepare)
        except subprocess.TimeoutExpired:
            sys.exit(f"FAIL: {args} did not finish within 60 s")
        text = [(s or b"").decode("utf-8", "surrogateescape").replace("\r\n", "\n")
                for s in (done.stdout, done.stderr)]
        return done.returncode, text[0], text[1]


# The exit status; stderr and stdout match their patterns, or equal a file's text.
def expect(result, status, err=None, out=None):
    code, stdout, stderr = result
    if code != status:
        fail(f"exit status {code}, expected {status}; stderr:", "", stderr)
    if status == 2 and not re.fullmatch(r"[^\n]+\n", stderr):
        fail("a refusal is one line on stderr", "", stderr)
    for name, pattern, text in [("stderr", err, stderr), ("stdout", out, stdout)]:
        if isinstance(pattern, tuple):
            if read(pattern[0]) != text:
                fail(f"{name} differs from {pattern[0]}", read(pattern[0]), text)
        elif pattern is not None and not re.search(pattern, text):
            fail(f"{name} does not match /{pattern}/", "", text)
    return stdout


# Flags and usage errors: arguments, status, what stderr (or for status 0, stdout) matches.
FLAGS = [
    ("Help", ["--help"], 0, r"(?s)^Usage: qzbios-dump .*Exit status:\n  0 .*\n  3  written, but"),
    ("ShortHelpWinsAnywhere", ["--bogus", "--format", "-h"], 0, r"^Usage: qzbios-dump "),
    ("Version", ["--format", "x", "--version"], 0, r"^qzbios-dump \d+\.\d+\.\d+\n$"),
    ("UnknownFlag", ["--bogus\x1b[2J"], 2, r"unknown argument '--bogus\\x1b\[2J'"),
    ("BadFormat", ["--format=xml"], 2, "--format must be table, json, jsonl or prometheus, not"),
    ("BadLogLevel", ["--log-level", "7"], 2, "--log-level must be one of "),
    ("FlagWithoutValue", ["--format"], 2, "--format needs a value"),
    ("FlagTwice", ["--format", "json", "--format=table"], 2, "--format is given twice"),
    ("RecordTwice", ["record", "a.json", "--record", "b.json"], 2, "--record is given twice"),
    ("RecordNamedTwice", ["--record", "a.json", "record", "b.json"], 2, "record is given twice"),
    ("RecordEmptyFile", ["record", ""], 2, "record needs an output file"),
    ("RecordWithFormat", ["record", "a", "--format", "json"], 2, "--format is for the records"),
    ("RecordWithOutput", ["record", "a", "--output", "b"], 2, "--output is for the formats"),
    ("AllSettingsInATable", ["--all-settings"], 2, "--all-settings is for --format json, jsonl"),
    ("AllSettingsRecorded", ["record", "a", "--all-settings"], 2, "record writes every setting"),
]
for name, args, status, pattern in FLAGS:
    case(name, both=True)(lambda t, a=args, s=status, p=pattern:
                          expect(t.run(*a), s, out=p) if s == 0 else expect(t.run(*a), s, err=p))


@case("NumericLogLevelAndFullDisk", both=True)
def _(t):
    expect(t.run("--log-level", "6", "--format", "jsonl"), 0, out='"NetPXEBoot":"NA",',
           err=r"\[debug\] [^\n]*: reading the settings from [^\n]*\n.*\[debug\] [^\n]*: read 0 rows")
    expect(t.run("--format", "json", stdout="/dev/full"), 1,
           err="cannot write the output: No space left on device")


@case("ClosedOutput")
def _(t):
    expect(t.run(stdout="closed"), 1, err="cannot write the output: Bad file descriptor")
    expect(t.run("record", "-", "--capture", t.path("captures/one-object.json"),
                 stdout="/dev/full"), 1,
           err="^qzbios-dump: cannot write the output: No space left on device\n")


@case("NoSource")
def _(t):
    expect(t.run(), 0, out=(t.path("no-source.expected.txt"),),
           err=r"^qzbios-dump: no settings source found: none \(no capture named, and "
               r".*/no-devices holds no firmware-attributes device\)\n$")
    expect(t.run(env={"QZ_FIRMWARE_ATTRIBUTES_DIR": None}), 0,
           err="/sys/class/firmware-attributes holds no firmware-attributes device")
    expect(t.run("record", "out.json"), 1, err=r"no settings to record: none \(no capture named")


# What names a source wrongly: variables and arguments, and what stderr says.
CAPTURES = "{data}/captures/"
NAMED = [
    ({"QZ_WMI_CAPTURE": ""}, [], "QZ_WMI_CAPTURE is set but empty: name a capture file, or unset"),
    ({"QZ_FIRMWARE_ATTRIBUTES_DIR": ""}, [], "QZ_FIRMWARE_ATTRIBUTES_DIR is set but empty"),
    ({}, ["--capture", "/nonexistent.json"], "'/nonexistent.json': No such file or directory"),
    ({}, ["--capture", "/dev/null"], "capture file '/dev/null': the file is empty"),
    ({}, ["--capture", "{data}"], "capture file '.*/data': Is a directory"),
    ({}, ["--capture", "/dev/zero"], "'/dev/zero': larger than the 8 MiB a capture may have"),
    ({"QZ_FIRMWARE_ATTRIBUTES_DIR": "/nonexistent"}, [],
     "QZ_FIRMWARE_ATTRIBUTES_DIR names '/nonexistent', which is not a folder: No such file"),
    ({"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes/platform-bios/"}, [],
     "names '.*/platform-bios/', a firmware-attributes device; name the folder that holds its "
     "devices instead, '.*/data/firmware-attributes'"),
    ({"QZ_FIRMWARE_ATTRIBUTES_DIR": "{data}/firmware-attributes/platform-bios/attributes"}, [],
     "names '.*/attributes', the attributes folder of a device; name the folder that holds its "
     "devices instead, '.*/data/firmware-attributes'"),
]
CAPTURE_ERRORS = [
    ("truncated", "not valid JSON at byte"), ("bom-only", "not valid JSON at byte 1: .*end of"),
    ("single-value", "expected an array of objects or one object, found a single value"),
    ("element-2", "element 2 is not an object"), ("not-utf8", "not valid JSON at byte 12: "),
    ("trailing", "not valid JSON at byte 19: "), ("odd-utf16", "UTF-16 text with an odd number"),
    ("nested-33", "nested deeper than 32 levels"),
]
NAMED += [({}, ["--capture", CAPTURES + n + ".json"], f"'.*/{n}.json': {m}")
          for n, m in CAPTURE_ERRORS]
# Made by the case: bytes, and what stderr says.
MADE = [
    (b'"\xc2\x85', r"not valid JSON at byte 4: .*'\"\\u0085'"),
    (b"[" * 100000, "element 1 is not an object"),
    (b'{"a":' * 100000, "nested deeper than 32 levels"),
    (b"\0" * (8 << 20), "not valid JSON at byte 1: "),
    (b"[" + b"1" * 100000 + b"]", r"not valid JSON at byte 100001: number overflow parsing "
                                  r"'1{100,160}\.\.\.\n$"),
]


@case("SourcesNamedWrongly")
def _(t):
    for env, args, pattern in NAMED:
        fill = lambda s: s.format(data=t.data)
        expect(t.run(*map(fill, args), env={k: fill(v) for k, v in env.items()}), 2, err=pattern)
    for i, (text, pattern) in enumerate(MADE):
        write(os.path.join(t.work, f"made{i}.json"), text)
        expect(t.run("--capture", f"made{i}.json"), 2, err=pattern)
    write(os.path.join(t.work, "one.json"), read(t.path("captures/one-object.json")))
    for name, make in [("one.json", None), ("./one.json", None), ("link.json", os.symlink),
                       ("hard.json", os.link)]:
        if make:
            os.path.lexists(os.path.join(t.work, name)) and os.unlink(os.path.join(t.work, name))
            make("one.json" if make is os.symlink else os.path.join(t.work, "one.json"),
                 os.path.join(t.work, name))
        expect(t.run("--output", name, "--capture", "one.json"), 2,
               err=f"the output '{re.escape(name)}' is the capture being read")


@case("CaptureOfEveryKind")
def _(t):
    one = t.path("captures/one-object.json")
    quiet = "^qzbios-dump: the firmware publishes 1 of the 31 settings qzbios reads, and 0 other"
    expect(t.run("--capture", "-", "--format=jsonl", "--source", stdin=read(one).encode()), 0,
           err="^qzbios-dump: source: capture standard input\n", out='"FastBoot":"On",')
    expect(t.run("--capture", "/dev/stdin", stdin=read(one).encode()), 0, err=quiet + r"[^\n]*\n$")
    expect(t.run("--source", env={"QZ_WMI_CAPTURE": one,
                                  "QZ_FIRMWARE_ATTRIBUTES_DIR": t.path("firmware-attributes")}), 0,
           err="^qzbios-dump: source: capture .*/one-object.json\n")
    expect(t.run("--source", "--capture", one, env={"QZ_WMI_CAPTURE": "/nonexistent"}), 0,
           err="source: capture .*/one-object.json\n")
    fifo = os.path.join(t.work, "fifo.json")
    if not os.path.exists(fifo):
        os.mkfifo(fifo)
    threading.Thread(target=lambda: write(fifo, read(one)), daemon=True).start()
    expect(t.run(env={"QZ_WMI_CAPTURE": fifo}), 0, out=r"FastBoot\s+On ")


# In every mode: nothing written, the same message, exit status 1.
@case("CapturesWithoutUsableNames")
def _(t):
    for path in ["firmware-attributes.expected.json", "captures/lower-case.json",
                 "captures/empty-object.json"]:
        for mode in [["--format=jsonl"], ["--all-settings", "--format=json"], ["record", "-"]]:
            expect(t.run(*mode, "--capture", t.path(path)), 1, out="^$",
                   err='^qzbios-dump: capture file .*: no row has a "Name" that is a string '
                       '\\(1 read;[^\n]*\n$')
    write(os.path.join(t.work, "values.json"), '[{"Value":"*On"},{"Name":5,"Value":"x"}]')
    expect(t.run("--capture", "values.json"), 1,
           err='no row has a "Name" that is a string \\(2 read;')
    write(os.path.join(t.work, "none.json"), "[]")
    expect(t.run("--capture", "none.json"), 0)


@case("PublishedAndNotRead")
def _(t):
    write(os.path.join(t.work, "others.json"), '[{"Name":"Asset Tag","Value":"X"},{"Name":'
          '"Asset Tag","Value":"Y"},{"Name":"Fast boot","Value":"*On"}]')
    out = expect(t.run("--format=prometheus", "--capture", "others.json"), 0,
                 err="^qzbios-dump: the firmware publishes 0 of the 31 settings qzbios reads, "
                     "and 2 other settings")
    for line in ["qzbios_settings_published 0", "qzbios_firmware_settings 2",
                 "qzbios_unreadable_values 0"]:
        check(line in out.splitlines(), f"no line {line}", out)
    check(not re.search(r"qzbios_setting_(info|value)\{", out), "a setting's series", out)
    write(os.path.join(t.work, "nulls.json"), '[{"Name":"Fast Boot","Value":null},{"Name":'
          '"Video Memory Size","Value":64},{"Name":"VT","Value":null},{"Value":"*On"},{"Name":'
          '"Turbo-boost"},{"Name":"Fast Charge","Value":"*On"},{"Name":"Fast Boot","Value":"*On"},'
          '{"Name":"Hyperthreading","Value":"*On"},{"Name":"Hyperthreading","Value":null}]')
    out = expect(t.run("--format=prometheus", "--capture", "nulls.json"), 3,
                 err=r"qzbios-dump: 3 published settings' values could not be read \(null in "
                     r"the capture, or not a string\): Hyperthreading, Turbo-boost, Video Memory "
                     r"Size\n$")
    expect(t.run("--format=jsonl", "--capture", "nulls.json"), 3, out='"Hyperthreading":"",')
    expect(t.run("--output", "/nonexistent/x", "--capture", "nulls.json"), 1)
    check(not re.search('setting="(VMS|TurboMode)"', out), "a series of a value not read", out)
    for line in ['qzbios_setting_info{setting="FASTCHARGE",value="On"} 1',
                 'qzbios_setting_info{setting="FastBoot",value="On"} 1',
                 "qzbios_settings_published 5", "qzbios_unreadable_values 3"]:
        check(line in out.splitlines(), f"no line {line}", out)


@case("TerminalSafeFormats")
def _(t):
    capture = t.path("captures/terminal.json")
    for fmt, expected in [("table", "txt"), ("json", "json"), ("prometheus", "prom")]:
        promtool(expect(t.run("--format", fmt, "--capture", capture), 0,
                        out=(t.path(f"captures/terminal.expected.{expected}"),)),
                 capture, fmt == "prometheus")
    tree = {"QZ_FIRMWARE_ATTRIBUTES_DIR": t.path("firmware-attributes-odd")}
    for fmt, expected in [("table", "txt"), ("prometheus", "prom")]:
        expect(t.run("--format", fmt, env=tree), 3,
               out=(t.path(f"firmware-attributes-odd.expected.{expected}"),))
    device = os.path.join(t.work, "tree", "dev\x1b]0;x\x07\u202e", "attributes")
    os.makedirs(os.path.join(device, "a"), exist_ok=True)
    write(os.path.join(device, "a", "current_value"), "On\n")
    tree = {"QZ_FIRMWARE_ATTRIBUTES_DIR": os.path.dirname(os.path.dirname(device))}
    expect(t.run("--source", env=tree), 0, err=r": dev\\x1b\]0;x\\x07\\u202e\n")
    expect(t.run("--all-settings", "--format=prometheus", env=tree), 0,
           out=r'\{device="dev\\\\x1b\]0;x\\\\x07\\\\u202e",setting="a",value="On"\}')
    # A recording is as terminal-safe as JSON.
    recorded = expect(t.run("record", "-", "--capture", capture), 0)
    check(not re.search("[\x00-\x09\x0b-\x1f\x7f-\x9f\u061c\u200e\u200f\u2028-\u202e"
                        "\u2066-\u2069]", recorded) and "\\u202e" in recorded,
          "a control or bidirectional character in the recording", recorded)


def promtool(text, what, check=True):
    if not check:
        return
    if not shutil.which("promtool"):
        sys.exit(77)
    done = subprocess.run(["promtool", "check", "metrics"], input=text.encode(),
                          capture_output=True)
    if done.returncode != 0 or done.stdout or done.stderr:
        fail(f"promtool check metrics on {what}", "", (done.stdout + done.stderr).decode())


@case("PrometheusOnEveryInput")
def _(t):
    inputs = [("QZ_FIRMWARE_ATTRIBUTES_DIR", t.path(name)) for name in
              ["firmware-attributes", "firmware-attributes-pre-6.3", "firmware-attributes-odd"]]
    inputs += [("QZ_WMI_CAPTURE", t.path("captures/" + name))
               for name in sorted(os.listdir(t.path("captures"))) if name.endswith(".json")]
    for variable, path in inputs:
        promtool(t.run("--format", "prometheus", env={variable: path})[1], path)


# Every setting of a tree and of a capture, raw, by device; a long value cut at 256 bytes.
@case("AllSettings")
def _(t):
    tree = {"QZ_FIRMWARE_ATTRIBUTES_DIR": t.path("firmware-attributes-odd")}
    out = expect(t.run("--all-settings", "--format=prometheus", env=tree), 3)
    promtool(out, "--all-settings")
    series = 'qzbios_firmware_setting_info{device="dev",setting='
    for line in [series + '"RepeatedOption",value="*On,Off,On"} 1',
                 series + '"Huge",value="' + "x" * 256 + '"} 1']:
        check(line in out.splitlines(), f"no line {line}", out)
    check(series + '"Turbo-boost"' not in out, "a series of a value not read", out)
    # Every label is cut at 256 bytes, however long the name a tree gives.
    attribute = os.path.join(t.work, "long", "\x1b" * 255, "attributes", "a")
    os.makedirs(attribute, exist_ok=True)
    write(os.path.join(attribute, "display_name"), "\x1b" * 65536)
    write(os.path.join(attribute, "current_value"), "\u202e" * 30000)
    out = expect(t.run("--all-settings", "--format=prometheus",
                       env={"QZ_FIRMWARE_ATTRIBUTES_DIR": os.path.join(t.work, "long")}), 0)
    check(max(map(len, out.splitlines())) < 4096, "a line of 4 KiB or more", out[-300:])
    out = expect(t.run("--all-settings", "--format=json", "--capture",
                       t.path("captures/powershell.json")), 3,
                 err=r"2 published settings' values could not be read \(null in the capture, or "
                     r"not a string\): 32 levels, Not Strings\n$")
    settings = json.loads(out)["firmware_settings"]
    check(len(settings) == 5, "not the capture's 5 names", out)
    # Every setting counted once, whether the reading holds the others' rows or only their names.
    odd = {"QZ_FIRMWARE_ATTRIBUTES_DIR": t.path("firmware-attributes-odd")}
    for args, env, count in [(["--capture", t.path("captures/powershell.json")], {}, 5),
                             (["--capture", t.path("firmware-attributes-odd.json")], {}, 14),
                             ([], odd, 14)]:
        for more in [[], ["--all-settings"]]:
            out = t.run("--format=prometheus", *more, *args, env=env)[1]
            check(f"qzbios_firmware_settings {count}\n" in out, f"not {count} settings", out)
    check({"device": "", "setting": "Not Strings", "value": None} in settings, "a null", out)


@case("PowerShellCaptures")
def _(t):
    # Each encoding (byte order marks, CRLF, members that cannot be read, escapes, 32 levels of
    # nesting), recorded again as the client delivered it.
    expected = t.path("captures/powershell.expected.json")
    for encoding in ["", "-utf16le", "-utf16be"]:
        capture = t.path(f"captures/powershell{encoding}.json")
        expect(t.run("record", "-", "--capture", capture), 3, out=(expected,),
               err="recorded 8 settings to standard output")


# A tree a user built against a privileged reader, in `base`: a FIFO and links to a FIFO (each
# with a writer waiting, which an open would let through), to a root-only file and to a folder
# of its own. Returns the tree, and the writers.
def hostile_tree(base):
    attributes = os.path.join(base, "tree/dev/attributes")
    secret, outside, folder = (os.path.join(base, n) for n in ["secret", "outside", "folder"])
    for name, setting in [("Fifo", "Fast Boot"), ("LinkToFifo", "VT"),
                          ("LinkToSecret", "Turbo-boost"), (folder, "")]:
        os.makedirs(os.path.join(attributes, name))
        if setting:
            write(os.path.join(attributes, name, "display_name"), setting + "\n")
    for path in [secret, os.path.join(folder, "current_value")]:
        write(path, "SECRET\n", 0o600)
    fifos = [os.path.join(attributes, "Fifo/current_value"), outside]
    for fifo in fifos:
        os.mkfifo(fifo)
    for target, name in [(outside, "LinkToFifo/current_value"),
                         (secret, "LinkToSecret/current_value"), (folder, "LinkedFolder")]:
        os.symlink(target, os.path.join(attributes, name))
    writers = [threading.Thread(target=lambda f=f: open(f, "wb"), daemon=True) for f in fifos]
    for writer in writers:
        writer.start()
    return os.path.join(base, "tree"), writers


# Each tree is recorded as the capture beside it and read as the records beside it; its recording
# replays to the same records, counts, messages and exit status. A tree's values hidden from
# user nobody, and the hostile tree, are made when the case runs.
# Its exit status as read, and as recorded: a recording says every value it could not read.
TREES = {"firmware-attributes": (0, 0), "firmware-attributes-pre-6.3": (0, 3),
         "firmware-attributes-odd": (3, 3), "hidden": (3, 3), "hostile": (3, 3)}
HIDDEN = (r"qzbios-dump: 8 published settings' values could not be read \(Permission denied\): "
          r".* \(the kernel shows current values to root only: run qzbios-dump as root\)\n$")


def record_and_replay(t, name):
    tree, prefix, writers = t.path(name), (), []
    if name == "hostile":  # git cannot hold a FIFO
        tree, writers = hostile_tree(tempfile.mkdtemp(dir=t.work))
    if name == "hidden":
        base = private_folder()
        tree, t.command = os.path.join(base, "tree"), [shutil.copy(t.command[-1], base)]
        shutil.copytree(t.path("firmware-attributes"), tree, symlinks=True)
        for folder, _, files in os.walk(tree):
            "current_value" in files and os.chmod(os.path.join(folder, "current_value"), 0o600)
        prefix = as_nobody()
    env = {"QZ_FIRMWARE_ATTRIBUTES_DIR": tree}
    status, recorded = TREES[name]
    capture = os.path.join(tempfile.mkdtemp(dir=private_folder()), "capture.json")
    os.chmod(os.path.dirname(capture), 0o777)
    expect(t.run("record", capture, env=env, prefix=prefix), recorded, err="recorded ")
    live = t.run("--format", "prometheus", env=env, prefix=prefix)
    replayed = t.run("--format", "prometheus", "--capture", capture, prefix=prefix)
    counts = [[line for line in run[1].splitlines() if re.match(
        "qzbios_(settings_published|firmware_settings|unreadable_values) ", line)] + [run[0]]
        for run in (live, replayed)]
    if counts[0] != counts[1] or len(counts[0]) != 4:
        fail("the replay's counts and status", repr(counts[0]), repr(counts[1]))
    if name in ["hidden", "hostile"]:
        check("SECRET" not in read(capture) + live[1], "a secret was read", live[1])
        check(all(w.is_alive() for w in writers), "the tool opened a FIFO")
        if name == "hidden":
            expect(live, 3, err=HIDDEN)
        return
    if read(t.path(name + ".json")) != read(capture):
        fail("the recorded capture", read(t.path(name + ".json")), read(capture))
    expect(t.run("--format", "json", env=env), status,
           out=(t.path(name + ".expected.json"),))


for tree_name in TREES:
    case("RecordAndReplay." + tree_name)(lambda t, n=tree_name: record_and_replay(t, n))


# 512 links to one device whose attributes folder holds 4095 files: refused at once.
@case("WorstTree")
def _(t):
    tree = os.path.join(t.work, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    os.makedirs(os.path.join(tree, "device/attributes"))
    for i in range(4095):
        write(os.path.join(tree, f"device/attributes/{i}"), "")
    for i in range(512):
        os.symlink("device", os.path.join(tree, f"link{i}"))
    expect(t.run(env={"QZ_FIRMWARE_ATTRIBUTES_DIR": tree}), 1,
           err="cannot read the settings: firmware-attributes .*: more than 8192 entries in its "
               "folders, the most a firmware-attributes tree may have")


# A setuid-root, a setgid-root and a file-capability copy run by nobody refuse, and write nothing
# into a root-only folder.
@case("Privileged")
def _(t):
    base = private_folder()
    os.mkdir(os.path.join(base, "root-only"), 0o700)
    tool = t.command[-1]
    # A process that setgid or a capability made undumpable can read neither its own
    # /proc/self/environ nor be stopped by LeakSanitizer: a sanitizer build tries setuid alone.
    with open(tool, "rb") as binary:
        sanitized = b"__asan_init" in binary.read()
    for kind in ["setuid"] + ([] if sanitized else ["setgid", "capability"]):
        t.command = [shutil.copy(tool, os.path.join(base, kind))]
        os.chmod(t.command[0], {"setuid": 0o4755, "setgid": 0o2755}.get(kind, 0o755))
        if kind == "capability" and subprocess.run(["setcap", "cap_dac_read_search+ep",
                                                    t.command[0]]).returncode != 0:
            fail("setcap cap_dac_read_search+ep on a copy of the tool")
        expect(t.run("record", os.path.join(base, "root-only/capture"), prefix=as_nobody()), 2,
               err="^qzbios-dump: refusing to run setuid, setgid or with file capabilities")
        check(not os.listdir(os.path.join(base, "root-only")), f"the {kind} copy wrote a file")


# The output writer, a row a case: what stands at {work}/qzbios.prom before the run (holding "old"
# where it holds anything), the exit status, what stderr says, and more for the run. A refusal
# writes nothing, waits for nothing, and leaves what stood there as it was.
def refused(kind):
    return (f"(?m)^qzbios-dump: cannot write '[^']*': {kind} stands at that name: qzbios-dump "
            r"replaces only a regular file, and follows no link \(remove it, or name the file "
            r"itself\)\n")


TEMPORARY = "the temporary file '.*/\\.qzbios-[A-Za-z0-9_-]+': "
WRITER = {
    "New": ("", 0, None, dict(umask=0o077, mode=0o600)),
    "Replaced": ("file", 0, None, dict(mode=0o640, both=1)),
    "Link": ("link", 1, refused("a symbolic link"), {}),
    "DanglingLink": ("dangling", 1, refused("a symbolic link"), {}),
    "LinkIntoANamespace": ("proc-root", 1, refused("a symbolic link"), {}),
    "LinkToABlockDevice": ("loop", 1, refused("a symbolic link"), {}),
    "DevStdout": ("", 1, refused("a symbolic link"), dict(output="/dev/stdout")),
    "Folder": ("folder", 1, refused("a folder"), dict(both=1)),
    "FifoWithoutReader": ("fifo", 1, refused("a FIFO"), {}),
    "SocketWithFullBacklog": ("socket", 1, refused("a socket"), {}),
    "Device": ("chardev", 1, refused("a character device"), {}),
    "LongName": ("", 0, None, dict(output="n" * 255)),
    "LinkedFolder": ("linked-folder", 1, "cannot open the folder 'via/on': 'via' is a symbolic "
                     "link, and qzbios-dump follows no link on the way to its output",
                     dict(output="via/on/qzbios.prom")),
    "MissingFolder": ("", 1, "cannot write '.*qzbios.prom': cannot (open|make a temporary file "
                      "in) the folder '.*missing'", dict(output="missing/qzbios.prom", both=1)),
    "WriteFails": ("file", 1, "writing " + TEMPORARY + "File too large", dict(fsize=0)),
    "FlushFails": ("file", 1, "flushing " + TEMPORARY + "Input/output error",
                   dict(strace="fsync:error=EIO:when=1")),
    "RenameFails": ("file", 1, "renaming into place " + TEMPORARY + "Invalid cross-device link",
                    dict(strace="rename,renameat,renameat2:error=EXDEV")),
    "Signalled": ("file", -15, None, dict(strace="fsync:signal=TERM:when=1")),
    "LibraryFails": ("file", 1, "the library cannot read the Video Memory Size value "
                     r"'1,\*64,128': its current option is three bytes long\n",
                     dict(capture="captures/video-three-bytes.json")),
}


# Places `kind` at {work}/qzbios.prom; returns what the folder holds then.
def stand(kind, work, cleanups):
    path, target = os.path.join(work, "qzbios.prom"), os.path.join(work, "target")
    if kind in ["file", "link", "proc-root", "loop"]:
        write(path if kind == "file" else target, "old\n" * (128 if kind == "loop" else 1))
    if kind == "file" and os.geteuid() == 0:
        os.chmod(path, 0o6640)
        os.chown(path, pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
    link = {"link": "target", "dangling": "target"}.get(kind)
    if kind == "proc-root":  # a process of nobody's in a mount namespace of its own
        holder = subprocess.Popen(as_nobody() + ["unshare", "--user", "--mount", "sleep", "60"])
        cleanups.append(holder.kill)
        time.sleep(0.3)
        if holder.poll() is not None:
            print("unprivileged user namespaces are off")
            sys.exit(77)
        link = f"/proc/{holder.pid}/root{target}"
    if kind == "loop":
        made = subprocess.run(["losetup", "-f", "--show", target], capture_output=True, text=True)
        if made.returncode != 0:
            print("no loop device: " + made.stderr)
            sys.exit(77)
        cleanups.append(lambda: subprocess.run(["losetup", "-d", made.stdout.strip()]))
        link = made.stdout.strip()
    if link:
        os.symlink(link, path)
    if kind == "folder":
        os.mkdir(path)
    if kind == "linked-folder":  # via/on leads back to the folder itself
        os.mkdir(os.path.join(work, "on"))
        os.symlink(".", os.path.join(work, "via"))
    if kind == "fifo":
        os.mkfifo(path)
    if kind == "socket":  # listening, its backlog full; named relative to the folder, since a
        server = socket.socket(socket.AF_UNIX)  # socket's whole path may hold 107 bytes at most
        cleanups.append(server.close)
        previous = os.getcwd()
        os.chdir(work)
        try:
            server.bind("qzbios.prom")
            server.listen(0)
            for _ in range(8):
                client = socket.socket(socket.AF_UNIX)
                client.setblocking(False)
                cleanups.append(client.close)
                if client.connect_ex("qzbios.prom") != 0:
                    break
        finally:
            os.chdir(previous)
    if kind == "chardev":
        if os.geteuid() != 0:
            sys.exit(77)
        os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    return snapshot(work)


# Each name in `work` with its kind, mode, owner, group and text, links not followed.
def snapshot(work):
    state = {}
    for name in sorted(os.listdir(work)):
        st = os.lstat(os.path.join(work, name))
        text = read(os.path.join(work, name)) if stat.S_ISREG(st.st_mode) else ""
        state[name] = (stat.S_IFMT(st.st_mode), st.st_mode & 0o7777, st.st_uid, st.st_gid, text)
    return state


def writer(t, name):
    kind, status, err, more = WRITER[name]
    cleanups = []
    shutil.rmtree(t.work)
    os.mkdir(t.work)
    try:
        before = stand(kind, t.work, cleanups)
        output = more.get("output", "qzbios.prom")
        args = ["--format=prometheus", "--output", output]
        if not t.emulator:
            args += ["--capture", t.path(more.get("capture", "captures/one-object.json"))]
        prefix = ["strace", "-qq", "-o", "/dev/null", "-e", "inject=" + more["strace"]] \
            if "strace" in more else []
        if prefix and not shutil.which("strace"):
            sys.exit(77)
        expect(t.run(*args, prefix=prefix, umask=more.get("umask", 0o022),
                     fsize=more.get("fsize")), status, err=err)
    finally:
        for cleanup in cleanups:
            cleanup()
    after = snapshot(t.work)
    if status != 0 or t.emulator:
        if not t.emulator:
            if repr(before) != repr(after):
                fail("what stood at the name", repr(before), repr(after))
        return
    written = after.pop(os.path.basename(output))
    mode = more.get("mode", 0o644)
    group = grp.getgrnam("nogroup").gr_gid if kind == "file" and os.geteuid() == 0 \
        else os.getegid()
    if written[:4] != (stat.S_IFREG, mode, os.geteuid(), group):
        fail(f"the output is {written[:4]}, not a file of mode {oct(mode)}, owned by this user, "
             f"group {group}")
    check(re.search(r'qzbios_source_info\{source="(wmi|capture)"\} 1\n', written[4]),
          "the output's text", written[4])
    before.pop("qzbios.prom", None)
    if repr(before) != repr(after):
        fail("the folder beside the output", repr(before), repr(after))


for writer_name, row in WRITER.items():
    case("Writer." + writer_name, both=bool(row[3].get("both")))(
        lambda t, n=writer_name: writer(t, n))


# Under Wine, the library's reading through COM from the stand-in for WMI that scripts/test.sh
# registers: the rows it serves; and a provider that fails, is slow on every row or never answers
# ends the reading within the 30 s bound with that status, which the tool says, exiting 1.
@case("WmiProvider", both=True)
def _(t):
    if not t.emulator:
        sys.exit(77)
    serve = {"QZBIOS_STANDIN_CAPTURE": "Z:" + t.path("../../examples/captures/sample.json")}
    expect(t.run("--source", env=serve), 0, err="^qzbios-dump: source: WMI\n$",
           out=r"UEFIBO +OS Boot Manager\|USB:\|NETWORK IPV4:Onboard Ethernet\|NETWORK IPV6:")
    expect(t.run("--all-settings", "--format=json", env=serve), 0, out='"value": "B\u00fcro 3 / ')
    timed_out = r"WBEM_S_TIMEDOUT, WMI did not answer in time \(0x00040004\)\n"
    for more, words in [({"QZBIOS_STANDIN_FAIL_AFTER": "5"}, r"WBEM_E_PROVIDER_FAILURE, the "
                          r"provider failed \(0x80041004\)\n"),
                        ({"QZBIOS_STANDIN_ROW_MS": "1000"}, timed_out),
                        ({"QZBIOS_STANDIN_ROW_MS": "-1"}, timed_out)]:
        start = time.monotonic()
        out = expect(t.run("--format=prometheus", env={**serve, **more}), 1, err=words)
        check('qzbios_source_info{source="none"} 1\n' in out, "a reading claimed", out)
        check(time.monotonic() - start < 40, f"{more}: {time.monotonic() - start:.0f} s")


# The file is flushed before it is renamed into place, and the folder after, so that a crash leaves
# the old file or the new one.
@case("Writer.FlushesFileThenFolder")
def _(t):
    if not shutil.which("strace"):
        sys.exit(77)
    trace = os.path.join(t.work, "trace")
    # LeakSanitizer cannot stop a traced process.
    expect(t.run("--output", os.path.join(t.work, "out.prom"), "--capture",
                 t.path("captures/one-object.json"), env={"ASAN_OPTIONS": "detect_leaks=0"},
                 prefix=["strace", "-f", "-qq", "-o", trace, "-e", "trace=fsync,rename,renameat,"
                         "renameat2"]), 0)
    calls = [re.sub(r"^\d+ +", "", line).split("(")[0] for line in read(trace).splitlines()]
    check(calls[-3:] == ["fsync", "renameat", "fsync"], "not fsync, rename, fsync", calls)


# Root writes into a folder while its owner swaps the name between their file and a link to a
# root-only file, as fast as renameat2 can: the root-only file keeps its text, mode and owner.
@case("Writer.ExchangeLoop")
def _(t):
    nobody = as_nobody()
    base = private_folder()
    secret, shared = os.path.join(base, "secret"), os.path.join(base, "shared")
    write(secret, "SECRET\n", 0o600)
    os.mkdir(shared)
    os.chmod(shared, 0o777)
    write(os.path.join(shared, "qzbios.prom"), "mine\n")
    os.symlink(secret, os.path.join(shared, "link"))
    for name in ["qzbios.prom", "link"]:
        os.lchown(os.path.join(shared, name), pwd.getpwnam("nobody").pw_uid, -1)
    swapper = subprocess.Popen(nobody + [sys.executable, "-c", f"""if True:
        import ctypes, os, time
        os.chdir({shared!r})
        libc, swaps, end = ctypes.CDLL(None), 0, time.time() + 3
        while time.time() < end:
            swaps += libc.renameat2(-100, b'qzbios.prom', -100, b'link', 2) == 0
        print(swaps)"""], stdout=subprocess.PIPE, text=True)
    one = t.path("captures/one-object.json")
    while swapper.poll() is None:
        t.run("--output", "qzbios.prom", "--capture", one, cwd=shared)
    swaps = int(swapper.stdout.read() or 0)
    print(f"{swaps} exchanges during the runs")
    st = os.stat(secret)
    if swaps == 0 or read(secret) != "SECRET\n" or (st.st_mode & 0o777, st.st_uid) != (0o600, 0):
        fail(f"{swaps} swaps; the root-only file is {oct(st.st_mode)} {st.st_uid}")


if __name__ == "__main__":
    if sys.argv[1] == "--list":
        windows = len(sys.argv) > 2
        print("\n".join(n for n, (_, both) in CASES.items() if both or not windows))
    else:
        tool, data, work, name, *emulator = sys.argv[1:]
        work = os.path.join(work, name)
        os.makedirs(work, exist_ok=True)
        CASES[name][0](Tool(tool, data, work, emulator))
