#include "compress.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "compressed.h"
#include "digest.h"
#include "host_files.h"
#include "lzma_stream.h"
#include "payload_formats.h"
#include "pe_headers.h"
#include "pe_image.h"
#include "platform.h"
#include "x86_filter.h"

#include "LzmaEnc.h"

namespace {

const size_t BLOCK_SIZE = 1 << 20;
const uint32_t SMALLEST_DICTIONARY = 1 << 12;

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};
using Block = std::unique_ptr<unsigned char, FreeDeleter>;

Block NewBlock(size_t size)
{
    return Block(static_cast<unsigned char*>(malloc(size)));
}

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f != nullptr)
            fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

PackError Fail(PackResult* result, PackError error, const std::string& culprit)
{
    result->error = error;
    result->culprit = culprit;
    return error;
}

PackError FailWithReason(PackResult* result, PackError error, const std::string& culprit)
{
    std::string reason = HostErrorText();
    Fail(result, error, culprit);
    result->reason = reason;
    return error;
}

bool Cancelled(const PackRequest& request)
{
    return request.cancel != nullptr && *request.cancel != 0;
}

void* Allocate(void*, size_t size)
{
    return malloc(size);
}

void Release(void*, void* address)
{
    free(address);
}

ISzAlloc g_allocator = {Allocate, Release};

// The encoder's input: every entry's file in turn, each read once, those
// that are x86 images through the filter. The digest sees the bytes as read.
struct Feeder {
    ISeqInStream stream;  // first: the encoder hands back its address
    const PackRequest* request;
    const std::vector<PackItem>* items;
    std::vector<uint8_t>* filters;  // filled in as each entry starts
    PackResult* result;
    ArchiveDigest* digest;
    Block block;
    size_t index = 0;      // the entry being read
    FILE* file = nullptr;  // its file, while open
    uint64_t left = 0;     // its bytes not yet read
    uint32_t position = 0; // its bytes final so far: the filter's offset
    size_t ready = 0;      // final bytes at the block's start...
    size_t taken = 0;      // ...of which the encoder has these
    size_t held = 0;       // bytes after them the filter could not yet finish
    uint64_t fed = 0;
    PackError error = PackError::Ok;

    ~Feeder()
    {
        if (file != nullptr)
            fclose(file);
    }

    bool Stop(PackError why)
    {
        error = why;
        return false;
    }

    // Opens the next entry that has bytes to give; false at the end or on a fault.
    bool OpenNext()
    {
        while (index < items->size()) {
            const PackItem& item = (*items)[index];
            file = OpenHostFile(item.path, "rb");
            if (file == nullptr)
                return Stop(FailWithReason(result, PackError::ReadFailed, item.path));
            setvbuf(file, nullptr, _IONBF, 0);
            left = item.size;
            position = 0;
            held = 0;
            filters->push_back(ENTRY_FILTER_NONE);
            if (left > 0)
                return true;
            if (!CloseCurrent())
                return false;
        }
        return false;
    }

    // The entry's file, read to its size, must end there.
    bool CloseCurrent()
    {
        const PackItem& item = (*items)[index];
        bool grew = fgetc(file) != EOF;
        fclose(file);
        file = nullptr;
        ++index;
        if (grew)
            return Stop(Fail(result, PackError::InputChanged, item.path));
        return true;
    }

    // Makes the next final bytes ready at the block's start.
    bool Refill()
    {
        if (file == nullptr && !OpenNext())
            return false;
        const PackItem& item = (*items)[index];
        memmove(block.get(), block.get() + ready, held);
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, BLOCK_SIZE));
        size_t got = fread(block.get() + held, 1, want, file);
        if (got < want)
            return Stop(ferror(file) ? FailWithReason(result, PackError::ReadFailed, item.path)
                                     : Fail(result, PackError::InputChanged, item.path));
        if (position == 0 && held == 0 && IsX86Image(block.get(), got))
            filters->back() = ENTRY_FILTER_X86;
        digest->Update(block.get() + held, got);
        left -= got;
        size_t n = held + got;
        ready = n;
        if (filters->back() == ENTRY_FILTER_X86) {
            size_t converted = X86Convert(block.get(), n, position, true);
            if (left > 0)
                ready = converted;  // the entry's last few bytes stay as they are
        }
        held = n - ready;
        position += static_cast<uint32_t>(ready);
        taken = 0;
        if (left == 0 && !CloseCurrent())
            return false;
        return true;
    }

    static SRes Read(void* self, void* buffer, size_t* size)
    {
        Feeder* f = static_cast<Feeder*>(self);
        while (f->taken == f->ready) {
            if (f->error != PackError::Ok || (f->file == nullptr && f->index == f->items->size())) {
                *size = 0;  // the end of the stream, or a fault the encoder is told of below
                return f->error == PackError::Ok ? SZ_OK : SZ_ERROR_READ;
            }
            if (!f->Refill() && f->error != PackError::Ok) {
                *size = 0;
                return SZ_ERROR_READ;
            }
        }
        size_t n = std::min(*size, f->ready - f->taken);
        memcpy(buffer, f->block.get() + f->taken, n);
        f->taken += n;
        f->fed += n;
        *size = n;
        return SZ_OK;
    }
};

// The encoder's output: the temporary stream file.
struct Sink {
    ISeqOutStream stream;
    FILE* file;
    uint64_t written = 0;

    static size_t Write(void* self, const void* data, size_t size)
    {
        Sink* s = static_cast<Sink*>(self);
        size_t n = fwrite(data, 1, size, s->file);
        s->written += n;
        return n;
    }
};

struct Progress {
    ICompressProgress progress;
    const PackRequest* request;
    uint64_t total;

    static SRes Report(void* self, UInt64 in, UInt64)
    {
        Progress* p = static_cast<Progress*>(self);
        if (Cancelled(*p->request))
            return SZ_ERROR_PROGRESS;
        if (p->request->progress != nullptr)
            p->request->progress(in, p->total, p->request->context);
        return SZ_OK;
    }
};

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

// Compresses every entry into temp; records each entry's filter and the
// digest of the payload as read.
PackError Encode(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total, FILE* temp,
                 std::vector<uint8_t>* filters, ArchiveDigest* digest, unsigned char* properties,
                 uint64_t* streamSize, PackResult* result)
{
    if (total == 0)
        return PackError::Ok;  // nothing to compress: an empty stream
    Feeder feeder;
    feeder.stream.Read = Feeder::Read;
    feeder.request = &request;
    feeder.items = &items;
    feeder.filters = filters;
    feeder.result = result;
    feeder.digest = digest;
    feeder.block = NewBlock(BLOCK_SIZE + X86_FILTER_LOOKAHEAD);
    Sink sink;
    sink.stream.Write = Sink::Write;
    sink.file = temp;
    Progress progress;
    progress.progress.Progress = Progress::Report;
    progress.request = &request;
    progress.total = total;
    if (!feeder.block)
        return Fail(result, PackError::OutOfMemory, request.output);

    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = 9;
    props.dictSize = CompressionDictionary(total);
    props.lc = 3;
    props.lp = 0;
    props.pb = 2;
    props.algo = 1;
    props.fb = 64;
    props.mc = 32;
    props.btMode = 1;
    props.numHashBytes = 4;
    props.writeEndMark = 0;
    props.numThreads = 1;
    CLzmaEncHandle encoder = LzmaEnc_Create(&g_allocator);
    if (encoder == nullptr)
        return Fail(result, PackError::OutOfMemory, request.output);
    SizeT propertiesSize = LZMA_PROPERTIES_SIZE;
    SRes res = LzmaEnc_SetProps(encoder, &props);
    if (res == SZ_OK)
        res = LzmaEnc_WriteProperties(encoder, properties, &propertiesSize);
    if (res == SZ_OK)
        res = LzmaEnc_Encode(encoder, &sink.stream, &feeder.stream, &progress.progress, &g_allocator, &g_allocator);
    LzmaEnc_Destroy(encoder, &g_allocator, &g_allocator);
    if (feeder.error != PackError::Ok)
        return feeder.error;
    if (res == SZ_ERROR_PROGRESS)
        return Fail(result, PackError::Interrupted, request.output);
    if (res == SZ_ERROR_WRITE)
        return FailWithReason(result, PackError::WriteFailed, request.output);
    if (res == SZ_ERROR_MEM)
        return Fail(result, PackError::OutOfMemory, request.output);
    if (res != SZ_OK || feeder.fed != total || feeder.index != items.size())
        return Fail(result, PackError::CompressionFailed, request.output);
    *streamSize = sink.written;
    return PackError::Ok;
}

size_t StreamFileInput(void* context, unsigned char* buffer, size_t capacity)
{
    return fread(buffer, 1, capacity, static_cast<FILE*>(context));
}

// Decodes the stream as the launcher will, entry by entry: the bytes must be
// the payload's, and the decoder's position at each entry's end is where that
// entry's packed bytes end.
PackError Measure(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total,
                  const std::vector<uint8_t>& filters, const unsigned char* properties, FILE* stream,
                  uint64_t streamSize, const unsigned char* expected, std::vector<uint32_t>* packed,
                  PackResult* result)
{
    packed->assign(items.size(), 0);
    if (total == 0)
        return streamSize == 0 ? PackError::Ok : Fail(result, PackError::CompressionFailed, request.output);
    Block block = NewBlock(BLOCK_SIZE);
    LzmaStream decoder;
    ArchiveDigest digest;
    if (!block || !digest.Valid())
        return Fail(result, PackError::OutOfMemory, request.output);
    PayloadError opened = decoder.Open(properties, total);
    if (opened != PayloadError::Ok)
        return Fail(result, opened == PayloadError::OutOfMemory ? PackError::OutOfMemory : PackError::CompressionFailed,
                    request.output);
    uint64_t consumed = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        decoder.BeginEntry(static_cast<uint32_t>(items[i].size), filters[i] == ENTRY_FILTER_X86);
        size_t got;
        while ((got = decoder.Read(block.get(), BLOCK_SIZE, StreamFileInput, stream)) > 0)
            digest.Update(block.get(), got);
        if (decoder.Error() != PayloadError::Ok || !decoder.EntryComplete())
            return Fail(result, PackError::CompressionFailed, items[i].path);
        if (Cancelled(request))
            return Fail(result, PackError::Interrupted, request.output);
        if (decoder.EntryConsumed() > UINT32_MAX)
            return Fail(result, PackError::CompressionFailed, items[i].path);  // cannot be said in 4 bytes
        (*packed)[i] = static_cast<uint32_t>(decoder.EntryConsumed());
        consumed += decoder.EntryConsumed();
    }
    unsigned char decoded[DIGEST_SIZE];
    digest.Final(decoded);
    if (ferror(stream) || consumed != streamSize || decoder.Buffered() != 0 || !decoder.AtStreamEnd() ||
        memcmp(decoded, expected, DIGEST_SIZE) != 0)
        return Fail(result, PackError::CompressionFailed, request.output);
    return PackError::Ok;
}

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
        if (Cancelled(request_)) {
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

bool StubReadsCompressed(const unsigned char* image, size_t size)
{
    std::string formats;
    if (!FindVersionString(image, size, PAYLOAD_FORMATS_KEY, &formats))
        return false;
    std::istringstream words(formats);
    std::string word;
    while (words >> word)
        if (word == PAYLOAD_FORMAT_LZMA)
            return true;
    return false;
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
    std::vector<uint8_t> filters;
    ArchiveDigest payloadDigest;
    if (!payloadDigest.Valid())
        return Fail(result, PackError::OutOfMemory, request.output);
    unsigned char properties[LZMA_PROPERTIES_SIZE] = {};
    uint64_t streamSize = 0;
    if (Encode(request, items, total, temp.file, &filters, &payloadDigest, properties, &streamSize, result) !=
        PackError::Ok)
        return result->error;
    if (fclose(temp.file) != 0) {
        temp.file = nullptr;
        return FailWithReason(result, PackError::WriteFailed, temp.path);
    }
    temp.file = OpenHostFile(temp.path, "rb");
    if (temp.file == nullptr)
        return FailWithReason(result, PackError::ReadFailed, temp.path);
    filters.resize(items.size(), ENTRY_FILTER_NONE);  // an empty payload was not read at all
    unsigned char expected[DIGEST_SIZE];
    payloadDigest.Final(expected);
    std::vector<uint32_t> packed;
    if (Measure(request, items, total, filters, properties, temp.file, streamSize, expected, &packed, result) !=
        PackError::Ok)
        return result->error;

    // The layout, known in full before the first byte: does it reach the payload offset?
    uint64_t content = COMPRESSED_HEADER_SIZE + streamSize + COMPRESSED_ENTRY_SIZE * static_cast<uint64_t>(items.size());
    bool barrier = start <= PAYLOAD_OFFSET && PAYLOAD_OFFSET <= start + content + END_RECORD_SIZE;
    uint64_t padding = barrier && start + content < PAYLOAD_OFFSET ? PAYLOAD_OFFSET - (start + content) : 0;

    ArchiveWriter writer(request, out, start, barrier, result);
    if (!writer.Digest().Valid())
        return Fail(result, PackError::OutOfMemory, request.output);
    CompressedHeader header;
    header.version = COMPRESSED_VERSION;
    header.codec = COMPRESSED_CODEC_LZMA;
    header.entries = static_cast<uint32_t>(items.size());
    memcpy(header.properties, properties, LZMA_PROPERTIES_SIZE);
    header.unpacked = total;
    unsigned char raw[COMPRESSED_ENTRY_SIZE];
    EncodeCompressedHeader(header, raw);
    if (!writer.Put(raw, COMPRESSED_HEADER_SIZE))
        return result->error;
    Block block = NewBlock(BLOCK_SIZE);
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
        entry.packed = packed[i];
        entry.method = ENTRY_METHOD_LZMA;
        entry.filter = filters[i];
        EncodeCompressedEntry(entry, raw);
        if (!writer.Put(raw, COMPRESSED_ENTRY_SIZE))
            return result->error;
        for (uint32_t left = packed[i]; left > 0;) {
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
    result->packedBytes = streamSize;
    result->outputSize = writer.Position();
    return PackError::Ok;
}
