// Faults from outside the archive: the disk, the target files, the temporary
// folder, the launcher file itself, other processes. Whatever happens, the
// launcher stand-in must end normally, write nothing outside the staging
// folder, leave no file short of its entry's data under that entry's name,
// and start the setup program only after a complete staging. One harness,
// past the usual length: every fault runs through the same planted folders
// and the same checks of what was left behind.
//
// The payload's first entry is the test setup program, so in every case that
// stops later it is staged in full and would report if it were started.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "archive.h"
#include "button_ids.h"
#include "commands.h"
#include "launch_helpers.h"
#include "platform.h"
#include "stage.h"
#include "test_files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#endif

using namespace testing_support;

namespace {

const char SETUP_NAME[] = "ZelkSetupGb.exe";
const char SETUP_REPORT[] = "setup-report.txt";

const Bytes& SetupProgram()
{
    static const Bytes image = ProgramImage(TEST_SETUP_PROGRAM);
    return image;
}

std::vector<TestEntry> Payload(size_t bigSize = 300000)
{
    return {
        {SETUP_NAME, SetupProgram()},
        {"a.dll", Pattern(bigSize, 1)},
        {"empty.log", {}},
        {"z.txt", Pattern(99, 2)},
    };
}

Bytes LauncherBytes(const std::vector<TestEntry>& entries)
{
    Bytes image = ProgramImage(COMMAND_SELF);
    EXPECT_LT(image.size(), PAYLOAD_OFFSET);
    return MakeLauncherBytes(image, entries);
}

std::string WriteLauncher(const std::string& folder, const Bytes& bytes)
{
#ifdef _WIN32
    std::string path = JoinPath(folder, "launcher.exe");
#else
    std::string path = JoinPath(folder, "launcher");
#endif
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    MakeExecutable(path);
    return path;
}

// Every file under root, by relative path, with a digest of its content;
// the staging folder's subtree is left out.
using Snapshot = std::map<std::string, std::string>;

void Take(const std::string& root, const std::string& relative, const std::string& skip, Snapshot* out)
{
    std::string path = relative.empty() ? root : JoinPath(root, relative);
    if (path == skip)
        return;
    if (IsFolder(path)) {
        (*out)[relative + PATH_SEPARATOR] = "folder";
        for (const std::string& name : ListFolder(path))
            Take(root, relative.empty() ? name : relative + PATH_SEPARATOR + name, skip, out);
        return;
    }
    Bytes bytes;
    uint64_t hash = 1469598103934665603ull;
    if (ReadFileBytes(path, &bytes)) {
        for (unsigned char b : bytes)
            hash = (hash ^ b) * 1099511628211ull;
    }
    (*out)[relative] = std::to_string(bytes.size()) + ":" + std::to_string(hash);
}

Snapshot Take(const std::string& root, const std::string& skip)
{
    Snapshot snapshot;
    Take(root, "", skip, &snapshot);
    return snapshot;
}

// A scratch folder with the launcher in bin/ and a temporary folder beside it.
struct Scene {
    ScratchDir scratch;
    std::string bin;
    std::string temp;   // with its trailing separator, as the platform hands it over
    std::string stage;  // temp followed by tmpsoft

    explicit Scene(const std::string& tempName = "TEMP", bool makeTemp = true)
    {
        bin = scratch / "bin";
        EXPECT_TRUE(MakeFolder(bin));
        UseTemp(scratch / tempName, makeTemp);
    }
    void UseTemp(const std::string& folder, bool make)
    {
        if (make) {
            EXPECT_TRUE(MakeFolder(folder)) << folder;
        }
        temp = folder + PATH_SEPARATOR;
        stage = temp + STAGE_DIR_NAME;
    }
    std::string Staged(const std::string& name) const { return JoinPath(stage, name); }
};

// What the stand-in's report starts with when its command ended as outcome.
std::string Returned(CommandOutcome outcome)
{
    return "returned " + std::to_string(static_cast<int>(outcome)) + "\n";
}

// Runs the Simplified Chinese command; expects a normal end and returns the
// staging path the stand-in reported. With expected, the command's outcome
// (what the user is told) must be that one.
std::string RunLauncher(const std::string& launcher, const std::string& temp, const CommandOutcome* expected = nullptr)
{
    std::string report = launcher + ".out";
    int code = RunProgram(launcher, {temp, std::to_string(IDC_SETUP_SIMPLIFIED), report});
    EXPECT_EQ(0, code) << "the launcher must end normally";
    std::string text = ReadFileText(report);
    remove(report.c_str());
    size_t line = text.find('\n');
    EXPECT_EQ(0u, text.compare(0, 9, "returned ")) << text;
    if (expected != nullptr) {
        EXPECT_EQ(Returned(*expected), text.substr(0, line + 1));
    }
    return line != std::string::npos ? text.substr(line + 1) : std::string();
}

// Every file in the staging folder is a whole entry, the hand-over file, the
// setup program's report, or a file that was there before (unchanged).
void ExpectOnlyWholeFiles(const Scene& scene, const std::vector<TestEntry>& entries,
                          const Snapshot& before = Snapshot())
{
    std::map<std::string, const Bytes*> data;
    for (const TestEntry& entry : entries)
        data[entry.name] = &entry.data;
    Snapshot now = Take(scene.stage, "");
    for (const std::string& name : ListFolder(scene.stage)) {
        // The setup program's report, and its partial file while it writes it.
        if (name == "currentpath.txt" || name.compare(0, 13, "setup-report.") == 0)
            continue;
        std::string path = scene.Staged(name);
        ASSERT_FALSE(IsFolder(path)) << name;
        Bytes bytes;
        ASSERT_TRUE(ReadFileBytes(path, &bytes)) << name;
        auto it = data.find(name);
        bool whole = it != data.end() && bytes == *it->second;
        bool untouched = before.count(name) != 0 && before.at(name) == now[name];
        EXPECT_TRUE(whole || untouched) << name << ": " << bytes.size() << " bytes, neither whole nor left as it was";
    }
}

void ExpectNoSetupStarted(const Scene& scene)
{
    std::this_thread::sleep_for(QUIET_PERIOD);
    EXPECT_FALSE(PathExists(scene.Staged(SETUP_REPORT))) << "a setup program was started";
}

// The setup program started, and saw every entry whole.
void ExpectSetupStartedOnWholeFiles(const Scene& scene, const std::vector<TestEntry>& entries)
{
    ASSERT_TRUE(WaitForFile(scene.Staged(SETUP_REPORT), START_TIMEOUT)) << "the setup program did not start";
    std::string report = ReadFileText(scene.Staged(SETUP_REPORT));
    for (const TestEntry& entry : entries)
        EXPECT_NE(std::string::npos, report.find("\nfile=" + entry.name + " " + std::to_string(entry.data.size()) + "\n"))
            << entry.name << " was not whole when the setup program started:\n" << report;
}

#ifdef _WIN32
// What a setup program reported of its folder at start: each file's size,
// and the hand-over it found.
struct SetupView {
    std::map<std::string, long long> sizes;
    std::string handOver;
};

SetupView ReadSetupView(const std::string& report)
{
    SetupView view;
    std::string text = ReadFileText(report);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        size_t space = line.rfind(' ');
        if (line.compare(0, 5, "file=") == 0 && space != std::string::npos)
            view.sizes[line.substr(5, space - 5)] = atoll(line.c_str() + space + 1);
        else if (line.compare(0, 9, "handover=") == 0)
            view.handOver = line.substr(9);
    }
    return view;
}
#endif

// A run of the launcher in a scene, checked for what must hold in every case:
// nothing written outside the staging folder (the launcher's own report
// aside), no "tmpsoft" in the working folder, only whole files staged.
// Returns the staging path the stand-in reported.
std::string RunChecked(const Scene& scene, const std::string& launcher, const std::vector<TestEntry>& entries)
{
    Snapshot outside = Take(scene.scratch.path(), scene.stage);
    Snapshot stageBefore = Take(scene.stage, "");
    bool cwdHadStage = PathExists(JoinPath(WorkingFolder(), STAGE_DIR_NAME));
    std::string stageDir = RunLauncher(launcher, scene.temp);
    Snapshot after = Take(scene.scratch.path(), scene.stage);
    EXPECT_EQ(outside, after) << "something outside the staging folder changed";
    EXPECT_EQ(cwdHadStage, PathExists(JoinPath(WorkingFolder(), STAGE_DIR_NAME)));
    ExpectOnlyWholeFiles(scene, entries, stageBefore);
    return stageDir;
}

// Stages a payload completely into the scene, as an earlier run would have,
// then removes the setup program's report.
void StageEarlierRun(const Scene& scene, const std::vector<TestEntry>& entries)
{
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));
    RunLauncher(launcher, scene.temp);
    ASSERT_TRUE(WaitForFile(scene.Staged(SETUP_REPORT), START_TIMEOUT));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it end
    ASSERT_EQ(0, remove(scene.Staged(SETUP_REPORT).c_str()));
}

}  // namespace

TEST(Faults, AStagingPathThatIsAFileStopsEverything)
{
    Scene scene;
    ASSERT_TRUE(WriteFileText(scene.stage, "not a folder"));
    std::vector<TestEntry> entries = Payload();
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    std::string stageDir = RunChecked(scene, launcher, entries);
    EXPECT_EQ(scene.stage, stageDir);
    EXPECT_FALSE(IsFolder(scene.stage));
    EXPECT_EQ("not a folder", ReadFileText(scene.stage));
    EXPECT_EQ(std::vector<std::string>{STAGE_DIR_NAME}, ListFolder(scene.temp));
}

TEST(Faults, AMissingTemporaryFolderIsNotCreated)
{
    Scene scene("missing", false);
    std::vector<TestEntry> entries = Payload();
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    RunChecked(scene, launcher, entries);
    EXPECT_FALSE(PathExists(scene.scratch / "missing"));
    ExpectNoSetupStarted(scene);
}

TEST(Faults, ATemporaryPathWithSpacesStagesAndStarts)
{
    Scene scene("dir with spaces");
    scene.UseTemp(scene.scratch / "dir with spaces" + PATH_SEPARATOR + "Temp Folder", true);
    std::vector<TestEntry> entries = Payload();
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    std::string stageDir = RunChecked(scene, launcher, entries);
    EXPECT_EQ(scene.stage, stageDir);
    ExpectSetupStartedOnWholeFiles(scene, entries);
}

TEST(Faults, TemporaryPathsNearTheLengthLimit)
{
    // Staging path of 252 bytes: a 5-byte name still fits (252 + 1 + 5 + NUL
    // = 259), the setup program's name does not.
    for (size_t stageLength : {252u, 237u}) {
        SCOPED_TRACE("staging path of " + std::to_string(stageLength) + " bytes");
        Scene scene;
        std::string folder = scene.scratch.path();
        size_t want = stageLength - 1 - strlen(STAGE_DIR_NAME);  // temp path without its separator
        ASSERT_LT(folder.size() + 2, want);
        while (folder.size() < want) {
            size_t part = std::min<size_t>(60, want - folder.size() - 1);
            folder += PATH_SEPARATOR + std::string(part, 'p');
            ASSERT_TRUE(MakeFolder(folder)) << folder;
        }
        scene.UseTemp(folder, false);
        ASSERT_EQ(stageLength, scene.stage.size());

        bool fits = stageLength + 1 + strlen(SETUP_NAME) + 1 <= STAGE_PATH_SIZE;
        std::vector<TestEntry> entries = {{"a.dll", Pattern(1000, 3)}, {"b.dll", {}}, {SETUP_NAME, SetupProgram()},
                                          {"c.dll", {'c'}}};
        std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));
        std::string stageDir = RunChecked(scene, launcher, entries);
        EXPECT_EQ(scene.stage, stageDir);
        if (fits) {
            ExpectSetupStartedOnWholeFiles(scene, entries);
        } else {
            // Neither the setup program nor the hand-over file fits beside it.
            EXPECT_EQ((std::vector<std::string>{"a.dll", "b.dll"}), ListFolder(scene.stage));
            ExpectNoSetupStarted(scene);
        }
    }
}

TEST(Faults, ALauncherCutShortStagesNoPartFileAndStartsNothing)
{
    std::vector<TestEntry> entries = Payload();
    Bytes whole = LauncherBytes(entries);
    Bytes image = FileBytes(COMMAND_SELF);
    size_t dataStart = PAYLOAD_OFFSET + ENTRY_HEADER_SIZE + SetupProgram().size() + ENTRY_HEADER_SIZE;  // a.dll's data

    // Inside the filler, and inside a.dll's data: the staging is incomplete.
    // An earlier complete run left the setup program in place, so starting it
    // now would show.
    struct Cut {
        const char* where;
        size_t size;
        std::vector<std::string> present;  // entries of this run that must be staged whole
    };
    for (const Cut& cut : {Cut{"inside the filler", image.size() + 1000, {}},
                           Cut{"inside data", dataStart + 5000, {SETUP_NAME}}}) {
        SCOPED_TRACE(cut.where);
        Scene scene;
        StageEarlierRun(scene, {{SETUP_NAME, SetupProgram()}});
        std::string launcher = WriteLauncher(scene.bin, Bytes(whole.begin(), whole.begin() + cut.size));
        std::string stageDir = RunChecked(scene, launcher, entries);
        EXPECT_EQ(scene.stage, stageDir);
        EXPECT_FALSE(PathExists(scene.Staged("a.dll"))) << "the entry cut short must not be left";
        EXPECT_FALSE(PathExists(scene.Staged("z.txt")));
        for (const std::string& name : cut.present)
            EXPECT_TRUE(PathExists(scene.Staged(name))) << name;
        ExpectNoSetupStarted(scene);
    }
}

TEST(Faults, ALauncherCutInsideAHeaderStagesTheEntriesBeforeItWhole)
{
    // The archive has no count: fewer than 132 bytes at the end are trailing
    // bytes, so a cut inside a header cannot be told from them. What holds:
    // the entries before the cut are whole, nothing of the rest is written,
    // and a setup program that starts sees only whole files.
    std::vector<TestEntry> entries = Payload();
    Bytes whole = LauncherBytes(entries);
    size_t secondHeader = PAYLOAD_OFFSET + ENTRY_HEADER_SIZE + SetupProgram().size();
    Scene scene;
    std::string launcher =
        WriteLauncher(scene.bin, Bytes(whole.begin(), whole.begin() + secondHeader + ENTRY_HEADER_SIZE - 1));
    RunChecked(scene, launcher, entries);
    ExpectSetupStartedOnWholeFiles(scene, {entries[0]});
    std::vector<std::string> names = ListFolder(scene.stage);
    names.erase(std::remove(names.begin(), names.end(), SETUP_REPORT), names.end());
    EXPECT_EQ((std::vector<std::string>{SETUP_NAME, "currentpath.txt"}), names);
}

TEST(Faults, ALauncherCutInsideTheImageStagesNothing)
{
    // Such a file cannot run; its archive is read here by the staging itself.
    Scene scene;
    Bytes whole = LauncherBytes(Payload());
    Bytes image = FileBytes(COMMAND_SELF);
    std::string path = WriteLauncher(scene.bin, Bytes(whole.begin(), whole.begin() + image.size() / 2));
    StageResult result;
    EXPECT_FALSE(StagePayloadFile(path.c_str(), scene.stage.c_str(), StageOptions(), &result));
    EXPECT_EQ(PayloadError::NoArchive, result.error);
    EXPECT_TRUE(IsFolder(scene.stage));
    EXPECT_TRUE(ListFolder(scene.stage).empty());

    // Ending exactly at the payload offset is an empty archive, not damage.
    path = WriteLauncher(scene.bin, Bytes(whole.begin(), whole.begin() + PAYLOAD_OFFSET));
    EXPECT_TRUE(StagePayloadFile(path.c_str(), scene.stage.c_str(), StageOptions(), &result));
    EXPECT_EQ(0u, result.entries);
}

// Two launchers of two products at once, into the one staging folder (a
// double click twice, say). Each stages, hands over and starts its setup
// program under the folder's staging lock, so the folder ends as one whole
// staging with its hand-over file. Under Windows a running setup program's
// file cannot be replaced, and it is the payload's first entry here: the
// second launcher either finds it in use before writing anything (and says
// so) or, once it has ended, stages afresh; so each setup program that ran
// saw exactly its own staging. Natively nothing stops a stager from replacing
// what a running program uses, so only the end state is judged there.
TEST(Faults, TwoLaunchersAtOnceEachStartFromAWholeStagingOfTheirOwn)
{
    Scene scene;
    struct Product {
        std::string folder;
        std::vector<TestEntry> entries;
        std::string launcher;
        std::string outcome;
    };
    Product products[2] = {
        {scene.bin, {{SETUP_NAME, SetupProgram()}, {"a.dll", Pattern(3 * 1024 * 1024, 1)}, {"empty.log", {}},
                     {"which.txt", Pattern(1, 7)}, {"z.txt", Pattern(99, 2)}}, "", ""},
        {scene.scratch / "other", {{SETUP_NAME, SetupProgram()}, {"a.dll", Pattern(2 * 1024 * 1024 + 7, 3)},
                                   {"empty.log", Pattern(5, 4)}, {"which.txt", Pattern(2, 8)},
                                   {"z.txt", Pattern(50, 5)}}, "", ""},
    };
    std::string log = scene.scratch / "setup-log";
    ASSERT_TRUE(MakeFolder(log));
    ASSERT_TRUE(MakeFolder(products[1].folder));
    for (Product& product : products)
        product.launcher = WriteLauncher(product.folder, LauncherBytes(product.entries));
    int codes[2] = {-1, -1};
    auto run = [&](int i) {
        codes[i] = RunProgram(products[i].launcher, {scene.temp, "1000", products[i].launcher + ".out"},
                              {{"QUORVANE_TEST_SETUP_LOG", log}});
    };
    std::thread one(run, 0);
    std::thread two(run, 1);
    one.join();
    two.join();
    int started = 0;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(0, codes[i]);
        products[i].outcome = ReadFileText(products[i].launcher + ".out");
        products[i].outcome = products[i].outcome.substr(0, products[i].outcome.find('\n') + 1);
        if (products[i].outcome == Returned(CommandOutcome::Started))
            ++started;
#ifdef _WIN32
        else {  // its setup program was found running
            EXPECT_EQ(Returned(CommandOutcome::CannotWrite), products[i].outcome);
        }
#else
        else
            ADD_FAILURE() << "launcher " << i << " did not start its setup program: " << products[i].outcome;
#endif
    }
    ASSERT_GE(started, 1);

    // Which product's staging a listing holds, by its which.txt, and whether
    // every entry of that product has its size there.
    auto Judge = [&](const std::map<std::string, long long>& sizes, int* which) {
        auto at = sizes.find("which.txt");
        *which = at == sizes.end() ? -1 : at->second == 1 ? 0 : at->second == 2 ? 1 : -1;
        if (*which < 0)
            return false;
        for (const TestEntry& entry : products[*which].entries) {
            auto size = sizes.find(entry.name);
            if (size == sizes.end() || size->second != static_cast<long long>(entry.data.size()))
                return false;
        }
        return true;
    };
    // The folder at the end: one whole staging and its own hand-over file.
    std::this_thread::sleep_for(QUIET_PERIOD);
    std::map<std::string, long long> sizes;
    for (const std::string& name : ListFolder(scene.stage)) {
        Bytes bytes;
        if (ReadFileBytes(scene.Staged(name), &bytes))
            sizes[name] = static_cast<long long>(bytes.size());
    }
    int last = -1;
    ASSERT_TRUE(Judge(sizes, &last)) << "the staging folder holds a mix of the two products";
    for (const TestEntry& entry : products[last].entries)
        EXPECT_TRUE(FileBytes(scene.Staged(entry.name)) == entry.data) << entry.name << " is not whole";
    EXPECT_EQ(products[last].folder, ReadFileText(scene.Staged("currentpath.txt")));

#ifdef _WIN32
    // Each setup program that ran found its own staging and hand-over.
    std::vector<std::string> reports;
    for (int wait = 0; wait < 150 && static_cast<int>(reports.size()) < started; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        reports.clear();
        for (const std::string& name : ListFolder(log))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
                reports.push_back(JoinPath(log, name));
    }
    ASSERT_EQ(static_cast<size_t>(started), reports.size()) << "one report for each setup program started";
    for (const std::string& path : reports) {
        SetupView view = ReadSetupView(path);
        int which = -1;
        EXPECT_TRUE(Judge(view.sizes, &which)) << path << ": a setup program saw a mix";
        if (which >= 0) {
            EXPECT_EQ(products[which].folder, view.handOver) << path << ": a setup program saw the other's hand-over";
        }
    }
#endif
}

#ifndef _WIN32
TEST(Faults, AFileSizeLimitStopsStagingAndRemovesThePartFile)
{
    // The disk "fills" at a per-process file size limit, with the signal that
    // would kill the launcher ignored (both inherited by the launcher).
    Scene scene;
    rlim_t limit = SetupProgram().size() + 256 * 1024;
    std::vector<TestEntry> entries = Payload(limit + 200000);
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    struct rlimit saved;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    struct rlimit small = saved;
    small.rlim_cur = limit;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    Snapshot outside = Take(scene.scratch.path(), scene.stage);
    std::string report = launcher + ".out";
    int code = RunProgram(launcher, {scene.temp, "1000", report});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(0, code);
    EXPECT_EQ(Returned(CommandOutcome::CannotWrite) + scene.stage, ReadFileText(report));
    remove(report.c_str());
    EXPECT_EQ(outside, Take(scene.scratch.path(), scene.stage));
    EXPECT_TRUE(SetupProgram() == FileBytes(scene.Staged(SETUP_NAME)));
    EXPECT_FALSE(PathExists(scene.Staged("a.dll"))) << "the file that did not fit must be removed";
    EXPECT_FALSE(PathExists(scene.Staged("z.txt")));
    ExpectNoSetupStarted(scene);
}

TEST(Faults, AnImmutableTargetStopsStagingThere)
{
    // Root ignores permission bits; the immutable attribute holds even for root.
    Scene scene;
    ASSERT_TRUE(MakeFolder(scene.stage));
    std::string target = scene.Staged("a.dll");
    ASSERT_TRUE(WriteFileText(target, "old"));
    int fd = open(target.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    int flags = 0;
    bool set = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (!set) {
        close(fd);
        GTEST_SKIP() << "this file system or user cannot set the immutable attribute";
    }
    std::vector<TestEntry> entries = Payload();
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));
    RunChecked(scene, launcher, entries);
    flags &= ~FS_IMMUTABLE_FL;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);

    EXPECT_TRUE("old" == ReadFileText(target)) << "the protected target was written";
    EXPECT_TRUE(SetupProgram() == FileBytes(scene.Staged(SETUP_NAME))) << "the setup program is not whole";
    EXPECT_FALSE(PathExists(scene.Staged("z.txt")));
    ExpectNoSetupStarted(scene);
}
#endif

#ifdef _WIN32
namespace {

bool OpensForWriting(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// The Unix path Wine keeps for path; empty when this is not Wine.
std::string UnixPath(const std::string& path)
{
    typedef char*(CDECL * UnixName)(LPCWSTR);
    UnixName toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr)
        return "";
    wchar_t wide[MAX_PATH * 2];
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2) == 0)
        return "";
    char* unixPath = toUnix(wide);
    if (unixPath == nullptr)
        return "";
    std::string name = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return name;
}

// Runs a Unix program through Wine's Unix side; true when it exits with 0.
bool RunUnix(const std::vector<std::string>& command)
{
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::vector<std::string> args = {"/wait", "/unix"};
    args.insert(args.end(), command.begin(), command.end());
    return RunProgram(std::string(windows) + "\\system32\\start.exe", args) == 0;
}

// Sets or clears the Unix immutable attribute of a file, through Wine's Unix
// side; false when this is not Wine or chattr fails.
bool SetImmutable(const std::string& path, bool on)
{
    std::string name = UnixPath(path);
    return !name.empty() && RunUnix({"/usr/bin/chattr", on ? "+i" : "-i", name});
}

}  // namespace

TEST(Faults, AReadOnlyTargetStopsStagingThere)
{
    Scene scene;
    ASSERT_TRUE(MakeFolder(scene.stage));
    std::string target = scene.Staged("a.dll");
    ASSERT_TRUE(WriteFileText(target, "old"));
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    // Wine maps the read-only attribute to permission bits, which root passes
    // by; there the Unix immutable attribute stands in for it.
    bool immutable = false;
    if (OpensForWriting(target)) {
        immutable = SetImmutable(target, true);
        printf("the read-only attribute does not stop this user; using the immutable attribute\n");
        if (!immutable || OpensForWriting(target)) {
            SetImmutable(target, false);
            GTEST_SKIP() << "neither the read-only nor the immutable attribute keeps this user from writing";
        }
    }
    std::vector<TestEntry> entries = Payload();
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    RunChecked(scene, launcher, entries);
    if (immutable) {
        EXPECT_TRUE(SetImmutable(target, false));
    }
    EXPECT_TRUE("old" == ReadFileText(target)) << "the protected target was written";
    EXPECT_TRUE(SetupProgram() == FileBytes(scene.Staged(SETUP_NAME))) << "the setup program is not whole";
    EXPECT_FALSE(PathExists(scene.Staged("z.txt")));
    ExpectNoSetupStarted(scene);
}

// Held without sharing, the target cannot be replaced. Held by a reader that
// lets others delete it, it could be marked for deletion, but it would keep
// its name until that reader closes it and then vanish: it is not touched.
TEST(Faults, AHeldTargetStopsStagingThereAndOutlivesTheHolder)
{
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "held by a reader sharing everything" : "held without sharing");
        Scene scene;
        ASSERT_TRUE(MakeFolder(scene.stage));
        std::string target = scene.Staged("a.dll");
        ASSERT_TRUE(WriteFileText(target, "old"));
        std::string ready = scene.scratch / "held", release = scene.scratch / "release";
        int holdCode = -1;
        std::vector<std::string> args = {target, ready, release};
        if (shared)
            args.push_back("shared");
        std::thread holder([&] { holdCode = RunProgram(HostPath(HOLD_FILE), args); });
        bool held = WaitForFile(ready, std::chrono::seconds(20));
        if (held) {
            std::vector<TestEntry> entries = Payload();
            std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));
            Snapshot outside = Take(scene.scratch.path(), scene.stage);
            RunLauncher(launcher, scene.temp);
            outside.erase("held");
            Snapshot after = Take(scene.scratch.path(), scene.stage);
            after.erase("held");
            EXPECT_EQ(outside, after);
            EXPECT_TRUE(SetupProgram() == FileBytes(scene.Staged(SETUP_NAME))) << "the setup program is not whole";
            EXPECT_FALSE(PathExists(scene.Staged("z.txt")));
            ExpectNoSetupStarted(scene);
        }
        WriteFileText(release, "");
        holder.join();
        ASSERT_TRUE(held) << "the helper could not hold the file";
        EXPECT_EQ(0, holdCode);
        EXPECT_TRUE("old" == ReadFileText(target)) << "the held file must stay as it was";
    }
}
#endif

// Things planted where the launcher stages, a fixed place any user can write
// to. A link at a target's name is replaced by a new file; a staging folder
// that is a link stops staging, as a file there does. Wine 8 makes no Windows
// links, so Unix ones stand in; it opens them as their targets, so staging
// stops at them there instead of replacing them.
enum class Plant { LinkToOutsideFile, DanglingLink, HardLink, StagingFolderLink, Junction, Folder, Fifo, HandOverLink };

struct PlantedCase {
    const char* name;
    Plant plant;
    CommandOutcome outcome;           // natively
    CommandOutcome outcomeUnderWine;
};

const PlantedCase PLANTED[] = {
    {"LinkToAnOutsideFile", Plant::LinkToOutsideFile, CommandOutcome::Started, CommandOutcome::CannotWrite},
    {"DanglingLink", Plant::DanglingLink, CommandOutcome::Started, CommandOutcome::CannotWrite},
    {"HardLinkToAnOutsideFile", Plant::HardLink, CommandOutcome::Started, CommandOutcome::Started},
    {"StagingFolderIsALink", Plant::StagingFolderLink, CommandOutcome::CannotWrite, CommandOutcome::CannotWrite},
    {"StagingFolderIsAJunction", Plant::Junction, CommandOutcome::CannotWrite, CommandOutcome::CannotWrite},
    {"FolderAtATargetName", Plant::Folder, CommandOutcome::CannotWrite, CommandOutcome::CannotWrite},
    {"FifoAtATargetName", Plant::Fifo, CommandOutcome::CannotWrite, CommandOutcome::CannotWrite},
    // The staging completes; only the hand-over file is skipped under Wine.
    {"LinkAtTheHandOverFile", Plant::HandOverLink, CommandOutcome::Started, CommandOutcome::Started},
};

class Planted : public testing::TestWithParam<PlantedCase> {};

#ifdef _WIN32
// Removes the scratch tree from the Unix side, where links are not followed.
struct UnixCleanup {
    std::string path;
    ~UnixCleanup() { RunUnix({"/bin/rm", "-rf", path}); }
};

// Plants through Wine's Unix side; a string says why the case cannot be shown.
std::string PlantCase(Plant plant, const std::string& at, const std::string& outside)
{
    std::string target = plant == Plant::DanglingLink ? JoinPath(outside, "nowhere.dll")
                         : plant == Plant::StagingFolderLink ? outside : JoinPath(outside, "victim.dll");
    if (plant == Plant::HardLink)
        return CreateHardLinkA(at.c_str(), target.c_str(), nullptr) ? "" : "CreateHardLinkA failed";
    if (plant == Plant::Folder)
        return MakeFolder(at) ? "" : "cannot make the folder";
    if (plant == Plant::Junction)
        return "Wine 8 cannot make junctions (FSCTL_SET_REPARSE_POINT is not supported)";
    std::string unixAt = UnixPath(at), unixTarget = UnixPath(target);
    if (unixAt.empty())
        return "not under Wine: Unix links and FIFOs cannot be planted";
    bool made = plant == Plant::Fifo ? RunUnix({"/usr/bin/mkfifo", unixAt}) : RunUnix({"/bin/ln", "-s", unixTarget, unixAt});
    return made ? "" : "planting through Wine's Unix side failed";
}
#else
std::string PlantCase(Plant plant, const std::string& at, const std::string& outside)
{
    std::string victim = JoinPath(outside, "victim.dll");
    switch (plant) {
    case Plant::LinkToOutsideFile:
    case Plant::HandOverLink: return symlink(victim.c_str(), at.c_str()) == 0 ? "" : "symlink failed";
    case Plant::DanglingLink: return symlink(JoinPath(outside, "nowhere.dll").c_str(), at.c_str()) == 0 ? "" : "symlink failed";
    case Plant::HardLink: return link(victim.c_str(), at.c_str()) == 0 ? "" : "link failed";
    case Plant::StagingFolderLink: return symlink(outside.c_str(), at.c_str()) == 0 ? "" : "symlink failed";
    case Plant::Junction: return "junctions are Windows links; the staging folder link case covers them here";
    case Plant::Folder: return MakeFolder(at) ? "" : "mkdir failed";
    case Plant::Fifo: return mkfifo(at.c_str(), 0666) == 0 ? "" : "mkfifo failed";
    }
    return "unknown case";
}
#endif

TEST_P(Planted, NoFileOutsideTheStagingFolderChanges)
{
    const PlantedCase& planted = GetParam();
    Scene scene;
#ifdef _WIN32
    UnixCleanup cleanup{UnixPath(scene.scratch.path())};
    CommandOutcome expected = planted.outcomeUnderWine;
#else
    CommandOutcome expected = planted.outcome;
#endif
    std::string outside = scene.scratch / "outside";
    const Bytes victim = Pattern(5000, 7);
    ASSERT_TRUE(MakeFolder(outside));
    ASSERT_TRUE(WriteFileBytes(JoinPath(outside, "victim.dll"), victim));
    bool atFolder = planted.plant == Plant::StagingFolderLink || planted.plant == Plant::Junction;
    if (!atFolder) {
        ASSERT_TRUE(MakeFolder(scene.stage));
    }
    std::string at = atFolder ? scene.stage : scene.Staged(planted.plant == Plant::HandOverLink ? "currentpath.txt" : "a.dll");
    std::string cannot = PlantCase(planted.plant, at, outside);
    if (!cannot.empty())
        GTEST_SKIP() << cannot;
    std::vector<TestEntry> entries = Payload();
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    Snapshot before = Take(scene.scratch.path(), scene.stage);
    RunLauncher(launcher, scene.temp, &expected);
    EXPECT_EQ(before, Take(scene.scratch.path(), scene.stage)) << "something outside the staging folder changed";
    EXPECT_TRUE(victim == FileBytes(JoinPath(outside, "victim.dll")));
    EXPECT_EQ(std::vector<std::string>{"victim.dll"}, ListFolder(outside));
    if (expected == CommandOutcome::Started) {
        ExpectSetupStartedOnWholeFiles(scene, entries);
#ifndef _WIN32
        EXPECT_TRUE(entries[1].data == FileBytes(scene.Staged("a.dll")));
        EXPECT_EQ(scene.bin, ReadFileText(scene.Staged("currentpath.txt")));
#endif
    } else {
        ExpectNoSetupStarted(scene);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, Planted, testing::ValuesIn(PLANTED),
                         [](const testing::TestParamInfo<PlantedCase>& info) { return std::string(info.param.name); });

TEST(SmallDisk, ADiskThatFillsStopsStagingAndRemovesThePartFile)
{
    const char* disk = getenv("QUORVANE_SMALL_DISK");
    if (disk == nullptr || *disk == '\0')
        GTEST_SKIP() << "no small disk (run through with-small-disk as root)";
    // The disk holds 4 MiB: the setup program and 200 KB fit, 8 MiB do not.
    Scene scene;
    std::string temp = JoinPath(HostPath(disk), "TEMP");
    scene.UseTemp(temp, true);
    std::vector<TestEntry> entries = {{SETUP_NAME, SetupProgram()}, {"a.dll", Pattern(200000, 5)},
                                      {"big.bak", Pattern(8 * 1024 * 1024, 6)}, {"z.txt", {'z'}}};
    std::string launcher = WriteLauncher(scene.bin, LauncherBytes(entries));

    Snapshot outside = Take(scene.scratch.path(), "");
    const CommandOutcome diskFull = CommandOutcome::CannotWrite;  // the user is told to free disk space
    std::string run = RunLauncher(launcher, scene.temp, &diskFull);
    EXPECT_EQ(scene.stage, run);
    EXPECT_EQ(outside, Take(scene.scratch.path(), "")) << "something outside the small disk changed";
    EXPECT_EQ(std::vector<std::string>{"TEMP"}, ListFolder(HostPath(disk)));
    EXPECT_EQ(std::vector<std::string>{STAGE_DIR_NAME}, ListFolder(temp));
    ExpectOnlyWholeFiles(scene, entries);
    EXPECT_TRUE(SetupProgram() == FileBytes(scene.Staged(SETUP_NAME))) << "the setup program is not whole";
    EXPECT_TRUE(PathExists(scene.Staged("a.dll")));
    EXPECT_FALSE(PathExists(scene.Staged("big.bak"))) << "the file that did not fit must be removed";
    EXPECT_FALSE(PathExists(scene.Staged("z.txt")));
    ExpectNoSetupStarted(scene);
    RemoveTree(temp);
}
