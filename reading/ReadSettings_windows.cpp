// A reading on Windows: the firmware's WMI provider, through the client the library reads with.
#include <exception>
#include <string>

#include "common/WbemStatus.h"
#include "reading/ReadSettings.h"
#include "wmi/SettingsQuery.h"
#include "wmi/WMIClient.h"

namespace qz::shared::reading {

using sources::Reading;

sources::Reading ReadSettings(const sources::SourceRequest& request) noexcept {
    Reading reading;
    try {
        wmi::WMIClient client(wmi::kBiosNamespace);
        reading.status = client.Query(wmi::kSettingsQuery);
        const std::wstring nameProperty = wmi::kNameProperty;
        const std::wstring valueProperty = wmi::kValueProperty;
        sources::RowCollector collector(reading, request.scope, "the provider gave no value");
        while (client.GetNext()) {
            sources::SettingRow row;
            const char* text = nullptr;
            if (client.GetValue(nameProperty, &text) == common::kWbemOk && text != nullptr) {
                row.name = text;
            }
            if (client.GetValue(valueProperty, &text) == common::kWbemOk && text != nullptr) {
                row.value = text;
            }
            collector.Add(std::move(row));
        }
        // A provider that failed or ran out of time while the rows came gives no reading: rows
        // cut short would read as settings the firmware does not publish.
        if (reading.status == common::kWbemOk) {
            reading.status = client.RowsStatus();
        }
        reading.location = "WMI";
        if (reading.status != common::kWbemOk) {
            reading.rows.clear();
            reading.unread.clear();
            reading.otherSettings = 0;
            reading.unnamedRows = 0;
        }
        reading.source =
            reading.status == common::kWbemOk ? sources::Source::Wmi : sources::Source::None;
    } catch (const std::exception&) {
        reading = Reading();
        reading.refusal = sources::Refusal::Memory;
        reading.status = common::kWbemOutOfMemory;
    }
    return reading;
}

}  // namespace qz::shared::reading
