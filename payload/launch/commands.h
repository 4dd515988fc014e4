// What each launcher button does, as data, and the work behind it.
//
// An edition command clears the staging path, stages the payload and, after
// a complete staging only, writes the hand-over file "currentpath.txt"
// (Simplified Chinese only) and starts the edition's setup program from the
// staging folder, all under the staging folder's lock. Quit does nothing. Every command is followed by the dialog's OnOK,
// but for one whose start the user declined at the consent prompt; one that
// did not end with its setup program started tells the user first.
#pragma once

#include "button_ids.h"
#include "start.h"
#include "stage.h"

struct EditionCommand {
    int buttonId;
    bool stages;                // stages the payload
    bool writesCurrentPath;     // leaves currentpath.txt
    const char* programName;    // the setup program, in the staging folder; nullptr: starts nothing
};

// The command table, in button-id order.
extern const EditionCommand EDITION_COMMANDS[4];

// The table row for a button id, or nullptr.
const EditionCommand* FindEditionCommand(int buttonId);

// How a command ended, as far as the user must know.
enum class CommandOutcome {
    Started,      // the setup program started
    Quit,         // nothing to stage or start
    Damaged,      // the launcher file is damaged, cut short or fails its integrity record
    CannotWrite,  // staging could not write its files: a full disk, a locked or read-only file
    CannotStart,  // the staging completed but the setup program is missing or would not start
    Declined,     // the user said no when asked to let the setup program make changes: the window stays
};

// Why a setup program would not start, as far as the advice to the user goes.
enum class StartFailure {
    Missing,        // not in the staged files: this installer lacks the edition
    WrongSystem,    // not a program this Windows runs (a 64-bit one on 32-bit Windows, say)
    Blocked,        // a policy or security software forbids it
    NeedsAdmin,     // it needs administrator rights that cannot be had
    InUse,          // another program held the file for longer than a start is retried
    Damaged,        // the file is no sound program: a new copy may help
    Other,
};

// The cause behind a start's error code (StartResult::error).
StartFailure ClassifyStartFailure(unsigned long error);

// The outcome a staging that did not complete comes to: a fault of the
// launcher file, or of the place the files go.
CommandOutcome StagingFailure(PayloadError error);

// Runs a button's command. stageDir is the dialog's 260-byte staging path;
// options (progress) are handed to the staging, start to the setup program's
// start. When the outcome is CannotStart, *startError (if given) receives the
// system's reason (StartResult::error).
CommandOutcome RunEditionCommand(int buttonId, char* stageDir, const StageOptions& options = StageOptions(),
                                 const StartOptions& start = StartOptions(), unsigned long* startError = nullptr);

// Cuts path at its last separator, removing the separator; a path without one
// stays whole ("E:\launcher.exe" gives "E:"). On Windows the path is read as
// text in codePage, so the trail byte of a double-byte character (0x5C can be
// one in GBK) is never taken for a backslash. Native paths are UTF-8, where no
// byte of a longer character equals '/', and codePage is not used.
void CutAtLastSeparator(char* path, unsigned codePage);
