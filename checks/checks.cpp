#include "checks/checks.h"

#include <algorithm>
#include <map>

#include "base/number.h"
#include "base/utf16.h"
#include "checks/key_names.h"
#include "checks/shortcuts.h"

namespace quelvar {

namespace {

constexpr double kTooLongFactor = 2.5;
constexpr size_t kTooLongFrom = 10;         // sources shorter than this are not compared
constexpr size_t kMaxStringUnits = 0xFFFE;  // a string table entry, its zero aside
constexpr uint32_t kMaxPointSize = 72;

// A menu item's tab starts the shortcut shown at its right.
bool ShowsShortcut(const CheckedText& text) {
    return text.role == TextRole::MenuItem || text.role == TextRole::Popup;
}

// Letters compared without their case: ASCII and Latin-1.
char16_t Fold(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<char16_t>(c - 0x20);
    return c;
}

// printf conversions: %[flags][width][.precision][length]type, and "%%". A '%' that starts
// none of these ("100% done", "Done: 100%") is no placeholder. "%n" is left out: in a
// program's texts it is FormatMessage's line break (see LineBreaks), not printf's count.
std::vector<std::u16string> PrintfPlaceholders(std::u16string_view text) {
    static constexpr std::u16string_view kFlags = u"-+#0";
    static constexpr std::u16string_view kTypes = u"diouxXcCsSeEfFgGaAp";
    std::vector<std::u16string> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%')
            continue;
        size_t j = i + 1;
        if (j < text.size() && text[j] == u'%') {
            out.emplace_back(u"%%");
            i = j;
            continue;
        }
        while (j < text.size() && kFlags.find(text[j]) != std::u16string_view::npos)
            ++j;
        auto number = [&] {
            if (j < text.size() && text[j] == u'*')
                ++j;
            else
                while (j < text.size() && text[j] >= u'0' && text[j] <= u'9')
                    ++j;
        };
        number();
        if (j < text.size() && text[j] == u'.') {
            ++j;
            number();
        }
        for (std::u16string_view length :
             {u"I64", u"I32", u"hh", u"ll", u"h", u"l", u"L", u"I", u"j", u"z", u"t", u"w"}) {
            if (text.substr(j, length.size()) == length) {
                j += length.size();
                break;
            }
        }
        if (j < text.size() && kTypes.find(text[j]) != std::u16string_view::npos) {
            out.emplace_back(text.substr(i, j + 1 - i));
            i = j;
        }
    }
    return out;
}

// FormatMessage inserts: %1 to %99 with an optional !format!, and %0 %r %t %. %%. Its line
// break "%n" is counted with the line breaks instead.
std::vector<std::u16string> FormatMessageInserts(std::u16string_view text) {
    std::vector<std::u16string> out;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'%')
            continue;
        char16_t c = text[i + 1];
        size_t j = i + 2;
        if (c >= u'1' && c <= u'9') {
            if (j < text.size() && text[j] >= u'0' && text[j] <= u'9')
                ++j;
            if (j < text.size() && text[j] == u'!') {
                size_t close = text.find(u'!', j + 1);
                if (close != std::u16string_view::npos)
                    j = close + 1;
            }
        } else if (c == u'n') {
            ++i;
            continue;
        } else if (std::u16string_view(u"0rt.%").find(c) == std::u16string_view::npos) {
            continue;
        }
        out.emplace_back(text.substr(i, j - i));
        i = j - 1;
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::u16string Joined(const std::vector<std::u16string>& items) {
    std::u16string out;
    for (const std::u16string& item : items) {
        if (!out.empty())
            out.push_back(u' ');
        out += item;
    }
    return out;
}

// The text's ending punctuation, full-width forms, the Arabic question mark and full stop, and
// "…" taken as their ASCII equivalents.
// The "!format!" of a FormatMessage insert at the end ("%2!s!") is no punctuation.
std::u16string_view Ending(std::u16string_view text) {
    size_t insert = text.rfind(u'%');
    if (text.ends_with(u"!") && insert != std::u16string_view::npos && insert + 2 < text.size() &&
        text[insert + 1] >= u'1' && text[insert + 1] <= u'9' &&
        text.find(u'!', insert) < text.size() - 1)
        return u"";
    auto trimBlanks = [&text] {
        while (!text.empty() && (text.back() == u' ' || text.back() == 0x3000))
            text.remove_suffix(1);
    };
    trimBlanks();
    // A pseudo-translation's frame and padding ("[Ñámë:~~~]") end after the punctuation.
    if (text.ends_with(u']') && text.find(u'[') != std::u16string_view::npos) {
        text.remove_suffix(1);
        while (!text.empty() && text.back() == u'~')
            text.remove_suffix(1);
        trimBlanks();
    }
    if (text.ends_with(u"...") || text.ends_with(u"\u2026"))
        return u"...";
    if (text.empty())
        return u"";
    switch (text.back()) {
        case u':':
        case 0xFF1A:
            return u":";
        case u'.':
        case 0x3002:
        case 0x06D4:
            return u".";
        case u'?':
        case 0xFF1F:
        case 0x061F:
            return u"?";
        case u'!':
        case 0xFF01:
            return u"!";
        default:
            return u"";
    }
}

size_t Count(std::u16string_view text, char16_t c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// Line breaks: LF units and FormatMessage's "%n" ("%%n" is a percent sign and an n).
size_t LineBreaks(std::u16string_view text) {
    size_t n = Count(text, u'\n');
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'%')
            continue;
        n += text[i + 1] == u'n';
        ++i;
    }
    return n;
}

// True when an '&' that is no "&&" marks a blank, a tab or nothing (the text's end): the item
// then has no access key, or a blank for one ("Speichern&\tStrg+S", "& Neu").
bool AcceleratorOnBlank(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (i + 1 < text.size() && text[i + 1] == u'&') {
            ++i;
            continue;
        }
        if (i + 1 == text.size() || text[i + 1] == u' ' || text[i + 1] == u'\t')
            return true;
    }
    return false;
}

bool HasOuterBlanks(std::u16string_view text) {
    return !text.empty() && (text.front() == u' ' || text.back() == u' ');
}

// A FONT value: "typeface,size" with a typeface and a size from 1 to 72.
bool IsFontValue(std::u16string_view value) {
    size_t comma = value.find(u',');
    if (comma == 0 || comma == std::u16string_view::npos)
        return false;
    std::u16string_view size = value.substr(comma + 1);
    ScannedInteger n = ScanInteger(size, IntegerSyntax{.blanks = true});
    while (n.end < size.size() && size[n.end] == u' ')
        ++n.end;
    return n.digits && !n.overflow && n.end == size.size() && n.magnitude >= 1 &&
           n.magnitude <= kMaxPointSize;
}

Finding Make(CheckKind kind, Severity severity, const CheckedText& text) {
    return Finding{kind, severity, text.key, {}, {}, {}, {0, 0}};
}

void CheckOne(const CheckedText& t, std::vector<Finding>& out) {
    std::u16string_view source = t.source, translation = t.translation;
    if (t.role == TextRole::Font) {
        if (!IsFontValue(translation))
            out.push_back(Make(CheckKind::BadFont, Severity::Error, t));
        return;
    }
    auto sourcePrintf = PrintfPlaceholders(source),
         translationPrintf = PrintfPlaceholders(translation);
    if (sourcePrintf != translationPrintf) {
        Finding f = Make(CheckKind::PrintfPlaceholders, Severity::Error, t);
        f.detail = Joined(sourcePrintf);
        f.otherText = Joined(translationPrintf);
        out.push_back(f);
    } else {
        auto sourceInserts = FormatMessageInserts(source);
        auto translationInserts = FormatMessageInserts(translation);
        if (sourceInserts != translationInserts) {
            Finding f = Make(CheckKind::FormatMessageInserts, Severity::Error, t);
            f.detail = Joined(sourceInserts);
            f.otherText = Joined(translationInserts);
            out.push_back(f);
        }
    }
    // Only a menu item's tab starts a shortcut; elsewhere it is a tab like any other.
    size_t sourceTab = ShowsShortcut(t) ? source.find(u'\t') : std::u16string_view::npos;
    bool tabLost = false;
    if (sourceTab != std::u16string_view::npos) {
        size_t tab = translation.find(u'\t');
        Finding f = Make(CheckKind::ShortcutTabLost, Severity::Error, t);
        f.detail = source.substr(sourceTab + 1);
        if (tab == std::u16string_view::npos) {
            tabLost = true;
            out.push_back(f);
        } else if (CanonicalShortcut(translation.substr(tab + 1)) != CanonicalShortcut(f.detail)) {
            f.kind = CheckKind::ShortcutChanged;
            f.severity = Severity::Warning;
            f.otherText = translation.substr(tab + 1);
            out.push_back(f);
        }
    }
    // Translators reflow long messages on purpose: other line breaks in a string table are
    // a warning; in a menu or dialog, where the layout has room for the source's lines, an
    // error.
    for (char16_t c : {u'\n', u'\r', u'\t'}) {
        auto count = [c](std::u16string_view text) {
            return c == u'\n' ? LineBreaks(text) : Count(text, c);
        };
        if ((c == u'\t' && tabLost) || count(source) == count(translation))
            continue;
        bool reflow = c != u'\t' && t.role == TextRole::String;
        Finding f =
            Make(CheckKind::ControlCharacters, reflow ? Severity::Warning : Severity::Error, t);
        f.detail = c == u'\n' ? u"\\n" : c == u'\r' ? u"\\r" : u"\\t";
        f.counts[0] = count(source);
        f.counts[1] = count(translation);
        out.push_back(f);
    }
    if (HasOuterBlanks(translation) && !HasOuterBlanks(source))
        out.push_back(Make(CheckKind::LeadingOrTrailingBlanks, Severity::Warning, t));
    if (translation.find(u"  ") != std::u16string_view::npos &&
        source.find(u"  ") == std::u16string_view::npos)
        out.push_back(Make(CheckKind::DoubledSpaces, Severity::Warning, t));
    if (Ending(source) != Ending(translation)) {
        Finding f = Make(CheckKind::EndPunctuation, Severity::Warning, t);
        f.detail = Ending(source);
        f.otherText = Ending(translation);
        out.push_back(f);
    }
    if (t.role == TextRole::String && translation.size() > kMaxStringUnits) {
        Finding f = Make(CheckKind::TooLongToStore, Severity::Error, t);
        f.counts[0] = translation.size();
        f.counts[1] = kMaxStringUnits;
        out.push_back(f);
    } else if (source.size() >= kTooLongFrom &&
               static_cast<double>(translation.size()) > kTooLongFactor * source.size()) {
        Finding f = Make(CheckKind::TooLong, Severity::Warning, t);
        f.counts[0] = source.size();
        f.counts[1] = translation.size();
        out.push_back(f);
    }
}

bool TakesAccelerator(const CheckedText& t) {
    return ShowsShortcut(t) || t.role == TextRole::Control;
}

// Accelerators within each group: a letter that two translated texts of one menu level or
// dialog share where their sources did not is an error; one dropped or added a warning.
void CheckAccelerators(const std::vector<CheckedText>& texts, std::vector<Finding>& out) {
    struct Holder {
        const CheckedText* text;
        char16_t sourceLetter;
    };
    std::map<std::pair<std::u16string, uint32_t>, std::map<char16_t, Holder>> groups;
    for (const CheckedText& t : texts) {
        if (!TakesAccelerator(t))
            continue;
        char16_t sourceLetter = Fold(AcceleratorOf(t.source));
        std::u16string_view shown = t.translated ? t.translation : t.source;
        char16_t letter = Fold(AcceleratorOf(shown));
        if (t.translated && AcceleratorOnBlank(t.translation) && !AcceleratorOnBlank(t.source)) {
            out.push_back(Make(CheckKind::AcceleratorOnBlank, Severity::Error, t));
        } else if (t.translated && sourceLetter != 0 && letter == 0) {
            Finding f = Make(CheckKind::AcceleratorDropped, Severity::Warning, t);
            f.detail = std::u16string(1, sourceLetter);
            out.push_back(f);
        } else if (t.translated && sourceLetter == 0 && letter != 0) {
            Finding f = Make(CheckKind::AcceleratorAdded, Severity::Warning, t);
            f.detail = std::u16string(1, letter);
            out.push_back(f);
        }
        if (letter == 0)
            continue;
        auto& letters = groups[{t.resource, t.group}];
        auto [holder, added] = letters.emplace(letter, Holder{&t, sourceLetter});
        if (added)
            continue;
        const CheckedText& other = *holder->second.text;
        bool sourcesCollided = sourceLetter != 0 && sourceLetter == holder->second.sourceLetter;
        if ((t.translated || other.translated) && !sourcesCollided) {
            Finding f = Make(CheckKind::AcceleratorCollision, Severity::Error, t);
            f.detail = std::u16string(1, letter);
            f.other = other.key;
            f.otherText = other.translated ? other.translation : other.source;
            out.push_back(f);
        }
    }
}

}  // namespace

char16_t AcceleratorOf(std::u16string_view text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1] == u' ' || text[i + 1] == u'\t' ? 0 : text[i + 1];
        ++i;
    }
    return 0;
}

void AddCheckedText(std::vector<CheckedText>& texts, const TextItem& item,
                    const TextSource& translations) {
    CheckedText t;
    t.key = item.key;
    t.source = item.text;
    t.place = item.place;
    t.group = item.group;
    // Texts group within one resource of one language.
    t.resource = item.key.substr(0, item.key.rfind(u'.') + 1);
    if (item.resource != nullptr) {
        AppendDecimal(t.resource, item.resource->language);
        t.language = item.resource->language;
        t.typeId = item.resource->typeId;
    }
    t.id = item.id;
    t.role = item.role;
    if (item.role == TextRole::Control) {
        t.controlClass = item.control.ordinal;
        t.controlClassName = item.control.name;
        t.controlStyle = item.control.style;
    }
    t.translated = translations && translations(item.key, t.translation);
    texts.push_back(std::move(t));
}

void CheckResourceTexts(const std::vector<CheckedText>& texts, std::vector<Finding>& perText,
                        std::vector<Finding>& accelerators) {
    for (const CheckedText& t : texts) {
        if (!t.translated)
            continue;
        if (t.madeFor && *t.madeFor != t.source)
            perText.push_back(Finding{CheckKind::SourceTextChanged,
                                      Severity::Warning,
                                      t.key,
                                      *t.madeFor,
                                      {},
                                      t.source,
                                      {0, 0}});
        CheckOne(t, perText);
    }
    CheckAccelerators(texts, accelerators);
}

Finding UnknownKey(std::u16string_view key) {
    return Finding{
        CheckKind::UnknownKey, Severity::Warning, std::u16string(key), {}, {}, {}, {0, 0}};
}

bool IsSettingKey(std::u16string_view key) {
    return key == u"LANG" || key == u"SOURCE_LANG";
}

std::vector<Finding> CheckTranslation(const std::vector<CheckedText>& texts,
                                      const std::vector<std::u16string>& translationKeys) {
    std::vector<Finding> out, accelerators;
    CheckResourceTexts(texts, out, accelerators);
    out.insert(out.end(), accelerators.begin(), accelerators.end());
    CheckShortcutKeys(texts, out);
    std::vector<std::u16string_view> known;
    for (const CheckedText& t : texts)
        known.push_back(t.key);
    std::sort(known.begin(), known.end());
    for (const std::u16string& key : translationKeys)
        if (!IsSettingKey(key) && !std::binary_search(known.begin(), known.end(), key))
            out.push_back(UnknownKey(key));
    return out;
}

std::u16string PseudoTranslate(std::u16string_view text, unsigned expandPercent) {
    static constexpr std::u16string_view kPlain = u"aeiouyncszAEIOUYNCSZ";
    static constexpr std::u16string_view kAccented =
        u"\u00E1\u00EB\u00EF\u00F6\u00FC\u00FD\u00F1\u00E7\u0161\u017E"
        u"\u00C5\u00C9\u00CE\u00D6\u00DC\u00DD\u00D1\u00C7\u0160\u017D";
    size_t tab = text.find(u'\t');
    std::u16string_view body = text.substr(0, tab);
    // Placeholders stay as they are: mark where they lie.
    std::vector<bool> keep(body.size(), false);
    auto mark = [&](const std::vector<std::u16string>& tokens) {
        size_t from = 0;
        for (const std::u16string& token : tokens) {
            size_t at = body.find(token, from);
            if (at == std::u16string_view::npos)
                continue;
            std::fill(keep.begin() + static_cast<ptrdiff_t>(at),
                      keep.begin() + static_cast<ptrdiff_t>(at + token.size()), true);
            from = at + token.size();
        }
    };
    mark(PrintfPlaceholders(body));
    std::vector<std::u16string> inserts = FormatMessageInserts(body);
    for (const std::u16string& insert : inserts)
        mark({insert});
    // FormatMessage's line break "%n" is no insert, but no text to accent either.
    for (size_t at = body.find(u"%n"); at != std::u16string_view::npos;
         at = body.find(u"%n", at + 2))
        if (at == 0 || body[at - 1] != u'%')
            keep[at] = keep[at + 1] = true;
    // Line breaks at either end stay outside the brackets: gettext wants a msgid and its
    // msgstr to begin and to end alike with one.
    auto isBreak = [](char16_t c) { return c == u'\n' || c == u'\r'; };
    size_t first = 0, end = body.size();
    while (first < end && isBreak(body[first]))
        ++first;
    while (end > first && isBreak(body[end - 1]))
        --end;
    if (first == end && first != 0)
        return std::u16string(text);  // nothing but line breaks
    std::u16string out(body.substr(0, first));
    out.push_back(u'[');
    for (size_t i = first; i < end; ++i) {
        char16_t c = body[i];
        size_t plain = kPlain.find(c);
        bool accelerated = i > 0 && body[i - 1] == u'&' && (i < 2 || body[i - 2] != u'&');
        out.push_back(
            keep[i] || accelerated || plain == std::u16string_view::npos ? c : kAccented[plain]);
    }
    size_t padding = (body.size() * expandPercent + 99) / 100;
    out.append(padding, u'~');
    out.push_back(u']');
    out.append(body.substr(end));
    if (tab != std::u16string_view::npos)
        out += text.substr(tab);
    return out;
}

}  // namespace quelvar
