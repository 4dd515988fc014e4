// Helpers for the packer's tests: running the tool with its output captured,
// and files made to measure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_files.h"

namespace pack_testing {

using testing_support::Bytes;

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

// A PE image of 0x1000 bytes whose resources hold a version block with the
// given InternalName (and, when not empty, the archive formats it reads),
// laid out as the resource compiler lays out ours.
Bytes VersionedPeImage(const std::string& internalName, const std::string& payloadFormats = std::string());

// A PE32 image laid out as mingw lays out the launcher (code, resources, then
// .reloc) with the launcher's resources: the stock pictures and icon read
// from picturesDir (res/pictures), the About box, string 101, the version
// block, an extended dialog 102 and a resource filed under a name. The
// branding tests use it where no launcher is built. With payloadFormats, the
// version block lists them as the launcher's does.
Bytes LauncherLikeImage(const std::string& picturesDir, const std::string& payloadFormats = std::string());

}  // namespace pack_testing
