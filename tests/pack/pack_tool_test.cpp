// quorvane-pack as users run it: natively, and as the Windows build under Wine.
// One harness past the usual length: every case runs the tool in a workspace
// of its own through the same helpers, one case per thing a user does.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>

#include "archive.h"
#include "guide.h"
#include "pack.h"
#include "pack_test_support.h"
#include "picture.h"
#include "platform.h"

#ifndef _WIN32
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

using namespace testing_support;
using namespace pack_testing;

namespace {

const std::string TOOL = QUORVANE_PACK_TOOL;
const std::string CHINESE_NAME = "\xE4\xB8\xAD\xE6\x96\x87\xE8\xAF\xB4\xE6\x98\x8E.txt";  // 中文说明.txt
const std::string CHINESE_GBK = "\xD6\xD0\xCE\xC4\xCB\xB5\xC3\xF7.txt";

Captured Pack(const std::vector<std::string>& args)
{
    return RunCaptured(TOOL, args);
}

// A folder of payload files and a PE stub, with the output to go beside them.
struct Workspace {
    ScratchDir dir;
    std::string payload = dir / "payload";
    std::string stub = dir / "stub.exe";
    std::string out = dir / "launcher.exe";
    Workspace()
    {
        MakeFolder(payload);
        WriteFileBytes(stub, VersionedPeImage("Quorvane"));
    }
    void Add(const std::string& name, const Bytes& data) { WriteFileBytes(JoinPath(payload, name), data); }
};

std::vector<std::string> StdoutLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool HasLine(const std::string& text, const std::string& wanted)
{
    std::vector<std::string> lines = StdoutLines(text);
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

// A stub that reads compressed archives, signed: a certificate table after
// its image, where its security directory says, as a signing tool leaves it.
Bytes SignedStub()
{
    Bytes stub = VersionedPeImage("Quorvane", "stored lzma1");
    const size_t securityDirectory = 0x80 + 24 + 96 + 4 * 8;  // PE32: the fifth data directory
    WriteLE32(&stub[securityDirectory], static_cast<uint32_t>(stub.size()));
    WriteLE32(&stub[securityDirectory + 4], 16);
    stub.resize(stub.size() + 16, 0x30);
    return stub;
}

// A copy of the tool at path, to run from another folder.
bool CopyTool(const std::string& path)
{
    Bytes tool;
    if (!ReadFileBytes(TOOL, &tool) || !WriteFileBytes(path, tool))
        return false;
#ifndef _WIN32
    chmod(path.c_str(), 0755);
#endif
    return true;
}

std::vector<std::string> EntryNames(const std::string& launcher)
{
    LauncherReport report;
    DescribeLauncher(launcher, 936, &report);
    std::vector<std::string> names;
    for (const ListedEntry& entry : report.entries)
        names.push_back(entry.storedName);
    return names;
}

}  // namespace

TEST(PackTool, RoundTripBuildListExtract)
{
    Workspace ws;
    std::map<std::string, Bytes> files = {{"setup.ini", Pattern(200, 1)},
                                         {"empty.log", {}},
                                         {"big.bak", Pattern(3 * 1024 * 1024 + 17, 2)},
                                         {"ZelkSetupGb.exe", Pattern(70000, 3)}};
    for (const auto& f : files)
        ws.Add(f.first, f.second);
    std::string loose = ws.dir / "licence.txt";  // a file given directly
    ASSERT_TRUE(WriteFileBytes(loose, Pattern(999, 4)));
    files["licence.txt"] = Pattern(999, 4);

    Captured built = Pack({"build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload, loose});
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ("", built.err);

    Bytes launcher;
    ASSERT_TRUE(ReadFileBytes(ws.out, &launcher));
    Bytes stub;
    ASSERT_TRUE(ReadFileBytes(ws.stub, &stub));
    ASSERT_GT(launcher.size(), PAYLOAD_OFFSET);
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), launcher.begin()));
    EXPECT_TRUE(std::all_of(launcher.begin() + stub.size(), launcher.begin() + PAYLOAD_OFFSET,
                            [](unsigned char b) { return b == 0xCD; }));

    Captured listed = Pack({"list", ws.out});
    ASSERT_EQ(0, listed.status) << listed.err;
    uint64_t offset = PAYLOAD_OFFSET;
    uint64_t total = 0;
    for (const std::string& name : EntryNames(ws.out)) {
        const Bytes& data = files.at(name);
        char line[200];
        snprintf(line, sizeof line, "0x%08llX  %10zu  %s", static_cast<unsigned long long>(offset),
                 data.size(), name.c_str());
        EXPECT_TRUE(HasLine(listed.out, line)) << line << "\n" << listed.out;
        offset += ENTRY_HEADER_SIZE + data.size();
        total += data.size();
    }
    EXPECT_TRUE(HasLine(listed.out, "5 entries, " + std::to_string(total) + " bytes of data")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "image ends at 0x00001000")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "filler ends at 0x00200000 (every byte 0xCD)")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "trailing bytes: 0")) << listed.out;
    char recordLine[80];
    snprintf(recordLine, sizeof recordLine, "integrity record at 0x%08llX: XXH3-128, ok",
             static_cast<unsigned long long>(offset));
    EXPECT_TRUE(HasLine(listed.out, recordLine)) << listed.out;
    EXPECT_EQ(launcher.size(), offset + INTEGRITY_RECORD_SIZE);

    Captured checked = Pack({"check", ws.out});
    EXPECT_EQ(0, checked.status);
    EXPECT_EQ("", checked.out + checked.err);

    std::string target = ws.dir / "extracted";
    Captured extracted = Pack({"extract", ws.out, target});
    ASSERT_EQ(0, extracted.status) << extracted.err;
    EXPECT_EQ(files.size(), ListFolder(target).size());
    for (const auto& f : files) {
        Bytes data;
        ASSERT_TRUE(ReadFileBytes(JoinPath(target, f.first), &data)) << f.first;
        EXPECT_EQ(f.second, data) << f.first;
    }
}

TEST(PackTool, TheLauncherStagesWhatThePackerBuilt)
{
    // The stand-in launcher is a real PE in the Windows build; natively it is
    // not, and --force takes it as it is.
    ScratchDir dir;
    std::string payload = dir / "payload";
    ASSERT_TRUE(MakeFolder(payload));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "a.dll"), Pattern(123456, 5)));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "empty.log"), {}));
    std::string launcher = dir / "launcher.exe";
    std::vector<std::string> args = {"build", "-o", launcher, "--stub", STAGE_SELF, payload};
#ifndef _WIN32
    args.push_back("--force");
#endif
    Captured built = Pack(args);
    ASSERT_EQ(0, built.status) << built.err;

    std::string temp = dir / "TEMP";
    ASSERT_TRUE(MakeFolder(temp));
    std::string report = dir / "report.txt";
    ASSERT_EQ(0, RunProgram(launcher, {temp + PATH_SEPARATOR, report}));
    EXPECT_EQ(0u, ReadFileText(report).find("complete\n"));
    std::string stage = JoinPath(temp, "tmpsoft");
    Bytes staged;
    ASSERT_TRUE(ReadFileBytes(JoinPath(stage, "a.dll"), &staged));
    EXPECT_EQ(Pattern(123456, 5), staged);
    EXPECT_TRUE(PathExists(JoinPath(stage, "empty.log")));
}

TEST(PackTool, EntriesAreInCaseInsensitiveOrderWhateverTheDirectorySays)
{
    Workspace ws;
    // Created out of order; '_' sorts before letters once they are lower-cased.
    for (const char* name : {"b3.dll", "Z.txt", "a1.txt", "_first.ini", "B2.dll", "~last", "0.dat"})
        ws.Add(name, {'x'});
    ws.Add(CHINESE_NAME, {'y'});
    Captured built = Pack({"build", "-o", ws.out, "--stub", ws.stub, ws.payload});
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ((std::vector<std::string>{"0.dat", "_first.ini", "a1.txt", "B2.dll", "b3.dll", "Z.txt", "~last",
                                        CHINESE_GBK}),
              EntryNames(ws.out));
}

TEST(PackTool, SameInputsGiveTheSameBytes)
{
    Workspace ws;
    ws.Add("one.txt", Pattern(5000, 6));
    ws.Add("two.dll", Pattern(100, 7));
    // The same files in another folder, created in the other order.
    std::string second = ws.dir / "second";
    ASSERT_TRUE(MakeFolder(second));
    ASSERT_TRUE(WriteFileBytes(JoinPath(second, "two.dll"), Pattern(100, 7)));
    ASSERT_TRUE(WriteFileBytes(JoinPath(second, "one.txt"), Pattern(5000, 6)));

    std::string out2 = ws.dir / "again.exe", out3 = ws.dir / "other.exe";
    ASSERT_EQ(0, Pack({"build", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    ASSERT_TRUE(ShiftModificationTime(JoinPath(ws.payload, "one.txt"), -86400));
    ASSERT_TRUE(ShiftModificationTime(ws.stub, 3600));
    ASSERT_EQ(0, Pack({"build", "-o", out2, "--stub", ws.stub, ws.payload}).status);
    ASSERT_EQ(0, Pack({"build", "-o", out3, "--stub", ws.stub, second}).status);
    Bytes a, b, c;
    ASSERT_TRUE(ReadFileBytes(ws.out, &a));
    ASSERT_TRUE(ReadFileBytes(out2, &b));
    ASSERT_TRUE(ReadFileBytes(out3, &c));
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == c);
}

TEST(PackTool, RefusalsNameTheCulpritAndLeaveAnExistingOutputAlone)
{
    struct Case {
        const char* what;
        std::function<std::vector<std::string>(Workspace&)> setUp;  // returns the extra arguments
        std::string culprit;  // in the one-line message
    };
    std::string longName;
    for (int i = 0; i < 64; ++i)
        longName += "\xE4\xB8\xAD";  // 64 x 中: 128 bytes in GBK
    longName += ".txt";
    const std::string backslashTrail = "\xE4\xB9\x97.txt";  // 乗: GBK 81 5C, a '\' byte

    std::vector<Case> cases = {
        {"a name the code page cannot hold",
         [](Workspace& ws) {
             ws.Add("smile\xF0\x9F\x98\x80.txt", {'a'});
             return std::vector<std::string>{ws.payload};
         },
         "smile"},
        {"a name longer than 127 bytes once encoded",
         [&](Workspace& ws) {
             ws.Add(longName, {'a'});
             return std::vector<std::string>{ws.payload};
         },
         longName},
        {"a name that is not a bare file name in the code page",
         [&](Workspace& ws) {
             ws.Add(backslashTrail, {'a'});
             return std::vector<std::string>{ws.payload};
         },
         backslashTrail},
        {"names equal ignoring case",
         [](Workspace& ws) {
             ws.Add("Readme.txt", {'a'});
             std::string other = ws.dir / "other";
             MakeFolder(other);
             WriteFileBytes(JoinPath(other, "README.TXT"), {'b'});
             return std::vector<std::string>{ws.payload, other};
         },
         "README.TXT"},
        {"a file of 4 GiB",
         [](Workspace& ws) {
             MakeSizedFile(JoinPath(ws.payload, "huge.bak"), 0x100000000ull);
             return std::vector<std::string>{ws.payload};
         },
         "huge.bak"},
        {"a missing input",
         [](Workspace& ws) { return std::vector<std::string>{ws.payload, ws.dir / "nowhere.txt"}; },
         "nowhere.txt"},
        {"a folder inside a payload folder",
         [](Workspace& ws) {
             ws.Add("a.txt", {'a'});
             MakeFolder(JoinPath(ws.payload, "sub"));
             return std::vector<std::string>{ws.payload};
         },
         "sub"},
        {"a stub longer than the payload offset",
         [](Workspace& ws) {
             Bytes big = MinimalPeImage(PAYLOAD_OFFSET + 1);
             WriteFileBytes(ws.stub, big);
             return std::vector<std::string>{ws.payload};
         },
         "longer than the payload offset"},
        {"a stub that already carries a payload",
         [](Workspace& ws) {
             WriteFileBytes(ws.stub, MakeLauncherBytes(MinimalPeImage(0x1000), {{"old.dll", Pattern(9, 1)}}));
             return std::vector<std::string>{ws.payload};
         },
         "already carries a payload"},
        {"a stub that is not a PE image",
         [](Workspace& ws) {
             WriteFileBytes(ws.stub, Pattern(4096, 9));
             return std::vector<std::string>{ws.payload};
         },
         "not a PE image"},
        {"a stub that is not there",
         [](Workspace& ws) {
             RemoveTree(ws.stub);
             return std::vector<std::string>{ws.payload};
         },
         "cannot open the stub "},
        // Packed behind, the archive would break the signature; compressed, it
        // would not even be found before the certificate table.
        {"a signed stub",
         [](Workspace& ws) {
             WriteFileBytes(ws.stub, SignedStub());
             return std::vector<std::string>{ws.payload};
         },
         "stub carries a certificate table: brand before packing, sign after"},
        {"a signed stub, compressing",
         [](Workspace& ws) {
             WriteFileBytes(ws.stub, SignedStub());
             return std::vector<std::string>{"--compress", "lzma", ws.payload};
         },
         "stub carries a certificate table: brand before packing, sign after"},
#ifndef _WIN32
        {"a path that is not a regular file or folder",
         [](Workspace& ws) {
             std::string fifo = JoinPath(ws.payload, "pipe");
             mkfifo(fifo.c_str(), 0600);
             return std::vector<std::string>{ws.payload};
         },
         "pipe"},
#endif
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace ws;
        ASSERT_TRUE(WriteFileText(ws.out, "the previous launcher"));
        std::vector<std::string> args = {"build", "-o", ws.out, "--stub", ws.stub};
        for (const std::string& extra : c.setUp(ws))
            args.push_back(extra);
        Captured run = Pack(args);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find(c.culprit)) << run.err;
        EXPECT_EQ(1u, StdoutLines(run.err).size()) << run.err;
        EXPECT_EQ("the previous launcher", ReadFileText(ws.out));
        std::vector<std::string> left = ListFolder(ws.dir.path());
        EXPECT_EQ(0, std::count_if(left.begin(), left.end(),
                                   [](const std::string& n) { return n.find(".tmp-") != std::string::npos; }));
    }

    // --force takes a stub without signatures; a 127-byte encoded name is fine.
    Workspace ws;
    WriteFileBytes(ws.stub, Pattern(4096, 9));
    std::string longest;
    for (int i = 0; i < 61; ++i)
        longest += "\xE4\xB8\xAD";
    longest += "12345";  // 61 x 2 + 5 = 127 bytes in GBK, 188 in UTF-8
    ws.Add(longest, {'a'});
    Captured forced = Pack({"build", "--force", "-o", ws.out, "--stub", ws.stub, ws.payload});
    EXPECT_EQ(0, forced.status) << forced.err;
    EXPECT_EQ(127u, EntryNames(ws.out).at(0).size());
}

TEST(PackTool, ChineseNamesAreStoredInTheCodePageAndComeBackInUtf8)
{
    Workspace ws;
    ws.Add(CHINESE_NAME, Pattern(77, 10));
    ASSERT_EQ(0, Pack({"build", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    Bytes launcher;
    ASSERT_TRUE(ReadFileBytes(ws.out, &launcher));
    Bytes expected = RawHeader(CHINESE_GBK, 77);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), launcher.begin() + PAYLOAD_OFFSET));

    Captured listed = Pack({"list", ws.out});
    EXPECT_EQ(0, listed.status);
    EXPECT_TRUE(HasLine(listed.out, "0x00200000          77  " + CHINESE_NAME)) << listed.out;

    std::string target = ws.dir / "out";
    ASSERT_EQ(0, Pack({"extract", ws.out, target}).status);
    Bytes data;
    ASSERT_TRUE(ReadFileBytes(JoinPath(target, CHINESE_NAME), &data));
    EXPECT_EQ(Pattern(77, 10), data);

    // Another code page, chosen on both sides.
    Workspace latin;
    latin.Add("caf\xC3\xA9.txt", {'c'});
    ASSERT_EQ(0, Pack({"build", "--codepage", "1252", "-o", latin.out, "--stub", latin.stub, latin.payload}).status);
    EXPECT_EQ(std::vector<std::string>{"caf\xE9.txt"}, EntryNames(latin.out));
    EXPECT_TRUE(HasLine(Pack({"list", "--codepage", "1252", latin.out}).out,
                        "0x00200000           1  caf\xC3\xA9.txt"));
}

TEST(PackTool, DamagedArchivesAreReportedWithAFailingStatus)
{
    ScratchDir dir;
    std::string path = dir / "damaged.exe";
    Bytes image = MinimalPeImage(0x1000);
    struct Case {
        const char* what;
        Bytes file;
        const char* reason;
    };
    Bytes noNul = MakeLauncherBytes(image, {{"good.txt", {'g'}}});
    Bytes field = RawHeader(std::string(128, 'A'), 1);
    noNul.insert(noNul.end(), field.begin(), field.end());
    noNul.push_back('x');
    Bytes truncated = MakeLauncherBytes(image, {{"good.txt", {'g'}}, {"short.bin", Pattern(1000, 1)}});
    truncated.resize(truncated.size() - 900);
    std::vector<Case> cases = {
        {"a name without NUL", noNul, "no terminating NUL"},
        {"an unsafe name", MakeLauncherBytes(image, {{"good.txt", {'g'}}, {"..\\evil.dll", {'e'}}}),
         "not a bare file name"},
        {"truncated data", truncated, "shorter than its size field"},
        // On Windows the second would replace the first: check would vouch
        // for a setup program that is not the one that runs.
        {"a name that comes again", MakeLauncherBytes(image, {{"good.txt", {'g'}}, {"good.txt", Pattern(1280, 2)}}),
         "equals an earlier entry's"},
        {"a name equal ignoring case", MakeLauncherBytes(image, {{"good.txt", {'g'}}, {"GOOD.txt", {'e'}}}),
         "equals an earlier entry's"},
        {"a name with no form in the code page", MakeLauncherBytes(image, {{"good.txt", {'g'}}, {"abc\x81", {'e'}}}),
         "cannot be converted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteFileBytes(path, c.file));
        Captured listed = Pack({"list", path});
        EXPECT_EQ(1, listed.status);
        EXPECT_NE(std::string::npos, listed.out.find("good.txt"));
        EXPECT_NE(std::string::npos, listed.err.find(c.reason)) << listed.err;
        EXPECT_NE(std::string::npos, listed.err.find("0x00200085")) << listed.err;  // the second entry
        Captured checked = Pack({"check", path});
        EXPECT_EQ(1, checked.status);
        EXPECT_EQ("", checked.out);
        EXPECT_EQ(1u, StdoutLines(checked.err).size()) << checked.err;
        EXPECT_EQ(1, Pack({"extract", path, dir / "x"}).status);
    }
    EXPECT_EQ(2, Pack({"check", dir / "missing.exe"}).status);

    // A file cut before the payload offset has lost its archive.
    Bytes cut = MakeLauncherBytes(image, {});
    cut.resize(PAYLOAD_OFFSET - 1);
    ASSERT_TRUE(WriteFileBytes(path, cut));
    for (const char* command : {"list", "check"}) {
        Captured run = Pack({command, path});
        EXPECT_EQ(1, run.status) << command;
        EXPECT_NE(std::string::npos, run.err.find("before the payload offset")) << run.err;
    }
    EXPECT_EQ(1, Pack({"extract", path, dir / "y"}).status);
    ASSERT_TRUE(WriteFileBytes(path, MakeLauncherBytes(image, {})));  // ending exactly there: empty
    EXPECT_EQ(0, Pack({"check", path}).status);
}

TEST(PackTool, ListTellsTheRegionsAndTheCertificateTableApart)
{
    ScratchDir dir;
    std::string path = dir / "signed.exe";
    std::vector<TestEntry> entries = {{"a.dll", Pattern(300, 1)}};
    uint32_t archiveEnd = static_cast<uint32_t>(MakeLauncherBytes({}, entries).size());
    Bytes table = RawHeader("looks-like-an-entry.bin", 16);
    table.resize(200, 0x30);
    Bytes file = MakeLauncherBytes(MinimalPeImage(0x1800, archiveEnd + 8, 200), entries, Bytes(8, 0));
    file.insert(file.end(), table.begin(), table.end());
    ASSERT_TRUE(WriteFileBytes(path, file));

    Captured listed = Pack({"list", path});
    EXPECT_EQ(0, listed.status) << listed.err;
    EXPECT_EQ(std::string::npos, listed.out.find("looks-like-an-entry")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "1 entries, 300 bytes of data")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "image ends at 0x00001800")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "trailing bytes: 8")) << listed.out;
    char certLine[100];
    snprintf(certLine, sizeof certLine, "certificate table at 0x%08X, 200 bytes (not an entry)", archiveEnd + 8);
    EXPECT_TRUE(HasLine(listed.out, certLine)) << listed.out;
    EXPECT_EQ(0, Pack({"check", path}).status);

    // Trailing bytes without a signature, another filler, a stub that is no PE.
    Workspace ws;
    ws.Add("a.txt", {'a'});
    ASSERT_EQ(0, Pack({"build", "--no-integrity", "--filler", "0x00", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    Bytes built;
    ASSERT_TRUE(ReadFileBytes(ws.out, &built));
    built.insert(built.end(), 131, 0xEE);
    ASSERT_TRUE(WriteFileBytes(ws.out, built));
    listed = Pack({"list", ws.out});
    EXPECT_TRUE(HasLine(listed.out, "filler ends at 0x00200000 (every byte 0x00)")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "trailing bytes: 131")) << listed.out;
    ASSERT_TRUE(WriteFileBytes(ws.out, MakeLauncherBytes(Bytes{'M', 'Z'}, {})));
    EXPECT_TRUE(HasLine(Pack({"list", ws.out}).out, "image end unknown (not a PE image)"));
}

TEST(PackTool, TheIntegrityRecordIsVerifiedAndOptional)
{
    Workspace ws;
    ws.Add("ZelkSetupGb.exe", Pattern(3 << 20, 7));
    ws.Add("readme.txt", {'r'});
    ASSERT_EQ(0, Pack({"build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    Bytes sound;
    ASSERT_TRUE(ReadFileBytes(ws.out, &sound));
    std::string plain = ws.dir / "plain.exe";
    ASSERT_EQ(0, Pack({"build", "-q", "--no-integrity", "-o", plain, "--stub", ws.stub, ws.payload}).status);
    Bytes old;
    ASSERT_TRUE(ReadFileBytes(plain, &old));
    // Without the record: the same bytes, the record gone.
    ASSERT_EQ(sound.size(), old.size() + INTEGRITY_RECORD_SIZE);
    EXPECT_TRUE(std::equal(old.begin(), old.end(), sound.begin()));
    EXPECT_TRUE(HasLine(Pack({"list", plain}).out, "integrity record: none"));
    EXPECT_EQ(std::vector<std::string>{"integrity record: none"}, StdoutLines(Pack({"extract", plain, ws.dir / "plain"}).out));

    std::string path = ws.dir / "copy.exe";
    struct Case {
        const char* what;
        size_t at;          // byte to flip, 0 for none
        size_t zeros;       // zero bytes appended, as a signing tool aligns
        const char* status; // list --json
    };
    const size_t recordAt = old.size();
    const std::vector<Case> cases = {
        {"sound", 0, 0, "ok"},
        {"padded to 8 by a signing tool", 0, 7, "ok"},
        {"a data byte flipped", PAYLOAD_OFFSET + ENTRY_HEADER_SIZE + 1000000, 0, "mismatch"},
        // The damage shows before the end, where the digest would be concluded.
        {"a size field flipped", PAYLOAD_OFFSET + ENTRY_SIZE_FIELD, 0, "unchecked"},
        {"the entry count flipped", recordAt + 12, 0, "mismatch"},
        {"a digest byte flipped", recordAt + 39, 7, "mismatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = sound;
        if (c.at != 0)
            file[c.at] ^= 0x20;
        file.insert(file.end(), c.zeros, 0);
        ASSERT_TRUE(WriteFileBytes(path, file));
        bool ok = std::string(c.status) == "ok";
        Captured json = Pack({"list", "--json", path});
        EXPECT_NE(std::string::npos, json.out.find("\"algorithm\": \"XXH3-128\", \"status\": \"" +
                                                   std::string(c.status) + "\"")) << json.out;
        Captured checked = Pack({"check", path});
        EXPECT_EQ(ok ? 0 : 1, checked.status) << checked.err;
        if (std::string(c.status) == "mismatch") {
            EXPECT_NE(std::string::npos, checked.err.find("does not match its integrity record")) << checked.err;
        }
        std::string target = ws.dir / "out";
        Captured extracted = Pack({"extract", path, target});
        EXPECT_EQ(ok ? 0 : 1, extracted.status) << extracted.err;
        if (ok) {
            EXPECT_EQ(std::vector<std::string>{"integrity record: XXH3-128, ok"}, StdoutLines(extracted.out));
        }
        // Found at the end, the mismatch leaves what was written.
        if (c.at > recordAt) {
            EXPECT_EQ((std::vector<std::string>{"ZelkSetupGb.exe", "readme.txt"}), ListFolder(target));
        }
    }
}

TEST(PackTool, CompressedBuildListCheckExtract)
{
    Workspace ws;
    WriteFileBytes(ws.stub, VersionedPeImage("Quorvane", "stored lzma1"));
    std::string text;
    while (text.size() < 200000)
        text += "every line of the licence, said again and again\n";
    text.resize(200000);
    std::map<std::string, Bytes> files = {{"licence.txt", Bytes(text.begin(), text.end())},
                                         {"empty.log", {}},
                                         {"ZelkSetupGb.exe", MinimalPeImage(40000)}};
    for (const auto& f : files)
        ws.Add(f.first, f.second);

    Captured built = Pack({"build", "-o", ws.out, "--stub", ws.stub, "--compress", "lzma", ws.payload});
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ(0u, built.out.find("compressed 240000 bytes of data into ")) << built.out;
    LauncherReport report;
    ASSERT_EQ(PayloadError::Ok, DescribeLauncher(ws.out, 936, &report));
    ASSERT_EQ(3u, report.entries.size());

    Captured listed = Pack({"list", ws.out});
    ASSERT_EQ(0, listed.status) << listed.err;
    EXPECT_TRUE(HasLine(listed.out, "offset            size      packed  ratio  method    name")) << listed.out;
    for (const ListedEntry& entry : report.entries) {
        char line[200];
        snprintf(line, sizeof line, "0x%08llX  %10u  %10u  %.3f  %-8s  %s", static_cast<unsigned long long>(entry.offset),
                 entry.size, entry.packedSize, entry.size == 0 ? 1.0 : double(entry.packedSize) / entry.size,
                 entry.storedName == "ZelkSetupGb.exe" ? "lzma+x86" : "lzma", entry.storedName.c_str());
        EXPECT_TRUE(HasLine(listed.out, line)) << line << "\n" << listed.out;
    }
    EXPECT_LT(report.entries[1].packedSize, 2000u) << "repeated text compresses";
    EXPECT_TRUE(HasLine(listed.out, "compressed archive (LZMA, solid, dictionary 256 KiB) starts at 0x00001000, "
                                    "right after the image")) << listed.out;
    EXPECT_NE(std::string::npos, listed.out.find(": XXH3-128, ok")) << listed.out;

    Captured json = Pack({"list", "--json", ws.out});
    ASSERT_EQ(0, json.status);
    for (const std::string& wanted : {std::string("\"compression\": {\"method\": \"lzma\", \"solid\": true, "),
                                      std::string("\"archive_start\": 4096,"),
                                      std::string("\"name\": \"empty.log\", \"stored_name\": \"656d7074792e6c6f67\", "
                                                  "\"method\": \"lzma\", \"packed_size\": 0, \"ratio\": 1.000}")})
        EXPECT_NE(std::string::npos, json.out.find(wanted)) << wanted << "\n" << json.out;
    EXPECT_NE(std::string::npos, Pack({"list", "--json", ws.stub}).out.find("\"compression\": null,"));

    Captured checked = Pack({"check", ws.out});
    EXPECT_EQ(0, checked.status);
    EXPECT_EQ("", checked.out + checked.err);
    std::string target = ws.dir / "extracted";
    Captured extracted = Pack({"extract", "-v", ws.out, target});
    ASSERT_EQ(0, extracted.status) << extracted.err;
    EXPECT_TRUE(HasLine(extracted.out, "integrity record: XXH3-128, ok")) << extracted.out;
    EXPECT_NE(std::string::npos, extracted.out.find("decompressed 3 entries: 240000 bytes of data from ")) << extracted.out;
    EXPECT_NE(std::string::npos, extracted.out.find("  lzma+x86  ZelkSetupGb.exe")) << extracted.out;
    for (const auto& f : files) {
        Bytes data;
        ASSERT_TRUE(ReadFileBytes(JoinPath(target, f.first), &data)) << f.first;
        EXPECT_TRUE(f.second == data) << f.first;
    }

    // Damage in the compressed data: check and extract say so, and extract
    // leaves no file of the damaged entry. The older stub is refused.
    Bytes launcher;
    ASSERT_TRUE(ReadFileBytes(ws.out, &launcher));
    launcher[report.entries[1].offset + COMPRESSED_ENTRY_SIZE + report.entries[1].packedSize / 2] ^= 0x10;
    std::string damaged = ws.dir / "damaged.exe";
    ASSERT_TRUE(WriteFileBytes(damaged, launcher));
    Captured refused = Pack({"check", damaged});
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("damaged: ")) << refused.err;
    EXPECT_EQ(1, Pack({"extract", damaged, ws.dir / "partial"}).status);
    EXPECT_FALSE(PathExists(JoinPath(ws.dir / "partial", "licence.txt")));
    // Cut short, it lost its end record: said so, and never read as a stored archive.
    launcher.resize(report.entries[2].offset + 10);
    ASSERT_TRUE(WriteFileBytes(damaged, launcher));
    for (const char* command : {"list", "check"}) {
        Captured cut = Pack({command, damaged});
        EXPECT_EQ(1, cut.status) << command;
        EXPECT_NE(std::string::npos, cut.err.find("the compressed archive is cut short")) << cut.err;
    }
    EXPECT_EQ(1, Pack({"extract", damaged, ws.dir / "cut"}).status);
    EXPECT_TRUE(ListFolder(ws.dir / "cut").empty());
    std::string older = ws.dir / "older.exe";
    WriteFileBytes(older, VersionedPeImage("Quorvane"));
    Captured old = Pack({"build", "-o", ws.dir / "x.exe", "--stub", older, "--compress", "lzma", ws.payload});
    EXPECT_EQ(1, old.status);
    EXPECT_NE(std::string::npos, old.err.find("the stub cannot read compressed archives")) << old.err;
    EXPECT_EQ(2, Pack({"build", "-o", ws.dir / "x.exe", "--stub", ws.stub, "--compress", "zip", ws.payload}).status);
    EXPECT_EQ(2, Pack({"build", "-o", ws.dir / "x.exe", "--stub", ws.stub, "--compress", "lzma", "--no-integrity",
                       ws.payload}).status);
    EXPECT_FALSE(PathExists(ws.dir / "x.exe"));
}

TEST(PackTool, UsageAndConventions)
{
    for (const char* option : {"--help", "-h"}) {
        Captured help = Pack({option});
        EXPECT_EQ(0, help.status);
        EXPECT_NE(std::string::npos, help.out.find("exit status")) << option;
        EXPECT_NE(std::string::npos, help.out.find("guide -o OUT.png")) << option;
    }
    // One command's usage, its options only, and examples to copy.
    for (const char* command : {"build", "brand", "list", "check", "extract", "guide"}) {
        Captured help = Pack({command, "--help"});
        EXPECT_EQ(0, help.status);
        EXPECT_EQ(0u, help.out.find(std::string("usage: quorvane-pack ") + command)) << help.out;
        size_t examples = help.out.find("\nexamples:");
        ASSERT_NE(std::string::npos, examples) << help.out;
        std::vector<std::string> lines = StdoutLines(help.out.substr(examples));
        EXPECT_GE(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.find(std::string("  quorvane-pack ") + command + " ") == 0;
                                }),
                  2)
            << help.out;
        EXPECT_EQ(help.out.find("--json") != std::string::npos, std::string(command) == "list") << command;
    }
    EXPECT_NE(std::string::npos, Pack({"build", "-h"}).out.find("--exclude GLOB"));
    // No arguments: the short usage, as for any usage error.
    Captured bare = Pack({});
    EXPECT_EQ(2, bare.status);
    EXPECT_EQ("", bare.out);
    EXPECT_EQ(0u, bare.err.find("usage: quorvane-pack build")) << bare.err;
    EXPECT_NE(std::string::npos, bare.err.find("COMMAND --help")) << bare.err;
    Captured version = Pack({"--version"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.out.find("quorvane-pack "));
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"frobnicate"},
                                               {"frobnicate", "--help"},
                                               {"build", "--stub", "x", "p"},
                                               {"build", "-o", "x", "--stub"},
                                               {"build", "-o", "x", "--stub", "s", "--filler", "256", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--codepage", "x", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--filler", "0377", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--filler", "0x", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--strict", "p"},
                                               {"list"},
                                               {"list", "--force", "f"},
                                               {"check", "--json", "f"},
                                               {"extract", "-q", "f", "d"},
                                               {"extract", "only-one"},
                                               {"list", "--bogus", "f"},
                                               {"build", "-o", "x", "--stub", "s", "--version", "1..2", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--version", "1.2.3.4.5", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--version", "2.4.", "p"},
                                               {"build", "-o", "x", "--stub", "s", "--version", "65536", "p"}}) {
        Captured run = Pack(bad);
        EXPECT_EQ(2, run.status) << (bad.empty() ? "" : bad[0]);
        EXPECT_NE(std::string::npos, run.err.find("quorvane-pack: ")) << run.err;
    }
    // --version takes one to four numbers, those not given 0 (a project's own version).
    Workspace ws;
    std::string brandable = ws.dir / "brandable.exe";
    ASSERT_TRUE(WriteFileBytes(brandable, LauncherLikeImage(RES_PICTURES)));
    const std::pair<const char*, const char*> versions[] = {{"2", "2.0.0.0"}, {"2.4", "2.4.0.0"}, {"2.4.1", "2.4.1.0"}};
    for (const auto& version : versions) {
        Captured branded = Pack({"brand", "--stub", brandable, "-o", ws.out, "--version", version.first});
        ASSERT_EQ(0, branded.status) << branded.err;
        BrandingReport report;
        ASSERT_TRUE(ReadBranding(ws.out, &report));
        EXPECT_EQ(version.second, report.fileVersion);
        EXPECT_EQ(version.second, report.productVersion);
    }
    RemoveTree(ws.out);

    ws.Add("a.txt", {'a'});
    EXPECT_EQ(2, Pack({"build", "--codepage", "12345", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    // A leading zero is not octal: 010 is ten.
    ASSERT_EQ(0, Pack({"build", "--filler", "010", "--codepage", "0x3A8", "-o", ws.out, "--stub", ws.stub, ws.payload})
                     .status);
    Bytes built;
    ASSERT_TRUE(ReadFileBytes(ws.out, &built));
    EXPECT_EQ(10, built.at(PAYLOAD_OFFSET - 1));
    RemoveTree(ws.out);
    EXPECT_EQ(2, Pack({"build", "-o", ws.dir / "no/such/folder/out.exe", "--stub", ws.stub, ws.payload}).status);
    EXPECT_FALSE(PathExists(ws.out));
}

#ifndef _WIN32
TEST(PackTool, AnInterruptedBuildLeavesNothingBehind)
{
    Workspace ws;
    // A large file to keep the build busy; its zeros cost no disk when unwritten.
    ASSERT_TRUE(MakeSizedFile(JoinPath(ws.payload, "large.bak"), 3000ull << 20));
    ASSERT_TRUE(WriteFileText(ws.out, "the previous launcher"));
    for (int signal : {SIGINT, SIGTERM}) {
        std::vector<std::string> strings = {TOOL, "build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload};
        std::vector<char*> argv;
        for (std::string& s : strings)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
        pid_t pid;
        ASSERT_EQ(0, posix_spawn(&pid, TOOL.c_str(), nullptr, nullptr, argv.data(), environ));
        // Wait for the temporary file, then interrupt.
        bool sawTemp = false;
        for (int i = 0; i < 2000 && !sawTemp; ++i) {
            for (const std::string& name : ListFolder(ws.dir.path()))
                sawTemp |= name.find(".tmp-") != std::string::npos;
            if (!sawTemp)
                usleep(1000);
        }
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(sawTemp);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        EXPECT_EQ((std::vector<std::string>{"launcher.exe", "payload", "stub.exe"}), ListFolder(ws.dir.path()));
        EXPECT_EQ("the previous launcher", ReadFileText(ws.out));
    }
}
#endif

TEST(PackTool, NeverReplacesTheStubOrAnInput)
{
    struct Case {
        const char* what;
        std::function<std::vector<std::string>(Workspace&)> args;  // after "build"
        std::string protectedFile;  // must keep its content
    };
    std::vector<Case> cases = {
        {"OUT is a payload file",
         [](Workspace& ws) { return std::vector<std::string>{"-o", JoinPath(ws.payload, "a.txt"), "--stub", ws.stub, ws.payload}; },
         "payload/a.txt"},
        {"OUT is new, inside the payload folder",
         [](Workspace& ws) { return std::vector<std::string>{"-o", JoinPath(ws.payload, "setup.exe"), "--stub", ws.stub, ws.payload}; },
         "payload/a.txt"},
        {"OUT is a file given as an input, spelt another way",
         [](Workspace& ws) {
             std::string loose = ws.dir / "loose.txt";
             WriteFileText(loose, "loose");
             return std::vector<std::string>{"-o", JoinPath(ws.payload, "../loose.txt"), "--stub", ws.stub, loose};
         },
         "loose.txt"},
        {"OUT is the stub",
         [](Workspace& ws) { return std::vector<std::string>{"-o", ws.stub, "--stub", ws.stub, ws.payload}; },
         "stub.exe"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace ws;
        ws.Add("a.txt", {'a'});
        std::vector<std::string> args = {"build"};
        for (const std::string& arg : c.args(ws))
            args.push_back(arg);
        Bytes before;
        ASSERT_TRUE(ReadFileBytes(ws.dir / c.protectedFile, &before));
        Captured run = Pack(args);
        EXPECT_EQ(1, run.status) << run.err;
        EXPECT_EQ(1u, StdoutLines(run.err).size()) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("the output")) << run.err;
        Bytes after;
        ASSERT_TRUE(ReadFileBytes(ws.dir / c.protectedFile, &after));
        EXPECT_TRUE(before == after);
        EXPECT_FALSE(PathExists(JoinPath(ws.payload, "setup.exe")));
    }
#ifndef _WIN32
    // Through a second link to the same file, whatever its name.
    Workspace ws;
    ws.Add("a.txt", {'a'});
    ASSERT_EQ(0, link(JoinPath(ws.payload, "a.txt").c_str(), ws.out.c_str()));
    EXPECT_EQ(1, Pack({"build", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    EXPECT_EQ("a", ReadFileText(JoinPath(ws.payload, "a.txt")));
#endif
}

TEST(PackTool, ErrorsSayWhyAndComeBeforeAnyOutput)
{
    Workspace ws;
    ws.Add("a.txt", {'a'});
    struct Case {
        const char* what;
        std::string out;
        std::string reason;  // the system's words, or ours where the system has none
    };
    std::vector<Case> cases = {
        {"a missing folder", ws.dir / "no/such/out.exe", "No such file or directory"},
        {"a folder as OUT", ws.payload + "/..", "a folder"},
        {"a name too long", ws.dir / std::string(300, 'n'), "too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Captured run = Pack({"build", "-o", c.out, "--stub", ws.stub, ws.payload});
        EXPECT_EQ(2, run.status);
        EXPECT_EQ(1u, StdoutLines(run.err).size()) << run.err;
#ifndef _WIN32  // Windows words its reasons its own way
        EXPECT_NE(std::string::npos, run.err.find(c.reason)) << run.err;
#endif
    }

    // list and check of a file that is not there say so, and nothing else.
    for (const char* command : {"list", "check"}) {
        Captured run = Pack({command, ws.dir / "missing.exe"});
        EXPECT_EQ(2, run.status);
        EXPECT_EQ("", run.out);
        EXPECT_EQ(1u, StdoutLines(run.err).size()) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("missing.exe")) << run.err;
    }

#ifndef _WIN32
    // An unreadable input is found before the first byte is written.
    std::string secret = JoinPath(ws.payload, "secret.txt");
    ASSERT_TRUE(WriteFileText(secret, "s"));
    chmod(secret.c_str(), 0);
    FILE* probe = fopen(secret.c_str(), "rb");
    if (probe != nullptr) {
        fclose(probe);
        GTEST_SKIP() << "running with the power to read any file";
    }
    PackRequest request;
    request.output = ws.out;
    request.stub = ws.stub;
    request.inputs = {ws.payload};
    bool wrote = false;
    request.context = &wrote;
    request.progress = [](uint64_t, uint64_t, void* context) { *static_cast<bool*>(context) = true; };
    PackResult result;
    EXPECT_EQ(PackError::ReadFailed, BuildLauncher(request, &result));
    EXPECT_FALSE(wrote);
    EXPECT_EQ("Permission denied", result.reason);
#endif
}

TEST(PackTool, TellsWhichEditionsCanStartAndWhetherTheStubIsTheLauncher)
{
    Workspace ws;
    ws.Add("readme.txt", {'r'});
    ws.Add("ZelkSetupEnglish.exe", {'e'});  // its button is hidden: no use alone
    Captured built = Pack({"build", "-o", ws.out, "--stub", ws.stub, ws.payload});
    EXPECT_EQ(0, built.status);
    EXPECT_TRUE(HasLine(built.out, "editions that can start: none")) << built.out;
    EXPECT_NE(std::string::npos, built.err.find("warning: no edition can start")) << built.err;
    Captured checked = Pack({"check", ws.out});
    EXPECT_EQ(0, checked.status);
    EXPECT_NE(std::string::npos, checked.err.find("no edition can start")) << checked.err;
    EXPECT_EQ(1, Pack({"check", "--strict", ws.out}).status);

    // Any case will do, as on Windows.
    ws.Add("zelksetupGB.EXE", {'g'});
    built = Pack({"build", "-o", ws.out, "--stub", ws.stub, ws.payload});
    EXPECT_EQ("", built.err);
    EXPECT_TRUE(HasLine(built.out, "editions that can start: Simplified Chinese (ZelkSetupGb.exe)")) << built.out;
    Captured listed = Pack({"list", ws.out});
    EXPECT_TRUE(HasLine(listed.out, "stub: the launcher")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "edition Traditional Chinese  ZelkSetupbig5.exe     missing")) << listed.out;
    EXPECT_TRUE(HasLine(listed.out, "edition English              ZelkSetupEnglish.exe  packed, but its button is hidden"))
        << listed.out;
    checked = Pack({"check", "--strict", ws.out});
    EXPECT_EQ(0, checked.status) << checked.err;
    EXPECT_EQ("", checked.out + checked.err);

    // Any other PE program is packed, with a warning; check --strict fails it.
    for (const Bytes& stub : {MinimalPeImage(0x1000), VersionedPeImage("Quorvane2")}) {
        ASSERT_TRUE(WriteFileBytes(ws.stub, stub));
        built = Pack({"build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload});
        EXPECT_EQ(0, built.status);
        EXPECT_NE(std::string::npos, built.err.find("not recognised as the launcher")) << built.err;
        EXPECT_EQ(1, Pack({"check", "--strict", ws.out}).status);
        EXPECT_TRUE(HasLine(Pack({"list", ws.out}).out, "stub: not recognised as the launcher"));
    }
}

TEST(PackTool, NamesExcludesAndStrayFiles)
{
    // A character whose second byte reads as '\' or '|' elsewhere: named, with why.
    struct Case {
        std::string name, codePage, detail;
    } cases[] = {
        {"\xE5\x8A\x9F\xE8\x83\xBD\xE8\xAA\xAA\xE6\x98\x8E.txt", "950",  // 功能說明.txt
         "\xE5\x8A\x9F is 0xA5 0x5C in code page 950"},
        {"\xE6\x9D\xB1\xE6\x96\xB9.txt", "936", "\xE6\x9D\xB1 is 0x96 0x7C in code page 936"},  // 東方.txt
    };
    for (const Case& c : cases) {
        Workspace ws;
        ws.Add(c.name, {'a'});
        Captured run = Pack({"build", "--codepage", c.codePage, "-o", ws.out, "--stub", ws.stub, ws.payload});
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find(c.detail)) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.name)) << run.err;
    }

    Workspace ws;
    ws.Add("ZelkSetupGb.exe", {'g'});
    ws.Add("desktop.ini", {'d'});
    ws.Add("notes.txt~", {'n'});
    ws.Add(".setup.ini.swp", {'s'});
    ws.Add("Thumbs.db", {'t'});
    ASSERT_TRUE(MakeFolder(JoinPath(ws.payload, ".git")));
    Captured run = Pack({"build", "-q", "--exclude", ".GIT", "--exclude", "*.sw?", "--exclude", "thumbs.db",
                         "-o", ws.out, "--stub", ws.stub, ws.payload});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"desktop.ini", "notes.txt~", "ZelkSetupGb.exe"}), EntryNames(ws.out));
    EXPECT_EQ(2u, StdoutLines(run.err).size()) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("desktop.ini: packed")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("notes.txt~: packed")) << run.err;
}

TEST(PackTool, ListsAsJson)
{
    Workspace ws;
    ws.Add(CHINESE_NAME, Pattern(77, 10));
    ws.Add("empty.log", {});
    ASSERT_EQ(0, Pack({"build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    Captured listed = Pack({"list", "--json", ws.out});
    EXPECT_EQ(0, listed.status);
    for (const std::string& wanted : std::vector<std::string>{
             "\"image_end\": 4096,", "\"filler_end\": 2097152,", "\"filler_byte\": 205,",
          "    {\"offset\": 2097152, \"size\": 0, \"name\": \"empty.log\", \"stored_name\": \"656d7074792e6c6f67\"},",
          "    {\"offset\": 2097284, \"size\": 77, \"name\": \"" + CHINESE_NAME +
              "\", \"stored_name\": \"d6d0cec4cbb5c3f72e747874\"}",
          "\"archive_end\": 2097493,", "\"trailing_bytes\": 0,", "\"certificate_table\": null,",
          "\"launcher_stub\": true,",
          "    {\"language\": \"Simplified Chinese\", \"program\": \"ZelkSetupGb.exe\", \"packed\": false, "
          "\"offered\": true},",
          "\"can_start\": false,", "\"damage\": null"})
        EXPECT_NE(std::string::npos, listed.out.find(wanted)) << wanted << "\n" << listed.out;
    EXPECT_EQ('{', listed.out.front());
    // One closing brace, then the end of the line (CR LF from the Windows tool).
    EXPECT_EQ('}', listed.out[listed.out.find_last_not_of("\r\n")]);
    EXPECT_EQ('\n', listed.out.back());
}

TEST(PackTool, FindsTheStubInstalledWithIt)
{
    // The installed layout, as under a prefix and in both release archives.
    ScratchDir dir;
    std::string bin = dir / "bin", share = dir / "share";
    ASSERT_TRUE(MakeFolder(bin) && MakeFolder(share) && MakeFolder(JoinPath(share, "quorvane")));
    std::string tool = JoinPath(bin, HostBaseName(TOOL));
    ASSERT_TRUE(CopyTool(tool));
    std::string installed = JoinPath(JoinPath(share, "quorvane"), "Quorvane.exe");
    const Bytes stub = VersionedPeImage("Quorvane");
    ASSERT_TRUE(WriteFileBytes(installed, stub));
    Workspace ws;
    ws.Add("ZelkSetupGb.exe", {'g'});
    Captured built = RunCaptured(tool, {"build", "-v", "-o", ws.out, ws.payload});
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ(0u, built.out.find("stub: ")) << built.out;
    EXPECT_NE(std::string::npos, built.out.find("Quorvane.exe (installed with this packer)")) << built.out;
    Bytes launcher;
    ASSERT_TRUE(ReadFileBytes(ws.out, &launcher));
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), launcher.begin()));
    // --stub still decides.
    ASSERT_TRUE(WriteFileBytes(ws.stub, VersionedPeImage("Quorvane", "stored lzma1")));
    built = RunCaptured(tool, {"build", "-v", "-o", ws.out, "--stub", ws.stub, ws.payload});
    ASSERT_EQ(0, built.status) << built.err;
    EXPECT_EQ("stub: " + ws.stub, StdoutLines(built.out).at(0));

    // A build tree: the note beside the packer names the stub the tree built.
    RemoveTree(installed);
    ASSERT_TRUE(MakeFolder(dir / "app"));
    ASSERT_TRUE(WriteFileBytes(JoinPath(dir / "app", "Quorvane.exe"), VersionedPeImage("Quorvane", "stored lzma1")));
    ASSERT_TRUE(WriteFileText(JoinPath(bin, "quorvane-pack.stub.txt"), "../app/Quorvane.exe\n"));
    built = RunCaptured(tool, {"build", "-v", "--compress", "lzma", "-o", ws.out, ws.payload});
    ASSERT_EQ(0, built.status) << built.err;
    std::string fromTree = JoinPath(dir / "app", "Quorvane.exe");
    EXPECT_EQ("stub: " + fromTree + " (installed with this packer)", StdoutLines(built.out).at(0));

    // Neither: where it looked, and what to do.
    RemoveTree(fromTree);
    RemoveTree(ws.out);
    const std::vector<std::string> commands[] = {{"build", "-o", ws.out, ws.payload}, {"brand", "-o", ws.out}};
    for (const std::vector<std::string>& args : commands) {
        const std::string& command = args[0];
        built = RunCaptured(tool, args);
        EXPECT_EQ(2, built.status);
        EXPECT_NE(std::string::npos,
                  built.err.find(command + " needs --stub STUB: no stub is installed with this packer"))
            << built.err;
        EXPECT_NE(std::string::npos, built.err.find(installed)) << built.err;
        EXPECT_NE(std::string::npos, built.err.find(fromTree)) << built.err;
        EXPECT_FALSE(PathExists(ws.out));
    }
}

TEST(PackTool, MessagesNameTheRealCause)
{
    Workspace ws;
    // A bare stub, a program that is not the launcher, a file that is no
    // program, a launcher cut short: none holds a payload, each for its reason.
    Bytes cut = MakeLauncherBytes(VersionedPeImage("Quorvane"), {});
    cut.resize(0x100000);
    const struct {
        const char* what;
        Bytes file;
        int status;
        const char* says;
    } files[] = {
        {"the bare stub", VersionedPeImage("Quorvane"), 1, "holds no payload: it looks like the bare launcher stub"},
        {"another program", MinimalPeImage(0x1000), 1, "not a launcher file: a program that holds no payload"},
        {"no program at all", Pattern(5000, 3), 1, "not a launcher file: not a PE image"},
        {"a launcher cut short", cut, 1, "damaged: the launcher file ends before the payload offset (at 0x00100000"},
    };
    std::string file = ws.dir / "file.exe";
    for (const auto& f : files) {
        SCOPED_TRACE(f.what);
        ASSERT_TRUE(WriteFileBytes(file, f.file));
        for (const char* command : {"list", "check"}) {
            Captured run = Pack({command, file});
            EXPECT_EQ(f.status, run.status);
            EXPECT_NE(std::string::npos, run.err.find("quorvane-pack: " + file + ": " + f.says)) << run.err;
        }
        Captured extracted = Pack({"extract", file, ws.dir / "staged"});
        EXPECT_EQ(1, extracted.status);
        EXPECT_NE(std::string::npos, extracted.err.find(f.says)) << extracted.err;
    }

    // The English edition is information, not a fault; currentpath.txt is
    // overwritten by the Simplified Chinese edition.
    ws.Add("ZelkSetupGb.exe", {'g'});
    ws.Add("CurrentPath.TXT", {'c'});
    Captured built = Pack({"build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload});
    EXPECT_EQ(0, built.status);
    EXPECT_NE(std::string::npos,
              built.err.find("CurrentPath.TXT: packed as currentpath.txt, which the Simplified Chinese edition "
                             "replaces with the launcher's folder"))
        << built.err;
    EXPECT_EQ(1u, StdoutLines(built.err).size()) << built.err;
    Captured listed = Pack({"list", ws.out});
    EXPECT_TRUE(HasLine(listed.out, "edition English              ZelkSetupEnglish.exe  "
                                    "not packed, and not needed: its button is hidden"))
        << listed.out;
}

TEST(PackTool, DrawsTheSplashLayoutForADesigner)
{
    ScratchDir dir;
    std::string guide = dir / "guide.png", over = dir / "over.png";
    Captured run = Pack({"guide", "-o", guide});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("", run.out + run.err);
    std::string splash = dir / "splash.png";
    Bytes splashFile;
    ASSERT_TRUE(ReadFileBytes(std::string(BRAND_FIXTURES) + "/splash.png", &splashFile));
    ASSERT_TRUE(WriteFileBytes(splash, splashFile));
    ASSERT_EQ(0, Pack({"guide", "-o", over, "--splash", splash}).status);
    EXPECT_EQ(2, Pack({"guide", splash}).status);  // no -o
    EXPECT_EQ(1, Pack({"guide", "-o", splash, "--splash", splash}).status);
#ifndef _WIN32
    struct stat guideStat, launcherStat;
    Workspace ws;
    ws.Add("readme.txt", {'r'});
    ASSERT_EQ(0, Pack({"build", "-q", "-o", ws.out, "--stub", ws.stub, ws.payload}).status);
    ASSERT_EQ(0, stat(guide.c_str(), &guideStat));
    ASSERT_EQ(0, stat(ws.out.c_str(), &launcherStat));
    EXPECT_EQ(0u, guideStat.st_mode & 0111u) << "a picture, not a program";
    EXPECT_NE(0u, launcherStat.st_mode & 0100u) << "a launcher is a program";
#endif

    // The guide is a 600 x 360 picture, as a splash must be; read back as
    // the packer stores pictures: 24-bit, bottom-up.
    Bytes png;
    ASSERT_TRUE(ReadFileBytes(guide, &png));
    ByteBuffer dib, splashDib, overDib;
    unsigned found[2] = {};
    std::string detail;
    ASSERT_EQ(PackError::Ok, DecodePicture(ByteView(png), 600, 360, &dib, found, &detail)) << detail;
    ASSERT_TRUE(ReadFileBytes(over, &png));
    ASSERT_EQ(PackError::Ok, DecodePicture(ByteView(png), 600, 360, &overDib, found, &detail)) << detail;
    ASSERT_EQ(PackError::Ok, DecodePicture(ByteView(splashFile), 600, 360, &splashDib, found, &detail)) << detail;
    auto pixel = [](const ByteBuffer& bitmap, int x, int y) {
        size_t at = 40 + static_cast<size_t>(359 - y) * 1800 + static_cast<size_t>(x) * 3;
        return std::vector<int>{bitmap[at + 2], bitmap[at + 1], bitmap[at]};  // RGB
    };
    // Each button's picture area is tinted with its colour, from its first
    // column to its 118th; the control's last column is its frame.
    for (size_t i = 0; i < 3; ++i) {
        const SplashRegion& button = SPLASH_REGIONS[i];
        SCOPED_TRACE(button.label);
        for (int x : {button.x + 1, button.x + 60, button.x + 117}) {
            std::vector<int> tinted = pixel(dib, x, button.y + button.height / 2);
            int strongest = static_cast<int>(std::max_element(button.rgb, button.rgb + 3) - button.rgb);
            EXPECT_EQ(*std::max_element(tinted.begin(), tinted.end()), tinted[strongest]) << x;
            EXPECT_NE(tinted, pixel(dib, button.x - 3, 205)) << x;
        }
        std::vector<int> frame(button.rgb, button.rgb + 3);
        EXPECT_EQ(frame, pixel(dib, button.x + button.width - 1, button.y + button.height / 2));
        EXPECT_EQ(frame, pixel(dib, button.x + 30, button.y));
        EXPECT_NE(frame, pixel(dib, button.x + 30, button.y - 1));
    }
    // Over a splash, the splash shows where nothing is drawn.
    EXPECT_EQ(pixel(splashDib, 300, 200), pixel(overDib, 300, 200));
    EXPECT_EQ(pixel(splashDib, 5, 5), pixel(overDib, 5, 5));
    EXPECT_NE(pixel(splashDib, 500, 57), pixel(overDib, 500, 57));
}
