// The checks of a translation: each catches a real mistake and lets its near misses pass.
#include <gtest/gtest.h>

#include "base/utf16.h"
#include "checks/checks.h"
#include "checks/key_names.h"

namespace quelvar {
namespace {

// The role export gives a text of the built-in types, by its key.
TextRole RoleOf(std::u16string_view key) {
    std::u16string_view type = key.substr(0, key.find(u'.'));
    std::u16string_view item = key.substr(key.rfind(u'.') + 1);
    if (type == u"4")
        return item.starts_with(u"P") ? TextRole::Popup : TextRole::MenuItem;
    if (type == u"5")
        return item == u"HEAD"   ? TextRole::Caption
               : item == u"FONT" ? TextRole::Font
                                 : TextRole::Control;
    return type == u"6" ? TextRole::String : TextRole::Other;
}

CheckedText Text(std::u16string key, std::u16string source, std::u16string translation,
                 uint32_t group = 0) {
    CheckedText t;
    t.resource = key.substr(0, key.rfind(u'.') + 1);
    t.role = RoleOf(key);
    t.key = std::move(key);
    t.source = std::move(source);
    t.group = group;
    t.translated = !translation.empty();
    t.translation = std::move(translation);
    return t;
}

std::vector<CheckKind> Kinds(const std::vector<CheckedText>& texts,
                             const std::vector<std::u16string>& keys = {}) {
    std::vector<CheckKind> kinds;
    for (const Finding& f : CheckTranslation(texts, keys))
        kinds.push_back(f.kind);
    return kinds;
}

TEST(Checks, OneTextAtATime) {
    using K = CheckKind;
    struct Case {
        const char16_t *key, *source, *translation;
        std::vector<CheckKind> expected;
    } cases[] = {
        {u"6.1.1", u"%d files of %s", u"%s: %d Dateien", {K::PrintfPlaceholders}},
        {u"6.1.1", u"%d files", u"%s Dateien", {K::PrintfPlaceholders}},
        {u"6.1.1", u"%-5.2f%% done, %I64d left", u"%-5.2f%% fertig, %I64d übrig", {}},
        {u"6.1.1", u"Done: 100%", u"Fertig: 100 %", {}},  // a lone '%' is no placeholder
        {u"6.1.1", u"100% done", u"100% fertig", {}},
        {u"6.1.1", u"Copy %1 to %2!s!", u"%2!s! erhält %1", {}},  // inserts in any order
        {u"6.1.1", u"Copy %1 to %2", u"Kopiere %1", {K::FormatMessageInserts}},
        {u"4.1.10", u"&Open\tCtrl+O", u"Ö&ffnen Strg+O", {K::ShortcutTabLost}},
        {u"4.1.10", u"&Open\tCtrl+O", u"Ö&ffnen\tStrg+O", {}},  // localised key names
        {u"4.1.10", u"&Open\tCtrl+O", u"Ö&ffnen\tStrg+F", {K::ShortcutChanged}},
        {u"4.1.10", u"Redo\tCtrl+Shift+Z", u"Wiederholen\tStrg+Umschalt+Z", {}},
        {u"4.1.10", u"&Delete\tDel", u"&Supprimer\tSuppr", {}},
        {u"4.1.10", u"Zoom in\tCtrl++", u"Vergr\u00F6\u00DFern\tstrg++", {}},
        {u"4.1.10", u"Zoom in\tCtrl++", u"Vergr\u00F6\u00DFern\tStrg+-", {K::ShortcutChanged}},
        // An '&' before a tab or a blank marks no access key.
        {u"4.1.10", u"&Save\tCtrl+S", u"Speichern&\tStrg+S", {K::AcceleratorOnBlank}},
        {u"4.1.10", u"&New", u"& Neu", {K::AcceleratorOnBlank}},
        {u"5.1.1", u"Fish & Chips", u"Fisch & Pommes", {}},  // the source's own
        {u"4.1.10", u"Save && exit", u"Speichern && Ende", {}},
        // A tab in a string table or dialog starts no shortcut.
        {u"6.1.1", u"Name\tValue", u"Name\tWert", {}},
        {u"6.1.1", u"Name\tValue", u"Name Wert", {K::ControlCharacters}},
        // "%n" is FormatMessage's line break, no printf placeholder.
        {u"6.1.1",
         u"Cannot open%nthe file %1",
         u"Die Datei %1 kann nicht ge\u00F6ffnet werden",
         {K::ControlCharacters}},
        {u"6.1.1", u"Line%nNext", u"Zeile\nN\u00E4chste", {}},
        {u"6.1.1", u"Line one\nLine two", u"Zeile eins Zeile zwei", {K::ControlCharacters}},
        {u"6.1.1", u"Name:", u" Name:", {K::LeadingOrTrailingBlanks}},
        {u"6.1.1", u"Save as", u"Speichern  unter", {K::DoubledSpaces}},
        {u"6.1.1", u"Name:", u"Name", {K::EndPunctuation}},
        {u"6.1.1", u"Time: 10:30", u"Zeit: 10:30", {}},  // a colon inside the text
        {u"6.1.1", u"Searching...", u"\u641C\u7D22\u2026", {}},
        {u"6.1.1", u"Really?", u"\u771F\u7684\uFF1F", {}},
        {u"6.1.1", u"Replace it?", u"\u0647\u0644 \u062A\u0631\u064A\u062F\u061F", {}},  // Arabic
        {u"6.1.1", u"Short text", u"A translation far longer than its source", {K::TooLong}},
        {u"6.1.1", u"OK", u"Einverstanden", {}},  // short sources are not compared
        {u"5.1.FONT", u"Tahoma,8", u"Arial,9", {}},
        {u"5.1.FONT", u"Tahoma,8", u"Arial", {K::BadFont}},
        {u"5.1.FONT", u"Tahoma,8", u"Arial,0", {K::BadFont}},
        {u"5.1.FONT", u"Tahoma,8", u"Arial,9pt", {K::BadFont}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Kinds({Text(c.key, c.source, c.translation)}), c.expected) << ToUtf8(c.source);
    std::u16string huge(70000, u'x');
    EXPECT_EQ(Kinds({Text(u"6.1.1", u"x", huge)}), (std::vector<K>{K::TooLongToStore}));
}

// The checks go by a text's role, not by its key: a version string named FONT is no font, and
// a type added later whose items show shortcuts gets the menu's checks.
TEST(Checks, GoByTheTextsRole) {
    using K = CheckKind;
    struct Case {
        const char16_t* key;
        TextRole role;
        const char16_t *source, *translation;
        std::vector<CheckKind> expected;
    } cases[] = {
        {u"16.1.FONT", TextRole::VersionString, u"Tahoma,8", u"Arial", {}},
        {u"99.1.10", TextRole::MenuItem, u"&Open\tCtrl+O", u"\u00D6&ffnen", {K::ShortcutTabLost}},
        {u"99.1.11", TextRole::Control, u"&Open", u"\u00D6ffnen", {K::AcceleratorDropped}},
    };
    for (const Case& c : cases) {
        CheckedText t = Text(c.key, c.source, c.translation);
        t.role = c.role;
        EXPECT_EQ(Kinds({t}), c.expected) << ToUtf8(c.key);
    }
}

// Line breaks that differ are an error where a layout holds the lines (menus, dialogs) and a
// warning in a string table, whose long messages translators reflow; a tab stays an error.
TEST(Checks, ReflowedMessagesAreAWarning) {
    struct Case {
        const char16_t *key, *source, *translation;
        Severity severity;
    } cases[] = {
        {u"6.1.1", u"Line one\nLine two", u"Zeile eins Zeile zwei", Severity::Warning},
        {u"6.1.1", u"One.\r\nTwo.", u"Eins. Zwei.", Severity::Warning},
        {u"6.1.1", u"A long message", u"Eine lange%nNachricht", Severity::Warning},
        {u"6.1.1", u"Name\tValue", u"Name Wert", Severity::Error},
        {u"5.1.1", u"Line one\nLine two", u"Zeile eins Zeile zwei", Severity::Error},
    };
    for (const Case& c : cases) {
        auto findings = CheckTranslation({Text(c.key, c.source, c.translation)}, {});
        ASSERT_FALSE(findings.empty());
        for (const Finding& f : findings) {
            EXPECT_EQ(f.kind, CheckKind::ControlCharacters);
            EXPECT_EQ(f.severity, c.severity);
        }
    }
}

// The localised key names map to the English ones, whatever their case.
TEST(Checks, LocalisedKeyNames) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"Strg+N", u"Ctrl+N"},
        {u"ctrl+n", u"Ctrl+N"},
        {u"Umschalt+Entf", u"Shift+Del"},
        {u"Maj+Suppr", u"Shift+Del"},
        {u"May\u00FAs+Supr", u"Shift+Del"},
        {u"Strg++", u"Ctrl++"},
        {u"Alt+F4", u"Alt+F4"},
        {u"Skift+F10", u"Shift+F10"},
        {u"Einfg", u"Ins"},
        {u"\u00C9chap", u"Esc"},
    };
    for (const auto& [shortcut, english] : cases)
        EXPECT_EQ(CanonicalShortcut(shortcut), CanonicalShortcut(english));
    EXPECT_NE(CanonicalShortcut(u"Strg+N"), CanonicalShortcut(u"Ctrl+M"));
    for (const KeyName& row : LocalisedKeyNames())
        EXPECT_EQ(CanonicalShortcut(row.localised), row.english);
}

TEST(Checks, AcceleratorsPerMenuLevelAndDialog) {
    using K = CheckKind;
    // "&Datei" and "&Drucken" share D in one level: an error on the second.
    std::vector<CheckedText> menu = {
        Text(u"4.2.P0", u"&File", u"&Datei", 0),
        Text(u"4.2.40001", u"&Open", u"Ö&ffnen", 1),
        Text(u"4.2.40002", u"&Print", u"&Drucken", 0),
        // Another level may reuse a letter.
        Text(u"4.2.40003", u"&Document", u"&Dokument", 1),
        Text(u"4.2.40004", u"Save && &Quit", u"Speichern && &Ende", 1),
    };
    auto findings = CheckTranslation(menu, {});
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].kind, K::AcceleratorCollision);
    EXPECT_EQ(findings[0].key, u"4.2.40002");
    EXPECT_EQ(findings[0].other, u"4.2.P0");
    EXPECT_EQ(findings[0].otherText, u"&Datei");
    EXPECT_EQ(findings[0].detail, u"D");

    // Letters compare without case; an untranslated text keeps its letter; a collision the
    // source already had is no new one; dropped and added letters are warnings.
    std::vector<CheckedText> dialog = {
        Text(u"5.9.HEAD", u"&Find", u"&Suchen", 1),  // a caption takes no part
        Text(u"5.9.1", u"&Search", u"", 1),
        Text(u"5.9.2", u"&Case", u"&sensitiv", 1),  // collides with the untranslated &Search
        Text(u"5.9.3", u"&Up", u"&Aufwärts", 1),
        Text(u"5.9.4", u"&Around", u"Alles", 1),
        Text(u"5.9.5", u"Down", u"Ab&wärts", 1),
    };
    EXPECT_EQ(Kinds(dialog), (std::vector<K>{K::AcceleratorCollision, K::AcceleratorDropped,
                                             K::AcceleratorAdded}));
    dialog[4].translation = u"&Alles";
    EXPECT_EQ(Kinds(dialog), (std::vector<K>{K::AcceleratorCollision, K::AcceleratorCollision,
                                             K::AcceleratorAdded}));
}

TEST(Checks, KeysTheImageLacks) {
    auto findings = CheckTranslation({Text(u"6.1.1", u"a", u"b")}, {u"LANG", u"6.1.1", u"6.1.9"});
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].kind, CheckKind::UnknownKey);
    EXPECT_EQ(findings[0].key, u"6.1.9");
}

TEST(Checks, PseudoTranslationKeepsWhatMustStay) {
    EXPECT_EQ(PseudoTranslate(u"&Open %s\tCtrl+O", 30), u"[&Opëñ %s~~~]\tCtrl+O");
    EXPECT_EQ(PseudoTranslate(u"Save && exit %1!d!", 0), u"[Šávë && ëxït %1!d!]");
    EXPECT_EQ(PseudoTranslate(u"Free.%nNext", 0), u"[Frëë.%nÑëxt]");  // FormatMessage's break
    // Line breaks at the ends stay outside, as msgfmt wants them at both ends of an entry.
    EXPECT_EQ(PseudoTranslate(u"\nDone\r\n", 0), u"\n[Döñë]\r\n");
    EXPECT_EQ(PseudoTranslate(u"\n\n", 50), u"\n\n");
    // Its own translation passes every check that finds errors.
    for (std::u16string_view source : {u"&File", u"%d of %s: %1\n", u"Name:", u"Open\tCtrl+O"}) {
        std::u16string pseudo = PseudoTranslate(source, 35);
        for (const Finding& f :
             CheckTranslation({Text(u"4.1.1", std::u16string(source), pseudo)}, {}))
            EXPECT_EQ(f.severity, Severity::Warning) << static_cast<int>(f.kind);
    }
    // Its padding follows the ending punctuation, which still counts as the text's ending.
    for (std::u16string_view source :
         {u"Name:", u"Search...", u"Really?", u"Done.\r\n", u"Stop!", u"Date: "})
        for (unsigned expand : {0u, 35u})
            EXPECT_TRUE(
                CheckTranslation(
                    {Text(u"6.1.1", std::u16string(source), PseudoTranslate(source, expand))}, {})
                    .empty());
}

}  // namespace
}  // namespace quelvar
