// The x86 branch filter: makes 32-bit x86 and x86-64 machine code compress
// better by turning the relative operands of its near calls (E8) and jumps
// (E9) into the absolute offsets they lead to. The same function called
// from many places then shows the same four bytes each time, which the
// compressor finds as repeats.
//
// The transform, in each direction, scans the bytes in order. At an E8 or E9
// byte the scan takes the four bytes after it as one signed little-endian
// number and goes on after them; when the number lies within +-2^24 (its top
// byte 0x00 or 0xFF: a plausible branch inside one program) it is replaced.
// At any other byte the scan moves on by one.
//
//   encoding: target = operand + (offset of the E8/E9 byte + 5)
//   decoding: operand = target - (offset of the E8/E9 byte + 5)
//
// Both results are reduced to 25 bits and sign-extended, so they too lie
// within +-2^24; and the bytes a decision reads are never changed by a later
// one. So the decoder takes exactly the decisions the encoder took, and
// decoding restores every byte. Offsets count from the start of the entry's
// data, whatever block the bytes arrive in.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes an operand needs after its E8/E9 byte; fewer at the end of a block
// wait for the next one.
const size_t X86_FILTER_LOOKAHEAD = 4;

// Converts data[0..size), which starts at offset position of the entry.
// Returns how many leading bytes are final: the rest (at most
// X86_FILTER_LOOKAHEAD bytes) could begin an instruction whose operand runs
// into the next block, and must be given again, followed by that block. At
// the entry's end they are final as they are.
size_t X86Convert(unsigned char* data, size_t size, uint32_t position, bool encode);
