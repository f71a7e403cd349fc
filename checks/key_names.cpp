#include "checks/key_names.h"

namespace quelvar {

namespace {

// The English names themselves are rows too, so that their case is one.
constexpr KeyName kKeyNames[] = {
    {u"Ctrl", u"Ctrl", "English"},
    {u"Shift", u"Shift", "English"},
    {u"Alt", u"Alt", "English"},
    {u"Del", u"Del", "English"},
    {u"Delete", u"Del", "English"},
    {u"Ins", u"Ins", "English"},
    {u"Insert", u"Ins", "English"},
    {u"Home", u"Home", "English"},
    {u"End", u"End", "English"},
    {u"PgUp", u"PgUp", "English"},
    {u"PgDn", u"PgDn", "English"},
    {u"Enter", u"Enter", "English"},
    {u"Esc", u"Esc", "English"},
    {u"Space", u"Space", "English"},
    {u"Backspace", u"Backspace", "English"},
    {u"Tab", u"Tab", "English"},
    {u"Strg", u"Ctrl", "German"},
    {u"Umschalt", u"Shift", "German"},
    {u"Umschalttaste", u"Shift", "German"},
    {u"Entf", u"Del", "German"},
    {u"Einfg", u"Ins", "German"},
    {u"Pos1", u"Home", "German"},
    {u"Ende", u"End", "German"},
    {u"Bild auf", u"PgUp", "German"},
    {u"Bild ab", u"PgDn", "German"},
    {u"Eingabe", u"Enter", "German"},
    {u"Leertaste", u"Space", "German"},
    {u"R\u00FCcktaste", u"Backspace", "German"},
    {u"Maj", u"Shift", "French"},
    {u"Suppr", u"Del", "French"},
    {u"Inser", u"Ins", "French"},
    {u"Origine", u"Home", "French"},
    {u"Fin", u"End", "French, Spanish"},
    {u"Entr\u00E9e", u"Enter", "French"},
    {u"\u00C9chap", u"Esc", "French"},
    {u"Espace", u"Space", "French"},
    {u"May\u00FAs", u"Shift", "Spanish"},
    {u"Supr", u"Del", "Spanish, Catalan"},
    {u"Inicio", u"Home", "Spanish"},
    {u"Re P\u00E1g", u"PgUp", "Spanish"},
    {u"Av P\u00E1g", u"PgDn", "Spanish"},
    {u"Entrar", u"Enter", "Spanish"},
    {u"Espacio", u"Space", "Spanish"},
    {u"Retroceso", u"Backspace", "Spanish"},
    {u"Maiusc", u"Shift", "Italian"},
    {u"Canc", u"Del", "Italian"},
    {u"Fine", u"End", "Italian"},
    {u"Invio", u"Enter", "Italian"},
    {u"Pag su", u"PgUp", "Italian"},
    {u"Pag gi\u00F9", u"PgDn", "Italian"},
    {u"Skift", u"Shift", "Danish, Norwegian, Swedish"},
    {u"Vaihto", u"Shift", "Finnish"},
    // Names that Wine's own translations of its programs show.
    {u"Eingabetaste", u"Enter", "German"},
    {u"Intro", u"Enter", "Spanish, Asturian"},
    {u"Retorn", u"Enter", "Catalan"},
    {u"Unesi", u"Enter", "Serbian, Croatian"},
    {u"\u0627\u062F\u062E\u0644", u"Enter", "Arabic"},
    {u"Vald", u"Ctrl", "Lithuanian"},
    {u"Lyg2", u"Shift", "Lithuanian"},
    {u"\u012Evesti", u"Enter", "Lithuanian"},
    {u"\u0160al", u"Del", "Lithuanian"},
    {u"Stir", u"Ctrl", "Esperanto"},
    {u"Enen", u"Enter", "Esperanto"},
    {u"For", u"Del", "Esperanto"},
};

char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Letters compared without their case: ASCII and Latin-1.
char16_t FoldLetter(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldLetter(a[i]) != FoldLetter(b[i]))
            return false;
    return true;
}

void AppendKey(std::u16string& out, std::u16string_view key) {
    for (const KeyName& row : kKeyNames) {
        if (SameName(row.localised, key)) {
            out += row.english;
            return;
        }
    }
    for (char16_t c : key)
        out.push_back(FoldAscii(c));
}

}  // namespace

std::span<const KeyName> LocalisedKeyNames() {
    return kKeyNames;
}

std::u16string CanonicalShortcut(std::u16string_view shortcut) {
    std::u16string out;
    size_t start = 0;
    while (start <= shortcut.size()) {
        size_t plus = shortcut.find(u'+', start);
        // "Ctrl++": the key after the last "+" is "+" itself.
        if (plus == start && plus != std::u16string_view::npos)
            plus = shortcut.find(u'+', start + 1);
        std::u16string_view key = shortcut.substr(start, plus - start);
        if (start > 0)
            out.push_back(u'+');
        AppendKey(out, key);
        if (plus == std::u16string_view::npos)
            break;
        start = plus + 1;
    }
    return out;
}

}  // namespace quelvar
