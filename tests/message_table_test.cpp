// Message tables: keys, texts and places on export, byte-exact copies of unchanged tables, a
// rebuilt layout that a separate reader accepts, and damaged tables kept as they are.
#include <gtest/gtest.h>

#include <stdexcept>

#include "driver/driver.h"
#include "exchange/language_file.h"
#include "formats/accelerator.h"
#include "formats/handlers.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

struct Entry {
    uint16_t flags;  // 0 ANSI, 1 UTF-16, 2 UTF-8
    Bytes text;      // with its zero and padding
};
struct Block {
    uint32_t low;
    std::vector<Entry> entries;
};

Bytes Units(std::u16string_view text) {
    Bytes b = test::Utf16(text);
    b.insert(b.end(), {0, 0});
    while ((b.size() + 4) % 4 != 0)
        b.push_back(0);
    return b;
}
Bytes Chars(std::string_view text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    while ((b.size() + 4) % 4 != 0)
        b.push_back(0);
    return b;
}

// A table laid out as mc lays it out: the blocks, then each block's entries in order.
Bytes Table(const std::vector<Block>& blocks) {
    Bytes b(4 + 12 * blocks.size());
    test::Put32(b, 0, static_cast<uint32_t>(blocks.size()));
    for (size_t i = 0; i < blocks.size(); ++i) {
        size_t at = 4 + 12 * i;
        test::Put32(b, at, blocks[i].low);
        test::Put32(b, at + 4, blocks[i].low + static_cast<uint32_t>(blocks[i].entries.size()) - 1);
        test::Put32(b, at + 8, static_cast<uint32_t>(b.size()));
        for (const Entry& e : blocks[i].entries) {
            size_t length = 4 + e.text.size();
            b.push_back(static_cast<uint8_t>(length));
            b.push_back(static_cast<uint8_t>(length >> 8));
            b.push_back(static_cast<uint8_t>(e.flags));
            b.push_back(0);
            b.insert(b.end(), e.text.begin(), e.text.end());
        }
    }
    return b;
}

// Reads a table as FormatMessage does: each id's text by its block; throws on a read past the
// data or a Length that is not a multiple of 4.
std::map<uint32_t, std::u16string> ReadTable(const Bytes& b) {
    auto need = [&](size_t at, size_t n) {
        if (at > b.size() || b.size() - at < n)
            throw std::runtime_error("message table runs past its data");
    };
    need(0, 4);
    std::map<uint32_t, std::u16string> texts;
    for (uint32_t i = 0, n = test::Get32(b, 0); i < n; ++i) {
        need(4 + 12 * i, 12);
        uint32_t low = test::Get32(b, 4 + 12 * i), high = test::Get32(b, 8 + 12 * i);
        size_t at = test::Get32(b, 12 + 12 * i);
        for (uint32_t id = low; id <= high; ++id) {
            need(at, 4);
            size_t length = test::Get16(b, at);
            need(at, length);
            if (length % 4 != 0)
                throw std::runtime_error("entry length is not a multiple of 4");
            std::u16string text;
            for (size_t p = at + 4; p < at + length; p += test::Get16(b, at + 2) == 1 ? 2 : 1) {
                char16_t c = test::Get16(b, at + 2) == 1 ? test::Get16(b, p) : b[p];
                if (c == 0)
                    break;
                text.push_back(c);
            }
            texts[id] = text;
            at += length;
        }
    }
    return texts;
}

const Bytes kTable = Table({
    {1, {{1, Units(u"Ready.\r\n")}, {0, Chars("Disk %1 \xE4 full.%n\x80\r\n")}}},
    {0x80100010, {{2, Chars("Gr\xC3\xBC\xC3\x9F %2!d!\r\n")}}},
    {0xC0000005, {{1, Units(u"")}, {1, Units(u"Access denied.\r\n")}}},
});

TEST(MessageTable, ExportsEveryEntryByItsIdWithSeverityAndFacility) {
    auto items = test::ExportItems(ProcessMessageTable, kTable, u"11.1.");
    std::vector<std::pair<std::u16string, std::u16string>> got;
    for (const auto& item : items)
        got.emplace_back(item.key + u"=" + item.text, item.place);
    std::vector<std::pair<std::u16string, std::u16string>> want = {
        {u"11.1.0x00000001=Ready.\r\n", u"message 0x00000001 (success, facility 0, code 1)"},
        {u"11.1.0x00000002=Disk %1 ä full.%n€\r\n",
         u"message 0x00000002 (success, facility 0, code 2)"},
        {u"11.1.0x80100010=Grüß %2!d!\r\n", u"message 0x80100010 (warning, facility 16, code 16)"},
        {u"11.1.0xC0000006=Access denied.\r\n", u"message 0xC0000006 (error, facility 0, code 6)"},
    };
    EXPECT_EQ(got, want);
}

TEST(MessageTable, ImportOfItsOwnTextsGivesBackEveryByte) {
    std::u16string lines = test::ExportWith(ProcessMessageTable, kTable, u"11.1.");
    EXPECT_EQ(test::ImportWith(ProcessMessageTable, kTable, u"11.1.", lines), kTable);
    EXPECT_EQ(test::ImportWith(ProcessMessageTable, kTable, u"11.1.", u""), kTable);
}

TEST(MessageTable, TranslatedEntriesAreRelaidAsUtf16) {
    Bytes out = test::ImportWith(ProcessMessageTable, kTable, u"11.1.",
                                 u"11.1.0x00000002=Platte %1 voll.%n\\r\\n\r\n"
                                 u"11.1.0x80100010=Größer als %2!d!, viel größer\\r\\n\r\n");
    auto texts = ReadTable(out);
    EXPECT_EQ(texts[2], u"Platte %1 voll.%n\r\n");
    EXPECT_EQ(texts[0x80100010], u"Größer als %2!d!, viel größer\r\n");
    EXPECT_EQ(texts[1], u"Ready.\r\n");
    EXPECT_EQ(texts[0xC0000006], u"Access denied.\r\n");
    EXPECT_EQ(texts.size(), 5u);
    // The blocks keep their ids; the untranslated entries their bytes.
    for (size_t at : {4, 8, 16, 20, 28, 32})
        EXPECT_EQ(test::Get32(out, at), test::Get32(kTable, at)) << at;
    EXPECT_EQ(Bytes(out.end() - 48, out.end()), Bytes(kTable.end() - 48, kTable.end()));
}

TEST(MessageTable, DamagedTablesAreKeptAndSaid) {
    auto damaged = [](auto change) {
        Bytes b = kTable;
        change(b);
        return b;
    };
    // kTable: blocks at 4, 16, 28; entries of the first block from 40.
    struct Case {
        const char* what;
        Bytes data;
        ResourceProblem problem;
    } cases[] = {
        {"no count", Bytes{1, 0}, ResourceProblem::BlocksPastEnd},
        {"blocks past the end", damaged([](Bytes& b) { test::Put32(b, 0, 1000); }),
         ResourceProblem::BlocksPastEnd},
        {"entries past the end", damaged([](Bytes& b) { test::Put32(b, 36, 0xFFF0); }),
         ResourceProblem::EntryPastEnd},
        {"many ids", damaged([](Bytes& b) { test::Put32(b, 32, 0xFFFFFFFF); }),
         ResourceProblem::EntryPastEnd},
        {"Length 0", damaged([](Bytes& b) { test::Put16(b, 40, 0); }),
         ResourceProblem::BadEntryLength},
        {"Length 6", damaged([](Bytes& b) { test::Put16(b, 40, 6); }),
         ResourceProblem::BadEntryLength},
        {"low above high", damaged([](Bytes& b) { test::Put32(b, 8, 0); }),
         ResourceProblem::IdsOutOfOrder},
        {"blocks not ascending", damaged([](Bytes& b) { test::Put32(b, 16, 1); }),
         ResourceProblem::IdsOutOfOrder},
        {"blocks share entries", damaged([](Bytes& b) { test::Put32(b, 24, 40); }),
         ResourceProblem::BlocksOverlap},
        {"entries on the blocks", damaged([](Bytes& b) { test::Put32(b, 12, 4); }),
         ResourceProblem::BadEntryLength},
        {"unknown encoding", damaged([](Bytes& b) { test::Put16(b, 42, 7); }),
         ResourceProblem::UnknownEncoding},
    };
    for (const Case& c : cases) {
        std::vector<Notice> notices;
        NoticeSink sink = [&](const Notice& n) { notices.push_back(n); };
        ResourceContext ctx;
        ctx.notify = &sink;
        EXPECT_EQ(
            test::ImportAs(ProcessMessageTable, c.data, u"11.1.", u"11.1.0x00000001=x\r\n", ctx),
            c.data)
            << c.what;
        EXPECT_TRUE(test::ExportItems(ProcessMessageTable, c.data, u"11.1.").empty()) << c.what;
        ASSERT_EQ(notices.size(), 1u) << c.what;
        EXPECT_EQ(notices[0].kind, NoticeKind::ResourceUnreadable);
        EXPECT_EQ(notices[0].key, u"11.1");
        EXPECT_EQ(notices[0].counts[0], static_cast<uint64_t>(c.problem)) << c.what;
    }
}

TEST(MessageTable, AnEntryTooLongForItsLengthKeepsTheTable) {
    std::vector<Notice> notices;
    NoticeSink sink = [&](const Notice& n) { notices.push_back(n); };
    ResourceContext ctx;
    ctx.notify = &sink;
    std::u16string lines = u"11.1.0x00000001=" + std::u16string(40000, u'x') + u"\r\n";
    EXPECT_EQ(test::ImportAs(ProcessMessageTable, kTable, u"11.1.", lines, ctx), kTable);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::ResourceTooLong);
}

// ANSI texts past ASCII are read in Windows-1252 only for languages that use it.
TEST(MessageTable, AnsiBeyondAsciiOfAnotherCodePageIsNotExported) {
    ResourceContext ctx;
    std::vector<std::u16string> keys;
    TextSink sink = [&](const TextItem& item) { keys.emplace_back(item.key); };
    ctx.sink = &sink;
    ctx.keyPath = u"11.1.";
    ctx.resource.language = 0x419;  // Russian: code page 1251
    ProcessMessageTable(ctx, kTable);
    EXPECT_EQ(keys, (std::vector<std::u16string>{u"11.1.0x00000001", u"11.1.0x80100010",
                                                 u"11.1.0xC0000006"}));
}

// Through the driver: a language added beside the original, a refused accelerator said with
// its line, pseudo-translations (accelerators keep their keys) and PO comments.
TEST(MessageTable, AddedLanguagePseudoAndPo) {
    test::TempDir dir;
    const Bytes accels = {0x09, 0, 'O', 0, 100, 0, 0, 0, 0x81, 0, 0x2E, 0, 101, 0, 0, 0};
    Bytes image = test::BuildImage(
        {{test::Id(9), test::Id(1), 1033, accels}, {test::Id(11), test::Id(1), 1033, kTable}});
    test::WriteFileBytes(dir / "a.exe", image);
    auto texts = [&](const std::filesystem::path& file, uint32_t language) {
        Options options;
        options.languageFilter = language;
        EXPECT_EQ(CodeOf(Export(file, dir / "x.lng", options)), kSuccess);
        return test::LanguageText(test::ReadFileBytes(dir / "x.lng"));
    };

    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"LANG=1031\r\n9.1.101=Strg+Entf\r\n"
                                                            u"9.1.100=Ctrl+Shift+O\r\n"
                                                            u"11.1.0x00000001=Bereit.\\r\\n\r\n"));
    Options adding;
    adding.addLanguage = true;
    std::vector<Notice> notices;
    adding.notify = [&](const Notice& n) {
        if (n.kind != NoticeKind::Imported)
            notices.push_back(n);
    };
    std::filesystem::path out = dir / "b.exe";
    ASSERT_EQ(CodeOf(Import(dir / "a.exe", dir / "de.lng", out, adding)), kSuccess);
    std::vector<std::u16string> listed;
    for (const auto& r : test::ReadResources(test::ReadFileBytes(out)))
        listed.push_back(r.type + u"." + r.name + u"." + r.language);
    EXPECT_EQ(listed,
              (std::vector<std::u16string>{u"9.1.1031", u"9.1.1033", u"11.1.1031", u"11.1.1033"}));
    EXPECT_EQ(texts(out, 1033), texts(dir / "a.exe", 1033));
    std::u16string german = texts(out, 1031);
    EXPECT_NE(german.find(u"9.1.100=Ctrl+Shift+O\r\n9.1.101=Del\r\n"), german.npos);
    EXPECT_NE(german.find(u"11.1.0x00000001=Bereit.\\r\\n\r\n"), german.npos);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::AcceleratorRefused);
    EXPECT_EQ(notices[0].key, u"9.1.101=Strg+Entf");
    EXPECT_EQ(notices[0].counts[0], 2u);  // the line

    Options pseudo;
    pseudo.pseudoExpand = 35;
    ASSERT_EQ(CodeOf(Export(dir / "a.exe", dir / "qps.lng", pseudo)), kSuccess);
    std::u16string qps = test::LanguageText(test::ReadFileBytes(dir / "qps.lng"));
    EXPECT_EQ(qps.find(u"9.1."), qps.npos);
    size_t disk = qps.find(u"11.1.0x00000002=");
    ASSERT_NE(disk, qps.npos);
    std::u16string line = qps.substr(disk, qps.find(u"\r\n", disk) - disk);
    for (std::u16string_view kept : {u"%1", u"%n", u"\\r\\n"})
        EXPECT_NE(line.find(kept), line.npos);

    ASSERT_EQ(CodeOf(Export(dir / "a.exe", dir / "a.pot")), kSuccess);
    Bytes pot = test::ReadFileBytes(dir / "a.pot");
    std::string po(pot.begin(), pot.end());
    for (const char* comment :
         {"#. accelerator of command 100\n#: ACCELERATORS:1:1033\nmsgctxt \"9.1.100\"",
          "#. message 0xC0000006 (error, facility 0, code 6)\n#: MESSAGETABLE:1:1033\n"})
        EXPECT_NE(po.find(comment), po.npos) << comment;
}

// Every message and accelerator table of the samples and of Wine's programs and libraries: an
// unchanged import gives back every byte, and every text changed comes back as changed.
TEST(MessageTable, RealTablesRoundTrip) {
    size_t tables[2] = {0, 0};
    test::ForEachRealResource([&](const std::filesystem::path& image, const test::ReadResource& r) {
        bool messages = r.type == u"11";
        if (!messages && r.type != u"9")
            return;
        SCOPED_TRACE(image.string() + " " + std::string(r.type.begin(), r.type.end()));
        ResourceHandler handler = messages ? ProcessMessageTable : ProcessAcceleratorTable;
        std::u16string keyPath = r.type + u"." + r.name + u".";
        ResourceContext ctx;
        ctx.resource.language =
            static_cast<uint32_t>(std::stoul(std::string(r.language.begin(), r.language.end())));
        std::u16string lines;
        TextSink sink = [&](const TextItem& item) { AppendLanguageLine(lines, item); };
        ctx.sink = &sink;
        ctx.keyPath = keyPath;
        handler(ctx, r.data);
        ASSERT_FALSE(lines.empty());
        ++tables[messages];
        ClearOccurrences(ctx.occurrences);  // as the walk does for every resource
        EXPECT_EQ(test::ImportAs(handler, r.data, keyPath, lines, ResourceContext(ctx)), r.data);
        // Messages get a longer text, accelerators one more modifier.
        std::u16string changed;
        for (size_t at = 0, end; (end = lines.find(u"\r\n", at)) != lines.npos; at = end + 2) {
            std::u16string line = lines.substr(at, end - at);
            if (messages) {
                changed += line + u" (x)\r\n";
                continue;
            }
            size_t eq = line.find(u'=');
            uint16_t flags = 0, key = 0;
            ASSERT_TRUE(ParseAccelerator(line.substr(eq + 1), flags, key));
            changed += line.substr(0, eq + 1) + AcceleratorText(flags ^ kAccelShift, key) + u"\r\n";
        }
        ResourceContext importing;
        importing.resource.language = ctx.resource.language;
        Bytes out = test::ImportAs(handler, r.data, keyPath, changed, importing);
        lines.clear();
        handler(ctx, out);  // the import's context counted for itself
        EXPECT_EQ(lines, changed);
    });
    if (tables[0] + tables[1] == 0)
        GTEST_SKIP() << "no image with message or accelerator tables";
}

}  // namespace
}  // namespace quelvar
