// Staging from a named launcher file: what lands in the folder, and where and
// how staging stops on an archive or a disk it cannot trust.
#include <gtest/gtest.h>

#include <cstring>

#include "digest.h"
#include "platform.h"
#include "stage.h"
#include "test_files.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

using namespace testing_support;

namespace {

struct Staged {
    bool complete;
    StageResult result;
};

Staged StageFrom(const ScratchDir& dir, const Bytes& launcher, const std::string& stage)
{
    std::string path = dir / "launcher.exe";
    EXPECT_TRUE(WriteFileBytes(path, launcher));
    Staged staged;
    staged.complete = StagePayloadFile(path.c_str(), stage.c_str(), StageOptions(), &staged.result);
    return staged;
}

Bytes FileAt(const std::string& path)
{
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(path, &bytes)) << path;
    return bytes;
}

// Appends the integrity record the packer would write after the archive.
Bytes WithRecord(Bytes launcher, uint32_t entries)
{
    IntegrityRecord record;
    record.version = INTEGRITY_VERSION;
    record.algorithm = INTEGRITY_XXH3_128;
    record.entries = entries;
    record.length = launcher.size() - PAYLOAD_OFFSET;
    ArchiveDigest digest;
    digest.Update(launcher.data() + PAYLOAD_OFFSET, launcher.size() - PAYLOAD_OFFSET);
    digest.Final(record.digest);
    unsigned char raw[INTEGRITY_RECORD_SIZE];
    EncodeIntegrityRecord(record, raw);
    launcher.insert(launcher.end(), raw, raw + sizeof raw);
    return launcher;
}

}  // namespace

TEST(Stage, WritesEveryEntryByteForByteAndReplacesOnRerun)
{
    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    std::vector<TestEntry> entries = {
        {"a.dll", Pattern(3 * STAGE_COPY_BUFFER_SIZE + 17, 1)},  // spans several copy buffers
        {"empty.log", {}},
        {"ZelkSetupGb.exe", Pattern(4096, 2)},
        {std::string(127 - 4, 'n') + ".txt", Pattern(10, 3)},
    };
    Staged first = StageFrom(dir, MakeLauncherBytes({}, entries, Bytes(100, 0)), stage);
    ASSERT_TRUE(first.complete) << PayloadErrorText(first.result.error);
    EXPECT_EQ(4u, first.result.entries);
    for (const TestEntry& entry : entries)
        EXPECT_EQ(entry.data, FileAt(JoinPath(stage, entry.name))) << entry.name;

    // A second run replaces files of the same names and leaves others alone.
    ASSERT_TRUE(WriteFileText(JoinPath(stage, "other.txt"), "kept"));
    std::vector<TestEntry> shorter = {{"a.dll", Pattern(5, 9)}};
    ASSERT_TRUE(StageFrom(dir, MakeLauncherBytes({}, shorter), stage).complete);
    EXPECT_EQ(Pattern(5, 9), FileAt(JoinPath(stage, "a.dll")));
    EXPECT_EQ("kept", ReadFileText(JoinPath(stage, "other.txt")));
}

TEST(Stage, EmptyArchiveAndMissingLauncherStillCreateTheFolder)
{
    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    EXPECT_TRUE(StageFrom(dir, MakeLauncherBytes({}, {}), stage).complete);
    EXPECT_TRUE(IsFolder(stage));
    EXPECT_TRUE(ListFolder(stage).empty());

    std::string other = dir / "second";
    StageResult result;
    EXPECT_FALSE(StagePayloadFile((dir / "no-such.exe").c_str(), other.c_str(), StageOptions(), &result));
    EXPECT_EQ(PayloadError::CannotOpenLauncher, result.error);
    EXPECT_TRUE(IsFolder(other));
}

// A record made where the digest runs its fastest code verifies with every
// code, down to the scalar one a processor without vector units runs, and
// damage shows with each.
TEST(Stage, VerifiesTheRecordWithEveryDigestCode)
{
    ScratchDir dir;
    std::vector<TestEntry> entries = {
        {"a.dll", Pattern(2 * STAGE_COPY_BUFFER_SIZE + 4097, 4)},
        {"empty.log", {}},
        {"b.txt", Pattern(300, 5)},
    };
    Bytes sound = WithRecord(MakeLauncherBytes({}, entries), 3);
    Bytes damaged = sound;
    damaged[PAYLOAD_OFFSET + ENTRY_HEADER_SIZE + STAGE_COPY_BUFFER_SIZE + 5] ^= 0x01;
    for (size_t code = 0; code < DigestCodeCount(); ++code) {
        if (!DigestCodeRuns(code))
            continue;
        SCOPED_TRACE(DigestCodeName(code));
        ForceDigestCode(static_cast<int>(code));
        Staged good = StageFrom(dir, sound, dir / "good");
        Staged bad = StageFrom(dir, damaged, dir / "bad");
        ForceDigestCode(-1);
        EXPECT_TRUE(good.complete) << PayloadErrorText(good.result.error);
        EXPECT_EQ(IntegrityState::Verified, good.result.integrity);
        for (const TestEntry& entry : entries)
            EXPECT_EQ(entry.data, FileAt(JoinPath(dir / "good", entry.name))) << entry.name;
        EXPECT_FALSE(bad.complete);
        EXPECT_EQ(PayloadError::IntegrityMismatch, bad.result.error);
        EXPECT_EQ(IntegrityState::Mismatch, bad.result.integrity);
    }
}

TEST(Stage, StopsAtAnUnsafeOrUnterminatedNameWritingNothingFromThere)
{
    const char* hostile[] = {"..", "..\\..\\evil.dll", "../evil.dll", "sub/evil.dll", "C:evil.dll",
                             "CON", "nul.txt", "evil.dll.", "", "a\x01.txt"};
    for (const char* name : hostile) {
        ScratchDir dir;
        std::string stage = dir / "tmpsoft";
        Staged staged = StageFrom(dir, MakeLauncherBytes({}, {{"first.txt", {'1'}}, {name, {'x'}}, {"last.txt", {'3'}}}), stage);
        EXPECT_FALSE(staged.complete) << name;
        EXPECT_EQ(PayloadError::UnsafeName, staged.result.error) << name;
        EXPECT_EQ(std::vector<std::string>{"first.txt"}, ListFolder(stage)) << name;
        EXPECT_EQ((std::vector<std::string>{"launcher.exe", "tmpsoft"}), ListFolder(dir.path())) << name;
    }

    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    Bytes launcher = MakeLauncherBytes({}, {{"first.txt", {'1'}}});
    Bytes noNul = RawHeader(std::string(128, 'A'), 1);
    launcher.insert(launcher.end(), noNul.begin(), noNul.end());
    launcher.push_back('x');
    Staged staged = StageFrom(dir, launcher, stage);
    EXPECT_FALSE(staged.complete);
    EXPECT_EQ(PayloadError::NameWithoutNul, staged.result.error);
    EXPECT_EQ(std::vector<std::string>{"first.txt"}, ListFolder(stage));
}

TEST(Stage, StopsWhenTheTargetPathWouldNotFitInMaxPath)
{
    ScratchDir dir;
    // Grow the staging folder's path to exactly 200 bytes, one level at a time.
    std::string stage = dir.path();
    while (stage.size() < 200) {
        size_t room = 200 - stage.size() - 1;
        stage = JoinPath(stage, std::string(room > 40 ? 30 : room, 'd'));
        ASSERT_TRUE(MakeFolder(stage)) << stage;
    }
    ASSERT_EQ(200u, stage.size());

    std::string fits(58, 'f');   // 200 + 1 + 58 + NUL = 260
    std::string over(59, 'o');
    Staged staged = StageFrom(dir, MakeLauncherBytes({}, {{fits, {'1'}}, {over, {'2'}}, {"z", {'3'}}}), stage);
    EXPECT_FALSE(staged.complete);
    EXPECT_EQ(PayloadError::PathTooLong, staged.result.error);
    EXPECT_EQ(std::vector<std::string>{fits}, ListFolder(stage));
}

TEST(Stage, TruncatedDataLeavesNoPartFileAndIsIncomplete)
{
    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    Bytes launcher = MakeLauncherBytes({}, {{"whole.bin", Pattern(10, 1)}});
    // A hostile size field: nearly 4 GiB promised, 1000 bytes present.
    Bytes header = RawHeader("big.bak", 0xFFFFFFF0u);
    launcher.insert(launcher.end(), header.begin(), header.end());
    Bytes present = Pattern(1000, 2);
    launcher.insert(launcher.end(), present.begin(), present.end());

    Staged staged = StageFrom(dir, launcher, stage);
    EXPECT_FALSE(staged.complete);
    EXPECT_EQ(PayloadError::TruncatedData, staged.result.error);
    EXPECT_STREQ("big.bak", staged.result.stoppedAt);
    EXPECT_EQ(1u, staged.result.entries);
    EXPECT_EQ(Pattern(10, 1), FileAt(JoinPath(stage, "whole.bin")));
    // A file under the entry's name but short of its size would pass for
    // whole; a copy from an earlier complete run is not kept either.
    EXPECT_FALSE(PathExists(JoinPath(stage, "big.bak")));
    ASSERT_TRUE(WriteFileBytes(JoinPath(stage, "big.bak"), present));
    staged = StageFrom(dir, launcher, stage);
    EXPECT_FALSE(staged.complete);
    EXPECT_FALSE(PathExists(JoinPath(stage, "big.bak")));
}

TEST(Stage, ALauncherFileEndingBeforeThePayloadOffsetIsIncomplete)
{
    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    Bytes launcher = MakeLauncherBytes({}, {});
    // Exactly at the offset: an empty archive, staged completely.
    EXPECT_TRUE(StageFrom(dir, launcher, stage).complete);
    // One byte short: the archive is lost, which is no complete staging.
    launcher.pop_back();
    Staged staged = StageFrom(dir, launcher, stage);
    EXPECT_FALSE(staged.complete);
    EXPECT_EQ(PayloadError::NoArchive, staged.result.error);
    EXPECT_TRUE(ListFolder(stage).empty());
}

TEST(Stage, ATargetThatCannotBeOpenedStopsStaging)
{
    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    ASSERT_TRUE(MakeFolder(stage));
    // A folder where the file should go cannot be opened for writing, even by root.
    ASSERT_TRUE(MakeFolder(JoinPath(stage, "b.dat")));
    Staged staged = StageFrom(dir, MakeLauncherBytes({}, {{"a.dat", {'a'}}, {"b.dat", {'b'}}, {"c.dat", {'c'}}}), stage);
    EXPECT_FALSE(staged.complete);
    EXPECT_EQ(PayloadError::CannotCreate, staged.result.error);
    EXPECT_EQ(Bytes{'a'}, FileAt(JoinPath(stage, "a.dat")));
    EXPECT_FALSE(PathExists(JoinPath(stage, "c.dat")));
}

TEST(Stage, StagingPathIsTheTemporaryFolderFollowedByTmpsoft)
{
    char stageDir[STAGE_PATH_SIZE];
    EXPECT_TRUE(BuildStageDir("C:\\TEMP\\", stageDir));
    EXPECT_STREQ("C:\\TEMP\\tmpsoft", stageDir);
    EXPECT_TRUE(BuildStageDir("", stageDir));
    EXPECT_STREQ("tmpsoft", stageDir);

    std::string longest(STAGE_PATH_SIZE - sizeof STAGE_DIR_NAME, 'x');
    EXPECT_TRUE(BuildStageDir(longest.c_str(), stageDir));
    EXPECT_EQ(STAGE_PATH_SIZE - 1, strlen(stageDir));
    std::string tooLong = longest + "x";
    EXPECT_FALSE(BuildStageDir(tooLong.c_str(), stageDir));
    EXPECT_STREQ("", stageDir);
}

#ifndef _WIN32
// A full disk, stood in for by a file size limit: the write fails, the partly
// written file is removed, and nothing after it is staged.
TEST(Stage, AFailedWriteRemovesThePartlyWrittenFile)
{
    ScratchDir dir;
    std::string stage = dir / "tmpsoft";
    std::string path = dir / "launcher.exe";
    ASSERT_TRUE(WriteFileBytes(path, MakeLauncherBytes({}, {{"small.txt", Pattern(1000, 1)},
                                                            {"large.bak", Pattern(300000, 2)},
                                                            {"after.txt", {'x'}}})));
    rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 100000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    StageResult result;
    bool complete = StagePayloadFile(path.c_str(), stage.c_str(), StageOptions(), &result);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(complete);
    EXPECT_EQ(PayloadError::WriteFailed, result.error);
    EXPECT_STREQ("large.bak", result.stoppedAt);
    EXPECT_EQ(std::vector<std::string>{"small.txt"}, ListFolder(stage));
}
#endif
