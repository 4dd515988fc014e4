// Text between UTF-8, in which the packer takes names and options, and
// UTF-16, in which Windows resources hold it: the packer's one codec, with no
// help from the host system.
#pragma once

#include <cstddef>
#include <string>

// The bytes of the UTF-8 sequence that lead starts, from its high bits: 2 to
// 4 for a lead byte, 1 for ASCII and for a byte that leads nothing. Steps
// through text that is UTF-8, or nearly so, one character at a time.
size_t Utf8SequenceLength(unsigned char lead);
// UTF-8 to UTF-16; false for bytes that are not UTF-8 (a stray byte, a cut
// sequence, an overlong form, a surrogate, a value past U+10FFFF).
bool Utf8ToUtf16(const std::string& utf8, std::u16string* utf16);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);
