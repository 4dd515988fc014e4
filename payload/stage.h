// Staging: copying every archive entry out of a launcher file into a folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive.h"
#include "platform.h"

// Each entry is copied through one buffer of this size, whatever its size field says.
const size_t STAGE_COPY_BUFFER_SIZE = 1 << 20;

struct StageOptions {
    // Turns a stored (ANSI) entry name into the file name to create; nullptr
    // keeps names as stored. Returns false when the name has no form here.
    bool (*mapName)(const char* stored, char* out, size_t outSize, void* context) = nullptr;
    // Told of each entry once its file is complete: the name it was written
    // under, and its header (size, and how the archive stores it).
    void (*entryStaged)(const char* name, const PayloadEntryHeader& header, void* context) = nullptr;
    // Told after each block written: archive bytes read so far out of the
    // archive's length (entry headers included).
    void (*progress)(uint64_t done, uint64_t total, void* context) = nullptr;
    // Called every 50 ms while another launcher holds the staging folder.
    void (*waiting)(void* context) = nullptr;
    void* context = nullptr;
};

struct StageResult {
    bool complete = false;    // every entry up to the end of the archive written in full
    PayloadError error = PayloadError::Ok;
    unsigned entries = 0;     // files written in full
    uint64_t bytes = 0;       // data bytes written
    char stoppedAt[ENTRY_NAME_SIZE] = {};  // stored name of the entry where staging stopped
    IntegrityState integrity = IntegrityState::None;  // the archive's record, verified on the way
    IntegrityRecord record;
};

// Creates stageDir (one level; an existing folder is fine, while a link or a
// file in its place stops staging before anything is written: CannotCreate),
// takes its staging lock (waiting while another launcher or extract stages
// into it), then writes each entry of launcherPath's archive, stored or compressed,
// into it, in archive order, each completely before the next is read. Each
// file is created afresh: whatever had its name (a file, a hard or symbolic
// link) is removed first, never written through, and a name that cannot be
// removed stops staging there. Stops at the first entry that cannot be
// staged safely or in full; files written before it stay. A file that could
// not be written in full (a failed write, or an archive that ends or cannot
// be read inside its data) is removed. A launcher file with no archive (a
// stored one ends before PAYLOAD_OFFSET) stages nothing and is incomplete
// (NoArchive). An archive with an integrity record is verified in the same
// pass; a mismatch, known once the last entry is read, makes the staging
// incomplete (IntegrityMismatch) and leaves the files written. launcherPath
// may be null: the folder is created and nothing is staged. With held, the
// folder is opened and locked there and stays so for the caller, to write the
// hand-over file and start the setup program before another may stage;
// otherwise the lock goes on return. Returns result.complete.
bool StagePayloadFile(const char* launcherPath, const char* stageDir,
                      const StageOptions& options, StageResult* result, StageFolder* held = nullptr);

// Builds the staging path from a temporary folder path (with its trailing
// separator) into a STAGE_PATH_SIZE buffer: tempPath followed by "tmpsoft".
// Returns false, leaving stageDir empty, when that does not fit.
bool BuildStageDir(const char* tempPath, char* stageDir);

// Stages the running launcher's own payload into the temporary folder's
// "tmpsoft". stageDir is a STAGE_PATH_SIZE buffer; on return it holds the
// staging path (empty only when the temporary path is too long to take it).
// Returns true when staging completed; result, when given, says how it ended;
// held, when given, keeps the folder open and locked as StagePayloadFile says.
bool ExtractPayload(char* stageDir, const StageOptions& options = StageOptions(),
                    StageResult* result = nullptr, StageFolder* held = nullptr);
