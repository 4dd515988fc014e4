#include "lzma_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "byte_order.h"
#include "compressed.h"
#include "lzma_heap.h"
#include "x86_filter.h"

#include "LzmaDec.h"

namespace {

const size_t INPUT_BLOCK_SIZE = 1 << 16;

}  // namespace

struct LzmaStream::State {
    CLzmaDec decoder;
    bool open = false;
    PayloadError error = PayloadError::Ok;
    unsigned char input[INPUT_BLOCK_SIZE];
    size_t inputPos = 0;
    size_t inputEnd = 0;
    // The current entry.
    uint32_t left = 0;      // bytes still to decode
    uint32_t returned = 0;  // bytes handed out: the filter's offset of what comes next
    bool x86 = false;
    unsigned char held[X86_FILTER_LOOKAHEAD];  // decoded, but the filter could not finish them
    size_t heldSize = 0;
    uint64_t consumed = 0;

    PayloadError Fail(PayloadError why)
    {
        if (error == PayloadError::Ok)
            error = why;
        return error;
    }
};

LzmaStream::LzmaStream() : m_state(nullptr), m_refused(PayloadError::Ok)
{
}

LzmaStream::~LzmaStream()
{
    if (m_state != nullptr && m_state->open)
        LzmaDec_Free(&m_state->decoder, &g_lzmaHeap);
    delete m_state;
}

PayloadError LzmaStream::Open(const unsigned char* properties, uint64_t unpackedTotal)
{
    if (m_state != nullptr || m_refused != PayloadError::Ok)
        return m_refused = PayloadError::UnknownArchive;  // one stream per object
    // Judged before anything is allocated.
    const unsigned MAX_PROPERTIES_BYTE = 9 * 5 * 5;  // lc < 9, lp < 5, pb < 5
    if (properties[0] >= MAX_PROPERTIES_BYTE)
        return m_refused = PayloadError::UnknownArchive;
    uint32_t dictionary = ReadLE32(properties + 1);
    if (dictionary > LZMA_DICTIONARY_CAP)
        return m_refused = PayloadError::DictionaryTooLarge;
    m_state = new (std::nothrow) State;
    if (m_state == nullptr)
        return m_refused = PayloadError::OutOfMemory;
    LzmaDec_Construct(&m_state->decoder);
    // No match reaches further back than the stream is long: a dictionary
    // larger than all the data would never be filled.
    if (dictionary > unpackedTotal)
        dictionary = static_cast<uint32_t>(unpackedTotal);
    unsigned char allocated[LZMA_PROPERTIES_SIZE];
    allocated[0] = properties[0];
    WriteLE32(allocated + 1, dictionary);  // the decoder takes at least 4 KiB
    SRes result = LzmaDec_Allocate(&m_state->decoder, allocated, LZMA_PROPERTIES_SIZE, &g_lzmaHeap);
    if (result != SZ_OK)
        return m_state->Fail(result == SZ_ERROR_MEM ? PayloadError::OutOfMemory : PayloadError::UnknownArchive);
    LzmaDec_Init(&m_state->decoder);
    m_state->open = true;
    return PayloadError::Ok;
}

void LzmaStream::BeginEntry(uint32_t size, bool x86)
{
    if (m_state == nullptr)
        return;
    m_state->left = size;
    m_state->returned = 0;
    m_state->x86 = x86;
    m_state->heldSize = 0;
    m_state->consumed = 0;
}

size_t LzmaStream::Read(unsigned char* out, size_t capacity, StreamInput input, void* context)
{
    State* s = m_state;
    if (s == nullptr || !s->open || s->error != PayloadError::Ok || capacity <= X86_FILTER_LOOKAHEAD)
        return 0;
    CLzmaDec& decoder = s->decoder;
    size_t n = s->heldSize;
    memcpy(out, s->held, s->heldSize);
    s->heldSize = 0;
    for (;;) {
        while (n < capacity && s->left > 0) {
            if (s->inputPos == s->inputEnd) {
                s->inputPos = 0;
                s->inputEnd = input(context, s->input, sizeof s->input);
                if (s->inputEnd == 0) {
                    s->Fail(PayloadError::DamagedArchive);  // the entry's bytes ended before its data
                    return 0;
                }
            }
            if (decoder.dicPos == decoder.dicBufSize)
                decoder.dicPos = 0;  // the dictionary is a ring
            size_t from = decoder.dicPos;
            size_t want = std::min<size_t>({capacity - n, s->left, decoder.dicBufSize - from});
            SizeT taken = s->inputEnd - s->inputPos;
            ELzmaStatus status;
            SRes result = LzmaDec_DecodeToDic(&decoder, from + want, s->input + s->inputPos, &taken,
                                              LZMA_FINISH_ANY, &status);
            s->inputPos += taken;
            s->consumed += taken;
            size_t produced = decoder.dicPos - from;
            memcpy(out + n, decoder.dic + from, produced);
            n += produced;
            s->left -= static_cast<uint32_t>(produced);
            // Sound data always moves: an end marker, or anything else that
            // stops the decoder short of the entry's size, is damage.
            if (result != SZ_OK || (produced == 0 && taken == 0)) {
                s->Fail(PayloadError::DamagedArchive);
                return 0;
            }
        }
        size_t done = n;
        if (s->x86) {
            // The last few bytes of an entry stay as they are, in both directions.
            size_t converted = X86Convert(out, n, s->returned, false);
            if (s->left > 0) {
                done = converted;
                s->heldSize = n - done;
                memcpy(s->held, out + done, s->heldSize);
            }
        }
        s->returned += static_cast<uint32_t>(done);
        if (done > 0 || s->left == 0)
            return done;
        s->heldSize = 0;  // too few bytes to judge: decode more behind them
    }
}

bool LzmaStream::EntryComplete() const
{
    return m_state != nullptr && m_state->left == 0 && m_state->heldSize == 0;
}

uint64_t LzmaStream::EntryConsumed() const
{
    return m_state != nullptr ? m_state->consumed : 0;
}

size_t LzmaStream::Buffered() const
{
    return m_state != nullptr ? m_state->inputEnd - m_state->inputPos : 0;
}

bool LzmaStream::AtStreamEnd()
{
    if (m_state == nullptr || !m_state->open || m_state->error != PayloadError::Ok)
        return false;
    // Asked for nothing more with the stream to end here, the decoder says
    // whether it can: no match still pending, and the range coder at zero.
    SizeT none = 0;
    ELzmaStatus status;
    SRes result = LzmaDec_DecodeToDic(&m_state->decoder, m_state->decoder.dicPos, m_state->input, &none,
                                      LZMA_FINISH_END, &status);
    return result == SZ_OK && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK;
}

PayloadError LzmaStream::Error() const
{
    if (m_refused != PayloadError::Ok)
        return m_refused;
    return m_state != nullptr ? m_state->error : PayloadError::UnknownArchive;  // never opened
}
