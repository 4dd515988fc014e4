// Staging throughput against a plain copy of the same bytes.
//
// For each payload it writes a launcher file with an integrity record, as the
// packer does, then in rounds times four ways of moving its archive's bytes
// with one 1 MiB buffer: a plain copy into one file, a plain copy into the
// same files staging writes (no checks at all), StagePayloadFile verifying the
// record, and StagePayloadFile on the same file without its record. It prints
// the best rate of each, the medians of the rounds' ratios of verified staging
// to each copy and to staging without a record, each against its target, and
// how much the resident size grew while staging. Both copies matter: on tmpfs
// one huge file writes slower than the same bytes spread over many files.
// Last, the digest alone over 256 MiB in memory, with each code it has.
//
// It builds natively and for Windows; scripts/bench runs each build where its
// figures mean something. Some 400 lines in one file: one benchmark, whose
// ways of copying, rounds and printed ratios are read together.
//
// Usage: stage_bench [ROUNDS] [FOLDER]
// The files go under FOLDER, by default /dev/shm where it exists (else the
// temporary folder), so that the figures measure the code rather than the
// disk's write-back; name a folder on a disk to measure that instead.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#else
#include <strings.h>
#include <unistd.h>
#endif

#include "archive.h"
#include "bench_util.h"
#include "digest.h"
#include "platform.h"
#include "stage.h"

namespace {

struct EntrySpec {
    std::string name;
    uint64_t size;
};

const size_t COPY_BUFFER = 1 << 20;
// Verified staging should cost almost nothing: at least this much of a plain
// copy's rate, and of staging without a record.
const double TARGET_TO_COPY = 0.95;
const double TARGET_TO_UNVERIFIED = 0.9;

#ifdef _WIN32
const char* const BUILD_KIND = sizeof(void*) == 8 ? "Windows, 64-bit" : "Windows, 32-bit";
int CompareNames(const char* a, const char* b) { return _stricmp(a, b); }
void RemoveFolder(const std::string& path) { _rmdir(path.c_str()); }
bool Writable(const char* folder) { return _access(folder, 2) == 0; }
int ProcessId() { return _getpid(); }
void FlushFiles() {}

bool SetFileLength(const std::string& path, uint64_t length)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    return CloseHandle(file) && ok;
}
#else
const char* const BUILD_KIND = "native";
int CompareNames(const char* a, const char* b) { return strcasecmp(a, b); }
void RemoveFolder(const std::string& path) { rmdir(path.c_str()); }
bool Writable(const char* folder) { return access(folder, W_OK) == 0; }
int ProcessId() { return getpid(); }
void FlushFiles() { sync(); }

bool SetFileLength(const std::string& path, uint64_t length)
{
    return truncate(path.c_str(), static_cast<off_t>(length)) == 0;
}
#endif

std::string Join(const std::string& folder, const std::string& name)
{
    return folder + PATH_SEPARATOR + name;
}

// "met", or by how much a ratio falls short of its target.
std::string Against(double ratio, double target)
{
    if (ratio >= target)
        return "met";
    char text[32];
    snprintf(text, sizeof text, "missed by %.3f", target - ratio);
    return text;
}

// Shaped like the shipped product's payload: 18 entries, 17,732,415 bytes.
std::vector<EntrySpec> ProductShaped()
{
    std::vector<EntrySpec> entries = {
        {"core.dll", 1480192},   {"gfx.dll", 1048576},    {"net.dll", 737280},
        {"ui.dll", 532480},      {"db.dll", 401408},      {"zip.dll", 327680},
        {"xml.dll", 286720},     {"log.dll", 102400},     {"util.dll", 69632},
        {"license_chs.txt", 9216}, {"license_cht.txt", 9728}, {"license_en.txt", 12288},
        {"setup.ini", 2048},     {"setup.reg", 4096},     {"install.log", 3072},
        {"empty.log", 0},        {"ZelkSetupGb.exe", 1630208},
    };
    uint64_t sum = 0;
    for (const EntrySpec& e : entries)
        sum += e.size;
    entries.push_back({"backup.bak", 17732415 - sum});  // about 10 MiB, the largest
    std::sort(entries.begin(), entries.end(), [](const EntrySpec& a, const EntrySpec& b) {
        return CompareNames(a.name.c_str(), b.name.c_str()) < 0;
    });
    return entries;
}

// 1 GiB in 200 files, one of them 512 MiB.
std::vector<EntrySpec> Large()
{
    std::vector<EntrySpec> entries;
    uint64_t rest = (1ull << 30) - (512ull << 20);
    for (int i = 0; i < 199; ++i) {
        uint64_t size = rest / 199 + (i < static_cast<int>(rest % 199) ? 1 : 0);
        entries.push_back({"file" + std::to_string(1000 + i) + ".bin", size});
    }
    entries.push_back({"huge.bin", 512ull << 20});
    return entries;
}

bool WriteLauncher(const std::string& path, const std::vector<EntrySpec>& entries, uint64_t* payloadBytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    std::vector<unsigned char> block(COPY_BUFFER);
    std::vector<unsigned char> filler(PAYLOAD_OFFSET, 0xCD);
    filler[0] = 'M';
    filler[1] = 'Z';
    bool ok = fwrite(filler.data(), 1, filler.size(), f) == filler.size();
    uint32_t x = 12345;
    *payloadBytes = 0;
    ArchiveDigest digest;
    for (const EntrySpec& e : entries) {
        unsigned char header[ENTRY_HEADER_SIZE];
        EncodeEntryHeader(e.name.c_str(), static_cast<uint32_t>(e.size), header);
        digest.Update(header, sizeof header);
        ok = ok && fwrite(header, 1, sizeof header, f) == sizeof header;
        for (uint64_t left = e.size; ok && left > 0;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
            for (size_t i = 0; i < n; i += 4) {
                x = x * 1103515245u + 12345u;
                memcpy(&block[i], &x, std::min<size_t>(4, n - i));
            }
            digest.Update(block.data(), n);
            ok = fwrite(block.data(), 1, n, f) == n;
            left -= n;
        }
        *payloadBytes += ENTRY_HEADER_SIZE + e.size;
    }
    IntegrityRecord record;
    record.version = INTEGRITY_VERSION;
    record.algorithm = INTEGRITY_XXH3_128;
    record.entries = static_cast<uint32_t>(entries.size());
    record.length = *payloadBytes;
    digest.Final(record.digest);
    unsigned char raw[INTEGRITY_RECORD_SIZE];
    EncodeIntegrityRecord(record, raw);
    ok = ok && fwrite(raw, 1, sizeof raw, f) == sizeof raw;
    return fclose(f) == 0 && ok;
}

// The archive's bytes, headers included, into one file.
bool CopyToOneFile(const std::string& from, const std::string& to)
{
    FILE* in = fopen(from.c_str(), "rb");
    FILE* out = fopen(to.c_str(), "wb");
    bool ok = in != nullptr && out != nullptr && SeekFile(in, PAYLOAD_OFFSET) == 0;
    std::vector<char> buffer(COPY_BUFFER);
    size_t got;
    while (ok && (got = fread(buffer.data(), 1, buffer.size(), in)) > 0)
        ok = fwrite(buffer.data(), 1, got, out) == got;
    if (in != nullptr)
        fclose(in);
    if (out != nullptr && fclose(out) != 0)
        ok = false;
    return ok;
}

// The same files staging writes, copied blindly: no name or size checks.
bool CopyToSameFiles(const std::string& from, const std::string& folder, const std::vector<EntrySpec>& entries)
{
    FILE* in = fopen(from.c_str(), "rb");
    bool ok = in != nullptr && SeekFile(in, PAYLOAD_OFFSET) == 0;
    std::vector<char> buffer(COPY_BUFFER);
    for (const EntrySpec& e : entries) {
        char header[ENTRY_HEADER_SIZE];
        ok = ok && fread(header, 1, sizeof header, in) == sizeof header;
        FILE* out = ok ? fopen(Join(folder, e.name).c_str(), "wb") : nullptr;
        ok = out != nullptr;
        for (uint64_t left = e.size; ok && left > 0;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
            ok = fread(buffer.data(), 1, n, in) == n && fwrite(buffer.data(), 1, n, out) == n;
            left -= n;
        }
        if (out != nullptr && fclose(out) != 0)
            ok = false;
    }
    if (in != nullptr)
        fclose(in);
    return ok;
}

void RemoveFiles(const std::string& folder, const std::vector<EntrySpec>& entries)
{
    for (const EntrySpec& e : entries)
        remove(Join(folder, e.name).c_str());
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void ProgressSample(uint64_t, uint64_t, void* context)
{
    static_cast<PeakWatch*>(context)->Sample();
}

bool Run(const char* label, const std::vector<EntrySpec>& entries, int rounds, const std::string& work)
{
    std::string launcher = Join(work, "launcher.exe");
    std::string oneFile = Join(work, "copy.bin");
    std::string copies = Join(work, "copies");
    std::string stage = Join(work, "tmpsoft");
    uint64_t bytes = 0;
    if (!WriteLauncher(launcher, entries, &bytes) || _mkdir(copies.c_str()) != 0) {
        fprintf(stderr, "stage_bench: cannot write under %s\n", work.c_str());
        return false;
    }

    // Each round times the four back to back, so they share the machine's
    // momentary load; the order rotates so none always follows the same one.
    enum { ONE_FILE, SAME_FILES, STAGE, STAGE_UNVERIFIED, KINDS };
    double best[KINDS] = {1e30, 1e30, 1e30, 1e30};
    uint64_t withRecord = PAYLOAD_OFFSET + bytes + INTEGRITY_RECORD_SIZE;
    unsigned char record[INTEGRITY_RECORD_SIZE];
    FILE* tail = fopen(launcher.c_str(), "rb");
    bool ok = tail != nullptr && SeekFile(tail, withRecord - INTEGRITY_RECORD_SIZE) == 0 &&
              fread(record, 1, sizeof record, tail) == sizeof record;
    if (tail != nullptr)
        fclose(tail);
    std::vector<double> ratioOne, ratioSame, ratioUnverified;
    // The record comes off for the unverified staging and goes back after it.
    auto setRecord = [&](bool present) {
        if (!present)
            return SetFileLength(launcher, withRecord - INTEGRITY_RECORD_SIZE);
        FILE* f = fopen(launcher.c_str(), "ab");
        bool written = f != nullptr && fwrite(record, 1, sizeof record, f) == sizeof record;
        return f != nullptr && fclose(f) == 0 && written;
    };
    auto clear = [&]() {
        RemoveFiles(stage, entries);
        RemoveFiles(copies, entries);
        remove(oneFile.c_str());
    };
    auto stageFile = [&](bool verified, const StageOptions& options) {
        StageResult result;
        return StagePayloadFile(launcher.c_str(), stage.c_str(), options, &result) &&
               result.entries == entries.size() &&
               result.integrity == (verified ? IntegrityState::Verified : IntegrityState::None);
    };
    auto timeOne = [&](int kind) {
        clear();
        if (kind == STAGE_UNVERIFIED)
            ok &= setRecord(false);
        FlushFiles();
        double t0 = Now();
        if (kind == ONE_FILE)
            ok &= CopyToOneFile(launcher, oneFile);
        else if (kind == SAME_FILES)
            ok &= CopyToSameFiles(launcher, copies, entries);
        else
            ok &= stageFile(kind == STAGE, StageOptions());
        double elapsed = Now() - t0;
        if (kind == STAGE_UNVERIFIED)
            ok &= setRecord(true);
        best[kind] = std::min(best[kind], elapsed);
        return elapsed;
    };
    // Small payloads take milliseconds: give them more rounds against timer noise.
    int n = bytes < (100u << 20) ? rounds * 10 : rounds;
    for (int r = 0; r < n && ok; ++r) {
        double t[KINDS];
        for (int i = 0; i < KINDS; ++i) {
            int kind = (r + i) % KINDS;
            t[kind] = timeOne(kind);
        }
        ratioOne.push_back(t[ONE_FILE] / t[STAGE]);
        ratioSame.push_back(t[SAME_FILES] / t[STAGE]);
        ratioUnverified.push_back(t[STAGE_UNVERIFIED] / t[STAGE]);
    }
    // Memory in a staging of its own, untimed: reading it may cost a call per block.
    PeakWatch watch;
    if (ok) {
        clear();
        StageOptions sampled;
        sampled.progress = ProgressSample;
        sampled.context = &watch;
        watch.Start();
        ok &= stageFile(true, sampled);
    }
    double growth = ok ? watch.GrowthMiB() : 0;
    clear();
    RemoveFolder(stage);
    RemoveFolder(copies);
    remove(launcher.c_str());
    if (!ok) {
        fprintf(stderr, "stage_bench: a copy or the staging failed\n");
        return false;
    }
    double mb = bytes / 1e6;
    double toOne = Median(ratioOne), toSame = Median(ratioSame), toUnverified = Median(ratioUnverified);
    printf("%s: %u entries, %.1f MB\n", label, static_cast<unsigned>(entries.size()), mb);
    printf("  copy into one file    %8.1f MB/s\n", mb / best[ONE_FILE]);
    printf("  copy into same files  %8.1f MB/s\n", mb / best[SAME_FILES]);
    printf("  staging, verified     %8.1f MB/s\n", mb / best[STAGE]);
    printf("  staging, no record    %8.1f MB/s\n", mb / best[STAGE_UNVERIFIED]);
    printf("  verified staging to a plain copy: one file %.3f (target %.2f: %s), same files %.3f (%s)\n", toOne,
           TARGET_TO_COPY, Against(toOne, TARGET_TO_COPY).c_str(), toSame, Against(toSame, TARGET_TO_COPY).c_str());
    printf("  verified staging to staging without a record: %.3f (target %.2f: %s)\n", toUnverified,
           TARGET_TO_UNVERIFIED, Against(toUnverified, TARGET_TO_UNVERIFIED).c_str());
    printf("  peak memory growth while staging: %.2f MiB (at most 4)\n", growth);
    fflush(stdout);
    return true;
}

// The digest alone, in memory: what verification can cost at most; with each
// code this build has that the processor runs, the fastest (the one staging
// uses) first, down to the scalar code a processor without vector units runs.
void DigestRate()
{
    std::vector<unsigned char> data(64u << 20);
    uint32_t x = 777;
    for (size_t i = 0; i + 4 <= data.size(); i += 4) {
        x = x * 1103515245u + 12345u;
        memcpy(&data[i], &x, 4);
    }
    printf("XXH3-128 alone, 256 MiB in memory:");
    const char* separator = " ";
    for (size_t code = 0; code < DigestCodeCount(); ++code) {
        if (!DigestCodeRuns(code))
            continue;
        ForceDigestCode(static_cast<int>(code));
        double bestTime = 1e30;
        unsigned char out[DIGEST_SIZE];
        for (int r = 0; r < 5; ++r) {
            double t0 = Now();
            ArchiveDigest digest;
            for (int i = 0; i < 4; ++i)
                digest.Update(data.data(), data.size());
            digest.Final(out);
            bestTime = std::min(bestTime, Now() - t0);
        }
        printf("%s%s %.1f MB/s (digest %02x%02x...)", separator, DigestCodeName(code),
               256 * 1048576 / 1e6 / bestTime, out[0], out[1]);
        separator = ", ";
    }
    ForceDigestCode(-1);
    printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    if (rounds < 1)
        rounds = 1;
    std::string base;
    if (argc > 2) {
        base = argv[2];
    } else if (Writable("/dev/shm")) {
        base = "/dev/shm";
    } else {
        char temp[STAGE_PATH_SIZE] = {};
        GetTempPathA(sizeof temp, temp);
        base = temp;
        if (!base.empty() && (base.back() == '\\' || base.back() == '/'))
            base.pop_back();
    }
    std::string work = Join(base, "qv-stage-bench-" + std::to_string(ProcessId()));
    if (_mkdir(work.c_str()) != 0) {
        fprintf(stderr, "stage_bench: cannot create %s\n", work.c_str());
        return 2;
    }
    {
        ArchiveDigest digest;
        printf("stage_bench (%s build, digest code %s): staging vs a plain copy with a 1 MiB buffer, in %s\n"
               "best rates of %d rounds (x10 for small payloads); ratios: median over the rounds\n",
               BUILD_KIND, digest.CodePath(), work.c_str(), rounds);
    }
    fflush(stdout);
    bool ok = Run("product-shaped (18 files)", ProductShaped(), rounds, work) &&
              Run("1 GiB (200 files)", Large(), rounds, work);
    RemoveFolder(work);
    if (ok)
        DigestRate();
    return ok ? 0 : 1;
}
