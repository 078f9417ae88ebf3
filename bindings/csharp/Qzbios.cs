// qzbios for C# hosts (.NET and Mono): the 31 BIOS settings and what the reading found, through the
// C interface: libqz-shared-qzbios-c.so.1 on Linux (package libqz-shared-qzbios-c1), and on Windows
// qz-shared-qzbios-c.dll, which stands alone: keep it beside the host's exe.
//
//   var settings = Qzbios.Settings.Read();
//   Console.WriteLine(settings.Fields["UEFIBO"] + " from " + settings.Source);
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Qzbios {

// The record as qzbios_c.h declares it: 28 texts (UTF-8) and 3 numbers, in order.
[StructLayout(LayoutKind.Sequential)]
struct NativeRecord {
    public IntPtr RunPowMgmt, IdlPowSvngs, PS2MsWakeup, SlpStBlnkRts, SataPowMgmt, Multiprocessor,
        Hyperthreading, IntgVideo, TurboMode, VTX, MEMgmtMd;
    public int BIOAPS, POSTPS;
    public IntPtr RBIOSDGU, FastBoot, USBSBoot, NetPXEBoot, LBO, UEFIBO, BWBIOSSP, EQZFIPD, BWSEP,
        VTD, FASTCHARGE, DPTF;
    public int VMS;
    public IntPtr BHM, LANWLANswitching, LANWWANswitching, S5MaxPowSav, MeFwVer;
}

[StructLayout(LayoutKind.Sequential)]
struct NativeReading {
    public int Source, QueryStatus;
    public IntPtr QueryText;
    public uint Published, Unread;
}

// Receives one diagnostic record: severity (1 fatal to 6 verbose), function, line, message and the
// library's file name.
public delegate void LogRecord(int severity, string function, uint line, string message,
                               string library);

public sealed class QzbiosException : Exception {
    public int Status { get; }
    public QzbiosException(int status, string message) : base(message) { Status = status; }
}

public sealed class Settings {
    static readonly string[] Sources = {"none", "wmi", "firmware-attributes", "capture"};

    // The record's fields in order: a string for a text, an int for a number.
    public IReadOnlyDictionary<string, object> Fields { get; private set; }
    public string Source { get; private set; }
    public int QueryStatus { get; private set; }
    public string QueryText { get; private set; }
    public uint Published { get; private set; }
    public uint Unread { get; private set; }

    public static string Version => Text(Native.Version());

    // Reads the settings once. Throws QzbiosException.
    public static Settings Read() {
        int status = Native.Read(out IntPtr snapshot);
        if (status != 0) {
            throw new QzbiosException(status, Text(Native.StatusText(status)));
        }
        try {
            var record = Marshal.PtrToStructure<NativeRecord>(Native.Record(snapshot));
            var fields = new Dictionary<string, object>();
            foreach (var field in typeof(NativeRecord).GetFields()) {
                object value = field.GetValue(record);
                fields[field.Name] = value is IntPtr text ? Text(text) : value;
            }
            Native.ReadingOf(snapshot, out NativeReading found);
            return new Settings {
                Fields = fields, Source = Sources[found.Source], QueryStatus = found.QueryStatus,
                QueryText = Text(found.QueryText), Published = found.Published,
                Unread = found.Unread};
        } finally {
            Native.Free(snapshot);
        }
    }

    // Sends qzbios's diagnostic records at `maxSeverity` (0 to 6) or more severe to `log`. The
    // first call that succeeds holds for the process's life, its severity and callback; so that
    // the runtime never collects a delegate the library may call, every one handed over is kept
    // here for that long. An exception `log` throws is caught here: it never unwinds through the
    // library, and the record is lost.
    public static int SetLogger(int maxSeverity, LogRecord log) {
        Native.Callback callback = (context, severity, function, line, message, library) => {
            try {
                log(severity, Text(function), line, Text(message), Text(library));
            } catch (Exception) {
            }
        };
        lock (Kept) {
            Kept.Add(callback);
        }
        return Native.SetLogger(maxSeverity, callback, IntPtr.Zero);
    }

    static readonly List<Native.Callback> Kept = new List<Native.Callback>();

    static string Text(IntPtr text) {
        if (text == IntPtr.Zero) {
            return null;
        }
        int length = 0;
        while (Marshal.ReadByte(text, length) != 0) {
            ++length;
        }
        var bytes = new byte[length];
        Marshal.Copy(text, bytes, 0, length);
        return System.Text.Encoding.UTF8.GetString(bytes);
    }
}

// The library by its name on each platform.
static class Native {
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void Callback(IntPtr context, int severity, IntPtr function, uint line,
                                  IntPtr message, IntPtr library);
    static readonly bool Windows = Environment.OSVersion.Platform == PlatformID.Win32NT;

    public static int Read(out IntPtr s) => Windows ? W.qzbios_read(out s) : L.qzbios_read(out s);
    public static IntPtr Record(IntPtr s) => Windows ? W.qzbios_record(s) : L.qzbios_record(s);
    public static int ReadingOf(IntPtr s, out NativeReading r) =>
        Windows ? W.qzbios_reading_of(s, out r) : L.qzbios_reading_of(s, out r);
    public static void Free(IntPtr s) { if (Windows) W.qzbios_free(s); else L.qzbios_free(s); }
    public static IntPtr StatusText(int status) =>
        Windows ? W.qzbios_status_text(status) : L.qzbios_status_text(status);
    public static IntPtr Version() => Windows ? W.qzbios_version() : L.qzbios_version();
    public static int SetLogger(int max, Callback c, IntPtr x) =>
        Windows ? W.qzbios_set_logger(max, c, x) : L.qzbios_set_logger(max, c, x);

    static class L {
        const string Lib = "libqz-shared-qzbios-c.so.1";
        [DllImport(Lib)] public static extern int qzbios_read(out IntPtr snapshot);
        [DllImport(Lib)] public static extern IntPtr qzbios_record(IntPtr snapshot);
        [DllImport(Lib)] public static extern int qzbios_reading_of(IntPtr s, out NativeReading r);
        [DllImport(Lib)] public static extern void qzbios_free(IntPtr snapshot);
        [DllImport(Lib)] public static extern IntPtr qzbios_status_text(int status);
        [DllImport(Lib)] public static extern IntPtr qzbios_version();
        [DllImport(Lib)] public static extern int qzbios_set_logger(int max, Callback c, IntPtr x);
    }

    // Looked for beside the assembly only, never in the current folder or along PATH.
    static class W {
        const string Lib = "qz-shared-qzbios-c.dll";
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern int qzbios_read(out IntPtr snapshot);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern IntPtr qzbios_record(IntPtr snapshot);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern int qzbios_reading_of(IntPtr s, out NativeReading r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern void qzbios_free(IntPtr snapshot);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern IntPtr qzbios_status_text(int status);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern IntPtr qzbios_version();
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl),
         DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        public static extern int qzbios_set_logger(int max, Callback c, IntPtr x);
    }
}

}  // namespace Qzbios
