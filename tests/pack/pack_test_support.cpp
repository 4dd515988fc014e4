// What the packer's tests share: running the tool with its output captured,
// files made to measure, and stand-in stubs laid out like the launcher. Past
// the usual length: small helpers for three test files, each on both systems.
#include "pack_test_support.h"

#include <cstdio>
#include <cstring>

#include "archive.h"
#include "byte_order.h"
#include "host_files.h"
#include "pe_writer.h"
#include "picture.h"
#include "resources.h"

#ifdef _WIN32
#include "windows_api.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace pack_testing {

using namespace testing_support;

#ifdef _WIN32

static std::wstring Quote(const std::wstring& arg)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

static HANDLE Inheritable(const std::wstring& path)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

Captured RunCaptured(const std::string& program, const std::vector<std::string>& args)
{
    Captured captured;
    ScratchDir dir;
    std::string outPath = dir / "stdout", errPath = dir / "stderr";
    std::wstring command = Quote(WideFromUtf8(program));
    for (const std::string& arg : args)
        command += L" " + Quote(WideFromUtf8(arg));
    HANDLE out = Inheritable(WideFromUtf8(outPath));
    HANDLE err = Inheritable(WideFromUtf8(errPath));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    BOOL started = CreateProcessW(WideFromUtf8(program).c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(err);
    if (started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = static_cast<DWORD>(-1);
        GetExitCodeProcess(pi.hProcess, &code);
        captured.status = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    captured.out = ReadFileText(outPath);
    captured.err = ReadFileText(errPath);
    return captured;
}

bool MakeSizedFile(const std::string& path, uint64_t size)
{
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool ShiftModificationTime(const std::string& path, int seconds)
{
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME written;
    bool ok = GetFileTime(file, nullptr, nullptr, &written);
    ULARGE_INTEGER t;
    t.LowPart = written.dwLowDateTime;
    t.HighPart = written.dwHighDateTime;
    t.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(seconds) * 10000000LL);
    written.dwLowDateTime = t.LowPart;
    written.dwHighDateTime = t.HighPart;
    ok = ok && SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return ok;
}

#else

Captured RunCaptured(const std::string& program, const std::vector<std::string>& args)
{
    Captured captured;
    ScratchDir dir;
    std::string outPath = dir / "stdout", errPath = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);
    pid_t pid;
    int status = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &status, 0) == pid)
        captured.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    posix_spawn_file_actions_destroy(&actions);
    captured.out = ReadFileText(outPath);
    captured.err = ReadFileText(errPath);
    return captured;
}

bool MakeSizedFile(const std::string& path, uint64_t size)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
    return fclose(file) == 0 && ok;
}

bool ShiftModificationTime(const std::string& path, int seconds)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    struct timeval times[2];
    times[0].tv_sec = st.st_atime;
    times[0].tv_usec = 0;
    times[1].tv_sec = st.st_mtime + seconds;
    times[1].tv_usec = 0;
    return utimes(path.c_str(), times) == 0;
}

#endif

namespace {

void Align4(Bytes* b)
{
    while (b->size() % 4 != 0)
        b->push_back(0);
}

// One version block node: length, value length, type, key, value, children.
Bytes VersionNode(const std::string& key, bool text, const Bytes& value, uint16_t valueLength,
                  const std::vector<Bytes>& children)
{
    Bytes node(6, 0);
    node[4] = text ? 1 : 0;
    node[2] = static_cast<unsigned char>(valueLength);
    node[3] = static_cast<unsigned char>(valueLength >> 8);
    for (char c : key) {
        node.push_back(static_cast<unsigned char>(c));
        node.push_back(0);
    }
    node.insert(node.end(), {0, 0});
    Align4(&node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Align4(&node);
        node.insert(node.end(), child.begin(), child.end());
    }
    node[0] = static_cast<unsigned char>(node.size());
    node[1] = static_cast<unsigned char>(node.size() >> 8);
    return node;
}

Bytes Utf16z(const std::string& ascii)
{
    Bytes out;
    for (char c : ascii)
        out.insert(out.end(), {static_cast<unsigned char>(c), 0});
    out.insert(out.end(), {0, 0});
    return out;
}

}  // namespace

Bytes VersionedPeImage(const std::string& internalName, const std::string& payloadFormats)
{
    Bytes fixed(52, 0);
    WriteLE32(&fixed[0], 0xFEEF04BD);
    auto string = [](const std::string& key, const std::string& value) {
        return VersionNode(key, true, Utf16z(value), static_cast<uint16_t>(value.size() + 1), {});
    };
    std::vector<Bytes> strings = {string("FileVersion", "1, 0, 0, 1"), string("InternalName", internalName),
                                  string("OriginalFilename", "Quorvane.EXE")};
    if (!payloadFormats.empty())
        strings.push_back(string("PayloadFormats", payloadFormats));
    Bytes table = VersionNode("080404b0", true, {}, 0, strings);
    Bytes info = VersionNode("VS_VERSION_INFO", false, fixed, 52,
                             {VersionNode("StringFileInfo", true, {}, 0, {table})});

    // Type 16 -> name 1 -> language 0x804 -> data, at the section's start (RVA 0x1000).
    const uint32_t sectionRva = 0x1000, dataAt = 0x58;
    Bytes rsrc(dataAt, 0);
    const uint32_t levels[][2] = {{16, 0x80000018}, {1, 0x80000030}, {0x804, 0x48}};
    for (int i = 0; i < 3; ++i) {
        rsrc[i * 0x18 + 14] = 1;  // one entry with an id
        WriteLE32(&rsrc[i * 0x18 + 16], levels[i][0]);
        WriteLE32(&rsrc[i * 0x18 + 20], levels[i][1]);
    }
    WriteLE32(&rsrc[0x48], sectionRva + dataAt);
    WriteLE32(&rsrc[0x4C], static_cast<uint32_t>(info.size()));
    rsrc.insert(rsrc.end(), info.begin(), info.end());

    Bytes image = MinimalPeImage(0x1000);
    memcpy(&image[0x200], rsrc.data(), rsrc.size());
    unsigned char* resourceDirectory = &image[0x80 + 24 + 96 + 2 * 8];
    WriteLE32(resourceDirectory, sectionRva);
    WriteLE32(resourceDirectory + 4, static_cast<uint32_t>(rsrc.size()));
    return image;
}

namespace {

void AddResource(ResourceDirectory* root, const ResourceKey& type, uint16_t id, uint16_t language, const Bytes& data)
{
    ResourceEntry* kind = root->Find(type);
    if (kind == nullptr) {
        ResourceEntry entry;
        entry.key = type;
        entry.directory.reset(new ResourceDirectory);
        kind = &root->Insert(std::move(entry));
    }
    ResourceEntry name;
    name.key = ResourceKey::Id(id);
    name.directory.reset(new ResourceDirectory);
    ResourceEntry leaf;
    leaf.key = ResourceKey::Id(language);
    leaf.data = data;
    name.directory->Insert(std::move(leaf));
    kind->directory->Insert(std::move(name));
}

DialogItem Control(uint16_t atom, const std::u16string& text, uint32_t style, uint32_t id)
{
    DialogItem item;
    item.style = 0x50000000 | style;  // WS_CHILD | WS_VISIBLE
    item.id = id;
    item.windowClass.ordinal = true;
    item.windowClass.id = atom;
    item.title.text = text;
    return item;
}

Bytes VersionBlock(const std::string& payloadFormats)
{
    ::VersionNode root;
    root.key = u"VS_VERSION_INFO";
    root.valueLength = 52;
    root.value.assign(52, 0);
    SetU32(&root.value, 0, 0xFEEF04BD);   // signature
    SetU32(&root.value, 4, 0x00010000);   // structure version
    for (size_t at : {8, 16}) {           // file and product version 1.0.0.1
        SetU32(&root.value, at, 0x00010000);
        SetU32(&root.value, at + 4, 0x00000001);
    }
    ::VersionNode table;
    table.key = u"080404b0";
    table.type = 1;
    SetVersionString(&table, u"CompanyName", u"");
    SetVersionString(&table, u"FileDescription", u"Quorvane \u5B89\u88C5\u542F\u52A8\u7A0B\u5E8F");
    SetVersionString(&table, u"FileVersion", u"1, 0, 0, 1");
    SetVersionString(&table, u"InternalName", u"Quorvane");
    SetVersionString(&table, u"OriginalFilename", u"Quorvane.EXE");
    if (!payloadFormats.empty())
        SetVersionString(&table, u"PayloadFormats", std::u16string(payloadFormats.begin(), payloadFormats.end()));
    SetVersionString(&table, u"ProductName", u"Quorvane \u5E94\u7528\u7A0B\u5E8F");
    ::VersionNode strings;
    strings.key = u"StringFileInfo";
    strings.type = 1;
    strings.children.push_back(table);
    ::VersionNode translation;
    translation.key = u"Translation";
    translation.valueLength = 4;
    translation.value = {0x04, 0x08, 0xB0, 0x04};
    ::VersionNode variables;
    variables.key = u"VarFileInfo";
    variables.type = 1;
    variables.children.push_back(translation);
    root.children = {strings, variables};
    Bytes block;
    WriteVersionBlock(root, &block);
    return block;
}

}  // namespace

Bytes LauncherLikeImage(const std::string& picturesDir, const std::string& payloadFormats)
{
    const uint16_t PRC = 0x804;
    ResourceDirectory root;
    const std::pair<uint16_t, const char*> bitmaps[] = {
        {129, "splash.bmp"}, {147, "setup-simplified.bmp"}, {148, "setup-traditional.bmp"}, {149, "exit-setup.bmp"}};
    for (const auto& bitmap : bitmaps) {
        Bytes file;
        ReadFileBytes(JoinPath(picturesDir, bitmap.second), &file);
        AddResource(&root, ResourceKey::Id(RESOURCE_BITMAP), bitmap.first, PRC, Bytes(file.begin() + 14, file.end()));
    }
    Bytes icon;
    ReadFileBytes(JoinPath(picturesDir, "quorvane.ico"), &icon);
    std::vector<IconImage> images;
    std::string detail;
    ReadIconFile(ByteView(icon), &images, &detail);
    std::vector<IconGroupEntry> group;
    for (uint16_t i = 0; i < images.size(); ++i) {
        AddResource(&root, ResourceKey::Id(RESOURCE_ICON), i + 1, PRC, images[i].data);
        group.push_back(IconGroupEntryFor(images[i], i + 1));
    }
    AddResource(&root, ResourceKey::Id(RESOURCE_GROUP_ICON), 128, PRC, WriteIconGroup(group));

    // The About box, as res/quorvane.rc.in has it; 关于, 版, 版权所有, 确定, 宋体.
    DialogTemplate about;
    about.style = 0x80C800C0;  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    about.cx = 235;
    about.cy = 55;
    about.title = u"\u5173\u4E8E Quorvane";
    about.pointSize = 9;
    about.face = u"\u5B8B\u4F53";
    DialogItem icon128 = Control(0x82, u"", 0x3, 0xFFFF);  // SS_ICON
    icon128.title.ordinal = true;
    icon128.title.id = 128;
    about.items = {icon128, Control(0x82, u"Quorvane 1.0 \u7248", 0x20080, 0xFFFF),
                   Control(0x82, u"\u7248\u6743\u6240\u6709 (C) Quorvane", 0x20000, 0xFFFF),
                   Control(0x80, u"\u786E\u5B9A", 0x30001, 1)};
    AddResource(&root, ResourceKey::Id(RESOURCE_DIALOG), 100, PRC, WriteDialogTemplate(about));
    DialogTemplate launcher;
    launcher.extended = true;
    launcher.style = 0x900000C0;
    launcher.cx = 400;
    launcher.cy = 240;
    launcher.face = about.face;
    launcher.items = {Control(0x80, u"Button1", 0x1000B, 1000)};
    AddResource(&root, ResourceKey::Id(RESOURCE_DIALOG), 102, PRC, WriteDialogTemplate(launcher));
    std::u16string strings[STRINGS_PER_BLOCK];
    strings[101 % 16] = u"\u5173\u4E8E Quorvane(&A)...";
    AddResource(&root, ResourceKey::Id(RESOURCE_STRING), 101 / 16 + 1, PRC, WriteStringBlock(strings));
    AddResource(&root, ResourceKey::Id(RESOURCE_VERSION), 1, PRC, VersionBlock(payloadFormats));
    ResourceKey marker;  // other data the stub carries, filed under a name
    marker.named = true;
    marker.name = u"QVMARK";
    AddResource(&root, marker, 1, 0, Bytes{'m', 'a', 'r', 'k'});

    // Headers, then .text, .rsrc and .reloc, file alignment 0x200, section alignment 0x1000.
    const uint32_t RSRC_RVA = 0x2000, RSRC_AT = 0x600;
    Bytes rsrc = WriteResourceTree(root, RSRC_RVA);
    uint32_t rsrcRaw = static_cast<uint32_t>(AlignUp(rsrc.size(), 0x200));
    uint32_t relocRva = static_cast<uint32_t>(AlignUp(RSRC_RVA + rsrc.size(), 0x1000));
    Bytes image(RSRC_AT + rsrcRaw + 0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    WriteLE32(&image[0x3C], 0x80);
    unsigned char* pe = &image[0x80];
    memcpy(pe, "PE\0\0", 4);
    pe[4] = 0x4C;  // i386
    pe[5] = 0x01;
    pe[6] = 3;     // sections
    pe[20] = 0xE0; // optional header size
    pe[22] = 0x02; // executable image
    unsigned char* opt = pe + 24;
    opt[0] = 0x0B;  // PE32
    opt[1] = 0x01;
    WriteLE32(opt + 8, rsrcRaw + 0x200);             // size of initialized data
    WriteLE32(opt + 32, 0x1000);                     // section alignment
    WriteLE32(opt + 36, 0x200);                      // file alignment
    WriteLE32(opt + 56, relocRva + 0x1000);          // size of image
    WriteLE32(opt + 60, 0x400);                      // size of headers
    opt[68] = 2;                                     // GUI subsystem
    WriteLE32(opt + 92, 16);                         // data directories
    WriteLE32(opt + 96 + 2 * 8, RSRC_RVA);
    WriteLE32(opt + 96 + 2 * 8 + 4, static_cast<uint32_t>(rsrc.size()));
    WriteLE32(opt + 96 + 5 * 8, relocRva);
    WriteLE32(opt + 96 + 5 * 8 + 4, 0x10);
    const struct {
        const char* name;
        uint32_t virtualSize, rva, rawSize, rawAt, flags;
    } sections[] = {{".text", 0x200, 0x1000, 0x200, 0x400, 0x60000020},
                    {".rsrc", static_cast<uint32_t>(rsrc.size()), RSRC_RVA, rsrcRaw, RSRC_AT, 0x40000040},
                    {".reloc", 0x10, relocRva, 0x200, RSRC_AT + rsrcRaw, 0x42000040}};
    for (int i = 0; i < 3; ++i) {
        unsigned char* header = opt + 0xE0 + i * 40;
        memcpy(header, sections[i].name, strlen(sections[i].name));
        WriteLE32(header + 8, sections[i].virtualSize);
        WriteLE32(header + 12, sections[i].rva);
        WriteLE32(header + 16, sections[i].rawSize);
        WriteLE32(header + 20, sections[i].rawAt);
        WriteLE32(header + 36, sections[i].flags);
    }
    for (uint32_t i = 0; i < 0x200; ++i)
        image[0x400 + i] = static_cast<unsigned char>(i * 13);
    memcpy(&image[RSRC_AT], rsrc.data(), rsrc.size());
    WriteLE32(&image[RSRC_AT + rsrcRaw], 0x1000);   // one block of relocations
    WriteLE32(&image[RSRC_AT + rsrcRaw + 4], 0x10);
    WriteLE32(opt + 64, PeChecksum(ByteView(image), 0x80 + 24 + 64));
    return image;
}

}  // namespace pack_testing
