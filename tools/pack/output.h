// The file build and brand write: what it may not replace or lie in, and how
// it takes its place.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "pack.h"

// What an output path clashes with.
struct OutputClash {
    enum Kind { None, NotAFile, Stub, Input, InsideFolder } kind = None;
    std::string with;  // the input or the input folder
};

// The output must be a file, or not be there yet. It must not be the stub or
// an input (items, already looked at, then files, looked at now), nor lie in
// one of folders, where the next build would pack it. Files are compared by
// identity, so links and other spellings of a path are caught too; paths in
// files that are no files, and in folders that are no folders, are passed over.
OutputClash FindOutputClash(const std::string& output, const std::string& stub, const std::vector<PackItem>& items,
                            const std::vector<std::string>& files, const std::vector<std::string>& folders);

// Writes output through a temporary file beside it: write fills the file,
// which is then flushed to disk (a crash after the rename must not leave the
// right name on the wrong content), closed, and renamed into place; with a
// build's request, only if it was not cancelled meanwhile. On failure the
// temporary file goes and an existing output stays as it was. The output is
// made executable unless program is false.
PackError WriteBeside(const std::string& output, const std::function<PackError(FILE*)>& write,
                      const PackRequest* request, PackResult* result, bool program = true);
