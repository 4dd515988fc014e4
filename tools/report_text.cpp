// list's report as lines of text, and the words every report uses.
#include <cstdio>

#include "editions.h"
#include "tool.h"

namespace {

std::string PictureText(const BrandPicture& picture)
{
    if (picture.compressed && !picture.present)
        return std::string("compressed, damaged: ") + PayloadErrorText(picture.damage);
    if (!picture.present)
        return "none";
    std::string text = std::to_string(picture.width) + " x " +
                       std::to_string(picture.height < 0 ? -picture.height : picture.height) + ", " +
                       std::to_string(picture.bits) + " bits, " +
                       (picture.stock ? "the stock picture" : "not the stock picture");
    if (picture.compressed)
        text += "; compressed (LZMA): " + std::to_string(picture.storedBytes) + " bytes stored, " +
                std::to_string(picture.unpackedBytes) + " unpacked";
    return text;
}

std::string IconImageText(const BrandIconImage& image)
{
    return std::to_string(image.width) + " x " + std::to_string(image.height) + " " + std::to_string(image.bits) +
           " bits (" + (image.png ? "PNG" : "bitmap") + ", " + std::to_string(image.bytes) + " bytes)";
}

// The branding, as lines.
std::string BrandingText(const BrandingReport& report)
{
    std::string text;
    if (!report.fileVersion.empty())
        text += "version: " + report.fileVersion + " (file), " + report.productVersion + " (product)\n";
    for (const auto& string : report.versionStrings)
        text += "version string " + Shown(string.first) + ": " + Shown(string.second) + "\n";
    text += "splash: " + PictureText(report.splash) + "\n";
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        text += std::string("button ") + BRAND_BUTTON_NAMES[i] + ": " + PictureText(report.buttons[i]) + "\n";
    text += "icon: " + std::to_string(report.icon.size()) + " images, " +
            (report.iconStock ? "the stock icon" : "not the stock icon");
    for (size_t i = 0; i < report.icon.size(); ++i)
        text += (i ? ", " : ": ") + IconImageText(report.icon[i]);
    text += "\n";
    if (report.hasAbout)
        text += "About box: " + Shown(report.aboutCaption) + " | " + Shown(report.aboutProduct) + " | " +
                Shown(AsShown(report.aboutLegal)) + "\n";
    if (report.hasSystemMenu)
        text += "system menu entry: " + Shown(report.systemMenu) + "\n";
    return text;
}

}  // namespace

std::string Hex(uint64_t value)
{
    return HexNumber(value, 8);
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

bool IsC1(const std::string& utf8, size_t at)
{
    return static_cast<unsigned char>(utf8[at]) == 0xC2 && at + 1 < utf8.size() &&
           static_cast<unsigned char>(utf8[at + 1]) >= 0x80 && static_cast<unsigned char>(utf8[at + 1]) <= 0x9F;
}

std::string Shown(const std::string& utf8)
{
    std::string shown;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        char escaped[8];
        if (IsC1(utf8, i)) {
            snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned char>(utf8[++i]));
            shown += escaped;
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else if (c == '\\') {
            shown += "\\\\";
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string AsShown(const std::string& text)
{
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i)
        shown += text[i] == '&' && i + 1 < text.size() ? text[++i] : text[i];
    return shown;
}

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

void PrintTextReport(const LauncherReport& report, PayloadError error, const BrandingReport* branding)
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
    for (size_t i = 0; i < EDITION_COUNT; ++i) {
        bool packed = (report.editions & (1u << i)) != 0;
        // Only a missing edition the launcher offers is a fault; the hidden one is information.
        const char* state = EDITIONS[i].offered ? (packed ? "packed" : "missing")
                                                : (packed ? "packed, but its button is hidden"
                                                          : "not packed, and not needed: its button is hidden");
        printf("edition %-20s %-21s %s\n", EDITIONS[i].language, EDITIONS[i].packedName, state);
    }
}
