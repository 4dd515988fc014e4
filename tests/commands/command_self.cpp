// A launcher stand-in: runs one button's command the way the dialog does.
// Usage: command_self TEMPDIR BUTTONID REPORT
// TEMPDIR becomes the temporary folder (TMP on Windows, TMPDIR elsewhere).
// Once the command has returned, REPORT receives "returned", its outcome as a
// number (for CannotStart followed by " error" and the start's error code), a
// newline, and the 260 bytes of the staging path up to its first NUL.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive.h"
#include "commands.h"
#include "platform.h"
#include "stand_in.h"

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    testing_support::UseTemporaryFolder(argv[1]);
    char stageDir[STAGE_PATH_SIZE];
    memset(stageDir, 'X', sizeof stageDir);  // an edition command must clear it
    unsigned long startError = 0;
    CommandOutcome outcome = RunEditionCommand(atoi(argv[2]), stageDir, StageOptions(), StartOptions(), &startError);
    FILE* report = fopen(argv[3], "wb");
    if (report == nullptr)
        return 3;
    fprintf(report, "returned %d", static_cast<int>(outcome));
    if (outcome == CommandOutcome::CannotStart)
        fprintf(report, " error %lu", startError);
    fprintf(report, "\n%.*s", static_cast<int>(sizeof stageDir), stageDir);
    fclose(report);
    return 0;
}
