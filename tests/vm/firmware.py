#!/usr/bin/env python3
"""Firmware for two of the kernel's firmware-attributes drivers, made from a capture: ACPI tables
(ASL source, for iasl) each declaring a WMI device (PNP0C14) that serves the capture's settings the
way the driver asks for them.

  firmware.py CAPTURE FOLDER    writes FOLDER/thinklmi.asl and FOLDER/dell.asl

thinklmi.asl: think-lmi's settings block ("Name,Value" per instance), its password-settings
block, and the method that lists a setting's options. dell.asl: dell-wmi-sysman's enumeration,
integer, string and password-object blocks, and the two methods whose presence it needs; that driver
also wants the SMBIOS OEM string "Dell System". A value that marks one of its options with '*' is an
enumeration, a decimal one an integer, anything else a string. Text is stored as bytes and turned
into strings when read, so that any UTF-8 reaches the driver unchanged."""
import json
import re
import sys
import uuid


def data(text):
    return "Buffer () {%s}" % ", ".join(str(b) for b in text.encode() + b"\0")


def package(items):
    return "Package () {%s}" % ", ".join(
        data(i) if isinstance(i, str) else (package(i) if isinstance(i, list) else str(i))
        for i in items)


def device(name, blocks, body):
    """blocks: (GUID, two-letter object id, instance count, flags) per block of _WDG."""
    wdg = b"".join(uuid.UUID(g).bytes_le + oid.encode() + bytes([count, flags])
                   for g, oid, count, flags in blocks)
    return """DefinitionBlock ("", "SSDT", 2, "QZBIOS", "%s", 1)
{
    Scope (\\_SB)
    {
        Device (%s)
        {
            Name (_HID, "PNP0C14")
            Name (_UID, "%s")
            Name (_WDG, Buffer () {%s})
            // A copy of the package Arg0 with its buffers as strings.
            Method (TEXT, 1, Serialized)
            {
                Local0 = SizeOf (Arg0)
                Local1 = Package (Local0) {}
                Local2 = 0
                While (Local2 < Local0)
                {
                    Local3 = DerefOf (Arg0 [Local2])
                    If (ObjectType (Local3) == 3)
                    {
                        Local3 = ToString (Local3, Ones)
                    }
                    Local1 [Local2] = Local3
                    Local2++
                }
                Return (Local1)
            }
%s
        }
    }
}
""" % (name, name, name, ", ".join(str(b) for b in wdg), body)


def rows(capture):
    with open(capture, encoding="utf-8-sig") as f:
        for row in json.load(f):
            value = row["Value"]
            options = value.split(",")
            marked = [o[1:] for o in options if o.startswith("*")]
            yield row["Name"], (marked[0] if marked else value), \
                ([o.lstrip("*") for o in options] if marked else None)


def thinklmi(settings):
    pwdcfg = bytes(64)  # password mode and state 0, lengths 4 to 64
    pwdcfg = pwdcfg[:8] + (4).to_bytes(4, "little") + (64).to_bytes(4, "little") + pwdcfg[16:]
    body = """            Name (SETS, %s)
            Method (WQAA, 1) { Return (ToString (DerefOf (SETS [Arg0]), Ones)) }
            Method (WQAB, 1) { Return (Buffer () {%s}) }
            Name (NAMS, %s)
            Name (OPTS, %s)
            Method (WMAC, 3)
            {
                Local0 = 0
                While (Local0 < SizeOf (NAMS))
                {
                    If (ToString (DerefOf (NAMS [Local0]), Ones) == Arg2)
                    {
                        Return (ToString (DerefOf (OPTS [Local0]), Ones))
                    }
                    Local0++
                }
                Return ("")
            }""" % (package([n + "," + v for n, v, _ in settings]), ", ".join(map(str, pwdcfg)),
                    package([n.replace("/", "\\") for n, _, _ in settings]),
                    package([",".join(o or []) for _, _, o in settings]))
    return device("TLMI", [("51F5230E-9677-46CD-A1CF-C0B23EE34DB7", "AA", len(settings), 0),
                           ("8ADB159E-1E32-455C-BC93-308A7ED98246", "AB", 1, 0),
                           ("7364651A-132F-4FE7-ADAA-40C6C7EE2E3B", "AC", 1, 6)], body)


def dell(settings):
    kinds = {"ENUM": [], "INTS": [], "STRS": []}
    enabled = {}
    for name, value, options in settings:
        head = [re.sub("[^A-Za-z0-9]", "", name), "en", name]
        if options:
            kinds["ENUM"].append(head + [value, value, "", 0, len(options)] + options)
        elif re.fullmatch("[0-9]+", value):
            kinds["INTS"].append(head + [int(value), int(value), "", 0, 65535, 1])
            enabled[name] = int(value)
        else:
            kinds["STRS"].append(head + [value, value, "", 0, 512])
    kinds["PWDS"] = [["Admin", enabled.get("Setup Password", 0), 4, 32],
                     ["System", enabled.get("Power-On Password", 0), 4, 32]]
    body = "\n".join("            Name (%s, %s)\n            Method (WQB%s, 1) "
                     "{ Return (TEXT (DerefOf (%s [Arg0]))) }" % (k, package(v), "ABCD"[i], k)
                     for i, (k, v) in enumerate(kinds.items()))
    body += "".join("\n            Method (WMB%s, 3) { Return (0) }" % m for m in "EF")
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
