// The stub a build starts from: read whole and judged before anything else.
#include "pack.h"

#include "host_files.h"
#include "pe_image.h"

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
        return FailWithReason(result, PackError::MissingInput, path);
    if (kind != HostPathKind::File)
        return Fail(result, PackError::NotFileOrFolder, path);
    if (size > PAYLOAD_OFFSET)
        return Fail(result, CarriesArchive(path) ? PackError::StubCarriesPayload : PackError::StubTooLarge, path);
    FILE* file = OpenHostFile(path, "rb");
    if (file == nullptr)
        return FailWithReason(result, PackError::ReadFailed, path);
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
    if (CarriesCompressedArchive(path))
        return Fail(result, PackError::StubCarriesCompressed, path);
    result->launcherStub = IsLauncherImage(stub->data(), stub->size());
    return PackError::Ok;
}
