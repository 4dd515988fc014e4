#include "compress.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "compressed.h"
#include "digest.h"
#include "host_files.h"
#include "lzma_stream.h"
#include "pack_fail.h"
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

// The match finder's hash table and binary tree, some 11 times the
// dictionary, are read at random: on Linux they go on huge pages where the
// system has them, which spares the processor most of its address
// translation misses (packing the product-shaped payload took a tenth less
// time). Elsewhere, and for small blocks, plain memory.
void* AllocateBig(void*, size_t size)
{
#ifdef __linux__
    const size_t HUGE_PAGE = 2 << 20;
    if (size >= HUGE_PAGE && size <= SIZE_MAX - HUGE_PAGE) {
        size_t rounded = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
        void* address = nullptr;
        if (posix_memalign(&address, HUGE_PAGE, rounded) != 0)
            return nullptr;
        madvise(address, rounded, MADV_HUGEPAGE);  // a hint: without it, plain pages
        return address;
    }
#endif
    return malloc(size);
}

ISzAlloc g_bigAllocator = {AllocateBig, Release};

// The stream on its way from the encoder to the check decoder, which runs on
// a thread of its own right behind the encoder: on a machine with a second
// core, checking the stream costs no time. With it go the entries' filters,
// each known once the encoder has read the entry's first bytes.
class StreamPipe {
public:
    // The encoder's side.
    void Put(const void* data, size_t size)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chunks.emplace_back(bytes, bytes + size);
        m_changed.notify_one();
    }
    void Decide(size_t entry, uint8_t filter)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_filters.size() <= entry)
            m_filters.resize(entry + 1, ENTRY_FILTER_NONE);
        m_filters[entry] = filter;
        m_decided = entry + 1;
        m_changed.notify_one();
    }
    // No more bytes will come: the stream is whole, or the encoder failed.
    void Close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_changed.notify_one();
    }

    // The decoder's side. Waits for bytes; 0 once the pipe is closed and empty.
    size_t Get(unsigned char* buffer, size_t capacity)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_chunks.empty() || m_closed; });
        size_t done = 0;
        while (done < capacity && !m_chunks.empty()) {
            std::vector<unsigned char>& chunk = m_chunks.front();
            size_t n = std::min(capacity - done, chunk.size() - m_offset);
            memcpy(buffer + done, chunk.data() + m_offset, n);
            done += n;
            m_offset += n;
            if (m_offset == chunk.size()) {
                m_chunks.pop_front();
                m_offset = 0;
            }
        }
        return done;
    }
    // Waits until the encoder has read entry's first bytes; false when it
    // stopped before.
    bool Filter(size_t entry, uint8_t* filter)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_decided > entry || m_closed; });
        if (m_decided <= entry)
            return false;
        *filter = m_filters[entry];
        return true;
    }

    static size_t Input(void* self, unsigned char* buffer, size_t capacity)
    {
        return static_cast<StreamPipe*>(self)->Get(buffer, capacity);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<unsigned char>> m_chunks;
    size_t m_offset = 0;  // bytes of the first chunk already taken
    std::vector<uint8_t> m_filters;
    size_t m_decided = 0;  // entries whose filter is known
    bool m_closed = false;
};

// The encoder's input: every entry's file in turn, each read once, those
// that are x86 images through the filter. The digest sees the bytes as read.
struct Feeder {
    ISeqInStream stream;  // first: the encoder hands back its address
    const PackRequest* request;
    const std::vector<PackItem>* items;
    std::vector<uint8_t>* filters;  // filled in as each entry starts
    StreamPipe* pipe;               // told of each entry's filter
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
            pipe->Decide(index, ENTRY_FILTER_NONE);
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
        if (position == 0 && held == 0) {
            if (IsX86Image(block.get(), got))
                filters->back() = ENTRY_FILTER_X86;
            pipe->Decide(index, filters->back());
        }
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

// The encoder's output: the temporary stream file, and the check decoder.
struct Sink {
    ISeqOutStream stream;
    FILE* file;
    StreamPipe* pipe;
    uint64_t written = 0;

    static size_t Write(void* self, const void* data, size_t size)
    {
        Sink* s = static_cast<Sink*>(self);
        size_t n = fwrite(data, 1, size, s->file);
        s->pipe->Put(data, n);
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

// What decoding the stream, as the launcher will, showed: whether it gives back
// the payload, and where each entry's packed bytes end.
struct StreamCheck {
    PackError error = PackError::Ok;
    std::string culprit;
    std::vector<uint32_t> packed;  // each entry's stream bytes
    uint64_t consumed = 0;         // stream bytes the decoder took in all
    bool clean = false;            // the stream ended where the last entry did
    unsigned char digest[DIGEST_SIZE] = {};  // of the bytes decoded

    void Fail(PackError why, const std::string& what)
    {
        error = why;
        culprit = what;
    }
};

// Decodes the stream entry by entry, as it comes through the pipe: the
// decoder's position at each entry's end is where that entry's bytes end.
void CheckStream(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total,
                 const unsigned char* properties, StreamPipe* pipe, StreamCheck* check)
{
    check->packed.assign(items.size(), 0);
    Block block = NewBlock(BLOCK_SIZE);
    LzmaStream decoder;
    ArchiveDigest digest;
    if (!block || !digest.Valid())
        return check->Fail(PackError::OutOfMemory, request.output);
    PayloadError opened = decoder.Open(properties, total);
    if (opened != PayloadError::Ok)
        return check->Fail(opened == PayloadError::OutOfMemory ? PackError::OutOfMemory : PackError::CompressionFailed,
                           request.output);
    for (size_t i = 0; i < items.size(); ++i) {
        uint8_t filter = ENTRY_FILTER_NONE;
        if (!pipe->Filter(i, &filter))
            return check->Fail(PackError::CompressionFailed, items[i].path);  // the encoder stopped first
        decoder.BeginEntry(static_cast<uint32_t>(items[i].size), filter == ENTRY_FILTER_X86);
        size_t got;
        while ((got = decoder.Read(block.get(), BLOCK_SIZE, StreamPipe::Input, pipe)) > 0)
            digest.Update(block.get(), got);
        if (decoder.Error() != PayloadError::Ok || !decoder.EntryComplete())
            return check->Fail(PackError::CompressionFailed, items[i].path);
        if (decoder.EntryConsumed() > UINT32_MAX)
            return check->Fail(PackError::CompressionFailed, items[i].path);  // cannot be said in 4 bytes
        check->packed[i] = static_cast<uint32_t>(decoder.EntryConsumed());
        check->consumed += decoder.EntryConsumed();
    }
    unsigned char rest[1];
    check->clean = decoder.Buffered() == 0 && decoder.AtStreamEnd() && pipe->Get(rest, sizeof rest) == 0;
    digest.Final(check->digest);
}

// Compresses every entry into temp, and decodes the stream on a second thread
// as it is made; records each entry's filter, the digest of the payload as
// read, and where each entry's packed bytes end.
PackError Encode(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total, FILE* temp,
                 std::vector<uint8_t>* filters, unsigned char* properties, uint64_t* streamSize,
                 std::vector<uint32_t>* packed, PackResult* result)
{
    packed->assign(items.size(), 0);
    if (total == 0)
        return PackError::Ok;  // nothing to compress: an empty stream
    ArchiveDigest digest;
    StreamPipe pipe;
    Feeder feeder;
    feeder.stream.Read = Feeder::Read;
    feeder.request = &request;
    feeder.items = &items;
    feeder.filters = filters;
    feeder.pipe = &pipe;
    feeder.result = result;
    feeder.digest = &digest;
    feeder.block = NewBlock(BLOCK_SIZE + X86_FILTER_LOOKAHEAD);
    Sink sink;
    sink.stream.Write = Sink::Write;
    sink.file = temp;
    sink.pipe = &pipe;
    Progress progress;
    progress.progress.Progress = Progress::Report;
    progress.request = &request;
    progress.total = total;
    if (!feeder.block || !digest.Valid())
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
    StreamCheck check;
    if (res == SZ_OK) {
        std::thread checker(CheckStream, std::cref(request), std::cref(items), total, properties, &pipe, &check);
        res = LzmaEnc_Encode(encoder, &sink.stream, &feeder.stream, &progress.progress, &g_allocator, &g_bigAllocator);
        pipe.Close();
        checker.join();
    }
    LzmaEnc_Destroy(encoder, &g_allocator, &g_bigAllocator);
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
    if (check.error != PackError::Ok)
        return Fail(result, check.error, check.culprit);
    // The stream must give back exactly the payload as it was read.
    unsigned char expected[DIGEST_SIZE];
    digest.Final(expected);
    if (!check.clean || check.consumed != sink.written || memcmp(check.digest, expected, DIGEST_SIZE) != 0)
        return Fail(result, PackError::CompressionFailed, request.output);
    *packed = check.packed;
    *streamSize = sink.written;
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
    unsigned char properties[LZMA_PROPERTIES_SIZE] = {};
    uint64_t streamSize = 0;
    std::vector<uint32_t> packed;
    if (Encode(request, items, total, temp.file, &filters, properties, &streamSize, &packed, result) != PackError::Ok)
        return result->error;
    if (fclose(temp.file) != 0) {
        temp.file = nullptr;
        return FailWithReason(result, PackError::WriteFailed, temp.path);
    }
    temp.file = OpenHostFile(temp.path, "rb");
    if (temp.file == nullptr)
        return FailWithReason(result, PackError::ReadFailed, temp.path);
    filters.resize(items.size(), ENTRY_FILTER_NONE);  // an empty payload was not read at all

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
