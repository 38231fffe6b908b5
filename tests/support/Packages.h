// Tests that read a Debian package's files or run its tools: the test
// command installs every such package, so a missing one is a failure that
// names the package, never a quiet skip.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace testsupport {

inline ::testing::AssertionResult Installed(const std::string& path, const char* package) {
    if (::access(path.c_str(), R_OK) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " is missing: install the Debian package " << package
                                         << " (scripts/deps.sh test does)";
}

}  // namespace testsupport
