#include "brand_command.h"


namespace {

const char* const BUTTON_OPTIONS[BRAND_BUTTON_COUNT] = {"--button-simplified", "--button-traditional",
                                                        "--button-exit"};

std::string PictureText(const BrandPicture& picture)
{
    if (!picture.present)
        return "none";
    return std::to_string(picture.width) + " x " + std::to_string(picture.height < 0 ? -picture.height : picture.height) +
           ", " + std::to_string(picture.bits) + " bits, " +
           (picture.stock ? "the stock picture" : "not the stock picture");
}

std::string PictureJson(const BrandPicture& picture)
{
    if (!picture.present)
        return "null";
    return "{\"width\": " + std::to_string(picture.width) + ", \"height\": " +
           std::to_string(picture.height < 0 ? -picture.height : picture.height) + ", \"bits\": " +
           std::to_string(picture.bits) + ", \"top_down\": " + (picture.height < 0 ? "true" : "false") +
           ", \"stock\": " + (picture.stock ? "true" : "false") + "}";
}

std::string IconImageText(const BrandIconImage& image)
{
    return std::to_string(image.width) + " x " + std::to_string(image.height) + " " + std::to_string(image.bits) +
           " bits (" + (image.png ? "PNG" : "bitmap") + ", " + std::to_string(image.bytes) + " bytes)";
}

}  // namespace

bool IsBrandOption(const std::string& option)
{
    for (const char* name : {"--splash", "--button-simplified", "--button-traditional", "--button-exit", "--icon",
                             "--product", "--company", "--copyright", "--version"})
        if (option == name)
            return true;
    return false;
}

bool SetBrandOption(const std::string& option, const std::string& value, BrandOptions* options,
                    std::string* problem)
{
    bool file = option != "--product" && option != "--company" && option != "--copyright" && option != "--version";
    if (file && value.empty()) {
        *problem = option + " needs a file";
        return false;
    }
    if (option == "--splash")
        options->splash = value;
    else if (option == "--icon")
        options->icon = value;
    else if (option == "--product")
        options->product = value;
    else if (option == "--company")
        options->company = value;
    else if (option == "--copyright")
        options->copyright = value;
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        if (option == BUTTON_OPTIONS[i])
            options->buttons[i] = value;
    if (option == "--version") {
        std::vector<uint16_t> version;
        if (!ParseBrandVersion(value, &version)) {
            *problem = "--version " + value + ": not a version A.B.C.D of four numbers from 0 to 65535";
            return false;
        }
        options->version = version;
    }
    return true;
}

std::string BrandFailureText(const BrandResult& result)
{
    std::string text = result.culprit + ": " + BrandErrorText(result.error);
    if (!result.detail.empty())
        text += ": " + result.detail;
    if (!result.reason.empty())
        text += ": " + result.reason;
    return text;
}

bool IsBrandIoError(BrandError error)
{
    return error == BrandError::ReadFailed || error == BrandError::OutputNotFile ||
           error == BrandError::CannotCreateOutput || error == BrandError::WriteFailed;
}

std::string BrandingText(const BrandingReport& report)
{
    std::string text;
    if (!report.fileVersion.empty())
        text += "version: " + report.fileVersion + " (file), " + report.productVersion + " (product)\n";
    for (const auto& string : report.versionStrings)
        text += "version string " + string.first + ": " + string.second + "\n";
    text += "splash: " + PictureText(report.splash) + "\n";
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        text += std::string("button ") + BRAND_BUTTON_NAMES[i] + ": " + PictureText(report.buttons[i]) + "\n";
    text += "icon: " + std::to_string(report.icon.size()) + " images, " +
            (report.iconStock ? "the stock icon" : "not the stock icon");
    for (size_t i = 0; i < report.icon.size(); ++i)
        text += (i ? ", " : ": ") + IconImageText(report.icon[i]);
    text += "\n";
    if (report.hasAbout)
        text += "About box: " + report.aboutCaption + " | " + report.aboutProduct + " | " + report.aboutLegal + "\n";
    if (report.hasSystemMenu)
        text += "system menu entry: " + report.systemMenu + "\n";
    return text;
}

std::string BrandingJson(const BrandingReport* report, const std::string& indent,
                         std::string (*quote)(const std::string&))
{
    if (report == nullptr)
        return "null";
    const std::string in = indent + "  ";
    auto optionalText = [quote](bool present, const std::string& text) { return present ? quote(text) : "null"; };
    std::string json = "{\n";
    json += in + "\"file_version\": " + optionalText(!report->fileVersion.empty(), report->fileVersion) + ",\n";
    json += in + "\"product_version\": " + optionalText(!report->productVersion.empty(), report->productVersion) + ",\n";
    json += in + "\"version_strings\": {";
    for (size_t i = 0; i < report->versionStrings.size(); ++i)
        json += (i ? ", " : "") + quote(report->versionStrings[i].first) + ": " + quote(report->versionStrings[i].second);
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
        json += in + "\"about\": {\"caption\": " + quote(report->aboutCaption) + ", \"product\": " +
                quote(report->aboutProduct) + ", \"legal\": " + quote(report->aboutLegal) + "},\n";
    else
        json += in + "\"about\": null,\n";
    json += in + "\"system_menu_entry\": " + optionalText(report->hasSystemMenu, report->systemMenu) + "\n";
    return json + indent + "}";
}
