#include "stage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "heap.h"
#include "platform.h"

namespace {

// Whether folder, a separator and name fit in a STAGE_PATH_SIZE path.
bool FitsStagePath(const char* folder, const char* name)
{
    return strlen(folder) + 1 + strlen(name) + 1 <= STAGE_PATH_SIZE;
}

bool Stop(StageResult* result, PayloadError error, const char* name)
{
    result->error = error;
    result->complete = false;
    if (name != nullptr) {
        strncpy(result->stoppedAt, name, ENTRY_NAME_SIZE - 1);
        result->stoppedAt[ENTRY_NAME_SIZE - 1] = '\0';
    }
    return false;
}

// Closes the reader, keeping what it learnt of the integrity record, and stops.
bool Close(PayloadReader* reader, StageResult* result, PayloadError error, const char* name)
{
    result->integrity = reader->integrity;
    result->record = reader->record;
    ClosePayload(reader);
    return Stop(result, error, name);
}

}  // namespace

bool StagePayloadFile(const char* launcherPath, const char* stageDir,
                      const StageOptions& options, StageResult* result, StageFolder* held)
{
    *result = StageResult();
    // Checked once, here, and every file created in this very folder; one
    // that cannot be had (a link or a file in its place) shows at the first
    // file. Locked from here on, so that no other launcher writes into it
    // until the caller lets go.
    StageFolder own;
    StageFolder& folder = held != nullptr ? *held : own;
    if (OpenStageFolder(stageDir, &folder))
        LockStageFolder(&folder, options.waiting, options.context);
    if (launcherPath == nullptr)
        return Stop(result, PayloadError::CannotOpenLauncher, nullptr);

    PayloadReader reader;
    if (OpenPayload(&reader, launcherPath) != PayloadError::Ok)
        return Stop(result, reader.error, nullptr);
    // A file ending exactly at the payload offset holds an empty archive; one
    // cut short before it has lost its archive, and staging nothing from it is
    // no complete staging. Reading the last filler byte leaves the stream at
    // the payload offset, where the reader expects it.
    if (reader.compressed == nullptr && reader.error == PayloadError::Ok &&
        (SeekFile(reader.file, PAYLOAD_OFFSET - 1) != 0 || fgetc(reader.file) == EOF)) {
        return Close(&reader, result, PayloadError::NoArchive, nullptr);
    }

    size_t bufferSize = STAGE_COPY_BUFFER_SIZE;
    HeapPtr<char> heap(static_cast<char*>(malloc(bufferSize)));
    char fallback[16384];
    char* buffer = heap ? heap.get() : fallback;
    if (!heap)
        bufferSize = sizeof fallback;

    PayloadEntryHeader header;
    memset(&header, 0, sizeof header);
    while (NextPayloadEntry(&reader, &header)) {
        char fileName[STAGE_PATH_SIZE];
        const char* name = header.name;
        if (options.mapName != nullptr) {
            if (!options.mapName(header.name, fileName, sizeof fileName, options.context)) {
                return Close(&reader, result, PayloadError::NameNotConvertible, header.name);
            }
            name = fileName;
        }
        if (!FitsStagePath(stageDir, name)) {
            return Close(&reader, result, PayloadError::PathTooLong, header.name);
        }
        StagedFile out;
        if (!CreateStagedFile(&folder, name, &out)) {
            return Close(&reader, result, PayloadError::CannotCreate, header.name);
        }
        bool written = true;
        size_t got;
        while ((got = ReadPayloadData(&reader, buffer, bufferSize)) > 0) {
            if (!WriteStagedFile(&out, buffer, got)) {
                written = false;
                break;
            }
            result->bytes += got;
            if (options.progress != nullptr)
                options.progress(reader.pos - reader.start, reader.end - reader.start, options.context);
        }
        if (!written) {
            DiscardStagedFile(&folder, name, &out);
            return Close(&reader, result, PayloadError::WriteFailed, header.name);
        }
        if (reader.error != PayloadError::Ok) {
            // The archive ended (or could not be read) inside this entry: a
            // file under its name but short of its size would pass for whole.
            DiscardStagedFile(&folder, name, &out);
            break;
        }
        if (!CloseStagedFile(&folder, name, &out))
            return Close(&reader, result, PayloadError::WriteFailed, header.name);
        ++result->entries;
        if (options.entryStaged != nullptr)
            options.entryStaged(name, header, options.context);
    }
    if (reader.error != PayloadError::Ok)
        // A mismatch belongs to the whole archive, not to the last entry read.
        return Close(&reader, result, reader.error,
                     reader.error == PayloadError::IntegrityMismatch ? nullptr : header.name);
    Close(&reader, result, PayloadError::Ok, nullptr);
    result->complete = true;
    return true;
}

bool BuildStageDir(const char* tempPath, char* stageDir)
{
    size_t tempLen = strlen(tempPath);
    if (tempLen + sizeof STAGE_DIR_NAME > STAGE_PATH_SIZE) {
        stageDir[0] = '\0';
        return false;
    }
    memcpy(stageDir, tempPath, tempLen);
    memcpy(stageDir + tempLen, STAGE_DIR_NAME, sizeof STAGE_DIR_NAME);
    return true;
}

bool ExtractPayload(char* stageDir, const StageOptions& options, StageResult* result, StageFolder* held)
{
    StageResult own;
    if (result == nullptr)
        result = &own;
    *result = StageResult();
    // With no temporary folder at all the staging path is the bare relative
    // "tmpsoft", as it always has been; one too long to take it stages nothing.
    char tempPath[STAGE_PATH_SIZE];
    memset(tempPath, 0, sizeof tempPath);
    DWORD tempLen = GetTempPathA(STAGE_PATH_SIZE, tempPath);
    if (tempLen >= STAGE_PATH_SIZE || !BuildStageDir(tempPath, stageDir)) {
        stageDir[0] = '\0';
        result->error = PayloadError::NoTempPath;
        return false;
    }

    // A path that did not fit comes back cut short, perhaps without a NUL.
    char ownPath[STAGE_PATH_SIZE];
    memset(ownPath, 0, sizeof ownPath);
    DWORD ownLen = GetModuleFileNameA(nullptr, ownPath, STAGE_PATH_SIZE);
    bool haveOwnPath = ownLen > 0 && ownLen < STAGE_PATH_SIZE;

    return StagePayloadFile(haveOwnPath ? ownPath : nullptr, stageDir, options, result, held);
}
