// Gathering the payload: the inputs expanded into files, each named in the
// code page, judged and opened once, then put in archive order.
#include "pack.h"

#include <algorithm>
#include <map>

#include "codepage.h"
#include "host_files.h"

namespace {

const uint64_t MAX_ENTRY_SIZE = UINT32_MAX;

bool Excluded(const std::vector<std::string>& excludes, const std::string& path)
{
    std::string name = HostBaseName(path);
    for (const std::string& pattern : excludes)
        if (MatchesGlob(pattern, name))
            return true;
    return false;
}

// Names and checks one file; its name is the last part of its path.
PackError AddFile(const std::string& path, uint64_t size, const HostFileId& id, unsigned codePage,
                  std::vector<PackItem>* items, PackResult* result)
{
    PackItem item;
    item.path = path;
    item.hostName = HostBaseName(path);
    item.size = size;
    item.id = id;
    if (size > MAX_ENTRY_SIZE)
        return Fail(result, PackError::FileTooLarge, path);
    if (!Utf8ToCodePage(codePage, item.hostName, &item.storedName))
        return Fail(result, PackError::NameNotRepresentable, path);
    if (item.storedName.size() > ENTRY_NAME_SIZE - 1)
        return Fail(result, PackError::NameTooLong, path);
    if (item.storedName.find('\0') != std::string::npos || !IsSafeEntryName(item.storedName.c_str())) {
        if (IsSafeEntryName(item.hostName.c_str()) &&
            FindUnsafeTrailByte(codePage, item.hostName, &result->character, &result->encoded))
            return Fail(result, PackError::UnsafeTrailByte, path);
        return Fail(result, PackError::UnsafeName, path);
    }
    // Found unreadable now rather than after the stub and filler are written.
    FILE* file = OpenHostFile(path, "rb");
    if (file == nullptr)
        return FailWithReason(result, PackError::ReadFailed, path);
    fclose(file);
    if (IsStrayFileName(item.hostName))
        result->strays.push_back(path);
    if (IsHandOverName(item.storedName))
        result->handOver = path;
    items->push_back(item);
    return PackError::Ok;
}

}  // namespace

PackError CollectPackItems(const std::vector<std::string>& inputs, unsigned codePage,
                           std::vector<PackItem>* items, PackResult* result,
                           const std::vector<std::string>& excludes)
{
    items->clear();
    result->strays.clear();
    result->handOver.clear();
    for (const std::string& input : inputs) {
        uint64_t size = 0;
        HostFileId id;
        HostPathKind kind = StatHostPath(input, &size, &id);
        if (kind == HostPathKind::Missing)
            return FailWithReason(result, PackError::MissingInput, input);
        if (kind == HostPathKind::Other)
            return Fail(result, PackError::NotFileOrFolder, input);
        if (kind == HostPathKind::File) {
            if (!Excluded(excludes, input) && AddFile(input, size, id, codePage, items, result) != PackError::Ok)
                return result->error;
            continue;
        }
        std::vector<std::string> names;
        if (!ListHostFolder(input, &names))
            return FailWithReason(result, PackError::ReadFailed, input);
        std::sort(names.begin(), names.end());  // the first fault found never depends on the directory
        for (const std::string& name : names) {
            std::string path = JoinHostPath(input, name);
            if (Excluded(excludes, path))
                continue;
            kind = StatHostPath(path, &size, &id);
            if (kind == HostPathKind::Missing)
                return FailWithReason(result, PackError::MissingInput, path);
            if (kind == HostPathKind::Folder)
                return Fail(result, PackError::NestedFolder, path);
            if (kind != HostPathKind::File)
                return Fail(result, PackError::NotFileOrFolder, path);
            if (AddFile(path, size, id, codePage, items, result) != PackError::Ok)
                return result->error;
        }
    }

    std::map<std::string, const PackItem*> seen;
    for (const PackItem& item : *items) {
        auto inserted = seen.emplace(CaseInsensitiveKey(item.hostName), &item);
        if (!inserted.second)
            return FailPair(result, PackError::DuplicateName, inserted.first->second->path, item.path);
    }
    std::sort(items->begin(), items->end(), [](const PackItem& a, const PackItem& b) {
        return PackOrderLess(a.storedName, b.storedName);
    });
    return PackError::Ok;
}
