// Shared setup of the package builder's tests: a temporary home and temp
// folder, a QApplication on the offscreen platform, the message boxes
// captured instead of shown, and a small "program" that carries the version
// block (a copy of one of the test packages).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package/PackageContext.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::package::testing {

struct Box {
    std::string caption;
    std::string text;
    unsigned flags;
};

class PackageTest : public ::testing::Test {
protected:
    PackageTest();
    ~PackageTest() override;

    PackageContext Context(const std::string& argument) const;
    // Texts of the captured boxes, "caption|text" each.
    std::vector<std::string> BoxTexts() const;
    // Puts a copy of the test package (version 5.0.0.48) at `path`.
    void CopyProgram(const std::string& path) const;

    util::testing::TempHome m_home;
    std::string m_program;  // "<home>/Program Dir/sitowiak"
    std::vector<Box> m_boxes;
};

// Every regular file below `folder` with its content, keyed by relative path.
std::map<std::string, std::string> Snapshot(const std::string& folder);
// The data of a gzip file, or "<not gzip>".
std::string Gunzip(const std::string& file);
// A file's last-write time in nanoseconds.
long long ModifiedNs(const std::string& file);

}  // namespace sitowiak::package::testing
