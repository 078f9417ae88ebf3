// The record as qzbios-dump writes it: a table, JSON, or the Prometheus text exposition format.
#pragma once

#include <string>

#include "qzbios/QZBios.h"
#include "reading/Record.h"
#include "sources/Reading.h"

namespace qz::tools {

// One line a field (field, value, type), columns aligned by the width a terminal gives them, and
// every value as common::TerminalText shows it.
std::string Table(const shared::qzbios::QZBiosData& record);

// The most bytes of a setting's device, name and value that --all-settings shows; the rest is cut,
// so that a series of it holds less than 4 KiB even escaped, and a tree's textfile at most its
// 4096 attributes' series.
constexpr std::size_t kMaxFirmwareValueBytes = 256;

// One JSON object of the fields in declaration order, indented or on one line, terminal-safe as
// common::TerminalText makes JSON; a byte that is not UTF-8 becomes U+FFFD. With `every`, a last
// member "firmware_settings" lists every setting of that reading: its device ("" but for a tree),
// name and current value as read (null when it could not be), cut to kMaxFirmwareValueBytes.
std::string Json(const shared::qzbios::QZBiosData& record, bool oneLine,
                 const shared::sources::Reading* every = nullptr);

// The Prometheus text format 0.0.4, as node_exporter's and windows_exporter's textfile collectors
// read it: the fields exactly as a host reads them (text fields as the value label of
// qzbios_setting_info, numbers as qzbios_setting_value), each only when the source publishes its
// setting and its value was read; how many of the 31 are published, how many settings the source
// holds, where they came from, and how many of the 31 published have a value that was not read.
// A label value holds the text as the table shows it, then escaped as the format asks. With
// `every`, qzbios_firmware_setting_info{device,setting,value} adds each setting of that reading
// whose value was read (the last row of a name on a device), the value cut to
// kMaxFirmwareValueBytes.
std::string PrometheusText(const shared::qzbios::QZBiosData& record,
                           const shared::reading::Coverage& coverage,
                           shared::sources::Source source,
                           const shared::sources::Reading* every = nullptr);

// "capture", "firmware-attributes", "wmi" or "none".
const char* SourceName(shared::sources::Source source);

}  // namespace qz::tools
