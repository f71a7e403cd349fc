// A menu item's shortcut against the accelerators of its command: the key names of either
// spelling and language, and the findings of a translation that makes them differ.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "checks/checks.h"
#include "checks/shortcuts.h"
#include "formats/accelerator.h"
#include "formats/handlers.h"
#include "pe/rebuild.h"
#include "resources/tree.h"
#include "tests/pe_builder.h"

namespace quelvar {
namespace {

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// A menu's shortcut and an accelerator value that name the same key, or not; nullopt where
// the menu's text names no key.
TEST(Shortcuts, MenuTextsAgainstAcceleratorValues) {
    struct Case {
        const char16_t *menu, *accelerator;
        bool same;
    } cases[] = {
        {u"Ctrl+S", u"Ctrl+S", true},
        {u"Strg+S", u"Ctrl+S", true},
        {u"strg + s", u"Ctrl+S", true},
        {u"Strg+Umschalt+S", u"Ctrl+Shift+S", true},
        {u"Umschalt+Strg+S", u"Ctrl+Shift+S", true},  // modifiers in any order
        {u"Maj+Ctrl+S", u"Shift+Ctrl+S", true},
        {u"Strg+S", u"Ctrl+Shift+S", false},
        {u"Strg+S", u"Ctrl+D", false},
        {u"Strg+S", u"Alt+S", false},
        {u"Entf", u"Del", true},
        {u"Suppr", u"Del", true},
        {u"Umschalt+Einfg", u"Shift+Ins", true},
        {u"Entf", u"Ins", false},
        {u"F5", u"F5", true},
        {u"Strg+F5", u"F5", false},
        {u"F1", u"F10", false},
        {u"Alt+Eingabe", u"Alt+Enter", true},
        {u"Alt+Return", u"Alt+Enter", true},
        {u"Alt+Left", u"Alt+Left", true},
        {u"Strg+Pos1", u"Ctrl+Home", true},
        {u"Bild ab", u"PgDn", true},
        // Names of Wine's translations: Lithuanian, Esperanto, Arabic.
        {u"Vald+Lyg2+S", u"Ctrl+Shift+S", true},
        {u"Alt+\u012Evesti", u"Alt+Enter", true},
        {u"Stir+O", u"Ctrl+O", true},
        {u"For", u"Del", true},
        {u"\u0627\u062F\u062E\u0644", u"Enter", true},
        {u"Strg++", u"Ctrl++", true},
        {u"Strg+Num+", u"Ctrl+Num+", true},
        {u"Ctrl+Num-", u"Ctrl+-", false},
        // Character keys: Ctrl with a letter is the control character that Ctrl+letter types,
        // a letter in either case is its key, "'+'" the key named "+".
        {u"Strg+B", u"Ctrl+'B'", true},
        {u"Ctrl+B", u"U+0002", true},
        {u"Strg+C", u"Ctrl+'B'", false},
        {u"Alt+X", u"Alt+'x'", true},
        {u"X", u"'X'", true},
        {u"Strg++", u"Ctrl+'+'", true},
        {u"Shift+1", u"Shift+'1'", true},
    };
    for (const Case& c : cases) {
        auto menu = MenuShortcutKey(c.menu);
        auto accelerator = AcceleratorKey(c.accelerator);
        ASSERT_TRUE(menu && accelerator) << Narrow(c.menu) << " " << Narrow(c.accelerator);
        EXPECT_EQ(*menu == *accelerator, c.same) << Narrow(c.menu) << " " << Narrow(c.accelerator);
    }
    // Texts after a tab that name no key.
    for (std::u16string_view text : {u"", u"  ", u"Ctrl+click", u"Ctrl-O", u"Ctrl+", u"+S",
                                     u"Ctrl+O, Ctrl+P", u"Strg+'B'", u"Mausklick", u"Strg+Klick"})
        EXPECT_FALSE(MenuShortcutKey(text)) << Narrow(text);
}

CheckedText Item(std::u16string key, uint32_t id, std::u16string source, std::u16string translation,
                 uint32_t language = 1031) {
    CheckedText t;
    t.resource = key.substr(0, key.rfind(u'.') + 1);
    t.role = key.starts_with(u"9.") ? TextRole::Accelerator : TextRole::MenuItem;
    t.key = std::move(key);
    t.id = id;
    t.language = language;
    t.source = std::move(source);
    t.translated = !translation.empty();
    t.translation = std::move(translation);
    return t;
}

struct Found {
    CheckKind kind;
    Severity severity;
    std::u16string key, detail, other, otherText;
    bool operator==(const Found&) const = default;
};

std::vector<Found> ShortcutFindings(const std::vector<CheckedText>& texts) {
    std::vector<Found> out;
    for (const Finding& f : CheckTranslation(texts, {}))
        if (f.kind == CheckKind::ShortcutKeyMismatch || f.kind == CheckKind::ShortcutKeyInSource)
            out.push_back({f.kind, f.severity, f.key, f.detail, f.other, f.otherText});
    return out;
}

// The menu item and the accelerators of its id as they will be imported: the side the
// translation changed is named, with its line's key; the image's own disagreement is a
// warning on the menu item.
TEST(Shortcuts, MenuItemsAgainstTheirAccelerators) {
    using K = CheckKind;
    constexpr Severity E = Severity::Error, W = Severity::Warning;
    struct Case {
        const char16_t *menuSource, *menu, *accelerator;
        std::vector<Found> expected;
    } cases[] = {
        {u"&Save\tCtrl+S", u"&Speichern\tStrg+S", u"", {}},
        {u"&Save\tCtrl+S",
         u"&Speichern\tStrg+D",
         u"",
         {{K::ShortcutKeyMismatch, E, u"4.1.100", u"Strg+D", u"9.1.100", u"Ctrl+S"}}},
        {u"&Save\tCtrl+S",
         u"",
         u"Ctrl+D",
         {{K::ShortcutKeyMismatch, E, u"9.1.100", u"Ctrl+D", u"4.1.100", u"Ctrl+S"}}},
        {u"&Save\tCtrl+S",
         u"&Speichern\tStrg+S",
         u"Ctrl+D",
         {{K::ShortcutKeyMismatch, E, u"9.1.100", u"Ctrl+D", u"4.1.100", u"Strg+S"}}},
        {u"&Save\tCtrl+S", u"&Speichern\tStrg+D", u"Ctrl+D", {}},
        {u"&Save\tCtrl+S", u"&Speichern\tStrg+D", u"ctrl + d", {}},
        // A value import refuses keeps the table's key.
        {u"&Save\tCtrl+S", u"", u"Strg+D", {}},
        {u"&Save\tCtrl+S",
         u"&Speichern\tStrg+D",
         u"Strg+D",
         {{K::ShortcutKeyMismatch, E, u"4.1.100", u"Strg+D", u"9.1.100", u"Ctrl+S"}}},
        // A shortcut that names no key, or none at all.
        {u"&Save\tCtrl+S", u"&Speichern\tStrg+Mausrad", u"", {}},
        {u"&Save\tCtrl+S", u"&Speichern", u"", {}},
        // The image's own menu and table disagree: the source's, said once, whoever
        // translated what without changing a key.
        {u"&Save\tCtrl+O",
         u"",
         u"",
         {{K::ShortcutKeyInSource, W, u"4.1.100", u"Ctrl+O", u"9.1.100", u"Ctrl+S"}}},
        {u"&Save\tCtrl+O",
         u"&Speichern\tStrg+O",
         u"ctrl+s",
         {{K::ShortcutKeyInSource, W, u"4.1.100", u"Ctrl+O", u"9.1.100", u"Ctrl+S"}}},
        {u"&Save\tCtrl+O",
         u"&Speichern\tStrg+P",
         u"",
         {{K::ShortcutKeyMismatch, E, u"4.1.100", u"Strg+P", u"9.1.100", u"Ctrl+S"}}},
        {u"&Save\tCtrl+O", u"", u"Ctrl+O", {}},  // the translation mends it
    };
    for (const Case& c : cases) {
        std::vector<CheckedText> texts = {Item(u"4.1.P0", 0, u"&File", u""),
                                          Item(u"4.1.100", 100, c.menuSource, c.menu),
                                          Item(u"9.1.100", 100, u"Ctrl+S", c.accelerator)};
        EXPECT_EQ(ShortcutFindings(texts), c.expected)
            << Narrow(c.menu) << " " << Narrow(c.accelerator);
    }
}

// Any of an id's keys, in any table, of the item's own language (or a neutral one) matches;
// items without accelerators and accelerators without items are no findings.
TEST(Shortcuts, WhichAcceleratorsCount) {
    std::vector<CheckedText> texts = {
        Item(u"4.1.107", 107, u"Find &next\tF3", u"&Weitersuchen\tStrg+G"),
        Item(u"4.1.108", 108, u"&Replace\tCtrl+H", u"&Ersetzen\tStrg+E"),  // no accelerator
        Item(u"4.1.109", 109, u"&Go to\tCtrl+G", u"&Gehe zu\tStrg+G"),
        Item(u"4.1.110", 110, u"&Print\tCtrl+P", u"&Drucken\tStrg+P"),
        Item(u"4.1.111", 111, u"&Help\tF1", u""),
        Item(u"9.1.107", 107, u"F3", u""),
        Item(u"9.1.107#2", 107, u"Ctrl+G", u""),
        Item(u"9.2.109", 109, u"Ctrl+G", u""),        // another table
        Item(u"9.1.110", 110, u"Ctrl+P", u"", 1033),  // another language: not the item's
        Item(u"9.1.110", 110, u"Ctrl+D", u""),
        Item(u"9.1.111", 111, u"F1", u"", 0),         // neutral
        Item(u"9.1.112", 112, u"Ctrl+Q", u"Ctrl+W"),  // no menu item
    };
    std::vector<Found> expected = {{CheckKind::ShortcutKeyInSource, Severity::Warning, u"4.1.110",
                                    u"Ctrl+P", u"9.1.110", u"Ctrl+D"}};
    EXPECT_EQ(ShortcutFindings(texts), expected);
    texts[8].language = 1031;  // now one of the item's keys
    EXPECT_EQ(ShortcutFindings(texts), std::vector<Found>{});
}

// Wine's notepad in its 48 languages: every shortcut its menus show for a command with an
// accelerator reads as a key (no localised name unknown), and the menus and tables disagree
// only where Wine's translations do (Dutch Find shows Ctrl+Z, Brazilian Portuguese's table
// gives Open Ctrl+A and Select all Ctrl+T while its menu says Ctrl+O and Ctrl+A).
TEST(Shortcuts, WineNotepadInEveryLanguage) {
    std::filesystem::path path = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "Wine is not installed";
    test::Bytes image = test::ReadFileBytes(path);
    pe::ImageHeaders headers;
    pe::ResourceLocation location;
    ASSERT_EQ(pe::ReadImageHeaders(image, headers), kSuccess);
    ASSERT_EQ(pe::FindResourceSection(image, headers, location), kSuccess);
    const pe::SectionHeader& s = *location.section;
    ResourceSection section{std::span(image).subspan(s.rawPointer, s.rawSize), s.rva,
                            location.RootOffset()};
    std::vector<CheckedText> texts;
    WalkOptions walk;
    walk.describe = true;
    ExportTexts(section, ResourceHandlers(), walk,
                [&](const TextItem& item) { AddCheckedText(texts, item, {}); });
    std::set<std::pair<uint32_t, uint32_t>> accelerators;  // language, id
    for (const CheckedText& t : texts)
        if (t.resource.starts_with(u"9."))
            accelerators.emplace(t.language, t.id);
    size_t compared = 0;
    for (const CheckedText& t : texts) {
        size_t tab = t.source.find(u'\t');
        if (!t.resource.starts_with(u"4.") || tab == std::u16string::npos ||
            !accelerators.contains({t.language, t.id}))
            continue;
        ++compared;
        EXPECT_TRUE(MenuShortcutKey(std::u16string_view(t.source).substr(tab + 1)))
            << t.language << " " << Narrow(t.source);
    }
    EXPECT_GT(compared, 600u);
    std::vector<Finding> findings;
    CheckShortcutKeys(texts, findings);
    std::vector<std::u16string> found;
    for (const Finding& f : findings) {
        EXPECT_EQ(f.kind, CheckKind::ShortcutKeyInSource);
        found.push_back(f.detail + u" " + f.otherText);
    }
    EXPECT_EQ(found,
              (std::vector<std::u16string>{u"Ctrl+Z Ctrl+F", u"Ctrl+O Ctrl+A", u"Ctrl+A Ctrl+T"}));
}

}  // namespace
}  // namespace quelvar
