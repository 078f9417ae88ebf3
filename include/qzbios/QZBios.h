// qzbios: a fixed selection of 31 BIOS settings of this machine, read once and handed out as flat
// records.
//
//   qz::shared::qzbios::QZBios bios;          // reads the settings now
//   std::uint64_t count = 0;
//   qz::shared::qzbios::QZBiosData* records = bios.GetQZBiosData(count);
//   std::printf("%s\n", records[0].UEFIBO);    // texts stay valid while `bios` lives
//
// Nothing handed out is ever freed by the host: the object owns it all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <plog/Appenders/IAppender.h>

#include "qzbios/version.h"

// A build that links the library's code into a module of its own defines QZBIOS_API empty.
#if !defined(QZBIOS_API)
#if defined(_WIN32)
#if defined(QZBIOS_BUILDING)
#define QZBIOS_API __declspec(dllexport)
#else
#define QZBIOS_API __declspec(dllimport)
#endif
#else
#define QZBIOS_API __attribute__((visibility("default")))
#endif
#endif

namespace qz::shared::qzbios {

class QZBiosImpl;

// One snapshot of the BIOS attributes as a plain record of fixed layout. Text fields are never
// null: each points to a NUL-terminated narrow string owned by the QZBios object that produced the
// record, with the bytes exactly as the firmware reported them (no character set conversion). An
// attribute the firmware does not report is the empty string, except NetPXEBoot, which is then
// "NA". Number fields are the setting's leading decimal number, or 0 when it has none or it does
// not fit.
struct QZBIOS_API QZBiosData {
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
    std::int32_t BIOAPS;
    std::int32_t POSTPS;
    const char* RBIOSDGU;
    const char* FastBoot;
    const char* USBSBoot;
    const char* NetPXEBoot;
    const char* LBO;     // boot order, entries separated by '|'
    const char* UEFIBO;  // boot order, entries separated by '|'
    const char* BWBIOSSP;
    const char* EQZFIPD;
    const char* BWSEP;
    const char* VTD;
    const char* FASTCHARGE;
    const char* DPTF;
    std::int32_t VMS;
    const char* BHM;
    const char* LANWLANswitching;
    const char* LANWWANswitching;
    const char* S5MaxPowSav;
    const char* MeFwVer;
};

// Reads the BIOS settings once, in the constructor, and keeps that snapshot for its whole life.
// Calls on one object must not overlap; distinct objects are independent and may be used on
// different threads at once.
class QZBIOS_API QZBios {
public:
    // Reads the settings. A setting the firmware does not report, or a machine without the BIOS
    // settings provider, gives empty values, not an error. Throws std::bad_alloc when memory runs
    // out, and std::out_of_range when the current Video Memory Size option is exactly three bytes
    // long; no object exists then.
    QZBios();
    ~QZBios();

    QZBios(const QZBios&) = delete;
    QZBios& operator=(const QZBios&) = delete;

    // Appends one record of the snapshot to the object's record list and returns the whole list:
    // `count` receives the number of records (the k-th call gives k equal records) and the result
    // points to the first one. The array stays valid until the next call on this object or its
    // destruction; the texts that records point to stay valid until the object is destroyed, so a
    // copied record may be kept that long. Throws std::bad_alloc when the list cannot grow; the
    // records already in it are then unchanged.
    QZBiosData* GetQZBiosData(std::uint64_t& count);

private:
    std::unique_ptr<QZBiosImpl> m_impl;
};

}  // namespace qz::shared::qzbios

// Sends the library's diagnostic records to the host's plog appender, tagged with the library's
// file name as the record's object (a NUL-terminated plog::util::nchar string). `maxSeverity` is a
// plog::Severity value. The severity and the appender of the first call hold for the library's
// whole life in the process; every call, the first included, adds one more forwarding entry, so
// after n calls each record reaches the appender n times. `appender` must not be null and must
// outlive the library. Calls must not overlap each other or any use of the library. The host and
// the library must use the same plog release.
extern "C" QZBIOS_API void qzSharedInitializeLogger(std::int32_t maxSeverity,
                                                    plog::IAppender* appender);
