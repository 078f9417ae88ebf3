// The qzbios class shape for C++ hosts of any compiler (MSVC, clang, MinGW g++), header-only over
// the C interface of qzbios_c.h: what crosses the library's boundary is C, and the exceptions a
// host catches are its own runtime's.
//
//   qzbios_c::QZBios bios;                        // reads the settings now
//   std::uint64_t count = 0;
//   qzbios_c::QZBiosData* records = bios.GetQZBiosData(count);
//   std::printf("%s\n", records[count - 1].UEFIBO);
//
// The namespace is qzbios_c, not the library's qz::shared::qzbios: this class is the host's own,
// compiled with the host, and needs nothing of the C++ library's ABI.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <vector>

#include "qzbios/qzbios_c.h"

namespace qzbios_c {

using QZBiosData = qzbios_data;

// As qz::shared::qzbios::QZBios: the constructor reads the settings once; GetQZBiosData appends one
// record each call and returns them all.
class QZBios {
public:
    // Throws std::bad_alloc when memory runs out, std::out_of_range when the current Video Memory
    // Size option is three bytes long, and std::runtime_error on any other failure of the library.
    QZBios() {
        const int status = qzbios_read(&m_snapshot);
        if (status == QZBIOS_OUT_OF_MEMORY) {
            throw std::bad_alloc();
        }
        if (status == QZBIOS_VIDEO_MEMORY_OPTION) {
            throw std::out_of_range(qzbios_status_text(status));
        }
        if (status != QZBIOS_OK) {
            throw std::runtime_error(qzbios_status_text(status));
        }
    }
    ~QZBios() { qzbios_free(m_snapshot); }

    QZBios(const QZBios&) = delete;
    QZBios& operator=(const QZBios&) = delete;

    // `count` receives the number of records; the array is valid until the next call, the texts
    // until the object is destroyed. Throws std::bad_alloc when the list cannot grow.
    QZBiosData* GetQZBiosData(std::uint64_t& count) {
        m_records.push_back(*qzbios_record(m_snapshot));
        count = m_records.size();
        return m_records.data();
    }

private:
    qzbios_snapshot* m_snapshot = nullptr;
    std::vector<QZBiosData> m_records;
};

}  // namespace qzbios_c
