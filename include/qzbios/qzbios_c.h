/* qzbios for hosts of any compiler and language: the 31 BIOS settings of this machine through a C
 * interface that never throws, beside the C++ one of QZBios.h.
 *
 *   qzbios_snapshot* snapshot = NULL;
 *   if (qzbios_read(&snapshot) == QZBIOS_OK) {
 *       printf("%s\n", qzbios_record(snapshot)->UEFIBO);
 *       qzbios_free(snapshot);
 *   }
 *
 * C99 and C++. Every text is UTF-8 or the firmware's own bytes, exactly as the C++ record holds
 * them. Link qz-shared-qzbios-c (qz-shared-qzbios-c.dll on Windows, libqz-shared-qzbios-c.so.1 on
 * Linux), which stands alone: the library's code and its WMI client are linked into it. */
#ifndef QZBIOS_QZBIOS_C_H
#define QZBIOS_QZBIOS_C_H

#include <stddef.h>
#include <stdint.h>

#include "qzbios/version.h"

#if defined(_WIN32)
#if defined(QZBIOS_C_BUILDING)
#define QZBIOS_C_API __declspec(dllexport)
#else
#define QZBIOS_C_API __declspec(dllimport)
#endif
#define QZBIOS_C_CALL __cdecl
#else
#define QZBIOS_C_API __attribute__((visibility("default")))
#define QZBIOS_C_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One reading of the settings; opaque. */
typedef struct qzbios_snapshot qzbios_snapshot;

/* The record: the same fields, in the same order and with the same layout, as
 * qz::shared::qzbios::QZBiosData. Texts are never null: an attribute the firmware does not report
 * is the empty string, except NetPXEBoot, which is then "NA". Numbers are the setting's leading
 * decimal number, or 0. */
typedef struct qzbios_data {
    const char* RunPowMgmt;
    const char* IdlPowSvngs;
    const char* PS2MsWakeup;
    const char* SlpStBlnkRts;
    const char* SataPowMgmt;
    const char* Multiprocessor;
    const char* Hyperthreading;
    const char* IntgVideo;
    const char* TurboMode;
    const char* VTX;
    const char* MEMgmtMd;
    int32_t BIOAPS;
    int32_t POSTPS;
    const char* RBIOSDGU;
    const char* FastBoot;
    const char* USBSBoot;
    const char* NetPXEBoot;
    const char* LBO;    /* boot order, entries separated by '|' */
    const char* UEFIBO; /* boot order, entries separated by '|' */
    const char* BWBIOSSP;
    const char* EQZFIPD;
    const char* BWSEP;
    const char* VTD;
    const char* FASTCHARGE;
    const char* DPTF;
    int32_t VMS;
    const char* BHM;
    const char* LANWLANswitching;
    const char* LANWWANswitching;
    const char* S5MaxPowSav;
    const char* MeFwVer;
} qzbios_data;

/* Statuses: success; memory ran out; the current Video Memory Size option is three bytes long;
 * a null pointer or a value out of range as an argument; any other failure of the library. */
#define QZBIOS_OK 0
#define QZBIOS_OUT_OF_MEMORY 1
#define QZBIOS_VIDEO_MEMORY_OPTION 2
#define QZBIOS_INVALID_ARGUMENT 3
#define QZBIOS_FAILED 4

/* Where a snapshot's settings came from: nowhere (no provider on this machine, or the query
 * failed), the firmware's WMI provider (Windows), the kernel's firmware-attributes class (Linux),
 * or a capture file named by QZ_WMI_CAPTURE (Linux, for tests and support). */
#define QZBIOS_SOURCE_NONE 0
#define QZBIOS_SOURCE_WMI 1
#define QZBIOS_SOURCE_FIRMWARE_ATTRIBUTES 2
#define QZBIOS_SOURCE_CAPTURE 3

/* What a reading found. `query_status` is 0, or why the settings query failed as WMI reports it
 * (an HRESULT, such as 0x8004100E when the provider's namespace does not exist); `query_text` is
 * that status in words, such as "WBEM_E_INVALID_NAMESPACE, the namespace does not exist
 * (0x8004100E)", or "success", valid until qzbios_free; `published` is how many of the 31 settings
 * the source published, and `unread` how many of those have a value that could not be read. */
typedef struct qzbios_reading {
    int source; /* QZBIOS_SOURCE_... */
    int32_t query_status;
    const char* query_text;
    uint32_t published;
    uint32_t unread;
} qzbios_reading;

/* Reads the settings once. On QZBIOS_OK `*snapshot` holds them until qzbios_free; on any other
 * status it is null. A machine without the settings provider is not an error: every text is
 * empty, and qzbios_reading_of says so. Calls on one snapshot must not overlap qzbios_free;
 * distinct snapshots are independent. */
QZBIOS_C_API int QZBIOS_C_CALL qzbios_read(qzbios_snapshot** snapshot);

/* What the reading of `snapshot` found, into `*reading`. Returns QZBIOS_OK, or
 * QZBIOS_INVALID_ARGUMENT for a null pointer. */
QZBIOS_C_API int QZBIOS_C_CALL qzbios_reading_of(const qzbios_snapshot* snapshot,
                                                 qzbios_reading* reading);

/* The record of `snapshot`, valid with every text it points to until qzbios_free(snapshot); null
 * for a null snapshot. */
QZBIOS_C_API const qzbios_data* QZBIOS_C_CALL qzbios_record(const qzbios_snapshot* snapshot);

/* Releases `snapshot` and its record; a null snapshot is nothing to release. */
QZBIOS_C_API void QZBIOS_C_CALL qzbios_free(qzbios_snapshot* snapshot);

/* A status in words (English, static); "unknown status" for a number that is none. */
QZBIOS_C_API const char* QZBIOS_C_CALL qzbios_status_text(int status);

/* The library's version, such as "1.1.0" (static). */
QZBIOS_C_API const char* QZBIOS_C_CALL qzbios_version(void);

/* Receives one diagnostic record: its severity (plog's: 1 fatal, 2 error, 3 warning, 4 info,
 * 5 debug, 6 verbose), the function that wrote it, its line, its message and the file name of the
 * library that wrote it, all UTF-8 and valid only during the call. It runs on the thread that
 * logged. A call it makes into qzbios (qzbios_read, qzbios_set_logger) is refused with
 * QZBIOS_FAILED, and one error record saying so reaches the callback once it has returned. A C++
 * callback that throws loses its record: the exception is caught where the library calls it. */
typedef void(QZBIOS_C_CALL* qzbios_log_callback)(void* context, int severity, const char* function,
                                                 uint32_t line, const char* message,
                                                 const char* library);

/* Sends qzbios's diagnostic records at `max_severity` (0 none to 6 verbose) or more severe to
 * `callback`, with `context`. As qzSharedInitializeLogger: the severity, callback and context of
 * the first call that succeeds hold for the library's whole life in the process, and every call
 * that succeeds, the first included, makes each record reach the callback once more; a call that
 * fails leaves no callback behind. Calls must not overlap each other or
 * any use of the library. Returns QZBIOS_OK, QZBIOS_INVALID_ARGUMENT for a null callback or a
 * severity outside 0 to 6, or QZBIOS_OUT_OF_MEMORY.
 *
 * Every call that fails writes one error record, which reaches the callback when one is set. */
QZBIOS_C_API int QZBIOS_C_CALL qzbios_set_logger(int max_severity, qzbios_log_callback callback,
                                                 void* context);

#ifdef __cplusplus
}
#endif

#endif /* QZBIOS_QZBIOS_C_H */
