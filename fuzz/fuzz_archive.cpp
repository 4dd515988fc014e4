// Fuzz target over the archive reader and the staging extractor.
//
// Input: the archive itself, laid at PAYLOAD_OFFSET of a launcher file whose
// filler is a hole (a sparse file, so each run writes only the fuzz bytes).
// An input that starts with "MZ" carries its first IMAGE_HEAD_SIZE bytes as
// the image head at offset 0 instead, so a PE header with a certificate
// directory, well formed or not, can end the archive early.
//
// Each run reads the archive with the reader, stages it into a scratch folder
// and checks both against a model walked over the input bytes:
//   - every accepted name is one bare file name; only plain files land, and
//     only directly in the staging folder;
//   - no entry yields more bytes than its size field, and staged files hold
//     exactly their entry's data;
//   - a complete staging consumed the whole archive: the reader stops less
//     than one header before the archive's end, and nowhere else;
//   - an integrity record (found here on its own terms: at the end, perhaps
//     followed by up to 7 zero bytes, its length naming its place) ends the
//     archive, and verifies exactly when the entry count and the XXH3-128 of
//     the bytes before it match; a mismatch makes the staging incomplete and
//     leaves every whole entry staged.
//
// An input that starts with the compressed archive's magic is a compressed
// archive instead, laid COMPRESSED_AT bytes before PAYLOAD_OFFSET (so that one
// longer than that reaches it, where its barrier belongs), with no image
// head; its end record names that place. Its checks:
//   - names, files and byte counts as above; staging writes exactly the
//     entries the reader gave in full, and is complete exactly when the
//     reader found no fault;
//   - a declared dictionary over the cap is refused as such;
//   - an archive read without fault verified its end record, and a reader of
//     the stored archive alone finds no entry to stage at PAYLOAD_OFFSET.
// The scratch folder is emptied after every run.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive.h"
#include "byte_order.h"
#include "compressed.h"
#include "pe_headers.h"
#include "stage.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

const size_t IMAGE_HEAD_SIZE = 512;
const uint64_t COMPRESSED_AT = 1024;

std::string g_root;      // scratch folder: holds the launcher and the staging folder
std::string g_launcher;
std::string g_stage;

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string())
{
    fprintf(stderr, "fuzz_archive: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    abort();
}

void Check(bool ok, const char* what, const std::string& detail = std::string())
{
    if (!ok)
        Fail(what, detail);
}

void RemoveTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* e = readdir(dir))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
            closedir(dir);
            for (const std::string& name : names)
                RemoveTree(path + "/" + name);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::vector<std::string> List(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* e = readdir(dir))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

void RemoveScratch()
{
    if (!g_root.empty())
        RemoveTree(g_root);
}

// The launcher file as the model sees it: head, a hole up to PAYLOAD_OFFSET,
// then the archive bytes. A compressed archive starts before the payload
// offset instead.
struct Launcher {
    const uint8_t* head = nullptr;
    size_t headSize = 0;
    const uint8_t* archive = nullptr;
    size_t archiveSize = 0;
    uint64_t at = PAYLOAD_OFFSET;  // file offset of archive[0]
    uint64_t fileSize() const { return at + archiveSize; }
    bool compressed() const { return at != PAYLOAD_OFFSET; }
};

Launcher Split(const uint8_t* data, size_t size)
{
    Launcher l;
    if (size >= sizeof COMPRESSED_MAGIC && memcmp(data, COMPRESSED_MAGIC, sizeof COMPRESSED_MAGIC) == 0) {
        l.archive = data;
        l.archiveSize = size;
        l.at = PAYLOAD_OFFSET - COMPRESSED_AT;
        return l;
    }
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        l.head = data;
        l.headSize = size < IMAGE_HEAD_SIZE ? size : IMAGE_HEAD_SIZE;
        data += l.headSize;
        size -= l.headSize;
    }
    l.archive = data;
    l.archiveSize = size;
    return l;
}

void WriteAll(int fd, const uint8_t* data, size_t size, off_t at)
{
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, at);
        Check(n > 0, "cannot write the launcher file");
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
}

void WriteLauncher(const Launcher& l)
{
    int fd = open(g_launcher.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Check(fd >= 0, "cannot create the launcher file");
    WriteAll(fd, l.head, l.headSize, 0);
    Check(ftruncate(fd, static_cast<off_t>(l.at)) == 0, "cannot size the launcher file");
    WriteAll(fd, l.archive, l.archiveSize, static_cast<off_t>(l.at));
    close(fd);
}

// The integrity record as the model finds it, without the reader's code.
struct ModelRecord {
    bool present = false;
    bool known = false;       // version 1, XXH3-128
    uint64_t at = 0;          // file offset
    uint32_t entries = 0;
    uint8_t digest[16] = {};
};

ModelRecord FindRecord(const Launcher& l, uint64_t end)
{
    ModelRecord r;
    for (uint64_t padding = 0; padding <= 7; ++padding) {
        if (end < PAYLOAD_OFFSET + 40 + padding)
            break;
        uint64_t at = end - padding - 40;
        const uint8_t* raw = l.archive + (at - PAYLOAD_OFFSET);
        bool zeros = true;
        for (uint64_t i = 40; i < 40 + padding; ++i)
            zeros = zeros && raw[i] == 0;
        if (!zeros)
            break;
        uint64_t length = 0;
        for (int i = 7; i >= 0; --i)
            length = length << 8 | raw[16 + i];
        if (memcmp(raw, "QVINTEGR", 8) == 0 && length == at - PAYLOAD_OFFSET) {
            r.present = true;
            r.known = raw[8] == 1 && raw[9] == 0 && raw[10] == 1 && raw[11] == 0;
            r.at = at;
            r.entries = ReadLE32(raw + 12);
            memcpy(r.digest, raw + 24, 16);
            return r;
        }
    }
    return r;
}

// True when the archive bytes before the record hash to its digest.
bool DigestMatches(const Launcher& l, const ModelRecord& r)
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits(l.archive, static_cast<size_t>(r.at - PAYLOAD_OFFSET)));
    return memcmp(canonical.digest, r.digest, 16) == 0;
}

// What the archive holds, walked over the input bytes without the reader.
struct Model {
    enum Ending { End, NoNul, Unsafe, Duplicate, Truncated, TooLong, CutShort } ending = End;
    struct Entry {
        std::string name;
        uint32_t size;
        std::vector<uint8_t> data;  // the bytes present (all of them unless truncated)
    };
    std::vector<Entry> entries;  // every header decoded; the last one perhaps cut short or refused
    uint64_t stopPos = 0;        // archive offset where the walk stopped
};

// A name as Windows compares it: ASCII letters in upper case, except the
// second byte of what a byte from 0x81 up begins.
std::string NameKey(const std::string& name)
{
    std::string key = name;
    for (size_t i = 0; i < key.size(); ++i) {
        if (static_cast<unsigned char>(key[i]) >= 0x81)
            ++i;
        else if (key[i] >= 'a' && key[i] <= 'z')
            key[i] = static_cast<char>(key[i] - 'a' + 'A');
    }
    return key;
}

// A compressed archive's magic where the image ends, with no end record (the
// stored checks run only then): a compressed launcher cut short, which is
// never read as a stored one.
bool CutShort(const Launcher& l)
{
    uint64_t imageEnd = 0;
    bool cut = false;
    if (FILE* file = fopen(g_launcher.c_str(), "rb")) {
        cut = FindImageEnd(file, &imageEnd) && imageEnd + sizeof COMPRESSED_MAGIC <= l.headSize &&
              memcmp(l.head + imageEnd, COMPRESSED_MAGIC, sizeof COMPRESSED_MAGIC) == 0;
        fclose(file);
    }
    return cut;
}

Model Walk(const Launcher& l, uint64_t end, size_t stageDirLength)
{
    Model m;
    if (CutShort(l)) {
        m.ending = Model::CutShort;
        return m;
    }
    std::set<std::string> keys;
    uint64_t pos = 0;
    uint64_t avail = end - PAYLOAD_OFFSET;  // archive bytes before the end
    for (;;) {
        if (avail - pos < ENTRY_HEADER_SIZE) {
            m.stopPos = pos;
            return m;  // ending End
        }
        const uint8_t* raw = l.archive + pos;
        const void* nul = memchr(raw, 0, ENTRY_NAME_SIZE);
        if (nul == nullptr) {
            m.ending = Model::NoNul;
            return m;
        }
        Model::Entry e;
        e.name.assign(reinterpret_cast<const char*>(raw), static_cast<const uint8_t*>(nul) - raw);
        e.size = ReadLE32(raw + ENTRY_SIZE_FIELD);
        pos += ENTRY_HEADER_SIZE;
        uint64_t present = avail - pos < e.size ? avail - pos : e.size;
        e.data.assign(l.archive + pos, l.archive + pos + present);
        m.entries.push_back(e);
        if (!IsSafeEntryName(e.name.c_str())) {
            m.ending = Model::Unsafe;
            return m;
        }
        if (!keys.insert(NameKey(e.name)).second) {
            m.ending = Model::Duplicate;
            return m;
        }
        if (stageDirLength + 1 + e.name.size() + 1 > STAGE_PATH_SIZE) {
            m.ending = Model::TooLong;
            return m;
        }
        if (present < e.size) {
            m.ending = Model::Truncated;
            return m;
        }
        pos += e.size;
    }
}

bool IsBareName(const char* name)
{
    return IsSafeEntryName(name) && strchr(name, '/') == nullptr && strchr(name, '\\') == nullptr;
}

// The reader alone: names, byte counts, and where it stops.
void CheckReader(const Launcher& l, uint64_t* archiveEnd, bool* mismatch)
{
    static uint8_t buffer[65536];
    PayloadReader reader;
    Check(OpenPayload(&reader, g_launcher.c_str()) == PayloadError::Ok, "cannot open the launcher file");
    if (reader.limit != UINT64_MAX && reader.integrity == IntegrityState::None) {
        // Only a PE image's certificate table ends the archive before the file does.
        Check(l.headSize >= 2, "archive limited without an image head");
        Check(reader.limit >= PAYLOAD_OFFSET, "archive limit before the payload offset");
    }
    uint64_t certLimit = reader.certSize != 0 && reader.certOffset >= PAYLOAD_OFFSET ? reader.certOffset : UINT64_MAX;
    uint64_t end = certLimit < l.fileSize() ? certLimit : l.fileSize();
    ModelRecord record = FindRecord(l, end);
    Check(record.present == (reader.integrity != IntegrityState::None), "reader and model disagree on the record");
    if (record.present) {
        Check(reader.recordOffset == record.at && reader.limit == record.at, "reader found the record elsewhere");
        end = record.at;
    }
    *archiveEnd = end;
    Model model = Walk(l, end, 0);

    PayloadEntryHeader header;
    size_t index = 0;
    while (NextPayloadEntry(&reader, &header)) {
        Check(IsBareName(header.name), "reader accepted a name that is not a bare file name", header.name);
        Check(index < model.entries.size(), "reader found more entries than the archive holds");
        Check(model.entries[index].name == header.name, "reader returned a different name", header.name);
        Check(model.entries[index].size == header.size, "reader returned a different size", header.name);
        uint64_t total = 0;
        size_t got;
        while ((got = ReadPayloadData(&reader, buffer, sizeof buffer)) > 0) {
            Check(memcmp(buffer, model.entries[index].data.data() + total, got) == 0,
                  "reader returned different data", header.name);
            total += got;
            Check(total <= header.size, "entry yielded more bytes than its size field", header.name);
        }
        Check(total == model.entries[index].data.size(), "reader returned a different byte count", header.name);
        ++index;
    }
    switch (model.ending) {
    case Model::End:
    case Model::TooLong:  // the reader knows no staging path
        if (record.present && record.known) {
            bool match = record.entries == model.entries.size() && DigestMatches(l, record);
            Check(reader.integrity == (match ? IntegrityState::Verified : IntegrityState::Mismatch),
                  "record verified wrongly");
            Check(reader.error == (match ? PayloadError::Ok : PayloadError::IntegrityMismatch),
                  "record's verdict not reported", PayloadErrorText(reader.error));
        } else {
            Check(reader.integrity == (record.present ? IntegrityState::Unsupported : IntegrityState::None),
                  "unknown record not left unverified");
            Check(reader.error == PayloadError::Ok, "reader failed on a sound archive", PayloadErrorText(reader.error));
        }
        Check(index == model.entries.size(), "reader missed entries");
        Check(reader.trailing < ENTRY_HEADER_SIZE, "reader left a whole header unread");
        // The reader took in the short tail too: it stands at the archive's
        // end, and the tail starts where the last entry's data ended.
        Check(reader.pos == end, "reader stopped before the archive's end");
        Check(reader.pos - reader.trailing == PAYLOAD_OFFSET + model.stopPos,
              "reader's tail does not start after the last entry");
        *mismatch = reader.integrity == IntegrityState::Mismatch;
        break;
    case Model::NoNul:
        Check(reader.error == PayloadError::NameWithoutNul, "unterminated name not reported");
        break;
    case Model::Unsafe:
        Check(reader.error == PayloadError::UnsafeName, "unsafe name not reported");
        break;
    case Model::Duplicate:
        Check(reader.error == PayloadError::DuplicateName, "a name that comes again not reported");
        break;
    case Model::CutShort:
        Check(reader.error == PayloadError::ArchiveCutShort, "a cut compressed archive not reported");
        break;
    case Model::Truncated:
        Check(reader.error == PayloadError::TruncatedData, "truncated data not reported");
        break;
    }
    ClosePayload(&reader);
}

// The extractor: what lands in the staging folder, and nowhere else.
void CheckStaging(const Launcher& l, uint64_t archiveEnd, bool mismatch)
{
    StageResult result;
    bool complete = StagePayloadFile(g_launcher.c_str(), g_stage.c_str(), StageOptions(), &result);
    Check(complete == result.complete, "staging result disagrees with its return");
    Model model = Walk(l, archiveEnd, g_stage.size());

    // The files staging must have left: the last entry of each name, written in
    // full. The entry staging stopped at leaves nothing under its name.
    bool lastRefused = model.ending != Model::End && model.ending != Model::NoNul && model.ending != Model::CutShort;
    size_t whole = model.entries.size() - (lastRefused ? 1 : 0);
    std::map<std::string, const Model::Entry*> expected;
    for (size_t i = 0; i < whole; ++i)
        expected[model.entries[i].name] = &model.entries[i];
    if (model.ending == Model::Truncated)
        expected.erase(model.entries.back().name);

    Check(complete == (model.ending == Model::End && !mismatch), "staging completeness is wrong",
          PayloadErrorText(result.error));
    if (model.ending == Model::End && mismatch)
        Check(result.error == PayloadError::IntegrityMismatch, "staging stopped for another reason",
              PayloadErrorText(result.error));
    Check(result.entries == whole, "staging counted a different number of entries");
    if (model.ending == Model::CutShort)
        Check(result.error == PayloadError::ArchiveCutShort, "staging stopped for another reason",
              PayloadErrorText(result.error));

    std::vector<std::string> top = List(g_root);
    Check(top.size() == 2, "something was written beside the staging folder");
    for (const std::string& name : List(g_stage)) {
        std::string path = g_stage + "/" + name;
        Check(IsBareName(name.c_str()), "staged a file under a name that is not bare", name);
        struct stat st;
        Check(lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode), "staged something that is not a plain file", name);
        auto it = expected.find(name);
        Check(it != expected.end(), "staged a file no whole entry accounts for", name);
        const Model::Entry& e = *it->second;
        Check(static_cast<uint64_t>(st.st_size) <= e.size, "staged file is larger than its size field", name);
        Check(static_cast<uint64_t>(st.st_size) == e.data.size(), "staged file has the wrong length", name);
        std::vector<uint8_t> bytes(e.data.size());
        int fd = open(path.c_str(), O_RDONLY);
        Check(fd >= 0, "cannot read back a staged file", name);
        Check(read(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()), "short read back", name);
        close(fd);
        Check(bytes == e.data, "staged file differs from its entry's data", name);
        expected.erase(it);
    }
    Check(expected.empty(), "an entry staged in full has no file", expected.empty() ? "" : expected.begin()->first);
}

// A staged file's length and XXH3-128, read in blocks.
bool DigestFile(const std::string& path, uint64_t* length, XXH128_hash_t* digest)
{
    static uint8_t block[65536];
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    int fd = open(path.c_str(), O_RDONLY);
    ssize_t got = 0;
    *length = 0;
    while (fd >= 0 && (got = read(fd, block, sizeof block)) > 0) {
        XXH3_128bits_update(state, block, static_cast<size_t>(got));
        *length += static_cast<uint64_t>(got);
    }
    *digest = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    if (fd >= 0)
        close(fd);
    return fd >= 0 && got == 0;
}

// A compressed archive: the reader, then staging, against what the reader
// gave. What it gave is kept as a length and a digest: a few kilobytes can
// inflate to hundreds of megabytes, and a sound archive needs no more memory
// than the decoder's dictionary.
void CheckCompressed(const Launcher& l)
{
    static uint8_t buffer[65536];
    struct Read {
        std::string name;
        uint32_t size;
        uint64_t length;
        XXH128_hash_t digest;
        bool whole;
    };
    std::vector<Read> entries;
    PayloadReader reader;
    Check(OpenPayload(&reader, g_launcher.c_str()) == PayloadError::Ok, "cannot open the launcher file");
    bool compressed = reader.compressed != nullptr;
    bool laidHere = reader.start == l.at;  // the archive header is the input's start
    bool signedImage = reader.certSize != 0;
    PayloadEntryHeader header;
    while (NextPayloadEntry(&reader, &header)) {
        Check(IsBareName(header.name), "reader accepted a name that is not a bare file name", header.name);
        Read e{header.name, header.size, 0, {}, false};
        XXH3_state_t* state = XXH3_createState();
        XXH3_128bits_reset(state);
        size_t got;
        while ((got = ReadPayloadData(&reader, buffer, sizeof buffer)) > 0) {
            XXH3_128bits_update(state, buffer, got);
            e.length += got;
            Check(e.length <= header.size, "entry yielded more bytes than its size field", header.name);
        }
        e.digest = XXH3_128bits_digest(state);
        XXH3_freeState(state);
        e.whole = reader.error == PayloadError::Ok;
        if (e.whole)
            Check(e.length == header.size, "an entry ended short without a fault", header.name);
        entries.push_back(e);
    }
    PayloadError error = reader.error;
    IntegrityState integrity = reader.integrity;
    ClosePayload(&reader);

    // The header as the model reads it: a dictionary over the cap is refused
    // for what it is, before anything is staged.
    if (compressed && laidHere && l.archiveSize >= COMPRESSED_HEADER_SIZE + END_RECORD_SIZE) {
        CompressedHeader model;
        uint64_t room = l.archiveSize - COMPRESSED_HEADER_SIZE - END_RECORD_SIZE;
        if (DecodeCompressedHeader(l.archive, &model) && model.version == COMPRESSED_VERSION &&
            model.codec == COMPRESSED_CODEC_LZMA && ReadLE32(model.properties + 1) > LZMA_DICTIONARY_CAP &&
            model.properties[0] < 9 * 5 * 5 && model.entries <= room / COMPRESSED_ENTRY_SIZE &&
            model.unpacked <= static_cast<uint64_t>(model.entries) * UINT32_MAX && error != PayloadError::UnknownArchive)
            Check(error == PayloadError::DictionaryTooLarge && entries.empty(), "a dictionary over the cap was not refused",
                  PayloadErrorText(error));
    }
    if (compressed && error == PayloadError::Ok) {
        Check(integrity == IntegrityState::Verified, "an archive read without fault was not verified");
        // Whatever stands at the payload offset, a stored reader refuses it
        // (a certificate table added after packing is not the packer's).
        if (!signedImage && l.fileSize() >= PAYLOAD_OFFSET + ENTRY_HEADER_SIZE) {
            PayloadEntryHeader stored;
            const uint8_t* raw = l.archive + (PAYLOAD_OFFSET - l.at);
            Check(DecodeEntryHeader(raw, &stored) != PayloadError::Ok || !IsSafeEntryName(stored.name),
                  "a stored reader would stage compressed bytes", stored.name);
        }
    }

    StageResult result;
    bool complete = StagePayloadFile(g_launcher.c_str(), g_stage.c_str(), StageOptions(), &result);
    Check(complete == result.complete, "staging result disagrees with its return");
    std::vector<std::string> top = List(g_root);
    Check(top.size() == 2, "something was written beside the staging folder");
    if (!compressed) {
        // Read as a stored archive from the payload offset: the names and
        // files are checked, not the content.
        for (const std::string& name : List(g_stage)) {
            struct stat st;
            Check(IsBareName(name.c_str()), "staged a file under a name that is not bare", name);
            Check(lstat((g_stage + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode),
                  "staged something that is not a plain file", name);
        }
        return;
    }
    Check(complete == (error == PayloadError::Ok), "staging and the reader disagree", PayloadErrorText(result.error));
    if (!complete)
        Check(result.error == error, "staging stopped for another reason than the reader", PayloadErrorText(result.error));
    std::map<std::string, const Read*> expected;
    for (const Read& e : entries)
        if (e.whole)
            expected[e.name] = &e;
        else
            expected.erase(e.name);  // its file was removed, and an earlier one of that name replaced
    for (const std::string& name : List(g_stage)) {
        std::string path = g_stage + "/" + name;
        struct stat st;
        Check(IsBareName(name.c_str()), "staged a file under a name that is not bare", name);
        Check(lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode), "staged something that is not a plain file", name);
        auto it = expected.find(name);
        Check(it != expected.end(), "staged a file no whole entry accounts for", name);
        uint64_t length = 0;
        XXH128_hash_t digest;
        Check(DigestFile(path, &length, &digest), "cannot read back a staged file", name);
        Check(length == it->second->length && XXH128_isEqual(digest, it->second->digest),
              "staged file differs from what the reader gave", name);
        expected.erase(it);
    }
    Check(expected.empty(), "an entry read in full has no file", expected.empty() ? "" : expected.begin()->first);
}

void EmptyScratch()
{
    for (const std::string& name : List(g_root))
        RemoveTree(g_root + "/" + name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = getenv("QUORVANE_FUZZ_SCRATCH");
    if (base == nullptr || *base == '\0') {
        struct stat st;
        base = stat("/dev/shm", &st) == 0 && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    }
    std::string pattern = std::string(base) + "/qv-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    Check(mkdtemp(buf.data()) != nullptr, "cannot make the scratch folder", pattern);
    g_root = buf.data();
    g_launcher = g_root + "/launcher.exe";
    g_stage = g_root + "/tmpsoft";
    atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Launcher launcher = Split(data, size);
    WriteLauncher(launcher);
    // An end record makes any file a compressed launcher, wherever it was laid.
    PayloadReader probe;
    bool endRecord = OpenPayload(&probe, g_launcher.c_str()) == PayloadError::Ok && probe.compressed != nullptr;
    ClosePayload(&probe);
    if (launcher.compressed() || endRecord) {
        CheckCompressed(launcher);
    } else {
        uint64_t archiveEnd = 0;
        bool mismatch = false;
        CheckReader(launcher, &archiveEnd, &mismatch);
        CheckStaging(launcher, archiveEnd, mismatch);
    }
    EmptyScratch();
    return 0;
}
