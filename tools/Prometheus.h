// The record in the Prometheus text exposition format 0.0.4, as node_exporter's and
// windows_exporter's textfile collectors read it.
#pragma once

#include <cstddef>
#include <string>

#include "Published.h"
#include "qzbios/QZBios.h"

namespace qz::tools {

// The fields exactly as a host reads them (text fields as the value label of qzbios_setting_info,
// numbers as qzbios_setting_value), each only when the source publishes its setting and its value
// was read; how many of the 31 are published and how many settings the source holds; where they
// came from (`source`: "capture", "firmware-attributes", "wmi" or "none") and how many published
// settings' values could not be read. Label values are escaped as the format asks (backslash,
// double quote, line feed) and bytes that are not UTF-8 become U+FFFD; nothing else changes.
std::string PrometheusText(const shared::qzbios::QZBiosData& record, const Publication& publication,
                           const std::string& source, std::size_t unreadable);

}  // namespace qz::tools
