// One compiled form of the XXH3-128 code (digest_xxh3.cpp): the calls
// ArchiveDigest makes through it. Only data and plain functions cross this
// line: the vector forms are compiled for other instructions than the rest of
// the program, so nothing inline may be shared with them.
#pragma once

#include <stddef.h>

// What a form needs of the processor.
enum class DigestNeeds { Nothing, Sse2, Avx2 };

struct DigestCode {
    const char* name;  // "SSE2", "scalar", ...
    DigestNeeds needs;
    void* (*create)();  // a fresh state, or nullptr without memory
    void (*update)(void* state, const void* bytes, size_t count);
    void (*final)(const void* state, unsigned char* out);  // DIGEST_SIZE bytes, canonical
    void (*destroy)(void* state);
};

// The processor's baseline vector unit: SSE2 on x86, whatever xxHash picks elsewhere.
extern const DigestCode DIGEST_CODE_VECTOR;
// Portable scalar code: the fallback.
extern const DigestCode DIGEST_CODE_SCALAR;
#ifdef QUORVANE_DIGEST_AVX2
// AVX2, in native builds for x86-64 only.
extern const DigestCode DIGEST_CODE_AVX2;
#endif
