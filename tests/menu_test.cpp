// Menu templates, standard and extended: keys and order on export, byte-exact copies, new
// texts in a layout that a separate reader accepts, and templates cut short anywhere.
#include <gtest/gtest.h>

#include <tuple>

#include <map>
#include <stdexcept>

#include "driver/driver.h"
#include "exchange/language_file.h"
#include "formats/handlers.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

// One menu item as a reader of the published layouts sees it. Standard items keep mtOption in
// `type`; extended items keep bResInfo in `flags`.
struct MenuItem {
    uint32_t type = 0, state = 0, id = 0, flags = 0, helpId = 0, depth = 0;
    std::u16string text;
    bool operator==(const MenuItem&) const = default;
};

// Reads menu templates the way the system does: level by level, each level ended by the item
// flagged 0x80, popups holding their own level. Throws on any read past the data.
struct MenuReader {
    const Bytes& b;
    size_t at = 0;
    void Need(size_t n) {
        if (at > b.size() || b.size() - at < n)
            throw std::runtime_error("menu runs past its data");
    }
    uint16_t U16() {
        Need(2);
        at += 2;
        return test::Get16(b, at - 2);
    }
    uint32_t U32() {
        Need(4);
        at += 4;
        return test::Get32(b, at - 4);
    }
    std::u16string Text() {
        std::u16string s;
        while (char16_t u = U16())
            s.push_back(u);
        return s;
    }
    void Level(bool extended, uint32_t depth, std::vector<MenuItem>& out) {
        for (;;) {
            MenuItem m;
            m.depth = depth;
            bool popup;
            if (extended) {
                at = (at + 3) & ~size_t{3};
                m.type = U32();
                m.state = U32();
                m.id = U32();
                m.flags = U16();
                m.text = Text();
                popup = m.flags & 0x01;
                if (popup) {
                    at = (at + 3) & ~size_t{3};
                    m.helpId = U32();
                }
            } else {
                m.type = U16();
                popup = m.type & 0x10;
                m.id = popup ? 0 : U16();
                m.text = Text();
            }
            out.push_back(m);
            if (popup)
                Level(extended, depth + 1, out);
            if ((extended ? m.flags : m.type) & 0x80)
                return;
        }
    }
};

std::vector<MenuItem> ReadMenu(const Bytes& b) {
    MenuReader r{b};
    bool extended = r.U16() != 0;
    r.at = 4 + r.U16();
    std::vector<MenuItem> items;
    r.Level(extended, 0, items);
    if (r.at > b.size() || b.size() - r.at >= (extended ? 4 : 1))
        throw std::runtime_error("bytes after the last item");
    return items;
}

// Builds templates and records where each item lies and the line it exports.
struct Template {
    Bytes b;
    struct Item {
        size_t start, end;
        std::u16string key, line;
    };
    std::vector<Item> items;
    void U16(uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    void U32(uint32_t v) {
        U16(uint16_t(v));
        U16(uint16_t(v >> 16));
    }
    void Fill(uint8_t fill) {
        while (b.size() % 4)
            b.push_back(fill);
    }
    void Text(std::u16string_view t) {
        for (char16_t u : t)
            U16(u);
        U16(0);
    }
    void Record(size_t start, std::u16string_view key, std::u16string_view text) {
        std::u16string full = u"4.102." + std::u16string(key);
        items.push_back({start, b.size(), full,
                         text.empty() ? u"" : full + u"=" + std::u16string(text) + u"\r\n"});
    }
    void Std(uint16_t option, uint16_t id, std::u16string_view key, std::u16string_view text) {
        size_t start = b.size();
        U16(option);
        if (!(option & 0x10))
            U16(id);
        Text(text);
        Record(start, key, text);
    }
    void Ex(uint32_t id, uint16_t flags, std::u16string_view key, std::u16string_view text,
            uint32_t helpId = 0, uint8_t fill = 0) {
        Fill(fill);
        size_t start = b.size();
        U32(id * 3);     // type: anything
        U32(id ^ 0x88);  // state: anything
        U32(id);
        U16(flags);
        Text(text);
        if (flags & 0x01) {
            Fill(fill);
            U32(helpId);
        }
        Record(start, key, text);
    }
};

std::u16string Export(const Bytes& data) {
    return test::ExportWith(ProcessMenuResource, data, u"4.102.");
}

Bytes Import(const Bytes& data, std::u16string_view lines) {
    return test::ImportWith(ProcessMenuResource, data, u"4.102.", lines);
}

std::u16string Lines(const Template& t, size_t size = SIZE_MAX) {
    std::u16string lines;
    for (const auto& item : t.items)
        if (item.end <= size)
            lines += item.line;
    return lines;
}

std::vector<std::u16string> Texts(const std::vector<MenuItem>& items) {
    std::vector<std::u16string> texts;
    for (auto& m : items)
        texts.push_back(m.text);
    return texts;
}

// Every field of two readings but the texts.
void ExpectSameButTexts(std::vector<MenuItem> a, std::vector<MenuItem> b) {
    for (auto& m : a)
        m.text.clear();
    for (auto& m : b)
        m.text.clear();
    EXPECT_EQ(a, b);
}

// A menu bar: two popups, a separator, ids 0 and 0xFFFF, an empty text, items after the last
// item of the bar, an empty popup.
Template StandardMenu() {
    Template t;
    t.U16(0), t.U16(0);
    t.Std(0x10, 0, u"P0", u"&File");
    t.Std(0, 201, u"201", u"&Open");
    t.Std(0x800, 0, u"P1", u"");  // separator
    t.Std(0x08, 202, u"202", u"&Save");
    t.Std(0, 203, u"203", u"");
    t.Std(0, 0, u"P2", u"Zero");
    t.Std(0x80, 0xFFFF, u"P3", u"Max");
    t.Std(0x10, 0, u"P4", u"&Edit");
    t.Std(0x80 | 0x01, 301, u"301", u"&Undo");
    t.Std(0x10 | 0x80, 0, u"P5", u"");
    t.Std(0x80, 900, u"900", u"x");
    return t;
}

// Popups with help ids, ids above 0xFFFF and all bits set, texts of odd and even lengths,
// fill bytes that are not zero.
Template ExtendedMenu() {
    Template t;
    t.U16(1), t.U16(4), t.U32(0xABCD);
    t.Ex(400, 0x01, u"400", u"&View", 0x1234, 0xEE);
    t.Ex(0x12345, 0, u"9029", u"Big", 0, 0xEE);
    t.Ex(0xFFFFFFFF, 0, u"65535", u"Minus one");
    t.Ex(0, 0, u"P0", u"");
    t.Ex(0xFFFF, 0, u"P1", u"FFFF");
    t.Ex(0x10000, 0, u"0", u"Above");
    t.Ex(0, 0x81, u"P2", u"Sub", 99, 0xEE);
    t.Ex(0x1FFFF, 0x80, u"65535#2", u"Low bits");
    t.Ex(7, 0x80, u"7", u"Seven", 0, 0xEE);
    return t;
}

TEST(Menu, ExportKeysItemsInTemplateOrder) {
    for (const Template& t : {StandardMenu(), ExtendedMenu()})
        EXPECT_EQ(Export(t.b), Lines(t));
}

// Each text is reported with its popup path and the group of its level: the popup that opens a
// level belongs to the level around it, and a last item closes its level and every level whose
// last item was the popup just closed.
TEST(Menu, ExportTellsWhereEachTextLives) {
    using Where = std::tuple<std::u16string, std::u16string, uint32_t>;
    auto where = [](const Bytes& b) {
        std::vector<Where> out;
        for (const auto& item : test::ExportItems(ProcessMenuResource, b, u"4.102."))
            out.emplace_back(item.key.substr(6), item.place, item.group);
        return out;
    };
    EXPECT_EQ(where(StandardMenu().b), (std::vector<Where>{{u"P0", u"File", 0},
                                                           {u"201", u"File > Open", 1},
                                                           {u"202", u"File > Save", 1},
                                                           {u"P2", u"File > Zero", 1},
                                                           {u"P3", u"File > Max", 1},
                                                           {u"P4", u"Edit", 0},
                                                           {u"301", u"Edit > Undo", 2},
                                                           {u"900", u" > x", 3}}));
    Template t;
    t.U16(1), t.U16(4), t.U32(0);
    t.Ex(0, 0x01, u"P0", u"&Tools");
    t.Ex(5, 0, u"5", u"Save && &Quit\tCtrl+Q");
    t.Ex(0, 0x81, u"P1", u"&More");
    t.Ex(6, 0x80, u"6", u"&Deep");
    t.Ex(7, 0x80, u"7", u"Top");
    EXPECT_EQ(where(t.b), (std::vector<Where>{{u"P0", u"Tools", 0},
                                              {u"5", u"Tools > Save & Quit", 1},
                                              {u"P1", u"Tools > More", 1},
                                              {u"6", u"Tools > More > Deep", 2},
                                              {u"7", u"Top", 0}}));
}

// Import writes only the keys that export writes: a line for a separator, an item without a
// text or an empty string slot changes nothing, and these are exactly the keys that check
// says the image lacks.
TEST(Menu, CheckNamesTheKeysImportIgnores) {
    test::TempDir dir;
    std::filesystem::path image = dir / "app.exe", out = dir / "out.exe";
    test::WriteFileBytes(
        image,
        test::BuildImage({{test::Id(4), test::Id(102), 1033, StandardMenu().b, 0},
                          {test::Id(6), test::Id(1), 1033, test::StringBlock({u"", u"one"}), 0}}));
    // A line that no text takes is refused as a translation that applies nothing (13).
    auto import = [&](std::u16string_view lines) {
        test::WriteFileBytes(dir / "one.lng", test::LanguageFile(lines));
        Result r = CodeOf(quelvar::Import(image, dir / "one.lng", out));
        EXPECT_TRUE(r == kSuccess || r == kErrorInvalidData) << r;
        return r == kSuccess ? test::ReadFileBytes(out) : Bytes{};
    };
    Bytes unchanged = import(u"");
    std::u16string all;
    std::vector<std::u16string> ignored;
    for (const auto& item : StandardMenu().items) {
        for (std::u16string key : {item.key, item.key + u"#2"}) {
            std::u16string line = key + u"=T\r\n";
            all += line;
            if (Bytes b = import(line); b.empty() || b == unchanged)
                ignored.push_back(key);
        }
    }
    for (std::u16string key : {u"6.1.0", u"6.1.1", u"6.1.2"}) {
        all += key + u"=T\r\n";
        if (Bytes b = import(key + u"=T\r\n"); b.empty() || b == unchanged)
            ignored.push_back(key);
    }
    EXPECT_EQ(ignored,
              (std::vector<std::u16string>{
                  u"4.102.P0#2", u"4.102.201#2", u"4.102.P1", u"4.102.P1#2", u"4.102.202#2",
                  u"4.102.203", u"4.102.203#2", u"4.102.P2#2", u"4.102.P3#2", u"4.102.P4#2",
                  u"4.102.301#2", u"4.102.P5", u"4.102.P5#2", u"4.102.900#2", u"6.1.0", u"6.1.2"}));
    test::WriteFileBytes(dir / "all.lng", test::LanguageFile(all));
    Outcome<CheckReport> report = CheckImage(image, dir / "all.lng", Options{});
    ASSERT_TRUE(report);
    std::vector<std::u16string> unknown;
    for (const Finding& f : report->findings)
        if (f.kind == CheckKind::UnknownKey)
            unknown.push_back(f.key);
    EXPECT_EQ(unknown, ignored);
}

TEST(Menu, ImportWithoutLinesCopiesEveryByte) {
    for (const Template& t : {StandardMenu(), ExtendedMenu()})
        EXPECT_EQ(Import(t.b, u""), t.b);
    // Keys are unique in the standard menu, so its own lines give it back unchanged.
    EXPECT_EQ(Import(StandardMenu().b, Export(StandardMenu().b)), StandardMenu().b);
}

TEST(Menu, ImportedTextsKeepEveryOtherField) {
    Template s = StandardMenu();
    Bytes out = Import(s.b,
                       u"4.102.P0=Datei-Menü\r\n4.102.201=Ö\r\n4.102.P1=Sep\r\n"
                       u"4.102.203=Neu\r\n4.102.P3=\r\n4.102.301=a\\nb\r\n4.102.P5=Leer\r\n");
    ExpectSameButTexts(ReadMenu(out), ReadMenu(s.b));
    // The lines of items without a text (the separators P1 and P5, the empty item 203), which
    // export skips, are ignored: a separator never becomes a command.
    std::vector<std::u16string> texts = {u"Datei-Menü", u"Ö",     u"",     u"&Save", u"", u"Zero",
                                         u"",           u"&Edit", u"a\nb", u"",      u"x"};
    EXPECT_EQ(Texts(ReadMenu(out)), texts);

    // Longer and shorter texts of every parity move the extended items, which stay on their
    // 4-byte boundaries with their help ids.
    Template e = ExtendedMenu();
    for (std::u16string grow : {u"", u"+", u"++", u"+++"}) {
        std::u16string lines;
        std::vector<std::u16string> expected;
        for (const MenuItem& m : ReadMenu(e.b))
            expected.push_back(m.text.empty()      ? m.text
                               : m.text.size() % 2 ? m.text.substr(1)
                                                   : m.text + grow);
        for (size_t i = 0; i < expected.size(); ++i)
            lines += e.items[i].key + u"=" + expected[i] + u"\r\n";
        Bytes out = Import(e.b, lines);
        ExpectSameButTexts(ReadMenu(out), ReadMenu(e.b));
        EXPECT_EQ(Texts(ReadMenu(out)), expected);
        EXPECT_EQ(test::Get32(out, 4), 0xABCDu);
    }
}

// Items that share an id: the second and later are keyed "<id>#<n>". Files written before
// that, with one line for the id, still give every such item that line's text.
TEST(Menu, RepeatedIdsAreNumbered) {
    Template t;
    t.U16(0), t.U16(0);
    t.Std(0x10, 0, u"P0", u"");
    t.Std(0, 30, u"30", u"&Open");
    t.Std(0, 30, u"30#2", u"&Select");
    t.Std(0, 31, u"31", u"E&xplore");
    t.Std(0x80, 30, u"30#3", u"&Again");
    t.Std(0x80, 31, u"31#2", u"");
    // An empty text under a repeated key has its line, so that import does not fall back.
    EXPECT_EQ(Export(t.b), Lines(t) + u"4.102.31#2=\r\n");
    EXPECT_EQ(Import(t.b, Export(t.b)), t.b);
    using V = std::vector<std::u16string>;
    EXPECT_EQ(Texts(ReadMenu(Import(t.b, u"4.102.30=A\r\n4.102.31#2=B\r\n"))),
              (V{u"", u"A", u"A", u"E&xplore", u"A", u"B"}));
    EXPECT_EQ(Texts(ReadMenu(Import(t.b, u"4.102.30#3=C\r\n4.102.30=A\r\n"))),
              (V{u"", u"A", u"A", u"E&xplore", u"C", u""}));
}

TEST(Menu, HeadersWithoutItems) {
    EXPECT_EQ(Export({0, 0, 0, 0}), u"");
    for (Bytes b : {Bytes{0, 0}, Bytes{0, 0, 0}, Bytes{0, 0, 0, 0}, Bytes{0, 0, 9, 0, 1, 2},
                    Bytes{1, 0, 4, 0, 5, 6, 7, 8}, Bytes{1, 0, 0xFF, 0xFF, 3}}) {
        EXPECT_EQ(Export(b), u"");
        EXPECT_EQ(Import(b, u"4.102.P0=x\r\n"), b);
    }
    // Bytes between the header and the first item are copied along.
    Template s;
    s.U16(0), s.U16(2), s.U16(0x5A5A);
    s.Std(0x80, 5, u"5", u"Five");
    Template e;
    e.U16(1), e.U16(8), e.U32(0), e.U32(0x5A5A5A5A);
    e.Ex(5, 0x80, u"5", u"Five");
    for (const Template& t : {s, e}) {
        EXPECT_EQ(Export(t.b), u"4.102.5=Five\r\n");
        Bytes out = Import(t.b, u"4.102.5=Fünf!\r\n");
        EXPECT_EQ(Bytes(out.begin(), out.begin() + t.b.size() - 10),
                  Bytes(t.b.begin(), t.b.end() - 10));
        EXPECT_EQ(Texts(ReadMenu(out)), std::vector<std::u16string>{u"Fünf!"});
    }
}

// A template cut at any byte: the items that end inside it are handled, the rest of the data
// from the first item that does not is copied unchanged, and nothing is read past the end.
TEST(Menu, TemplatesCutShortAnywhere) {
    for (const Template& t : {StandardMenu(), ExtendedMenu()}) {
        bool extended = test::Get16(t.b, 0) != 0;
        std::u16string all;
        for (const auto& item : t.items)
            all += item.key + u"=Zz\r\n";
        for (size_t n = 2; n <= t.b.size(); ++n) {
            Bytes cut(t.b.begin(), t.b.begin() + n);
            EXPECT_EQ(Export(cut), Lines(t, n)) << n;
            EXPECT_EQ(Import(cut, u""), cut) << n;
            // Where the copied rest starts: at the item cut short, or after the last whole item
            // when the cut falls among its fill bytes (whole fill bytes are made anew).
            size_t k = 0;
            while (k < t.items.size() && t.items[k].end <= n)
                ++k;
            size_t last = k ? t.items[k - 1].end : 0;
            size_t tail = n;
            if (k < t.items.size() && t.items[k].start < n)
                tail = t.items[k].start;
            else if (!extended || k == 0 || n < ((last + 3) & ~size_t{3}))
                tail = last;
            Bytes out = Import(cut, all);
            ASSERT_GE(out.size(), n - tail) << n;
            EXPECT_TRUE(std::equal(cut.begin() + tail, cut.end(), out.end() - (n - tail))) << n;
            if (extended && tail % 4 == 0) {
                EXPECT_EQ((out.size() - (n - tail)) % 4, 0u) << n;
            }
        }
    }
}

// Extended items align to the image's addresses: at an address 2 past a boundary, the item
// after a text that ends on one follows without fill.
TEST(Menu, ExtendedItemsAlignToAddresses) {
    Template t;
    t.U16(1), t.U16(4), t.U32(0);
    t.Ex(1, 0, u"1", u"A");                                   // ends at 26, address 28
    t.U32(0), t.U32(0), t.U32(5), t.U16(0x80), t.Text(u"B");  // no fill before it
    t.Record(26, u"5", u"B");
    EXPECT_EQ(test::ExportWith(ProcessMenuResource, t.b, u"4.102.", 2), Lines(t));
}

// Images built by windres from tests/samples/menus.rc.
std::filesystem::path MenuSample() {
    std::filesystem::path dir = test::SampleImageDir();
    return dir.empty() ? dir : dir / "menus32.exe";
}

TEST(MenuSample, ExportWritesEveryMenuInOrder) {
    if (MenuSample().empty())
        GTEST_SKIP() << "no mingw-w64";
    test::TempDir tmp;
    ASSERT_EQ(CodeOf(quelvar::Export(MenuSample(), tmp / "m.lng")), kSuccess);
    EXPECT_EQ(test::LanguageText(test::ReadFileBytes(tmp / "m.lng")),
              u"4.EXMENU.400=&View\r\n4.EXMENU.9029=Big id\r\n4.EXMENU.65535=Minus one\r\n"
              u"4.EXMENU.P1=Exact FFFF\r\n4.EXMENU.0=One above\r\n4.EXMENU.P2=Sub\r\n"
              u"4.EXMENU.7=Odd\r\n4.EXMENU.8=Even\r\n4.EXMENU.500=Right\r\n"
              u"4.102.P0=&Datei\r\n4.102.201=Ö&ffnen\r\n"
              u"4.102.P0=&File\r\n4.102.201=&Open\tCtrl+O\r\n4.102.202=&Save\r\n"
              u"4.102.P2=&Edit\r\n4.102.301=&Undo\r\n4.102.P3=&More\r\n4.102.P4=Zero id\r\n"
              u"4.102.P5=Max id\r\n4.102.302=C:\\\\path\r\n4.102.900=&Help\r\n"
              u"4.103.601=打开\r\n4.103.P0=帮助\r\n4.103.P1=关于\r\n");
}

TEST(MenuSample, ImportGivesNewTextsAndKeepsTheRest) {
    if (MenuSample().empty())
        GTEST_SKIP() << "no mingw-w64";
    test::TempDir tmp;
    auto import = [&](std::u16string_view lines) {
        test::WriteFileBytes(tmp / "m.lng", test::LanguageFile(lines));
        std::filesystem::path copy = tmp / "m.exe.QN";
        EXPECT_EQ(CodeOf(quelvar::Import(MenuSample(), tmp / "m.lng", copy, OfLanguage(1033))),
                  kSuccess);
        return test::ReadResources(test::ReadFileBytes(copy));
    };
    auto source = test::ReadResources(test::ReadFileBytes(MenuSample()));
    auto same = import(u"");
    ASSERT_EQ(same.size(), source.size());
    for (size_t i = 0; i < source.size(); ++i)
        EXPECT_EQ(same[i].data, source[i].data) << i;

    // The separator P0 and the empty item 203 keep their empty texts.
    auto edited = import(
        u"4.EXMENU.400=Ansicht (länger)\r\n4.EXMENU.9029=B\r\n4.EXMENU.65535=Minus eins!\r\n"
        u"4.EXMENU.P0=Trenner\r\n4.EXMENU.P1=\r\n4.EXMENU.0=Eins darüber\r\n"
        u"4.EXMENU.P2=Unter\\nMenü\r\n4.EXMENU.7=Ungerade\r\n4.EXMENU.8=G\r\n"
        u"4.102.P0=&Datei-Menü\r\n4.102.201=Ö&ffnen...\r\n4.102.203=Neu\r\n4.102.P3=M\r\n"
        u"4.102.302=D:\\\\pfad\r\n4.103.P1=About\r\n");
    std::map<std::u16string, std::vector<std::u16string>> expected = {
        {u"EXMENU",
         {u"Ansicht (länger)", u"B", u"Minus eins!", u"", u"", u"Eins darüber", u"Unter\nMenü",
          u"Ungerade", u"G", u"Right"}},
        {u"102/1031", {u"&Datei", u"Ö&ffnen"}},  // English is translated, German stays
        {u"102/1033",
         {u"&Datei-Menü", u"Ö&ffnen...", u"", u"&Save", u"", u"&Edit", u"&Undo", u"M", u"Zero id",
          u"Max id", u"D:\\pfad", u"&Help"}},
        {u"103", {u"打开", u"帮助", u"关于"}}};
    ASSERT_EQ(edited.size(), source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        std::u16string name =
            source[i].name == u"102" ? u"102/" + source[i].language : source[i].name;
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        ASSERT_EQ(source[i].type, u"4");
        ExpectSameButTexts(ReadMenu(edited[i].data), ReadMenu(source[i].data));
        EXPECT_EQ(Texts(ReadMenu(edited[i].data)), expected[name]);
    }
}

}  // namespace
}  // namespace quelvar
