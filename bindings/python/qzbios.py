# qzbios for Python hosts: the 31 BIOS settings and what the reading found, through the C interface.
# On Linux it loads libqz-shared-qzbios-c.so.1 (package libqz-shared-qzbios-c1); on Windows
# qz-shared-qzbios-c.dll by its full path beside this module (the MSI installs both in bin\), since
# Python 3.8 and later look for a DLL neither on PATH nor in the current folder.
#
#   import qzbios
#   fields, reading = qzbios.read()
#   print(fields["UEFIBO"], reading["source"], reading["published"])
import ctypes
import os
import sys

_TEXT, _NUMBER = ctypes.c_char_p, ctypes.c_int32
# The record's fields in order, as qzbios_c.h declares them: 28 texts and 3 numbers.
FIELDS = (("RunPowMgmt", _TEXT), ("IdlPowSvngs", _TEXT), ("PS2MsWakeup", _TEXT),
          ("SlpStBlnkRts", _TEXT), ("SataPowMgmt", _TEXT), ("Multiprocessor", _TEXT),
          ("Hyperthreading", _TEXT), ("IntgVideo", _TEXT), ("TurboMode", _TEXT), ("VTX", _TEXT),
          ("MEMgmtMd", _TEXT), ("BIOAPS", _NUMBER), ("POSTPS", _NUMBER), ("RBIOSDGU", _TEXT),
          ("FastBoot", _TEXT), ("USBSBoot", _TEXT), ("NetPXEBoot", _TEXT), ("LBO", _TEXT),
          ("UEFIBO", _TEXT), ("BWBIOSSP", _TEXT), ("EQZFIPD", _TEXT), ("BWSEP", _TEXT),
          ("VTD", _TEXT), ("FASTCHARGE", _TEXT), ("DPTF", _TEXT), ("VMS", _NUMBER), ("BHM", _TEXT),
          ("LANWLANswitching", _TEXT), ("LANWWANswitching", _TEXT), ("S5MaxPowSav", _TEXT),
          ("MeFwVer", _TEXT))
SOURCES = ("none", "wmi", "firmware-attributes", "capture")


class _Record(ctypes.Structure):
    _fields_ = list(FIELDS)


class _Reading(ctypes.Structure):
    _fields_ = [("source", ctypes.c_int), ("query_status", ctypes.c_int32),
                ("query_text", ctypes.c_char_p), ("published", ctypes.c_uint32),
                ("unread", ctypes.c_uint32)]


class Error(Exception):
    """qzbios_read failed: `status` is its status, the message its words."""

    def __init__(self, status, text):
        super().__init__(text)
        self.status = status


class HResult(int):
    """A status as WMI reports it: an int that shows as its HRESULT, such as 0x80041001."""

    def __repr__(self):
        return f"0x{self:08X}"

    __str__ = __repr__


def _load():
    if sys.platform == "win32":
        here = os.path.dirname(os.path.abspath(__file__))
        return ctypes.CDLL(os.path.join(here, "qz-shared-qzbios-c.dll"))
    return ctypes.CDLL("libqz-shared-qzbios-c.so.1")


_c = _load()
_c.qzbios_read.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
_c.qzbios_record.argtypes = [ctypes.c_void_p]
_c.qzbios_record.restype = ctypes.POINTER(_Record)
_c.qzbios_reading_of.argtypes = [ctypes.c_void_p, ctypes.POINTER(_Reading)]
_c.qzbios_free.argtypes = [ctypes.c_void_p]
_c.qzbios_status_text.restype = ctypes.c_char_p
_c.qzbios_version.restype = ctypes.c_char_p

VERSION = _c.qzbios_version().decode()


def read():
    """Reads the settings once. Returns the record as a dict of its fields in order (texts as str,
    bytes that are not UTF-8 as U+FFFD; numbers as int) and what the reading found: its source (one
    of SOURCES), the settings query's status (0, or its HRESULT, shown as one) in number and words
    (bytes that are not UTF-8 as U+FFFD), how many of the 31 settings were published, and how many
    of those could not be read. Raises Error."""
    snapshot = ctypes.c_void_p()
    status = _c.qzbios_read(ctypes.byref(snapshot))
    if status != 0:
        raise Error(status, _c.qzbios_status_text(status).decode())
    try:
        record = _c.qzbios_record(snapshot).contents
        fields = {name: getattr(record, name).decode("utf-8", "replace") if kind is _TEXT
                  else getattr(record, name) for name, kind in FIELDS}
        found = _Reading()
        _c.qzbios_reading_of(snapshot, ctypes.byref(found))
        reading = {"source": SOURCES[found.source],
                   "query_status": HResult(found.query_status & 0xFFFFFFFF),
                   "query_text": found.query_text.decode("utf-8", "replace"),
                   "published": found.published, "unread": found.unread}
    finally:
        _c.qzbios_free(snapshot)
    return fields, reading
