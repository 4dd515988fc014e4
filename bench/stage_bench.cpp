// Staging throughput against a plain copy of the same bytes.
//
// For each payload it writes a launcher file, then in alternating rounds
// (a) copies the archive's bytes with one 1 MiB buffer into one file and
// (b) stages the archive with StagePayloadFile. It prints the best rate of
// each, their ratio, and how much the peak resident size grew while staging.
//
// Usage: stage_bench [ROUNDS] [FOLDER]
// The files go under FOLDER, by default /dev/shm where it exists, so that the
// figures measure the code rather than the disk's write-back; name a folder on
// a disk to measure that instead.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "archive.h"
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

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

long StatusKiB(const char* field)
{
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long value = -1;
    size_t len = strlen(field);
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, field, len) == 0)
            value = atol(line + len + 1);
    fclose(f);
    return value;
}

// Resets the peak resident size so VmHWM measures only what follows.
void ResetPeak()
{
    FILE* f = fopen("/proc/self/clear_refs", "w");
    if (f != nullptr) {
        fputs("5", f);
        fclose(f);
    }
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
    for (const EntrySpec& e : entries) {
        unsigned char header[ENTRY_HEADER_SIZE];
        EncodeEntryHeader(e.name.c_str(), static_cast<uint32_t>(e.size), header);
        ok = ok && fwrite(header, 1, sizeof header, f) == sizeof header;
        for (uint64_t left = e.size; ok && left > 0;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
            for (size_t i = 0; i < n; i += 4) {
                x = x * 1103515245u + 12345u;
                memcpy(&block[i], &x, std::min<size_t>(4, n - i));
            }
            ok = fwrite(block.data(), 1, n, f) == n;
            left -= n;
        }
        *payloadBytes += ENTRY_HEADER_SIZE + e.size;
    }
    return fclose(f) == 0 && ok;
}

bool PlainCopy(const std::string& from, const std::string& to)
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

void RemoveStaged(const std::string& stage, const std::vector<EntrySpec>& entries)
{
    for (const EntrySpec& e : entries)
        unlink((stage + "/" + e.name).c_str());
}

bool Run(const char* label, const std::vector<EntrySpec>& entries, int rounds, const std::string& work)
{
    std::string launcher = work + "/launcher.exe";
    std::string copy = work + "/copy.bin";
    std::string stage = work + "/tmpsoft";
    uint64_t bytes = 0;
    if (!WriteLauncher(launcher, entries, &bytes)) {
        fprintf(stderr, "stage_bench: cannot write %s\n", launcher.c_str());
        return false;
    }
    double bestCopy = 1e30, bestStage = 1e30;
    long growth = 0;
    bool failed = false;
    auto timeCopy = [&] {
        unlink(copy.c_str());
        sync();
        double t0 = Now();
        failed |= !PlainCopy(launcher, copy);
        bestCopy = std::min(bestCopy, Now() - t0);
        unlink(copy.c_str());
    };
    auto timeStage = [&] {
        RemoveStaged(stage, entries);
        sync();
        long before = StatusKiB("VmRSS:");
        ResetPeak();
        StageResult result;
        double t0 = Now();
        bool complete = StagePayloadFile(launcher.c_str(), stage.c_str(), StageOptions(), &result);
        bestStage = std::min(bestStage, Now() - t0);
        growth = std::max(growth, StatusKiB("VmHWM:") - before);
        if (!complete || result.entries != entries.size()) {
            fprintf(stderr, "stage_bench: staging failed: %s\n", PayloadErrorText(result.error));
            failed = true;
        }
    };
    // Alternate which goes first, so neither always inherits the other's write-back.
    // Small payloads take milliseconds: give them more rounds against timer noise.
    int n = bytes < (100u << 20) ? rounds * 10 : rounds;
    for (int r = 0; r < n && !failed; ++r) {
        if (r % 2 == 0) {
            timeCopy();
            timeStage();
        } else {
            timeStage();
            timeCopy();
        }
    }
    if (failed)
        return false;
    RemoveStaged(stage, entries);
    rmdir(stage.c_str());
    unlink(launcher.c_str());
    double mb = bytes / 1e6;
    printf("%-26s %5zu entries %9.1f MB  copy %8.1f MB/s  stage %8.1f MB/s  ratio %.3f  peak growth %.2f MiB\n",
           label, entries.size(), mb, mb / bestCopy, mb / bestStage, bestCopy / bestStage, growth / 1024.0);
    return true;
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
    printf("staging vs a plain copy with a 1 MiB buffer, best of %d rounds, in %s\n", rounds, work.c_str());
    bool ok = Run("product-shaped (18 files)", ProductShaped(), rounds, work) &&
              Run("1 GiB (200 files)", Large(), rounds, work);
    rmdir(work.c_str());
    return ok ? 0 : 1;
}
