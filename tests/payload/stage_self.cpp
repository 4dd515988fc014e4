// A launcher stand-in: stages its own payload the way the launcher does.
// Usage: stage_self TEMPDIR REPORT
// TEMPDIR becomes the temporary folder (TMP on Windows, TMPDIR elsewhere);
// REPORT receives "complete" or "incomplete", a newline, and the staging path.
#include <cstdio>
#include <cstring>

#include "platform.h"
#include "stage.h"
#include "stand_in.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    testing_support::UseTemporaryFolder(argv[1]);
    char stageDir[STAGE_PATH_SIZE];
    memset(stageDir, 'X', sizeof stageDir);  // must be overwritten whatever happens
    bool complete = ExtractPayload(stageDir);
    FILE* report = fopen(argv[2], "wb");
    if (report == nullptr)
        return 3;
    fprintf(report, "%s\n%.*s", complete ? "complete" : "incomplete", static_cast<int>(sizeof stageDir), stageDir);
    fclose(report);
    return 0;
}
