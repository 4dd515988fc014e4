// The compressed format's pieces on their own: the x86 branch filter, and
// the decoder's refusals before it allocates.
#include <gtest/gtest.h>

#include <algorithm>

#include "byte_order.h"
#include "compressed.h"
#include "lzma_stream.h"
#include "test_files.h"
#include "x86_filter.h"

using namespace testing_support;

TEST(CompressedFormat, TheX86FilterRoundTripsInBlocksOfAnySize)
{
    // Code-like bytes: calls and jumps near and far, and E8/E9 bytes inside
    // the operands of others, where one decision could change another's bytes.
    Bytes original = Pattern(200000, 3);
    for (size_t at = 0; at + 8 < original.size(); at += 7 + original[at] % 23) {
        original[at] = (at & 1) ? 0xE8 : 0xE9;
        original[at + 2] = 0xE8;
        original[at + 4] = static_cast<unsigned char>((at & 2) ? 0x00 : 0xFF);
    }
    Bytes encoded = original;
    size_t done = X86Convert(encoded.data(), encoded.size(), 0, true);
    EXPECT_GE(done, encoded.size() - X86_FILTER_LOOKAHEAD);
    EXPECT_NE(original, encoded);
    for (size_t block : {1u, 5u, 6u, 4099u, 65536u}) {
        SCOPED_TRACE(block);
        Bytes decoded, held;
        uint32_t position = 0;
        for (size_t at = 0; at < encoded.size(); at += block) {
            Bytes chunk = held;
            chunk.insert(chunk.end(), encoded.begin() + at, encoded.begin() + std::min(at + block, encoded.size()));
            bool last = at + block >= encoded.size();
            size_t final = X86Convert(chunk.data(), chunk.size(), position, false);
            if (last)
                final = chunk.size();  // the entry's last bytes are final as they are
            decoded.insert(decoded.end(), chunk.begin(), chunk.begin() + final);
            held.assign(chunk.begin() + final, chunk.end());
            position += static_cast<uint32_t>(final);
        }
        EXPECT_TRUE(decoded == original);
    }
}

TEST(CompressedFormat, TheDecoderRefusesPropertiesBeforeAllocating)
{
    unsigned char properties[LZMA_PROPERTIES_SIZE] = {0x5D, 0, 0, 0, 0};  // lc 3, lp 0, pb 2
    WriteLE32(properties + 1, LZMA_DICTIONARY_CAP + 1);
    LzmaStream over;
    EXPECT_EQ(PayloadError::DictionaryTooLarge, over.Open(properties, UINT64_MAX));
    unsigned char out[64];
    over.BeginEntry(10, false);
    EXPECT_EQ(0u, over.Read(out, sizeof out, [](void*, unsigned char*, size_t) -> size_t { return 0; }, nullptr));
    properties[0] = 9 * 5 * 5;  // lc, lp or pb out of range
    WriteLE32(properties + 1, LZMA_DICTIONARY_CAP);
    LzmaStream unknown;
    EXPECT_EQ(PayloadError::UnknownArchive, unknown.Open(properties, 1000));
    // The cap itself, for 1000 bytes of data, allocates what 1000 bytes need.
    properties[0] = 0x5D;
    LzmaStream sound;
    EXPECT_EQ(PayloadError::Ok, sound.Open(properties, 1000));
}
