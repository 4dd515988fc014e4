// The archive format: header coding, name rules, the reader's view of a
// launcher file's end (empty archive, trailing bytes, a certificate table),
// and the digest its integrity record holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive.h"
#include "digest.h"
#include "test_files.h"

using namespace testing_support;

TEST(ArchiveFormat, HeaderFieldsAreLittleEndianAndNameNeedsNul)
{
    unsigned char raw[ENTRY_HEADER_SIZE];
    EncodeEntryHeader("setup.ini", 0x01020304u, raw);
    EXPECT_EQ(0, memcmp(raw, "setup.ini\0\0", 11));
    EXPECT_EQ(0x04, raw[128]);
    EXPECT_EQ(0x01, raw[131]);

    PayloadEntryHeader header;
    ASSERT_EQ(PayloadError::Ok, DecodeEntryHeader(raw, &header));
    EXPECT_STREQ("setup.ini", header.name);
    EXPECT_EQ(0x01020304u, header.size);

    // 127 bytes and a NUL is the longest name; 128 without NUL is refused.
    Bytes longest = RawHeader(std::string(127, 'a'), 7);
    ASSERT_EQ(PayloadError::Ok, DecodeEntryHeader(longest.data(), &header));
    EXPECT_EQ(127u, strlen(header.name));
    Bytes unterminated = RawHeader(std::string(128, 'a'), 7);
    EXPECT_EQ(PayloadError::NameWithoutNul, DecodeEntryHeader(unterminated.data(), &header));
}

TEST(ArchiveFormat, OnlyBareWindowsFileNamesAreSafe)
{
    const char* safe[] = {
        "ZelkSetupGb.exe", "a", "readme", ".hidden", "a..b", "CONSOLE.txt", "COM10", "LPT",
        "con1", "NULL", "AUXX.txt", "x.CON", "name with spaces.txt",
        "\xd6\xd0\xce\xc4.txt",  // GBK bytes
    };
    for (const char* name : safe)
        EXPECT_TRUE(IsSafeEntryName(name)) << name;

    const char* unsafe[] = {
        "", ".", "..", "a\\b", "..\\evil.dll", "a/b", "/etc/passwd", "C:evil", "a*b", "a?b",
        "a\"b", "a<b", "a>b", "a|b", "tab\there", "bell\x07", "trailing.", "trailing ",
        "CON", "con", "Con.txt", "PRN.log", "AUX", "NUL.tar.gz", "COM0", "com9.dat",
        "LPT1", "lpt5.x", "CONIN$", "conout$.txt", "CON .txt", "COM\xB9", "lpt\xB2.txt", "Com\xB3.log",
        "\x95\x5c.txt",  // a GBK character whose trail byte is a backslash
    };
    for (const char* name : unsafe)
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
}

namespace {

struct ReadAll {
    std::vector<std::string> names;
    PayloadError error = PayloadError::Ok;
    uint64_t trailing = 0;
};

ReadAll ReadEntries(const std::string& path)
{
    ReadAll all;
    PayloadReader reader;
    if (OpenPayload(&reader, path.c_str()) != PayloadError::Ok) {
        all.error = reader.error;
        return all;
    }
    PayloadEntryHeader header;
    while (NextPayloadEntry(&reader, &header))
        all.names.push_back(header.name);
    all.error = reader.error;
    all.trailing = reader.trailing;
    ClosePayload(&reader);
    return all;
}

}  // namespace

TEST(ArchiveReader, EndsWhereNoWholeHeaderRemains)
{
    ScratchDir dir;
    std::string path = dir / "launcher.exe";

    ASSERT_TRUE(WriteFileBytes(path, MakeLauncherBytes({}, {})));
    ReadAll empty = ReadEntries(path);
    EXPECT_TRUE(empty.names.empty());
    EXPECT_EQ(PayloadError::Ok, empty.error);

    ASSERT_TRUE(WriteFileBytes(path, Bytes(1000, 'x')));  // shorter than the payload offset
    EXPECT_TRUE(ReadEntries(path).names.empty());

    // A zero-size entry is followed directly by the next header; 131 bytes
    // after the last entry are not an entry.
    ASSERT_TRUE(WriteFileBytes(path, MakeLauncherBytes({}, {{"empty.log", {}}, {"b.txt", {'b'}}},
                                                       Bytes(131, 0xAB))));
    ReadAll some = ReadEntries(path);
    EXPECT_EQ((std::vector<std::string>{"empty.log", "b.txt"}), some.names);
    EXPECT_EQ(PayloadError::Ok, some.error);
    EXPECT_EQ(131u, some.trailing);
}

TEST(ArchiveReader, StopsAtTheCertificateTableOfASignedLauncher)
{
    ScratchDir dir;
    std::string path = dir / "signed.exe";
    std::vector<TestEntry> entries = {{"a.dll", Pattern(300, 1)}, {"b.txt", Pattern(5, 2)}};
    size_t archiveEnd = MakeLauncherBytes({}, entries).size();
    Bytes table = RawHeader("looks-like-an-entry.bin", 16);  // a table that would parse as a header
    table.resize(200, 0x30);
    Bytes file = MakeLauncherBytes(MinimalPeImage(0x400, static_cast<uint32_t>(archiveEnd + 8), 200), entries,
                                   Bytes(8, 0));  // the signing tool's padding
    file.insert(file.end(), table.begin(), table.end());
    ASSERT_TRUE(WriteFileBytes(path, file));

    ReadAll all = ReadEntries(path);
    EXPECT_EQ((std::vector<std::string>{"a.dll", "b.txt"}), all.names);
    EXPECT_EQ(PayloadError::Ok, all.error);
    EXPECT_EQ(8u, all.trailing);

    // An entry reaching into the table is truncated, not read through it.
    Bytes overlapping =
        MakeLauncherBytes(MinimalPeImage(0x400, PAYLOAD_OFFSET + 140, 200), {{"c.bin", Pattern(50, 3)}});
    ASSERT_TRUE(WriteFileBytes(path, overlapping));
    PayloadReader reader;
    ASSERT_EQ(PayloadError::Ok, OpenPayload(&reader, path.c_str()));
    PayloadEntryHeader header;
    ASSERT_TRUE(NextPayloadEntry(&reader, &header));
    unsigned char buffer[64];
    EXPECT_EQ(8u, ReadPayloadData(&reader, buffer, sizeof buffer));
    EXPECT_EQ(PayloadError::TruncatedData, reader.error);
    ClosePayload(&reader);

    // A table that lies inside the image does not bound the archive.
    ASSERT_TRUE(WriteFileBytes(path, MakeLauncherBytes(MinimalPeImage(0x400, 0x200, 0x100), entries)));
    EXPECT_EQ(2u, ReadEntries(path).names.size());
}

namespace {

// The digest of data fed in pieces of piece bytes (0: all at once), in hex.
std::string DigestHex(const Bytes& data, size_t piece, std::string* codePath = nullptr)
{
    ArchiveDigest digest;
    EXPECT_TRUE(digest.Valid());
    for (size_t at = 0; at < data.size(); at += piece == 0 ? data.size() : piece) {
        size_t n = piece == 0 ? data.size() : std::min(piece, data.size() - at);
        digest.Update(data.data() + at, n);
    }
    unsigned char out[DIGEST_SIZE];
    digest.Final(out);
    if (codePath != nullptr)
        *codePath = digest.CodePath();
    std::string hex;
    for (unsigned char b : out) {
        char two[3];
        snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

}  // namespace

TEST(ArchiveDigest, EveryCodeGivesTheSameDigestAtEveryLengthAndSplit)
{
    // The codes this processor runs; the scalar code, last, runs everywhere.
    std::vector<int> codes;
    for (size_t i = 0; i < DigestCodeCount(); ++i)
        if (DigestCodeRuns(i))
            codes.push_back(static_cast<int>(i));
    ASSERT_FALSE(codes.empty());
    EXPECT_STREQ("scalar", DigestCodeName(static_cast<size_t>(codes.back())));
    std::string best;
    DigestHex({}, 0, &best);
    EXPECT_EQ(DigestCodeName(static_cast<size_t>(codes.front())), best);
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
    // Every machine the tests run on has SSE2: at least two codes compared.
    EXPECT_GE(codes.size(), 2u);
    std::string forced;
    ForceDigestCode(static_cast<int>(DigestCodeCount()) - 1);
    DigestHex({}, 0, &forced);
    ForceDigestCode(-1);
    EXPECT_EQ("scalar", forced);
#endif

    // XXH3-128 as xxHash's own library computes it, canonical (big-endian).
    const char* empty = "99aa06d3014798d86001c324468d497f";
    const char* pattern = "a62e64fc3a68e7f6adf40583191c1e0d";
    // Lengths around XXH3's thresholds (16, 128, 240 bytes), its 256-byte
    // stream buffer, its 64-byte stripes and 1 KiB blocks, and a staging
    // block; each fed whole and in pieces that cut those boundaries.
    const size_t lengths[] = {1, 3, 4, 8, 9, 16, 17, 128, 129, 240, 241, 255, 256, 257,
                              1023, 1024, 1025, 4096 + 63, 65536 + 1, (1 << 20) + 333};
    const size_t pieces[] = {0, 1, 7, 64, 100, 256, 1000, 4096, 65536};
    std::vector<std::string> wholes;
    for (size_t length : lengths)
        wholes.push_back(DigestHex(Pattern(length, static_cast<unsigned>(length)), 0));
    for (int code : codes) {
        SCOPED_TRACE(DigestCodeName(static_cast<size_t>(code)));
        ForceDigestCode(code);
        EXPECT_EQ(empty, DigestHex({}, 0));
        EXPECT_EQ(pattern, DigestHex(Pattern(200000, 5), 0));
        EXPECT_EQ(pattern, DigestHex(Pattern(200000, 5), 333));
        for (size_t l = 0; l < sizeof lengths / sizeof lengths[0]; ++l) {
            Bytes data = Pattern(lengths[l], static_cast<unsigned>(lengths[l]));
            for (size_t piece : pieces) {
                if (piece == 1 && lengths[l] > 65536)
                    continue;  // a million calls prove nothing more
                EXPECT_EQ(wholes[l], DigestHex(data, piece)) << lengths[l] << " in pieces of " << piece;
            }
        }
    }
    ForceDigestCode(-1);
}
