// The C# binding keeps every delegate the library may call: the first one set, after a second and a
// collection, still receives each record, once per call that set one; and the exception it throws
// never unwinds through the library.
using System;

class Failures {
    static void Main() {
        int seen = 0;
        Qzbios.Settings.SetLogger(5, (severity, function, line, message, library) => {
            ++seen;
            throw new InvalidOperationException(message);
        });
        Qzbios.Settings.SetLogger(5, (severity, function, line, message, library) => { });
        GC.Collect();
        GC.WaitForPendingFinalizers();
        for (int i = 0; i < 3; ++i) {
            Qzbios.Settings.Read();
        }
        Console.WriteLine(seen);
    }
}
