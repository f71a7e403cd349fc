// The image update driver: its result codes, the update copy's layout and header patches,
// and the protection of the user's files.
#include <gtest/gtest.h>

#include "driver/driver.h"
#include "pe_builder.h"
#include "platform/platform.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Get32;
using test::Id;
using test::ImageOptions;
using test::Resource;

constexpr size_t kOptional = test::kNtOffset + 24;
constexpr size_t kRsrcHeader = kOptional + 224 + 40;  // second section header of a PE32 image

Bytes Data(size_t n, uint8_t first = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(first + 3 * i);
    return b;
}

std::vector<Resource> SomeResources() {
    return {{Id(10), Id(1), 1033, Data(40)},
            {Id(16), Id(1), 1033, Data(21)},
            {Id(24), Id(1), 0, Data(7)}};
}

struct Fixture : ::testing::Test {
    test::TempDir dir;
    std::filesystem::path image = dir / "app.exe";
    std::filesystem::path language = dir / "app.lng";
    std::filesystem::path copy = dir / "app.exe.QN";

    Result Import(const Bytes& img, std::u16string_view lang = u"") {
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(language, test::LanguageFile(lang));
        return CodeOf(quelvar::Import(image, language, copy));
    }
    Result Export(const Bytes& img) {
        test::WriteFileBytes(image, img);
        return CodeOf(quelvar::Export(image, language));
    }
};

using Driver = Fixture;

TEST_F(Driver, RefusesFilesThatAreNoImage) {
    EXPECT_EQ(CodeOf(quelvar::Export(dir / "missing.exe", language)), kErrorFileNotFound);
    EXPECT_EQ(Export({}), kErrorFileNotFound);

    Bytes img = test::BuildImage(SomeResources());
    EXPECT_EQ(Export(Bytes(img.begin(), img.begin() + 511)), kErrorBadFormat);
    Bytes b = img;
    b[0] = 'X';
    EXPECT_EQ(Export(b), kErrorBadFormat);
    b = img;
    test::Put32(b, test::kNtOffset, 0x00004551);
    EXPECT_EQ(Export(b), kErrorBadFormat);
    b = img;
    test::Put32(b, 60, 0xFFFFFFF0);  // e_lfanew past the end
    EXPECT_EQ(Export(b), kErrorBadFormat);
    b = img;
    test::Put16(b, test::kNtOffset + 6, 0x4000);  // section table past the end
    EXPECT_EQ(Export(b), kErrorBadFormat);
    b = img;
    test::Put32(b, kRsrcHeader + 20, 0x7FFFFF00);  // section data past the end
    EXPECT_EQ(Export(b), kErrorBadFormat);
    b = img;
    test::Put16(b, kOptional, 0x107);  // unknown optional header
    EXPECT_EQ(Export(b), kErrorBadFormat);
    EXPECT_FALSE(std::filesystem::exists(language));

    // 512 bytes pass the size test: what fails then is the missing resource section.
    Bytes small(512, 0);
    std::copy(img.begin(), img.begin() + 0x200, small.begin());
    test::Put16(small, test::kNtOffset + 6, 1);
    EXPECT_EQ(Export(small), kErrorResourceDataNotFound);
}

TEST_F(Driver, ImagesWithoutResources) {
    Bytes img = test::BuildImage(SomeResources());
    Bytes b = img;
    test::Put32(b, kOptional + 96 + 16, 0);
    EXPECT_EQ(Export(b), kErrorResourceDataNotFound);
    b = img;
    test::Put32(b, kOptional + 96 + 16, 0x9000);  // in no section
    EXPECT_EQ(Export(b), kErrorResourceDataNotFound);
    b = img;
    test::Put32(b, kOptional + 92, 2);  // the directory table stops before the resources
    EXPECT_EQ(Export(b), kErrorResourceDataNotFound);
    EXPECT_FALSE(std::filesystem::exists(language));
}

TEST_F(Driver, ExportLeavesTheImageAlone) {
    Bytes img = test::BuildImage(SomeResources());
    ASSERT_EQ(Export(img), kSuccess);
    EXPECT_EQ(test::ReadFileBytes(image), img);
    EXPECT_EQ(test::ReadFileBytes(language), (Bytes{0xFF, 0xFE}));
    EXPECT_FALSE(std::filesystem::exists(copy));
}

// Export reads a small resource section and maps a large one or an image whose headers lie
// past its first page: the language file is the same.
TEST_F(Driver, ExportReadsOrMapsTheImageAlike) {
    std::vector<Resource> texts = {{Id(6), Id(1), 1033, test::StringBlock({u"One", u"Two"})},
                                   {Id(10), Id(1), 1033, Data(16)}};
    ASSERT_EQ(Export(test::BuildImage(texts)), kSuccess);
    Bytes expected = test::ReadFileBytes(language);
    ASSERT_GT(expected.size(), 40u);
    std::vector<Resource> large = texts;
    large[1].data = Data((1 << 20) + 1);
    // The headers 4 KB further in: e_lfanew, SizeOfHeaders and every section's offset grow.
    Bytes far = test::BuildImage(texts);
    far.insert(far.begin() + test::kNtOffset, 0x1000, 0);
    test::Put32(far, 60, test::kNtOffset + 0x1000);
    test::Put32(far, kOptional + 0x1000 + 60, Get32(far, kOptional + 0x1000 + 60) + 0x1000);
    for (size_t header : {kRsrcHeader - 40, kRsrcHeader})
        test::Put32(far, header + 0x1000 + 20, Get32(far, header + 0x1000 + 20) + 0x1000);
    for (const Bytes& img : {test::BuildImage(large), far}) {
        std::filesystem::remove(language);
        ASSERT_EQ(Export(img), kSuccess);
        EXPECT_EQ(test::ReadFileBytes(language), expected);
    }
}

TEST_F(Driver, ImportRebuildsTheSectionAndPatchesSizes) {
    Bytes overlay = {'o', 'v', 'e', 'r', 'l', 'a', 'y'};
    ImageOptions options;
    options.overlay = overlay;
    Bytes img = test::BuildImage(SomeResources(), options);
    ASSERT_EQ(Import(img), kSuccess);
    Bytes out = test::ReadFileBytes(copy);

    // Everything before the section is unchanged except the patched fields.
    uint32_t n = Get32(out, kRsrcHeader + 8);
    uint32_t p = Get32(out, kRsrcHeader + 16);
    EXPECT_EQ(n % 0x1000 == 0 ? n + 0x1000 : (n + 0xFFF) / 0x1000 * 0x1000, p);
    EXPECT_EQ(Get32(out, kOptional + 56), test::kResourceRva + p);
    Bytes head = img;
    head.resize(test::kResourceRawPointer);
    Bytes outHead(out.begin(), out.begin() + test::kResourceRawPointer);
    test::Put32(head, kOptional + 56, test::kResourceRva + p);
    test::Put32(head, kRsrcHeader + 8, n);
    test::Put32(head, kRsrcHeader + 16, p);
    test::Put32(head, kOptional + 96 + 8 * 2 + 4, n);  // the resource directory's Size
    EXPECT_EQ(outHead, head);
    // The overlay follows the new section byte for byte; the padding is zero.
    ASSERT_EQ(out.size(), test::kResourceRawPointer + p + overlay.size());
    EXPECT_EQ(Bytes(out.end() - 7, out.end()), overlay);
    EXPECT_EQ(Bytes(out.begin() + test::kResourceRawPointer + n, out.end() - 7), Bytes(p - n, 0));

    auto before = test::ReadResources(img);
    auto after = test::ReadResources(out);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(after[i].data, before[i].data);
    EXPECT_EQ(test::ReadFileBytes(image), img);
}

TEST_F(Driver, PaddingAlwaysAddsBytes) {
    // A rebuilt section of 8192 bytes with SectionAlignment 4096 is written as 12288.
    Bytes img = test::BuildImage({{Id(10), Id(1), 0, Data(8192 - 96)}});
    ASSERT_EQ(Import(img), kSuccess);
    Bytes out = test::ReadFileBytes(copy);
    EXPECT_EQ(Get32(out, kRsrcHeader + 8), 8192u);
    EXPECT_EQ(Get32(out, kRsrcHeader + 16), 12288u);
    EXPECT_EQ(Get32(out, kOptional + 56), test::kResourceRva + 12288);
}

TEST_F(Driver, UnchangedRawSizeIsNotRewritten) {
    // The old raw size equals the new padded size: SizeOfImage and SizeOfRawData stay as
    // they are (even a SizeOfImage that was not VirtualAddress + raw size); VirtualSize is
    // still updated.
    ImageOptions options;
    options.fileAlignment = 0x1000;
    options.resourceVirtualSize = 0x777;
    Bytes img = test::BuildImage(SomeResources(), options);
    test::Put32(img, kOptional + 56, 0x5000);
    ASSERT_EQ(Import(img), kSuccess);
    Bytes out = test::ReadFileBytes(copy);
    EXPECT_EQ(Get32(out, kRsrcHeader + 16), 0x1000u);
    EXPECT_EQ(Get32(out, kOptional + 56), 0x5000u);
    EXPECT_NE(Get32(out, kRsrcHeader + 8), 0x777u);
}

TEST_F(Driver, ImportRefusesLayoutsItCannotRewrite) {
    // 64-bit images and resource sections followed by others are handled (layout_test.cpp);
    // a section alignment of 0 is not.
    Bytes zeroAlignment = test::BuildImage(SomeResources());
    test::Put32(zeroAlignment, kOptional + 32, 0);
    EXPECT_EQ(Import(zeroAlignment), kErrorBadFormat);
    EXPECT_FALSE(std::filesystem::exists(copy));
}

// Found by fuzzing: layouts that import accepted and turned into a broken or huge update copy.
TEST_F(Driver, ImportRefusesLayoutsThatWouldBreakTheCopy) {
    Bytes img = test::BuildImage(SomeResources());
    // Resource data that starts inside the headers would be written over them: here an
    // empty resource directory in the DOS stub, before the NT headers.
    Bytes b = img;
    std::fill(b.begin() + 0x40, b.begin() + 0x80, uint8_t{0});
    test::Put32(b, kRsrcHeader + 20, 0x40);
    test::Put32(b, kRsrcHeader + 16, 0x40);
    EXPECT_EQ(Import(b), kErrorBadFormat);
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(Export(b), kSuccess);  // reading such an image is harmless
    // A section alignment that is no power of two, or so large that a small image would
    // write gigabytes of padding.
    for (uint32_t alignment : {0x1001u, 0x200000u, 0x80000000u}) {
        Bytes b = img;
        test::Put32(b, kOptional + 32, alignment);
        EXPECT_EQ(Import(b), kErrorBadFormat) << alignment;
        EXPECT_FALSE(std::filesystem::exists(copy)) << alignment;
    }
    Bytes large = img;
    test::Put32(large, kOptional + 32, 0x10000);
    ASSERT_EQ(Import(large), kSuccess);
    EXPECT_EQ(Get32(test::ReadFileBytes(copy), kRsrcHeader + 16), 0x10000u);
}

TEST_F(Driver, LanguageFileProblems) {
    Bytes img = test::BuildImage(SomeResources());
    test::WriteFileBytes(image, img);
    test::WriteFileBytes(language, {'x', '=', 'y'});
    EXPECT_EQ(CodeOf(quelvar::Import(image, language, copy)), kErrorOpenFailed);
    EXPECT_EQ(Import(img, u"LANG=70000\r\n"), kErrorInvalidData);
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(CodeOf(quelvar::Export(image, dir / "none" / "x.lng")), kErrorOpenFailed);
}

TEST_F(Driver, MalformedTreeWritesNothing) {
    Bytes img = test::BuildImage(SomeResources());
    test::Put32(img, test::kResourceRawPointer + 20,
                0x80000000u);  // the first type loops to the root
    test::WriteFileBytes(language, test::LanguageFile(u"keep=me\r\n"));
    Bytes kept = test::ReadFileBytes(language);
    EXPECT_EQ(Export(img), kErrorBadFormat);
    EXPECT_EQ(test::ReadFileBytes(language), kept);
    EXPECT_EQ(Import(img), kErrorBadFormat);
    EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(Driver, WriteFailuresLeaveNothingBehind) {
    Bytes img = test::BuildImage(SomeResources());
    test::WriteFileBytes(image, img);
    test::WriteFileBytes(language, test::LanguageFile(u""));
    // The update copy cannot be created.
    std::filesystem::path inMissingDir = dir / "none" / "x.QN";
    EXPECT_EQ(CodeOf(quelvar::Import(image, language, inMissingDir)), kErrorWriteFault);
    // The disk fills up while the update copy is written, at the head, the section or the
    // header patches.
    for (uint64_t limit : {uint64_t{100}, uint64_t{0x500}, uint64_t{0x400 + 0x200}}) {
        platform::SetWriteLimitForTesting(limit);
        EXPECT_EQ(CodeOf(quelvar::Import(image, language, copy)), kErrorWriteFault) << limit;
        platform::SetWriteLimitForTesting(UINT64_MAX);
        EXPECT_FALSE(std::filesystem::exists(copy)) << limit;
    }
    EXPECT_EQ(test::ReadFileBytes(image), img);
    // The disk fills up while the language file is written: the earlier one stays.
    Bytes earlier = test::ReadFileBytes(language);
    platform::SetWriteLimitForTesting(1);
    EXPECT_EQ(CodeOf(quelvar::Export(image, language)), kErrorWriteFault);
    platform::SetWriteLimitForTesting(UINT64_MAX);
    EXPECT_EQ(test::ReadFileBytes(language), earlier);
    EXPECT_FALSE(std::filesystem::exists(dir / "app.lng.QN"));
}

TEST_F(Driver, NeverWritesOverTheImage) {
    Bytes img = test::BuildImage(SomeResources());
    test::WriteFileBytes(image, img);
    test::WriteFileBytes(language, test::LanguageFile(u""));
    EXPECT_EQ(CodeOf(quelvar::Import(image, language, image)), kErrorSharingViolation);
    EXPECT_EQ(CodeOf(quelvar::Export(image, image)), kErrorSharingViolation);
    EXPECT_EQ(test::ReadFileBytes(image), img);
}

TEST_F(Driver, AnEarlierUpdateCopyIsReplaced) {
    Bytes img = test::BuildImage(SomeResources());
    test::WriteFileBytes(copy, Bytes(100000, 0xEE));
    ASSERT_EQ(Import(img), kSuccess);
    EXPECT_EQ(test::ReadResources(test::ReadFileBytes(copy)).size(), 3u);
}

// Images that mingw-w64 built from tests/samples/basic.rc.
TEST_F(Driver, RealImages) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    for (const char* name : {"basic32.exe", "basic64.exe", "basic32reloc.exe"}) {
        Bytes img = test::ReadFileBytes(samples / name);
        ASSERT_EQ(Export(img), kSuccess) << name;
        Bytes lng = test::ReadFileBytes(language);
        EXPECT_EQ(Bytes(lng.begin(), lng.begin() + 2), (Bytes{0xFF, 0xFE})) << name;
    }
    // The 32-bit image with its resources last imports; its resources come back unchanged.
    Bytes img = test::ReadFileBytes(samples / "basic32.exe");
    ASSERT_EQ(Import(img), kSuccess);
    auto before = test::ReadResources(img);
    auto after = test::ReadResources(test::ReadFileBytes(copy));
    ASSERT_EQ(after.size(), before.size());
    ASSERT_GE(before.size(), 8u);
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].type, before[i].type);
        EXPECT_EQ(after[i].name, before[i].name);
        EXPECT_EQ(after[i].language, before[i].language);
        EXPECT_EQ(after[i].data, before[i].data) << i;
    }
}

TEST(UpdateCopy, PathKeepsTheExtension) {
    EXPECT_EQ(UpdateCopyPath("dir/x.exe"), std::filesystem::path("dir/x.exe.QN"));
}

}  // namespace
}  // namespace quelvar
