#include "launch_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "archive.h"
#include "platform.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace testing_support {

std::string HostPath(const std::string& path)
{
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
        std::string windows = "Z:" + path;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        return windows;
    }
#endif
    return path;
}

Bytes FileBytes(const std::string& path)
{
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(HostPath(path), &bytes)) << path;
    return bytes;
}

Bytes ProgramImage(const std::string& buildPath)
{
    Bytes image = FileBytes(buildPath);
    EXPECT_FALSE(image.empty()) << buildPath;
    return image;
}

void MakeExecutable(const std::string& path)
{
#ifndef _WIN32
    chmod(path.c_str(), 0755);
#else
    (void)path;
#endif
}

std::string PackStandIn(const std::string& name, const std::string& folder,
                        const std::vector<TestEntry>& entries, const Bytes& tail)
{
#ifdef _WIN32
    std::string fileName = name + ".exe";
#else
    std::string fileName = name;
#endif
    Bytes image;
    EXPECT_TRUE(ReadFileBytes(JoinPath(OwnFolder(), fileName), &image)) << fileName;
    EXPECT_LT(image.size(), PAYLOAD_OFFSET);
    std::string launcher = JoinPath(folder, fileName);
    EXPECT_TRUE(WriteFileBytes(launcher, MakeLauncherBytes(image, entries, tail)));
    MakeExecutable(launcher);
    return launcher;
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds limit)
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (!PathExists(path)) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string WorkingFolder()
{
    char path[4096] = {};
#ifdef _WIN32
    GetCurrentDirectoryA(sizeof path, path);
#else
    if (getcwd(path, sizeof path) == nullptr)
        return std::string();
#endif
    return path;
}

}  // namespace testing_support
