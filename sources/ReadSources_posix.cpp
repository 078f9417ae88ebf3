// A reading of the sources: a capture file, or the kernel's firmware-attributes tree.
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "common/WbemStatus.h"
#include "sources/Capture.h"
#include "sources/FirmwareAttributes.h"
#include "sources/Reading.h"

namespace qz::shared::sources {

namespace {

const char kDefaultRoot[] = "/sys/class/firmware-attributes";
const char kCaptureVariable[] = "QZ_WMI_CAPTURE";
const char kRootVariable[] = "QZ_FIRMWARE_ATTRIBUTES_DIR";

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// What is wrong with a firmware-attributes folder the caller names: not a folder, or a device or a
// device's attributes folder rather than the folder that holds the devices; empty when nothing is.
std::string CheckNamedRoot(const std::string& root) {
    std::string trimmed = root;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    const std::size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "." : trimmed.substr(0, slash);
    const std::string shown = std::string(kRootVariable) + " names '" + root + "'";
    if (!IsDirectory(root)) {
        return shown + ", which is not a folder: " + std::strerror(errno);
    }
    const std::string instead = "; name the folder that holds its devices instead, '";
    if (IsDirectory(root + "/attributes")) {
        return shown + ", a firmware-attributes device" + instead + parent + "'";
    }
    const std::size_t up = parent.rfind('/');
    if (trimmed.substr(slash + 1) == "attributes" && slash != std::string::npos &&
        up != std::string::npos) {
        return shown + ", the attributes folder of a device" + instead + parent.substr(0, up) + "'";
    }
    return std::string();
}

// The capture's rows in the scope, the settings beyond it counted by name.
void ReadCaptureRows(const SourceRequest& request, Reading& reading) {
    std::vector<SettingRow> rows;
    std::string error;
    const std::string& path = *request.capture;
    if (!(request.anyFile ? ReadCapture(path, rows, error) : LoadCaptureFile(path, rows, error))) {
        reading.refusal = IsOutOfMemory(error) ? Refusal::Memory : Refusal::Named;
        reading.why = "capture file " +
                      (path == "-" && request.anyFile ? "standard input" : "'" + path + "'") +
                      ": " + error;
        return;
    }
    RowCollector collector(reading, request.scope, "null in the capture, or not a string");
    for (SettingRow& row : rows) {
        collector.Add(std::move(row));
    }
    reading.source = Source::Capture;
}

}  // namespace

SourceRequest RequestFromEnvironment() {
    SourceRequest request;
    for (const char* variable : {kCaptureVariable, kRootVariable}) {
        const char* value = secure_getenv(variable);
        if (value != nullptr && *value == '\0') {
            request.problem = std::string(variable) + " is set but empty: name a " +
                              (variable == kCaptureVariable ? "capture file" : "folder") +
                              ", or unset it";
        } else if (value != nullptr) {
            (variable == kCaptureVariable ? request.capture : request.root) = value;
        }
    }
    return request;
}

Reading ReadSources(const SourceRequest& request) noexcept {
    Reading reading;
    try {
        if (!request.problem.empty()) {
            reading.refusal = Refusal::Named;
            reading.why = request.problem;
        } else if (request.capture) {
            reading.location = *request.capture;
            ReadCaptureRows(request, reading);
        } else if (std::string wrong = request.root ? CheckNamedRoot(*request.root) : "";
                   !wrong.empty()) {
            reading.refusal = Refusal::Named;
            reading.why = std::move(wrong);
        } else {
            ReadFirmwareAttributes(request.root.value_or(kDefaultRoot), request.scope, reading);
        }
    } catch (const std::exception&) {
        reading = Reading();
        reading.refusal = Refusal::Memory;
    }
    // Without a device the namespace does not exist on this machine.
    reading.status = reading.refusal == Refusal::Memory ? common::kWbemOutOfMemory
                     : reading.refusal != Refusal::None ? common::kWbemFailed
                     : reading.source == Source::None   ? common::kWbemInvalidNamespace
                                                        : common::kWbemOk;
    return reading;
}

}  // namespace qz::shared::sources
