// The packer's logic called directly: code pages, names, sizes, cancelling.
#include <gtest/gtest.h>

#include <csignal>

#include "codepage.h"
#include "pack.h"
#include "pack_test_support.h"

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
