#!/usr/bin/env python3
"""Firmware for two of the kernel's firmware-attributes drivers, made from a capture: ACPI tables
(ASL source, for iasl), each a WMI device (PNP0C14) serving the capture's settings the way its
driver asks for them.   firmware.py CAPTURE FOLDER   writes FOLDER/thinklmi.asl and FOLDER/dell.asl

think-lmi: the settings block ("Name,Value" per instance), the password-settings block and the
method that lists a setting's options. dell-wmi-sysman (which also wants the SMBIOS OEM string
"Dell System"): the enumeration, integer, string and password-object blocks, and the two methods it
needs to find. A value that marks an option with '*' is an enumeration, a decimal one an integer,
any other a string. Text is stored as bytes and made a string when read, so that UTF-8 reaches the
driver."""
import json
import re
import sys
import uuid


def package(items):
    def item(i):
        if isinstance(i, str):
            return "Buffer () {%s}" % ", ".join(map(str, i.encode() + b"\0"))
        return package(i) if isinstance(i, list) else str(i)
    return "Package () {%s}" % ", ".join(map(item, items))


def device(name, blocks, body):
    """blocks: (GUID, two-letter object id, instance count, flags) for each block of _WDG."""
    wdg = b"".join(uuid.UUID(g).bytes_le + oid.encode() + bytes([count, flags])
                   for g, oid, count, flags in blocks)
    return """DefinitionBlock ("", "SSDT", 2, "QZBIOS", "%s", 1) {
    Scope (\\_SB) { Device (%s) {
        Name (_HID, "PNP0C14")
        Name (_UID, "%s")
        Name (_WDG, Buffer () {%s})
%s
    } }
}
""" % (name, name, name, ", ".join(map(str, wdg)), body)


def rows(capture):
    with open(capture, encoding="utf-8-sig") as f:
        for row in json.load(f):
            options = row["Value"].split(",")
            marked = [o[1:] for o in options if o.startswith("*")]
            yield (row["Name"], marked[0], [o.lstrip("*") for o in options]) if marked else \
                (row["Name"], row["Value"], [])


def thinklmi(settings):
    pwdcfg = [0] * 8 + [4, 0, 0, 0, 64] + [0] * 51  # no password set, lengths 4 to 64
    body = """        Name (SETS, %s)
        Name (NAMS, %s)
        Name (OPTS, %s)
        Method (WQAA, 1) { Return (ToString (DerefOf (SETS [Arg0]), Ones)) }
        Method (WQAB, 1) { Return (Buffer () {%s}) }
        Method (WMAC, 3) {
            For (Local0 = 0, Local0 < SizeOf (NAMS), Local0++) {
                If (ToString (DerefOf (NAMS [Local0]), Ones) == Arg2) {
                    Return (ToString (DerefOf (OPTS [Local0]), Ones))
                }
            }
            Return ("")
        }""" % (package([n + "," + v for n, v, _ in settings]),
                package([n.replace("/", "\\") for n, _, _ in settings]),  # as the driver names it
                package([",".join(o) for _, _, o in settings]), ", ".join(map(str, pwdcfg)))
    return device("TLMI", [("51F5230E-9677-46CD-A1CF-C0B23EE34DB7", "AA", len(settings), 0),
                           ("8ADB159E-1E32-455C-BC93-308A7ED98246", "AB", 1, 0),
                           ("7364651A-132F-4FE7-ADAA-40C6C7EE2E3B", "AC", 1, 6)], body)


def dell(settings):
    kinds = {"ENUM": [], "INTS": [], "STRS": []}
    for name, value, options in settings:
        head = [re.sub("[^A-Za-z0-9]", "", name), "en", name]
        if options:
            kinds["ENUM"].append(head + [value, value, "", 0, len(options)] + options)
        elif value.isdecimal():
            kinds["INTS"].append(head + [int(value), int(value), "", 0, 65535, 1])
        else:
            kinds["STRS"].append(head + [value, value, "", 0, 512])
    kinds["PWDS"] = [["Admin", 0, 4, 32], ["System", 0, 4, 32]]
    body = """        Method (TEXT, 1, Serialized) { // Arg0 with its buffers made strings
            Local1 = Package (SizeOf (Arg0)) {}
            For (Local0 = 0, Local0 < SizeOf (Arg0), Local0++) {
                Local2 = DerefOf (Arg0 [Local0])
                If (ObjectType (Local2) == 3) { Local2 = ToString (Local2, Ones) }
                Local1 [Local0] = Local2
            }
            Return (Local1)
        }
        Method (WMBE, 3) { Return (0) }
        Method (WMBF, 3) { Return (0) }"""
    for i, (kind, instances) in enumerate(kinds.items()):
        body += "\n        Name (%s, %s)\n        Method (WQB%s, 1) { Return (TEXT (DerefOf " \
            "(%s [Arg0]))) }" % (kind, package(instances), "ABCD"[i], kind)
    guid = "F1DDEE52-063C-4784-A11E-8A06684B9B"
    return device("DELL", [(guid + "F5", "BA", len(kinds["ENUM"]), 0),
                           (guid + "FA", "BB", len(kinds["INTS"]), 0),
                           (guid + "F9", "BC", len(kinds["STRS"]), 0),
                           ("0894B8D6-44A6-4719-97D7-6AD24108BFD4", "BD", 2, 0),
                           (guid + "F4", "BE", 1, 2),
                           ("70FE8229-D03B-4214-A1C6-1F884B1A892A", "BF", 1, 2)], body)


if __name__ == "__main__":
    settings = list(rows(sys.argv[1]))
    for name, make in (("thinklmi", thinklmi), ("dell", dell)):
        with open("%s/%s.asl" % (sys.argv[2], name), "w") as f:
            f.write(make(settings))
