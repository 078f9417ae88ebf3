// Readings of a capture and of a tree, and the writer, with memory running out at every allocation.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sources/Capture.h"
#include "sources/Reading.h"
#include "support/AllocationSweep.h"

namespace qz::shared::sources {
namespace {

using Rows = std::vector<SettingRow>;

// Each reading, and the writer, either fails cleanly or delivers exactly what it delivers with
// memory to spare; a sweep checks that nothing leaks.
TEST(ClientAllocationSweep, ReadingsAndTheWriterFailCleanlyOrDeliverEverything) {
    SourceRequest capture;
    capture.capture = QZBIOS_SAMPLE_CAPTURE;
    SourceRequest tree;
    tree.root = QZBIOS_FIRMWARE_FIXTURE;
    tree.scope = Scope::Every;
    const auto sweep = [](const char* what, const Rows& expected, auto read) {
        const std::size_t points = test::SweepAllocations(what, [&](std::size_t n) {
            Rows rows;
            const bool delivered = read(rows);
            test::FailNthAllocation(0);
            EXPECT_EQ(rows, delivered ? expected : Rows()) << what << " at allocation " << n;
        });
        EXPECT_GT(points, 30u) << what;
    };
    for (const SourceRequest& request : {capture, tree}) {
        const Reading whole = ReadSources(request);
        ASSERT_EQ(whole.refusal, Refusal::None);
        sweep(whole.location.c_str(), whole.rows, [&](Rows& rows) {
            Reading reading = ReadSources(request);
            rows = std::move(reading.rows);
            return reading.refusal == Refusal::None;
        });
    }
    const Rows sample = ReadSources(capture).rows;
    sweep("capture writer", sample, [&](Rows& rows) {
        std::string text;
        std::string message;
        const bool ok = CaptureText(sample, text, message);
        test::FailNthAllocation(0);
        return ok && ParseCapture(text, rows, message);
    });
}

}  // namespace
}  // namespace qz::shared::sources
