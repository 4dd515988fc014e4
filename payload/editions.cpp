#include "editions.h"

const Edition EDITIONS[EDITION_COUNT] = {
    {IDC_SETUP_SIMPLIFIED, "Simplified Chinese", "ZelkSetupgb.exe", "ZelkSetupGb.exe", true, true},
    {IDC_SETUP_TRADITIONAL, "Traditional Chinese", "ZelkSetupbig5.exe", "ZelkSetupbig5.exe", true, false},
    {IDC_SETUP_ENGLISH, "English", "ZelkSetupEnglish.exe", "ZelkSetupEnglish.exe", false, false},
};
