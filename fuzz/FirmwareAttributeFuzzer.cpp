// Any bytes as the files of one firmware attribute: the reader turns them into one row, with the
// current value among the options of an enumeration, and never fails.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "SettingsSource.h"

namespace {

using qz::shared::wmi::CaptureRow;

std::string g_root;

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(content.data(), 1, content.size(), file) != content.size()) {
        Broken("cannot write " + path);
    }
    std::fclose(file);
}

// What the reader makes of a file: its first bytes, up to the limit, without one final newline.
std::string AsRead(std::string content) {
    if (content.size() > qz::shared::wmi::kMaxAttributeFileBytes) {
        content.resize(qz::shared::wmi::kMaxAttributeFileBytes);
    }
    if (!content.empty() && content.back() == '\n') {
        content.pop_back();
    }
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    char pattern[] = "/tmp/qzbios-attribute-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        Broken("no temporary folder");
    }
    g_root = pattern;
    for (const char* dir : {"/bios", "/bios/attributes", "/bios/attributes/Setting"}) {
        if (mkdir((g_root + dir).c_str(), 0700) != 0) {
            Broken("cannot create " + g_root + dir);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kTypes[] = {"enumeration", "enumeration\n", "ordered-list",
                                         "integer",     "string",        ""};
    FuzzedDataProvider input(data, size);
    const std::string dir = g_root + "/bios/attributes/Setting/";
    const std::string type = input.ConsumeBool()
                                 ? kTypes[input.ConsumeIntegralInRange<std::size_t>(0, 5)]
                                 : input.ConsumeRandomLengthString(16);
    const std::string displayName = input.ConsumeRandomLengthString(64);
    const std::string possible = input.ConsumeRandomLengthString(512);
    const std::string current = input.ConsumeRemainingBytesAsString();
    WriteFile(dir + "type", type);
    WriteFile(dir + "display_name", displayName);
    WriteFile(dir + "possible_values", possible);
    WriteFile(dir + "current_value", current);

    std::vector<CaptureRow> rows;
    std::vector<std::string> devices;
    if (!qz::shared::wmi::ReadFirmwareAttributes(g_root, rows, devices)) {
        Broken("the reader failed");
    }
    if (devices != std::vector<std::string>{"bios"} || rows.size() != 1 || !rows[0].value) {
        Broken("not exactly one row with a value");
    }
    const std::string expectedName = AsRead(displayName).empty() ? "Setting" : AsRead(displayName);
    if (rows[0].name != expectedName) {
        Broken("name");
    }
    const std::string& value = *rows[0].value;
    const std::string readType = AsRead(type);
    if (readType == "enumeration") {
        if (value.find("*" + AsRead(current)) == std::string::npos) {
            Broken("the current option is not marked");
        }
    } else if (readType == "ordered-list") {
        if (value.find(';') != std::string::npos || value.size() != AsRead(current).size()) {
            Broken("ordered list");
        }
    } else if (value != AsRead(current)) {
        Broken("value");
    }
    return 0;
}
