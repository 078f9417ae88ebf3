// A C# host of the C interface through P/Invoke: reads the settings once and prints every field of
// the record, name=value, in declaration order.
using System;
using System.Runtime.InteropServices;

[StructLayout(LayoutKind.Sequential)]
struct QZBiosData {
    public IntPtr RunPowMgmt, IdlPowSvngs, PS2MsWakeup, SlpStBlnkRts, SataPowMgmt, Multiprocessor,
        Hyperthreading, IntgVideo, TurboMode, VTX, MEMgmtMd;
    public int BIOAPS, POSTPS;
    public IntPtr RBIOSDGU, FastBoot, USBSBoot, NetPXEBoot, LBO, UEFIBO, BWBIOSSP, EQZFIPD, BWSEP,
        VTD, FASTCHARGE, DPTF;
    public int VMS;
    public IntPtr BHM, LANWLANswitching, LANWWANswitching, S5MaxPowSav, MeFwVer;
}

static class QzbiosHost {
    const string Library = "qz-shared-qzbios-c";
    [DllImport(Library)] static extern int qzbios_read(out IntPtr snapshot);
    [DllImport(Library)] static extern IntPtr qzbios_record(IntPtr snapshot);
    [DllImport(Library)] static extern void qzbios_free(IntPtr snapshot);
    [DllImport(Library)] static extern IntPtr qzbios_status_text(int status);

    static int Main() {
        int status = qzbios_read(out IntPtr snapshot);
        if (status != 0) {
            Console.Error.WriteLine("qzbios_read: " + Marshal.PtrToStringAnsi(qzbios_status_text(status)));
            return 1;
        }
        QZBiosData record = Marshal.PtrToStructure<QZBiosData>(qzbios_record(snapshot));
        foreach (var field in typeof(QZBiosData).GetFields()) {
            object value = field.GetValue(record);
            // The texts are UTF-8 (or the firmware's own bytes).
            Console.WriteLine(field.Name + "=" + (value is IntPtr text ? Marshal.PtrToStringUTF8(text) : value));
        }
        qzbios_free(snapshot);
        return 0;
    }
}
