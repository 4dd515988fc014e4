// The text --help prints: what each command does, which setup programs
// make an edition, the options from their table, and the exit codes.
#include <string>

#include "editions.h"
#include "options.h"

namespace {

const char SYNOPSIS[] =
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
    "\n";

const char EXIT_STATUS[] =
    "Numbers are decimal or 0x hexadecimal.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  damaged or refused input (bad name, stub, archive, picture, missing\n"
    "     file, an output that would replace an input); check --strict: a warning\n"
    "  2  usage or I/O error, or interrupted\n";

const size_t TEXT_WIDTH = 75;   // of the usage text's paragraphs
const size_t LABEL_WIDTH = 17;  // of the options' column, after two spaces

// text's words in lines of at most TEXT_WIDTH characters.
std::string Wrap(const std::string& text)
{
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > TEXT_WIDTH) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line + "\n";
}

// Which setup programs make an edition that can start, and which are only reported.
std::string EditionsParagraph()
{
    std::string offered, hidden;
    for (const Edition& edition : EDITIONS) {
        if (edition.offered)
            offered += (offered.empty() ? "" : " or ") + std::string(edition.packedName) + " (" + edition.language + ")";
        else
            hidden += std::string(" ") + edition.packedName + " is reported too, but the launcher hides its button.";
    }
    return Wrap("An edition can start when its setup program is packed (any case): " + offered + "." + hidden +
                " build warns when no edition can start, when STUB is not the launcher (its version block's "
                "InternalName) and when it packs a stray file (Thumbs.db, desktop.ini, .DS_Store, editor backups "
                "and swap files).");
}

std::string Label(const Option& option)
{
    std::string label = option.shortName != nullptr ? std::string(option.shortName) + ", " : std::string();
    label += option.longName;
    return option.value != nullptr ? label + " " + option.value : label;
}

// One option's lines: its label, with those listed with it, and its help.
std::string OptionLines(size_t row)
{
    std::string label = Label(OPTIONS[row]);
    for (size_t next = row + 1; next < OPTION_COUNT && OPTIONS[next].help == nullptr; ++next)
        label += ", " + Label(OPTIONS[next]);
    const std::string indent(2 + LABEL_WIDTH + 2, ' ');
    std::string lines = "  " + label;
    lines += label.size() > LABEL_WIDTH ? "\n" + indent : std::string(LABEL_WIDTH + 2 - label.size(), ' ');
    for (const char* c = OPTIONS[row].help; *c != '\0'; ++c)
        lines += *c == '\n' ? "\n" + indent : std::string(1, *c);
    return lines + "\n";
}

}  // namespace

std::string UsageText()
{
    std::string text = SYNOPSIS + EditionsParagraph() + "\noptions:\n";
    bool branding = false;
    for (size_t row = 0; row < OPTION_COUNT; ++row) {
        if (OPTIONS[row].help == nullptr)
            continue;
        if (OPTIONS[row].branding && !branding)
            text += "branding, for build and brand; what is not given stays as the stub has it:\n";
        branding = OPTIONS[row].branding;
        text += OptionLines(row);
    }
    return text + EXIT_STATUS;
}
