#include "commands.h"

#include <cstring>

#include "join_text.h"
#include "platform.h"
#include "stage.h"

#ifdef _WIN32
#define SEPARATOR "\\"
const unsigned ANSI_CODE_PAGE = CP_ACP;
const unsigned long MISSING_PROGRAM = ERROR_FILE_NOT_FOUND;
#else
#include <cerrno>
#define SEPARATOR "/"
const unsigned ANSI_CODE_PAGE = 0;
const unsigned long MISSING_PROGRAM = ENOENT;
#endif

namespace {

bool IsLeadByte(unsigned codePage, char c)
{
#ifdef _WIN32
    return IsDBCSLeadByteEx(codePage, static_cast<BYTE>(c)) != FALSE;
#else
    (void)codePage;
    (void)c;
    return false;
#endif
}

// Joins a file's name to its folder in a zero-filled STAGE_PATH_SIZE buffer;
// false when the path does not fit, since a cut-short path names some other
// file.
bool JoinPath(char* out, const char* folder, const char* name)
{
    memset(out, 0, STAGE_PATH_SIZE);
    return JoinText(out, STAGE_PATH_SIZE, {folder, SEPARATOR, name});
}

// Leaves currentpath.txt in the staging folder: the launcher's own folder,
// without trailing separator, line end or NUL. Created afresh in the checked
// and locked folder as the staged files are, so never written through a link.
// Skipped silently when the file cannot be created or written in full, or the
// launcher's path is not known in full.
void WriteCurrentPath(const char* stageDir, StageFolder* stage)
{
    char handOver[STAGE_PATH_SIZE];
    if (!JoinPath(handOver, stageDir, HAND_OVER_NAME))
        return;  // its path would not fit
    char folder[STAGE_PATH_SIZE];
    memset(folder, 0, sizeof folder);
    DWORD len = GetModuleFileNameA(nullptr, folder, STAGE_PATH_SIZE);
    if (len == 0 || len >= STAGE_PATH_SIZE)
        return;
    CutAtLastSeparator(folder, ANSI_CODE_PAGE);
    StagedFile file;
    if (!CreateStagedFile(stage, HAND_OVER_NAME, &file))
        return;
    if (WriteStagedFile(&file, folder, strlen(folder)))
        CloseStagedFile(stage, HAND_OVER_NAME, &file);
    else
        DiscardStagedFile(stage, HAND_OVER_NAME, &file);
}

}  // namespace

const Edition* FindEdition(int buttonId)
{
    for (const Edition& edition : EDITIONS)
        if (edition.buttonId == buttonId)
            return &edition;
    return nullptr;
}

void CutAtLastSeparator(char* path, unsigned codePage)
{
    char* last = nullptr;
    for (char* p = path; *p != '\0'; ++p) {
        if (IsLeadByte(codePage, *p) && p[1] != '\0')
            ++p;  // a double-byte character: its trail byte is no separator
        else if (*p == PATH_SEPARATOR)
            last = p;
    }
    if (last != nullptr)
        *last = '\0';
}

CommandOutcome StagingFailure(PayloadError error)
{
    PayloadSide side = PayloadErrorSide(error);
    // Memory short is on the staging side too: the programs to close free it.
    return side == PayloadSide::Room || side == PayloadSide::Write ? CommandOutcome::CannotWrite
                                                                   : CommandOutcome::Damaged;
}

StartFailure ClassifyStartFailure(unsigned long error)
{
#ifdef _WIN32
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return StartFailure::Missing;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_EXE_MARKED_INVALID:
    case ERROR_OLD_WIN_VERSION:
    case ERROR_APP_WRONG_OS:
    case ERROR_SINGLE_INSTANCE_APP:
    case ERROR_RMODE_APP:
    case ERROR_INVALID_MODULETYPE:
        return StartFailure::WrongSystem;
    case ERROR_ACCESS_DENIED:
    case ERROR_ACCESS_DISABLED_BY_POLICY:
    case ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY:
    case ERROR_VIRUS_INFECTED:
    case ERROR_VIRUS_DELETED:
    case ERROR_DRIVER_BLOCKED:
    case ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION:  // application control
        return StartFailure::Blocked;
    case ERROR_ELEVATION_REQUIRED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return StartFailure::NeedsAdmin;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return StartFailure::InUse;
    case ERROR_BAD_FORMAT:
    case ERROR_INVALID_EXE_SIGNATURE:
    case ERROR_FILE_CORRUPT:
    case ERROR_INVALID_ORDINAL:
    case ERROR_INVALID_STARTING_CODESEG:
    case ERROR_INVALID_STACKSEG:
        return StartFailure::Damaged;
    default:
        return StartFailure::Other;
    }
#else
    switch (error) {
    case ENOENT:
        return StartFailure::Missing;
    case ENOEXEC:
        return StartFailure::WrongSystem;
    case EACCES:
    case EPERM:
        return StartFailure::Blocked;
    case ETXTBSY:
        return StartFailure::InUse;
    default:
        return StartFailure::Other;
    }
#endif
}

CommandOutcome RunEditionCommand(int buttonId, char* stageDir, const StageOptions& options,
                                 const StartOptions& start, unsigned long* startError)
{
    const Edition* edition = FindEdition(buttonId);
    if (edition == nullptr)
        return CommandOutcome::Quit;

    memset(stageDir, 0, STAGE_PATH_SIZE);
    StageResult result;
    // Held, and locked against other launchers, from the first file until the
    // setup program has started: it starts from exactly this staging.
    StageFolder folder;
    bool complete = ExtractPayload(stageDir, options, &result, &folder);
    if (stageDir[0] == '\0')
        return CommandOutcome::CannotWrite;  // no staging folder: nothing may land in the current drive's root

    // A setup program started from half-staged files would install a broken
    // product. Nor is the hand-over file written then: no setup program of
    // this staging will read it, and one started by another launcher from
    // the files this staging could not replace may be reading it now.
    if (!complete)
        return StagingFailure(result.error);
    if (edition->writesCurrentPath)
        WriteCurrentPath(stageDir, &folder);
    unsigned long ignored;
    unsigned long* error = startError != nullptr ? startError : &ignored;
    *error = 0;
    char program[STAGE_PATH_SIZE];
    if (!JoinPath(program, stageDir, edition->program)) {
        *error = MISSING_PROGRAM;
        return CommandOutcome::CannotStart;
    }
#ifndef _WIN32
    if (!MatchFileNameCase(program)) {
        *error = MISSING_PROGRAM;
        return CommandOutcome::CannotStart;
    }
#endif
    StartResult started = StartProgram(program, start);
    if (started.started)
        return CommandOutcome::Started;
    if (started.declined)
        return CommandOutcome::Declined;  // nothing to tell: the user chose
    *error = started.error;
    return CommandOutcome::CannotStart;
}
