// What the archive fuzz target's two halves share: the scratch files, the
// launcher as the model lays it out, and the checks' way of failing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive.h"

// The compressed archive is laid this many bytes before PAYLOAD_OFFSET, so
// that one longer than that reaches it, where its barrier belongs.
const uint64_t COMPRESSED_AT = 1024;

extern std::string g_root;      // scratch folder: holds the launcher and the staging folder
extern std::string g_launcher;  // the launcher file, written afresh for each input
extern std::string g_stage;     // the staging folder

// Reports the broken property and aborts, for the fuzzer to keep the input.
[[noreturn]] void Fail(const char* what, const std::string& detail = std::string());
void Check(bool ok, const char* what, const std::string& detail = std::string());

// The names in a folder, without "." and "..".
std::vector<std::string> List(const std::string& path);
// One file name, with no folder in it.
bool IsBareName(const char* name);

// The launcher file as the model sees it: head, a hole up to PAYLOAD_OFFSET,
// then the archive bytes. A compressed archive starts before the payload
// offset instead.
struct Launcher {
    const uint8_t* head = nullptr;
    size_t headSize = 0;
    const uint8_t* archive = nullptr;
    size_t archiveSize = 0;
    uint64_t at = PAYLOAD_OFFSET;  // file offset of archive[0]
    uint64_t fileSize() const { return at + archiveSize; }
    bool compressed() const { return at != PAYLOAD_OFFSET; }
};

// A stored archive: the reader, then staging (fuzz_archive_stored.cpp).
void CheckStored(const Launcher& l);
// A compressed archive: the reader, then staging (fuzz_archive_compressed.cpp).
void CheckCompressed(const Launcher& l);
