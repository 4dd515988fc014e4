// list --json: the report as one JSON object.
#include <cstdio>

#include "editions.h"
#include "tool.h"

namespace {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        bool c1 = IsC1(text, i);
        if (c1)
            c = static_cast<unsigned char>(text[++i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c1 || c < 0x20 || c == 0x7F) {
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

std::string PictureJson(const BrandPicture& picture)
{
    if (!picture.present)
        return "null";
    return "{\"width\": " + std::to_string(picture.width) + ", \"height\": " +
           std::to_string(picture.height < 0 ? -picture.height : picture.height) + ", \"bits\": " +
           std::to_string(picture.bits) + ", \"top_down\": " + (picture.height < 0 ? "true" : "false") +
           ", \"stock\": " + (picture.stock ? "true" : "false") +
           (picture.compressed ? ", \"compressed\": {\"method\": \"lzma\", \"stored_bytes\": " +
                                     std::to_string(picture.storedBytes) +
                                     ", \"unpacked_bytes\": " + std::to_string(picture.unpackedBytes) + "}"
                               : std::string()) +
           "}";
}

// The branding as a JSON value (an object, or null), its lines indented by indent.
std::string BrandingJson(const BrandingReport* report, const std::string& indent)
{
    if (report == nullptr)
        return "null";
    const std::string in = indent + "  ";
    auto optionalText = [](bool present, const std::string& text) { return present ? JsonString(text) : "null"; };
    std::string json = "{\n";
    json += in + "\"file_version\": " + optionalText(!report->fileVersion.empty(), report->fileVersion) + ",\n";
    json += in + "\"product_version\": " + optionalText(!report->productVersion.empty(), report->productVersion) + ",\n";
    json += in + "\"version_strings\": {";
    for (size_t i = 0; i < report->versionStrings.size(); ++i)
        json += (i ? ", " : "") + JsonString(report->versionStrings[i].first) + ": " + JsonString(report->versionStrings[i].second);
    json += "},\n";
    json += in + "\"splash\": " + PictureJson(report->splash) + ",\n";
    json += in + "\"buttons\": {";
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        json += std::string(i ? ", " : "") + "\"" + BRAND_BUTTON_NAMES[i] + "\": " + PictureJson(report->buttons[i]);
    json += "},\n";
    json += in + "\"icon\": {\"stock\": " + (report->iconStock ? "true" : "false") + ", \"images\": [";
    for (size_t i = 0; i < report->icon.size(); ++i) {
        const BrandIconImage& image = report->icon[i];
        json += std::string(i ? ", " : "") + "{\"width\": " + std::to_string(image.width) +
                ", \"height\": " + std::to_string(image.height) + ", \"bits\": " + std::to_string(image.bits) +
                ", \"format\": \"" + (image.png ? "png" : "bmp") + "\", \"bytes\": " + std::to_string(image.bytes) + "}";
    }
    json += "]},\n";
    if (report->hasAbout)
        json += in + "\"about\": {\"caption\": " + JsonString(report->aboutCaption) + ", \"product\": " +
                JsonString(report->aboutProduct) + ", \"legal\": " + JsonString(AsShown(report->aboutLegal)) + "},\n";
    else
        json += in + "\"about\": null,\n";
    json += in + "\"system_menu_entry\": " + optionalText(report->hasSystemMenu, report->systemMenu) + "\n";
    return json + indent + "}";
}

}  // namespace

void PrintJsonReport(const std::string& file, const LauncherReport& report, PayloadError error,
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
    printf("  \"branding\": %s,\n", BrandingJson(branding, "  ").c_str());
    printf("  \"launcher_stub\": %s,\n  \"editions\": [", report.launcherStub ? "true" : "false");
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        printf("%s\n    {\"language\": \"%s\", \"program\": \"%s\", \"packed\": %s, \"offered\": %s}", i ? "," : "",
               EDITIONS[i].language, EDITIONS[i].packedName, report.editions & (1u << i) ? "true" : "false",
               EDITIONS[i].offered ? "true" : "false");
    printf("\n  ],\n  \"can_start\": %s,\n", CanStartAnEdition(report.editions) ? "true" : "false");
    PayloadError damage = error != PayloadError::Ok                           ? error
                          : !report.compressed && report.fileSize < PAYLOAD_OFFSET ? PayloadError::NoArchive
                                                                                    : PayloadError::Ok;
    if (damage == PayloadError::Ok && report.pictureError != PayloadError::Ok)
        printf("  \"damage\": {\"picture\": %s, \"reason\": %s}\n}\n", JsonString(report.pictureName).c_str(),
               JsonString(PayloadErrorText(report.pictureError)).c_str());
    else if (damage == PayloadError::Ok)
        printf("  \"damage\": null\n}\n");
    else
        printf("  \"damage\": {\"offset\": %s, \"reason\": %s}\n}\n", Number(report.errorOffset).c_str(),
               JsonString(PayloadErrorText(damage)).c_str());
}
