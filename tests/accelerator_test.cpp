// Accelerator tables: values as people write them and back, keys by command, byte-exact copies,
// changed keys written whole or not at all, and tables without their last entry kept.
#include <gtest/gtest.h>

#include "formats/accelerator.h"
#include "formats/handlers.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

struct Accel {
    uint16_t flags, key, id;
};

Bytes AccelTable(const std::vector<Accel>& entries, uint16_t padding = 0) {
    Bytes b;
    for (const Accel& a : entries)
        for (uint16_t v : {a.flags, a.key, a.id, padding}) {
            b.push_back(static_cast<uint8_t>(v));
            b.push_back(static_cast<uint8_t>(v >> 8));
        }
    return b;
}

constexpr uint16_t V = kAccelVirtKey, S = kAccelShift, C = kAccelControl, A = kAccelAlt;

TEST(Accelerator, ValuesReadBackAsTheyAreWritten) {
    struct Case {
        uint16_t flags, key;
        std::u16string_view text;
    } cases[] = {
        {V | C, 'O', u"Ctrl+O"},
        {V | C | S, 0x74, u"Ctrl+Shift+F5"},
        {V | A, 0x0D, u"Alt+Enter"},
        {V, 0x2E, u"Del"},
        {V | C, 0xBB, u"Ctrl++"},
        {V | C, 0xBD, u"Ctrl+-"},
        {V | A, 0x73, u"Alt+F4"},
        {V, 0x87, u"F24"},
        {V | S, 0x63, u"Shift+Num3"},
        {V, 0x6B, u"Num+"},
        {V | C, '0', u"Ctrl+0"},
        {V, 0xDE, u"'"},
        {V, 0xE5, u"0xE5"},
        {V | C, 0x1234, u"Ctrl+0x1234"},
        {0, 0x02, u"Ctrl+'B'"},
        {0, 0x1B, u"Ctrl+'['"},
        {0, 'b', u"'b'"},
        {A, 'x', u"Alt+'x'"},
        {S, '+', u"Shift+'+'"},
        {0, '\'', u"'''"},
        {C, '1', u"Ctrl+'1'"},
        {C, '@', u"Ctrl+'@'"},
        {0, 0xE4, u"'ä'"},
        {0, 0, u"U+0000"},
        {0, 0x7F, u"U+007F"},
        {0, 0xD800, u"U+D800"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AcceleratorText(c.flags, c.key), c.text);
        uint16_t flags = 0, key = 0;
        EXPECT_TRUE(ParseAccelerator(c.text, flags, key))
            << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(flags, c.flags) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(key, c.key) << std::string(c.text.begin(), c.text.end());
    }
}

TEST(Accelerator, OtherSpellingsReadAndNonsenseDoesNot) {
    struct Case {
        std::u16string_view text;
        uint16_t flags, key;
    } read[] = {
        {u"ctrl+o", V | C, 'O'},          {u" Alt + Shift + Delete ", V | S | A, 0x2E},
        {u"Control+Return", V | C, 0x0D}, {u"shift+f12", V | S, 0x7B},
        {u"Ctrl+'b'", 0, 0x02},           {u"Escape", V, 0x1B},
        {u"PageDown", V, 0x22},           {u"ALT+=", V | A, 0xBB},
        {u"Ctrl+U+0001", 0, 0x01},        {u"Ctrl+'\x02'", 0, 0x02},
    };
    for (const Case& c : read) {
        uint16_t flags = 0, key = 0;
        EXPECT_TRUE(ParseAccelerator(c.text, flags, key));
        EXPECT_EQ(flags, c.flags);
        EXPECT_EQ(key, c.key);
    }
    for (std::u16string_view bad :
         {u"", u"Ctrl+", u"Ctrl", u"Strg+O", u"Ctrl+OO", u"F25", u"F0", u"Ctrl+Shift", u"0x",
          u"0x12345", u"Num10", u"'ab'", u"U+12", u"Ctrl+Q+", u"''"}) {
        uint16_t flags = 0, key = 0;
        EXPECT_FALSE(ParseAccelerator(bad, flags, key)) << std::string(bad.begin(), bad.end());
    }
}

const Bytes kAccels = AccelTable({{V | C, 'O', 100},
                                  {V | C | 0x02, 0x2D, 101},
                                  {V, 0x72, 102},
                                  {V | C, 'G', 102},
                                  {0x80 | A, 'x', 103}},
                                 0x5A5A);

TEST(Accelerator, EntriesAreKeyedByCommandAndKeepTheirBytes) {
    auto items = test::ExportItems(ProcessAcceleratorTable, kAccels, u"9.1.");
    std::vector<std::u16string> got;
    for (const auto& item : items)
        got.push_back(item.key + u"=" + item.text + u" (" + item.place + u")");
    EXPECT_EQ(got, (std::vector<std::u16string>{u"9.1.100=Ctrl+O (accelerator of command 100)",
                                                u"9.1.101=Ctrl+Ins (accelerator of command 101)",
                                                u"9.1.102=F3 (accelerator of command 102)",
                                                u"9.1.102#2=Ctrl+G (accelerator of command 102)",
                                                u"9.1.103=Alt+'x' (accelerator of command 103)"}));
    std::u16string lines = test::ExportWith(ProcessAcceleratorTable, kAccels, u"9.1.");
    EXPECT_EQ(test::ImportWith(ProcessAcceleratorTable, kAccels, u"9.1.", lines), kAccels);
}

TEST(Accelerator, ChangedKeysAreWrittenWholeOrNotAtAll) {
    std::vector<Notice> notices;
    NoticeSink sink = [&](const Notice& n) { notices.push_back(n); };
    ResourceContext ctx;
    ctx.notify = &sink;
    Bytes trailing = kAccels;
    trailing.insert(trailing.end(), {1, 2, 3});
    Bytes out = test::ImportAs(ProcessAcceleratorTable, trailing, u"9.1.",
                               u"9.1.100=Strg+Q\r\n9.1.101=Shift+Ins\r\n9.1.102#2=Ctrl+Shift+G\r\n"
                               u"9.1.103=Ctrl+'Q'\r\n",
                               ctx);
    Bytes want = AccelTable({{V | C, 'O', 100},
                             {V | S | 0x02, 0x2D, 101},
                             {V, 0x72, 102},
                             {V | C | S, 'G', 102},
                             {0x80, 0x11, 103}},
                            0x5A5A);
    want.insert(want.end(), {1, 2, 3});
    EXPECT_EQ(out, want);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, NoticeKind::AcceleratorRefused);
    EXPECT_EQ(notices[0].key, u"9.1.100=Strg+Q");
    EXPECT_EQ(notices[0].counts[1], 7u);  // the length of the key
}

TEST(Accelerator, TablesWithoutTheirLastEntryAreKeptAndSaid) {
    for (const Bytes& data : {Bytes{}, Bytes{0x80, 0, 1}, AccelTable({{V, 'A', 1}, {V, 'B', 2}})}) {
        std::vector<Notice> notices;
        NoticeSink sink = [&](const Notice& n) { notices.push_back(n); };
        ResourceContext ctx;
        ctx.notify = &sink;
        EXPECT_EQ(test::ImportAs(ProcessAcceleratorTable, data, u"9.1.", u"9.1.1=Ctrl+A\r\n", ctx),
                  data);
        EXPECT_TRUE(test::ExportItems(ProcessAcceleratorTable, data, u"9.1.").empty());
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].counts[0], static_cast<uint64_t>(ResourceProblem::NoLastEntry));
    }
}

}  // namespace
}  // namespace quelvar
