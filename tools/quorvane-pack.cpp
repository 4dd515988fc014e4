// quorvane-pack: builds launcher files and looks inside them. The packing
// logic lives in pack/; this file holds only arguments, messages and exit codes.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive.h"
#include "codepage.h"
#include "host_files.h"
#include "pack.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>
#include <shellapi.h>
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
    "       quorvane-pack list [--codepage N] FILE\n"
    "       quorvane-pack check [--codepage N] FILE\n"
    "       quorvane-pack extract [--codepage N] [-v] FILE DIR\n"
    "       quorvane-pack --help | --version\n"
    "\n"
    "build    make a launcher: STUB, filler up to 0x200000, then every file of\n"
    "         PATH... (files, or folders of files), in ascending name order\n"
    "         ignoring case; written to a temporary file beside OUT and renamed\n"
    "         into place only when complete\n"
    "list     show each entry (offset, size, name in UTF-8), the totals, where\n"
    "         the image and the filler end, trailing bytes, a certificate table\n"
    "check    validate as list does; print nothing when the launcher is sound\n"
    "extract  stage the entries into DIR the way the launcher does, names\n"
    "         converted to UTF-8\n"
    "\n"
    "options:\n"
    "  -o, --output OUT   the launcher file to write\n"
    "  --stub STUB        the launcher program (a PE image of at most 2 MiB)\n"
    "  --codepage N       code page of the stored names (default 936)\n"
    "  --filler BYTE      filler byte, 0-255 or 0x00-0xFF (default 0xCD)\n"
    "  --force            accept a stub without MZ and PE signatures\n"
    "  -q, --quiet        no progress display\n"
    "  -v, --verbose      list each entry as it is packed or staged\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  damaged or refused input (bad name, stub, archive, missing file)\n"
    "  2  usage or I/O error, or interrupted\n";

volatile std::sig_atomic_t g_cancel = 0;

void Message(const std::string& text)
{
    fprintf(stderr, "quorvane-pack: %s\n", text.c_str());
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

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    unsigned long n = strtoul(text.c_str(), &end, 0);
    if (*end != '\0' || n > max)
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

// Options shared by the commands; each command says which it accepts.
struct Arguments {
    std::string command;
    std::string output;
    std::string stub;
    unsigned codePage = DEFAULT_CODE_PAGE;
    unsigned char filler = 0xCD;
    bool force = false;
    bool quiet = false;
    bool verbose = false;
    std::vector<std::string> operands;
};

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
        if (arg == "--version") {
            printf("quorvane-pack %s\n", QUORVANE_VERSION);
            return EXIT_SUCCESS_CODE;
        }
        if (arg == "--force") {
            parsed->force = true;
        } else if (arg == "-q" || arg == "--quiet") {
            parsed->quiet = true;
        } else if (arg == "-v" || arg == "--verbose") {
            parsed->verbose = true;
        } else if (arg == "-o" || arg == "--output" || arg == "--stub" || arg == "--codepage" ||
                   arg == "--filler") {
            if (i + 1 >= args.size())
                return Usage(arg + " needs a value");
            const std::string& value = args[++i];
            unsigned long n = 0;
            if (arg == "-o" || arg == "--output") {
                parsed->output = value;
            } else if (arg == "--stub") {
                parsed->stub = value;
            } else if (arg == "--codepage") {
                if (!ParseNumber(value, 65535, &n) || n == 0)
                    return Usage("--codepage " + value + ": not a code page number");
                parsed->codePage = static_cast<unsigned>(n);
            } else {
                if (!ParseNumber(value, 255, &n))
                    return Usage("--filler " + value + ": not a byte value (0-255)");
                parsed->filler = static_cast<unsigned char>(n);
            }
        } else {
            return Usage("unknown option " + arg);
        }
    }
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
    case PackError::WriteFailed:
    case PackError::Interrupted:
        return EXIT_USAGE;
    default:
        return EXIT_REFUSED;
    }
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
        return EXIT_SUCCESS_CODE;
    }
    std::string text = PackErrorText(error);
    if (error == PackError::NameNotRepresentable)
        text += " " + std::to_string(args.codePage);
    if (error == PackError::DuplicateName)
        Message(result.culprit + " and " + result.other + ": " + text);
    else
        Message(result.culprit + ": " + text);
    return ExitFor(error);
}

bool IsDamage(PayloadError error)
{
    return error == PayloadError::NameWithoutNul || error == PayloadError::UnsafeName ||
           error == PayloadError::TruncatedData || error == PayloadError::NameNotConvertible ||
           error == PayloadError::NoArchive;
}

int ReportDamage(const std::string& file, PayloadError error, uint64_t offset, const std::string& name)
{
    if (!IsDamage(error)) {
        Message(file + ": " + PayloadErrorText(error));
        return EXIT_USAGE;
    }
    std::string where = "entry at " + Hex(offset);
    if (!name.empty())
        where += " (" + EscapeName(name) + ")";
    Message(file + ": damaged: " + where + ": " + PayloadErrorText(error));
    return EXIT_REFUSED;
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
    if (print) {
        printf("offset            size  name\n");
        for (const ListedEntry& entry : report.entries)
            printf("%s  %10u  %s\n", Hex(entry.offset).c_str(), entry.size,
                   entry.utf8Name.empty() ? EscapeName(entry.storedName).c_str() : entry.utf8Name.c_str());
        printf("%zu entries, %llu bytes of data\n", report.entries.size(),
               static_cast<unsigned long long>(report.dataBytes));
        if (report.imageEndKnown)
            printf("image ends at %s\n", Hex(report.imageEnd).c_str());
        else
            printf("image end unknown (not a PE image)\n");
        if (report.fileSize < PAYLOAD_OFFSET)
            printf("file ends at %s, before the payload offset %s: no archive\n",
                   Hex(report.fileSize).c_str(), Hex(PAYLOAD_OFFSET).c_str());
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
        if (report.signedImage)
            printf("certificate table at %s, %llu bytes (not an entry)\n", Hex(report.certOffset).c_str(),
                   static_cast<unsigned long long>(report.certSize));
        printf("file size: %llu bytes\n", static_cast<unsigned long long>(report.fileSize));
    }
    if (error != PayloadError::Ok)
        return ReportDamage(file, error, report.errorOffset, report.errorName);
    if (report.fileSize < PAYLOAD_OFFSET) {
        // As for the launcher's own staging: a file cut short has lost its archive.
        Message(file + ": damaged: " + PayloadErrorText(PayloadError::NoArchive));
        return EXIT_REFUSED;
    }
    return EXIT_SUCCESS_CODE;
}

void OnEntryStaged(const char* name, uint32_t size, void* context)
{
    if (*static_cast<const bool*>(context))
        printf("%10u  %s\n", size, name);
}

int Extract(const Arguments& args)
{
    if (args.operands.size() != 2)
        return Usage("extract takes FILE and DIR");
    if (!IsCodePageSupported(args.codePage))
        return Usage("code page " + std::to_string(args.codePage) + " is not supported on this system");
    const std::string& file = args.operands[0];
    if (StatHostPath(file, nullptr) != HostPathKind::File) {
        Message(file + ": " + PayloadErrorText(PayloadError::CannotOpenLauncher));
        return EXIT_USAGE;
    }
    bool verbose = args.verbose;
    StageResult result;
    if (ExtractLauncher(file, args.operands[1], args.codePage, OnEntryStaged, &verbose, &result))
        return EXIT_SUCCESS_CODE;
    std::string at = result.stoppedAt[0] != '\0' ? " at " + EscapeName(result.stoppedAt) : std::string();
    Message(file + ": staging stopped" + at + ": " + PayloadErrorText(result.error));
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
    if (args.command == "list")
        return ListOrCheck(args, true);
    if (args.command == "check")
        return ListOrCheck(args, false);
    if (args.command == "extract")
        return Extract(args);
    return Usage("unknown command " + args.command);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args;
#ifdef _WIN32
    // Host names are Unicode here: take the wide command line, work in UTF-8.
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i)
        args.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    if (_isatty(_fileno(stderr)) || _isatty(_fileno(stdout)))
        SetConsoleOutputCP(CP_UTF8);
#else
    args.assign(argv + 1, argv + argc);
#endif
    int status = Run(args);
    if (fflush(stdout) != 0 && status == EXIT_SUCCESS_CODE) {
        Message("cannot write the output");
        status = EXIT_USAGE;
    }
    return status;
}
