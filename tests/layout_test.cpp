// Import into images as linkers lay them out: 64-bit headers, sections after the resource
// section, data after the last section with header fields pointing into it, checksums, and
// resources of several languages.
#include <gtest/gtest.h>

#include <string>

#include "driver/driver.h"
#include "pe/headers.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Get16;
using test::Get32;
using test::Id;
using test::ImageOptions;
using test::Put32;
using test::Resource;

constexpr size_t kNt = test::kNtOffset;
constexpr size_t kOptional = kNt + 24;

// Where the headers of an image lie.
struct Headers {
    size_t directories;  // data directory 0
    size_t sections;     // first section header
};

Headers Of(const Bytes& img) {
    size_t nt = Get32(img, 60);
    size_t optional = nt + 24;
    bool plus = Get16(img, optional) == 0x20B;
    return {optional + (plus ? 112 : 96), optional + Get16(img, nt + 20)};
}

struct Section {
    std::string name;
    uint32_t virtualSize, rva, rawSize, rawPointer, characteristics;
};

std::vector<Section> Sections(const Bytes& img) {
    size_t nt = Get32(img, 60);
    std::vector<Section> out;
    for (size_t i = 0; i < Get16(img, nt + 6); ++i) {
        size_t h = Of(img).sections + 40 * i;
        std::string name(img.begin() + h, img.begin() + h + 8);
        name.resize(name.find('\0') == std::string::npos ? 8 : name.find('\0'));
        out.push_back({name, Get32(img, h + 8), Get32(img, h + 12), Get32(img, h + 16),
                       Get32(img, h + 20), Get32(img, h + 36)});
    }
    return out;
}

Bytes RawData(const Bytes& img, const Section& s) {
    return Bytes(img.begin() + s.rawPointer, img.begin() + s.rawPointer + s.rawSize);
}

uint32_t AlignPage(uint32_t v) {
    return (v + 0xFFF) & ~0xFFFu;
}

Bytes Dialog(std::u16string_view caption) {
    return test::CaptionDialog(caption);
}

std::u16string DialogCaption(const Bytes& data) {
    std::u16string s;
    for (size_t at = 22; at + 1 < data.size() && Get16(data, at) != 0; at += 2)
        s.push_back(static_cast<char16_t>(Get16(data, at)));
    return s;
}

std::vector<Resource> OneDialog(std::u16string_view caption = u"Sample") {
    return {{Id(5), Id(1), 1033, Dialog(caption)}, {Id(10), Id(7), 1033, Bytes(300, 0x42)}};
}

// A caption long enough to take the resource section past one more page.
const std::u16string kLongCaption(3000, u'L');

// An image whose ".reloc" section follows ".rsrc" and holds one block of base relocations,
// for the code page.
Bytes MovableImage(uint16_t magic, const std::vector<Resource>& resources = OneDialog(),
                   Bytes overlay = {}) {
    ImageOptions o;
    o.magic = magic;
    o.sectionAfterResources = true;
    o.overlay = std::move(overlay);
    Bytes img = test::BuildImage(resources, o);
    uint32_t relocRaw = Sections(img)[2].rawPointer;
    Put32(img, relocRaw, 0x1000);
    Put32(img, relocRaw + 4, 8);
    return img;
}

// The standard PE checksum, written out from its definition.
uint32_t Checksum(const Bytes& b) {
    size_t field = Get32(b, 60) + 24 + 64;
    uint64_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        uint32_t word = b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        if (i == field || i == field + 2)
            word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint32_t>(sum + b.size());
}

struct Layout : ::testing::Test {
    test::TempDir dir;
    std::filesystem::path image = dir / "app.exe";
    std::filesystem::path language = dir / "app.lng";
    std::filesystem::path copy = dir / "app.exe.QN";

    Result Import(const Bytes& img, std::u16string_view lang, uint32_t filter = kAllLanguages) {
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(language, test::LanguageFile(lang));
        return CodeOf(quelvar::Import(image, language, copy, OfLanguage(filter)));
    }
    // Whatever the layout, the resource data directory describes the rebuilt section.
    Bytes Translated(const Bytes& img, std::u16string_view lang, uint32_t filter = kAllLanguages) {
        EXPECT_EQ(Import(img, lang, filter), kSuccess);
        if (!std::filesystem::exists(copy))
            return {};
        Bytes out = test::ReadFileBytes(copy);
        uint32_t rva = Get32(out, Of(out).directories + 16);
        size_t found = 0;
        for (const Section& s : Sections(out)) {
            if (s.rva != rva)
                continue;
            ++found;
            EXPECT_EQ(Get32(out, Of(out).directories + 20), s.virtualSize) << s.name;
        }
        EXPECT_EQ(found, 1u);
        return out;
    }
    std::u16string Export(const Bytes& img, uint32_t filter = kAllLanguages) {
        test::WriteFileBytes(image, img);
        EXPECT_EQ(CodeOf(quelvar::Export(image, language, OfLanguage(filter))), kSuccess);
        return test::LanguageText(test::ReadFileBytes(language));
    }
};

TEST_F(Layout, Pe32PlusHeaders) {
    ImageOptions o;
    o.magic = 0x20B;
    o.overlay = Bytes(100, 0x77);
    Bytes img = test::BuildImage(OneDialog(), o);
    EXPECT_EQ(Export(img), u"5.1.HEAD=Sample\r\n");
    Bytes out = Translated(img, u"5.1.HEAD=" + kLongCaption + u"\r\n");
    ASSERT_FALSE(out.empty());
    Section rsrc = Sections(out)[1];
    EXPECT_EQ(rsrc.rva, test::kResourceRva);
    EXPECT_EQ(Get32(out, kOptional + 56), test::kResourceRva + rsrc.rawSize);
    EXPECT_EQ(Get32(out, Of(out).directories + 16), test::kResourceRva);
    auto resources = test::ReadResources(out);
    EXPECT_EQ(DialogCaption(resources[0].data), kLongCaption);
    EXPECT_EQ(Bytes(out.end() - 100, out.end()), Bytes(100, 0x77));
}

// The relocation section after the resources moves behind the rebuilt section, in the file
// and in the address space, whether the section grows or shrinks.
TEST_F(Layout, FollowingSectionsMoveBehindTheResources) {
    for (uint16_t magic : {uint16_t{0x10B}, uint16_t{0x20B}}) {
        for (bool grow : {true, false}) {
            SCOPED_TRACE(testing::Message() << "magic " << magic << " grow " << grow);
            Bytes img = MovableImage(magic, OneDialog(grow ? u"Sample" : kLongCaption));
            Bytes out =
                Translated(img, grow ? u"5.1.HEAD=" + kLongCaption + u"\r\n" : u"5.1.HEAD=S\r\n");
            ASSERT_FALSE(out.empty());
            auto before = Sections(img);
            auto after = Sections(out);
            ASSERT_EQ(after.size(), 3u);
            EXPECT_EQ(after[1].rva, before[1].rva);
            EXPECT_EQ(after[1].rawPointer, before[1].rawPointer);
            EXPECT_EQ(after[1].rawSize % 0x200, 0u);
            EXPECT_NE(after[1].rawSize, before[1].rawSize);
            // .reloc: right behind the new section, same bytes, same size.
            EXPECT_EQ(after[2].rva, after[1].rva + AlignPage(after[1].virtualSize));
            EXPECT_EQ(after[2].rawPointer, after[1].rawPointer + after[1].rawSize);
            EXPECT_EQ(after[2].virtualSize, before[2].virtualSize);
            EXPECT_EQ(RawData(out, after[2]), RawData(img, before[2]));
            EXPECT_EQ(Get32(out, Of(out).directories + 40), after[2].rva);
            EXPECT_EQ(Get32(out, Of(out).directories + 44), 8u);
            EXPECT_EQ(Get32(out, Of(out).directories + 20), after[1].virtualSize);
            EXPECT_EQ(Get32(out, kOptional + 56), after[2].rva + 0x1000);
            EXPECT_EQ(out.size(), after[2].rawPointer + after[2].rawSize);
            auto resources = test::ReadResources(out);
            EXPECT_EQ(DialogCaption(resources[0].data), grow ? kLongCaption : u"S");
            EXPECT_EQ(resources[1].data, Bytes(300, 0x42));
        }
    }
}

// The certificate table (a file offset) and the COFF symbol table move with the data after
// the last section, which is kept byte for byte.
TEST_F(Layout, FileOffsetsIntoTheOverlayMove) {
    Bytes overlay(0x300);
    for (size_t i = 0; i < overlay.size(); ++i)
        overlay[i] = static_cast<uint8_t>(i * 7);
    for (bool movable : {false, true}) {
        SCOPED_TRACE(movable ? "relocations after the resources" : "resources last");
        ImageOptions o;
        o.overlay = overlay;
        Bytes img =
            movable ? MovableImage(0x10B, OneDialog(), overlay) : test::BuildImage(OneDialog(), o);
        uint32_t overlayAt = static_cast<uint32_t>(img.size() - overlay.size());
        Put32(img, Of(img).directories + 32, overlayAt);  // certificate table
        Put32(img, Of(img).directories + 36, 0x100);
        Put32(img, kNt + 12, overlayAt + 0x100);  // PointerToSymbolTable
        Put32(img, kNt + 16, 3);
        Bytes out = Translated(img, u"5.1.HEAD=" + kLongCaption + u"\r\n");
        ASSERT_GT(out.size(), img.size());
        uint32_t delta = static_cast<uint32_t>(out.size() - img.size());
        EXPECT_EQ(Bytes(out.end() - 0x300, out.end()), overlay);
        EXPECT_EQ(Get32(out, Of(out).directories + 32), overlayAt + delta);
        EXPECT_EQ(Get32(out, Of(out).directories + 36), 0x100u);
        EXPECT_EQ(Get32(out, kNt + 12), overlayAt + 0x100 + delta);
        EXPECT_EQ(Get32(out, kNt + 16), 3u);
    }
}

// Unsigning clears the certificate table's directory entry and cuts the table off where it
// ends the file; data after a table stays, unreferenced. The checksum fits the new image, and
// an import of a signed image says so whether the table stays or goes.
TEST_F(Layout, UnsignRemovesTheCertificateTable) {
    const Bytes table(0x100, 0x5A), after(0x40, 0x77);
    for (auto [movable, dataAfter] : {std::pair{false, false}, {true, false}, {true, true}}) {
        SCOPED_TRACE(testing::Message() << "movable " << movable << ", data after " << dataAfter);
        Bytes overlay = table;
        if (dataAfter)
            overlay.insert(overlay.end(), after.begin(), after.end());
        ImageOptions o;
        o.overlay = overlay;
        Bytes img =
            movable ? MovableImage(0x10B, OneDialog(), overlay) : test::BuildImage(OneDialog(), o);
        Put32(img, Of(img).directories + 32, static_cast<uint32_t>(img.size() - overlay.size()));
        Put32(img, Of(img).directories + 36, static_cast<uint32_t>(table.size()));
        Put32(img, kOptional + 64, 1);
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(language, test::LanguageFile(u"5.1.HEAD=" + kLongCaption + u"\r\n"));
        Bytes out[2];
        for (bool unsign : {false, true}) {
            std::vector<Notice> said;
            Options options;
            options.unsign = unsign;
            options.notify = [&said](const Notice& n) {
                if (n.kind != NoticeKind::Imported)
                    said.push_back(n);
            };
            ASSERT_EQ(CodeOf(quelvar::Import(image, language, copy, options)), kSuccess);
            out[unsign] = test::ReadFileBytes(copy);
            ASSERT_EQ(said.size(), 1u);
            EXPECT_EQ(said[0].kind, NoticeKind::SignedImage);
            EXPECT_EQ(said[0].counts[0], unsign ? 1u : 0u);
        }
        EXPECT_EQ(Get32(out[0], Of(out[0]).directories + 36), table.size());
        Bytes expected = out[0];
        if (!dataAfter)
            expected.resize(expected.size() - table.size());
        Put32(expected, Of(expected).directories + 32, 0);
        Put32(expected, Of(expected).directories + 36, 0);
        Put32(expected, kOptional + 64, Checksum(expected));
        EXPECT_EQ(out[1], expected);
    }
    // An image without a certificate table is not said to be signed.
    std::vector<Notice> said;
    Options options;
    options.notify = [&said](const Notice& n) { said.push_back(n); };
    test::WriteFileBytes(image, test::BuildImage(OneDialog()));
    ASSERT_EQ(CodeOf(quelvar::Import(image, language, copy, options)), kSuccess);
    EXPECT_TRUE(std::none_of(said.begin(), said.end(),
                             [](const Notice& n) { return n.kind == NoticeKind::SignedImage; }));
}

// A section after the resources that the program itself may address stays where it is: a
// new resource section is added behind the last one and the old bytes stay as they were.
TEST_F(Layout, AddsASectionWhenTheFollowingOnesMustStay) {
    for (uint16_t magic : {uint16_t{0x10B}, uint16_t{0x20B}}) {
        SCOPED_TRACE(magic);
        Bytes img = MovableImage(magic, OneDialog(), Bytes(40, 0x99));
        // Two section headers leave room for a third within the 0x200 bytes of headers.
        size_t table = Of(img).sections;
        std::copy(img.begin() + table + 40, img.begin() + table + 120, img.begin() + table);
        std::fill(img.begin() + table + 80, img.begin() + table + 120, uint8_t{0});
        test::Put16(img, kNt + 6, 2);
        Put32(img, table + 40 + 36, 0xC0000040);  // writable data, not discardable
        Put32(img, Of(img).directories + 40, 0);
        Put32(img, Of(img).directories + 44, 0);
        auto before = Sections(img);
        Bytes out = Translated(img, u"5.1.HEAD=Neu\r\n");
        ASSERT_FALSE(out.empty());
        auto after = Sections(out);
        ASSERT_EQ(after.size(), 3u);
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(RawData(out, after[i]), RawData(img, before[i])) << i;
        EXPECT_EQ(after[0].rawSize, before[0].rawSize);
        const Section& added = after[2];
        EXPECT_EQ(added.name, ".rsrc");
        EXPECT_EQ(added.rva, before[1].rva + 0x1000);
        EXPECT_EQ(added.rawPointer, before[1].rawPointer + before[1].rawSize);
        EXPECT_EQ(added.characteristics, 0x40000040u);
        EXPECT_EQ(Get32(out, Of(out).directories + 16), added.rva);
        EXPECT_EQ(Get32(out, Of(out).directories + 20), added.virtualSize);
        EXPECT_EQ(Get32(out, kOptional + 56), added.rva + AlignPage(added.virtualSize));
        EXPECT_EQ(Bytes(out.end() - 40, out.end()), Bytes(40, 0x99));
        auto resources = test::ReadResources(out);
        EXPECT_EQ(DialogCaption(resources[0].data), u"Neu");
        EXPECT_GE(resources[0].dataRva, added.rva);

        // Without a free slot after the section table there is nowhere to add it.
        std::filesystem::remove(copy);
        Bytes full = img;
        full[table + 80 + 8] = 1;
        EXPECT_EQ(Import(full, u"5.1.HEAD=Neu\r\n"), kErrorBadFormat);
        EXPECT_FALSE(std::filesystem::exists(copy));
        Bytes tight = img;  // SizeOfHeaders ends at the section table
        Put32(tight, kOptional + 60, static_cast<uint32_t>(table + 80));
        EXPECT_EQ(Import(tight, u"5.1.HEAD=Neu\r\n"), kErrorBadFormat);
        EXPECT_FALSE(std::filesystem::exists(copy));
    }
}

TEST_F(Layout, CheckSum) {
    ImageOptions o;
    o.checkSum = 0x1234;
    Bytes img = test::BuildImage(OneDialog(), o);
    Bytes out = Translated(img, u"5.1.HEAD=Neu\r\n");
    EXPECT_EQ(Get32(out, kOptional + 64), Checksum(out));
    EXPECT_NE(Get32(out, kOptional + 64), 0x1234u);
    Bytes moved = Translated(MovableImage(0x20B), u"5.1.HEAD=" + kLongCaption + u"\r\n");
    EXPECT_EQ(Get32(moved, kOptional + 64), 0u);  // no checksum stays without one
    Put32(img, kOptional + 64, 0);
    EXPECT_EQ(Get32(Translated(img, u""), kOptional + 64), 0u);

    // Data of 0xFF bytes: the 64-bit sums carry over and over, at odd and even lengths.
    for (size_t length : {4096u, 4097u, 4099u}) {
        std::vector<Resource> resources = OneDialog();
        resources.push_back(Resource{Id(10), Id(1), 1033, Bytes(length, 0xFF), 0});
        Bytes full = test::BuildImage(resources, o);
        Bytes sum = Translated(full, u"5.1.HEAD=Neu\r\n");
        EXPECT_EQ(Get32(sum, kOptional + 64), Checksum(sum)) << length;
    }
}

// The check before an import sees the loaded file; what the loading says follows its report,
// and a refusal writes nothing.
TEST_F(Layout, CheckBeforeImport) {
    test::WriteFileBytes(image, test::BuildImage(OneDialog()));
    test::WriteFileBytes(language, test::LanguageFile(u"LANG=x\r\n5.1.HEAD=Neu\r\n"));
    std::vector<std::string> said;
    Options options;
    options.notify = [&said](const Notice&) { said.push_back("notice"); };
    for (bool goOn : {true, false}) {
        said.clear();
        options.checkFirst = [&said, goOn](const CheckReport& report) {
            said.push_back("check " + std::to_string(report.texts));
            return goOn;
        };
        Result expected = goOn ? kErrorInvalidData : kErrorCancelled;
        EXPECT_EQ(CodeOf(quelvar::Import(image, language, copy, options)), expected);
        EXPECT_EQ(said, (goOn ? std::vector<std::string>{"check 1", "notice"}
                              : std::vector<std::string>{"check 1"}));
        EXPECT_FALSE(std::filesystem::exists(copy));
    }
}

// The linker of mingw-w64 writes checksums; ours must agree with its.
TEST_F(Layout, ChecksumAgreesWithALinker) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    for (const char* name : {"basic32.exe", "basic64debug.exe"}) {
        Bytes img = test::ReadFileBytes(samples / name);
        size_t field = Get32(img, 60) + 24 + 64;
        ASSERT_NE(Get32(img, field), 0u) << name;
        EXPECT_EQ(test::ImageChecksum(img, field), Get32(img, field)) << name;
        EXPECT_EQ(Checksum(img), Get32(img, field)) << name;
    }
}

TEST_F(Layout, OneLanguage) {
    std::vector<Resource> resources = {{Id(5), Id(1), 1033, Dialog(u"English")},
                                       {Id(5), Id(1), 1031, Dialog(u"Deutsch")},
                                       {Id(5), Id(2), 1031, Dialog(u"Zwei")}};
    Bytes img = MovableImage(0x20B, resources);
    EXPECT_EQ(Export(img, 1031), u"5.1.HEAD=Deutsch\r\n5.2.HEAD=Zwei\r\n");
    EXPECT_EQ(Export(img, 1033), u"5.1.HEAD=English\r\n");
    EXPECT_EQ(Export(img, 2052), u"");

    auto captions = [](const Bytes& out) {
        std::vector<std::u16string> c;
        for (const auto& r : test::ReadResources(out))
            c.push_back(r.name + u"/" + r.language + u"/" + DialogCaption(r.data));
        return c;
    };
    using V = std::vector<std::u16string>;
    EXPECT_EQ(captions(Translated(img, u"5.1.HEAD=Neu\r\n5.2.HEAD=Zwo\r\n", 1031)),
              (V{u"1/1033/English", u"1/1031/Neu", u"2/1031/Zwo"}));
    // Without a source language, a translation of an image of two languages is refused.
    EXPECT_EQ(Import(img, u"5.1.HEAD=Neu\r\n"), kErrorInvalidParameter);
    // A new language id for one language only: the ids stay in ascending order.
    EXPECT_EQ(captions(Translated(img, u"LANG=2052\r\n5.1.HEAD=Neu\r\n", 1033)),
              (V{u"1/1031/Deutsch", u"1/2052/Neu", u"2/1031/Zwei"}));
    // A new language id that the resource already has: the translation replaces that entry,
    // so that the loader finds one entry of the language, the translated one.
    EXPECT_EQ(captions(Translated(img, u"LANG=1031\r\n5.1.HEAD=Neu\r\n", 1033)),
              (V{u"1/1031/Neu", u"2/1031/Zwei"}));
    EXPECT_EQ(captions(Translated(img, u"LANG=1033\r\n5.2.HEAD=Neu\r\n", 1031)),
              (V{u"1/1033/Deutsch", u"2/1033/Neu"}));
}

// Images that mingw-w64 links with a relocation section and debug sections after the
// resources, with and without a COFF symbol table.
TEST_F(Layout, RealImages) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    for (const char* name :
         {"basic32reloc.exe", "basic64reloc.exe", "basic32debug.exe", "basic64debug.exe"}) {
        SCOPED_TRACE(name);
        Bytes img = test::ReadFileBytes(samples / name);
        auto before = Sections(img);
        size_t rsrc = 0;
        while (rsrc < before.size() && before[rsrc].name != ".rsrc")
            ++rsrc;
        ASSERT_LT(rsrc + 1, before.size()) << "the resources should not be last";
        uint32_t symbols = Get32(img, Get32(img, 60) + 12);
        bool debug = std::string(name).find("debug") != std::string::npos;
        EXPECT_EQ(symbols != 0, debug);

        Bytes out = Translated(img, u"5.100.HEAD=" + kLongCaption + u"\r\n", 1033);
        ASSERT_FALSE(out.empty());
        auto after = Sections(out);
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(after[i].name, before[i].name);
            if (i == rsrc)
                continue;
            EXPECT_EQ(RawData(out, after[i]), RawData(img, before[i])) << before[i].name;
            if (i > rsrc) {
                EXPECT_EQ(after[i].rva - before[i].rva, after[rsrc + 1].rva - before[rsrc + 1].rva);
            }
        }
        EXPECT_EQ(Get32(out, Get32(out, 60) + 24 + 64), Checksum(out));
        if (symbols != 0) {
            uint32_t moved = Get32(out, Get32(out, 60) + 12);
            EXPECT_EQ(Bytes(out.begin() + moved, out.end()),
                      Bytes(img.begin() + symbols, img.end()));
        }
        auto was = test::ReadResources(img);
        auto now = test::ReadResources(out);
        ASSERT_EQ(now.size(), was.size());
        for (size_t i = 0; i < was.size(); ++i) {
            if (was[i].type == u"5" && was[i].name == u"100")
                EXPECT_NE(now[i].data, was[i].data);
            else
                EXPECT_EQ(now[i].data, was[i].data) << i;
        }
    }
}

// Wine's libraries that hold only resources are rebuilt in place, every text made longer.
TEST_F(Layout, ResourcesLastInRealImages) {
    std::filesystem::path wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    size_t images = 0;
    for (const char* name : {"lz32.dll", "mferror.dll", "shdoclc.dll"}) {
        if (!std::filesystem::exists(wine / name))
            continue;
        SCOPED_TRACE(name);
        ++images;
        Bytes img = test::ReadFileBytes(wine / name);
        std::u16string exported = Export(img), longer;
        for (std::u16string_view rest = exported; !rest.empty();) {
            std::u16string_view line = rest.substr(0, rest.find(u'\n') + 1);
            rest.remove_prefix(line.size());
            if (!line.ends_with(u"\r\n") || line.find(u".FONT=") != line.npos)
                continue;
            line.remove_suffix(2);
            longer += std::u16string(line) + u" (longer)\r\n";
        }
        // An image of several languages translates its English texts.
        bool several = TextLanguages(wine / name).value().size() > 1;
        Bytes out =
            several ? Translated(img, longer, 1033) : Translated(img, u"LANG=1031\r\n" + longer);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(Sections(out).size(), Sections(img).size());
        EXPECT_GT(Sections(out).back().virtualSize, Sections(img).back().virtualSize);
    }
    if (images == 0)
        GTEST_SKIP() << "Wine is not installed";
}

// Layouts that take the less common ways through the rebuild.
TEST_F(Layout, UncommonLayouts) {
    const std::u16string translation = u"5.1.HEAD=Neu\r\n";
    auto caption = [](const Bytes& out) { return DialogCaption(test::ReadResources(out)[0].data); };

    {
        SCOPED_TRACE("the resource directory does not start its section");
        Bytes tree = test::BuildResourceSection(OneDialog(), test::kResourceRva + 0x20);
        tree.insert(tree.begin(), 0x20, 0x77);
        Bytes img = test::BuildImageWithSection(tree);
        Put32(img, Of(img).directories + 16, test::kResourceRva + 0x20);
        EXPECT_EQ(Export(img), u"5.1.HEAD=Sample\r\n");
        Bytes out = Translated(img, translation);
        ASSERT_FALSE(out.empty());
        auto before = Sections(img);
        auto after = Sections(out);
        ASSERT_EQ(after.size(), before.size() + 1);  // a new section; the old one stays
        EXPECT_EQ(RawData(out, after[1]), RawData(img, before[1]));
        EXPECT_EQ(Get32(out, Of(out).directories + 16), after.back().rva);
        EXPECT_EQ(caption(out), u"Neu");
    }
    {
        SCOPED_TRACE("debug entries that point into a section moved behind the resources");
        Bytes img = MovableImage(0x10B);
        auto before = Sections(img);
        uint32_t table = before[0].rawPointer + 0x10;  // in .text, which stays
        Put32(img, Of(img).directories + 48, before[0].rva + 0x10);
        Put32(img, Of(img).directories + 52, 28);
        Put32(img, table + 16, 4);  // SizeOfData
        Put32(img, table + 20, before[2].rva + 8);
        Put32(img, table + 24, before[2].rawPointer + 8);
        Bytes out = Translated(img, u"5.1.HEAD=" + kLongCaption + u"\r\n");
        ASSERT_FALSE(out.empty());
        auto after = Sections(out);
        ASSERT_NE(after[2].rva, before[2].rva);
        EXPECT_EQ(Get32(out, table + 20), after[2].rva + 8);
        EXPECT_EQ(Get32(out, table + 24), after[2].rawPointer + 8);
    }
    {
        SCOPED_TRACE("a section earlier in memory lies later in the file");
        Bytes img = test::BuildImage(OneDialog());
        auto before = Sections(img);
        Bytes text = RawData(img, before[0]);
        uint32_t moved = static_cast<uint32_t>(img.size());
        img.insert(img.end(), text.begin(), text.end());
        Put32(img, Of(img).sections + 20, moved);
        Bytes out = Translated(img, translation);
        ASSERT_FALSE(out.empty());
        auto after = Sections(out);
        ASSERT_EQ(after.size(), 3u);  // added: moving .rsrc would cut through .text's data
        EXPECT_EQ(RawData(out, after[0]), text);
        EXPECT_EQ(RawData(out, after[1]), RawData(img, before[1]));
        EXPECT_EQ(caption(out), u"Neu");
    }
    {
        SCOPED_TRACE("a bound import table where a new section header would go");
        Bytes img = test::BuildImage(OneDialog());
        Put32(img, Of(img).directories + 16, test::kResourceRva + 0x10);  // forces a new section
        size_t slot = Of(img).sections + 80;
        Put32(img, Of(img).directories + 88, static_cast<uint32_t>(slot + 8));
        Put32(img, Of(img).directories + 92, 0x20);
        std::filesystem::remove(copy);
        EXPECT_EQ(Import(img, translation), kErrorBadFormat);
        EXPECT_FALSE(std::filesystem::exists(copy));
    }
}

// Only the resource type with the numeric id 6 holds string tables: a type named "6" is
// someone's own data, kept byte for byte and never exported.
TEST_F(Layout, TypeNamedLikeAStringTable) {
    Bytes block = test::StringBlock({u"zero", u"one"});
    Bytes img =
        test::BuildImage({{test::Name(u"6"), Id(1), 1033, block}, {Id(6), Id(1), 1033, block}});
    EXPECT_EQ(Export(img), u"6.1.0=zero\r\n6.1.1=one\r\n");
    Bytes out = Translated(img, u"6.1.0=null\r\n");
    ASSERT_FALSE(out.empty());
    auto resources = test::ReadResources(out);
    ASSERT_EQ(resources.size(), 2u);
    EXPECT_EQ(resources[0].type, u"6");
    EXPECT_EQ(resources[0].data, block);
    EXPECT_EQ(resources[1].data, test::StringBlock({u"null", u"one"}));
}

}  // namespace
}  // namespace quelvar
