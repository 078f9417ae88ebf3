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

/* A small number (a severity, the video memory of a machine without the provider). */
static void PutDigit(int number) {
    const char digit[2] = {(char)('0' + number % 10), '\0'};
    Put(digit);
}

static void QZBIOS_C_CALL Logged(void* context, int severity, const char* function, uint32_t line,
                                 const char* message, const char* library) {
    (void)context;
    (void)line;
    Put("log: ");
    PutDigit(severity);
    Put(" ");
    Put(library);
    Put(" ");
    Put(function);
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
    PutDigit(record->VMS);
    Put("\nMeFwVer=");
    Put(record->MeFwVer);
    Put("\nversion=");
    Put(qzbios_version());
    Put("\n");
    qzbios_free(snapshot);
    ExitProcess(0);
}
