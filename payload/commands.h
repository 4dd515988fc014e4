// What each launcher button does, as data, and the work behind it.
//
// An edition command clears the staging path, stages the payload, writes the
// hand-over file "currentpath.txt" (Simplified Chinese only), then starts the
// edition's setup program from the staging folder, but only after a complete
// staging. Quit does nothing. Every command is followed by the dialog's OnOK;
// one that did not end with its setup program started tells the user first.
#pragma once

#include "button_ids.h"
#include "stage.h"

struct EditionCommand {
    int buttonId;
    const char* handler;        // the dialog member bound to the button
    bool stages;                // stages the payload
    bool writesCurrentPath;     // leaves currentpath.txt
    const char* programFormat;  // applied to the staging path; nullptr: starts nothing
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
};

// The outcome a staging that did not complete comes to: a fault of the
// launcher file, or of the place the files go.
CommandOutcome StagingFailure(PayloadError error);

// Runs a button's command. stageDir is the dialog's 260-byte staging path;
// options (progress) are handed to the staging.
CommandOutcome RunEditionCommand(int buttonId, char* stageDir, const StageOptions& options = StageOptions());

// Cuts path at its last separator, removing the separator; a path without one
// stays whole ("E:\launcher.exe" gives "E:"). On Windows the path is read as
// text in codePage, so the trail byte of a double-byte character (0x5C can be
// one in GBK) is never taken for a backslash. Native paths are UTF-8, where no
// byte of a longer character equals '/', and codePage is not used.
void CutAtLastSeparator(char* path, unsigned codePage);
