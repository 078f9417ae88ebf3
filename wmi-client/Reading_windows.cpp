// A reading on Windows: the firmware's WMI provider, through the client the library reads with.
#include <exception>
#include <string>

#include "Reading.h"
#include "WbemStatus.h"
#include "wmi/SettingsQuery.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

SourceRequest RequestFromEnvironment() { return SourceRequest(); }

Reading ReadSettings(const SourceRequest& request) noexcept {
    Reading reading;
    try {
        WMIClient client(kBiosNamespace);
        reading.status = client.Query(kSettingsQuery);
        const std::wstring nameProperty = kNameProperty;
        const std::wstring valueProperty = kValueProperty;
        RowCollector collector(reading, request.scope, "the provider gave no value");
        while (client.GetNext()) {
            CaptureRow row;
            const char* text = nullptr;
            if (client.GetValue(nameProperty, &text) == kWbemOk && text != nullptr) {
                row.name = text;
            }
            if (client.GetValue(valueProperty, &text) == kWbemOk && text != nullptr) {
                row.value = text;
            }
            collector.Add(std::move(row));
        }
        reading.location = "WMI";
        reading.source = reading.status == kWbemOk ? Source::Wmi : Source::None;
    } catch (const std::exception&) {
        reading = Reading();
        reading.refused = Refusal::Memory;
        reading.status = kWbemOutOfMemory;
    }
    return reading;
}

}  // namespace qz::shared::wmi
