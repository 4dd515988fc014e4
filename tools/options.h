// The options' table, which the parser (options.cpp) and the usage text
// (usage.cpp) both read.
#pragma once

#include <cstddef>
#include <string>

#include "tool.h"

// Stores an option's value (name as given): "" when it is sound, else the problem.
using OptionSetter = std::string (*)(const std::string& name, const std::string& value, Arguments* args);

struct Option {
    const char* shortName;  // "-o", or nullptr
    const char* longName;
    const char* value;      // the value's name in the usage text; nullptr for a switch
    unsigned commands;      // CommandBits of the commands that take it; 0 for one that acts at once
    bool branding;          // listed under branding
    const char* help;       // its lines in the usage text; nullptr: listed with the option before
    OptionSetter set;       // nullptr for --help and --version, which act at once
};

extern const Option OPTIONS[];
extern const size_t OPTION_COUNT;

// The text --help prints.
std::string UsageText();
