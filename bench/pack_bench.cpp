// Packing throughput against a plain copy of the same bytes.
//
// Generates a payload folder of 200 files, 1 GiB in all, one of them 512 MiB,
// then in alternating rounds (a) copies every file's bytes, in archive order,
// into one file through one 1 MiB buffer and (b) builds a launcher from them
// with BuildLauncher. It prints the best rate of each, their ratio, and how
// much the peak resident size grew while packing. The folder is removed at
// the end.
//
// Usage: pack_bench [ROUNDS] [FOLDER]
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
#include "host_files.h"
#include "pack.h"

namespace {

const size_t COPY_BUFFER = 1 << 20;

bool WriteFile(const std::string& path, uint64_t size, uint32_t* seed, std::vector<unsigned char>& block)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = true;
    for (uint64_t left = size; ok && left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        for (size_t i = 0; i < n; i += 4) {
            *seed = *seed * 1103515245u + 12345u;
            memcpy(&block[i], seed, std::min<size_t>(4, n - i));
        }
        ok = fwrite(block.data(), 1, n, f) == n;
        left -= n;
    }
    return fclose(f) == 0 && ok;
}

// 1 GiB in 200 files, one of them 512 MiB.
bool MakePayload(const std::string& folder, uint64_t* bytes)
{
    if (mkdir(folder.c_str(), 0700) != 0)
        return false;
    std::vector<unsigned char> block(COPY_BUFFER);
    uint32_t seed = 12345;
    uint64_t rest = (1ull << 30) - (512ull << 20);
    *bytes = 0;
    for (int i = 0; i < 200; ++i) {
        uint64_t size = i == 199 ? 512ull << 20 : rest / 199 + (i < static_cast<int>(rest % 199) ? 1 : 0);
        std::string name = i == 199 ? "huge.bak" : "file" + std::to_string(1000 + i) + ".bin";
        if (!WriteFile(folder + "/" + name, size, &seed, block))
            return false;
        *bytes += size;
    }
    return true;
}

// The baseline: the same bytes read and written through one 1 MiB buffer.
bool PlainCopy(const std::vector<PackItem>& items, const std::string& out)
{
    FILE* o = fopen(out.c_str(), "wb");
    if (o == nullptr)
        return false;
    setvbuf(o, nullptr, _IONBF, 0);
    std::vector<unsigned char> buffer(COPY_BUFFER);
    bool ok = true;
    for (const PackItem& item : items) {
        FILE* in = fopen(item.path.c_str(), "rb");
        if (in == nullptr) {
            ok = false;
            break;
        }
        setvbuf(in, nullptr, _IONBF, 0);
        size_t got;
        while (ok && (got = fread(buffer.data(), 1, buffer.size(), in)) > 0)
            ok = fwrite(buffer.data(), 1, got, o) == got;
        fclose(in);
    }
    return fclose(o) == 0 && ok;
}

void RemoveFolder(const std::string& folder)
{
    std::vector<std::string> names;
    ListHostFolder(folder, &names);
    for (const std::string& name : names)
        unlink((folder + "/" + name).c_str());
    rmdir(folder.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    if (rounds < 1)
        rounds = 1;
    struct stat st;
    std::string base = argc > 2 ? argv[2] : (stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp");
    std::string work = base + "/qv-pack-bench-" + std::to_string(getpid());
    if (mkdir(work.c_str(), 0700) != 0) {
        fprintf(stderr, "pack_bench: cannot create %s\n", work.c_str());
        return 2;
    }
    std::string payload = work + "/payload", stub = work + "/stub.exe";
    std::string copyOut = work + "/copy.bin", packOut = work + "/launcher.exe";
    uint64_t bytes = 0;
    std::vector<unsigned char> stubBytes(64 * 1024, 0);
    stubBytes[0] = 'M';
    stubBytes[1] = 'Z';
    uint32_t seed = 1;
    std::vector<unsigned char> block(COPY_BUFFER);
    bool ok = MakePayload(payload, &bytes) && WriteFile(stub, stubBytes.size(), &seed, block);
    std::vector<PackItem> items;
    PackResult result;
    ok = ok && CollectPackItems({payload}, 936, &items, &result) == PackError::Ok;
    if (!ok) {
        fprintf(stderr, "pack_bench: cannot prepare the payload in %s\n", work.c_str());
        RemoveFolder(payload);
        unlink(stub.c_str());
        rmdir(work.c_str());
        return 2;
    }
    printf("packing vs a plain copy with a 1 MiB buffer, best of %d rounds, in %s\n", rounds, work.c_str());
    printf("payload: %zu files, %.1f MB, largest 512 MiB\n", items.size(), bytes / 1e6);

    double bestCopy = 1e30, bestPack = 1e30, bestBare = 1e30;
    long peakGrowthKiB = 0;
    for (int round = 0; round < rounds && ok; ++round) {
        double t0 = Now();
        ok = PlainCopy(items, copyOut);
        double copy = Now() - t0;
        unlink(copyOut.c_str());

        PackRequest request;
        request.output = packOut;
        request.stub = stub;
        request.inputs = {payload};
        request.force = true;  // the stub is a stand-in, not a program
        // Without the integrity record first: the packing alone, no digest.
        request.integrity = false;
        t0 = Now();
        ok = ok && BuildLauncher(request, &result) == PackError::Ok;
        double bare = Now() - t0;
        unlink(packOut.c_str());
        request.integrity = true;
        ResetPeak();
        long rssBefore = StatusKiB("VmRSS:");
        t0 = Now();
        ok = ok && BuildLauncher(request, &result) == PackError::Ok;
        double pack = Now() - t0;
        long growth = StatusKiB("VmHWM:") - rssBefore;
        unlink(packOut.c_str());
        if (!ok)
            break;
        printf("round %d: copy %8.1f MB/s  pack %8.1f MB/s  pack, no record %8.1f MB/s  peak growth while packing %.2f MiB\n",
               round + 1, bytes / copy / 1e6, bytes / pack / 1e6, bytes / bare / 1e6, growth / 1024.0);
        bestCopy = std::min(bestCopy, copy);
        bestPack = std::min(bestPack, pack);
        bestBare = std::min(bestBare, bare);
        peakGrowthKiB = std::max(peakGrowthKiB, growth);
    }
    RemoveFolder(payload);
    unlink(stub.c_str());
    rmdir(work.c_str());
    if (!ok) {
        fprintf(stderr, "pack_bench: %s: %s\n", result.culprit.c_str(), PackErrorText(result.error));
        return 1;
    }
    // Figures, not a verdict: the ratio varies with the machine and its load,
    // so a miss is printed, never turned into a failure.
    double ratio = bestCopy / bestPack;
    printf("best: copy %.1f MB/s, pack %.1f MB/s, ratio %.3f (target >= 0.9%s); without the record %.1f MB/s, "
           "ratio %.3f; peak growth %.2f MiB\n",
           bytes / bestCopy / 1e6, bytes / bestPack / 1e6, ratio, ratio >= 0.9 ? "" : ", missed",
           bytes / bestBare / 1e6, bestCopy / bestBare, peakGrowthKiB / 1024.0);
    return 0;
}
