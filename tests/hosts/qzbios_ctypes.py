#!/usr/bin/env python3
# A Python host of the C interface through ctypes: reads the settings once and prints every field
# of the record, name=value, in declaration order.
#   qzbios_ctypes.py [LIBRARY]    libqz-shared-qzbios-c.so.1 from the loader's path by default
import ctypes, sys

TEXT, NUMBER = ctypes.c_char_p, ctypes.c_int32
FIELDS = [("RunPowMgmt", TEXT), ("IdlPowSvngs", TEXT), ("PS2MsWakeup", TEXT), ("SlpStBlnkRts", TEXT),
          ("SataPowMgmt", TEXT), ("Multiprocessor", TEXT), ("Hyperthreading", TEXT), ("IntgVideo", TEXT),
          ("TurboMode", TEXT), ("VTX", TEXT), ("MEMgmtMd", TEXT), ("BIOAPS", NUMBER), ("POSTPS", NUMBER),
          ("RBIOSDGU", TEXT), ("FastBoot", TEXT), ("USBSBoot", TEXT), ("NetPXEBoot", TEXT), ("LBO", TEXT),
          ("UEFIBO", TEXT), ("BWBIOSSP", TEXT), ("EQZFIPD", TEXT), ("BWSEP", TEXT), ("VTD", TEXT),
          ("FASTCHARGE", TEXT), ("DPTF", TEXT), ("VMS", NUMBER), ("BHM", TEXT), ("LANWLANswitching", TEXT),
          ("LANWWANswitching", TEXT), ("S5MaxPowSav", TEXT), ("MeFwVer", TEXT)]


class QZBiosData(ctypes.Structure):
    _fields_ = FIELDS


qzbios = ctypes.CDLL(sys.argv[1] if len(sys.argv) > 1 else "libqz-shared-qzbios-c.so.1")
qzbios.qzbios_read.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
qzbios.qzbios_record.argtypes = [ctypes.c_void_p]
qzbios.qzbios_record.restype = ctypes.POINTER(QZBiosData)
qzbios.qzbios_free.argtypes = [ctypes.c_void_p]
qzbios.qzbios_status_text.restype = ctypes.c_char_p

snapshot = ctypes.c_void_p()
status = qzbios.qzbios_read(ctypes.byref(snapshot))
if status != 0:
    sys.exit("qzbios_read: " + qzbios.qzbios_status_text(status).decode())
record = qzbios.qzbios_record(snapshot).contents
for name, kind in FIELDS:
    value = getattr(record, name)
    print(f"{name}={value.decode('utf-8', 'replace') if kind is TEXT else value}")
qzbios.qzbios_free(snapshot)
