// build and brand: the request from the arguments, progress on a terminal,
// interrupts, and the lines that say what came of it.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "editions.h"
#include "tool.h"
#include "windows_api.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

volatile std::sig_atomic_t g_cancel = 0;

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

// What the user can do about a refusal, where an option is the way out.
const char* Advice(PackError error)
{
    switch (error) {
    case PackError::StubWithoutSignatures:
        return "; --force packs it anyway";
    case PackError::StubCannotDecompress:
        return " (use a stub built from this version, or --compress none)";
    default:
        return "";
    }
}

// build and brand both write OUT from a stub: --stub, else the one
// installed with this packer, which -v names. -1 when there are both, else
// the usage error's status.
int NeedOutputAndStub(const Arguments& args, std::string* stub)
{
    if (args.output.empty())
        return Usage(args.command + " needs -o OUT");
    *stub = args.stub;
    if (stub->empty()) {
        std::vector<std::string> tried;
        if (!FindInstalledStub(HostProgramPath(), stub, &tried)) {
            std::string where;
            for (const std::string& path : tried)
                where += (where.empty() ? "" : " nor ") + path;
            return Usage(args.command + " needs --stub STUB: no stub is installed with this packer (" +
                         (where.empty() ? "the system does not say where the packer is" : "neither " + where) +
                         " is there)");
        }
    }
    if (args.verbose)
        printf("stub: %s%s\n", stub->c_str(), args.stub.empty() ? " (installed with this packer)" : "");
    return -1;
}

// The editions that leave the hand-over file: "the Simplified Chinese edition".
std::string HandOverEditions()
{
    std::string editions;
    for (const Edition& edition : EDITIONS)
        if (edition.writesCurrentPath)
            editions += (editions.empty() ? "the " : " and the ") + std::string(edition.language) + " edition";
    return editions;
}

std::string EditionsLine(unsigned editions)
{
    std::string line;
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        if (EDITIONS[i].offered && (editions & (1u << i)))
            line += (line.empty() ? "" : ", ") + std::string(EDITIONS[i].language) + " (" + EDITIONS[i].packedName + ")";
    return "editions that can start: " + (line.empty() ? std::string("none") : line);
}

}  // namespace

int Failed(const PackResult& result, unsigned codePage)
{
    std::string text = std::string(PackErrorText(result.error)) + Advice(result.error);
    if (result.error == PackError::NameNotRepresentable)
        text += " " + std::to_string(codePage);
    if (result.error == PackError::CannotOpenStub)
        text += " " + result.culprit;  // named in the sentence
    if (result.error == PackError::UnsafeTrailByte)
        text += ": " + TrailByteText(result, codePage);
    if (!result.detail.empty())
        text += ": " + result.detail;
    if (!result.reason.empty())
        text += ": " + result.reason;
    if (result.error == PackError::CannotOpenStub)
        Message(text);
    else if (result.error == PackError::DuplicateName)
        Message(result.culprit + " and " + result.other + ": " + text);
    else if (!result.other.empty())
        Message(result.culprit + ": " + text + " (" + result.other + ")");
    else
        Message(result.culprit + ": " + text);
    return ExitFor(PackErrorKind(result.error));
}

int WarnAboutLauncher(const std::string& file, bool launcherStub, unsigned editions)
{
    int warnings = 0;
    if (!launcherStub) {
        Warning(file + ": not recognised as the launcher (no version block with InternalName Quorvane)");
        ++warnings;
    }
    if (!CanStartAnEdition(editions)) {
        std::string offered, hidden;
        for (size_t i = 0; i < EDITION_COUNT; ++i) {
            if (EDITIONS[i].offered)
                offered += (offered.empty() ? "neither " : " nor ") + std::string(EDITIONS[i].packedName);
            else if (editions & (1u << i))
                hidden += std::string("; ") + EDITIONS[i].packedName + " is packed, but the launcher hides its button";
        }
        Warning("no edition can start: the payload holds " + offered + hidden);
        ++warnings;
    }
    return warnings;
}

int Brand(const Arguments& args)
{
    if (!args.operands.empty())
        return Usage("brand takes no PATH: it writes a stub without an archive");
    std::string stub;
    int status = NeedOutputAndStub(args, &stub);
    if (status >= 0)
        return status;
    PackResult result;
    if (BrandStubFile(stub, args.output, args.brand, &result) != PackError::Ok)
        return Failed(result, args.codePage);
    for (const std::string& warning : result.warnings)
        Warning(warning);
    return EXIT_SUCCESS_CODE;
}

int Build(const Arguments& args)
{
    if (args.operands.empty())
        return Usage("build needs at least one PATH");
    std::string stub;
    int status = NeedOutputAndStub(args, &stub);
    if (status >= 0)
        return status;

    Progress progress;
    progress.show = !args.quiet && StderrIsTerminal();
    progress.verbose = args.verbose;
    PackRequest request;
    request.output = args.output;
    request.stub = stub;
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
    if (error != PackError::Ok)
        return Failed(result, args.codePage);
    if (args.verbose)
        printf("%s: %u entries, %llu bytes of data, %llu bytes in all\n", args.output.c_str(), result.entries,
               static_cast<unsigned long long>(result.dataBytes), static_cast<unsigned long long>(result.outputSize));
    if (!args.quiet && args.compression == PackCompression::Lzma)
        printf("compressed %llu bytes of data into %llu (%s); %llu bytes in all\n",
               static_cast<unsigned long long>(result.dataBytes), static_cast<unsigned long long>(result.packedBytes),
               Ratio(result.packedBytes, result.dataBytes).c_str(), static_cast<unsigned long long>(result.outputSize));
    if (!args.quiet)
        printf("%s\n", EditionsLine(result.editions).c_str());
    for (const std::string& stray : result.strays)
        Warning(stray + ": packed, though it looks left behind by accident (--exclude, or EXCLUDE in "
                "quorvane_add_installer, skips it)");
    if (!result.handOver.empty())
        Warning(result.handOver + ": packed as " HAND_OVER_NAME ", which " + HandOverEditions() +
                " replaces with the launcher's folder before its setup program starts");
    for (const std::string& warning : result.warnings)
        Warning(warning);
    WarnAboutLauncher(stub, result.launcherStub, result.editions);
    return EXIT_SUCCESS_CODE;
}
