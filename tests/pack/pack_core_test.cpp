// The packer's logic called directly: code pages, names, sizes, cancelling,
// compressed launchers and the compressed pictures' reader. Past the usual
// length: short cases, each calling one function of the packer's logic.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <map>

#include "byte_order.h"
#include "codepage.h"
#include "compress.h"
#include "compressed_picture.h"
#include "pack.h"
#include "pack_test_support.h"
#include "stage.h"
#include "stub_pictures.h"

using namespace testing_support;
using namespace pack_testing;

TEST(CodePages, ConvertExactlyOrNotAtAll)
{
    std::string out;
    ASSERT_TRUE(Utf8ToCodePage(936, "\xE4\xB8\xAD\xE6\x96\x87\xE8\xAF\xB4\xE6\x98\x8E.txt", &out));
    EXPECT_EQ("\xD6\xD0\xCE\xC4\xCB\xB5\xC3\xF7.txt", out);
    ASSERT_TRUE(CodePageToUtf8(936, out, &out));
    EXPECT_EQ("\xE4\xB8\xAD\xE6\x96\x87\xE8\xAF\xB4\xE6\x98\x8E.txt", out);

    EXPECT_FALSE(Utf8ToCodePage(936, "\xF0\x9F\x98\x80", &out));       // an emoji
    EXPECT_FALSE(Utf8ToCodePage(1252, "\xC4\x81", &out));              // ā: no best-fit 'a'
    EXPECT_FALSE(Utf8ToCodePage(936, "bad\xFF.txt", &out));            // not UTF-8
    EXPECT_FALSE(CodePageToUtf8(936, "\xD6", &out));                   // half a character
    ASSERT_TRUE(Utf8ToCodePage(65001, "\xC4\x81.txt", &out));
    EXPECT_EQ("\xC4\x81.txt", out);
    EXPECT_FALSE(IsCodePageSupported(12345));
}

TEST(CollectPackItems, JudgesSizesAndCaseLikeTheTargetFileSystem)
{
    ScratchDir dir;
    std::vector<PackItem> items;
    PackResult result;

    // The size field holds 4 GiB - 1; one more byte does not fit.
    std::string largest = dir / "largest.bak";
    ASSERT_TRUE(MakeSizedFile(largest, 0xFFFFFFFFull));
    EXPECT_EQ(PackError::Ok, CollectPackItems({largest}, 936, &items, &result));
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ(0xFFFFFFFFull, items[0].size);
    ASSERT_TRUE(MakeSizedFile(largest, 0x100000000ull));
    EXPECT_EQ(PackError::FileTooLarge, CollectPackItems({largest}, 936, &items, &result));
    EXPECT_EQ(largest, result.culprit);
    RemoveTree(largest);

    // Letters beyond ASCII have case too: these would be one file on Windows.
    std::string a = dir / "a", b = dir / "b";
    ASSERT_TRUE(MakeFolder(a) && MakeFolder(b));
    ASSERT_TRUE(WriteFileText(JoinPath(a, "\xC3\x84rger.txt"), "x"));  // Ärger
    ASSERT_TRUE(WriteFileText(JoinPath(b, "\xC3\xA4rger.txt"), "y"));  // ärger
    EXPECT_EQ(PackError::DuplicateName, CollectPackItems({a, b}, 1252, &items, &result));
    ASSERT_TRUE(WriteFileText(JoinPath(b, "\xC3\xA4rger.txt"), "y"));
    EXPECT_EQ(PackError::DuplicateName, CollectPackItems({a, JoinPath(a, "\xC3\x84rger.txt")}, 1252, &items, &result))
        << "the same file named twice";
}

TEST(BuildLauncher, ACancelledBuildWritesNothing)
{
    ScratchDir dir;
    std::string stub = dir / "stub.exe", out = dir / "out.exe", data = dir / "data.bin";
    ASSERT_TRUE(WriteFileBytes(stub, MinimalPeImage(0x800)));
    ASSERT_TRUE(WriteFileBytes(data, Pattern(5 << 20, 1)));

    struct Canceller {
        volatile std::sig_atomic_t flag = 0;
        unsigned calls = 0;
    } canceller;
    PackRequest request;
    request.output = out;
    request.stub = stub;
    request.inputs = {data};
    request.cancel = &canceller.flag;
    request.context = &canceller;
    // Cancelled part way, as a signal would.
    request.progress = [](uint64_t done, uint64_t, void* context) {
        Canceller* c = static_cast<Canceller*>(context);
        ++c->calls;
        if (done > (3u << 20))
            c->flag = 1;
    };
    PackResult result;
    EXPECT_EQ(PackError::Interrupted, BuildLauncher(request, &result));
    EXPECT_GT(canceller.calls, 1u);
    EXPECT_EQ((std::vector<std::string>{"data.bin", "stub.exe"}), ListFolder(dir.path()));

    canceller.flag = 0;
    request.progress = nullptr;
    ASSERT_EQ(PackError::Ok, BuildLauncher(request, &result));
    EXPECT_EQ(1u, result.entries);
    EXPECT_EQ(PAYLOAD_OFFSET + ENTRY_HEADER_SIZE + (5u << 20) + INTEGRITY_RECORD_SIZE, result.outputSize);
    EXPECT_EQ((std::vector<std::string>{"data.bin", "out.exe", "stub.exe"}), ListFolder(dir.path()));
}

namespace {

// A stub that reads compressed archives, as the launcher's version block says.
Bytes CompressingStub()
{
    return VersionedPeImage("Quorvane", "stored lzma1");
}

// An x86 image whose code calls a few functions from many places.
Bytes X86Image(size_t size)
{
    Bytes image = MinimalPeImage(static_cast<uint32_t>(size));
    for (size_t at = 0x400; at + 16 <= size; at += 16) {
        uint32_t target = 0x400 + 64 * ((at / 16) % 5);
        image[at] = 0xE8;
        WriteLE32(&image[at + 1], target - static_cast<uint32_t>(at + 5));
    }
    return image;
}

Bytes Text(size_t size)
{
    std::string line = "Quorvane packs its payload as one LZMA stream; ";
    Bytes text;
    for (size_t i = 0; text.size() < size; ++i)
        text.insert(text.end(), line.begin(), line.end()), text.push_back(static_cast<unsigned char>('0' + i % 10));
    text.resize(size);
    return text;
}

struct Packed {
    PackError error;
    PackResult result;
};

Packed PackCompressed(const std::string& stub, const std::vector<std::string>& inputs, const std::string& out)
{
    PackRequest request;
    request.output = out;
    request.stub = stub;
    request.inputs = inputs;
    request.compression = PackCompression::Lzma;
    Packed packed;
    packed.error = BuildLauncher(request, &packed.result);
    return packed;
}

// What an older reader, which knows only the stored archive, makes of a file:
// the header it would read at the payload offset, if the file reaches it.
bool StoredReaderFindsAnEntry(const Bytes& file)
{
    if (file.size() < PAYLOAD_OFFSET + ENTRY_HEADER_SIZE)
        return false;
    PayloadEntryHeader header;
    return DecodeEntryHeader(&file[PAYLOAD_OFFSET], &header) == PayloadError::Ok && IsSafeEntryName(header.name);
}

}  // namespace

TEST(CompressedLauncher, RoundTripsSolidWithTheFilterOnX86Entries)
{
    ScratchDir dir;
    std::string stub = dir / "stub.exe", payload = dir / "payload", out = dir / "out.exe";
    ASSERT_TRUE(WriteFileBytes(stub, CompressingStub()) && MakeFolder(payload));
    std::map<std::string, Bytes> files = {{"a.dll", X86Image(300000)},
                                          {"b.dll", X86Image(200000)},
                                          {"empty.log", {}},
                                          {"licence.txt", Text(STAGE_COPY_BUFFER_SIZE + 4099)},
                                          {"random.bak", Pattern(100000, 7)},
                                          {"ZelkSetupGb.exe", Text(3)}};
    for (const auto& f : files)
        ASSERT_TRUE(WriteFileBytes(JoinPath(payload, f.first), f.second));

    Packed packed = PackCompressed(stub, {payload}, out);
    ASSERT_EQ(PackError::Ok, packed.error) << PackErrorText(packed.error) << " " << packed.result.culprit;
    Bytes launcher;
    ASSERT_TRUE(ReadFileBytes(out, &launcher));
    EXPECT_EQ(launcher.size(), packed.result.outputSize);
    EXPECT_LT(launcher.size(), PAYLOAD_OFFSET) << "no filler";
    uint64_t total = 0;
    for (const auto& f : files)
        total += f.second.size();
    EXPECT_LT(packed.result.packedBytes, total / 4) << "text and code compress";

    LauncherReport report;
    ASSERT_EQ(PayloadError::Ok, DescribeLauncher(out, 936, &report));
    EXPECT_TRUE(report.compressed);
    EXPECT_EQ(CompressingStub().size(), report.archiveStart);
    EXPECT_EQ(IntegrityState::Verified, report.integrity);
    EXPECT_GE(report.dictionary, total) << "the whole payload in reach";
    ASSERT_EQ(files.size(), report.entries.size());
    uint64_t packedSum = 0;
    std::vector<std::string> names;
    for (const ListedEntry& entry : report.entries) {
        names.push_back(entry.storedName);
        EXPECT_EQ(files.at(entry.storedName).size(), entry.size) << entry.storedName;
        EXPECT_EQ(ENTRY_METHOD_LZMA, entry.method);
        EXPECT_EQ(entry.storedName == "a.dll" || entry.storedName == "b.dll" ? ENTRY_FILTER_X86 : ENTRY_FILTER_NONE,
                  entry.filter)
            << entry.storedName;
        packedSum += entry.packedSize;
    }
    EXPECT_EQ((std::vector<std::string>{"a.dll", "b.dll", "empty.log", "licence.txt", "random.bak", "ZelkSetupGb.exe"}),
              names);
    EXPECT_EQ(packed.result.packedBytes, packedSum);
    EXPECT_EQ(report.entries[2].packedSize, 0u) << "an empty entry takes nothing from the stream";

    StageResult staged;
    ASSERT_TRUE(ExtractLauncher(out, dir / "extracted", 936, nullptr, nullptr, &staged))
        << PayloadErrorText(staged.error);
    EXPECT_EQ(IntegrityState::Verified, staged.integrity);
    for (const auto& f : files) {
        Bytes back;
        ASSERT_TRUE(ReadFileBytes(JoinPath(dir / "extracted", f.first), &back)) << f.first;
        EXPECT_TRUE(back == f.second) << f.first;
    }

    // The same inputs give the same bytes; a stub that does not say it reads
    // compressed archives, or one that already carries one, is refused.
    Packed again = PackCompressed(stub, {payload}, dir / "again.exe");
    Bytes second;
    ASSERT_TRUE(ReadFileBytes(dir / "again.exe", &second));
    EXPECT_TRUE(launcher == second);
    std::string older = dir / "older.exe";
    ASSERT_TRUE(WriteFileBytes(older, VersionedPeImage("Quorvane")));
    EXPECT_EQ(PackError::StubCannotDecompress, PackCompressed(older, {payload}, dir / "x.exe").error);
    EXPECT_EQ(PackError::StubCarriesCompressed, PackCompressed(out, {payload}, dir / "y.exe").error);
    EXPECT_FALSE(PathExists(dir / "x.exe") || PathExists(dir / "y.exe"));
}

TEST(CompressedLauncher, ABarrierAtThePayloadOffsetWhereverTheArchiveReachesIt)
{
    ScratchDir dir;
    std::string payload = dir / "payload", stub = dir / "stub.exe", out = dir / "out.exe";
    ASSERT_TRUE(MakeFolder(payload));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "a.dll"), X86Image(70000)));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "b.txt"), Text(50000)));
    Bytes image = CompressingStub();
    ASSERT_TRUE(WriteFileBytes(stub, image));
    Packed first = PackCompressed(stub, {payload}, out);
    ASSERT_EQ(PackError::Ok, first.error);
    const uint64_t length = first.result.outputSize - image.size();  // archive and end record, no barrier

    // Stubs padded so that the archive starts where each case needs it.
    struct Case {
        const char* what;
        uint64_t start;
        bool barrier;
    };
    const std::vector<Case> cases = {
        {"ends before the payload offset", PAYLOAD_OFFSET - length - 1, false},
        {"its record ends at the payload offset", PAYLOAD_OFFSET - length, true},
        {"its record straddles the payload offset", PAYLOAD_OFFSET - length + 20, true},
        {"its data ends at the payload offset", PAYLOAD_OFFSET - (length - END_RECORD_SIZE), true},
        {"the payload offset inside its data", PAYLOAD_OFFSET - length / 2, true},
        {"it starts at the payload offset", PAYLOAD_OFFSET, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes padded = image;
        padded.resize(static_cast<size_t>(c.start), 0);
        ASSERT_TRUE(WriteFileBytes(stub, padded));
        Packed packed = PackCompressed(stub, {payload}, out);
        ASSERT_EQ(PackError::Ok, packed.error) << PackErrorText(packed.error);
        Bytes file;
        ASSERT_TRUE(ReadFileBytes(out, &file));
        if (c.barrier) {
            ASSERT_GE(file.size(), PAYLOAD_OFFSET + BARRIER_SIZE + END_RECORD_SIZE);
            Bytes barrier(BARRIER_SIZE);
            MakeBarrier(barrier.data());
            EXPECT_TRUE(std::equal(barrier.begin(), barrier.end(), file.begin() + PAYLOAD_OFFSET));
        } else {
            EXPECT_EQ(file.size(), c.start + length);
            EXPECT_LT(file.size(), PAYLOAD_OFFSET);
        }
        // A reader of the stored archive alone finds nothing to stage.
        EXPECT_FALSE(StoredReaderFindsAnEntry(file));
        LauncherReport report;
        ASSERT_EQ(PayloadError::Ok, DescribeLauncher(out, 936, &report));
        EXPECT_EQ(c.start, report.archiveStart);
        EXPECT_EQ(IntegrityState::Verified, report.integrity);
        StageResult staged;
        std::string target = dir / "staged";
        RemoveTree(target);
        ASSERT_TRUE(ExtractLauncher(out, target, 936, nullptr, nullptr, &staged)) << PayloadErrorText(staged.error);
        Bytes back;
        ASSERT_TRUE(ReadFileBytes(JoinPath(target, "b.txt"), &back));
        EXPECT_TRUE(back == Text(50000));
    }
}

TEST(CompressedLauncher, DamageAndLiesStopStagingAtTheirEntry)
{
    ScratchDir dir;
    std::string payload = dir / "payload", stub = dir / "stub.exe", out = dir / "out.exe";
    ASSERT_TRUE(MakeFolder(payload) && WriteFileBytes(stub, CompressingStub()));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "a.txt"), Text(40000)));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "b.dll"), X86Image(90000)));
    ASSERT_TRUE(WriteFileBytes(JoinPath(payload, "c.txt"), Text(3000)));
    ASSERT_EQ(PackError::Ok, PackCompressed(stub, {payload}, out).error);
    LauncherReport report;
    ASSERT_EQ(PayloadError::Ok, DescribeLauncher(out, 936, &report));
    ASSERT_EQ(3u, report.entries.size());
    Bytes sound;
    ASSERT_TRUE(ReadFileBytes(out, &sound));
    const size_t start = static_cast<size_t>(report.archiveStart);
    const size_t b = static_cast<size_t>(report.entries[1].offset);  // b.dll's header

    struct Case {
        const char* what;
        std::function<void(Bytes*)> change;
        PayloadError error;
        std::vector<std::string> staged;  // the files left, whole
    };
    const std::vector<Case> cases = {
        {"a byte of b.dll's data flipped", [&](Bytes* f) { (*f)[b + COMPRESSED_ENTRY_SIZE + 30] ^= 0x04; },
         PayloadError::DamagedArchive, {"a.txt"}},
        {"b.dll one byte longer than it is", [&](Bytes* f) { WriteLE32(&(*f)[b + 128], 90001); },
         PayloadError::DamagedArchive, {"a.txt"}},
        {"b.dll's packed bytes one short", [&](Bytes* f) { WriteLE32(&(*f)[b + 132], report.entries[1].packedSize - 1); },
         PayloadError::DamagedArchive, {"a.txt"}},
        {"a dictionary over the cap", [&](Bytes* f) { WriteLE32(&(*f)[start + 17], LZMA_DICTIONARY_CAP + 1); },
         PayloadError::DictionaryTooLarge, {}},
        {"an entry more than the archive holds", [&](Bytes* f) { WriteLE32(&(*f)[start + 12], 4); },
         PayloadError::TruncatedData, {"a.txt", "b.dll", "c.txt"}},
        {"a method this reader does not know", [&](Bytes* f) { (*f)[b + 136] = 2; }, PayloadError::UnknownArchive,
         {"a.txt"}},
        {"the end record's digest flipped", [&](Bytes* f) { f->back() ^= 1; }, PayloadError::IntegrityMismatch,
         {"a.txt", "b.dll", "c.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = sound;
        c.change(&file);
        std::string path = dir / "damaged.exe", stage = dir / "tmpsoft";
        ASSERT_TRUE(WriteFileBytes(path, file));
        RemoveTree(stage);
        StageResult result;
        EXPECT_FALSE(StagePayloadFile(path.c_str(), stage.c_str(), StageOptions(), &result));
        EXPECT_EQ(c.error, result.error) << PayloadErrorText(result.error);
        EXPECT_EQ(c.staged, ListFolder(stage)) << "staging stops at the entry, and removes its partial file";
    }
}

namespace {

// A bitmap resource of width x height 24-bit pixels (negative height: top-down rows).
Bytes Dib(int32_t width, int32_t height)
{
    size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    size_t rows = static_cast<size_t>(height < 0 ? -height : height);
    Bytes dib(PICTURE_DIB_HEADER_SIZE + stride * rows, 0);
    WriteLE32(&dib[0], PICTURE_DIB_HEADER_SIZE);
    WriteLE32(&dib[PICTURE_DIB_WIDTH_AT], static_cast<uint32_t>(width));
    WriteLE32(&dib[PICTURE_DIB_HEIGHT_AT], static_cast<uint32_t>(height));
    dib[PICTURE_DIB_PLANES_AT] = 1;
    dib[PICTURE_DIB_BITS_AT] = 24;
    for (size_t i = PICTURE_DIB_HEADER_SIZE; i < dib.size(); ++i)
        dib[i] = static_cast<unsigned char>(i % 251 < 200 ? i / 97 : i * 7);
    return dib;
}

// The reader's verdict on a blob, decoding it when its header passes.
PayloadError JudgePicture(const Bytes& blob, Bytes* pixels)
{
    PictureInfo info;
    PayloadError error = ReadPictureHeader(ByteView(blob), &info);
    if (error != PayloadError::Ok)
        return error;
    pixels->assign(info.pixelBytes, 0);
    return DecodePicture(ByteView(blob), info, pixels->data());
}

}  // namespace

TEST(CompressedPictures, TheReaderJudgesEveryFieldFirstAndTheStreamToItsEnd)
{
    Bytes dib = Dib(50, -20);  // rows of 152 bytes, 150 of them pixels
    ASSERT_TRUE(PictureFitsFormat(ByteView(dib)));
    Bytes blob;
    ASSERT_EQ(PackError::Ok, EncodePicture(ByteView(dib), &blob));
    Bytes pixels;
    ASSERT_EQ(PayloadError::Ok, JudgePicture(blob, &pixels));
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), dib.begin() + PICTURE_DIB_HEADER_SIZE));
    EXPECT_TRUE(std::equal(dib.begin(), dib.begin() + PICTURE_DIB_HEADER_SIZE, blob.begin() + PICTURE_DIB_HEADER_AT));
    uint32_t packed = ReadLE32(&blob[PICTURE_PACKED_AT]);
    ASSERT_EQ(blob.size(), PICTURE_STREAM_AT + packed);

    const uint32_t pixelBytes = 152 * 20;
    const struct {
        const char* what;
        std::function<void(Bytes*)> change;
        PayloadError expected;
    } cases[] = {
        {"another magic", [](Bytes* b) { (*b)[7] = 'X'; }, PayloadError::UnknownPicture},
        {"version 2", [](Bytes* b) { WriteLE16(&(*b)[PICTURE_VERSION_AT], 2); }, PayloadError::UnknownPicture},
        {"lc 4 and lp 1", [](Bytes* b) { (*b)[PICTURE_PROPERTIES_AT] = 1 * 9 + 4; }, PayloadError::UnknownPicture},
        {"a dictionary over the cap",
         [](Bytes* b) { WriteLE32(&(*b)[PICTURE_PROPERTIES_AT + 1], PICTURE_MAX_PIXEL_BYTES + 1); },
         PayloadError::PictureTooLarge},
        {"cut inside its DIB header", [](Bytes* b) { b->resize(PICTURE_DIB_HEADER_AT + 20); },
         PayloadError::DamagedPicture},
        {"pixel bytes that lie", [=](Bytes* b) { WriteLE32(&(*b)[PICTURE_PIXELS_AT], pixelBytes + 4); },
         PayloadError::DamagedPicture},
        {"a packed size that lies", [=](Bytes* b) { WriteLE32(&(*b)[PICTURE_PACKED_AT], packed - 1); },
         PayloadError::DamagedPicture},
        {"a stream that ends early",
         [=](Bytes* b) {
             b->resize(b->size() - 3);
             WriteLE32(&(*b)[PICTURE_PACKED_AT], packed - 3);
         },
         PayloadError::DamagedPicture},
        {"bytes after the stream's end",
         [=](Bytes* b) {
             b->push_back(0);
             WriteLE32(&(*b)[PICTURE_PACKED_AT], packed + 1);
         },
         PayloadError::DamagedPicture},
        {"a DIB header one pixel wider",
         [](Bytes* b) { WriteLE32(&(*b)[PICTURE_DIB_HEADER_AT + PICTURE_DIB_WIDTH_AT], 51); },
         PayloadError::DamagedPicture},
        {"a DIB header of 32 bits", [](Bytes* b) { (*b)[PICTURE_DIB_HEADER_AT + PICTURE_DIB_BITS_AT] = 32; },
         PayloadError::DamagedPicture},
        {"a DIB header with a colour table",
         [](Bytes* b) { WriteLE32(&(*b)[PICTURE_DIB_HEADER_AT + PICTURE_DIB_COLORS_USED_AT], 16); },
         PayloadError::DamagedPicture},
        {"an image size that disagrees",
         [=](Bytes* b) { WriteLE32(&(*b)[PICTURE_DIB_HEADER_AT + PICTURE_DIB_SIZE_IMAGE_AT], pixelBytes - 152); },
         PayloadError::DamagedPicture},
        {"pixels over the cap, the fields agreeing",
         [](Bytes* b) {
             WriteLE32(&(*b)[PICTURE_DIB_HEADER_AT + PICTURE_DIB_WIDTH_AT], 1000);
             WriteLE32(&(*b)[PICTURE_DIB_HEADER_AT + PICTURE_DIB_HEIGHT_AT], 1000);
             WriteLE32(&(*b)[PICTURE_PIXELS_AT], 3000u * 1000u);
         },
         PayloadError::DamagedPicture},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes changed = blob;
        c.change(&changed);
        EXPECT_EQ(c.expected, JudgePicture(changed, &pixels));
    }
    // The packer leaves alone what the format does not hold.
    Bytes longer = dib;
    longer.push_back(0);
    EXPECT_FALSE(PictureFitsFormat(ByteView(longer)));
    Bytes paletted = dib;
    paletted[PICTURE_DIB_BITS_AT] = 8;
    EXPECT_FALSE(PictureFitsFormat(ByteView(paletted)));
}
