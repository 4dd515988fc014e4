// The launcher's editions, one row each: which button starts it, the setup
// program it starts from the staging folder, and what it leaves beside it.
// The launcher runs them (commands.cpp); the packer looks for their setup
// programs in a payload and names them in its reports.
#pragma once

#include <cstddef>

#include "launch/button_ids.h"  // the launcher's buttons: plain defines

struct Edition {
    int buttonId;            // button_ids.h
    const char* language;    // "Simplified Chinese", as reports name it
    const char* program;     // as the launcher starts it; Windows ignores the case
    const char* packedName;  // as the packer recommends storing it
    bool offered;            // false for English: its button is hidden and disabled
    bool writesCurrentPath;  // leaves currentpath.txt for its setup program
};

// The hand-over file an edition with writesCurrentPath leaves in the staging
// folder: the launcher's own folder, for its setup program.
#define HAND_OVER_NAME "currentpath.txt"

const size_t EDITION_COUNT = 3;
extern const Edition EDITIONS[EDITION_COUNT];
