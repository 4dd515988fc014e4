// What the three parts of branding share: brand.cpp reads the inputs and
// runs it, brand_edit.cpp changes the stub's resources, brand_describe.cpp
// reads them back for list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "brand.h"
#include "pe_writer.h"
#include "picture.h"
#include "resource.h"
#include "resources.h"
#include "stock_pictures.h"

// Where each picture goes, and the stock stub's picture there (the SHA-256
// of its bitmap's hexadecimal spelling, computed from res/pictures when the
// packer was configured).
struct PictureSlot {
    const char* role;
    uint16_t id;
    unsigned width;
    unsigned height;
    const char* stock;
};
const PictureSlot SPLASH_SLOT = {"splash", IDB_BACKGROUND, 600, 360, QUORVANE_STOCK_SPLASH};
const PictureSlot BUTTON_SLOTS[BRAND_BUTTON_COUNT] = {
    {"Simplified Chinese button", IDB_SETUP_SIMPLIFIED, 118, 26, QUORVANE_STOCK_BUTTON_SIMPLIFIED},
    {"Traditional Chinese button", IDB_SETUP_TRADITIONAL, 118, 26, QUORVANE_STOCK_BUTTON_TRADITIONAL},
    {"quit button", IDB_EXIT_SETUP, 118, 26, QUORVANE_STOCK_BUTTON_EXIT},
};

const uint16_t VERSION_INFO_ID = 1;  // VS_VERSION_INFO

// What is read from the inputs before the stub is touched.
struct BrandInputs {
    bool hasSplash = false;
    ByteBuffer splash;
    bool hasButton[BRAND_BUTTON_COUNT] = {};
    ByteBuffer buttons[BRAND_BUTTON_COUNT];
    bool hasIcon = false;
    std::vector<IconImage> icon;
    std::u16string product, company, copyright;
};

// The picture at path for slot, decoded and judged (brand.cpp).
PackError LoadPicture(const std::string& path, const PictureSlot& slot, ByteBuffer* dib, PackResult* result);
// "1, 0, 0, 1" or "1.0.0.1".
std::string VersionText(const uint16_t version[4], const char* separator);
// A static control that shows text: the About box's lines.
bool IsTextStatic(const DialogItem& item);

// The stub's resources, read into a model, with the layout around them.
PackError ReadStubResources(ByteView stub, const std::string& stubName, PeLayout* layout, ResourceDirectory* root,
                            uint32_t* rva, PackResult* result);
// Puts what the options name into the model: pictures, icon, version block,
// About box, system-menu entry. StubNotLauncher when a resource is missing.
PackError EditStubResources(ResourceDirectory& root, const BrandOptions& options, const BrandInputs& inputs,
                            const std::string& stubName, PackResult* result);
