// Extracting a launcher: the launcher's own staging code, with names
// converted from the code page to the host's UTF-8.
#include "pack.h"

#include <cstring>

#include "codepage.h"

namespace {

struct ExtractContext {
    unsigned codePage;
    void (*entryStaged)(const char* name, const PayloadEntryHeader& header, void* context);
    void* context;
};

bool MapToUtf8(const char* stored, char* out, size_t outSize, void* context)
{
    const ExtractContext* extract = static_cast<const ExtractContext*>(context);
    std::string utf8;
    if (!CodePageToUtf8(extract->codePage, stored, &utf8) || utf8.size() + 1 > outSize ||
        !IsSafeEntryName(utf8.c_str()))
        return false;
    memcpy(out, utf8.c_str(), utf8.size() + 1);
    return true;
}

void Staged(const char* name, const PayloadEntryHeader& header, void* context)
{
    const ExtractContext* extract = static_cast<const ExtractContext*>(context);
    if (extract->entryStaged != nullptr)
        extract->entryStaged(name, header, extract->context);
}

}  // namespace

bool ExtractLauncher(const std::string& path, const std::string& dir, unsigned codePage,
                     void (*entryStaged)(const char* name, const PayloadEntryHeader& header, void* context),
                     void* context, StageResult* result)
{
    ExtractContext extract = {codePage, entryStaged, context};
    StageOptions options;
    options.mapName = MapToUtf8;
    options.entryStaged = Staged;
    options.context = &extract;
    return StagePayloadFile(path.c_str(), dir.c_str(), options, result);
}
