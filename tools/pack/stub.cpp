// The stub a build starts from: found beside the packer when none is named,
// read whole and judged before anything else.
#include "pack.h"

#include "host_files.h"
#include "pe_headers.h"
#include "pe_image.h"

namespace {

// The note a build tree leaves beside its packer, naming its stub.
const char BUILD_TREE_NOTE[] = "quorvane-pack.stub.txt";
const uint64_t MAX_NOTE_SIZE = 4096;

// folder joined with a relative path written with '/', each ".." taking off
// one folder: the packer's folder comes with its links resolved, so this is
// where the path leads.
std::string FollowRelative(std::string folder, const std::string& relative)
{
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        std::string part = relative.substr(start, end - start);
        if (part == "..")
            folder = HostFolderOf(folder);
        else if (!part.empty() && part != ".")
            folder = JoinHostPath(folder, part);
        start = end + 1;
    }
    return folder;
}

// The stub the note in folder names (a path relative to that folder, with
// '/'), or "" when there is no readable note.
std::string ReadBuildTreeNote(const std::string& folder)
{
    std::string note = JoinHostPath(folder, BUILD_TREE_NOTE);
    uint64_t size = 0;
    if (StatHostPath(note, &size) != HostPathKind::File || size > MAX_NOTE_SIZE)
        return std::string();
    FILE* file = OpenHostFile(note, "rb");
    if (file == nullptr)
        return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    bool read = size == 0 || fread(&text[0], 1, text.size(), file) == text.size();
    fclose(file);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (!read || text.empty())
        return std::string();
    return FollowRelative(folder, text);
}

// Where a signed image's certificate table starts.
bool FindStubCertificateTable(const unsigned char* image, size_t size, uint32_t* offset)
{
    PeHeaders headers;
    if (!ParsePeHeaders(image, size, &headers) || headers.directoryCount <= PE_DIRECTORY_SECURITY ||
        headers.directories[PE_DIRECTORY_SECURITY].size == 0)
        return false;
    *offset = headers.directories[PE_DIRECTORY_SECURITY].address;
    return true;
}

}  // namespace

bool FindInstalledStub(const std::string& packer, std::string* stub, std::vector<std::string>* tried)
{
    tried->clear();
    if (packer.empty())
        return false;
    std::string folder = HostFolderOf(packer);
    // bin/quorvane-pack and share/quorvane/Quorvane.exe under one prefix.
    std::string installed = FollowRelative(folder, "../share/quorvane/Quorvane.exe");
    tried->push_back(installed);
    if (StatHostPath(installed, nullptr) == HostPathKind::File) {
        *stub = installed;
        return true;
    }
    std::string built = ReadBuildTreeNote(folder);
    tried->push_back(built.empty() ? JoinHostPath(folder, BUILD_TREE_NOTE) : built);
    if (!built.empty() && StatHostPath(built, nullptr) == HostPathKind::File) {
        *stub = built;
        return true;
    }
    return false;
}

bool CarriesArchive(const std::string& path)
{
    PayloadReader reader;
    PayloadEntryHeader header;
    bool carries = OpenPayload(&reader, path.c_str()) == PayloadError::Ok && NextPayloadEntry(&reader, &header);
    ClosePayload(&reader);
    return carries;
}

bool CarriesCompressedArchive(const std::string& path)
{
    PayloadReader reader;
    bool compressed = OpenPayload(&reader, path.c_str()) == PayloadError::Ok && reader.compressed != nullptr;
    ClosePayload(&reader);
    return compressed;
}

PackError ReadStub(const std::string& path, bool force, std::vector<unsigned char>* stub,
                   PackResult* result)
{
    uint64_t size = 0;
    HostPathKind kind = StatHostPath(path, &size);
    if (kind == HostPathKind::Missing)
        return FailWithReason(result, PackError::CannotOpenStub, path);
    if (kind != HostPathKind::File)
        return Fail(result, PackError::CannotOpenStub, path,
                    kind == HostPathKind::Folder ? "a folder, not a file" : "not a regular file");
    if (size > PAYLOAD_OFFSET)
        return Fail(result, CarriesArchive(path) ? PackError::StubCarriesPayload : PackError::StubTooLarge, path);
    FILE* file = OpenHostFile(path, "rb");
    if (file == nullptr)
        return FailWithReason(result, PackError::CannotOpenStub, path);
    stub->resize(static_cast<size_t>(size));
    PackError error = PackError::Ok;
    if (size > 0 && fread(stub->data(), 1, stub->size(), file) != stub->size())
        error = ferror(file) ? FailWithReason(result, PackError::ReadFailed, path)
                             : Fail(result, PackError::InputChanged, path);
    else if (fgetc(file) != EOF)
        error = Fail(result, PackError::InputChanged, path);
    fclose(file);
    if (error != PackError::Ok)
        return error;
    if (!force && !HasPeSignatures(stub->data(), stub->size()))
        return Fail(result, PackError::StubWithoutSignatures, path);
    // A signature covers the image as it is: the archive after it would break
    // it, and a compressed archive's end record, which readers look for before
    // the certificate table, would never be found.
    uint32_t certificates = 0;
    if (FindStubCertificateTable(stub->data(), stub->size(), &certificates))
        return Fail(result, PackError::StubSigned, path, "at " + HexNumber(certificates));
    if (CarriesCompressedArchive(path))
        return Fail(result, PackError::StubCarriesCompressed, path);
    result->launcherStub = IsLauncherImage(stub->data(), stub->size());
    return PackError::Ok;
}
