// The archive's digest: XXH3-128 over a stream of bytes, fed block by block.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t DIGEST_SIZE = 16;

// An incremental digest; its state lives on the heap (about 600 bytes, 64-byte
// aligned), so readers that never verify pay nothing.
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

private:
    void* m_state;
};
