// Checking a compressed stream as it is made. The encoder's output goes
// through a pipe to the launcher's own decoder, which runs on a thread of its
// own right behind the encoder (on a machine with a second core, checking
// costs no time). Decoding proves that the stream gives back every byte of
// the payload, and says where each entry's bytes end.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "digest.h"
#include "pack.h"

// The stream on its way from the encoder to the check decoder. With it go the
// entries' filters, each known once the encoder has read the entry's first bytes.
class StreamPipe {
public:
    // The encoder's side.
    void Put(const void* data, size_t size);
    void Decide(size_t entry, uint8_t filter);
    // No more bytes will come: the stream is whole, or the encoder failed.
    void Close();

    // The decoder's side. Waits for bytes; 0 once the pipe is closed and empty.
    size_t Get(unsigned char* buffer, size_t capacity);
    // Waits until the encoder has read entry's first bytes; false when it
    // stopped before.
    bool Filter(size_t entry, uint8_t* filter);

    // Get, as the decoder's StreamInput.
    static size_t Input(void* self, unsigned char* buffer, size_t capacity);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<unsigned char>> m_chunks;
    size_t m_offset = 0;  // bytes of the first chunk already taken
    std::vector<uint8_t> m_filters;
    size_t m_decided = 0;  // entries whose filter is known
    bool m_closed = false;
};

// What decoding the stream, as the launcher will, showed: whether it gives back
// the payload, and where each entry's packed bytes end.
struct StreamCheck {
    PackResult failure;            // the check's own: the encoder's thread records into the build's
    std::vector<uint32_t> packed;  // each entry's stream bytes
    uint64_t consumed = 0;         // stream bytes the decoder took in all
    bool clean = false;            // the stream ended where the last entry did
    unsigned char digest[DIGEST_SIZE] = {};  // of the bytes decoded
};

// Decodes the stream entry by entry, as it comes through the pipe: the
// decoder's position at each entry's end is where that entry's bytes end.
// total is the payload's size, properties the encoder's 5 property bytes.
void CheckStream(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total,
                 const unsigned char* properties, StreamPipe* pipe, StreamCheck* check);
