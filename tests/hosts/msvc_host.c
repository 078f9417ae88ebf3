/* A C host built for the MSVC ABI (clang --target=x86_64-pc-windows-msvc, lld-link) that uses
 * nothing but qzbios_c.h and three functions of kernel32: no C runtime of any compiler. It installs
 * a log callback, reads the settings and prints every text field and the log records it received,
 * one a line. */
#include "qzbios/qzbios_c.h"

typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int status);

static void Put(const char* text) {
    unsigned long size = 0;
    unsigned long written = 0;
    while (text[size] != '\0') {
        ++size;
    }
    WriteFile(GetStdHandle((unsigned long)-11), text, size, &written, 0);
}

static void PutNumber(long long number) {
    char digits[24];
    int at = 23;
    unsigned long long magnitude =
        number < 0 ? 0ULL - (unsigned long long)number : (unsigned long long)number;
    digits[at] = '\0';
    do {
        digits[--at] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) {
        digits[--at] = '-';
    }
    Put(digits + at);
}

static void QZBIOS_C_CALL Logged(void* context, int severity, const char* function, uint32_t line,
                                 const char* message, const char* library) {
    (void)context;
    Put("log: ");
    PutNumber(severity);
    Put(" ");
    Put(library);
    Put(" ");
    Put(function);
    Put(":");
    PutNumber(line);
    Put(": ");
    Put(message);
    Put("\n");
}

void __stdcall start(void) {
    qzbios_snapshot* snapshot = 0;
    const qzbios_data* record;
    int status = qzbios_set_logger(5, Logged, 0);
    if (status == QZBIOS_OK) {
        status = qzbios_read(&snapshot);
    }
    if (status != QZBIOS_OK) {
        Put(qzbios_status_text(status));
        Put("\n");
        ExitProcess(1);
    }
    record = qzbios_record(snapshot);
    Put("NetPXEBoot=");
    Put(record->NetPXEBoot);
    Put("\nVMS=");
    PutNumber(record->VMS);
    Put("\nMeFwVer=");
    Put(record->MeFwVer);
    Put("\nversion=");
    Put(qzbios_version());
    Put("\n");
    qzbios_free(snapshot);
    ExitProcess(0);
}
