#include "x86_filter.h"

#include "byte_order.h"

namespace {

const uint32_t BRANCH_RANGE = 1u << 24;  // operands within +-2^24 are converted
const uint32_t BRANCH_MASK = (BRANCH_RANGE << 1) - 1;  // 25 bits

bool InRange(uint32_t value)
{
    return value + BRANCH_RANGE <= BRANCH_MASK;
}

// value reduced to 25 bits, then sign-extended to 32.
uint32_t SignExtend25(uint32_t value)
{
    return ((value + BRANCH_RANGE) & BRANCH_MASK) - BRANCH_RANGE;
}

}  // namespace

size_t X86Convert(unsigned char* data, size_t size, uint32_t position, bool encode)
{
    size_t i = 0;
    while (i + 1 + X86_FILTER_LOOKAHEAD <= size) {
        unsigned char opcode = data[i];
        if (opcode != 0xE8 && opcode != 0xE9) {
            ++i;
            continue;
        }
        // The scan steps over the operand whether it converts it or not: the
        // bytes each decision reads are never changed by a later one, so the
        // decoder, reading what the encoder wrote, decides the same.
        uint32_t operand = ReadLE32(data + i + 1);
        if (InRange(operand)) {
            uint32_t next = position + static_cast<uint32_t>(i) + 1 + static_cast<uint32_t>(X86_FILTER_LOOKAHEAD);
            WriteLE32(data + i + 1, SignExtend25(encode ? operand + next : operand - next));
        }
        i += 1 + X86_FILTER_LOOKAHEAD;
    }
    return i;
}
