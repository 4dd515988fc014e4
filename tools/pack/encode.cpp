#include "encode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "compress.h"
#include "heap.h"
#include "host_files.h"
#include "lzma_heap.h"
#include "stream_check.h"
#include "x86_filter.h"

#include "LzmaEnc.h"

namespace {

const size_t BLOCK_SIZE = 1 << 20;

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

ISzAlloc g_bigAllocator = {AllocateBig, LzmaHeapFree};

struct Feeder {
    ISeqInStream stream;  // first: the encoder hands back its address
    const PackRequest* request;
    const std::vector<PackItem>* items;
    std::vector<uint8_t>* filters;  // filled in as each entry starts
    StreamPipe* pipe;               // told of each entry's filter
    PackResult* result;
    ArchiveDigest* digest;
    HeapPtr<unsigned char> block;
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
        if (p->request->Cancelled())
            return SZ_ERROR_PROGRESS;
        if (p->request->progress != nullptr)
            p->request->progress(in, p->total, p->request->context);
        return SZ_OK;
    }
};

}  // namespace

PackError EncodeStream(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total, FILE* temp,
                       EncodedStream* stream, PackResult* result)
{
    stream->packed.assign(items.size(), 0);
    if (total == 0)
        return PackError::Ok;  // nothing to compress: an empty stream
    ArchiveDigest digest;
    StreamPipe pipe;
    Feeder feeder;
    feeder.stream.Read = Feeder::Read;
    feeder.request = &request;
    feeder.items = &items;
    feeder.filters = &stream->filters;
    feeder.pipe = &pipe;
    feeder.result = result;
    feeder.digest = &digest;
    feeder.block = HeapBlock(BLOCK_SIZE + X86_FILTER_LOOKAHEAD);
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
    CLzmaEncHandle encoder = LzmaEnc_Create(&g_lzmaHeap);
    if (encoder == nullptr)
        return Fail(result, PackError::OutOfMemory, request.output);
    SizeT propertiesSize = LZMA_PROPERTIES_SIZE;
    SRes res = LzmaEnc_SetProps(encoder, &props);
    if (res == SZ_OK)
        res = LzmaEnc_WriteProperties(encoder, stream->properties, &propertiesSize);
    StreamCheck check;
    if (res == SZ_OK) {
        std::thread checker(CheckStream, std::cref(request), std::cref(items), total, stream->properties, &pipe,
                            &check);
        res = LzmaEnc_Encode(encoder, &sink.stream, &feeder.stream, &progress.progress, &g_lzmaHeap, &g_bigAllocator);
        pipe.Close();
        checker.join();
    }
    LzmaEnc_Destroy(encoder, &g_lzmaHeap, &g_bigAllocator);
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
    if (check.failure.error != PackError::Ok)
        return Fail(result, check.failure.error, check.failure.culprit);
    // The stream must give back exactly the payload as it was read.
    unsigned char expected[DIGEST_SIZE];
    digest.Final(expected);
    if (!check.clean || check.consumed != sink.written || memcmp(check.digest, expected, DIGEST_SIZE) != 0)
        return Fail(result, PackError::CompressionFailed, request.output);
    stream->packed = check.packed;
    stream->size = sink.written;
    return PackError::Ok;
}

// Writes the archive's bytes, putting the barrier at PAYLOAD_OFFSET when the
// archive reaches it, and passing everything before the end record to the digest.
