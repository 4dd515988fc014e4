// Decoding a compressed archive's one LZMA stream, entry by entry: one
// decoder context, allocated once after its dictionary is checked against the
// cap, a fixed input block, and output into the caller's buffer. Entries
// flagged for the x86 branch filter are turned back as they pass.
//
// Used by the reader (compressed.cpp), which feeds each entry's packed bytes
// and nothing more, and by the packer, which feeds the whole stream to learn
// where each entry's bytes end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive.h"

// Reads up to capacity stream bytes into buffer; 0 when nothing more may be read.
typedef size_t (*StreamInput)(void* context, unsigned char* buffer, size_t capacity);

class LzmaStream {
public:
    LzmaStream();
    ~LzmaStream();
    LzmaStream(const LzmaStream&) = delete;
    LzmaStream& operator=(const LzmaStream&) = delete;

    // Judges the 5 property bytes, then allocates the decoder (its state, its
    // input block and a dictionary of the declared size or of unpackedTotal
    // if that is smaller). UnknownArchive for properties out of range,
    // DictionaryTooLarge over LZMA_DICTIONARY_CAP (nothing is allocated for
    // either), OutOfMemory.
    PayloadError Open(const unsigned char* properties, uint64_t unpackedTotal);
    // The next entry: size bytes to produce, through the x86 filter or not.
    void BeginEntry(uint32_t size, bool x86);
    // Produces up to capacity bytes of the entry (capacity above
    // X86_FILTER_LOOKAHEAD), pulling stream bytes through input as needed.
    // Returns 0 once the entry is complete, or on a fault (Error()): damaged
    // data, or input that ran out before the entry's end.
    size_t Read(unsigned char* out, size_t capacity, StreamInput input, void* context);

    bool EntryComplete() const;      // every byte of the entry returned
    uint64_t EntryConsumed() const;  // stream bytes the decoder took for the entry
    size_t Buffered() const;         // bytes read through input but not yet taken
    // True when the stream ends cleanly where the decoder stands: nothing of
    // a match pending, and the range coder at zero.
    bool AtStreamEnd();
    PayloadError Error() const;

private:
    struct State;
    State* m_state;           // allocated by Open once the properties pass
    PayloadError m_refused;   // why Open refused them
};
