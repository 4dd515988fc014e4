// The archive fuzz target's checks of a stored archive.
//
// The reader and the extractor, against a model walked over the input bytes:
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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>

#include "byte_order.h"
#include "compressed.h"
#include "fuzz_archive.h"
#include "pe_headers.h"
#include "stage.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

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
}  // namespace

void CheckStored(const Launcher& l)
{
    uint64_t archiveEnd = 0;
    bool mismatch = false;
    CheckReader(l, &archiveEnd, &mismatch);
    CheckStaging(l, archiveEnd, mismatch);
}
