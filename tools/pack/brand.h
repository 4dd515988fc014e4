// Branding a launcher stub at pack time: a product's own pictures, icon,
// name, company, copyright and version put into the released stub, with no
// compiler. The stub's resources are read into a model, the resources named
// by the options are replaced, and the image is laid out again around a
// fresh resource section (pe_writer.h). Everything else stays as it was:
// every other resource, every other version string (InternalName, by which
// the packer recognises the launcher, among them) and every other byte
// before the resources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive.h"
#include "byte_io.h"
#include "pack_error.h"

// The picture buttons, in the order of their options and resource ids.
enum BrandButton { BUTTON_SIMPLIFIED, BUTTON_TRADITIONAL, BUTTON_EXIT, BRAND_BUTTON_COUNT };

// What to change; what is empty or unset stays as it is in the stub.
struct BrandOptions {
    std::string splash;                         // BMP, PNG or JPEG, 600 x 360
    std::string buttons[BRAND_BUTTON_COUNT];    // 118 x 26 each
    std::string icon;                           // .ico
    std::optional<std::string> product;         // UTF-8, like the texts below
    std::optional<std::string> company;
    std::optional<std::string> copyright;
    std::optional<std::vector<uint16_t>> version;  // four numbers

    bool Any() const;
    // The files named, for checking that the output replaces none of them.
    std::vector<std::string> Files() const;
};

// "A", "A.B", "A.B.C" or "A.B.C.D": decimal numbers of at most 65535, those
// not given 0.
bool ParseBrandVersion(const std::string& text, std::vector<uint16_t>* version);

// Brands a stub held in memory (the whole stub file). Every input is read
// and judged before the stub is changed; on failure *stub is unchanged.
// Warnings (an icon without a 16 x 16 or 32 x 32 image) go to result->warnings.
PackError BrandImage(const BrandOptions& options, const std::string& stubName, ByteBuffer* stub,
                     PackResult* result);

// Refuses an output that is a folder, the stub or one of the options' files,
// compared by file identity.
PackError CheckBrandOutput(const std::string& output, const std::string& stub, const BrandOptions& options,
                           PackResult* result);

// The brand command: reads the stub, brands it and writes the output beside
// itself, flushed to disk and renamed into place. A stub that carries an
// archive (longer than the payload offset) is refused.
PackError BrandStubFile(const std::string& stub, const std::string& output, const BrandOptions& options,
                        PackResult* result);

// A picture as the stub holds it.
struct BrandPicture {
    bool present = false;
    int32_t width = 0;
    int32_t height = 0;  // negative for top-down rows
    uint16_t bits = 0;
    bool stock = false;  // the very picture the stock stub holds
    // Stored as a compressed picture (compressed_picture.h): its resource's
    // bytes, the bitmap's bytes it decodes to, and its damage (then not present).
    bool compressed = false;
    uint32_t storedBytes = 0;
    uint32_t unpackedBytes = 0;
    PayloadError damage = PayloadError::Ok;
};

struct BrandIconImage {
    unsigned width = 0;
    unsigned height = 0;
    uint16_t bits = 0;
    bool png = false;
    uint32_t bytes = 0;
};

// The branding a stub carries, for list.
struct BrandingReport {
    std::vector<std::pair<std::string, std::string>> versionStrings;  // UTF-8, in the block's order
    std::string fileVersion;     // "1.0.0.1"; empty without fixed version information
    std::string productVersion;
    BrandPicture splash;
    BrandPicture buttons[BRAND_BUTTON_COUNT];
    std::vector<BrandIconImage> icon;
    bool iconStock = false;
    bool hasAbout = false;
    std::string aboutCaption;
    std::string aboutProduct;
    std::string aboutLegal;
    bool hasSystemMenu = false;
    std::string systemMenu;
};

// Reads the branding of the image at the start of bytes (a launcher's
// filler and archive may follow). False when it has no readable resources.
bool DescribeBranding(ByteView bytes, BrandingReport* report);
// The same for a file: its first PAYLOAD_OFFSET bytes.
bool ReadBranding(const std::string& path, BrandingReport* report);

// The buttons' names in reports ("simplified", ...).
extern const char* const BRAND_BUTTON_NAMES[BRAND_BUTTON_COUNT];
