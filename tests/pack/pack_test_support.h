// Helpers for the packer's tests: a small PE image to use as a stub, running
// the tool with its output captured, and files made to measure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_files.h"

namespace pack_testing {

using testing_support::Bytes;

// A PE32 image with headers up to 0x200 and one section whose raw data ends
// at imageEnd. With a certificate table, its security directory points there.
Bytes MinimalPeImage(uint32_t imageEnd, uint32_t certOffset = 0, uint32_t certSize = 0);

struct Captured {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs program with args, waits, and returns its exit status and output.
Captured RunCaptured(const std::string& program, const std::vector<std::string>& args);

// A file of the given size whose content is not written (sparse where the
// file system allows).
bool MakeSizedFile(const std::string& path, uint64_t size);
// Moves the file's modification time by the given number of seconds.
bool ShiftModificationTime(const std::string& path, int seconds);

}  // namespace pack_testing
