// A whole build: every input judged and the output checked before a byte is
// written, then the launcher written beside the output and put in its place.
#include "pack.h"

#include "codepage.h"
#include "compress.h"
#include "output.h"
#include "pe_image.h"
#include "stub_pictures.h"
#include "write_stored.h"

namespace {

// The output must not be the stub or an input, nor lie in a payload folder
// (where it would be packed into the next build).
PackError CheckOutput(const PackRequest& request, const std::vector<PackItem>& items, PackResult* result)
{
    OutputClash clash = FindOutputClash(request.output, request.stub, items, request.inputs, request.inputs);
    switch (clash.kind) {
    case OutputClash::None:
        return PackError::Ok;
    case OutputClash::NotAFile:
        return Fail(result, PackError::OutputNotFile, request.output);
    case OutputClash::Stub:
        FailPair(result, PackError::OutputIsStub, request.output, request.stub);
        result->detail = "building would destroy it";
        return result->error;
    case OutputClash::Input:
        return FailPair(result, PackError::OutputIsInput, request.output, clash.with);
    case OutputClash::InsideFolder:
        return FailPair(result, PackError::OutputInInputFolder, request.output, clash.with);
    }
    return PackError::Ok;
}

}  // namespace

PackError BuildLauncher(const PackRequest& request, PackResult* result)
{
    *result = PackResult();
    if (!IsCodePageSupported(request.codePage))
        return Fail(result, PackError::UnsupportedCodePage, std::to_string(request.codePage));
    std::vector<unsigned char> stub;
    if (ReadStub(request.stub, request.force, &stub, result) != PackError::Ok)
        return result->error;
    if (request.brand != nullptr) {
        if (CheckBrandOutput(request.output, request.stub, *request.brand, result) != PackError::Ok ||
            BrandImage(*request.brand, request.stub, &stub, result) != PackError::Ok)
            return result->error;
        result->launcherStub = IsLauncherImage(stub.data(), stub.size());
    }
    // A launcher that cannot read its archive would only ever say it is damaged.
    if (request.compression == PackCompression::Lzma && !StubReadsCompressed(stub.data(), stub.size()))
        return Fail(result, PackError::StubCannotDecompress, request.stub);
    // A compressed launcher's pictures are compressed too, where the stub reads them.
    if (request.compression == PackCompression::Lzma &&
        CompressStubPictures(&stub, request.stub, result) != PackError::Ok)
        return result->error;
    std::vector<PackItem> items;
    if (CollectPackItems(request.inputs, request.codePage, &items, result, request.excludes) != PackError::Ok)
        return result->error;
    if (CheckOutput(request, items, result) != PackError::Ok)
        return result->error;
    std::vector<std::string> names;
    for (const PackItem& item : items)
        names.push_back(item.storedName);
    result->editions = FindEditions(names);
    if (request.Cancelled())
        return Fail(result, PackError::Interrupted, request.output);

    uint64_t total = PAYLOAD_OFFSET;
    for (const PackItem& item : items)
        total += ENTRY_HEADER_SIZE + item.size;
    if (request.integrity)
        total += INTEGRITY_RECORD_SIZE;
    auto write = [&](FILE* out) {
        setvbuf(out, nullptr, _IONBF, 0);
        return WriteLauncher(request, stub, items, out, total, result);
    };
    return WriteBeside(request.output, write, &request, result);
}
