// Paths between the Windows tests and the Linux side of the machine they
// run on under Wine: the Linux build's reference server, certificates and
// sample client set are reached through Wine's drive Z:, which maps the
// Linux root.
#pragma once

#include <string>

namespace testing_support {

// "Z:" and the Linux path with "\" separators.
std::string WindowsPathOf(const std::string& linuxPath);

// Runs `script` with the Linux shell (/bin/sh -c), without waiting for it.
// The script must not hold a double quote. False when it cannot start.
bool RunLinuxShell(const std::string& script);

// A new empty folder on the Linux side for one test, under the build
// folder; its Linux path. Removed by the caller (DeleteTree on its Windows
// path) when the test no longer needs it.
std::string NewLinuxScratchFolder(const std::string& purpose);

}  // namespace testing_support
