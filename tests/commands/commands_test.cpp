// The edition commands end to end: a launcher stand-in carrying a payload
// behind its own image runs one button's command under a temporary folder of
// the test's choosing; the test setup program, staged from that payload,
// reports how it was started. One harness past the usual length, every case
// running a command through the same stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "archive.h"
#include "commands.h"
#include "launch_helpers.h"
#include "platform.h"
#include "test_files.h"

#ifndef _WIN32
#include <strings.h>
#endif

using namespace testing_support;

namespace {

const char REPORT_NAME[] = "setup-report.txt";

Bytes SetupProgram()
{
    return ProgramImage(TEST_SETUP_PROGRAM);
}

bool SameIgnoringCase(const std::string& a, const std::string& b)
{
#ifdef _WIN32
    return _stricmp(a.c_str(), b.c_str()) == 0;
#else
    return strcasecmp(a.c_str(), b.c_str()) == 0;
#endif
}

// Packs the stand-in with a payload into folder and returns its path.
std::string PackLauncher(const std::string& folder, const std::vector<TestEntry>& entries,
                         const Bytes& tail = Bytes())
{
    return PackStandIn("command_self", folder, entries, tail);
}

// Runs one button's command; returns the staging path it left, or "(failed)".
// With expected, the command's outcome must be that one. startErrors, when
// given, is what the stand-in's start is told Windows answers (see
// QUORVANE_TEST_START_ERRORS); *startError receives a CannotStart's reason.
std::string RunCommand(const std::string& launcher, const std::string& temp, int buttonId,
                       CommandOutcome expected = CommandOutcome::Started, const char* startErrors = nullptr,
                       unsigned long* startError = nullptr)
{
    std::string report = launcher + ".out";
    std::vector<std::pair<std::string, std::string>> env;
    if (startErrors != nullptr)
        env.emplace_back("QUORVANE_TEST_START_ERRORS", startErrors);
    int code = RunProgram(launcher, {temp, std::to_string(buttonId), report}, env);
    EXPECT_EQ(0, code) << "the command must return normally";
    std::string text = ReadFileText(report);
    remove(report.c_str());
    size_t line = text.find('\n');
    if (text.compare(0, 9, "returned ") != 0 || line == std::string::npos)
        return "(failed)";
    EXPECT_EQ(static_cast<int>(expected), atoi(text.c_str() + 9)) << "the command's outcome";
    size_t error = text.find(" error ");
    if (startError != nullptr)
        *startError = error < line ? strtoul(text.c_str() + error + 7, nullptr, 10) : 0;
    return text.substr(line + 1);
}

struct SetupReport {
    std::map<std::string, std::string> values;
    std::map<std::string, long long> files;  // name -> size, as found at start
};

SetupReport ReadSetupReport(const std::string& path)
{
    SetupReport report;
    std::string text = ReadFileText(path);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "file") {
            size_t space = value.rfind(' ');
            report.files[value.substr(0, space)] = std::stoll(value.substr(space + 1));
        } else {
            report.values[key] = value;
        }
    }
    return report;
}

// A scratch folder with a temporary folder inside it, named as given.
struct Setting {
    ScratchDir scratch;
    std::string temp;   // as the temporary folder is handed over: trailing separator
    std::string stage;  // temp + "tmpsoft"

    explicit Setting(const std::string& tempName = "TEMP")
    {
        std::string folder = scratch / tempName;
        EXPECT_TRUE(MakeFolder(folder));
        temp = folder + PATH_SEPARATOR;
        stage = temp + STAGE_DIR_NAME;
    }
    std::string Staged(const std::string& name) const { return JoinPath(stage, name); }
};

void ExpectStaged(const Setting& setting, const std::vector<TestEntry>& entries)
{
    for (const TestEntry& entry : entries) {
        Bytes staged;
        ASSERT_TRUE(ReadFileBytes(setting.Staged(entry.name), &staged)) << entry.name;
        EXPECT_TRUE(entry.data == staged) << entry.name << " differs";
    }
}

void ExpectNothingStarted(const Setting& setting)
{
    std::this_thread::sleep_for(QUIET_PERIOD);
    EXPECT_FALSE(PathExists(setting.Staged(REPORT_NAME))) << "a setup program was started";
}

// The command line an edition's program is started with, and the argument
// count the runtime reads from it.
std::string ExpectedCommand(const Setting& setting, const std::string& tableName, const std::string& storedName)
{
#ifdef _WIN32
    (void)storedName;
    return "\"" + setting.Staged(tableName) + "\"";
#else
    (void)tableName;
    return setting.Staged(storedName);
#endif
}

void ExpectStartedFromStage(const SetupReport& report, const Setting& setting, const std::string& tableName,
                            const std::string& storedName)
{
    EXPECT_EQ(ExpectedCommand(setting, tableName, storedName), report.values.at("command"));
    EXPECT_EQ("1", report.values.at("argc"));
    std::string self = report.values.at("self");
    size_t cut = self.rfind(PATH_SEPARATOR);
    ASSERT_NE(std::string::npos, cut) << self;
    EXPECT_EQ(setting.stage, self.substr(0, cut));
    EXPECT_TRUE(SameIgnoringCase(storedName, self.substr(cut + 1))) << self;
    EXPECT_EQ(WorkingFolder(), report.values.at("cwd")) << "the launcher's working folder is inherited";
}

const int EDITION_BUTTONS[] = {IDC_SETUP_SIMPLIFIED, IDC_SETUP_TRADITIONAL, IDC_SETUP_ENGLISH};

}  // namespace

TEST(SimplifiedChinese, StagesAllHandsOverTheLauncherFolderThenStartsItsProgram)
{
    Setting setting;
    std::string launcherFolder = setting.scratch / "launcher dir";
    ASSERT_TRUE(MakeFolder(launcherFolder));
    std::vector<TestEntry> entries = {
        {"ZelkSetupGb.exe", SetupProgram()},
        {"data1.cab", Pattern(300000, 1)},
        {"empty.ini", {}},
        {"readme.txt", Pattern(17, 2)},
    };
    std::string launcher = PackLauncher(launcherFolder, entries);
    // A longer hand-over file from an earlier run must be replaced, not kept in part.
    ASSERT_TRUE(MakeFolder(setting.stage));
    ASSERT_TRUE(WriteFileText(setting.Staged("currentpath.txt"), std::string(200, 'x')));

    EXPECT_EQ(setting.stage, RunCommand(launcher, setting.temp, IDC_SETUP_SIMPLIFIED));
    ExpectStaged(setting, entries);
    EXPECT_EQ(launcherFolder, ReadFileText(setting.Staged("currentpath.txt")));

    ASSERT_TRUE(WaitForFile(setting.Staged(REPORT_NAME), START_TIMEOUT));
    SetupReport report = ReadSetupReport(setting.Staged(REPORT_NAME));
    ExpectStartedFromStage(report, setting, "ZelkSetupgb.exe", "ZelkSetupGb.exe");
    // Everything was in place before it started.
    EXPECT_EQ(launcherFolder, report.values["handover"]);
    for (const TestEntry& entry : entries)
        EXPECT_EQ(static_cast<long long>(entry.data.size()), report.files[entry.name]) << entry.name;
    EXPECT_EQ(static_cast<long long>(launcherFolder.size()), report.files["currentpath.txt"]);
}

TEST(SimplifiedChinese, FromADriveRootHandsOverTheDriveAlone)
{
    // The build maps a drive letter to a folder of its own when it runs the
    // tests under Wine; natively there are no drive letters.
    const char* drive = getenv("QUORVANE_TEST_DRIVE");
    if (drive == nullptr || drive[0] == '\0')
        GTEST_SKIP() << "no drive letter set up for this test";
    Setting setting;
    std::string launcher = PackLauncher(std::string(drive) + "\\", {{"ZelkSetupGb.exe", SetupProgram()}});
    std::string stage = RunCommand(launcher, setting.temp, IDC_SETUP_SIMPLIFIED);
    remove(launcher.c_str());
    EXPECT_EQ(setting.stage, stage);
    EXPECT_EQ(drive, ReadFileText(setting.Staged("currentpath.txt")));
}

TEST(SimplifiedChinese, ASpaceInTheStagingPathCannotStartADecoy)
{
    // Resolving the unquoted path "...\my temp\tmpsoft\ZelkSetupgb.exe" the
    // way a bare command line is resolved would first try "...\my.exe".
    Setting setting("my temp");
    std::string decoy = setting.scratch / "my.exe";
    ASSERT_TRUE(WriteFileBytes(decoy, SetupProgram()));
    MakeExecutable(decoy);
    std::string launcher = PackLauncher(setting.scratch.path(), {{"ZelkSetupGb.exe", SetupProgram()}});

    EXPECT_EQ(setting.stage, RunCommand(launcher, setting.temp, IDC_SETUP_SIMPLIFIED));
    ASSERT_TRUE(WaitForFile(setting.Staged(REPORT_NAME), START_TIMEOUT)) << "the setup program did not start";
    ExpectStartedFromStage(ReadSetupReport(setting.Staged(REPORT_NAME)), setting, "ZelkSetupgb.exe",
                           "ZelkSetupGb.exe");
    std::this_thread::sleep_for(QUIET_PERIOD);
    EXPECT_FALSE(PathExists(setting.scratch / REPORT_NAME)) << "the decoy ran";
}

TEST(OtherEditions, StageAndStartTheirOwnProgramLeavingTheHandOverFileAlone)
{
    struct Case {
        int buttonId;
        std::string program;
    };
    for (const Case& c : {Case{IDC_SETUP_TRADITIONAL, "ZelkSetupbig5.exe"}, Case{IDC_SETUP_ENGLISH, "ZelkSetupEnglish.exe"}}) {
        SCOPED_TRACE(c.program);
        Setting setting;
        std::vector<TestEntry> entries = {{c.program, SetupProgram()}, {"data1.cab", Pattern(5000, 3)}};
        std::string launcher = PackLauncher(setting.scratch.path(), entries);
        const std::string earlier = "E:\\earlier run";
        ASSERT_TRUE(MakeFolder(setting.stage));
        ASSERT_TRUE(WriteFileText(setting.Staged("currentpath.txt"), earlier));

        EXPECT_EQ(setting.stage, RunCommand(launcher, setting.temp, c.buttonId));
        ExpectStaged(setting, entries);
        EXPECT_EQ(earlier, ReadFileText(setting.Staged("currentpath.txt")));
        ASSERT_TRUE(WaitForFile(setting.Staged(REPORT_NAME), START_TIMEOUT));
        ExpectStartedFromStage(ReadSetupReport(setting.Staged(REPORT_NAME)), setting, c.program, c.program);
    }
}

TEST(OtherEditions, WithoutTheirProgramStageButStartNothingAndWriteNoHandOver)
{
    // The packaged payload: only the Simplified Chinese setup program.
    for (int buttonId : {IDC_SETUP_TRADITIONAL, IDC_SETUP_ENGLISH}) {
        SCOPED_TRACE(buttonId);
        Setting setting;
        std::vector<TestEntry> entries = {{"ZelkSetupGb.exe", SetupProgram()}, {"data1.cab", Pattern(5000, 4)}};
        std::string launcher = PackLauncher(setting.scratch.path(), entries);

        EXPECT_EQ(setting.stage, RunCommand(launcher, setting.temp, buttonId, CommandOutcome::CannotStart));
        ExpectStaged(setting, entries);
        EXPECT_FALSE(PathExists(setting.Staged("currentpath.txt")));
        ExpectNothingStarted(setting);
    }
}

#ifdef _WIN32
// What real Windows answers and Wine never does, given to the stand-in's
// start in turn: each number is one attempt's error (a direct creation, or the
// shell's start once the first asked for elevation).
TEST(SimplifiedChinese, StartFollowsWhatWindowsAnswers)
{
    struct Case {
        const char* what;
        const char* answers;
        CommandOutcome outcome;
        unsigned long error;
    };
    std::string heldForLong = "32";  // tried again for some 3 s, a quarter second apart
    for (int i = 0; i < 20; ++i)
        heldForLong += ",32";
    const Case cases[] = {
        {"needs elevation: started through the shell", "740", CommandOutcome::Started, 0},
        {"the consent prompt declined", "740,1223", CommandOutcome::Declined, 0},
        {"a scanner holds the new file for a moment", "32,33", CommandOutcome::Started, 0},
        {"a scanner holds it past the retries", heldForLong.c_str(), CommandOutcome::CannotStart, 32},
        {"a 64-bit program on 32-bit Windows", "193", CommandOutcome::CannotStart, 193},
        {"elevation refused by policy", "740,1260", CommandOutcome::CannotStart, 1260},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Setting setting;
        std::vector<TestEntry> entries = {{"ZelkSetupGb.exe", SetupProgram()}, {"data1.cab", Pattern(5000, 6)}};
        std::string launcher = PackLauncher(setting.scratch.path(), entries);
        unsigned long error = 0;
        EXPECT_EQ(setting.stage,
                  RunCommand(launcher, setting.temp, IDC_SETUP_SIMPLIFIED, c.outcome, c.answers, &error));
        EXPECT_EQ(c.error, error) << "the reason the user is shown";
        ExpectStaged(setting, entries);  // declined or failed, nothing is removed
        EXPECT_TRUE(PathExists(setting.Staged("currentpath.txt")));
        if (c.outcome == CommandOutcome::Started) {
            ASSERT_TRUE(WaitForFile(setting.Staged(REPORT_NAME), START_TIMEOUT)) << "the setup program did not start";
            SetupReport report = ReadSetupReport(setting.Staged(REPORT_NAME));
            EXPECT_TRUE(SameIgnoringCase(setting.Staged("ZelkSetupgb.exe"), report.values["self"]));
            EXPECT_EQ(WorkingFolder(), report.values["cwd"]) << "the launcher's working folder is inherited";
        } else {
            ExpectNothingStarted(setting);
        }
    }
}
#endif

TEST(Quit, LeavesTheDiskAndTheStagingPathUntouched)
{
    for (int buttonId : {IDC_EXIT_SETUP, 999, 1004}) {
        SCOPED_TRACE(buttonId);
        Setting setting;
        std::string launcher = PackLauncher(setting.scratch.path(), {{"ZelkSetupGb.exe", SetupProgram()}});
        EXPECT_EQ(std::string(STAGE_PATH_SIZE, 'X'), RunCommand(launcher, setting.temp, buttonId, CommandOutcome::Quit));
        EXPECT_TRUE(ListFolder(setting.temp).empty()) << "the staging folder was created";
    }
}

TEST(IncompleteStaging, StartsNothing)
{
    for (int buttonId : EDITION_BUTTONS) {
        SCOPED_TRACE(buttonId);
        const Edition* edition = FindEdition(buttonId);
        ASSERT_NE(nullptr, edition);
        std::string program = edition->program;
        Bytes setup = SetupProgram();

        {
            SCOPED_TRACE("archive cut short inside its last entry");
            Setting setting;
            Bytes tail = RawHeader("late.bin", 1000);
            tail.resize(tail.size() + 10, 'z');
            std::string launcher = PackLauncher(setting.scratch.path(), {{program, setup}}, tail);
            EXPECT_EQ(setting.stage, RunCommand(launcher, setting.temp, buttonId, CommandOutcome::Damaged));
            ExpectStaged(setting, {{program, setup}});  // the program itself was there to start
            ExpectNothingStarted(setting);
        }
        {
            SCOPED_TRACE("an entry that cannot be written");
            Setting setting;
            ASSERT_TRUE(MakeFolder(setting.stage));
            ASSERT_TRUE(MakeFolder(setting.Staged("blocked.dat")));
            std::string launcher = PackLauncher(setting.scratch.path(),
                                                {{program, setup}, {"blocked.dat", Pattern(10, 5)}});
            EXPECT_EQ(setting.stage, RunCommand(launcher, setting.temp, buttonId, CommandOutcome::CannotWrite));
            ExpectStaged(setting, {{program, setup}});
            ExpectNothingStarted(setting);
        }
    }
}

TEST(CutAtLastSeparator, KeepsTheFolderOfAPath)
{
    struct Case {
        const char* path;
        const char* folder;
    };
#ifdef _WIN32
    const Case cases[] = {
        {"E:\\setup\\launcher.exe", "E:\\setup"},
        {"E:\\launcher.exe", "E:"},
        {"launcher.exe", "launcher.exe"},
        {"\\\\server\\share\\launcher.exe", "\\\\server\\share"},
    };
#else
    const Case cases[] = {
        {"/opt/setup/launcher", "/opt/setup"},
        {"/launcher", ""},
        {"launcher", "launcher"},
    };
#endif
    for (const Case& c : cases) {
        char path[STAGE_PATH_SIZE] = {};
        strcpy(path, c.path);
        CutAtLastSeparator(path, 936);
        EXPECT_STREQ(c.folder, path) << c.path;
    }
}

#ifdef _WIN32
TEST(CutAtLastSeparator, KnowsDoubleByteCharactersOfTheCodePage)
{
    // In GBK "\xD6\x5C" is one character whose trail byte is a backslash.
    struct Case {
        const char* path;
        const char* inGbk;
        const char* bytewise;  // what a single-byte code page makes of it
    };
    const Case cases[] = {
        {"D:\\setup\\\xD6\x5C" "launch.exe", "D:\\setup", "D:\\setup\\\xD6"},
        {"E:\\\xD6\x5C.exe", "E:", "E:\\\xD6"},
        {"D:\\\xB0\xB2\xD6\x5C\\launcher.exe", "D:\\\xB0\xB2\xD6\x5C", "D:\\\xB0\xB2\xD6\x5C"},
    };
    for (const Case& c : cases) {
        char path[STAGE_PATH_SIZE] = {};
        strcpy(path, c.path);
        CutAtLastSeparator(path, 936);
        EXPECT_STREQ(c.inGbk, path) << c.path;
        strcpy(path, c.path);
        CutAtLastSeparator(path, 1252);
        EXPECT_STREQ(c.bytewise, path) << c.path;
    }
}
#endif
