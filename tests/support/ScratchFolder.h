// A folder of a test's own for its scratch files, so that two suites on one machine never meet, and
// nobody else can have placed a name in it. The only place the tests choose where scratch files go.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace qz::test {

// Made by mkdtemp under gtest's TempDir() (TEST_TMPDIR, else TMPDIR, else /tmp), mode 0700, and
// removed with everything in it when the object goes, whether the test passed or failed.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = ::testing::TempDir();
        pattern += "qzbios-XXXXXX";  // mkdtemp's template: a new name of its own each time
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot make a scratch folder from " << pattern;
        } else {
            m_path = pattern;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // `name` inside the folder.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace qz::test
