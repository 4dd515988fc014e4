#include "digest.h"

#include <cstring>

#include "digest_code.h"
#include "windows_api.h"

namespace {

const DigestCode* const CODES[] = {
#ifdef QUORVANE_DIGEST_AVX2
    &DIGEST_CODE_AVX2,
#endif
    &DIGEST_CODE_VECTOR,
    &DIGEST_CODE_SCALAR,
};
const size_t CODE_COUNT = sizeof CODES / sizeof CODES[0];

int g_forced = -1;

bool ProcessorHasSse2()
{
#if defined(_WIN32)
    // Also says that the system saves the XMM registers.
    return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
#elif defined(__x86_64__) || defined(__SSE2__)
    return true;
#elif defined(__i386__) && defined(__GNUC__)
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

bool Runs(const DigestCode& code)
{
    switch (code.needs) {
    case DigestNeeds::Nothing:
        return true;
    case DigestNeeds::Sse2:
        return ProcessorHasSse2();
    case DigestNeeds::Avx2:
#if defined(QUORVANE_DIGEST_AVX2)
        // Also checks that the system saves the YMM registers. Only builds
        // with AVX2 code ask: the processor model behind this builtin is
        // about 6 KB of start-up code a Windows build would carry for nothing.
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    }
    return false;
}

const DigestCode* ChooseCode()
{
    if (g_forced >= 0 && static_cast<size_t>(g_forced) < CODE_COUNT && Runs(*CODES[g_forced]))
        return CODES[g_forced];
    for (const DigestCode* code : CODES)
        if (Runs(*code))
            return code;
    return &DIGEST_CODE_SCALAR;
}

}  // namespace

size_t DigestCodeCount()
{
    return CODE_COUNT;
}

const char* DigestCodeName(size_t i)
{
    return i < CODE_COUNT ? CODES[i]->name : "";
}

bool DigestCodeRuns(size_t i)
{
    return i < CODE_COUNT && Runs(*CODES[i]);
}

void ForceDigestCode(int i)
{
    g_forced = i;
}

ArchiveDigest::ArchiveDigest() : m_code(ChooseCode()), m_state(m_code->create()) {}

ArchiveDigest::~ArchiveDigest()
{
    if (m_state != nullptr)
        m_code->destroy(m_state);
}

void ArchiveDigest::Update(const void* bytes, size_t count)
{
    if (m_state != nullptr && count > 0)
        m_code->update(m_state, bytes, count);
}

void ArchiveDigest::Final(unsigned char* out) const
{
    memset(out, 0, DIGEST_SIZE);
    if (m_state != nullptr)
        m_code->final(m_state, out);
}

const char* ArchiveDigest::CodePath() const
{
    return m_code->name;
}
