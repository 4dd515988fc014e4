// Branding a stub: the inputs read and judged first, then the resources
// changed (brand_edit.cpp) and the image laid out again around them.
#include "brand.h"

#include <algorithm>
#include <cstdio>

#include "archive.h"
#include "brand_parts.h"
#include "host_files.h"
#include "output.h"
#include "pack.h"

namespace {

const size_t MAX_TEXT_UNITS = 255;

std::string Dimensions(unsigned width, unsigned height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

PackError CheckText(const char* option, const std::optional<std::string>& text, bool mayBeEmpty,
                    std::u16string* out, PackResult* result)
{
    if (!text)
        return PackError::Ok;
    if (!Utf8ToUtf16(*text, out))
        return Fail(result, PackError::BadText, option, "it is not UTF-8");
    if (out->empty() && !mayBeEmpty)
        return Fail(result, PackError::BadText, option, "it is empty");
    if (out->size() > MAX_TEXT_UNITS)
        return Fail(result, PackError::BadText, option,
                    "it is longer than " + std::to_string(MAX_TEXT_UNITS) + " characters");
    for (char16_t c : *out)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))  // C0, DEL and C1
            return Fail(result, PackError::BadText, option, "it holds a control character");
    return PackError::Ok;
}

// A branding input, read whole after its size is checked.
PackError ReadInput(const std::string& path, ByteBuffer* bytes, PackResult* result)
{
    uint64_t size = 0;
    HostPathKind kind = StatHostPath(path, &size);
    if (kind == HostPathKind::Missing)
        return FailWithReason(result, PackError::MissingInput, path);
    if (kind != HostPathKind::File)
        return Fail(result, PackError::MissingInput, path, "not a regular file");
    if (size > MAX_BRAND_INPUT_SIZE)
        return Fail(result, PackError::InputTooLarge, path, std::to_string(size) + " bytes");
    FILE* file = OpenHostFile(path, "rb");
    if (file == nullptr)
        return FailWithReason(result, PackError::MissingInput, path);
    bytes->resize(static_cast<size_t>(size));
    bool read = size == 0 || fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    PackError error = read ? PackError::Ok : FailWithReason(result, PackError::ReadFailed, path);
    fclose(file);
    return error;
}

PackError ReadInputs(const BrandOptions& options, BrandInputs* inputs, PackResult* result)
{
    if (CheckText("--product", options.product, false, &inputs->product, result) != PackError::Ok ||
        CheckText("--company", options.company, true, &inputs->company, result) != PackError::Ok ||
        CheckText("--copyright", options.copyright, true, &inputs->copyright, result) != PackError::Ok)
        return result->error;
    if (!options.splash.empty()) {
        inputs->hasSplash = true;
        if (LoadPicture(options.splash, SPLASH_SLOT, &inputs->splash, result) != PackError::Ok)
            return result->error;
    }
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        if (!options.buttons[i].empty()) {
            inputs->hasButton[i] = true;
            if (LoadPicture(options.buttons[i], BUTTON_SLOTS[i], &inputs->buttons[i], result) != PackError::Ok)
                return result->error;
        }
    if (!options.icon.empty()) {
        ByteBuffer file;
        if (ReadInput(options.icon, &file, result) != PackError::Ok)
            return result->error;
        std::string detail;
        PackError error = ReadIconFile(ByteView(file), &inputs->icon, &detail);
        if (error != PackError::Ok)
            return Fail(result, error, options.icon, detail);
        inputs->hasIcon = true;
        for (unsigned size : {16u, 32u}) {
            bool found = std::any_of(inputs->icon.begin(), inputs->icon.end(),
                                     [size](const IconImage& image) { return image.width == size && image.height == size; });
            if (!found)
                result->warnings.push_back(options.icon + ": no " + Dimensions(size, size) +
                                           " image: Windows scales another one down for the title bar and lists");
        }
    }
    return PackError::Ok;
}

}  // namespace

PackError LoadPicture(const std::string& path, const PictureSlot& slot, ByteBuffer* dib, PackResult* result)
{
    ByteBuffer file;
    if (ReadInput(path, &file, result) != PackError::Ok)
        return result->error;
    unsigned found[2];
    std::string detail;
    PackError error = DecodePicture(ByteView(file), slot.width, slot.height, dib, found, &detail);
    if (error == PackError::WrongPictureSize)
        detail = Dimensions(found[0], found[1]) + " pixels; the " + slot.role + " must be " +
                 Dimensions(slot.width, slot.height);
    return error == PackError::Ok ? error : Fail(result, error, path, detail);
}

const char* const BRAND_BUTTON_NAMES[BRAND_BUTTON_COUNT] = {"simplified", "traditional", "exit"};

bool BrandOptions::Any() const
{
    return !Files().empty() || product || company || copyright || version;
}

std::vector<std::string> BrandOptions::Files() const
{
    std::vector<std::string> files;
    for (const std::string& file : {splash, buttons[0], buttons[1], buttons[2], icon})
        if (!file.empty())
            files.push_back(file);
    return files;
}

bool ParseBrandVersion(const std::string& text, std::vector<uint16_t>* version)
{
    version->clear();
    size_t start = 0;
    for (;;) {
        size_t end = std::min(text.find('.', start), text.size());
        if (end == start || end - start > 5 || version->size() == 4)
            return false;
        unsigned long value = 0;
        for (size_t i = start; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            value = value * 10 + static_cast<unsigned long>(text[i] - '0');
        }
        if (value > 0xFFFF)
            return false;
        version->push_back(static_cast<uint16_t>(value));
        if (end == text.size())
            break;
        start = end + 1;
    }
    version->resize(4, 0);  // the numbers not given
    return true;
}

PackError BrandImage(const BrandOptions& options, const std::string& stubName, ByteBuffer* stub,
                     PackResult* result)
{
    BrandInputs inputs;
    if (ReadInputs(options, &inputs, result) != PackError::Ok)
        return result->error;
    PeLayout layout;
    ResourceDirectory root;
    uint32_t rva = 0;
    if (ReadStubResources(ByteView(*stub), stubName, &layout, &root, &rva, result) != PackError::Ok)
        return result->error;
    if (EditStubResources(root, options, inputs, stubName, result) != PackError::Ok)
        return result->error;

    ByteBuffer branded;
    std::string detail;
    PackError error = ReplaceResourceSection(ByteView(*stub), layout, WriteResourceTree(root, rva), &branded, &detail);
    if (error != PackError::Ok)
        return Fail(result, error, stubName, detail);
    stub->swap(branded);
    return PackError::Ok;
}

PackError CheckBrandOutput(const std::string& output, const std::string& stub, const BrandOptions& options,
                           PackResult* result)
{
    OutputClash clash = FindOutputClash(output, stub, {}, options.Files(), {});
    switch (clash.kind) {
    case OutputClash::NotAFile:
        return Fail(result, PackError::OutputNotFile, output);
    case OutputClash::Stub:
        return Fail(result, PackError::OutputIsStub, output, "branding would destroy it");
    case OutputClash::Input:
        return Fail(result, PackError::OutputIsBrandInput, output, clash.with);
    default:
        return PackError::Ok;  // no folders to lie in
    }
}

PackError BrandStubFile(const std::string& stubPath, const std::string& output, const BrandOptions& options,
                        PackResult* result)
{
    *result = PackResult();
    if (CheckBrandOutput(output, stubPath, options, result) != PackError::Ok)
        return result->error;
    uint64_t size = 0;
    HostPathKind kind = StatHostPath(stubPath, &size);
    if (kind == HostPathKind::Missing)
        return FailWithReason(result, PackError::CannotOpenStub, stubPath);
    if (kind == HostPathKind::File && size > PAYLOAD_OFFSET)
        return Fail(result, CarriesArchive(stubPath) ? PackError::StubCarriesArchive : PackError::StubTooLarge,
                    stubPath);
    ByteBuffer stub;
    if (ReadInput(stubPath, &stub, result) != PackError::Ok)
        return result->error;
    if (BrandImage(options, stubPath, &stub, result) != PackError::Ok)
        return result->error;
    auto write = [&](FILE* out) {
        if (fwrite(stub.data(), 1, stub.size(), out) != stub.size())
            return FailWithReason(result, PackError::WriteFailed, output);
        return PackError::Ok;
    };
    return WriteBeside(output, write, nullptr, result);
}
