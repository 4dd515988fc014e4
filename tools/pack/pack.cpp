#include "pack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "codepage.h"
#include "compress.h"
#include "digest.h"
#include "host_files.h"
#include "pack_fail.h"
#include "pe_image.h"
#include "platform.h"
#include "utf.h"

namespace {

const size_t COPY_BUFFER_SIZE = 1 << 20;
const uint64_t MAX_ENTRY_SIZE = UINT32_MAX;

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f != nullptr)
            fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};

// A double-byte character can end in a byte that the bytewise name check
// refuses ('\\' or '|'), which on a system with another ANSI code page would
// be read as that character. Finds the first such character of a name.
bool FindUnsafeTrailByte(unsigned codePage, const std::string& utf8, std::string* character,
                         std::string* encoded)
{
    for (size_t i = 0; i < utf8.size();) {
        size_t n = std::min(Utf8SequenceLength(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
        std::string one = utf8.substr(i, n), bytes;
        i += n;
        if (!Utf8ToCodePage(codePage, one, &bytes) || bytes.size() < 2)
            continue;
        for (size_t k = 1; k < bytes.size(); ++k) {
            unsigned char c = static_cast<unsigned char>(bytes[k]);
            if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) {
                *character = one;
                *encoded = bytes;
                return true;
            }
        }
    }
    return false;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Cancelled(const PackRequest& request)
{
    return request.cancel != nullptr && *request.cancel != 0;
}

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
    FilePtr file(OpenHostFile(path, "rb"));
    if (!file)
        return FailWithReason(result, PackError::ReadFailed, path);
    if (IsStrayFileName(item.hostName))
        result->strays.push_back(path);
    items->push_back(item);
    return PackError::Ok;
}

}  // namespace

const char* PackErrorText(PackError error)
{
    switch (error) {
#define PACK_ERROR_TEXT(name, text) \
    case PackError::name:           \
        return text;
        PACK_ERRORS(PACK_ERROR_TEXT)
#undef PACK_ERROR_TEXT
    }
    return "unknown error";
}

bool PackOrderLess(const std::string& a, const std::string& b)
{
    size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
        unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;  // equal ignoring case: bytewise, so 'B' comes before 'b'
}

const Edition EDITIONS[EDITION_COUNT] = {
    {"Simplified Chinese", "ZelkSetupGb.exe", true},
    {"Traditional Chinese", "ZelkSetupbig5.exe", true},
    {"English", "ZelkSetupEnglish.exe", false},
};

unsigned FindEditions(const std::vector<std::string>& storedNames)
{
    unsigned found = 0;
    for (const std::string& name : storedNames)
        for (size_t i = 0; i < EDITION_COUNT; ++i) {
            const char* program = EDITIONS[i].program;
            if (name.size() == strlen(program) &&
                std::equal(name.begin(), name.end(), program,
                           [](char a, char b) { return AsciiLower(a) == AsciiLower(b); }))
                found |= 1u << i;
        }
    return found;
}

bool CanStartAnEdition(unsigned editions)
{
    for (size_t i = 0; i < EDITION_COUNT; ++i)
        if (EDITIONS[i].offered && (editions & (1u << i)))
            return true;
    return false;
}

bool MatchesGlob(const std::string& pattern, const std::string& name)
{
    // Iterative, with one point to come back to after the last '*'.
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        size_t length = Utf8SequenceLength(static_cast<unsigned char>(name[n]));
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += length;
        } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            starN += Utf8SequenceLength(static_cast<unsigned char>(name[starN]));
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool IsStrayFileName(const std::string& name)
{
    static const char* const strays[] = {"Thumbs.db", "ehthumbs.db", "desktop.ini", ".DS_Store", "._*",
                                         "*~", "#*#", ".#*", "*.swp", "*.swo", "*.swx", "*.orig",
                                         "*.rej"};
    for (const char* pattern : strays)
        if (MatchesGlob(pattern, name))
            return true;
    return false;
}

PackError CollectPackItems(const std::vector<std::string>& inputs, unsigned codePage,
                           std::vector<PackItem>* items, PackResult* result,
                           const std::vector<std::string>& excludes)
{
    items->clear();
    result->strays.clear();
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
            return Fail(result, PackError::DuplicateName, inserted.first->second->path, item.path);
    }
    std::sort(items->begin(), items->end(), [](const PackItem& a, const PackItem& b) {
        return PackOrderLess(a.storedName, b.storedName);
    });
    return PackError::Ok;
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
    if (size > PAYLOAD_OFFSET) {
        // Told apart from a merely large program by a first entry that reads cleanly.
        PayloadReader reader;
        PayloadEntryHeader header;
        bool carries = OpenPayload(&reader, path.c_str()) == PayloadError::Ok &&
                       NextPayloadEntry(&reader, &header);
        ClosePayload(&reader);
        return Fail(result, carries ? PackError::StubCarriesPayload : PackError::StubTooLarge, path);
    }
    FilePtr file(OpenHostFile(path, "rb"));
    if (!file)
        return FailWithReason(result, PackError::ReadFailed, path);
    stub->resize(static_cast<size_t>(size));
    if (size > 0 && fread(stub->data(), 1, stub->size(), file.get()) != stub->size())
        return ferror(file.get()) ? FailWithReason(result, PackError::ReadFailed, path)
                                  : Fail(result, PackError::InputChanged, path);
    if (fgetc(file.get()) != EOF)
        return Fail(result, PackError::InputChanged, path);
    if (!force && !HasPeSignatures(stub->data(), stub->size()))
        return Fail(result, PackError::StubNotPe, path);
    // A compressed launcher is smaller than the payload offset: only its end
    // record tells it from a bare stub.
    PayloadReader reader;
    bool compressed = OpenPayload(&reader, path.c_str()) == PayloadError::Ok && reader.compressed != nullptr;
    ClosePayload(&reader);
    if (compressed)
        return Fail(result, PackError::StubCarriesArchive, path);
    result->launcherStub = IsLauncherImage(stub->data(), stub->size());
    return PackError::Ok;
}

namespace {

// Writes the launcher into out. Every byte written is counted for progress.
class LauncherWriter {
public:
    LauncherWriter(const PackRequest& request, FILE* out, uint64_t total, PackResult* result)
        : request_(request), out_(out), total_(total), result_(result)
    {
    }

    PackError Write(const std::vector<unsigned char>& stub, const std::vector<PackItem>& items)
    {
        std::unique_ptr<unsigned char, FreeDeleter> buffer(
            static_cast<unsigned char*>(malloc(COPY_BUFFER_SIZE)));
        if (!buffer)
            return Fail(result_, PackError::WriteFailed, request_.output);
        buffer_ = buffer.get();

        if (!Put(stub.data(), stub.size()))
            return result_->error;
        if (request_.compression == PackCompression::Lzma)
            return WriteCompressedArchive(request_, items, out_, done_, result_);
        memset(buffer_, request_.filler, COPY_BUFFER_SIZE);
        uint64_t filler = PAYLOAD_OFFSET - stub.size();
        while (filler > 0) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(filler, COPY_BUFFER_SIZE));
            if (!Put(buffer_, n))
                return result_->error;
            filler -= n;
        }
        // Every archive byte passes the digest on its way out.
        ArchiveDigest digest;
        if (request_.integrity) {
            if (!digest.Valid())
                return Fail(result_, PackError::WriteFailed, request_.output);
            digest_ = &digest;
        }
        for (const PackItem& item : items) {
            if (request_.entryStarted != nullptr)
                request_.entryStarted(item, done_, request_.context);
            if (CopyEntry(item) != PackError::Ok)
                return result_->error;
            ++result_->entries;
            result_->dataBytes += item.size;
        }
        digest_ = nullptr;
        if (request_.integrity) {
            IntegrityRecord record;
            record.version = INTEGRITY_VERSION;
            record.algorithm = INTEGRITY_XXH3_128;
            record.entries = result_->entries;
            record.length = done_ - PAYLOAD_OFFSET;
            digest.Final(record.digest);
            unsigned char raw[INTEGRITY_RECORD_SIZE];
            EncodeIntegrityRecord(record, raw);
            if (!Put(raw, sizeof raw))
                return result_->error;
        }
        result_->packedBytes = result_->dataBytes;
        result_->outputSize = done_;
        return PackError::Ok;
    }

private:
    bool Put(const void* bytes, size_t count)
    {
        if (Cancelled(request_)) {
            Fail(result_, PackError::Interrupted, request_.output);
            return false;
        }
        if (count > 0 && fwrite(bytes, 1, count, out_) != count) {
            FailWithReason(result_, PackError::WriteFailed, request_.output);
            return false;
        }
        if (digest_ != nullptr)
            digest_->Update(bytes, count);
        done_ += count;
        if (request_.progress != nullptr)
            request_.progress(done_, total_, request_.context);
        return true;
    }

    PackError CopyEntry(const PackItem& item)
    {
        unsigned char header[ENTRY_HEADER_SIZE];
        EncodeEntryHeader(item.storedName.c_str(), static_cast<uint32_t>(item.size), header);
        if (!Put(header, sizeof header))
            return result_->error;
        FilePtr in(OpenHostFile(item.path, "rb"));
        if (!in)
            return FailWithReason(result_, PackError::ReadFailed, item.path);
        setvbuf(in.get(), nullptr, _IONBF, 0);  // whole blocks straight into the buffer
        uint64_t left = item.size;
        while (left > 0) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, COPY_BUFFER_SIZE));
            size_t got = fread(buffer_, 1, want, in.get());
            if (got < want)
                return ferror(in.get()) ? FailWithReason(result_, PackError::ReadFailed, item.path)
                                        : Fail(result_, PackError::InputChanged, item.path);
            if (!Put(buffer_, got))
                return result_->error;
            left -= got;
        }
        // The size in the header was taken before copying; a file that grew
        // since would leave the entry short of its true content.
        if (fgetc(in.get()) != EOF)
            return Fail(result_, PackError::InputChanged, item.path);
        return PackError::Ok;
    }

    const PackRequest& request_;
    FILE* out_;
    uint64_t total_;
    PackResult* result_;
    unsigned char* buffer_ = nullptr;
    ArchiveDigest* digest_ = nullptr;
    uint64_t done_ = 0;
};

}  // namespace

namespace {

// The output must not be the stub or an input, nor lie in a payload folder
// (where it would be packed into the next build). Compared by file identity,
// so links and other spellings of the same path are caught too.
PackError CheckOutput(const PackRequest& request, const std::vector<PackItem>& items, PackResult* result)
{
    HostFileId out, id;
    HostPathKind kind = StatHostPath(request.output, nullptr, &out);
    if (kind == HostPathKind::Folder || kind == HostPathKind::Other)
        return Fail(result, PackError::OutputNotFile, request.output);
    if (kind == HostPathKind::File) {
        if (StatHostPath(request.stub, nullptr, &id) == HostPathKind::File && id == out)
            return Fail(result, PackError::OutputIsStub, request.output, request.stub);
        for (const PackItem& item : items)
            if (item.id == out)
                return Fail(result, PackError::OutputIsInput, request.output, item.path);
        for (const std::string& input : request.inputs)
            if (StatHostPath(input, nullptr, &id) == HostPathKind::File && id == out)
                return Fail(result, PackError::OutputIsInput, request.output, input);
    }
    std::vector<std::pair<HostFileId, std::string>> folders;
    for (const std::string& input : request.inputs)
        if (StatHostPath(input, nullptr, &id) == HostPathKind::Folder)
            folders.emplace_back(id, input);
    if (folders.empty())
        return PackError::Ok;
    // Up from the output's folder to the root, which is its own parent.
    std::string folder = HostFolderOf(request.output);
    HostFileId previous;
    for (unsigned depth = 0; depth < 256; ++depth) {
        if (StatHostPath(folder, nullptr, &id) != HostPathKind::Folder || (depth > 0 && id == previous))
            break;
        for (const auto& input : folders)
            if (input.first == id)
                return Fail(result, PackError::OutputInInputFolder, request.output, input.second);
        previous = id;
        folder = JoinHostPath(folder, "..");
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
        if (CheckBrandOutput(request.output, request.stub, *request.brand, &result->brand) != BrandError::Ok ||
            BrandImage(*request.brand, request.stub, &stub, &result->brand) != BrandError::Ok)
            return Fail(result, PackError::BrandRefused, request.stub);
        result->launcherStub = IsLauncherImage(stub.data(), stub.size());
    }
    // A launcher that cannot read its archive would only ever say it is damaged.
    if (request.compression == PackCompression::Lzma && !StubReadsCompressed(stub.data(), stub.size()))
        return Fail(result, PackError::StubCannotDecompress, request.stub);
    std::vector<PackItem> items;
    if (CollectPackItems(request.inputs, request.codePage, &items, result, request.excludes) != PackError::Ok)
        return result->error;
    if (CheckOutput(request, items, result) != PackError::Ok)
        return result->error;
    std::vector<std::string> names;
    for (const PackItem& item : items)
        names.push_back(item.storedName);
    result->editions = FindEditions(names);
    if (Cancelled(request))
        return Fail(result, PackError::Interrupted, request.output);

    uint64_t total = PAYLOAD_OFFSET;
    for (const PackItem& item : items)
        total += ENTRY_HEADER_SIZE + item.size;
    if (request.integrity)
        total += INTEGRITY_RECORD_SIZE;

    FILE* out = nullptr;
    std::string reason;
    std::string temp = CreateTempBeside(request.output, &out, &reason);
    if (temp.empty()) {
        Fail(result, PackError::CannotCreateOutput, request.output);
        result->reason = reason;
        return result->error;
    }
    setvbuf(out, nullptr, _IONBF, 0);
    LauncherWriter writer(request, out, total, result);
    PackError error = writer.Write(stub, items);
    // On disk before it takes the output's name: a crash after the rename
    // must not leave an output of the right name and the wrong content.
    if (error == PackError::Ok && !SyncHostFile(out))
        error = FailWithReason(result, PackError::WriteFailed, request.output);
    if (fclose(out) != 0 && error == PackError::Ok)
        error = FailWithReason(result, PackError::WriteFailed, request.output);
    if (error == PackError::Ok && Cancelled(request))
        error = Fail(result, PackError::Interrupted, request.output);
    if (error == PackError::Ok && !RenameHostFile(temp, request.output))
        error = FailWithReason(result, PackError::CannotCreateOutput, request.output);
    if (error != PackError::Ok)
        RemoveHostFile(temp);
    return error;
}

std::string EscapeName(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

PayloadError DescribeLauncher(const std::string& path, unsigned codePage, LauncherReport* report)
{
    *report = LauncherReport();
    uint64_t fileSize = 0;
    HostPathKind kind = StatHostPath(path, &fileSize);
    if (kind != HostPathKind::File) {
        report->reason = kind == HostPathKind::Missing ? HostErrorText()
                         : kind == HostPathKind::Folder ? "a folder, not a file"
                                                         : "not a regular file";
        return report->error = PayloadError::CannotOpenLauncher;
    }
    PayloadReader reader;
    if (OpenPayload(&reader, path.c_str()) != PayloadError::Ok) {
        report->reason = HostErrorText();
        return report->error = reader.error;
    }

    FILE* file = reader.file;
    report->fileSize = fileSize;
    report->imageEndKnown = FindImageEnd(file, &report->imageEnd);
    // The launcher's own image lies before the payload offset.
    std::vector<unsigned char> head(static_cast<size_t>(std::min<uint64_t>(fileSize, PAYLOAD_OFFSET)));
    if (SeekFile(file, 0) == 0 && fread(head.data(), 1, head.size(), file) == head.size())
        report->launcherStub = IsLauncherImage(head.data(), head.size());
    report->signedImage = reader.certSize != 0;
    report->certOffset = reader.certOffset;
    report->certSize = reader.certSize;
    report->record = reader.record;
    report->recordOffset = reader.recordOffset;
    report->fillerEnd = std::min<uint64_t>(PAYLOAD_OFFSET, fileSize);
    if (const CompressedHeader* compressed = CompressedArchiveHeader(&reader)) {
        // No filler: the archive follows the image.
        report->compressed = true;
        report->archiveStart = reader.start;
        report->fillerEnd = reader.start;
        report->dictionary = ReadLE32(compressed->properties + 1);
    }

    // The filler is everything from the image's end to the payload offset.
    if (!report->compressed && report->imageEndKnown && report->imageEnd < report->fillerEnd &&
        SeekFile(file, report->imageEnd) == 0) {
        unsigned char chunk[4096];
        uint64_t left = report->fillerEnd - report->imageEnd;
        report->fillerUniform = true;
        bool first = true;
        while (left > 0 && report->fillerUniform) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof chunk));
            if (fread(chunk, 1, want, file) != want) {
                report->fillerUniform = false;
                break;
            }
            if (first)
                report->fillerByte = chunk[0];
            first = false;
            for (size_t i = 0; i < want && report->fillerUniform; ++i)
                report->fillerUniform = chunk[i] == report->fillerByte;
            left -= want;
        }
    }
    if (SeekFile(file, reader.pos) != 0) {
        ClosePayload(&reader);
        return report->error = PayloadError::ReadFailed;
    }

    // With a record to verify every byte is read: in large blocks, not in the
    // reader's small steps over data left unread.
    std::unique_ptr<unsigned char, FreeDeleter> block;
    if (reader.integrity == IntegrityState::Pending)
        block.reset(static_cast<unsigned char*>(malloc(COPY_BUFFER_SIZE)));
    PayloadEntryHeader header = {};
    while (NextPayloadEntry(&reader, &header)) {
        ListedEntry entry;
        entry.storedName = header.name;
        if (!CodePageToUtf8(codePage, entry.storedName, &entry.utf8Name))
            entry.utf8Name.clear();
        entry.size = header.size;
        entry.packedSize = header.packedSize;
        entry.method = header.method;
        entry.filter = header.filter;
        entry.offset = reader.headerOffset;
        report->entries.push_back(entry);
        report->dataBytes += header.size;
        report->packedBytes += header.packedSize;
        if (block)
            while (ReadPayloadData(&reader, block.get(), COPY_BUFFER_SIZE) > 0) {
            }
    }
    std::vector<std::string> names;
    for (const ListedEntry& entry : report->entries)
        names.push_back(entry.storedName);
    report->editions = FindEditions(names);
    report->integrity = reader.integrity;
    // Skipping the last entry's data is where a short file shows.
    report->error = reader.error;
    if (reader.error == PayloadError::ReadFailed)
        report->reason = HostErrorText();
    if (report->compressed && reader.error != PayloadError::Ok && reader.error != PayloadError::ReadFailed &&
        reader.error != PayloadError::IntegrityMismatch) {
        // The entry last begun is at fault, or before any the archive's own header.
        report->errorOffset = reader.entries == 0 ? reader.start : reader.headerOffset;
        if (reader.entries > 0 && reader.error != PayloadError::NameWithoutNul)
            report->errorName = header.name;
        report->archiveEnd = reader.pos;
    } else if (reader.error == PayloadError::TruncatedData && !report->entries.empty()) {
        report->errorOffset = report->entries.back().offset;
        report->errorName = report->entries.back().storedName;
        report->archiveEnd = reader.pos;
    } else if (reader.error == PayloadError::NameWithoutNul || reader.error == PayloadError::UnsafeName) {
        report->errorOffset = reader.headerOffset;
        if (reader.error == PayloadError::UnsafeName)
            report->errorName = header.name;
        report->archiveEnd = report->errorOffset;
    } else if (reader.error == PayloadError::IntegrityMismatch) {
        report->trailing = reader.trailing;
        report->archiveEnd = reader.pos - reader.trailing;
    } else if (report->compressed) {
        report->trailing = reader.trailing;
        report->archiveEnd = reader.pos - reader.trailing;
    } else {
        report->trailing = reader.trailing;
        report->archiveEnd = std::max<uint64_t>(reader.pos, PAYLOAD_OFFSET) - reader.trailing;
    }
    ClosePayload(&reader);
    return report->error;
}

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
