#include "output.h"

#include "host_files.h"

namespace {

// The file at path, when it is one, has the identity id.
bool IsFile(const std::string& path, const HostFileId& id)
{
    HostFileId found;
    return StatHostPath(path, nullptr, &found) == HostPathKind::File && found == id;
}

}  // namespace

OutputClash FindOutputClash(const std::string& output, const std::string& stub, const std::vector<PackItem>& items,
                            const std::vector<std::string>& files, const std::vector<std::string>& folders)
{
    OutputClash clash;
    HostFileId out, id;
    HostPathKind kind = StatHostPath(output, nullptr, &out);
    if (kind == HostPathKind::Folder || kind == HostPathKind::Other) {
        clash.kind = OutputClash::NotAFile;
        return clash;
    }
    if (kind == HostPathKind::File) {
        if (IsFile(stub, out)) {
            clash.kind = OutputClash::Stub;
            return clash;
        }
        for (const PackItem& item : items)
            if (item.id == out) {
                clash = {OutputClash::Input, item.path};
                return clash;
            }
        for (const std::string& file : files)
            if (IsFile(file, out)) {
                clash = {OutputClash::Input, file};
                return clash;
            }
    }
    std::vector<std::pair<HostFileId, std::string>> inside;
    for (const std::string& folder : folders)
        if (StatHostPath(folder, nullptr, &id) == HostPathKind::Folder)
            inside.emplace_back(id, folder);
    if (inside.empty())
        return clash;
    // Up from the output's folder to the root, which is its own parent.
    std::string folder = HostFolderOf(output);
    HostFileId previous;
    for (unsigned depth = 0; depth < 256; ++depth) {
        if (StatHostPath(folder, nullptr, &id) != HostPathKind::Folder || (depth > 0 && id == previous))
            break;
        for (const auto& input : inside)
            if (input.first == id) {
                clash = {OutputClash::InsideFolder, input.second};
                return clash;
            }
        previous = id;
        folder = JoinHostPath(folder, "..");
    }
    return clash;
}

PackError WriteBeside(const std::string& output, const std::function<PackError(FILE*)>& write,
                      const PackRequest* request, PackResult* result, bool program)
{
    FILE* out = nullptr;
    std::string reason;
    std::string temp = CreateTempBeside(output, &out, &reason, program);
    if (temp.empty()) {
        Fail(result, PackError::CannotCreateOutput, output);
        result->reason = reason;
        return result->error;
    }
    PackError error = write(out);
    if (error == PackError::Ok && !SyncHostFile(out))
        error = FailWithReason(result, PackError::WriteFailed, output);
    if (fclose(out) != 0 && error == PackError::Ok)
        error = FailWithReason(result, PackError::WriteFailed, output);
    if (error == PackError::Ok && request != nullptr && request->Cancelled())
        error = Fail(result, PackError::Interrupted, output);
    if (error == PackError::Ok && !RenameHostFile(temp, output))
        error = FailWithReason(result, PackError::CannotCreateOutput, output);
    if (error != PackError::Ok)
        RemoveHostFile(temp);
    return error;
}
