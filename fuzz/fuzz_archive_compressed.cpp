// The archive fuzz target's checks of a compressed archive: the reader, then
// staging, against what the reader gave.
//
// The archive is laid COMPRESSED_AT bytes before PAYLOAD_OFFSET, with no image
// head; its end record names that place. The checks:
//   - names, files and byte counts as for a stored archive; staging writes exactly the
//     entries the reader gave in full, and is complete exactly when the
//     reader found no fault;
//   - a declared dictionary over the cap is refused as such;
//   - an archive read without fault verified its end record, and a reader of
//     the stored archive alone finds no entry to stage at PAYLOAD_OFFSET.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "byte_order.h"
#include "compressed.h"
#include "fuzz_archive.h"
#include "stage.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

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

}  // namespace

// What the reader gave is kept as a length and a digest: a few kilobytes can
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
