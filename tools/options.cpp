// The command line: one table of options, which the usage text, the parser
// and the check of which command takes which option all read.
#include <cstdio>
#include <cstdlib>

#include "options.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

const unsigned BUILD = COMMAND_BUILD, BRAND = COMMAND_BRAND, LIST = COMMAND_LIST, CHECK = COMMAND_CHECK,
               EXTRACT = COMMAND_EXTRACT, GUIDE = COMMAND_GUIDE;

// Decimal, or hexadecimal after 0x; a leading zero does not mean octal.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value)
{
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 8 || digits.find_first_not_of(allowed) != std::string::npos)
        return false;
    unsigned long n = strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    if (n > max)
        return false;
    *value = n;
    return true;
}

// A branding file: its path, which may not be empty.
std::string BrandFile(const std::string& name, const std::string& value, std::string* path)
{
    if (value.empty())
        return name + " needs a file";
    *path = value;
    return std::string();
}

}  // namespace

// The options in the order the usage text lists them. A setter's arguments:
// the option as given (n), its value (v), the arguments it goes into (a).
const Option OPTIONS[] = {
    {"-o", "--output", "OUT", BUILD | BRAND | GUIDE, false, "the file to write",
     [](const std::string&, const std::string& v, Arguments* a) { a->output = v; return std::string(); }},
    {nullptr, "--stub", "STUB", BUILD | BRAND, false,
     "the launcher stub (a PE image of at most 2 MiB); default:\nthe one installed with this packer",
     [](const std::string&, const std::string& v, Arguments* a) { a->stub = v; return std::string(); }},
    {nullptr, "--codepage", "N", BUILD | LIST | CHECK | EXTRACT, false, "code page of the stored names (default 936)",
     [](const std::string&, const std::string& v, Arguments* a) {
         unsigned long n = 0;
         if (!ParseNumber(v, 65535, &n) || n == 0)
             return "--codepage " + v + ": not a code page number (decimal or 0x hexadecimal)";
         a->codePage = static_cast<unsigned>(n);
         return std::string();
     }},
    {nullptr, "--filler", "BYTE", BUILD, false, "filler byte (default 0xCD)",
     [](const std::string&, const std::string& v, Arguments* a) {
         unsigned long n = 0;
         if (!ParseNumber(v, 255, &n))
             return "--filler " + v + ": not a byte value (0-255 or 0x00-0xFF)";
         a->filler = static_cast<unsigned char>(n);
         return std::string();
     }},
    {nullptr, "--exclude", "GLOB", BUILD, false,
     "skip files and folders whose name matches GLOB\n(* and ?, letters in any case); may be repeated",
     [](const std::string&, const std::string& v, Arguments* a) {
         if (v.empty())
             return std::string("--exclude needs a pattern");
         a->excludes.push_back(v);
         return std::string();
     }},
    {nullptr, "--force", nullptr, BUILD, false, "accept a stub without MZ and PE signatures",
     [](const std::string&, const std::string&, Arguments* a) { a->force = true; return std::string(); }},
    {nullptr, "--no-integrity", nullptr, BUILD, false,
     "no integrity record (the archive as older packers\nwrote it); not with --compress lzma",
     [](const std::string&, const std::string&, Arguments* a) { a->noIntegrity = true; return std::string(); }},
    {nullptr, "--compress", "METHOD", BUILD, false,
     "lzma (compressed, solid, straight after the stub,\nalways with its end record) or none (default)",
     [](const std::string&, const std::string& v, Arguments* a) {
         if (v != "lzma" && v != "none")
             return "--compress " + v + ": not a method (lzma or none)";
         a->compression = v == "lzma" ? PackCompression::Lzma : PackCompression::None;
         return std::string();
     }},
    {"-q", "--quiet", nullptr, BUILD, false, "no progress display and no editions line",
     [](const std::string&, const std::string&, Arguments* a) { a->quiet = true; return std::string(); }},
    {"-v", "--verbose", nullptr, BUILD | BRAND | EXTRACT, false,
     "say which stub is used; list each entry as it is packed\nor staged",
     [](const std::string&, const std::string&, Arguments* a) { a->verbose = true; return std::string(); }},
    {nullptr, "--json", nullptr, LIST, false, "print the report as one JSON object",
     [](const std::string&, const std::string&, Arguments* a) { a->json = true; return std::string(); }},
    {nullptr, "--strict", nullptr, CHECK, false,
     "also fail when no edition can start or the stub is not\nthe launcher",
     [](const std::string&, const std::string&, Arguments* a) { a->strict = true; return std::string(); }},
    {"-h", "--help", nullptr, 0, false, "show this text; after a command, that command's", nullptr},
    {nullptr, "--version", nullptr, 0, false, "show the version (after build or brand: see below)", nullptr},
    {nullptr, "--splash", "IMG", BUILD | BRAND | GUIDE, true,
     "the splash picture, 600 x 360: BMP, PNG or JPEG, opaque\n(guide: the picture to draw the layout over)",
     [](const std::string& n, const std::string& v, Arguments* a) { return BrandFile(n, v, &a->brand.splash); }},
    {nullptr, "--button-simplified", "IMG", BUILD | BRAND, true, "the buttons' pictures, 118 x 26 each",
     [](const std::string& n, const std::string& v, Arguments* a) {
         return BrandFile(n, v, &a->brand.buttons[BUTTON_SIMPLIFIED]);
     }},
    {nullptr, "--button-traditional", "IMG", BUILD | BRAND, true, nullptr,
     [](const std::string& n, const std::string& v, Arguments* a) {
         return BrandFile(n, v, &a->brand.buttons[BUTTON_TRADITIONAL]);
     }},
    {nullptr, "--button-exit", "IMG", BUILD | BRAND, true, nullptr,
     [](const std::string& n, const std::string& v, Arguments* a) {
         return BrandFile(n, v, &a->brand.buttons[BUTTON_EXIT]);
     }},
    {nullptr, "--icon", "FILE.ico", BUILD | BRAND, true, "the icon, replaced with all of the file's images",
     [](const std::string& n, const std::string& v, Arguments* a) { return BrandFile(n, v, &a->brand.icon); }},
    {nullptr, "--product", "NAME", BUILD | BRAND, true,
     "ProductName and FileDescription, the About box's caption\nand product line, the system menu's About entry",
     [](const std::string&, const std::string& v, Arguments* a) { a->brand.product = v; return std::string(); }},
    {nullptr, "--company", "NAME", BUILD | BRAND, true, "CompanyName",
     [](const std::string&, const std::string& v, Arguments* a) { a->brand.company = v; return std::string(); }},
    {nullptr, "--copyright", "TEXT", BUILD | BRAND, true, "LegalCopyright and the About box's legal line",
     [](const std::string&, const std::string& v, Arguments* a) { a->brand.copyright = v; return std::string(); }},
    {nullptr, "--version", "A.B.C.D", BUILD | BRAND, true,
     "the file and product versions and their strings; A, A.B\nand A.B.C stand for A.0.0.0, A.B.0.0 and A.B.C.0",
     [](const std::string&, const std::string& v, Arguments* a) {
         std::vector<uint16_t> version;
         if (!ParseBrandVersion(v, &version))
             return "--version " + v + ": not a version A.B.C.D of one to four numbers from 0 to 65535";
         a->brand.version = version;
         return std::string();
     }},
};
const size_t OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];

unsigned CommandBitOf(const std::string& name)
{
    for (size_t i = 0; i < COMMAND_COUNT; ++i)
        if (name == COMMANDS[i].name)
            return COMMANDS[i].bit;
    return 0;
}

namespace {

// The option spelled name, as the command reads it: --version is the
// tool's own unless the command brands.
const Option* FindOption(const std::string& name, const std::string& command)
{
    const Option* found = nullptr;
    for (const Option& option : OPTIONS) {
        if (name != option.longName && (option.shortName == nullptr || name != option.shortName))
            continue;
        if (option.commands & CommandBitOf(command))
            return &option;
        if (found == nullptr)
            found = &option;
    }
    return found;
}

// Whether the command takes the option; an unknown command is reported as such.
bool OptionApplies(const std::string& command, const std::string& name)
{
    unsigned bit = CommandBitOf(command);
    const Option* option = FindOption(name, command);
    return bit == 0 || option == nullptr || (option->commands & bit) != 0;
}

}  // namespace

int ParseArguments(const std::vector<std::string>& args, Arguments* parsed)
{
    if (args.empty()) {
        fputs(ShortUsageText().c_str(), stderr);
        return EXIT_USAGE;
    }
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (parsed->command.empty())
                parsed->command = arg;
            else
                parsed->operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const Option* option = FindOption(arg, parsed->command);
        if (option != nullptr && option->set == nullptr) {
            unsigned bit = CommandBitOf(parsed->command);
            if (!parsed->command.empty() && bit == 0)
                return Usage("unknown command " + parsed->command);
            if (std::string(option->longName) == "--help")
                fputs((bit != 0 ? CommandUsageText(bit) : UsageText()).c_str(), stdout);
            else
                printf("quorvane-pack %s\n", QUORVANE_VERSION);
            return EXIT_SUCCESS_CODE;
        }
        parsed->options.push_back(arg);
        if (option == nullptr)
            return Usage("unknown option " + arg);
        std::string value;
        if (option->value != nullptr) {
            if (i + 1 >= args.size())
                return Usage(arg + " needs a value");
            value = args[++i];
        }
        std::string problem = option->set(arg, value, parsed);
        if (!problem.empty())
            return Usage(problem);
    }
    for (const std::string& option : parsed->options)
        if (!parsed->command.empty() && !OptionApplies(parsed->command, option))
            return Usage(option + " does not apply to " + parsed->command);
    if (parsed->noIntegrity && parsed->compression == PackCompression::Lzma)
        return Usage("--no-integrity does not apply to --compress lzma: a compressed launcher always carries its "
                     "end record");
    return -1;
}
