// quorvane-pack: builds launcher files and looks inside them. The packing
// logic lives in pack/; the tool's files hold only arguments (options.cpp),
// messages, reports (report_text.cpp, report_json.cpp) and exit codes. This
// one starts the command and says how it ended.
#include <cstdio>
#include <string>
#include <vector>

#include "host_files.h"
#include "tool.h"
#include "windows_api.h"

#ifdef _WIN32
#include <io.h>
#endif

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

int ExitFor(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::None:
        return EXIT_SUCCESS_CODE;
    case ErrorKind::Refused:
    case ErrorKind::Damage:
        return EXIT_REFUSED;
    case ErrorKind::System:
        return EXIT_USAGE;
    }
    return EXIT_USAGE;
}

namespace {

int Run(const std::vector<std::string>& argv)
{
    Arguments args;
    int status = ParseArguments(argv, &args);
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
    if (args.command == "guide")
        return Guide(args);
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
