// What the files of quorvane-pack share: the parsed arguments, the exit
// codes, the message lines, and the commands and reports each file holds.
// The tool holds arguments, messages and exit codes only; the work is
// quorvane_pack_core's (pack/).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "brand.h"
#include "codepage.h"
#include "pack.h"

const int EXIT_SUCCESS_CODE = 0;
const int EXIT_REFUSED = 1;  // a damaged or refused input
const int EXIT_USAGE = 2;    // usage or I/O error

// The commands, as bits: which commands take an option.
enum CommandBit : unsigned {
    COMMAND_BUILD = 1,
    COMMAND_BRAND = 2,
    COMMAND_LIST = 4,
    COMMAND_CHECK = 8,
    COMMAND_EXTRACT = 16,
    COMMAND_GUIDE = 32,
};

// The command line, parsed (options.cpp).
struct Arguments {
    std::string command;
    std::string output;
    std::string stub;
    unsigned codePage = DEFAULT_CODE_PAGE;
    unsigned char filler = 0xCD;
    bool force = false;
    bool noIntegrity = false;
    PackCompression compression = PackCompression::None;
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    bool strict = false;
    std::vector<std::string> excludes;
    BrandOptions brand;
    std::vector<std::string> operands;
    std::vector<std::string> options;  // as given, to judge against the command
};

// Parses the command line. Returns -1 when the command is to run, else the
// exit status (after --help, --version, a usage error, or no arguments at all).
int ParseArguments(const std::vector<std::string>& args, Arguments* parsed);

// One line on stderr: "quorvane-pack: TEXT", or a warning.
void Message(const std::string& text);
void Warning(const std::string& text);
// A usage error: its line and where to look; returns EXIT_USAGE.
int Usage(const std::string& problem);
// The exit status of an error of this kind.
int ExitFor(ErrorKind kind);

// The commands (build_command.cpp, inspect_command.cpp, guide_command.cpp).
int Build(const Arguments& args);
int Brand(const Arguments& args);
int ListOrCheck(const Arguments& args, bool print);
int Extract(const Arguments& args);
int Guide(const Arguments& args);

// The one line a failed build, branding or guide prints; returns its exit status.
int Failed(const PackResult& result, unsigned codePage);
// Warnings about a launcher that cannot work; returns how many were given.
int WarnAboutLauncher(const std::string& file, bool launcherStub, unsigned editions);

// Words the reports share (report_text.cpp).
std::string Hex(uint64_t value);
// Packed bytes to unpacked, to three places ("1.000" for nothing at all).
std::string Ratio(uint64_t packed, uint64_t unpacked);
// The method as list shows it.
const char* MethodName(uint8_t method, uint8_t filter);
// A control's text as the user reads it: "&&" is an ampersand, and "&" before
// another character only marks it as the access key.
std::string AsShown(const std::string& text);
// Text read from a stub, safe to print: C0 controls and DEL as \xNN, the C1
// controls (which terminals may obey as escapes) as \u00NN, a backslash as
// two; all else as it is.
std::string Shown(const std::string& utf8);
// Whether utf8 holds a C1 control (U+0080..U+009F) at byte at.
bool IsC1(const std::string& utf8, size_t at);
// One line on the integrity record, for list and extract.
std::string IntegrityText(IntegrityState state, const IntegrityRecord& record);

// The reports of list: as text (report_text.cpp) and as one JSON object
// (report_json.cpp). branding is null for a file without readable resources.
void PrintTextReport(const LauncherReport& report, PayloadError error, const BrandingReport* branding);
void PrintJsonReport(const std::string& file, const LauncherReport& report, PayloadError error,
                     const BrandingReport* branding);
