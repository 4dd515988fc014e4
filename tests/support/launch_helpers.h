// Helpers for tests that start a packed launcher stand-in and watch what it
// starts in turn. They report failures through GoogleTest.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "test_files.h"

namespace testing_support {

// A started program that has not reported within this time never will.
constexpr std::chrono::milliseconds START_TIMEOUT = std::chrono::seconds(15);
// How long a program that must not start is given to show up anyway; Wine
// starts processes more slowly.
#ifdef _WIN32
constexpr std::chrono::milliseconds QUIET_PERIOD = std::chrono::milliseconds(3000);
#else
constexpr std::chrono::milliseconds QUIET_PERIOD = std::chrono::milliseconds(1000);
#endif

// Build paths are Unix paths; under Wine they are reached through drive Z:,
// with backslashes. Other paths are returned as they are.
std::string HostPath(const std::string& path);
// The bytes of a program the build made (path as the build names it); a failed
// read or an empty file fails the test.
Bytes ProgramImage(const std::string& buildPath);
// Reads a file; a failed read fails the test.
Bytes FileBytes(const std::string& path);
// Lets the file be run as a program (a no-op on Windows).
void MakeExecutable(const std::string& path);
// Packs the launcher stand-in built beside the tests (name without ".exe")
// with entries and tail into folder, under the stand-in's file name, ready to
// run; returns its path.
std::string PackStandIn(const std::string& name, const std::string& folder,
                        const std::vector<TestEntry>& entries, const Bytes& tail = Bytes());
// Polls until the file exists; false once limit has passed without it.
bool WaitForFile(const std::string& path, std::chrono::milliseconds limit);
// The current folder, as the platform reports it.
std::string WorkingFolder();

}  // namespace testing_support
