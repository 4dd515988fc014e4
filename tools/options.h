// The tables of commands and of options, which the parser (options.cpp)
// and the usage texts (usage.cpp) both read.
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

// A command: its name, its bit (CommandBit), and its help (usage.cpp).
struct Command {
    const char* name;
    unsigned bit;
    const char* synopsis;  // after "quorvane-pack "
    const char* about;     // what it does, one paragraph
    const char* examples;  // command lines, one a line
};

extern const Command COMMANDS[];
extern const size_t COMMAND_COUNT;

// The command's bit, 0 for a name that is no command.
unsigned CommandBitOf(const std::string& name);

// The text --help prints.
std::string UsageText();
// The short usage that no arguments at all print.
std::string ShortUsageText();
// What COMMAND --help prints: its usage, options and examples.
std::string CommandUsageText(unsigned bit);
