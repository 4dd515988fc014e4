// quorvane-pack: builds launcher files and looks inside them. The packing
// logic lives in pack/; this file holds only arguments, messages and exit codes.
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive.h"
#include "brand_command.h"
#include "codepage.h"
#include "host_files.h"
#include "pack.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

const int EXIT_SUCCESS_CODE = 0;
const int EXIT_REFUSED = 1;  // a damaged or refused input
const int EXIT_USAGE = 2;    // usage or I/O error

const char USAGE[] =
    "usage: quorvane-pack build -o OUT --stub STUB [options] PATH...\n"
    "       quorvane-pack brand -o OUT --stub STUB [branding options]\n"
    "       quorvane-pack list [--codepage N] [--json] FILE\n"
    "       quorvane-pack check [--codepage N] [--strict] FILE\n"
    "       quorvane-pack extract [--codepage N] [-v] FILE DIR\n"
    "       quorvane-pack --help | --version\n"
    "\n"
    "build    make a launcher: STUB, filler up to 0x200000, then every file of\n"
    "         PATH... (files, or folders of files), in ascending name order\n"
    "         ignoring case; every input is judged before anything is written,\n"
    "         OUT must be neither STUB nor an input nor inside a PATH folder;\n"
    "         written beside OUT, flushed to disk and renamed into place; an\n"
    "         integrity record (XXH3-128 of the archive) follows the last entry;\n"
    "         --compress lzma puts the entries' data in one LZMA stream right\n"
    "         after STUB instead, which must be a launcher that reads it; with\n"
    "         branding options, the stub is branded on the way\n"
    "brand    write STUB branded with a product's pictures, icon and texts, as\n"
    "         a stub to build with; what no option names stays as it is\n"
    "list     show each entry (offset, size, name in UTF-8; compressed: packed\n"
    "         size, ratio and method too), the totals, where the image and the\n"
    "         filler (or the compressed archive) end, trailing bytes, a certificate table,\n"
    "         whether the stub is the launcher, which editions can start, the\n"
    "         integrity record (none, or its algorithm and ok or mismatch) and\n"
    "         the stub's branding: version strings, pictures, icon, About texts\n"
    "check    validate as list does; print nothing when the launcher is sound;\n"
    "         a mismatch with the integrity record is damage; a compressed\n"
    "         archive is decoded in full, nothing written\n"
    "extract  stage the entries into DIR the way the launcher does, names\n"
    "         converted to UTF-8, verifying the integrity record on the way;\n"
    "         says whether it was verified\n"
    "\n"
    "An edition can start when its setup program is packed (any case):\n"
    "ZelkSetupGb.exe (Simplified Chinese) or ZelkSetupbig5.exe (Traditional\n"
    "Chinese). ZelkSetupEnglish.exe is reported too, but the launcher hides its\n"
    "button. build warns when no edition can start, when STUB is not the\n"
    "launcher (its version block's InternalName) and when it packs a stray file\n"
    "(Thumbs.db, desktop.ini, .DS_Store, editor backups and swap files).\n"
    "\n"
    "options:\n"
    "  -o, --output OUT   build: the launcher file to write\n"
    "  --stub STUB        build: the launcher program (a PE image of at most 2 MiB)\n"
    "  --codepage N       code page of the stored names (default 936)\n"
    "  --filler BYTE      build: filler byte (default 0xCD)\n"
    "  --exclude GLOB     build: skip files and folders whose name matches GLOB\n"
    "                     (* and ?, letters in any case); may be repeated\n"
    "  --force            build: accept a stub without MZ and PE signatures\n"
    "  --no-integrity     build: no integrity record (the archive as older\n"
    "                     packers wrote it); not with --compress lzma\n"
    "  --compress METHOD  build: lzma (compressed, solid, straight after the\n"
    "                     stub, always with its end record) or none (default)\n"
    "  -q, --quiet        build: no progress display and no editions line\n"
    "  -v, --verbose      build, extract: list each entry as it is packed or staged\n"
    "  --json             list: print the report as one JSON object\n"
    "  --strict           check: also fail when no edition can start or the stub\n"
    "                     is not the launcher\n"
    "  --help             show this text\n"
    "  --version          show the version (after build or brand: see below)\n"
    "branding, for build and brand; what is not given stays as the stub has it:\n"
    "  --splash IMG       the splash picture, 600 x 360: BMP, PNG or JPEG, opaque\n"
    "  --button-simplified IMG, --button-traditional IMG, --button-exit IMG\n"
    "                     the buttons' pictures, 118 x 26 each\n"
    "  --icon FILE.ico    the icon, replaced with all of the file's images\n"
    "  --product NAME     ProductName and FileDescription, the About box's caption\n"
    "                     and product line, the system menu's About entry\n"
    "  --company NAME     CompanyName\n"
    "  --copyright TEXT   LegalCopyright and the About box's legal line\n"
    "  --version A.B.C.D  the file and product versions and their strings\n"
    "Numbers are decimal or 0x hexadecimal.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  damaged or refused input (bad name, stub, archive, picture, missing\n"
    "     file, an output that would replace an input); check --strict: a warning\n"
    "  2  usage or I/O error, or interrupted\n";

volatile std::sig_atomic_t g_cancel = 0;

void Message(const std::string& text)
{
    fprintf(stderr, "quorvane-pack: %s\n", text.c_str());
}

void Warning(const std::string& text)
{
    fprintf(stderr, "quorvane-pack: warning: %s\n", text.c_str());
}

int Usage(const std::string& problem)
{
    Message(problem);
    fprintf(stderr, "Try 'quorvane-pack --help'.\n");
    return EXIT_USAGE;
}

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    g_cancel = 1;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    Sleep(5000);  // the process ends when this returns: give the build time to clean up
    return TRUE;
}

void CatchInterrupts()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
#else
void OnSignal(int)
{
    g_cancel = 1;
}

void CatchInterrupts()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
#endif

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

std::string Hex(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

// Packed bytes to unpacked, to three places ("1.000" for nothing at all).
std::string Ratio(uint64_t packed, uint64_t unpacked)
{
    char text[24];
    snprintf(text, sizeof text, "%.3f", unpacked == 0 ? 1.0 : static_cast<double>(packed) / unpacked);
    return text;
}

// The method as list shows it.
const char* MethodName(uint8_t method, uint8_t filter)
{
    if (method == ENTRY_METHOD_STORED)
        return "stored";
    return filter == ENTRY_FILTER_X86 ? "lzma+x86" : "lzma";
}

// Options shared by the commands; each command says which it accepts.
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

// Which options each command takes; any other is a usage error.
bool OptionApplies(const std::string& command, const std::string& option)
{
    static const struct {
        const char* command;
        const char* options;
    } table[] = {
        {"build", " -o --output --stub --codepage --filler --exclude --force --no-integrity --compress -q --quiet -v "
                  "--verbose "},
        {"brand", " -o --output --stub "},
        {"list", " --codepage --json "},
        {"check", " --codepage --strict "},
        {"extract", " --codepage -v --verbose "},
    };
    if ((command == "build" || command == "brand") && IsBrandOption(option))
        return true;
    for (const auto& entry : table)
        if (command == entry.command)
            return strstr(entry.options, (" " + option + " ").c_str()) != nullptr;
    return true;  // an unknown command is reported as such
}

// Returns -1 when parsing succeeded, else the exit status.
int Parse(const std::vector<std::string>& args, Arguments* parsed)
{
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
        if (arg == "--help") {
            fputs(USAGE, stdout);
            return EXIT_SUCCESS_CODE;
        }
        // After build or brand, --version takes the version to brand with.
        if (arg == "--version" && parsed->command != "build" && parsed->command != "brand") {
            printf("quorvane-pack %s\n", QUORVANE_VERSION);
            return EXIT_SUCCESS_CODE;
        }
        parsed->options.push_back(arg);
        if (arg == "--force") {
            parsed->force = true;
        } else if (arg == "--no-integrity") {
            parsed->noIntegrity = true;
        } else if (arg == "--json") {
            parsed->json = true;
        } else if (arg == "--strict") {
            parsed->strict = true;
        } else if (arg == "-q" || arg == "--quiet") {
            parsed->quiet = true;
        } else if (arg == "-v" || arg == "--verbose") {
            parsed->verbose = true;
        } else if (arg == "-o" || arg == "--output" || arg == "--stub" || arg == "--codepage" ||
                   arg == "--filler" || arg == "--exclude" || arg == "--compress") {
            if (i + 1 >= args.size())
                return Usage(arg + " needs a value");
            const std::string& value = args[++i];
            unsigned long n = 0;
            if (arg == "-o" || arg == "--output") {
                parsed->output = value;
            } else if (arg == "--stub") {
                parsed->stub = value;
            } else if (arg == "--compress") {
                if (value != "lzma" && value != "none")
                    return Usage("--compress " + value + ": not a method (lzma or none)");
                parsed->compression = value == "lzma" ? PackCompression::Lzma : PackCompression::None;
            } else if (arg == "--exclude") {
                if (value.empty())
                    return Usage("--exclude needs a pattern");
                parsed->excludes.push_back(value);
            } else if (arg == "--codepage") {
                if (!ParseNumber(value, 65535, &n) || n == 0)
                    return Usage("--codepage " + value + ": not a code page number (decimal or 0x hexadecimal)");
                parsed->codePage = static_cast<unsigned>(n);
            } else {
                if (!ParseNumber(value, 255, &n))
                    return Usage("--filler " + value + ": not a byte value (0-255 or 0x00-0xFF)");
                parsed->filler = static_cast<unsigned char>(n);
            }
        } else if (IsBrandOption(arg)) {
            if (i + 1 >= args.size())
                return Usage(arg + " needs a value");
            std::string problem;
            if (!SetBrandOption(arg, args[++i], &parsed->brand, &problem))
                return Usage(problem);
        } else {
            return Usage("unknown option " + arg);
        }
    }
    for (const std::string& option : parsed->options)
        if (!parsed->command.empty() && !OptionApplies(parsed->command, option))
            return Usage(option + " does not apply to " + parsed->command);
    if (parsed->noIntegrity && parsed->compression == PackCompression::Lzma)
        return Usage("--no-integrity does not apply to --compress lzma: a compressed launcher always carries its end record");
    return -1;
}

struct Progress {
    bool show = false;
    bool verbose = false;
    int shownPercent = -1;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

void OnProgress(uint64_t done, uint64_t total, void* context)
{
    Progress* progress = static_cast<Progress*>(context);
    if (!progress->show || total == 0)
        return;
    int percent = static_cast<int>(done * 100 / total);
    if (percent == progress->shownPercent)
        return;
    // Short builds stay silent.
    if (std::chrono::steady_clock::now() - progress->start < std::chrono::milliseconds(500))
        return;
    progress->shownPercent = percent;
    fprintf(stderr, "\rpacking: %3d%% (%llu of %llu MiB)", percent,
            static_cast<unsigned long long>(done >> 20), static_cast<unsigned long long>(total >> 20));
    fflush(stderr);
}

void OnEntryStarted(const PackItem& item, uint64_t offset, void* context)
{
    Progress* progress = static_cast<Progress*>(context);
    if (progress->verbose)
        printf("%s  %10llu  %s\n", Hex(offset).c_str(), static_cast<unsigned long long>(item.size),
               item.hostName.c_str());
}

int ExitFor(PackError error)
{
    switch (error) {
    case PackError::Ok:
        return EXIT_SUCCESS_CODE;
    case PackError::UnsupportedCodePage:
    case PackError::ReadFailed:
    case PackError::InputChanged:
    case PackError::CannotCreateOutput:
    case PackError::OutputNotFile:
    case PackError::WriteFailed:
    case PackError::Interrupted:
    case PackError::OutOfMemory:
    case PackError::CompressionFailed:
        return EXIT_USAGE;
    default:
        return EXIT_REFUSED;
    }
}

std::string ByteList(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char hex[8];
        snprintf(hex, sizeof hex, "%s0x%02X", out.empty() ? "" : " ", c);
        out += hex;
    }
    return out;
}

// Why a character's second byte makes its name unsafe.
std::string TrailByteText(const PackResult& result, unsigned codePage)
{
    unsigned char trail = 0;
    for (size_t i = 1; i < result.encoded.size() && trail == 0; ++i) {
        unsigned char c = static_cast<unsigned char>(result.encoded[i]);
        if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr)
            trail = c;
    }
    char byte[8];
    snprintf(byte, sizeof byte, "0x%02X", trail);
    std::string what = trail == '\\' || trail == '/' ? "a folder separator" : "a character file names cannot hold";
    std::string shown = trail >= 0x20 ? std::string("'") + static_cast<char>(trail) + "'" : "a control byte";
    return result.character + " is " + ByteList(result.encoded) + " in code page " + std::to_string(codePage) +
           ", and where the ANSI code page is another one, Windows reads its byte " + byte + " as " + shown +
           ", " + what;
}

std::string EditionsLine(unsigned editions)
{
    std::string line;
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        if (EDITIONS[i].offered && (editions & (1u << i)))
            line += (line.empty() ? "" : ", ") + std::string(EDITIONS[i].language) + " (" + EDITIONS[i].program + ")";
    return "editions that can start: " + (line.empty() ? std::string("none") : line);
}

// Warnings about a launcher that cannot work; returns how many were given.
int WarnAboutLauncher(const std::string& file, bool launcherStub, unsigned editions)
{
    int warnings = 0;
    if (!launcherStub) {
        Warning(file + ": not recognised as the launcher (no version block with InternalName Quorvane)");
        ++warnings;
    }
    if (!CanStartAnEdition(editions)) {
        std::string text = "no edition can start: the payload holds neither ZelkSetupGb.exe nor ZelkSetupbig5.exe";
        for (size_t i = 0; i < EDITION_COUNT; ++i)
            if (!EDITIONS[i].offered && (editions & (1u << i)))
                text += std::string("; ") + EDITIONS[i].program + " is packed, but the launcher hides its button";
        Warning(text);
        ++warnings;
    }
    return warnings;
}

int BrandFailed(const BrandResult& result)
{
    Message(BrandFailureText(result));
    return IsBrandIoError(result.error) ? EXIT_USAGE : EXIT_REFUSED;
}

int Brand(const Arguments& args)
{
    if (args.output.empty())
        return Usage("brand needs -o OUT");
    if (args.stub.empty())
        return Usage("brand needs --stub STUB");
    if (!args.operands.empty())
        return Usage("brand takes no PATH: it writes a stub without an archive");
    BrandResult result;
    if (BrandStubFile(args.stub, args.output, args.brand, &result) != BrandError::Ok)
        return BrandFailed(result);
    for (const std::string& warning : result.warnings)
        Warning(warning);
    return EXIT_SUCCESS_CODE;
}

int Build(const Arguments& args)
{
    if (args.output.empty())
        return Usage("build needs -o OUT");
    if (args.stub.empty())
        return Usage("build needs --stub STUB");
    if (args.operands.empty())
        return Usage("build needs at least one PATH");

    Progress progress;
    progress.show = !args.quiet && StderrIsTerminal();
    progress.verbose = args.verbose;
    PackRequest request;
    request.output = args.output;
    request.stub = args.stub;
    request.inputs = args.operands;
    request.codePage = args.codePage;
    request.filler = args.filler;
    request.force = args.force;
    request.integrity = !args.noIntegrity;
    request.compression = args.compression;
    request.excludes = args.excludes;
    request.brand = args.brand.Any() ? &args.brand : nullptr;
    request.progress = OnProgress;
    request.entryStarted = OnEntryStarted;
    request.context = &progress;
    request.cancel = &g_cancel;
    CatchInterrupts();

    PackResult result;
    PackError error = BuildLauncher(request, &result);
    if (progress.shownPercent >= 0)
        fputc('\n', stderr);
    if (error == PackError::Ok) {
        if (args.verbose)
            printf("%s: %u entries, %llu bytes of data, %llu bytes in all\n", args.output.c_str(),
                   result.entries, static_cast<unsigned long long>(result.dataBytes),
                   static_cast<unsigned long long>(result.outputSize));
        if (!args.quiet && args.compression == PackCompression::Lzma)
            printf("compressed %llu bytes of data into %llu (%s); %llu bytes in all\n",
                   static_cast<unsigned long long>(result.dataBytes), static_cast<unsigned long long>(result.packedBytes),
                   Ratio(result.packedBytes, result.dataBytes).c_str(), static_cast<unsigned long long>(result.outputSize));
        if (!args.quiet)
            printf("%s\n", EditionsLine(result.editions).c_str());
        for (const std::string& stray : result.strays)
            Warning(stray + ": packed, though it looks left behind by accident (--exclude skips it)");
        for (const std::string& warning : result.brand.warnings)
            Warning(warning);
        WarnAboutLauncher(args.stub, result.launcherStub, result.editions);
        return EXIT_SUCCESS_CODE;
    }
    if (error == PackError::BrandRefused)
        return BrandFailed(result.brand);
    std::string text = PackErrorText(error);
    if (error == PackError::NameNotRepresentable)
        text += " " + std::to_string(args.codePage);
    if (error == PackError::UnsafeTrailByte)
        text += ": " + TrailByteText(result, args.codePage);
    if (!result.reason.empty())
        text += ": " + result.reason;
    if (error == PackError::DuplicateName)
        Message(result.culprit + " and " + result.other + ": " + text);
    else if (!result.other.empty())
        Message(result.culprit + ": " + text + " (" + result.other + ")");
    else
        Message(result.culprit + ": " + text);
    return ExitFor(error);
}

bool IsDamage(PayloadError error)
{
    return error == PayloadError::NameWithoutNul || error == PayloadError::UnsafeName ||
           error == PayloadError::TruncatedData || error == PayloadError::NameNotConvertible ||
           error == PayloadError::NoArchive || error == PayloadError::IntegrityMismatch ||
           error == PayloadError::UnknownArchive || error == PayloadError::DictionaryTooLarge ||
           error == PayloadError::DamagedArchive;
}

// One line on the integrity record, for list and extract.
std::string IntegrityText(IntegrityState state, const IntegrityRecord& record)
{
    std::string algorithm = IntegrityAlgorithmName(record.algorithm);
    switch (state) {
    case IntegrityState::None:
        return "none";
    case IntegrityState::Unsupported:
        return "version " + std::to_string(record.version) + ", algorithm " + std::to_string(record.algorithm) +
               ": not known to this version, not verified";
    case IntegrityState::Pending:
        return algorithm + ", not verified: the archive is damaged before its end";
    case IntegrityState::Verified:
        return algorithm + ", ok";
    case IntegrityState::Mismatch:
        return algorithm + ", mismatch";
    }
    return "unknown";
}

const char* IntegrityStatus(IntegrityState state)
{
    switch (state) {
    case IntegrityState::Verified:
        return "ok";
    case IntegrityState::Mismatch:
        return "mismatch";
    case IntegrityState::Unsupported:
        return "unsupported";
    default:
        return "unchecked";
    }
}

// whole: the fault is the archive's own, not one entry's.
int ReportDamage(const std::string& file, PayloadError error, uint64_t offset, const std::string& name,
                 bool whole = false)
{
    if (!IsDamage(error)) {
        Message(file + ": " + PayloadErrorText(error));
        return EXIT_USAGE;
    }
    if (error == PayloadError::IntegrityMismatch) {
        Message(file + ": damaged: " + PayloadErrorText(error) + ": get a new copy");
        return EXIT_REFUSED;
    }
    std::string where = (whole ? "archive at " : "entry at ") + Hex(offset);
    if (!name.empty())
        where += " (" + EscapeName(name) + ")";
    Message(file + ": damaged: " + where + ": " + PayloadErrorText(error));
    return EXIT_REFUSED;
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string HexBytes(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02x", c);
        out += hex;
    }
    return out;
}

std::string Number(uint64_t value)
{
    return std::to_string(static_cast<unsigned long long>(value));
}

void PrintJson(const std::string& file, const LauncherReport& report, PayloadError error,
               const BrandingReport* branding)
{
    printf("{\n  \"file\": %s,\n  \"file_size\": %s,\n", JsonString(file).c_str(), Number(report.fileSize).c_str());
    printf("  \"image_end\": %s,\n", report.imageEndKnown ? Number(report.imageEnd).c_str() : "null");
    printf("  \"filler_end\": %s,\n  \"filler_byte\": %s,\n", Number(report.fillerEnd).c_str(),
           report.fillerUniform ? Number(report.fillerByte).c_str() : "null");
    printf("  \"entries\": [");
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const ListedEntry& entry = report.entries[i];
        printf("%s\n    {\"offset\": %s, \"size\": %u, \"name\": %s, \"stored_name\": \"%s\"", i ? "," : "",
               Number(entry.offset).c_str(), entry.size,
               entry.utf8Name.empty() ? "null" : JsonString(entry.utf8Name).c_str(),
               HexBytes(entry.storedName).c_str());
        if (report.compressed)
            printf(", \"method\": \"%s\", \"packed_size\": %u, \"ratio\": %s", MethodName(entry.method, entry.filter),
                   entry.packedSize, Ratio(entry.packedSize, entry.size).c_str());
        printf("}");
    }
    printf("%s],\n", report.entries.empty() ? "" : "\n  ");
    printf("  \"data_bytes\": %s,\n", Number(report.dataBytes).c_str());
    if (report.compressed)
        printf("  \"compression\": {\"method\": \"lzma\", \"solid\": true, \"dictionary\": %u, \"archive_start\": %s, "
               "\"packed_bytes\": %s, \"ratio\": %s},\n",
               report.dictionary, Number(report.archiveStart).c_str(), Number(report.packedBytes).c_str(),
               Ratio(report.packedBytes, report.dataBytes).c_str());
    else
        printf("  \"compression\": null,\n");
    bool archive = error == PayloadError::Ok && (report.compressed || report.fileSize >= PAYLOAD_OFFSET);
    printf("  \"archive_end\": %s,\n  \"trailing_bytes\": %s,\n", archive ? Number(report.archiveEnd).c_str() : "null",
           archive ? Number(report.trailing).c_str() : "null");
    if (report.signedImage)
        printf("  \"certificate_table\": {\"offset\": %s, \"size\": %s},\n", Number(report.certOffset).c_str(),
               Number(report.certSize).c_str());
    else
        printf("  \"certificate_table\": null,\n");
    if (report.integrity == IntegrityState::None)
        printf("  \"integrity\": null,\n");
    else
        printf("  \"integrity\": {\"offset\": %s, \"version\": %u, \"algorithm\": %s, \"status\": \"%s\"},\n",
               Number(report.recordOffset).c_str(), report.record.version,
               JsonString(IntegrityAlgorithmName(report.record.algorithm)).c_str(), IntegrityStatus(report.integrity));
    printf("  \"branding\": %s,\n", BrandingJson(branding, "  ", JsonString).c_str());
    printf("  \"launcher_stub\": %s,\n  \"editions\": [", report.launcherStub ? "true" : "false");
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        printf("%s\n    {\"language\": \"%s\", \"program\": \"%s\", \"packed\": %s, \"offered\": %s}", i ? "," : "",
               EDITIONS[i].language, EDITIONS[i].program, report.editions & (1u << i) ? "true" : "false",
               EDITIONS[i].offered ? "true" : "false");
    printf("\n  ],\n  \"can_start\": %s,\n", CanStartAnEdition(report.editions) ? "true" : "false");
    PayloadError damage = error != PayloadError::Ok                           ? error
                          : !report.compressed && report.fileSize < PAYLOAD_OFFSET ? PayloadError::NoArchive
                                                                                    : PayloadError::Ok;
    if (damage == PayloadError::Ok)
        printf("  \"damage\": null\n}\n");
    else
        printf("  \"damage\": {\"offset\": %s, \"reason\": %s}\n}\n", Number(report.errorOffset).c_str(),
               JsonString(PayloadErrorText(damage)).c_str());
}

void PrintReport(const LauncherReport& report, PayloadError error, const BrandingReport* branding)
{
    if (report.compressed) {
        printf("offset            size      packed  ratio  method    name\n");
        for (const ListedEntry& entry : report.entries)
            printf("%s  %10u  %10u  %s  %-8s  %s\n", Hex(entry.offset).c_str(), entry.size, entry.packedSize,
                   Ratio(entry.packedSize, entry.size).c_str(), MethodName(entry.method, entry.filter),
                   entry.utf8Name.empty() ? EscapeName(entry.storedName).c_str() : entry.utf8Name.c_str());
        printf("%zu entries, %llu bytes of data, %llu bytes packed (ratio %s)\n", report.entries.size(),
               static_cast<unsigned long long>(report.dataBytes), static_cast<unsigned long long>(report.packedBytes),
               Ratio(report.packedBytes, report.dataBytes).c_str());
    } else {
        printf("offset            size  name\n");
        for (const ListedEntry& entry : report.entries)
            printf("%s  %10u  %s\n", Hex(entry.offset).c_str(), entry.size,
                   entry.utf8Name.empty() ? EscapeName(entry.storedName).c_str() : entry.utf8Name.c_str());
        printf("%zu entries, %llu bytes of data\n", report.entries.size(),
               static_cast<unsigned long long>(report.dataBytes));
    }
    if (report.imageEndKnown)
        printf("image ends at %s\n", Hex(report.imageEnd).c_str());
    else
        printf("image end unknown (not a PE image)\n");
    if (report.compressed)
        printf("compressed archive (LZMA, solid, dictionary %u KiB) starts at %s%s\n", report.dictionary >> 10,
               Hex(report.archiveStart).c_str(),
               report.imageEndKnown && report.imageEnd == report.archiveStart ? ", right after the image" : "");
    else if (report.fileSize < PAYLOAD_OFFSET)
        printf("file ends at %s, before the payload offset %s: no archive\n", Hex(report.fileSize).c_str(),
               Hex(PAYLOAD_OFFSET).c_str());
    else if (report.imageEndKnown && report.imageEnd > PAYLOAD_OFFSET)
        printf("no filler: the image runs past the payload offset %s\n", Hex(PAYLOAD_OFFSET).c_str());
    else if (report.fillerUniform)
        printf("filler ends at %s (every byte 0x%02X)\n", Hex(report.fillerEnd).c_str(), report.fillerByte);
    else
        printf("filler ends at %s\n", Hex(report.fillerEnd).c_str());
    if (error == PayloadError::Ok) {
        printf("archive ends at %s\n", Hex(report.archiveEnd).c_str());
        printf("trailing bytes: %llu\n", static_cast<unsigned long long>(report.trailing));
    }
    if (report.integrity == IntegrityState::None)
        printf("integrity record: none\n");
    else
        printf("integrity record at %s: %s\n", Hex(report.recordOffset).c_str(),
               IntegrityText(report.integrity, report.record).c_str());
    if (report.signedImage)
        printf("certificate table at %s, %llu bytes (not an entry)\n", Hex(report.certOffset).c_str(),
               static_cast<unsigned long long>(report.certSize));
    printf("file size: %llu bytes\n", static_cast<unsigned long long>(report.fileSize));
    printf("stub: %s\n", report.launcherStub ? "the launcher" : "not recognised as the launcher");
    fputs(branding != nullptr ? BrandingText(*branding).c_str() : "branding: none (no resources to read)\n", stdout);
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        printf("edition %-20s %-21s %s\n", EDITIONS[i].language, EDITIONS[i].program,
               !(report.editions & (1u << i)) ? "missing"
               : EDITIONS[i].offered          ? "packed"
                                              : "packed, but its button is hidden");
}

int ListOrCheck(const Arguments& args, bool print)
{
    if (args.operands.size() != 1)
        return Usage(args.command + " takes one FILE");
    if (!IsCodePageSupported(args.codePage))
        return Usage("code page " + std::to_string(args.codePage) + " is not supported on this system");
    const std::string& file = args.operands[0];
    LauncherReport report;
    PayloadError error = DescribeLauncher(file, args.codePage, &report);
    if (error == PayloadError::CannotOpenLauncher || error == PayloadError::ReadFailed) {
        // Nothing was read: there is no report to show.
        Message(file + ": " + PayloadErrorText(error) + (report.reason.empty() ? "" : ": " + report.reason));
        return EXIT_USAGE;
    }
    BrandingReport branding;
    bool branded = print && ReadBranding(file, &branding);
    if (print && args.json)
        PrintJson(file, report, error, branded ? &branding : nullptr);
    else if (print)
        PrintReport(report, error, branded ? &branding : nullptr);
    if (error != PayloadError::Ok)
        return ReportDamage(file, error, report.errorOffset, report.errorName,
                            report.compressed && report.errorOffset == report.archiveStart);
    if (!report.compressed && report.fileSize < PAYLOAD_OFFSET) {
        // As for the launcher's own staging: a file cut short has lost its archive.
        Message(file + ": damaged: " + PayloadErrorText(PayloadError::NoArchive));
        return EXIT_REFUSED;
    }
    int warnings = WarnAboutLauncher(file, report.launcherStub, report.editions);
    return warnings > 0 && args.strict ? EXIT_REFUSED : EXIT_SUCCESS_CODE;
}

struct ExtractTally {
    bool verbose = false;
    bool compressed = false;
    unsigned entries = 0;
    uint64_t size = 0;
    uint64_t packed = 0;
};

void OnEntryStaged(const char* name, const PayloadEntryHeader& header, void* context)
{
    ExtractTally* tally = static_cast<ExtractTally*>(context);
    tally->compressed = tally->compressed || header.method != ENTRY_METHOD_STORED;
    ++tally->entries;
    tally->size += header.size;
    tally->packed += header.packedSize;
    if (tally->verbose && header.method == ENTRY_METHOD_STORED)
        printf("%10u  %s\n", header.size, name);
    else if (tally->verbose)
        printf("%10u  %10u  %s  %-8s  %s\n", header.size, header.packedSize,
               Ratio(header.packedSize, header.size).c_str(), MethodName(header.method, header.filter), name);
}

int Extract(const Arguments& args)
{
    if (args.operands.size() != 2)
        return Usage("extract takes FILE and DIR");
    if (!IsCodePageSupported(args.codePage))
        return Usage("code page " + std::to_string(args.codePage) + " is not supported on this system");
    const std::string& file = args.operands[0];
    HostPathKind kind = StatHostPath(file, nullptr);
    if (kind != HostPathKind::File) {
        Message(file + ": " + PayloadErrorText(PayloadError::CannotOpenLauncher) + ": " +
                (kind == HostPathKind::Missing ? HostErrorText()
                 : kind == HostPathKind::Folder ? "a folder, not a file" : "not a regular file"));
        return EXIT_USAGE;
    }
    ExtractTally tally;
    tally.verbose = args.verbose;
    StageResult result;
    errno = 0;
#ifdef _WIN32
    SetLastError(0);
#endif
    if (ExtractLauncher(file, args.operands[1], args.codePage, OnEntryStaged, &tally, &result)) {
        if (tally.compressed)
            printf("decompressed %u entries: %llu bytes of data from %llu packed (ratio %s)\n", tally.entries,
                   static_cast<unsigned long long>(tally.size), static_cast<unsigned long long>(tally.packed),
                   Ratio(tally.packed, tally.size).c_str());
        printf("integrity record: %s\n", IntegrityText(result.integrity, result.record).c_str());
        return EXIT_SUCCESS_CODE;
    }
    // The staging code keeps no reason of its own; the system's last word is it.
    std::string reason = HostErrorText();
    bool systemFault = result.error == PayloadError::CannotOpenLauncher || result.error == PayloadError::ReadFailed ||
                       result.error == PayloadError::CannotCreate || result.error == PayloadError::WriteFailed;
    std::string at = result.stoppedAt[0] != '\0' ? " at " + EscapeName(result.stoppedAt) : std::string();
    Message(file + ": staging stopped" + at + ": " + PayloadErrorText(result.error) +
            (systemFault ? " in " + args.operands[1] + ": " + reason : std::string()));
    return IsDamage(result.error) ? EXIT_REFUSED : EXIT_USAGE;
}

int Run(const std::vector<std::string>& argv)
{
    Arguments args;
    int status = Parse(argv, &args);
    if (status >= 0)
        return status;
    if (args.command.empty())
        return Usage("no command given");
    if (args.command == "build")
        return Build(args);
    if (args.command == "brand")
        return Brand(args);
    if (args.command == "list")
        return ListOrCheck(args, true);
    if (args.command == "check")
        return ListOrCheck(args, false);
    if (args.command == "extract")
        return Extract(args);
    return Usage("unknown command " + args.command);
}

}  // namespace

#ifdef _WIN32
// The wide command line from the C runtime (-municode): no shell library to load.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(Utf8FromWide(argv[i]));
    UINT consoleCodePage = GetConsoleOutputCP();
    bool console = _isatty(_fileno(stderr)) || _isatty(_fileno(stdout));
    if (console)
        SetConsoleOutputCP(CP_UTF8);
    int status = Run(args);
    if (fflush(stdout) != 0 && status == EXIT_SUCCESS_CODE) {
        Message("cannot write the output");
        status = EXIT_USAGE;
    }
    fflush(stderr);
    if (console && consoleCodePage != 0)
        SetConsoleOutputCP(consoleCodePage);  // the console outlives us
    return status;
}
#else
int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = Run(args);
    if (fflush(stdout) != 0 && status == EXIT_SUCCESS_CODE) {
        Message("cannot write the output");
        status = EXIT_USAGE;
    }
    return status;
}
#endif
