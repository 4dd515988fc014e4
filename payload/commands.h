// What each launcher button does, as data, and the work behind it.
//
// An edition command clears the staging path, stages the payload, writes the
// hand-over file "currentpath.txt" (Simplified Chinese only), then starts the
// edition's setup program from the staging folder, but only after a complete
// staging. Quit does nothing. Every command is followed by the dialog's OnOK.
#pragma once

#include "button_ids.h"

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

// Runs a button's command. stageDir is the dialog's 260-byte staging path.
// Nothing is reported: a program that is missing or cannot start is not
// noticed, and the command returns normally all the same.
void RunEditionCommand(int buttonId, char* stageDir);

// Cuts path at its last separator, removing the separator; a path without one
// stays whole ("E:\launcher.exe" gives "E:"). On Windows the path is read as
// text in codePage, so the trail byte of a double-byte character (0x5C can be
// one in GBK) is never taken for a backslash. Native paths are UTF-8, where no
// byte of a longer character equals '/', and codePage is not used.
void CutAtLastSeparator(char* path, unsigned codePage);
