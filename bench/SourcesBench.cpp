// What reading the settings costs on Linux: the firmware-attributes reader on a tree of the 31
// settings the library reads and 300 others, for the library's query (values of the 31 only) and
// for a recording (every value), the capture replay of every row, and the whole library over each,
// beside the floor of plain read() calls on the files the library's query reads.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bios/Settings.h"
#include "qzbios/QZBios.h"
#include "sources/Capture.h"
#include "sources/FirmwareAttributes.h"

namespace {

namespace fs = std::filesystem;
using qz::shared::sources::SettingRow;

// A tree like the ones firmware publishes, under one device: the 31 settings the library reads as
// enumerations, and 300 others (220 enumerations, 40 integers, 30 strings and 10 ordered lists),
// with an administrator and a system password entry. The files the library's query opens are
// listed in `read`, for the floor.
struct Fixture {
    fs::path root;
    fs::path capture;
    std::vector<std::string> read;
};

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Fixture MakeFixture() {
    Fixture fixture;
    std::string pattern = (fs::temp_directory_path() / "qzbios-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    fixture.root = pattern;
    const fs::path device = fixture.root / "platform-bios";
    constexpr int kAttributes = 331;
    for (int i = 0; i < kAttributes; ++i) {
        const std::string name = "Setting" + std::to_string(1000 + i);
        const bool wanted = i < 31;
        const fs::path dir = device / "attributes" / name;
        fs::create_directories(dir);
        std::string type = "enumeration";
        std::string current = "Enabled";
        if (i >= 251 && i < 291) {
            type = "integer";
            current = std::to_string(i * 7);
            WriteFile(dir / "min_value", "0\n");
            WriteFile(dir / "max_value", "4096\n");
            WriteFile(dir / "scalar_increment", "1\n");
        } else if (i >= 291 && i < 321) {
            type = "string";
            current = "Asset tag " + std::to_string(i);
            WriteFile(dir / "min_length", "0\n");
            WriteFile(dir / "max_length", "64\n");
        } else if (i >= 321) {
            type = "ordered-list";
            current = "Windows Boot Manager;USB:;NETWORK IPV4;NETWORK IPV6";
        } else {
            WriteFile(dir / "possible_values", "Disabled;Enabled;Auto;\n");
            if (wanted) {
                fixture.read.push_back((dir / "possible_values").string());
            }
        }
        WriteFile(dir / "type", type + "\n");
        WriteFile(dir / "current_value", current + "\n");
        WriteFile(dir / "default_value", current + "\n");
        WriteFile(dir / "display_name", (wanted ? std::string(qz::shared::qzbios::kSettings[i].name)
                                                : "Vendor Setting " + std::to_string(i)) +
                                            "\n");
        WriteFile(dir / "display_name_language_code", "en_US.UTF-8\n");
        fixture.read.push_back((dir / "display_name").string());
        for (const char* file : {"current_value", "type"}) {
            if (wanted) {
                fixture.read.push_back((dir / file).string());
            }
        }
    }
    for (const char* entry : {"Admin", "System"}) {
        const fs::path dir = device / "authentication" / entry;
        fs::create_directories(dir);
        WriteFile(dir / "is_enabled", "1\n");
        WriteFile(dir / "role", "bios-admin\n");
        fixture.read.push_back((dir / "is_enabled").string());
    }
    WriteFile(device / "attributes" / "pending_reboot", "0\n");

    qz::shared::sources::Reading reading;
    std::string error;
    fixture.capture = fixture.root / "capture.json";
    std::string text;
    qz::shared::sources::ReadFirmwareAttributes(fixture.root.string(),
                                                qz::shared::sources::Scope::Every, reading);
    // The 31 include the two password settings, so the authentication entries add no rows.
    if (reading.rows.size() != kAttributes ||
        !qz::shared::sources::CaptureText(reading.rows, text, error)) {
        std::fprintf(stderr, "qzbios_bench_sources: cannot set up the fixture in %s: %s\n",
                     pattern.c_str(), error.c_str());
        std::exit(1);
    }
    WriteFile(fixture.capture, text);
    return fixture;
}

const Fixture& TheFixture() {
    static const Fixture fixture = MakeFixture();
    return fixture;
}

// open, read until the end, close: the least any reader of these files does.
std::size_t ReadPlain(const std::string& path) {
    std::array<char, 4096> buffer{};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t total = 0;
    ssize_t got = 0;
    while (fd >= 0 && (got = read(fd, buffer.data(), buffer.size())) > 0) {
        total += static_cast<std::size_t>(got);
    }
    if (fd >= 0) {
        close(fd);
    }
    return total;
}

void BM_FirmwareAttributes(benchmark::State& state, qz::shared::sources::Scope scope) {
    const std::string root = TheFixture().root.string();
    std::size_t reads = 0;
    for (auto _ : state) {
        qz::shared::sources::Reading reading;
        qz::shared::sources::ReadFirmwareAttributes(root, scope, reading);
        reads = reading.firmwareReads;
        benchmark::DoNotOptimize(reading);
    }
    state.counters["firmware_reads"] = static_cast<double>(reads);
}
BENCHMARK_CAPTURE(BM_FirmwareAttributes, library_query, qz::shared::sources::Scope::Attributes);
BENCHMARK_CAPTURE(BM_FirmwareAttributes, every_setting, qz::shared::sources::Scope::Every);

void BM_FirmwareAttributesFloor(benchmark::State& state) {
    const std::vector<std::string>& files = TheFixture().read;
    for (auto _ : state) {
        for (const std::string& file : files) {
            benchmark::DoNotOptimize(ReadPlain(file));
        }
    }
    state.counters["files"] = static_cast<double>(files.size());
}
BENCHMARK(BM_FirmwareAttributesFloor);

void BM_CaptureFile(benchmark::State& state) {
    const std::string capture = TheFixture().capture.string();
    for (auto _ : state) {
        std::vector<SettingRow> rows;
        std::string error;
        benchmark::DoNotOptimize(qz::shared::sources::LoadCaptureFile(capture, rows, error));
    }
}
BENCHMARK(BM_CaptureFile);

void BM_CaptureFileFloor(benchmark::State& state) {
    const std::string capture = TheFixture().capture.string();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadPlain(capture));
    }
    state.counters["bytes"] = static_cast<double>(ReadPlain(capture));
}
BENCHMARK(BM_CaptureFileFloor);

// The whole library as a host meets it, over each source.
void BM_QZBios(benchmark::State& state, bool capture) {
    const Fixture& fixture = TheFixture();
    if (capture) {
        setenv("QZ_WMI_CAPTURE", fixture.capture.c_str(), 1);
    } else {
        unsetenv("QZ_WMI_CAPTURE");
        setenv("QZ_FIRMWARE_ATTRIBUTES_DIR", fixture.root.c_str(), 1);
    }
    for (auto _ : state) {
        qz::shared::qzbios::QZBios bios;
        benchmark::DoNotOptimize(&bios);
    }
    unsetenv("QZ_WMI_CAPTURE");
    unsetenv("QZ_FIRMWARE_ATTRIBUTES_DIR");
}
BENCHMARK_CAPTURE(BM_QZBios, capture, true);
BENCHMARK_CAPTURE(BM_QZBios, firmware_attributes, false);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(TheFixture().root, ignored);
    return 0;
}
