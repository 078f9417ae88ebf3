// Any bytes as the files of one firmware attribute: the reader turns them into exactly one row with
// a value, named by the display name, and never fails; an enumeration always marks an option, an
// ordered list keeps its length without ';', and other types keep the value as read.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "Invariant.h"
#include "SettingsSource.h"

namespace {

std::string g_root;

// Writes `content` as the file `name` of the attribute; returns it as the reader sees it: its first
// 64 KiB, without one final newline.
std::string Put(const char* name, std::string content) {
    std::FILE* file = std::fopen((g_root + "/bios/attributes/Setting/" + name).c_str(), "wb");
    Check(file != nullptr && std::fwrite(content.data(), 1, content.size(), file) == content.size(),
          "cannot write a file of the tree");
    std::fclose(file);
    content.resize(std::min<std::size_t>(content.size(), 65536));
    if (!content.empty() && content.back() == '\n') {
        content.pop_back();
    }
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    char pattern[] = "/tmp/qzbios-attribute-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr, "no temporary folder");
    g_root = pattern;
    for (const char* dir : {"/bios", "/bios/attributes", "/bios/attributes/Setting"}) {
        Check(mkdir((g_root + dir).c_str(), 0700) == 0, "cannot create the tree");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* const kTypes[] = {"enumeration\n", "ordered-list", "integer", "string"};
    FuzzedDataProvider input(data, size);
    const std::string type =
        Put("type", input.ConsumeBool() ? kTypes[input.ConsumeIntegralInRange(0, 3)]
                                        : input.ConsumeRandomLengthString(16));
    const std::string name = Put("display_name", input.ConsumeRandomLengthString(64));
    Put("possible_values", input.ConsumeRandomLengthString(512));
    const std::string current = Put("current_value", input.ConsumeRemainingBytesAsString());
    std::vector<qz::shared::wmi::CaptureRow> rows;
    std::vector<std::string> devices;
    Check(qz::shared::wmi::ReadFirmwareAttributes(g_root, rows, devices) && rows.size() == 1 &&
              rows[0].value && rows[0].name == (name.empty() ? "Setting" : name),
          "not exactly one row with a value, named by the display name");
    const std::string& value = *rows[0].value;
    Check(type != "enumeration" || value.find('*') != std::string::npos, "no option is marked");
    Check(type != "ordered-list" ||
              (value.find(';') == std::string::npos && value.size() == current.size()),
          "ordered list");
    Check(type == "enumeration" || type == "ordered-list" || type.empty() || value == current,
          "value");
    return 0;
}
