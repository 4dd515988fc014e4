// Reads the resources back out of the built Quorvane.exe and checks the
// dialogs, strings, icon, pictures and version block the launcher ships with.
// Templates and headers are decoded byte by byte from the raw resource data.
// One file past the usual length: the decoders and the checks of what they
// decode are read together.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "resource.h"

namespace {

const LANGID CHINESE_PRC = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// UTF-8 (how the literals below are written) to UTF-16 (how resources hold text).
std::wstring Utf16(const char* utf8)
{
    int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (length <= 0)
        return L"<not UTF-8>";
    std::wstring text(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &text[0], length);
    text.resize(static_cast<size_t>(length - 1));
    return text;
}

// For failure messages: UTF-16 to UTF-8.
std::string Utf8(const std::wstring& text)
{
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return "<not UTF-16>";
    std::string out(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
    out.resize(static_cast<size_t>(length - 1));
    return out;
}

#define EXPECT_WSTREQ_UTF8(expected, actual) EXPECT_EQ(Utf8(Utf16(expected)), Utf8(actual))

// Little-endian reads over a byte range. Reading past the end yields zeros
// and marks the reader overrun, which every test checks at the end.
class ByteReader {
public:
    explicit ByteReader(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}

    bool Overrun() const { return m_overrun; }
    size_t Offset() const { return m_pos; }

    uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
    uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    int16_t S16() { return static_cast<int16_t>(U16()); }
    int32_t S32() { return static_cast<int32_t>(U32()); }

    void Skip(size_t count)
    {
        if (count > m_bytes.size() - m_pos) {
            m_overrun = true;
            m_pos = m_bytes.size();
        } else {
            m_pos += count;
        }
    }
    // Dialog items start on a four-byte boundary from the template's start.
    void AlignTo4() { Skip((4 - m_pos % 4) % 4); }

    // A NUL-terminated UTF-16LE string.
    std::wstring WideString()
    {
        std::wstring text;
        for (;;) {
            uint16_t unit = U16();
            if (unit == 0 || m_overrun)
                return text;
            text.push_back(static_cast<wchar_t>(unit));
        }
    }

private:
    uint32_t Take(size_t count)
    {
        if (count > m_bytes.size() - m_pos) {
            m_overrun = true;
            m_pos = m_bytes.size();
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < count; ++i)
            value |= static_cast<uint32_t>(m_bytes[m_pos + i]) << (8 * i);
        m_pos += count;
        return value;
    }

    const std::vector<uint8_t>& m_bytes;
    size_t m_pos = 0;
    bool m_overrun = false;
};

// A template field that is either a number (0xFFFF, then the ordinal) or a string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::wstring name;

    bool IsEmpty() const { return !isOrdinal && name.empty(); }
};

NameOrOrdinal ReadNameOrOrdinal(ByteReader& in)
{
    NameOrOrdinal field;
    uint16_t first = in.U16();
    if (first == 0xFFFF) {
        field.isOrdinal = true;
        field.ordinal = in.U16();
    } else if (first != 0) {
        field.name.push_back(static_cast<wchar_t>(first));
        field.name += in.WideString();
    }
    return field;
}

// The predefined class a control's class field names, upper case: "BUTTON",
// "STATIC", ... whether given as an atom or a string.
std::wstring ClassName(const NameOrOrdinal& cls)
{
    if (cls.isOrdinal) {
        switch (cls.ordinal) {
        case 0x0080: return L"BUTTON";
        case 0x0081: return L"EDIT";
        case 0x0082: return L"STATIC";
        case 0x0083: return L"LISTBOX";
        case 0x0084: return L"SCROLLBAR";
        case 0x0085: return L"COMBOBOX";
        default: return L"#" + std::to_wstring(cls.ordinal);
        }
    }
    std::wstring upper = cls.name;
    for (wchar_t& c : upper)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return upper;
}

struct DialogItem {
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint32_t id = 0;
    NameOrOrdinal cls;
    NameOrOrdinal text;
};

struct DialogTemplate {
    bool extended = false;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal cls;
    std::wstring caption;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::wstring face;
    std::vector<DialogItem> items;
    bool overrun = false;
};

// Decodes a classic (DLGTEMPLATE) or extended (DLGTEMPLATEEX) dialog template
// with its items.
DialogTemplate ParseDialog(const std::vector<uint8_t>& bytes)
{
    DialogTemplate dlg;
    ByteReader in(bytes);
    uint16_t count = 0;
    if (bytes.size() >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF) {
        dlg.extended = true;
        in.U16();  // version 1
        in.U16();  // signature 0xFFFF
        in.U32();  // help id
        dlg.exStyle = in.U32();
        dlg.style = in.U32();
    } else {
        dlg.style = in.U32();
        dlg.exStyle = in.U32();
    }
    count = in.U16();
    dlg.x = in.S16();
    dlg.y = in.S16();
    dlg.cx = in.S16();
    dlg.cy = in.S16();
    dlg.menu = ReadNameOrOrdinal(in);
    dlg.cls = ReadNameOrOrdinal(in);
    dlg.caption = in.WideString();
    if (dlg.style & (DS_SETFONT | DS_SHELLFONT)) {
        dlg.pointSize = in.U16();
        if (dlg.extended) {
            dlg.weight = in.U16();
            dlg.italic = in.U8();
            dlg.charset = in.U8();
        }
        dlg.face = in.WideString();
    }
    for (uint16_t i = 0; i < count && !in.Overrun(); ++i) {
        in.AlignTo4();
        DialogItem item;
        if (dlg.extended) {
            in.U32();  // help id
            item.exStyle = in.U32();
            item.style = in.U32();
        } else {
            item.style = in.U32();
            item.exStyle = in.U32();
        }
        item.x = in.S16();
        item.y = in.S16();
        item.cx = in.S16();
        item.cy = in.S16();
        item.id = dlg.extended ? in.U32() : in.U16();
        item.cls = ReadNameOrOrdinal(in);
        item.text = ReadNameOrOrdinal(in);
        in.Skip(in.U16());  // creation data
        dlg.items.push_back(item);
    }
    dlg.overrun = in.Overrun();
    return dlg;
}

// Position and size in dialog units, as x, y, width, height.
using Box4 = std::vector<int>;
template <class T>
Box4 Box(const T& t)
{
    return Box4{t.x, t.y, t.cx, t.cy};
}
Box4 Box(std::initializer_list<int> values)
{
    return Box4(values);
}

// The launcher loaded as data: its resources, none of its code.
class LauncherResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Open(QUORVANE_EXE_PATH); }
    static void Open(const char* unixPath)
    {
        std::string path = std::string("Z:") + unixPath;
        std::replace(path.begin(), path.end(), '/', '\\');
        s_path = path;
        s_module = ::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (s_module != nullptr)
            ::FreeLibrary(s_module);
        s_module = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_module, nullptr) << "cannot load " << s_path << " as data"; }

    // The bytes of one resource in Chinese (PRC); empty when there is none.
    static std::vector<uint8_t> Resource(LPCWSTR type, WORD id, LANGID language = CHINESE_PRC)
    {
        HRSRC found = ::FindResourceExW(s_module, type, MAKEINTRESOURCEW(id), language);
        if (found == nullptr)
            return {};
        HGLOBAL loaded = ::LoadResource(s_module, found);
        DWORD size = ::SizeofResource(s_module, found);
        auto* data = static_cast<const uint8_t*>(::LockResource(loaded));
        if (data == nullptr)
            return {};
        return std::vector<uint8_t>(data, data + size);
    }

    static std::vector<LANGID> Languages(LPCWSTR type, WORD id)
    {
        std::vector<LANGID> languages;
        ::EnumResourceLanguagesW(s_module, type, MAKEINTRESOURCEW(id), &AddLanguage,
                                 reinterpret_cast<LONG_PTR>(&languages));
        return languages;
    }
    static BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
    {
        reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
        return TRUE;
    }

    static HMODULE s_module;
    static std::string s_path;
};

HMODULE LauncherResources::s_module = nullptr;
std::string LauncherResources::s_path;

TEST_F(LauncherResources, EveryResourceIsInChinesePrcOnly)
{
    struct Kind {
        LPCWSTR type;
        WORD id;
    };
    const Kind resources[] = {
        {RT_DIALOG, IDD_ABOUTBOX},
        {RT_DIALOG, IDD_LAUNCHER_DIALOG},
        {RT_STRING, IDS_ABOUTBOX / 16 + 1},
        {RT_GROUP_ICON, IDR_MAINFRAME},
        {RT_BITMAP, IDB_BACKGROUND},
        {RT_BITMAP, IDB_SETUP_SIMPLIFIED},
        {RT_BITMAP, IDB_SETUP_TRADITIONAL},
        {RT_BITMAP, IDB_EXIT_SETUP},
        {RT_VERSION, VS_VERSION_INFO},
    };
    for (const Kind& kind : resources) {
        SCOPED_TRACE(::testing::Message() << "type " << reinterpret_cast<ULONG_PTR>(kind.type) << ", id " << kind.id);
        EXPECT_EQ(Languages(kind.type, kind.id), std::vector<LANGID>{CHINESE_PRC});
    }
}

TEST_F(LauncherResources, LauncherDialogIsAFramelessExtendedTemplate)
{
    std::vector<uint8_t> bytes = Resource(RT_DIALOG, IDD_LAUNCHER_DIALOG);
    ASSERT_FALSE(bytes.empty());
    DialogTemplate dlg = ParseDialog(bytes);
    ASSERT_FALSE(dlg.overrun) << "template cut short";

    EXPECT_TRUE(dlg.extended);
    EXPECT_EQ(dlg.style, static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(dlg.style & (WS_CAPTION | WS_SYSMENU), 0u) << "the launcher has no title bar";
    EXPECT_EQ(dlg.exStyle, static_cast<uint32_t>(WS_EX_APPWINDOW));
    EXPECT_EQ(Box(dlg), Box({0, 0, 400, 240}));
    EXPECT_TRUE(dlg.menu.IsEmpty());
    EXPECT_TRUE(dlg.cls.IsEmpty());
    EXPECT_EQ(dlg.caption, L"");
    EXPECT_EQ(dlg.pointSize, 9);
    EXPECT_WSTREQ_UTF8("宋体", dlg.face);
    EXPECT_EQ(dlg.weight, 0);
    EXPECT_EQ(int{dlg.italic}, 0);
    EXPECT_EQ(int{dlg.charset}, 1);
}

TEST_F(LauncherResources, LauncherDialogHoldsFourPictureButtonsInOrder)
{
    DialogTemplate dlg = ParseDialog(Resource(RT_DIALOG, IDD_LAUNCHER_DIALOG));
    ASSERT_FALSE(dlg.overrun);
    ASSERT_EQ(dlg.items.size(), 4u);

    const uint32_t common = BS_OWNERDRAW | BS_BITMAP | WS_CHILD | WS_TABSTOP;
    struct Expected {
        uint32_t id;
        uint32_t style;
        int16_t x, y, cx, cy;
        const char* text;
    };
    const Expected expected[] = {
        {IDC_SETUP_ENGLISH, common | WS_DISABLED, 126, 216, 111, 24, ""},
        {IDC_SETUP_SIMPLIFIED, common | WS_VISIBLE, 290, 29, 79, 17, "Button1"},
        {IDC_SETUP_TRADITIONAL, common | WS_VISIBLE, 290, 54, 79, 17, ""},
        {IDC_EXIT_SETUP, common | WS_VISIBLE, 290, 79, 79, 17, ""},
    };
    for (size_t i = 0; i < 4; ++i) {
        const DialogItem& item = dlg.items[i];
        const Expected& want = expected[i];
        SCOPED_TRACE(::testing::Message() << "control " << i << " (id " << want.id << ")");
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(ClassName(item.cls), L"BUTTON");
        EXPECT_EQ(item.style, want.style) << std::hex << "got 0x" << item.style << ", want 0x" << want.style;
        EXPECT_EQ(Box(item), Box(want));
        EXPECT_FALSE(item.text.isOrdinal);
        EXPECT_WSTREQ_UTF8(want.text, item.text.name);
    }
}

TEST_F(LauncherResources, AboutBoxIsAClassicCaptionedTemplate)
{
    std::vector<uint8_t> bytes = Resource(RT_DIALOG, IDD_ABOUTBOX);
    ASSERT_FALSE(bytes.empty());
    DialogTemplate dlg = ParseDialog(bytes);
    ASSERT_FALSE(dlg.overrun);

    EXPECT_FALSE(dlg.extended);
    EXPECT_EQ(dlg.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(dlg.cx, 235);
    EXPECT_EQ(dlg.cy, 55);
    EXPECT_TRUE(dlg.menu.IsEmpty());
    EXPECT_TRUE(dlg.cls.IsEmpty());
    EXPECT_WSTREQ_UTF8("关于 Quorvane", dlg.caption);
    EXPECT_EQ(dlg.pointSize, 9);
    EXPECT_WSTREQ_UTF8("宋体", dlg.face);
}

TEST_F(LauncherResources, AboutBoxControls)
{
    DialogTemplate dlg = ParseDialog(Resource(RT_DIALOG, IDD_ABOUTBOX));
    ASSERT_FALSE(dlg.overrun);
    ASSERT_EQ(dlg.items.size(), 4u);
    const uint32_t STATIC_ID = 0xFFFF;  // -1 in a classic template's 16-bit id

    const DialogItem& icon = dlg.items[0];
    EXPECT_EQ(icon.id, STATIC_ID);
    EXPECT_EQ(ClassName(icon.cls), L"STATIC");
    EXPECT_EQ(icon.style, static_cast<uint32_t>(SS_ICON | WS_CHILD | WS_VISIBLE));
    EXPECT_TRUE(icon.text.isOrdinal);
    EXPECT_EQ(icon.text.ordinal, IDR_MAINFRAME);
    EXPECT_EQ(Box(icon), Box({11, 17, 20, 20}));

    const DialogItem& name = dlg.items[1];
    EXPECT_EQ(name.id, STATIC_ID);
    EXPECT_EQ(ClassName(name.cls), L"STATIC");
    EXPECT_EQ(name.style, static_cast<uint32_t>(SS_LEFT | SS_NOPREFIX | WS_GROUP | WS_CHILD | WS_VISIBLE));
    EXPECT_WSTREQ_UTF8("Quorvane 1.0 版", name.text.name);
    EXPECT_EQ(Box(name), Box({40, 10, 119, 8}));

    const DialogItem& legal = dlg.items[2];
    EXPECT_EQ(legal.id, STATIC_ID);
    EXPECT_EQ(ClassName(legal.cls), L"STATIC");
    EXPECT_EQ(legal.style, static_cast<uint32_t>(SS_LEFT | WS_GROUP | WS_CHILD | WS_VISIBLE));
    EXPECT_FALSE(legal.text.isOrdinal);
    EXPECT_FALSE(legal.text.name.empty()) << "the legal line has wording";
    EXPECT_EQ(Box(legal), Box({40, 25, 119, 8}));

    const DialogItem& ok = dlg.items[3];
    EXPECT_EQ(ok.id, static_cast<uint32_t>(IDOK));
    EXPECT_EQ(ClassName(ok.cls), L"BUTTON");
    EXPECT_EQ(ok.style, static_cast<uint32_t>(BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP | WS_CHILD | WS_VISIBLE));
    EXPECT_WSTREQ_UTF8("确定", ok.text.name);
    EXPECT_EQ(Box(ok), Box({178, 7, 50, 14}));
}

TEST_F(LauncherResources, AboutEntryString)
{
    // String ids live sixteen to a block; block n holds ids (n-1)*16 to n*16-1,
    // each as a 16-bit length followed by that many UTF-16 units.
    std::vector<uint8_t> block = Resource(RT_STRING, IDS_ABOUTBOX / 16 + 1);
    ASSERT_FALSE(block.empty());
    ByteReader in(block);
    std::wstring text;
    for (unsigned i = 0; i < 16; ++i) {
        uint16_t length = in.U16();
        std::wstring entry;
        for (uint16_t k = 0; k < length; ++k)
            entry.push_back(static_cast<wchar_t>(in.U16()));
        if (i == IDS_ABOUTBOX % 16)
            text = entry;
    }
    ASSERT_FALSE(in.Overrun());
    EXPECT_WSTREQ_UTF8("关于 Quorvane(&A)...", text);

    wchar_t loaded[64] = {};
    int length = ::LoadStringW(s_module, IDS_ABOUTBOX, loaded, 64);
    EXPECT_EQ(length, static_cast<int>(Utf16("关于 Quorvane(&A)...").size()));
    EXPECT_WSTREQ_UTF8("关于 Quorvane(&A)...", std::wstring(loaded));
}

TEST_F(LauncherResources, IconGroupHoldsFourImages)
{
    std::vector<uint8_t> group = Resource(RT_GROUP_ICON, IDR_MAINFRAME);
    ASSERT_FALSE(group.empty());
    ByteReader in(group);
    EXPECT_EQ(in.U16(), 0);  // reserved
    EXPECT_EQ(in.U16(), 1);  // icons, not cursors
    uint16_t count = in.U16();
    ASSERT_EQ(count, 4);

    // Each entry: width, height, colour count, reserved, planes, bits per
    // pixel, image size, RT_ICON id. The image itself is checked too.
    std::vector<std::tuple<int, int, int>> images;
    for (uint16_t i = 0; i < count; ++i) {
        SCOPED_TRACE(::testing::Message() << "entry " << i);
        int width = in.U8();
        int height = in.U8();
        in.U8();  // colour count
        in.U8();  // reserved
        in.U16(); // planes
        in.U16(); // bits per pixel (often left 0 by tools; the image says)
        uint32_t size = in.U32();
        uint16_t id = in.U16();
        ASSERT_FALSE(in.Overrun());

        std::vector<uint8_t> image = Resource(RT_ICON, id);
        ASSERT_FALSE(image.empty()) << "icon image " << id << " missing";
        EXPECT_EQ(size, image.size());
        ByteReader header(image);
        ASSERT_EQ(header.U32(), 40u) << "a BITMAPINFOHEADER image";
        int32_t imageWidth = header.S32();
        int32_t imageHeight = header.S32();  // the colour and mask halves
        header.U16();                        // planes
        int bits = header.U16();
        EXPECT_EQ(imageWidth, width);
        EXPECT_EQ(imageHeight, 2 * height);
        images.emplace_back(width, height, bits);
    }
    std::sort(images.begin(), images.end());
    // 16 colours are 4 bits per pixel, 256 colours 8.
    std::vector<std::tuple<int, int, int>> expected = {{16, 16, 4}, {16, 16, 8}, {32, 32, 4}, {32, 32, 8}};
    EXPECT_EQ(images, expected);
}

TEST_F(LauncherResources, PicturesHaveTheirSizesAndDepth)
{
    struct Picture {
        WORD id;
        int32_t width, height;
    };
    const Picture pictures[] = {
        {IDB_BACKGROUND, 600, 360},
        {IDB_SETUP_SIMPLIFIED, 118, 26},
        {IDB_SETUP_TRADITIONAL, 118, 26},
        {IDB_EXIT_SETUP, 118, 26},
    };
    for (const Picture& picture : pictures) {
        SCOPED_TRACE(::testing::Message() << "bitmap " << picture.id);
        std::vector<uint8_t> bytes = Resource(RT_BITMAP, picture.id);
        ASSERT_FALSE(bytes.empty());
        ByteReader in(bytes);
        uint32_t headerSize = in.U32();
        int32_t width = in.S32();
        int32_t height = in.S32();
        in.U16();  // planes
        uint16_t bits = in.U16();
        uint32_t compression = in.U32();
        ASSERT_FALSE(in.Overrun());
        EXPECT_GE(headerSize, 40u);
        EXPECT_EQ(width, picture.width);
        EXPECT_EQ(height < 0 ? -height : height, picture.height);
        EXPECT_EQ(bits, 24);
        EXPECT_EQ(compression, static_cast<uint32_t>(BI_RGB));
        // Every row is there: rows are padded to four bytes.
        size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) / 4 * 4;
        EXPECT_GE(bytes.size(), headerSize + stride * static_cast<size_t>(picture.height));
    }
}

// The version block, through the platform's own version functions.
class VersionBlock : public LauncherResources {
protected:
    void SetUp() override
    {
        LauncherResources::SetUp();
        std::wstring path = Utf16(s_path.c_str());
        DWORD handle = 0;
        DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
        ASSERT_GT(size, 0u) << "no version resource in " << s_path;
        m_info.resize(size);
        ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, m_info.data()));
    }

    // The value of a string, or "<missing>" when the block lacks the name.
    std::wstring Value(const char* name)
    {
        std::wstring query = L"\\StringFileInfo\\080404b0\\" + Utf16(name);
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(m_info.data(), query.c_str(), &value, &length))
            return L"<missing>";
        if (value == nullptr || length == 0)
            return L"";
        return std::wstring(static_cast<const wchar_t*>(value));
    }

    std::vector<uint8_t> m_info;
};

TEST_F(VersionBlock, FixedVersionAndTranslation)
{
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(m_info.data(), L"\\", &value, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    // Read field by field from the block's bytes.
    std::vector<uint8_t> fixed(static_cast<uint8_t*>(value), static_cast<uint8_t*>(value) + length);
    ByteReader in(fixed);
    EXPECT_EQ(in.U32(), 0xFEEF04BDu);  // signature
    in.U32();                          // structure version
    EXPECT_EQ(in.U32(), 0x00010000u);  // file version 1.0
    EXPECT_EQ(in.U32(), 0x00000001u);  //              .0.1
    EXPECT_EQ(in.U32(), 0x00010000u);  // product version 1.0
    EXPECT_EQ(in.U32(), 0x00000001u);  //                 .0.1

    ASSERT_TRUE(::VerQueryValueW(m_info.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u) << "exactly one translation";
    std::vector<uint8_t> translation(static_cast<uint8_t*>(value), static_cast<uint8_t*>(value) + length);
    ByteReader pair(translation);
    EXPECT_EQ(pair.U16(), 0x0804);
    EXPECT_EQ(pair.U16(), 1200);
}

TEST_F(VersionBlock, StringsOfTheChineseBlock)
{
    EXPECT_WSTREQ_UTF8("Quorvane 安装启动程序", Value("FileDescription"));
    EXPECT_WSTREQ_UTF8("1, 0, 0, 1", Value("FileVersion"));
    EXPECT_WSTREQ_UTF8("1, 0, 0, 1", Value("ProductVersion"));
    EXPECT_WSTREQ_UTF8("Quorvane", Value("InternalName"));
    EXPECT_WSTREQ_UTF8("Quorvane.EXE", Value("OriginalFilename"));
    EXPECT_WSTREQ_UTF8("Quorvane 应用程序", Value("ProductName"));
    // The formats this launcher reads; the packer asks for lzma1 before compressing
    // and for lzpic1 before compressing its pictures.
    EXPECT_WSTREQ_UTF8("stored lzma1 lzpic1", Value("PayloadFormats"));

    std::wstring copyright = Value("LegalCopyright");
    EXPECT_NE(copyright, L"<missing>");
    EXPECT_FALSE(copyright.empty());

    for (const char* empty : {"Comments", "CompanyName", "LegalTrademarks", "PrivateBuild", "SpecialBuild"}) {
        SCOPED_TRACE(empty);
        EXPECT_WSTREQ_UTF8("", Value(empty));
    }
}

// The launcher branded at pack time (tests/gui's gui_branded_launcher): the
// fixtures' pictures and icon, the test product's texts.
class BrandedLauncher : public LauncherResources {
protected:
    static void SetUpTestSuite() { Open(QUORVANE_BRANDED_PATH); }
};

TEST_F(BrandedLauncher, AboutBoxAndMenuEntryNameTheProduct)
{
    const std::string product = QUORVANE_BRAND_PRODUCT;  // "示例产品 & Co"
    DialogTemplate dlg = ParseDialog(Resource(RT_DIALOG, IDD_ABOUTBOX));
    ASSERT_FALSE(dlg.overrun);
    EXPECT_FALSE(dlg.extended);
    EXPECT_EQ(dlg.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(Box(dlg), Box({0, 0, 235, 55}));
    EXPECT_WSTREQ_UTF8(("关于 " + product).c_str(), dlg.caption);
    EXPECT_WSTREQ_UTF8("宋体", dlg.face);
    ASSERT_EQ(dlg.items.size(), 4u);
    EXPECT_TRUE(dlg.items[0].text.isOrdinal);
    EXPECT_EQ(dlg.items[0].text.ordinal, IDR_MAINFRAME);
    EXPECT_WSTREQ_UTF8((product + " 2.4 版").c_str(), dlg.items[1].text.name);
    EXPECT_EQ(dlg.items[1].style, static_cast<uint32_t>(SS_LEFT | SS_NOPREFIX | WS_GROUP | WS_CHILD | WS_VISIBLE));
    EXPECT_WSTREQ_UTF8("(C) 2024 Example && Co", dlg.items[2].text.name) << "shown as one ampersand";
    EXPECT_EQ(Box(dlg.items[2]), Box({40, 25, 119, 8}));
    EXPECT_WSTREQ_UTF8("确定", dlg.items[3].text.name);
    EXPECT_EQ(Box(dlg.items[3]), Box({178, 7, 50, 14}));

    std::string menu = "关于 ";
    for (char c : product)
        menu += c == '&' ? "&&" : std::string(1, c);
    wchar_t loaded[128] = {};
    ::LoadStringW(s_module, IDS_ABOUTBOX, loaded, 128);
    EXPECT_WSTREQ_UTF8((menu + "(&A)...").c_str(), std::wstring(loaded));
    // The launcher's own dialog and the message strings stay.
    DialogTemplate launcher = ParseDialog(Resource(RT_DIALOG, IDD_LAUNCHER_DIALOG));
    EXPECT_TRUE(launcher.extended);
    EXPECT_EQ(launcher.items.size(), 4u);
    EXPECT_GT(::LoadStringW(s_module, IDS_SIMPLIFIED_DAMAGED, loaded, 128), 0);
}

TEST_F(BrandedLauncher, IconGroupHoldsTheIconFilesImagesWhichWindowsDraws)
{
    // The icon file's directory and images, read here on their own.
    std::string icoPath = std::string("Z:") + QUORVANE_BRAND_DIR "/product.ico";
    std::replace(icoPath.begin(), icoPath.end(), '/', '\\');
    HANDLE file = ::CreateFileA(icoPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> ico(::GetFileSize(file, nullptr));
    DWORD read = 0;
    ::ReadFile(file, ico.data(), static_cast<DWORD>(ico.size()), &read, nullptr);
    ::CloseHandle(file);
    ByteReader icoIn(ico);
    icoIn.Skip(4);
    uint16_t count = icoIn.U16();

    std::vector<uint8_t> group = Resource(RT_GROUP_ICON, IDR_MAINFRAME);
    ByteReader in(group);
    in.Skip(4);
    ASSERT_EQ(in.U16(), count);
    for (uint16_t i = 0; i < count; ++i) {
        SCOPED_TRACE(::testing::Message() << "image " << i);
        int width = icoIn.U8(), height = icoIn.U8();
        icoIn.Skip(6);
        uint32_t size = icoIn.U32(), offset = icoIn.U32();
        EXPECT_EQ(in.U8(), width);
        EXPECT_EQ(in.U8(), height);
        in.Skip(6);
        EXPECT_EQ(in.U32(), size);
        uint16_t id = in.U16();
        std::vector<uint8_t> image = Resource(RT_ICON, id);
        ASSERT_EQ(image.size(), size);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), ico.begin() + offset)) << "RT_ICON " << id;
        int pixels = width == 0 ? 256 : width;
        HICON icon = ::CreateIconFromResourceEx(image.data(), size, TRUE, 0x00030000, pixels, pixels, 0);
        EXPECT_NE(icon, nullptr) << "Windows cannot draw RT_ICON " << id;
        if (icon != nullptr)
            ::DestroyIcon(icon);
    }
    ASSERT_FALSE(in.Overrun() || icoIn.Overrun());
    EXPECT_TRUE(Resource(RT_ICON, static_cast<WORD>(count + 1)).empty()) << "an image of the old icon stayed";
    HICON small = static_cast<HICON>(::LoadImageW(s_module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(small, nullptr);
    if (small != nullptr)
        ::DestroyIcon(small);
}

TEST_F(BrandedLauncher, PicturesAreBottomUp24BitBitmapsThatLoad)
{
    const struct {
        WORD id;
        LONG width, height;
    } pictures[] = {{IDB_BACKGROUND, 600, 360}, {IDB_SETUP_SIMPLIFIED, 118, 26}, {IDB_SETUP_TRADITIONAL, 118, 26},
                    {IDB_EXIT_SETUP, 118, 26}};
    for (const auto& picture : pictures) {
        SCOPED_TRACE(::testing::Message() << "bitmap " << picture.id);
        std::vector<uint8_t> bytes = Resource(RT_BITMAP, picture.id);
        ByteReader in(bytes);
        EXPECT_EQ(in.U32(), 40u);
        EXPECT_EQ(in.S32(), picture.width);
        EXPECT_EQ(in.S32(), picture.height) << "positive: bottom-up";
        in.U16();
        EXPECT_EQ(in.U16(), 24);
        EXPECT_EQ(bytes.size(), 40 + static_cast<size_t>((picture.width * 3 + 3) / 4 * 4 * picture.height));
        HBITMAP bitmap = static_cast<HBITMAP>(::LoadImageW(s_module, MAKEINTRESOURCEW(picture.id), IMAGE_BITMAP, 0, 0, 0));
        ASSERT_NE(bitmap, nullptr);
        BITMAP info = {};
        ::GetObjectW(bitmap, sizeof info, &info);
        EXPECT_EQ(info.bmWidth, picture.width);
        EXPECT_EQ(info.bmHeight, picture.height);
        ::DeleteObject(bitmap);
    }
}

class BrandedVersionBlock : public VersionBlock {
protected:
    static void SetUpTestSuite() { Open(QUORVANE_BRANDED_PATH); }
};

TEST_F(BrandedVersionBlock, StringsAndVersionsAreTheProducts)
{
    EXPECT_WSTREQ_UTF8(QUORVANE_BRAND_PRODUCT, Value("ProductName"));
    EXPECT_WSTREQ_UTF8(QUORVANE_BRAND_PRODUCT, Value("FileDescription"));
    EXPECT_WSTREQ_UTF8("Example Ltd", Value("CompanyName"));
    EXPECT_WSTREQ_UTF8("(C) 2024 Example & Co", Value("LegalCopyright"));
    EXPECT_WSTREQ_UTF8("2, 4, 0, 7", Value("FileVersion"));
    EXPECT_WSTREQ_UTF8("2, 4, 0, 7", Value("ProductVersion"));
    EXPECT_WSTREQ_UTF8("Quorvane", Value("InternalName"));
    EXPECT_WSTREQ_UTF8("Quorvane.EXE", Value("OriginalFilename"));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(m_info.data(), L"\\", &value, &length));
    std::vector<uint8_t> fixed(static_cast<uint8_t*>(value), static_cast<uint8_t*>(value) + length);
    ByteReader in(fixed);
    in.Skip(8);
    EXPECT_EQ(in.U32(), 0x00020004u);  // file version 2.4
    EXPECT_EQ(in.U32(), 0x00000007u);  //              .0.7
    EXPECT_EQ(in.U32(), 0x00020004u);  // product version
    EXPECT_EQ(in.U32(), 0x00000007u);
}

}  // namespace
