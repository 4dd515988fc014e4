// The usage texts: the commands' table (what each does, with examples), the
// setup programs that make an edition, the options from their table, and
// the exit codes. --help shows all of it, COMMAND --help one command's part,
// and no arguments at all the synopsis.
#include <string>

#include "editions.h"
#include "options.h"

const Command COMMANDS[] = {
    {"build", COMMAND_BUILD, "build -o OUT [--stub STUB] [options] [branding] PATH...",
     "Make a launcher: the stub, filler up to 0x200000, then every file of PATH... (files, or folders of files) in "
     "ascending name order ignoring case, and an integrity record (XXH3-128 of the archive). --compress lzma puts "
     "the entries' data in one LZMA stream right after the stub instead, which must be a launcher that reads it. "
     "Every input is judged before anything is written; OUT must be neither the stub nor an input nor inside a "
     "PATH folder; it is written beside itself, flushed to disk and renamed into place. With branding options the "
     "stub is branded on the way. A stub that is already signed is refused: sign the launcher after packing.",
     "quorvane-pack build -o ProductSetup.exe payload/\n"
     "quorvane-pack build -o ProductSetup.exe --compress lzma --exclude '*.pdb' payload/ licence.txt\n"
     "quorvane-pack build -o ProductSetup.exe --splash splash.png --product \"Example Product\" --version 2.4 payload/\n"},
    {"brand", COMMAND_BRAND, "brand -o OUT [--stub STUB] [-v] [branding]",
     "Write the stub branded with a product's pictures, icon and texts, as a stub to build with; what no option "
     "names stays as it is. Brand before packing, sign after.",
     "quorvane-pack brand -o ProductStub.exe --splash splash.png --button-simplified simplified.png \\\n"
     "    --button-traditional traditional.png --button-exit exit.png --icon product.ico\n"
     "quorvane-pack brand -o ProductStub.exe --product \"Example Product\" --company \"Example Ltd\" --version 2.4\n"},
    {"list", COMMAND_LIST, "list [--codepage N] [--json] FILE",
     "Show each entry (offset, size, name in UTF-8; compressed: packed size, ratio and method too), the totals, "
     "where the image and the filler (or the compressed archive) end, trailing bytes, a certificate table, whether "
     "the stub is the launcher, which editions can start, the integrity record (none, or its algorithm and ok or "
     "mismatch) and the stub's branding: version strings, pictures, icon, About texts.",
     "quorvane-pack list ProductSetup.exe\n"
     "quorvane-pack list --json ProductSetup.exe >report.json\n"},
    {"check", COMMAND_CHECK, "check [--codepage N] [--strict] FILE",
     "Validate as list does and print nothing when the launcher is sound; a mismatch with the integrity record is "
     "damage; a compressed archive is decoded in full, nothing written.",
     "quorvane-pack check ProductSetup.exe\n"
     "quorvane-pack check --strict SignedProductSetup.exe   # also fails when no edition can start\n"},
    {"extract", COMMAND_EXTRACT, "extract [--codepage N] [-v] FILE DIR",
     "Stage the entries into DIR the way the launcher does, names converted to UTF-8, verifying the integrity "
     "record on the way; says whether it was verified.",
     "quorvane-pack extract ProductSetup.exe staged/\n"
     "quorvane-pack extract -v --codepage 950 ProductSetup.exe staged/\n"},
    {"guide", COMMAND_GUIDE, "guide -o OUT.png [--splash IMG]",
     "Write a 600 x 360 PNG that shows where the window puts its buttons (each picture 118 x 26) and its progress "
     "bar over the splash, with their places and sizes in pixels: over a grid, or over the splash given, to draw "
     "a splash around them.",
     "quorvane-pack guide -o guide.png\n"
     "quorvane-pack guide -o check.png --splash splash.png\n"},
};
const size_t COMMAND_COUNT = sizeof COMMANDS / sizeof COMMANDS[0];

namespace {

const char STUB_PARAGRAPH[] =
    "Without --stub, build and brand use the stub installed with this packer: share/quorvane/Quorvane.exe "
    "beside the packer's bin folder, or in a build tree of Quorvane the stub that tree built; -v says which.";

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
const size_t NAME_WIDTH = 9;    // of the commands' column

// text's words in lines of at most TEXT_WIDTH characters; every line starts
// at column indent (the first after what stands before it there).
std::string Wrap(const std::string& text, size_t indent = 0)
{
    std::string out, line;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(start, end - start);
        if (!line.empty() && indent + line.size() + 1 + word.size() > TEXT_WIDTH) {
            out += line + "\n" + std::string(indent, ' ');
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
                "InternalName), when it packs a stray file (Thumbs.db, desktop.ini, .DS_Store, editor backups "
                "and swap files) and when it packs " HAND_OVER_NAME ", which an edition overwrites.");
}

std::string Label(const Option& option)
{
    std::string label = option.shortName != nullptr ? std::string(option.shortName) + ", " : std::string();
    label += option.longName;
    return option.value != nullptr ? label + " " + option.value : label;
}

// The commands that take an option, as the full text names them: " (build, brand)".
std::string CommandNames(unsigned bits)
{
    std::string names;
    for (size_t i = 0; i < COMMAND_COUNT; ++i)
        if (bits & COMMANDS[i].bit)
            names += (names.empty() ? "" : ", ") + std::string(COMMANDS[i].name);
    return names.empty() ? names : " (" + names + ")";
}

// One option's lines: its label, with those listed with it, its help and
// what follows it.
std::string OptionLines(size_t row, const std::string& after)
{
    std::string label = Label(OPTIONS[row]);
    for (size_t next = row + 1; next < OPTION_COUNT && OPTIONS[next].help == nullptr; ++next)
        label += ", " + Label(OPTIONS[next]);
    const std::string indent(2 + LABEL_WIDTH + 2, ' ');
    std::string lines = "  " + label;
    lines += label.size() > LABEL_WIDTH ? "\n" + indent : std::string(LABEL_WIDTH + 2 - label.size(), ' ');
    for (const char* c = OPTIONS[row].help; *c != '\0'; ++c)
        lines += *c == '\n' ? "\n" + indent : std::string(1, *c);
    size_t lastLine = lines.size() - lines.rfind('\n') - 1;
    if (!after.empty() && lastLine + after.size() > TEXT_WIDTH + 2)
        lines += "\n" + indent.substr(1);  // after on a line of its own
    return lines + after + "\n";
}

// The options of the commands in bits (all with 0), the branding ones last
// under a heading of their own; each followed by its commands when named.
std::string OptionsText(unsigned bits, bool nameCommands)
{
    std::string text;
    bool branding = false;
    for (size_t row = 0; row < OPTION_COUNT; ++row) {
        const Option& option = OPTIONS[row];
        if (option.help == nullptr || (bits != 0 && !(option.commands & bits)))
            continue;
        if (option.branding && !branding && (bits == 0 || (bits & (COMMAND_BUILD | COMMAND_BRAND))))
            text += bits == 0 ? "branding options, for build and brand; what is not given stays as it is:\n"
                              : "branding options; what is not given stays as the stub has it:\n";
        branding = option.branding;
        text += OptionLines(row, nameCommands && !option.branding ? CommandNames(option.commands) : std::string());
    }
    return text;
}

std::string Synopsis()
{
    std::string text;
    for (size_t i = 0; i < COMMAND_COUNT; ++i)
        text += std::string(i == 0 ? "usage: " : "       ") + "quorvane-pack " + COMMANDS[i].synopsis + "\n";
    return text + "       quorvane-pack COMMAND --help | --help | --version\n";
}

}  // namespace

std::string UsageText()
{
    std::string text = Synopsis() + "\n";
    for (size_t i = 0; i < COMMAND_COUNT; ++i) {
        std::string name = COMMANDS[i].name;
        text += name + std::string(NAME_WIDTH - name.size(), ' ') + Wrap(COMMANDS[i].about, NAME_WIDTH);
    }
    text += "\n" + EditionsParagraph() + "\n" + Wrap(STUB_PARAGRAPH) + "\noptions:\n" + OptionsText(0, true);
    return text + EXIT_STATUS;
}

std::string ShortUsageText()
{
    return Synopsis() + "Try 'quorvane-pack --help', or 'quorvane-pack COMMAND --help' for one command.\n";
}

std::string CommandUsageText(unsigned bit)
{
    for (size_t i = 0; i < COMMAND_COUNT; ++i) {
        const Command& command = COMMANDS[i];
        if (command.bit != bit)
            continue;
        std::string text = std::string("usage: quorvane-pack ") + command.synopsis + "\n\n" + Wrap(command.about);
        if (bit == COMMAND_BUILD || bit == COMMAND_BRAND)
            text += "\n" + Wrap(STUB_PARAGRAPH);
        if (bit == COMMAND_BUILD)
            text += "\n" + EditionsParagraph();
        text += "\noptions:\n" + OptionsText(bit, false) + "\nexamples:\n";
        for (const char* c = command.examples; *c != '\0'; ++c)
            text += (c == command.examples || c[-1] == '\n' ? "  " : "") + std::string(1, *c);
        return text;
    }
    return UsageText();
}
