// The archive's digest: XXH3-128 over a stream of bytes, fed block by block.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t DIGEST_SIZE = 16;

struct DigestCode;

// An incremental digest; its state lives on the heap (about 600 bytes, 64-byte
// aligned), so readers that never verify pay nothing. It runs the fastest code
// this build has that the processor runs: SSE2 on x86 (and AVX2 in native
// x86-64 builds) when the processor has it, else portable scalar code. Every
// code gives the same digest.
class ArchiveDigest {
public:
    ArchiveDigest();
    ~ArchiveDigest();
    ArchiveDigest(const ArchiveDigest&) = delete;
    ArchiveDigest& operator=(const ArchiveDigest&) = delete;

    // False when the state could not be allocated; Update and Final then do nothing.
    bool Valid() const { return m_state != nullptr; }
    void Update(const void* bytes, size_t count);
    // The digest as 16 bytes, big-endian (XXH128's canonical form).
    void Final(unsigned char* out) const;
    // The code this digest runs: "SSE2", "scalar", ...
    const char* CodePath() const;

private:
    const DigestCode* m_code;
    void* m_state;
};

// The codes this build has, fastest first; the last is the portable scalar
// code. DigestCodeRuns says whether this processor runs code i.
size_t DigestCodeCount();
const char* DigestCodeName(size_t i);
bool DigestCodeRuns(size_t i);
// For the tests and the benchmark: digests made after ForceDigestCode(i) run
// code i, as on a processor without the faster ones (a code the processor
// does not run is not forced); ForceDigestCode(-1) returns to the processor's
// best. The launcher never calls it.
void ForceDigestCode(int i);
