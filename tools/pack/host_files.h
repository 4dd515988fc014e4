// File work on the host that runs the packer. Paths are UTF-8 everywhere: on
// Windows they go through the wide-character API, elsewhere they are bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class HostPathKind { Missing, File, Folder, Other };

// Which file a path names: its device and inode, or on Windows its volume's
// serial number and its file index. Two paths name the same file, through
// links or different spellings, exactly when their ids are equal.
struct HostFileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const HostFileId& other) const { return volume == other.volume && index == other.index; }
    bool operator!=(const HostFileId& other) const { return !(*this == other); }
};

// What path is (following symbolic links), and a file's size and identity
// (each may be null). Missing covers every failure; HostErrorText says why.
HostPathKind StatHostPath(const std::string& path, uint64_t* size, HostFileId* id = nullptr);
// The system's own words for the last failed host call (strerror, or
// FormatMessage on Windows). Read it before making another call.
std::string HostErrorText();
// Writes the stream's data through to the disk (fsync, FlushFileBuffers).
bool SyncHostFile(FILE* file);
FILE* OpenHostFile(const std::string& path, const char* mode);
// Names in a folder, "." and ".." left out, in no particular order.
bool ListHostFolder(const std::string& path, std::vector<std::string>* names);
// Replaces to with from.
bool RenameHostFile(const std::string& from, const std::string& to);
bool RemoveHostFile(const std::string& path);
bool MakeHostFolder(const std::string& path);

// Creates a new, empty file beside target (same folder, hidden-style name)
// opened for binary writing, executable where files have that mark unless
// program is false. Returns its path, or "" when none could be made, with the
// system's reason in *reason.
std::string CreateTempBeside(const std::string& target, FILE** file, std::string* reason, bool program = true);

// The last component of a path (after the final / or, on Windows, \).
std::string HostBaseName(const std::string& path);
std::string HostFolderOf(const std::string& path);
std::string JoinHostPath(const std::string& folder, const std::string& name);
// The running program's own file, links resolved (/proc/self/exe,
// GetModuleFileNameW); "" when the system does not say.
std::string HostProgramPath();

#ifdef _WIN32
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
#endif
