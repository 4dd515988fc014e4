// Staging throughput against a plain copy of the same bytes.
//
// For each payload it writes a launcher file with an integrity record, as the
// packer does, then in rounds times four ways of moving its archive's bytes
// with one 1 MiB buffer: a plain copy into one file, a plain copy into the
// same files staging writes (no checks at all), StagePayloadFile verifying the
// record, and StagePayloadFile on the same file without its record. It prints
// the best rate of each, the median of the rounds' ratios copy/staging (with
// verification), and how much the peak resident size grew while staging.
// Both copies matter: on tmpfs one huge file writes slower than the same
// bytes spread over many files. Last, the digest alone over 256 MiB in memory.
//
// Usage: stage_bench [ROUNDS] [FOLDER]
// The files go under FOLDER, by default /dev/shm where it exists, so that the
// figures measure the code rather than the disk's write-back; name a folder on
// a disk to measure that instead.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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
        return strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
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
        FILE* out = ok ? fopen((folder + "/" + e.name).c_str(), "wb") : nullptr;
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
        unlink((folder + "/" + e.name).c_str());
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool Run(const char* label, const std::vector<EntrySpec>& entries, int rounds, const std::string& work)
{
    std::string launcher = work + "/launcher.exe";
    std::string oneFile = work + "/copy.bin";
    std::string copies = work + "/copies";
    std::string stage = work + "/tmpsoft";
    uint64_t bytes = 0;
    if (!WriteLauncher(launcher, entries, &bytes) || _mkdir(copies.c_str()) != 0) {
        fprintf(stderr, "stage_bench: cannot write under %s\n", work.c_str());
        return false;
    }

    // Each round times the three back to back, so they share the machine's
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
    long growth = 0;
    // The record comes off for the unverified staging and goes back after it.
    auto setRecord = [&](bool present) {
        if (!present)
            return truncate(launcher.c_str(), static_cast<off_t>(withRecord - INTEGRITY_RECORD_SIZE)) == 0;
        FILE* f = fopen(launcher.c_str(), "ab");
        bool written = f != nullptr && fwrite(record, 1, sizeof record, f) == sizeof record;
        return f != nullptr && fclose(f) == 0 && written;
    };
    auto timeOne = [&](int kind) {
        RemoveFiles(stage, entries);
        RemoveFiles(copies, entries);
        unlink(oneFile.c_str());
        if (kind == STAGE_UNVERIFIED)
            ok &= setRecord(false);
        sync();
        long before = StatusKiB("VmRSS:");
        ResetPeak();
        StageResult result;
        double t0 = Now();
        if (kind == ONE_FILE)
            ok &= CopyToOneFile(launcher, oneFile);
        else if (kind == SAME_FILES)
            ok &= CopyToSameFiles(launcher, copies, entries);
        else
            ok &= StagePayloadFile(launcher.c_str(), stage.c_str(), StageOptions(), &result) &&
                  result.entries == entries.size() &&
                  result.integrity == (kind == STAGE ? IntegrityState::Verified : IntegrityState::None);
        double elapsed = Now() - t0;
        if (kind == STAGE_UNVERIFIED)
            ok &= setRecord(true);
        if (kind == STAGE)
            growth = std::max(growth, StatusKiB("VmHWM:") - before);
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
    RemoveFiles(stage, entries);
    RemoveFiles(copies, entries);
    rmdir(stage.c_str());
    rmdir(copies.c_str());
    unlink(oneFile.c_str());
    unlink(launcher.c_str());
    if (!ok) {
        fprintf(stderr, "stage_bench: a copy or the staging failed\n");
        return false;
    }
    double mb = bytes / 1e6;
    printf("%s: %zu entries, %.1f MB\n", label, entries.size(), mb);
    printf("  copy into one file    %8.1f MB/s\n", mb / best[ONE_FILE]);
    printf("  copy into same files  %8.1f MB/s\n", mb / best[SAME_FILES]);
    printf("  staging, verified     %8.1f MB/s\n", mb / best[STAGE]);
    printf("  staging, no record    %8.1f MB/s\n", mb / best[STAGE_UNVERIFIED]);
    printf("  ratio to copy: one file %.3f, same files %.3f   peak memory growth while staging %.2f MiB\n",
           Median(ratioOne), Median(ratioSame), growth / 1024.0);
    printf("  verified staging against staging without a record: %.3f\n", Median(ratioUnverified));
    return true;
}

// The digest alone, in memory: what verification can cost at most.
void DigestRate()
{
    std::vector<unsigned char> data(64u << 20);
    uint32_t x = 777;
    for (size_t i = 0; i + 4 <= data.size(); i += 4) {
        x = x * 1103515245u + 12345u;
        memcpy(&data[i], &x, 4);
    }
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
    printf("XXH3-128 alone, 256 MiB in memory: %.1f MB/s (digest %02x%02x...)\n", 256 * 1048576 / 1e6 / bestTime,
           out[0], out[1]);
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
    } else if (access("/dev/shm", W_OK) == 0) {
        base = "/dev/shm";
    } else {
        char temp[STAGE_PATH_SIZE] = {};
        GetTempPathA(sizeof temp, temp);
        base = temp;
    }
    std::string work = base + "/qv-stage-bench-" + std::to_string(getpid());
    if (_mkdir(work.c_str()) != 0) {
        fprintf(stderr, "stage_bench: cannot create %s\n", work.c_str());
        return 2;
    }
    printf("staging vs a plain copy with a 1 MiB buffer, in %s\n"
           "best rates of %d rounds (x10 for small payloads); ratios: median over the rounds\n",
           work.c_str(), rounds);
    bool ok = Run("product-shaped (18 files)", ProductShaped(), rounds, work) &&
              Run("1 GiB (200 files)", Large(), rounds, work);
    rmdir(work.c_str());
    if (ok)
        DigestRate();
    return ok ? 0 : 1;
}
