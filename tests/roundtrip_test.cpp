// Round trips over generated resource trees: random type and resource names and ids, several
// languages, string table blocks, standard and extended menus and dialogs, and data of other
// types. For every tree:
//   - import of a language file without lines gives back every resource byte for byte;
//   - export, a new value for every line, import, export again gives the new values.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Resource;
using Random = std::mt19937;

// Texts draw on units that the language file escapes or splits on, and on units outside
// ASCII, surrogate pairs included.
constexpr char16_t kTextUnits[] =
    u"abcXYZ 019&=.,\\\r\n\t\u00FC\u00DF\u4E2D\u6587@";  // @: a surrogate pair
// Names avoid "." and "=", which the key grammar uses, and are never all digits.
constexpr char16_t kNameUnits[] = u"ABCDEFGHIJ_-xyz\u00C4\u4E2D";

size_t Below(Random& rng, size_t n) {
    return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
}

bool Chance(Random& rng, int percent) {
    return Below(rng, 100) < static_cast<size_t>(percent);
}

std::u16string RandomText(Random& rng, size_t minLength, size_t maxLength) {
    std::u16string units(kTextUnits);
    size_t length = minLength + Below(rng, maxLength - minLength + 1);
    std::u16string text;
    while (text.size() < length) {
        size_t i = Below(rng, units.size());
        if (units[i] == u'@') {
            text.push_back(char16_t{0xD83D});
            text.push_back(char16_t{0xDE00});
        } else
            text.push_back(units[i]);
    }
    return text;
}

std::u16string RandomName(Random& rng) {
    std::u16string units(kNameUnits);
    std::u16string name(1, units[Below(rng, 10)]);  // a letter first
    for (size_t n = Below(rng, 8); n > 0; --n)
        name.push_back(units[Below(rng, units.size())]);
    return name;
}

struct Writer {
    Bytes bytes;
    void U16(uint32_t v) { test::Put16(bytes, bytes.size(), static_cast<uint16_t>(v)); }
    void U32(uint32_t v) { test::Put32(bytes, bytes.size(), v); }
    void Text(std::u16string_view text) {
        for (char16_t u : text)
            U16(u);
        U16(0);
    }
    void Align4() {
        while (bytes.size() % 4 != 0)
            bytes.push_back(0);
    }
};

// What is random about one resource is drawn once and shared by all its languages, so that
// every language of a resource has the same keys; only the texts differ.
struct Shape {
    uint32_t seed;  // the layout: item kinds, ids, counts, which texts are empty
};

// Draws a text that is empty exactly when the layout says so (`layout` decides, `texts`
// gives the units).
std::u16string MaybeText(Random& layout, Random& texts, int emptyPercent, size_t maxLength = 12) {
    bool empty = Chance(layout, emptyPercent);
    std::u16string text = RandomText(texts, 1, maxLength);
    return empty ? std::u16string() : text;
}

Bytes StringBlock(Random& layout, Random& texts) {
    Writer w;
    for (int i = 0; i < 16; ++i) {
        std::u16string s = MaybeText(layout, texts, 40, 20);
        w.U16(static_cast<uint32_t>(s.size()));
        for (char16_t u : s)
            w.U16(u);
    }
    return w.bytes;
}

// A standard menu: popups and items, ids unique within the menu, separators (id 0, no text).
Bytes StandardMenu(Random& layout, Random& texts) {
    Writer w;
    w.U16(0);
    w.U16(0);
    size_t popups = 1 + Below(layout, 3);
    uint32_t nextId = 100 + static_cast<uint32_t>(Below(layout, 50));
    for (size_t p = 0; p < popups; ++p) {
        w.U16(0x10 | (p + 1 == popups ? 0x80 : 0));
        w.Text(MaybeText(layout, texts, 10));
        size_t items = 1 + Below(layout, 4);
        for (size_t i = 0; i < items; ++i) {
            bool separator = Chance(layout, 20);
            w.U16(i + 1 == items ? 0x80 : 0);
            w.U16(separator ? 0 : nextId++);
            w.Text(separator ? u"" : MaybeText(layout, texts, 10));
        }
    }
    return w.bytes;
}

// An extended menu: 32-bit ids (some 0 or 0xFFFF, keyed by position), popups with help ids.
Bytes ExtendedMenu(Random& layout, Random& texts) {
    Writer w;
    w.U16(1);
    w.U16(4);
    w.U32(0);
    size_t items = 1 + Below(layout, 6);
    uint32_t nextId = 0x10000 * static_cast<uint32_t>(Below(layout, 3)) + 200;
    for (size_t i = 0; i < items; ++i) {
        bool popup = Chance(layout, 30);
        uint32_t id = Chance(layout, 20) ? (Chance(layout, 50) ? 0 : 0xFFFF) : nextId++;
        w.U32(0);
        w.U32(0);
        w.U32(id);
        w.U16((popup ? 0x01 : 0) | (i + 1 == items ? 0x80 : 0));
        w.Text(MaybeText(layout, texts, 10));
        w.Align4();
        if (popup)
            w.U32(0x1234);
    }
    return w.bytes;
}

void OrdinalOrText(Writer& w, Random& layout, Random& texts) {
    if (Chance(layout, 50)) {
        w.U16(0xFFFF);
        w.U16(static_cast<uint32_t>(0x80 + Below(layout, 6)));
    } else {
        w.Text(RandomText(texts, 1, 8));
    }
}

// A dialog template, standard or extended: a caption, a font or none, controls with ids
// unique within the dialog or 0xFFFF (keyed by position), titles given as text or ordinal,
// creation data. Fill bytes are zero and nothing follows the last control.
Bytes DialogTemplate(Random& layout, Random& texts, bool extended) {
    constexpr uint32_t kSetFont = 0x40;
    Writer w;
    bool font = Chance(layout, 70);
    bool messageBoxFont = font && Chance(layout, 15);
    uint32_t style = 0x80C80000 | (font ? kSetFont : 0);
    size_t controls = Below(layout, 5);
    if (extended) {
        w.U16(1);
        w.U16(0xFFFF);
        w.U32(0);  // help id
        w.U32(0);  // extended style
        w.U32(style);
    } else {
        w.U32(style);
        w.U32(0);
    }
    w.U16(static_cast<uint32_t>(controls));
    for (int i = 0; i < 4; ++i)
        w.U16(static_cast<uint32_t>(10 * i));
    // Menu and class: none, an ordinal or a name.
    for (int i = 0; i < 2; ++i) {
        size_t kind = Below(layout, 3);
        if (kind == 0)
            w.U16(0);
        else if (kind == 1)
            OrdinalOrText(w, layout, texts);
        else
            w.Text(RandomText(texts, 1, 6));
    }
    w.Text(MaybeText(layout, texts, 20));
    if (font) {
        w.U16(messageBoxFont ? 0x7FFF : static_cast<uint32_t>(6 + Below(layout, 20)));
        if (!messageBoxFont) {
            if (extended) {
                w.U16(400);
                w.U16(0x0100);  // italic 0, charset 1
            }
            std::u16string face = RandomText(texts, 1, 10);
            std::replace(face.begin(), face.end(), u',', u';');  // one comma: the size's
            w.Text(face);
        }
    }
    uint32_t nextId = 1000 + static_cast<uint32_t>(Below(layout, 100));
    for (size_t c = 0; c < controls; ++c) {
        w.Align4();
        uint32_t id = Chance(layout, 25) ? 0xFFFF : nextId++;
        if (extended) {
            w.U32(0);
            w.U32(0);
            w.U32(0x50000000);
            for (int i = 0; i < 4; ++i)
                w.U16(5);
            w.U32(id);
        } else {
            w.U32(0x50000000);
            w.U32(0);
            for (int i = 0; i < 4; ++i)
                w.U16(5);
            w.U16(id);
        }
        OrdinalOrText(w, layout, texts);  // class
        if (Chance(layout, 20)) {
            w.U16(0xFFFF);
            w.U16(7);
        } else {
            w.Text(MaybeText(layout, texts, 15));
        }
        size_t extra = Chance(layout, 25) ? 1 + Below(layout, 6) : 0;
        if (extended) {
            w.U16(static_cast<uint32_t>(extra));
        } else {
            // The size word counts itself.
            extra = extra == 0 ? 0 : extra + 1;
            extra += extra % 2;
            w.U16(static_cast<uint32_t>(extra));
            extra = extra == 0 ? 0 : extra - 2;
        }
        for (size_t i = 0; i < extra; ++i)
            w.bytes.push_back(static_cast<uint8_t>(Below(layout, 256)));
    }
    return w.bytes;
}

enum class Kind { Strings, Menu, MenuEx, Dialog, DialogEx, Other, Count };

Bytes ResourceData(Kind kind, uint32_t layoutSeed, Random& texts) {
    Random layout(layoutSeed);
    switch (kind) {
        case Kind::Strings:
            return StringBlock(layout, texts);
        case Kind::Menu:
            return StandardMenu(layout, texts);
        case Kind::MenuEx:
            return ExtendedMenu(layout, texts);
        case Kind::Dialog:
            return DialogTemplate(layout, texts, false);
        case Kind::DialogEx:
            return DialogTemplate(layout, texts, true);
        default: {
            Bytes b(Below(texts, 40));
            for (uint8_t& x : b)
                x = static_cast<uint8_t>(Below(texts, 256));
            return b;
        }
    }
}

std::vector<Resource> RandomTree(uint32_t seed) {
    Random rng(seed);
    static constexpr uint32_t kLanguages[] = {0, 1033, 1031, 2052, 1041};
    std::vector<Resource> tree;
    std::vector<std::u16string> usedNames;
    size_t count = 1 + Below(rng, 10);
    for (size_t r = 0; r < count; ++r) {
        Kind kind = static_cast<Kind>(Below(rng, static_cast<size_t>(Kind::Count)));
        test::ResId type;
        switch (kind) {
            case Kind::Strings:
                type = test::Id(6);
                break;
            case Kind::Menu:
            case Kind::MenuEx:
                type = test::Id(4);
                break;
            case Kind::Dialog:
            case Kind::DialogEx:
                type = test::Id(5);
                break;
            default: {
                // Types without texts: accelerators (9) and message tables (11) have some.
                uint32_t id = static_cast<uint32_t>(7 + Below(rng, 20));
                if (id == 9 || id == 11)
                    id += 10;
                type = Chance(rng, 50) ? test::Id(id) : test::Name(RandomName(rng));
            }
        }
        // String blocks are numbered 1 to 4096; other resources are named or numbered.
        test::ResId name;
        if (kind == Kind::Strings)
            name = test::Id(static_cast<uint32_t>(1 + Below(rng, 4096)));
        else if (Chance(rng, 40))
            name = test::Name(RandomName(rng));
        else
            name = test::Id(static_cast<uint32_t>(1 + Below(rng, 0xFFFF)));
        // A name used twice would merge two resources into one: draw again.
        std::u16string typeKey =
            type.name.empty() ? std::u16string(1, char16_t(type.id)) : u"#" + type.name;
        std::u16string nameKey =
            typeKey + u"/" +
            (name.name.empty() ? std::u16string(1, char16_t(name.id)) : u"#" + name.name);
        if (std::find(usedNames.begin(), usedNames.end(), nameKey) != usedNames.end())
            continue;
        usedNames.push_back(nameKey);

        uint32_t layoutSeed = static_cast<uint32_t>(rng());
        size_t languages = 1 + (Chance(rng, 30) ? Below(rng, 3) : 0);
        size_t firstLanguage = Below(rng, 5);
        for (size_t l = 0; l < languages; ++l) {
            Resource res;
            res.type = type;
            res.name = name;
            res.language = kLanguages[(firstLanguage + l) % 5];
            res.data = ResourceData(kind, layoutSeed, rng);
            res.codePage = Chance(rng, 50) ? 1200 : 0;
            tree.push_back(res);
        }
    }
    return tree;
}

// The lines of a language file in order: (key, value as written).
std::vector<std::pair<std::u16string, std::u16string>> Lines(const Bytes& file) {
    std::u16string text = test::LanguageText(file);
    std::vector<std::pair<std::u16string, std::u16string>> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u"\r\n", start);
        EXPECT_NE(end, std::u16string::npos) << "a line without CR LF";
        if (end == std::u16string::npos)
            break;
        std::u16string line = text.substr(start, end - start);
        size_t eq = line.find(u'=');
        EXPECT_NE(eq, std::u16string::npos);
        lines.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        start = end + 2;
    }
    return lines;
}

std::u16string Escape(std::u16string_view raw) {
    std::u16string out;
    for (char16_t u : raw) {
        if (u == u'\\')
            out.append(u"\\\\");
        else if (u == u'\r')
            out.append(u"\\r");
        else if (u == u'\n')
            out.append(u"\\n");
        else
            out.push_back(u);
    }
    return out;
}

// A new value for a line, in the form export writes it. A font stays "<typeface>,<size>".
std::u16string NewValue(const std::u16string& key, size_t index, Random& rng) {
    std::u16string number;
    for (size_t n = index + 1; n != 0; n /= 10)
        number.insert(number.begin(), static_cast<char16_t>(u'0' + n % 10));
    std::u16string value;
    if (key.size() >= 5 && key.compare(key.size() - 5, 5, u".FONT") == 0) {
        value.append(u"Face ").append(number).append(u",");
        value.push_back(static_cast<char16_t>(u'1' + index % 9));
        return value;
    }
    value.append(u"\u00AB").append(RandomText(rng, 0, 10)).append(number).append(u"\u00BB");
    return Escape(value);
}

struct RoundTrip : ::testing::Test {
    test::TempDir dir;
    std::filesystem::path image = dir / "app.exe";
    std::filesystem::path copy = dir / "app.exe.QN";
    std::filesystem::path exported = dir / "exported.lng";
    std::filesystem::path edited = dir / "edited.lng";
    std::filesystem::path again = dir / "again.lng";
};

constexpr uint32_t kTrees = 150;

TEST_F(RoundTrip, ImportWithoutLinesGivesBackEveryResource) {
    for (uint32_t seed = 1; seed <= kTrees; ++seed) {
        SCOPED_TRACE("tree " + std::to_string(seed));
        Bytes img = test::BuildImage(RandomTree(seed));
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(edited, test::LanguageFile(u""));
        ASSERT_EQ(CodeOf(Import(image, edited, copy)), kSuccess);
        auto before = test::ReadResources(img);
        auto after = test::ReadResources(test::ReadFileBytes(copy));
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(after[i].type, before[i].type);
            EXPECT_EQ(after[i].name, before[i].name);
            EXPECT_EQ(after[i].language, before[i].language);
            EXPECT_EQ(after[i].codePage, before[i].codePage);
            EXPECT_EQ(after[i].data, before[i].data) << "resource " << i;
        }
    }
}

std::u16string NumberText(uint32_t n) {
    std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

TEST_F(RoundTrip, EditedValuesComeBack) {
    size_t totalLines = 0;
    for (uint32_t seed = 1; seed <= kTrees; ++seed) {
        SCOPED_TRACE("tree " + std::to_string(seed));
        Random rng(seed * 7919);
        std::vector<Resource> tree = RandomTree(seed);
        Bytes img = test::BuildImage(tree);
        test::WriteFileBytes(image, img);
        // One language is translated: the one of most texts, with the neutral resources when
        // it is the only other one.
        std::vector<LanguageTexts> languages = TextLanguages(image).value();
        std::erase_if(languages, [](const LanguageTexts& l) { return l.language == 0; });
        if (languages.empty())
            continue;
        uint32_t source = std::max_element(languages.begin(), languages.end(),
                                           [](const LanguageTexts& a, const LanguageTexts& b) {
                                               return a.texts < b.texts;
                                           })
                              ->language;
        bool alone = languages.size() == 1;
        ASSERT_EQ(CodeOf(Export(image, exported, OfLanguage(source))), kSuccess);
        auto lines = Lines(test::ReadFileBytes(exported));
        totalLines += lines.size();

        // Every line gets a new value.
        std::u16string text;
        std::map<std::u16string, std::u16string> expected;
        for (size_t i = 0; i < lines.size(); ++i) {
            std::u16string value = NewValue(lines[i].first, i, rng);
            expected.emplace(lines[i].first, value);
            text += lines[i].first + u"=" + value + u"\r\n";
        }
        // Every third tree also moves the translated resources to a new language.
        bool relanguage = seed % 3 == 0;
        uint32_t target = relanguage ? 1036 : source;
        if (relanguage)
            text += u"LANG=1036\r\n";
        test::WriteFileBytes(edited, test::LanguageFile(text));
        ASSERT_EQ(CodeOf(Import(image, edited, copy, OfLanguage(source))), kSuccess);
        ASSERT_EQ(CodeOf(Export(copy, again, OfLanguage(target))), kSuccess);

        // The same keys with the new values (a resource with a new language id may come at
        // another place among its languages).
        auto result = Lines(test::ReadFileBytes(again));
        ASSERT_EQ(result.size(), lines.size());
        for (const auto& [key, value] : result) {
            ASSERT_EQ(expected.count(key), 1u);
            EXPECT_EQ(value, expected[key]);
        }
        // Resources without texts are copied as they were; the translated ones have the new
        // language, the others keep theirs.
        auto before = test::ReadResources(img);
        auto after = test::ReadResources(test::ReadFileBytes(copy));
        ASSERT_EQ(after.size(), before.size());
        auto has = [&](const test::ReadResource& r, uint32_t language) {
            return std::any_of(before.begin(), before.end(), [&](const test::ReadResource& o) {
                return o.type == r.type && o.name == r.name && o.language == NumberText(language);
            });
        };
        for (const test::ReadResource& b : before) {
            // Every resource of the language is translated, and a neutral one that stands in
            // for it; with LANG they move.
            bool translated = b.language == NumberText(source) ||
                              (alone && b.language == u"0" && !has(b, source));
            bool handled = b.type == u"4" || b.type == u"5" || b.type == u"6" || b.type == u"16";
            std::u16string language = translated && relanguage ? NumberText(target) : b.language;
            auto a = std::find_if(after.begin(), after.end(), [&](const test::ReadResource& r) {
                return r.type == b.type && r.name == b.name && r.language == language;
            });
            ASSERT_NE(a, after.end());
            if (!translated || !handled) {
                EXPECT_EQ(a->data, b.data);
            }
        }
    }
    // The trees are not trivially small.
    EXPECT_GT(totalLines, 10 * kTrees);  // one language a tree
}

// Images that windres built, one language at a time: export, then import of the unchanged
// file, gives back every menu and dialog byte for byte, also where ids repeat within one.
TEST(SampleRoundTrip, UnchangedFileGivesBackEveryResource) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    test::TempDir dir;
    for (const char* name : {"duplicates32.exe", "languages32.exe", "languages64.exe"}) {
        for (uint32_t language : {1031u, 1033u}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(language));
            std::filesystem::path image = samples / name, lines = dir / "x.lng",
                                  copy = dir / "x.exe";
            ASSERT_EQ(CodeOf(Export(image, lines, OfLanguage(language))), kSuccess);
            ASSERT_EQ(CodeOf(Import(image, lines, copy, OfLanguage(language))), kSuccess);
            auto before = test::ReadResources(test::ReadFileBytes(image));
            auto after = test::ReadResources(test::ReadFileBytes(copy));
            ASSERT_EQ(after.size(), before.size());
            // A string table's texts come back with a terminating zero each, which windres
            // does not write: only menus and dialogs are compared.
            for (size_t i = 0; i < before.size(); ++i)
                EXPECT_TRUE(before[i].type == u"6" || after[i].data == before[i].data)
                    << "resource " << i;
        }
    }
    // The keys of repeated ids, and a message box font as windres writes it.
    ASSERT_EQ(CodeOf(Export(samples / "duplicates32.exe", dir / "en.lng", OfLanguage(1033))),
              kSuccess);
    EXPECT_EQ(test::LanguageText(test::ReadFileBytes(dir / "en.lng")),
              u"4.144.30=&Open\r\n4.144.30#2=&Select\r\n4.144.31=E&xplore\r\n"
              u"4.144.30#3=&Select again\r\n5.210.HEAD=Twice\r\n5.210.FONT=MS Shell Dlg,8\r\n"
              u"5.210.100=First\r\n5.210.100#2=Second\r\n5.210.1=OK\r\n5.211.HEAD=Message\r\n"
              u"5.211.FONT=MS Shell Dlg,32767\r\n5.211.101=Text\r\n5.211.1=OK\r\n");
}

// The languages of an image's texts, each with as many texts as its export has lines.
TEST(SampleRoundTrip, TextLanguagesCountEachLanguagesTexts) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "built without mingw-w64";
    test::TempDir dir;
    std::vector<LanguageTexts> languages = TextLanguages(samples / "languages64.exe").value();
    ASSERT_EQ(languages.size(), 2u);
    for (size_t i = 0; i < languages.size(); ++i) {
        EXPECT_EQ(languages[i].language, i == 0 ? 1031u : 1033u);
        ASSERT_EQ(CodeOf(Export(samples / "languages64.exe", dir / "x.lng",
                                OfLanguage(languages[i].language))),
                  kSuccess);
        std::u16string text = test::LanguageText(test::ReadFileBytes(dir / "x.lng"));
        EXPECT_EQ(languages[i].texts,
                  static_cast<size_t>(std::count(text.begin(), text.end(), u'\n')));
    }
    EXPECT_EQ(TextLanguages(samples / "versions64.exe").value().size(), 1u);
    Failure failure = FailureOf(TextLanguages(dir / "missing.exe"));
    EXPECT_EQ(failure.code, kErrorFileNotFound);
    EXPECT_EQ(failure.path, dir / "missing.exe");
}

}  // namespace
}  // namespace quelvar
