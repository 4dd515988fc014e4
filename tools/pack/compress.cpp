#include "compress.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "digest.h"
#include "encode.h"
#include "heap.h"
#include "host_files.h"
#include "payload_formats.h"
#include "pe_headers.h"
#include "pe_image.h"
#include "platform.h"

namespace {

const size_t BLOCK_SIZE = 1 << 20;
const uint32_t SMALLEST_DICTIONARY = 1 << 12;

// A temporary file beside the output, removed when done with.
struct TempFile {
    std::string path;
    FILE* file = nullptr;
    ~TempFile()
    {
        if (file != nullptr)
            fclose(file);
        if (!path.empty())
            RemoveHostFile(path);
    }
};

// Writes the archive's bytes, putting the barrier at PAYLOAD_OFFSET when the
// archive reaches it, and passing everything before the end record to the digest.
class ArchiveWriter {
public:
    ArchiveWriter(const PackRequest& request, FILE* out, uint64_t start, bool barrier, PackResult* result)
        : request_(request), out_(out), pos_(start), barrier_(barrier), result_(result)
    {
    }

    // Writes the barrier if it is due here.
    bool PassBarrier()
    {
        if (!barrier_ || pos_ != PAYLOAD_OFFSET)
            return true;
        barrier_ = false;
        unsigned char raw[BARRIER_SIZE];
        MakeBarrier(raw);
        return Write(raw, sizeof raw, true);
    }

    bool Put(const void* bytes, size_t count, bool digest = true)
    {
        const unsigned char* data = static_cast<const unsigned char*>(bytes);
        while (count > 0) {
            if (!PassBarrier())
                return false;
            size_t n = count;
            if (barrier_ && pos_ < PAYLOAD_OFFSET && PAYLOAD_OFFSET - pos_ < n)
                n = static_cast<size_t>(PAYLOAD_OFFSET - pos_);
            if (!Write(data, n, digest))
                return false;
            data += n;
            count -= n;
        }
        return true;
    }

    uint64_t Position() const { return pos_; }
    ArchiveDigest& Digest() { return digest_; }

private:
    bool Write(const unsigned char* data, size_t count, bool digest)
    {
        if (request_.Cancelled()) {
            Fail(result_, PackError::Interrupted, request_.output);
            return false;
        }
        if (fwrite(data, 1, count, out_) != count) {
            FailWithReason(result_, PackError::WriteFailed, request_.output);
            return false;
        }
        if (digest)
            digest_.Update(data, count);
        pos_ += count;
        return true;
    }

    const PackRequest& request_;
    FILE* out_;
    uint64_t pos_;
    bool barrier_;
    PackResult* result_;
    ArchiveDigest digest_;
};

}  // namespace

uint32_t CompressionDictionary(uint64_t payloadSize)
{
    return static_cast<uint32_t>(std::max<uint64_t>(SMALLEST_DICTIONARY, std::min<uint64_t>(payloadSize, LZMA_DICTIONARY_CAP)));
}

bool StubListsFormat(const unsigned char* image, size_t size, const char* format)
{
    std::string formats;
    if (!FindVersionString(image, size, PAYLOAD_FORMATS_KEY, &formats))
        return false;
    std::istringstream words(formats);
    std::string word;
    while (words >> word)
        if (word == format)
            return true;
    return false;
}

bool StubReadsCompressed(const unsigned char* image, size_t size)
{
    return StubListsFormat(image, size, PAYLOAD_FORMAT_LZMA);
}

bool IsX86Image(const unsigned char* bytes, size_t size)
{
    PeHeaders headers;
    return ParsePeHeaders(bytes, size, &headers) &&
           (headers.machine == PE_MACHINE_I386 || headers.machine == PE_MACHINE_AMD64);
}

PackError WriteCompressedArchive(const PackRequest& request, const std::vector<PackItem>& items, FILE* out,
                                 uint64_t start, PackResult* result)
{
    uint64_t total = 0;
    for (const PackItem& item : items)
        total += item.size;

    // The stream goes to a file of its own first: each entry's header, which
    // says how many bytes follow, must be written before them.
    TempFile temp;
    std::string reason;
    temp.path = CreateTempBeside(request.output, &temp.file, &reason);
    if (temp.path.empty()) {
        Fail(result, PackError::CannotCreateOutput, request.output);
        result->reason = reason;
        return result->error;
    }
    EncodedStream stream;
    if (EncodeStream(request, items, total, temp.file, &stream, result) != PackError::Ok)
        return result->error;
    if (fclose(temp.file) != 0) {
        temp.file = nullptr;
        return FailWithReason(result, PackError::WriteFailed, temp.path);
    }
    temp.file = OpenHostFile(temp.path, "rb");
    if (temp.file == nullptr)
        return FailWithReason(result, PackError::ReadFailed, temp.path);
    stream.filters.resize(items.size(), ENTRY_FILTER_NONE);  // an empty payload was not read at all

    // The layout, known in full before the first byte. The reader puts the
    // barrier where the end record lies: without a barrier it would lie right
    // after the content, and one that is due only moves it further on.
    uint64_t content = COMPRESSED_HEADER_SIZE + stream.size + COMPRESSED_ENTRY_SIZE * static_cast<uint64_t>(items.size());
    bool sound = true;
    bool barrier = BarrierOffset(start, start + content, &sound) != 0;
    uint64_t padding = barrier && start + content < PAYLOAD_OFFSET ? PAYLOAD_OFFSET - (start + content) : 0;

    ArchiveWriter writer(request, out, start, barrier, result);
    if (!writer.Digest().Valid())
        return Fail(result, PackError::OutOfMemory, request.output);
    CompressedHeader header;
    header.version = COMPRESSED_VERSION;
    header.codec = COMPRESSED_CODEC_LZMA;
    header.entries = static_cast<uint32_t>(items.size());
    memcpy(header.properties, stream.properties, LZMA_PROPERTIES_SIZE);
    header.unpacked = total;
    unsigned char raw[COMPRESSED_ENTRY_SIZE];
    EncodeCompressedHeader(header, raw);
    if (!writer.Put(raw, COMPRESSED_HEADER_SIZE))
        return result->error;
    HeapPtr<unsigned char> block = HeapBlock(BLOCK_SIZE);
    if (!block)
        return Fail(result, PackError::OutOfMemory, request.output);
    if (SeekFile(temp.file, 0) != 0)
        return FailWithReason(result, PackError::ReadFailed, temp.path);
    for (size_t i = 0; i < items.size(); ++i) {
        if (request.entryStarted != nullptr)
            request.entryStarted(items[i], writer.Position(), request.context);
        CompressedEntry entry;
        memcpy(entry.name, items[i].storedName.c_str(), items[i].storedName.size() + 1);
        entry.unpacked = static_cast<uint32_t>(items[i].size);
        entry.packed = stream.packed[i];
        entry.method = ENTRY_METHOD_LZMA;
        entry.filter = stream.filters[i];
        EncodeCompressedEntry(entry, raw);
        if (!writer.Put(raw, COMPRESSED_ENTRY_SIZE))
            return result->error;
        for (uint32_t left = stream.packed[i]; left > 0;) {
            size_t want = std::min<size_t>(left, BLOCK_SIZE);
            if (fread(block.get(), 1, want, temp.file) != want)
                return FailWithReason(result, PackError::ReadFailed, temp.path);
            if (!writer.Put(block.get(), want))
                return result->error;
            left -= static_cast<uint32_t>(want);
        }
        ++result->entries;
        result->dataBytes += items[i].size;
    }
    memset(raw, 0, sizeof raw);
    if (padding > 0 && !writer.Put(raw, static_cast<size_t>(padding)))
        return result->error;
    // The record never straddles the barrier: when it is what reaches the
    // payload offset, the barrier comes first.
    if (!writer.PassBarrier())
        return result->error;
    IntegrityRecord record;
    record.version = END_RECORD_VERSION;
    record.algorithm = INTEGRITY_XXH3_128;
    record.entries = result->entries;
    unsigned char end[END_RECORD_SIZE];
    record.length = writer.Position() - start;
    writer.Digest().Final(record.digest);
    EncodeEndRecord(record, start, end);
    if (!writer.Put(end, sizeof end, false))
        return result->error;
    result->packedBytes = stream.size;
    result->outputSize = writer.Position();
    return PackError::Ok;
}
