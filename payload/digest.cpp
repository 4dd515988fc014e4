#include "digest.h"

#include <cstring>

// Header-only: everything is compiled into this file, nothing is linked.
#define XXH_INLINE_ALL
#include <xxhash.h>

ArchiveDigest::ArchiveDigest() : m_state(XXH3_createState())
{
    if (m_state != nullptr)
        XXH3_128bits_reset(static_cast<XXH3_state_t*>(m_state));
}

ArchiveDigest::~ArchiveDigest()
{
    XXH3_freeState(static_cast<XXH3_state_t*>(m_state));
}

void ArchiveDigest::Update(const void* bytes, size_t count)
{
    if (m_state != nullptr && count > 0)
        XXH3_128bits_update(static_cast<XXH3_state_t*>(m_state), bytes, count);
}

void ArchiveDigest::Final(unsigned char* out) const
{
    memset(out, 0, DIGEST_SIZE);
    if (m_state == nullptr)
        return;
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(static_cast<const XXH3_state_t*>(m_state)));
    memcpy(out, canonical.digest, DIGEST_SIZE);
}
