// XXH3-128, compiled several times from this file (payload/CMakeLists.txt):
// DIGEST_CODE names the table each build defines, XXH_VECTOR the code path it
// takes. A vector build is the only code of the program compiled for its
// instructions (-msse2 on 32-bit x86, -mavx2), so it must define nothing but
// that table: no inline C++ whose one copy the linker might then pick for
// everybody. xxHash's functions are all static here (XXH_INLINE_ALL).
#include "digest_code.h"

#include <string.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

#ifndef DIGEST_CODE
#error "DIGEST_CODE must name the table this build defines"
#endif

#if XXH_VECTOR == XXH_SCALAR
#define DIGEST_CODE_NAME "scalar"
#elif XXH_VECTOR == XXH_SSE2
#define DIGEST_CODE_NAME "SSE2"
#elif XXH_VECTOR == XXH_AVX2
#define DIGEST_CODE_NAME "AVX2"
#elif XXH_VECTOR == XXH_AVX512
#define DIGEST_CODE_NAME "AVX-512"
#elif XXH_VECTOR == XXH_NEON
#define DIGEST_CODE_NAME "NEON"
#else
#define DIGEST_CODE_NAME "VSX"
#endif

namespace {

void* Create()
{
    XXH3_state_t* state = XXH3_createState();
    if (state != nullptr)
        XXH3_128bits_reset(state);
    return state;
}

void Update(void* state, const void* bytes, size_t count)
{
    XXH3_128bits_update(static_cast<XXH3_state_t*>(state), bytes, count);
}

void Final(const void* state, unsigned char* out)
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(static_cast<const XXH3_state_t*>(state)));
    memcpy(out, canonical.digest, sizeof canonical.digest);
}

void Destroy(void* state)
{
    XXH3_freeState(static_cast<XXH3_state_t*>(state));
}

}  // namespace

#if XXH_VECTOR == XXH_SSE2
#define DIGEST_CODE_NEEDS DigestNeeds::Sse2
#elif XXH_VECTOR == XXH_AVX2
#define DIGEST_CODE_NEEDS DigestNeeds::Avx2
#else
#define DIGEST_CODE_NEEDS DigestNeeds::Nothing  // what the compiler was told it may use
#endif

extern const DigestCode DIGEST_CODE = {
    DIGEST_CODE_NAME, DIGEST_CODE_NEEDS, Create, Update, Final, Destroy,
};
