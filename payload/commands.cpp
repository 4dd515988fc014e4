#include "commands.h"

#include <cstdio>
#include <cstring>

#include "platform.h"
#include "stage.h"

#ifdef _WIN32
#define SEPARATOR "\\"
const unsigned ANSI_CODE_PAGE = CP_ACP;
#else
#define SEPARATOR "/"
const unsigned ANSI_CODE_PAGE = 0;
#endif
#define HAND_OVER_NAME "currentpath.txt"

const EditionCommand EDITION_COMMANDS[4] = {
    {IDC_SETUP_SIMPLIFIED, "OnSetupSimplified", true, true, "%s" SEPARATOR "ZelkSetupgb.exe"},
    {IDC_SETUP_TRADITIONAL, "OnSetupTraditional", true, false, "%s" SEPARATOR "ZelkSetupbig5.exe"},
    {IDC_SETUP_ENGLISH, "OnSetupEnglish", true, false, "%s" SEPARATOR "ZelkSetupEnglish.exe"},
    {IDC_EXIT_SETUP, "OnExitSetup", false, false, nullptr},
};

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

// Formats one "%s..." path into a zero-filled STAGE_PATH_SIZE buffer; false
// when it does not fit, since a cut-short path names some other file.
bool FormatPath(char* out, const char* format, const char* folder)
{
    memset(out, 0, STAGE_PATH_SIZE);
    int len = snprintf(out, STAGE_PATH_SIZE, format, folder);
    return len >= 0 && static_cast<size_t>(len) < STAGE_PATH_SIZE;
}

// Leaves currentpath.txt in the staging folder: the launcher's own folder,
// without trailing separator, line end or NUL. Created afresh in the checked
// folder as the staged files are, so never written through a link. Skipped
// silently when the file cannot be created or written in full, or the
// launcher's path is not known in full.
void WriteCurrentPath(const char* stageDir)
{
    char handOver[STAGE_PATH_SIZE];
    if (!FormatPath(handOver, "%s" SEPARATOR HAND_OVER_NAME, stageDir))
        return;  // its path would not fit
    char folder[STAGE_PATH_SIZE];
    memset(folder, 0, sizeof folder);
    DWORD len = GetModuleFileNameA(nullptr, folder, STAGE_PATH_SIZE);
    if (len == 0 || len >= STAGE_PATH_SIZE)
        return;
    CutAtLastSeparator(folder, ANSI_CODE_PAGE);
    StageFolder stage;
    StagedFile file;
    if (!OpenStageFolder(stageDir, &stage) || !CreateStagedFile(&stage, HAND_OVER_NAME, &file))
        return;
    bool written = WriteStagedFile(&file, folder, strlen(folder));
    if (!CloseStagedFile(&file) || !written)
        RemoveStagedFile(&stage, HAND_OVER_NAME);
}

}  // namespace

const EditionCommand* FindEditionCommand(int buttonId)
{
    for (const EditionCommand& command : EDITION_COMMANDS)
        if (command.buttonId == buttonId)
            return &command;
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
    switch (error) {
    case PayloadError::NoTempPath:
    case PayloadError::PathTooLong:
    case PayloadError::CannotCreate:
    case PayloadError::WriteFailed:
    case PayloadError::OutOfMemory:  // the programs to close free memory too
        return CommandOutcome::CannotWrite;
    default:
        // The file could not be opened or read, or what it holds is not a
        // whole, sound archive: a new copy is the remedy.
        return CommandOutcome::Damaged;
    }
}

CommandOutcome RunEditionCommand(int buttonId, char* stageDir, const StageOptions& options)
{
    const EditionCommand* command = FindEditionCommand(buttonId);
    if (command == nullptr || !command->stages)
        return CommandOutcome::Quit;

    memset(stageDir, 0, STAGE_PATH_SIZE);
    StageResult result;
    bool complete = ExtractPayload(stageDir, options, &result);
    if (stageDir[0] == '\0')
        return CommandOutcome::CannotWrite;  // no staging folder: nothing may land in the current drive's root

    if (command->writesCurrentPath)
        WriteCurrentPath(stageDir);

    // A setup program started from half-staged files would install a broken product.
    if (!complete)
        return StagingFailure(result.error);
    if (command->programFormat == nullptr)
        return CommandOutcome::CannotStart;
    char program[STAGE_PATH_SIZE];
    if (!FormatPath(program, command->programFormat, stageDir))
        return CommandOutcome::CannotStart;
#ifndef _WIN32
    if (!MatchFileNameCase(program))
        return CommandOutcome::CannotStart;
#endif
    return StartProgram(program) ? CommandOutcome::Started : CommandOutcome::CannotStart;
}
