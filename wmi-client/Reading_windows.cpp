// A reading on Windows: the firmware's WMI provider, through the client the library reads with.
#include <exception>
#include <set>
#include <string>

#include "Reading.h"
#include "WbemStatus.h"
#include "bios/AttributeTable.h"
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
        std::set<std::string> others;
        while (client.GetNext()) {
            CaptureRow row;
            const char* text = nullptr;
            if (client.GetValue(nameProperty, &text) == kWbemOk && text != nullptr) {
                row.name = text;
            }
            if (client.GetValue(valueProperty, &text) == kWbemOk && text != nullptr) {
                row.value = text;
            }
            reading.unnamedRows += row.name ? 0U : 1U;
            if (request.scope == Scope::Every ||
                (row.name && qzbios::IsAttributeSetting(*row.name))) {
                if (!row.value) {
                    reading.unread[reading.rows.size()] = "the provider gave no value";
                }
                reading.rows.push_back(std::move(row));
            } else if (row.name) {
                others.insert(*row.name);
            }
        }
        reading.otherSettings = others.size();
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
