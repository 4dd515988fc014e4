#include "stream_check.h"

#include <algorithm>
#include <cstring>

#include "heap.h"
#include "lzma_stream.h"

namespace {

const size_t BLOCK_SIZE = 1 << 20;

}  // namespace

void StreamPipe::Put(const void* data, size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_chunks.emplace_back(bytes, bytes + size);
    m_changed.notify_one();
}

void StreamPipe::Decide(size_t entry, uint8_t filter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_filters.size() <= entry)
        m_filters.resize(entry + 1, ENTRY_FILTER_NONE);
    m_filters[entry] = filter;
    m_decided = entry + 1;
    m_changed.notify_one();
}

void StreamPipe::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_one();
}

size_t StreamPipe::Get(unsigned char* buffer, size_t capacity)
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

bool StreamPipe::Filter(size_t entry, uint8_t* filter)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_decided > entry || m_closed; });
    if (m_decided <= entry)
        return false;
    *filter = m_filters[entry];
    return true;
}

size_t StreamPipe::Input(void* self, unsigned char* buffer, size_t capacity)
{
    return static_cast<StreamPipe*>(self)->Get(buffer, capacity);
}

void CheckStream(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total,
                 const unsigned char* properties, StreamPipe* pipe, StreamCheck* check)
{
    PackResult* failure = &check->failure;
    check->packed.assign(items.size(), 0);
    HeapPtr<unsigned char> block = HeapBlock(BLOCK_SIZE);
    LzmaStream decoder;
    ArchiveDigest digest;
    if (!block || !digest.Valid()) {
        Fail(failure, PackError::OutOfMemory, request.output);
        return;
    }
    PayloadError opened = decoder.Open(properties, total);
    if (opened != PayloadError::Ok) {
        Fail(failure, opened == PayloadError::OutOfMemory ? PackError::OutOfMemory : PackError::CompressionFailed,
             request.output);
        return;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        uint8_t filter = ENTRY_FILTER_NONE;
        if (!pipe->Filter(i, &filter)) {
            Fail(failure, PackError::CompressionFailed, items[i].path);  // the encoder stopped first
            return;
        }
        decoder.BeginEntry(static_cast<uint32_t>(items[i].size), filter == ENTRY_FILTER_X86);
        size_t got;
        while ((got = decoder.Read(block.get(), BLOCK_SIZE, StreamPipe::Input, pipe)) > 0)
            digest.Update(block.get(), got);
        // An entry's packed size must be said in 4 bytes.
        if (decoder.Error() != PayloadError::Ok || !decoder.EntryComplete() || decoder.EntryConsumed() > UINT32_MAX) {
            Fail(failure, PackError::CompressionFailed, items[i].path);
            return;
        }
        check->packed[i] = static_cast<uint32_t>(decoder.EntryConsumed());
        check->consumed += decoder.EntryConsumed();
    }
    unsigned char rest[1];
    check->clean = decoder.Buffered() == 0 && decoder.AtStreamEnd() && pipe->Get(rest, sizeof rest) == 0;
    digest.Final(check->digest);
}
