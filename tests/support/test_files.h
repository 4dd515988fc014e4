// File helpers for tests that run natively and under Wine alike.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// A fresh, empty folder under the temporary folder; removed with its content
// when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

std::string JoinPath(const std::string& folder, const std::string& name);
bool WriteFileBytes(const std::string& path, const Bytes& bytes);
bool WriteFileText(const std::string& path, const std::string& text);
bool ReadFileBytes(const std::string& path, Bytes* bytes);
std::string ReadFileText(const std::string& path);
bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
bool MakeFolder(const std::string& path);
void RemoveTree(const std::string& path);
// Names in a folder, sorted bytewise; "." and ".." left out.
std::vector<std::string> ListFolder(const std::string& path);
// Full path of the running executable.
std::string OwnExecutable();
// The folder that holds this test executable's companions (the build dir).
std::string OwnFolder();
Bytes Pattern(size_t size, unsigned seed);

// An entry to lay into a test launcher file: stored name and data.
struct TestEntry {
    std::string name;
    Bytes data;
};

// Builds a launcher file's bytes: image (or a small fake one), filler up to
// the payload offset, then the entries. A raw tail may follow.
Bytes MakeLauncherBytes(const Bytes& image, const std::vector<TestEntry>& entries,
                        const Bytes& tail = Bytes());
// A PE32 image with headers up to 0x200 and one section whose raw data ends
// at imageEnd. With a certificate table, its security directory points there.
Bytes MinimalPeImage(uint32_t imageEnd, uint32_t certOffset = 0, uint32_t certSize = 0);
// Raw 132-byte header with the given name bytes (up to 128) and size field.
Bytes RawHeader(const std::string& nameField, uint32_t size);

// Runs a program with arguments and waits; returns its exit code, or -1.
// Environment entries NAME=VALUE are added for the child only.
int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env = {});

}  // namespace testing_support
