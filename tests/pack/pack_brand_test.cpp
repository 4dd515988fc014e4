// quorvane-pack brand, and build with branding options, and a compressed
// launcher's compressed pictures: the real launcher stub in the Windows
// builds, a stub laid out like it elsewhere. One harness past the usual
// length: every case brands through the same workspace and reads back the
// same resources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <map>

#include "archive.h"
#include "byte_order.h"
#include "host_files.h"
#include "brand.h"
#include "compressed_picture.h"
#include "pack_test_support.h"
#include "picture_files.h"
#include "pe_image.h"
#include "pe_writer.h"
#include "picture.h"
#include "resources.h"
#include "stub_pictures.h"

using namespace testing_support;
using namespace pack_testing;

namespace {

const std::string TOOL = QUORVANE_PACK_TOOL;
const std::string FIXTURES = BRAND_FIXTURES;

Captured Pack(const std::vector<std::string>& args)
{
    return RunCaptured(TOOL, args);
}

std::string Fixture(const char* name)
{
    return JoinPath(FIXTURES, name);
}

size_t LineCount(const std::string& text)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

struct BrandWorkspace {
    ScratchDir dir;
    std::string stub = dir / "stub.exe";
    std::string out = dir / "branded.exe";
    Bytes stubBytes;
    BrandWorkspace()
    {
#ifdef BRAND_STUB
        ReadFileBytes(BRAND_STUB, &stubBytes);
#else
        stubBytes = LauncherLikeImage(RES_PICTURES);
#endif
        WriteFileBytes(stub, stubBytes);
    }
};

// An image's resources, read back with the packer's own reader.
struct ReadBack {
    Bytes bytes;
    PeLayout layout;
    ResourceDirectory root;
    bool ok = false;

    explicit ReadBack(const std::string& path)
    {
        ByteView section;
        uint32_t rva = 0;
        std::string detail;
        ok = ReadFileBytes(path, &bytes) && ReadPeLayout(ByteView(bytes), &layout) &&
             FindResourceSection(ByteView(bytes), layout, &section, &rva) && ReadResourceTree(section, rva, &root, &detail);
    }
    Bytes Data(uint16_t type, uint16_t id) const
    {
        const ResourceDirectory* languages = FindResourceLanguages(root, type, id);
        return languages && !languages->entries.empty() ? languages->entries[0].data : Bytes();
    }
};

// A pixel of a 24-bit bottom-up bitmap resource, as 0xRRGGBB.
uint32_t Pixel(const Bytes& dib, int x, int y)
{
    int32_t width = static_cast<int32_t>(ReadLE32(&dib[4]));
    int32_t height = static_cast<int32_t>(ReadLE32(&dib[8]));
    size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    size_t at = 40 + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3;
    return static_cast<uint32_t>(dib[at + 2]) << 16 | dib[at + 1] << 8 | dib[at];
}

// Every resource's data, by type, name and language.
void Leaves(const ResourceDirectory& directory, const std::string& path, std::map<std::string, Bytes>* leaves)
{
    for (const ResourceEntry& entry : directory.entries) {
        std::string key = path + "/" + (entry.key.named ? Utf16ToUtf8(entry.key.name) : std::to_string(entry.key.id));
        if (entry.directory)
            Leaves(*entry.directory, key, leaves);
        else
            (*leaves)[key] = entry.data;
    }
}

bool Sorted(const ResourceDirectory& directory)
{
    for (size_t i = 1; i < directory.entries.size(); ++i)
        if (!ResourceKeyLess(directory.entries[i - 1].key, directory.entries[i].key))
            return false;
    for (const ResourceEntry& entry : directory.entries)
        if (entry.directory && !Sorted(*entry.directory))
            return false;
    return true;
}

std::vector<std::string> AllBrandingOptions()
{
    return {"--splash", Fixture("splash.png"), "--button-simplified", Fixture("simplified.png"),
            "--button-traditional", Fixture("traditional.bmp"), "--button-exit", Fixture("exit.png"),
            "--icon", Fixture("product.ico"), "--product", "\xE7\xA4\xBA\xE4\xBE\x8B & Co",  // 示例 & Co
            "--company", "Example Ltd", "--copyright", "(C) 2024 Example & Co", "--version", "2.4.0.7"};
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(BrandTool, BrandsTheStubAndKeepsEverythingElse)
{
    BrandWorkspace ws;
    Captured run = Pack(Join({"brand", "--stub", ws.stub, "-o", ws.out}, AllBrandingOptions()));
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.err);

    BrandingReport report;
    ReadBack branded(ws.out), stock(ws.stub);
    ASSERT_TRUE(branded.ok && stock.ok);
    ASSERT_TRUE(DescribeBranding(ByteView(branded.bytes), &report));
    std::map<std::string, std::string> strings(report.versionStrings.begin(), report.versionStrings.end());
    const std::string product = "\xE7\xA4\xBA\xE4\xBE\x8B & Co";
    EXPECT_EQ(product, strings["ProductName"]);
    EXPECT_EQ(product, strings["FileDescription"]);
    EXPECT_EQ("Example Ltd", strings["CompanyName"]);
    EXPECT_EQ("(C) 2024 Example & Co", strings["LegalCopyright"]);
    EXPECT_EQ("2, 4, 0, 7", strings["FileVersion"]);
    EXPECT_EQ("2, 4, 0, 7", strings["ProductVersion"]);
    EXPECT_EQ("Quorvane", strings["InternalName"]) << "the packer's mark of the launcher stays";
    EXPECT_EQ("Quorvane.EXE", strings["OriginalFilename"]);
    EXPECT_EQ("2.4.0.7", report.fileVersion);
    EXPECT_EQ("2.4.0.7", report.productVersion);
    EXPECT_TRUE(IsLauncherImage(branded.bytes.data(), branded.bytes.size()));
    // 关于 NAME, NAME 2.4 版, the legal line and the menu entry with their ampersands doubled.
    EXPECT_EQ("\xE5\x85\xB3\xE4\xBA\x8E " + product, report.aboutCaption);
    EXPECT_EQ(product + " 2.4 \xE7\x89\x88", report.aboutProduct);
    EXPECT_EQ("(C) 2024 Example && Co", report.aboutLegal);
    EXPECT_EQ("\xE5\x85\xB3\xE4\xBA\x8E \xE7\xA4\xBA\xE4\xBE\x8B && Co(&A)...", report.systemMenu);

    // The pictures: 24-bit bottom-up, the fixtures' colours where they were drawn.
    const struct {
        uint16_t id;
        int x, y;
        uint32_t rgb;
    } samples[] = {{129, 160, 180, 0x1F6F8B}, {129, 500, 100, 0xFBE7C6}, {147, 30, 12, 0xFFFFFF},
                   {147, 100, 20, 0x2A7D2E},  {148, 100, 20, 0x7D2A6B},  {149, 100, 20, 0x7D5E2A}};
    for (const auto& sample : samples) {
        Bytes dib = branded.Data(RESOURCE_BITMAP, sample.id);
        ASSERT_GE(dib.size(), 40u);
        int32_t width = 0, height = 0;
        uint16_t bits = 0;
        ASSERT_TRUE(ReadBitmapHeader(ByteView(dib), &width, &height, &bits));
        EXPECT_EQ(40u, ReadLE32(dib.data()));
        EXPECT_GT(height, 0) << "bottom-up rows";
        EXPECT_EQ(24, bits);
        EXPECT_EQ(40u + (width * 3 + 3) / 4 * 4 * height, dib.size());
        EXPECT_EQ(sample.rgb, Pixel(dib, sample.x, sample.y)) << "bitmap " << sample.id << " at " << sample.x << ", "
                                                                << sample.y;
    }
    EXPECT_FALSE(report.splash.stock);
    for (const BrandPicture& button : report.buttons)
        EXPECT_FALSE(button.stock);
    // The icon file's three images, numbered afresh; none of the old ones stays.
    ASSERT_EQ(3u, report.icon.size());
    EXPECT_TRUE(report.icon[0].png);
    EXPECT_EQ(256u, report.icon[0].width);
    EXPECT_EQ(32u, report.icon[1].width);
    EXPECT_EQ(16u, report.icon[2].height);
    EXPECT_FALSE(report.iconStock);
    const ResourceEntry* icons = branded.root.Find(ResourceKey::Id(RESOURCE_ICON));
    ASSERT_TRUE(icons && icons->directory);
    ASSERT_EQ(3u, icons->directory->entries.size());
    for (uint16_t id = 1; id <= 3; ++id)
        EXPECT_TRUE(icons->directory->Find(ResourceKey::Id(id))) << "icon image " << id;

    // Every other resource, named ones included, is as it was; every
    // directory is in the order Windows searches.
    std::map<std::string, Bytes> before, after;
    Leaves(stock.root, "", &before);
    Leaves(branded.root, "", &after);
    size_t kept = 0;
    for (const auto& leaf : before) {
        const std::string& key = leaf.first;
        bool changed = key.compare(0, 3, "/2/") == 0 || key.compare(0, 3, "/3/") == 0 || key == "/5/100/2052" ||
                       key == "/6/7/2052" || key.compare(0, 4, "/14/") == 0 || key.compare(0, 4, "/16/") == 0;
        if (changed)
            continue;
        ++kept;
        ASSERT_TRUE(after.count(key)) << key;
        EXPECT_TRUE(after[key] == leaf.second) << key << " changed";
    }
    EXPECT_GE(kept, 2u);
    EXPECT_TRUE(Sorted(branded.root));

    // The image laid out again: .reloc after the new resources with its
    // bytes and directory entry, the image size, the checksum.
    const PeLayout& layout = branded.layout;
    ASSERT_GE(layout.resourceSection, 0);
    const PeSection& rsrc = layout.sections[static_cast<size_t>(layout.resourceSection)];
    const PeSection& reloc = layout.sections.back();
    const PeSection& oldReloc = stock.layout.sections.back();
    ASSERT_EQ(".reloc", reloc.name);
    EXPECT_EQ(AlignUp(uint64_t(rsrc.virtualAddress) + rsrc.virtualSize, layout.sectionAlignment), reloc.virtualAddress);
    EXPECT_EQ(uint64_t(rsrc.rawPointer) + rsrc.rawSize, reloc.rawPointer);
    EXPECT_EQ(branded.bytes.size(), uint64_t(reloc.rawPointer) + reloc.rawSize);
    EXPECT_TRUE(std::equal(branded.bytes.begin() + reloc.rawPointer, branded.bytes.end(),
                           stock.bytes.begin() + oldReloc.rawPointer));
    EXPECT_EQ(layout.headers.directories[5].address - reloc.virtualAddress,
              stock.layout.headers.directories[5].address - oldReloc.virtualAddress);
    EXPECT_EQ(rsrc.virtualSize, layout.headers.directories[PE_DIRECTORY_RESOURCE].size);
    EXPECT_EQ(AlignUp(uint64_t(reloc.virtualAddress) + reloc.virtualSize, layout.sectionAlignment),
              ReadLE32(&branded.bytes[layout.optionalAt + 56]));
    uint64_t checksumAt = PeChecksumOffset(layout);
    EXPECT_EQ(PeChecksum(ByteView(branded.bytes), checksumAt), ReadLE32(&branded.bytes[checksumAt]));

    // list shows it.
    Captured listed = Pack({"list", "--json", ws.out});
    EXPECT_NE(std::string::npos, listed.out.find("\"splash\": {\"width\": 600, \"height\": 360, \"bits\": 24, "
                                                 "\"top_down\": false, \"stock\": false}"))
        << listed.out;
    listed = Pack({"list", ws.stub});
    EXPECT_NE(std::string::npos, listed.out.find("splash: 600 x 360, 24 bits, the stock picture")) << listed.out;
    EXPECT_NE(std::string::npos, listed.out.find("icon: 4 images, the stock icon")) << listed.out;
    // A stub branded elsewhere may carry controls in its texts: list prints
    // them escaped, never for the terminal to obey.
    Bytes hostile = branded.bytes;
    const std::string company = std::string("E\0x\0a\0m\0p\0l\0e\0 \0L\0t\0d\0", 22);
    auto at = std::search(hostile.begin(), hostile.end(), company.begin(), company.end());
    ASSERT_NE(hostile.end(), at);
    at[2] = 0x1B;  // ESC
    at[16] = 0x9B;  // U+009B, the C1 control sequence introducer
    std::string hostileFile = ws.dir / "hostile.exe";
    ASSERT_TRUE(WriteFileBytes(hostileFile, hostile));
    for (const char* form : {"", "--json"}) {
        listed = Pack(*form ? std::vector<std::string>{"list", form, hostileFile}
                            : std::vector<std::string>{"list", hostileFile});
        EXPECT_NE(std::string::npos, listed.out.find(*form ? "E\\u001Bample \\u009Btd" : "E\\x1Bample \\u009Btd"))
            << listed.out;
        EXPECT_EQ(std::string::npos, listed.out.find('\x1B'));
        EXPECT_EQ(std::string::npos, listed.out.find("\xC2\x9B"));
    }

    // The same inputs give the same bytes; no options give the stub itself;
    // build brands on the way exactly as brand does.
    std::string again = ws.dir / "again.exe", copy = ws.dir / "copy.exe";
    ASSERT_EQ(0, Pack(Join({"brand", "--stub", ws.stub, "-o", again}, AllBrandingOptions())).status);
    ASSERT_EQ(0, Pack({"brand", "--stub", ws.stub, "-o", copy}).status);
    Bytes againBytes, copyBytes;
    ReadFileBytes(again, &againBytes);
    ReadFileBytes(copy, &copyBytes);
    EXPECT_TRUE(againBytes == branded.bytes);
    EXPECT_TRUE(copyBytes == ws.stubBytes);
    std::string payload = ws.dir / "ZelkSetupGb.exe", one = ws.dir / "one.exe", two = ws.dir / "two.exe";
    WriteFileText(payload, "readme\n");
    ASSERT_EQ(0, Pack(Join({"build", "-q", "-o", one, "--stub", ws.stub, payload}, AllBrandingOptions())).status);
    Captured built = Pack({"build", "-q", "-o", two, "--stub", ws.out, payload});
    ASSERT_EQ(0, built.status);
    EXPECT_EQ("", built.err) << "the branded stub is still the launcher";
    Bytes oneBytes, twoBytes;
    ReadFileBytes(one, &oneBytes);
    ReadFileBytes(two, &twoBytes);
    EXPECT_TRUE(oneBytes == twoBytes);
}

TEST(BrandTool, TakesPicturesInTheirCommonFormsAndWarnsAboutAnIconWithoutSmallImages)
{
    BrandWorkspace ws;
    // Pixel (x, y) of each picture, and what the launcher must show there.
    auto truecolour = [](int x, int y) { return uint32_t(x * 2) << 16 | uint32_t(y * 9) << 8 | uint32_t(x + y); };
    auto index = [](int x, int y) { return uint32_t((x / 3 + y) % 2); };
    auto blackWhite = [](int x, int y) { return (x + y) % 2 ? 0xFFFFFFu : 0u; };
    std::vector<uint32_t> palette = {0x00336699, 0x00CC9933};
    const struct {
        const char* name;
        Bytes file;
        std::function<uint32_t(int, int)> expected;
        int tolerance;
    } pictures[] = {
        {"24-bit.bmp", MakeBmp(118, 26, 24, 40, false, {}, truecolour), truecolour, 0},
        {"32-bit-v5-top-down.bmp", MakeBmp(118, 26, 32, 124, true, {}, truecolour), truecolour, 0},
        {"16-bit.bmp", MakeBmp(118, 26, 16, 40, false, {}, blackWhite), blackWhite, 0},
        {"8-bit-v4.bmp", MakeBmp(118, 26, 8, 108, false, palette, index),
         [&](int x, int y) { return palette[index(x, y)]; }, 0},
        {"4-bit.bmp", MakeBmp(118, 26, 4, 40, true, palette, index), [&](int x, int y) { return palette[index(x, y)]; }, 0},
        {"1-bit.bmp", MakeBmp(118, 26, 1, 40, false, palette, index), [&](int x, int y) { return palette[index(x, y)]; }, 0},
        {"palette.png", {}, [](int x, int y) { return x >= 8 && x <= 60 && y >= 8 && y <= 17 ? 0xFFFFFFu : 0x2A4F7Du; }, 0},
        {"photo.jpg", {}, [](int, int) { return 0x3366CCu; }, 8},
        // The hostile pictures' sound twins: a stream of zeros that inflates
        // to just the rows, and a progressive JPEG of nine scans.
        {"zeros.png", MakePng(118, 26, 8, 2, {PngChunk("IDAT", ZlibOfZeros(26 * (1 + 118 * 3)))}),
         [](int, int) { return 0u; }, 0},
        {"progressive.jpg", ProgressiveJpeg(118, 26, 9), [](int, int) { return 0x808080u; }, 1},
    };
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture.name);
        std::string path = picture.file.empty() ? Fixture(picture.name) : ws.dir / picture.name;
        if (!picture.file.empty()) {
            ASSERT_TRUE(WriteFileBytes(path, picture.file));
        }
        Captured run = Pack({"brand", "--stub", ws.stub, "-o", ws.out, "--button-exit", path});
        ASSERT_EQ(0, run.status) << run.err;
        Bytes dib = ReadBack(ws.out).Data(RESOURCE_BITMAP, 149);
        ASSERT_EQ(40u + 356u * 26u, dib.size());
        for (int y = 2; y < 26; y += 5)
            for (int x = 3; x < 118; x += 11) {
                uint32_t want = picture.expected(x, y), got = Pixel(dib, x, y);
                for (int shift = 0; shift < 24; shift += 8)
                    EXPECT_LE(std::abs(int(want >> shift & 0xFF) - int(got >> shift & 0xFF)), picture.tolerance)
                        << "at " << x << ", " << y << ": want " << std::hex << want << ", got " << got;
            }
    }

    std::string icon = ws.dir / "large-only.ico";
    ASSERT_TRUE(WriteFileBytes(icon, MakeIcon({48})));
    Captured run = Pack({"brand", "--stub", ws.stub, "-o", ws.out, "--icon", icon});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("warning: " + icon + ": no 16 x 16 image")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("warning: " + icon + ": no 32 x 32 image")) << run.err;
    BrandingReport report;
    ASSERT_TRUE(ReadBranding(ws.out, &report));
    ASSERT_EQ(1u, report.icon.size());
    EXPECT_EQ(48u, report.icon[0].width);
}

TEST(BrandTool, RefusesInOneLineAndWritesNothing)
{
    BrandWorkspace ws;
    std::string junk = ws.dir / "junk.png", huge = ws.dir / "huge.ico", carrying = ws.dir / "carrying.exe",
                signedStub = ws.dir / "signed.exe", moved = ws.dir / "moved.exe";
    WriteFileBytes(junk, Pattern(3000, 5));
    WriteFileBytes(huge, MakeIcon({256, 256, 256, 256, 256, 256, 256}));
    WriteFileBytes(carrying, MakeLauncherBytes(ws.stubBytes, {{"a.txt", {'a'}}}));
    PeLayout layout;
    ASSERT_TRUE(ReadPeLayout(ByteView(ws.stubBytes), &layout));
    Bytes bytes = ws.stubBytes;
    WriteLE32(&bytes[layout.directoriesAt + 4 * 8], static_cast<uint32_t>(bytes.size()));
    WriteLE32(&bytes[layout.directoriesAt + 4 * 8 + 4], 8);
    bytes.resize(bytes.size() + 8, 0);
    WriteFileBytes(signedStub, bytes);
    bytes = ws.stubBytes;  // its last section renamed: no longer one that may move
    bytes[layout.headers.sectionTable + (layout.sections.size() - 1) * 40 + 1] = 'X';
    WriteFileBytes(moved, bytes);

    // Hostile files, as large as the attacks on the packer were: pictures
    // and icon files, a stub whose resource entries all share one block, and
    // one with a thousand more languages of the splash to copy it into.
    auto hostile = [&ws](const std::string& name) { return ws.dir / name; };
    for (const NamedFile& file : HostilePictures(true))
        ASSERT_TRUE(WriteFileBytes(hostile(file.name), file.bytes));
    std::string sharedStub = ws.dir / "shared.exe", languages = ws.dir / "languages.exe";
    WriteFileBytes(sharedStub, WithResourcesSharingOneBlock(ws.stubBytes, 300));
    {
        ReadBack stock(ws.stub);
        ResourceDirectory* splash = FindResourceLanguages(stock.root, RESOURCE_BITMAP, 129);
        ASSERT_TRUE(stock.ok && splash != nullptr);
        for (uint16_t language = 1; language <= 1000; ++language) {
            ResourceEntry entry;
            entry.key = ResourceKey::Id(language);
            entry.data = Pattern(16, language);
            splash->Insert(std::move(entry));
        }
        const PeSection& rsrc = stock.layout.sections[static_cast<size_t>(stock.layout.resourceSection)];
        Bytes image;
        std::string detail;
        ASSERT_EQ(PackError::Ok, ReplaceResourceSection(ByteView(stock.bytes), stock.layout,
                                                        WriteResourceTree(stock.root, rsrc.virtualAddress), &image,
                                                        &detail));
        WriteFileBytes(languages, image);
    }

    const struct {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {"a picture of another size", {"--splash", Fixture("simplified.png")}, 1,
         Fixture("simplified.png") + ": wrong size: 118 x 26 pixels; the splash must be 600 x 360"},
        {"a picture that does not decode", {"--button-simplified", junk}, 1,
         junk + ": cannot be decoded as a BMP, PNG or JPEG picture"},
        {"a picture that is not opaque", {"--button-exit", Fixture("transparent.png")}, 1, "not fully opaque"},
        {"an icon file that is no icon", {"--icon", Fixture("splash.png")}, 1, "not an icon (.ico) file"},
        {"an image that would reach the payload offset", {"--icon", huge}, 1,
         "the branded image would not end before the payload offset 0x200000"},
        {"a stub that carries an archive", {"--stub", carrying}, 1, "stub already carries an archive"},
        {"a signed stub", {"--stub", signedStub}, 1, "stub carries a certificate table"},
        {"a section after the resources that cannot move", {"--stub", moved}, 1, "cannot be laid out again"},
        {"a product name with a line break", {"--product", "a\nb"}, 1, "--product: cannot be used as text"},
        {"an output that is a picture", {"-o", Fixture("exit.png"), "--button-exit", Fixture("exit.png")}, 1,
         "branding would destroy it"},
        {"an icon file whose images share their data", {"--icon", hostile("icon-entries-sharing-one-image")}, 1,
         hostile("icon-entries-sharing-one-image") + ": not an icon (.ico) file: its 65535 images add up to "
                                                     "73923480 bytes, more than the 1128 bytes after its directory: "
                                                     "they share their data"},
        {"a stub whose resources share their data", {"--stub", sharedStub}, 1,
         "stub's PE headers or resources are damaged: the resource data adds up to more than the resource section"},
        {"a picture to copy into a thousand languages", {"--stub", languages, "--splash", Fixture("splash.png")}, 1,
         "the payload offset 0x200000: bitmap 129 (the splash) in 1001 languages would take 648688040 bytes"},
        {"a picture that inflates past its pixels", {"--splash", hostile("png-inflating-past-its-pixels")}, 1,
         hostile("png-inflating-past-its-pixels") + ": cannot be decoded as a BMP, PNG or JPEG picture: its image "
                                                    "data inflates to more than the 648360 bytes its 600 x 360 pixels "
                                                    "need"},
        {"an icon image that inflates past its pixels", {"--icon", hostile("png-inflating-past-its-pixels-in-an-icon")},
         1,
         "image 1 of 1 (256 x 256) is a PNG image that cannot be used: its image data inflates to more than the "
         "262400 bytes its 256 x 256 pixels need"},
        {"a JPEG of more scans than a picture has", {"--splash", hostile("jpeg-more-scans-than-a-picture-has")}, 1,
         hostile("jpeg-more-scans-than-a-picture-has") +
             ": cannot be decoded as a BMP, PNG or JPEG picture: a JPEG of more than 256 scans"},
        {"a BMP pixel past the palette", {"--button-exit", hostile("bmp-pixel-past-the-palette")}, 1,
         "the pixel at 100, 20 is colour 5 of a palette of 2"},
        {"a PNG pixel past the palette", {"--button-exit", hostile("png-pixel-past-the-palette")}, 1,
         "the pixel at 100, 20 is colour 5 of a palette of 2"},
        {"a BMP cut short", {"--splash", hostile("bmp-cut-short")}, 1,
         "its pixel rows need 648000 bytes from offset 54; the file has 347400"},
        {"a chunk type of control bytes", {"--button-exit", hostile("png-chunk-type-of-control-bytes")}, 1,
         "\\x1B[2J PNG chunk not known"},
        {"a company with a C1 control character", {"--company", "a\xC2\x85" "b"}, 1,
         "--company: cannot be used as text: it holds a control character"},
        {"a version of five numbers", {"--version", "1.2.3.4.5"}, 2, "not a version A.B.C.D"},
        {"a payload for brand", {Fixture("exit.png")}, 2, "brand takes no PATH"},
    };
    Bytes exitPng;
    ReadFileBytes(Fixture("exit.png"), &exitPng);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveHostFile(ws.out);
        std::vector<std::string> args = {"brand", "--stub", ws.stub, "-o", ws.out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Captured run = Pack(args);
        EXPECT_EQ(c.status, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        EXPECT_EQ(c.status == 2 ? 2u : 1u, LineCount(run.err)) << run.err;
        EXPECT_TRUE(std::none_of(run.err.begin(), run.err.end(), [](char b) {
            return b != '\n' && b != '\r' && static_cast<unsigned char>(b) < 0x20;  // lines end in CR LF on Windows
        })) << "the input's bytes reach the terminal: " << run.err;
        EXPECT_FALSE(PathExists(ws.out));
    }
    // What is refused is refused alike each time; a palette as short as the
    // pixels need is used alike each time.
    std::vector<std::string> pastPalette = {"brand", "--stub", ws.stub, "-o", ws.out, "--button-exit",
                                            hostile("bmp-pixel-past-the-palette")};
    Captured again = Pack(pastPalette);
    EXPECT_EQ(1, again.status);
    EXPECT_EQ(Pack(pastPalette).err, again.err);
    std::string shortPalette = ws.dir / "short-palette.bmp", other = ws.dir / "other.exe";
    WriteFileBytes(shortPalette, MakeBmp(118, 26, 8, 40, false, {0x00336699, 0x00CC9933},
                                         [](int x, int y) { return uint32_t((x + y) % 2); }));
    ASSERT_EQ(0, Pack({"brand", "--stub", ws.stub, "-o", ws.out, "--button-exit", shortPalette}).status);
    ASSERT_EQ(0, Pack({"brand", "--stub", ws.stub, "-o", other, "--button-exit", shortPalette}).status);
    Bytes first, second;
    ReadFileBytes(ws.out, &first);
    ReadFileBytes(other, &second);
    EXPECT_TRUE(first == second);
    RemoveHostFile(ws.out);
    // The stub whose resources share their data: list reads no branding from
    // it, and build takes it for some other stub.
    Captured listed = Pack({"list", sharedStub});
    EXPECT_NE(std::string::npos, listed.out.find("branding: none")) << listed.out;
    std::string payload = ws.dir / "readme.txt";
    WriteFileText(payload, "readme\n");
    Captured built = Pack({"build", "-q", "-o", ws.out, "--stub", sharedStub, payload});
    EXPECT_EQ(0, built.status) << built.err;
    EXPECT_NE(std::string::npos, built.err.find("not recognised as the launcher")) << built.err;
    RemoveHostFile(ws.out);
    Bytes after;
    ReadFileBytes(Fixture("exit.png"), &after);
    EXPECT_TRUE(after == exitPng);
    // build refuses the same way, before writing anything.
    built = Pack({"build", "-o", ws.out, "--stub", ws.stub, "--splash", Fixture("exit.png"), Fixture("exit.png")});
    EXPECT_EQ(1, built.status);
    EXPECT_NE(std::string::npos, built.err.find("wrong size: 118 x 26 pixels; the splash must be 600 x 360")) << built.err;
    EXPECT_FALSE(PathExists(ws.out));
}

// build --compress lzma: the pictures, stock or branded, move out of
// RT_BITMAP into compressed pictures that decode to the very bitmaps, and
// nothing else changes; a stored build and a stub that does not read them
// keep their bitmaps; list shows them, and a damaged one is damage.
TEST(BrandTool, ACompressedLauncherCarriesItsPicturesCompressed)
{
    BrandWorkspace ws;
#ifndef BRAND_STUB
    ws.stubBytes = LauncherLikeImage(RES_PICTURES, "stored lzma1 lzpic1");
    WriteFileBytes(ws.stub, ws.stubBytes);
#endif
    ASSERT_TRUE(StubReadsCompressedPictures(ws.stubBytes.data(), ws.stubBytes.size()));
    std::string payload = ws.dir / "ZelkSetupGb.exe", packed = ws.dir / "packed.exe";
    WriteFileText(payload, "setup\n");
    Captured built = Pack({"build", "-q", "--compress", "lzma", "-o", packed, "--stub", ws.stub, payload});
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ("", built.err);

    const uint16_t ids[] = {129, 147, 148, 149};
    const char* const lines[] = {"splash: 600 x 360", "button simplified: 118 x 26", "button traditional: 118 x 26",
                                 "button exit: 118 x 26"};
    ReadBack stock(ws.stub), compressed(packed);
    ASSERT_TRUE(stock.ok && compressed.ok);
    EXPECT_EQ(nullptr, compressed.root.Find(ResourceKey::Id(RESOURCE_BITMAP))) << "no bitmap stays";
    ResourceKey type;
    type.named = true;
    type.name = u"QVPICTURE";
    const ResourceEntry* pictures = compressed.root.Find(type);
    ASSERT_TRUE(pictures && pictures->directory);
    Captured listed = Pack({"list", packed});
    Captured json = Pack({"list", "--json", packed});
    EXPECT_EQ(0, listed.status) << listed.err;
    std::map<uint16_t, StubPicture> held;
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(ids[i]);
        const ResourceDirectory* bitmap = FindResourceLanguages(stock.root, RESOURCE_BITMAP, ids[i]);
        const ResourceEntry* name = pictures->directory->Find(ResourceKey::Id(ids[i]));
        ASSERT_TRUE(bitmap && name && name->directory);
        ASSERT_EQ(bitmap->entries.size(), name->directory->entries.size());
        EXPECT_TRUE(name->directory->entries[0].key == bitmap->entries[0].key) << "the same language";
        StubPicture& picture = held[ids[i]] = ReadStubPicture(compressed.root, ids[i]);
        EXPECT_TRUE(picture.compressed && picture.present);
        EXPECT_TRUE(picture.dib == bitmap->entries[0].data) << "the bitmap comes back byte for byte";
        EXPECT_LT(picture.storedBytes * 10, picture.dib.size()) << "the stock pictures compress tenfold at least";
        std::string line = std::string(lines[i]) + ", 24 bits, the stock picture; compressed (LZMA): " +
                           std::to_string(picture.storedBytes) + " bytes stored, " +
                           std::to_string(picture.dib.size()) + " unpacked";
        EXPECT_NE(std::string::npos, listed.out.find(line)) << line << "\n" << listed.out;
        std::string field = "\"stock\": true, \"compressed\": {\"method\": \"lzma\", \"stored_bytes\": " +
                            std::to_string(picture.storedBytes) + ", \"unpacked_bytes\": " +
                            std::to_string(picture.dib.size()) + "}";
        EXPECT_NE(std::string::npos, json.out.find(field)) << field;
    }
    // Every other resource, the icon among them, is as it was.
    std::map<std::string, Bytes> before, after;
    Leaves(stock.root, "", &before);
    Leaves(compressed.root, "", &after);
    for (const auto& leaf : before) {
        if (leaf.first.compare(0, 3, "/2/") == 0)
            continue;  // the bitmaps, moved
        EXPECT_TRUE(after.count(leaf.first) && after[leaf.first] == leaf.second) << leaf.first;
    }
    EXPECT_EQ(before.size(), after.size());
    EXPECT_TRUE(Sorted(compressed.root));
    EXPECT_EQ(0, Pack({"check", packed}).status);

    // Branded on the way: the branded bitmaps, compressed.
    ASSERT_EQ(0, Pack(Join({"brand", "--stub", ws.stub, "-o", ws.out}, AllBrandingOptions())).status);
    std::string brandedPacked = ws.dir / "branded-packed.exe";
    ASSERT_EQ(0, Pack(Join({"build", "-q", "--compress", "lzma", "-o", brandedPacked, "--stub", ws.stub, payload},
                           AllBrandingOptions())).status);
    ReadBack branded(ws.out), brandedCompressed(brandedPacked);
    for (uint16_t id : ids) {
        StubPicture picture = ReadStubPicture(brandedCompressed.root, id);
        EXPECT_TRUE(picture.compressed && picture.dib == branded.Data(RESOURCE_BITMAP, id)) << id;
    }

    // A stored build leaves the stub byte for byte; a stub that does not
    // list lzpic1 keeps its bitmaps, and the build says so.
    std::string stored = ws.dir / "stored.exe", older = ws.dir / "older.exe", olderPacked = ws.dir / "older-packed.exe";
    ASSERT_EQ(0, Pack({"build", "-q", "-o", stored, "--stub", ws.stub, payload}).status);
    Bytes olderStub = LauncherLikeImage(RES_PICTURES, "stored lzma1");
    WriteFileBytes(older, olderStub);
    Captured kept = Pack({"build", "-q", "--compress", "lzma", "-o", olderPacked, "--stub", older, payload});
    EXPECT_EQ(0, kept.status);
    EXPECT_NE(std::string::npos, kept.err.find("warning: " + older + ": its pictures stay uncompressed: it does not "
                                               "say it reads compressed pictures (no lzpic1 under PayloadFormats)"))
        << kept.err;
    for (const auto& pair : {std::make_pair(stored, ws.stubBytes), std::make_pair(olderPacked, olderStub)}) {
        Bytes launcher;
        ReadFileBytes(pair.first, &launcher);
        EXPECT_TRUE(launcher.size() > pair.second.size() &&
                    std::equal(pair.second.begin(), pair.second.end(), launcher.begin()))
            << pair.first << ": the stub as it was";
    }

    // A byte of the splash's stream flipped: list shows it and fails, as check does.
    Bytes damaged = compressed.bytes;
    size_t at = 0;
    for (size_t i = 0; i + PICTURE_STREAM_AT < damaged.size() && at == 0; ++i)
        if (memcmp(&damaged[i], PICTURE_MAGIC, sizeof PICTURE_MAGIC) == 0 &&
            ReadLE32(&damaged[i + PICTURE_DIB_HEADER_AT + PICTURE_DIB_WIDTH_AT]) == 600)
            at = i;
    ASSERT_NE(0u, at);
    damaged[at + PICTURE_STREAM_AT + held[129].storedBytes / 2] ^= 0x55;
    std::string flipped = ws.dir / "flipped.exe";
    WriteFileBytes(flipped, damaged);
    Captured checked = Pack({"check", flipped});
    EXPECT_EQ(1, checked.status);
    EXPECT_NE(std::string::npos, checked.err.find(flipped + ": damaged: picture 129 in the stub: compressed picture "))
        << checked.err;
    listed = Pack({"list", flipped});
    EXPECT_EQ(1, listed.status);
    EXPECT_NE(std::string::npos, listed.out.find("\nsplash: compressed, damaged: ")) << listed.out;
    json = Pack({"list", "--json", flipped});
    EXPECT_NE(std::string::npos, json.out.find("\"damage\": {\"picture\": \"129\", \"reason\": \"compressed picture "))
        << json.out;
}
