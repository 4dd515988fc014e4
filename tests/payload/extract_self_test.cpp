// ExtractPayload end to end: a launcher stand-in carrying a payload behind its
// own image stages it under the temporary folder it is given.
#include <gtest/gtest.h>

#include "archive.h"
#include "launch_helpers.h"
#include "platform.h"
#include "test_files.h"

using namespace testing_support;

namespace {

struct Report {
    std::string status;
    std::string stageDir;
};

// Packs the stand-in with entries and runs it with the given temporary folder.
Report RunPacked(const ScratchDir& dir, const std::vector<TestEntry>& entries, const std::string& temp)
{
    std::string launcher = PackStandIn("stage_self", dir.path(), entries);
    std::string report = dir / "report.txt";
    EXPECT_EQ(0, RunProgram(launcher, {temp, report}));
    std::string text = ReadFileText(report);
    size_t nl = text.find('\n');
    return nl == std::string::npos ? Report{text, ""} : Report{text.substr(0, nl), text.substr(nl + 1)};
}

}  // namespace

TEST(ExtractPayload, StagesIntoTmpsoftUnderTheTemporaryFolder)
{
    ScratchDir dir;
    std::string temp = dir / "TEMP";
    ASSERT_TRUE(MakeFolder(temp));
    std::vector<TestEntry> entries = {{"a.dll", Pattern(70000, 1)}, {"empty.log", {}}, {"b.txt", Pattern(3, 2)}};

    Report report = RunPacked(dir, entries, temp + PATH_SEPARATOR);
    EXPECT_EQ("complete", report.status);
    std::string stage = temp + PATH_SEPARATOR + "tmpsoft";
    EXPECT_EQ(stage, report.stageDir);
    for (const TestEntry& entry : entries) {
        Bytes staged;
        ASSERT_TRUE(ReadFileBytes(JoinPath(stage, entry.name), &staged)) << entry.name;
        EXPECT_EQ(entry.data, staged) << entry.name;
    }
}

TEST(ExtractPayload, ATemporaryPathTooLongForTmpsoftStagesNothing)
{
    ScratchDir dir;
    std::string temp = dir.path();
    while (temp.size() < 256)
        temp += PATH_SEPARATOR + std::string(std::min<size_t>(40, 256 - temp.size() - 1 + 1), 't');
    Report report = RunPacked(dir, {{"a.dll", {'a'}}}, temp.substr(0, 255) + PATH_SEPARATOR);
    EXPECT_EQ("incomplete", report.status);
    EXPECT_EQ("", report.stageDir);
}
