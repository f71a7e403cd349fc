#include "checks/shortcuts.h"

#include <map>
#include <string>

#include "base/utf16.h"
#include "checks/key_names.h"
#include "formats/accelerator.h"

namespace quelvar {

namespace {

constexpr uint16_t kModifiers = kAccelControl | kAccelShift | kAccelAlt;

bool IsAccelerator(const CheckedText& t) {
    return t.id != 0 && t.role == TextRole::Accelerator;
}

bool IsMenuItem(const CheckedText& t) {
    return t.id != 0 && (t.role == TextRole::MenuItem || t.role == TextRole::Popup);
}

// What the image will hold after import: the translation, or the source it leaves untouched.
std::u16string_view Shown(const CheckedText& t) {
    return t.translated ? t.translation : t.source;
}

// The shortcut after a menu item's tab; empty for none.
std::u16string_view ShortcutPart(std::u16string_view text) {
    size_t tab = text.find(u'\t');
    return tab == std::u16string_view::npos ? std::u16string_view() : text.substr(tab + 1);
}

// An accelerator as import will write it: a value that does not parse keeps the source's key.
std::optional<ShortcutKey> ImportedKey(const CheckedText& t) {
    std::optional<ShortcutKey> key = t.translated ? AcceleratorKey(t.translation) : std::nullopt;
    return key ? key : AcceleratorKey(t.source);
}

std::u16string_view ImportedValue(const CheckedText& t) {
    return t.translated && AcceleratorKey(t.translation) ? t.translation : t.source;
}

// Language-neutral resources (primary language 0) serve every language.
bool IsNeutral(uint32_t language) {
    return (language & 0x3FF) == 0;
}

}  // namespace

std::optional<ShortcutKey> AcceleratorKey(std::u16string_view value) {
    uint16_t flags = 0, code = 0;
    if (!ParseAccelerator(value, flags, code))
        return std::nullopt;
    ShortcutKey key{static_cast<uint16_t>(flags & kModifiers), code, false};
    if (flags & kAccelVirtKey)
        return key;
    // A character key: a control character is typed with Ctrl, a letter in either case by
    // its key, another character by the key of that name where there is one ("'+'").
    if (code >= 1 && code <= 31) {
        key.modifiers |= kAccelControl;
        key.code = static_cast<uint16_t>(code + 0x40);
    } else if (code >= u'a' && code <= u'z') {
        key.code = static_cast<uint16_t>(code - u'a' + u'A');
    } else if ((code < u'A' || code > u'Z') && (code < u'0' || code > u'9')) {
        uint16_t nameFlags = 0, nameCode = 0;
        if (ParseAccelerator(std::u16string(1, static_cast<char16_t>(code)), nameFlags, nameCode) &&
            (nameFlags & kAccelVirtKey))
            key.code = nameCode;
        else
            key.character = true;
    }
    return key;
}

std::optional<ShortcutKey> MenuShortcutKey(std::u16string_view text) {
    // A quoted character is an accelerator table's spelling, not a menu's.
    text = TrimSpaces(text);
    if (text.empty() || text.find(u'\'') != std::u16string_view::npos)
        return std::nullopt;
    if (std::optional<ShortcutKey> key = AcceleratorKey(text))
        return key;  // English names, "Ctrl+Num+" among them
    // Else the modifiers, then the key, each in its English name, blanks around them dropped
    // ("Strg + Umschalt + Entf", "Strg++", "Strg+Num+").
    std::u16string english;
    for (size_t plus = text.find(u'+', 1); plus != std::u16string_view::npos;
         plus = text.find(u'+', 1)) {
        std::u16string modifier = CanonicalShortcut(TrimSpaces(text.substr(0, plus)));
        std::u16string_view after = TrimSpaces(text.substr(plus + 1));
        if (after.empty() || (modifier != u"Ctrl" && modifier != u"CONTROL" &&
                              modifier != u"Shift" && modifier != u"Alt"))
            break;
        english += modifier + u"+";
        text = after;
    }
    english += text.size() > 1 && text.find(u'+') != std::u16string_view::npos
                   ? std::u16string(text)
                   : CanonicalShortcut(text);
    return AcceleratorKey(english);
}

void CheckShortcutKeys(const std::vector<CheckedText>& texts, std::vector<Finding>& out) {
    // The accelerator entries of each command id, in the order of the texts.
    std::map<uint32_t, std::vector<const CheckedText*>> accelerators;
    for (const CheckedText& t : texts)
        if (IsAccelerator(t))
            accelerators[t.id].push_back(&t);
    if (accelerators.empty())
        return;
    std::vector<const CheckedText*> candidates;
    for (const CheckedText& item : texts) {
        if (!IsMenuItem(item))
            continue;
        std::u16string_view shortcut = ShortcutPart(Shown(item));
        std::optional<ShortcutKey> shown = MenuShortcutKey(shortcut);
        auto entries = accelerators.find(item.id);
        if (!shown || entries == accelerators.end())
            continue;
        // The entries of the item's language; where it has none, the neutral ones (or, for a
        // neutral menu, every one).
        candidates.clear();
        for (const CheckedText* a : entries->second)
            if (a->language == item.language)
                candidates.push_back(a);
        if (candidates.empty())
            for (const CheckedText* a : entries->second)
                if (IsNeutral(a->language) || IsNeutral(item.language))
                    candidates.push_back(a);
        const CheckedText* first = nullptr;  // the first entry whose key reads
        const CheckedText* changed = nullptr;
        std::u16string values;
        bool matched = false;
        for (const CheckedText* a : candidates) {
            std::optional<ShortcutKey> key = ImportedKey(*a);
            if (!key)
                continue;
            matched = matched || *key == *shown;
            if (first == nullptr)
                first = a;
            if (changed == nullptr && key != AcceleratorKey(a->source))
                changed = a;
            if (!values.empty())
                values += u", ";
            values += ImportedValue(*a);
        }
        if (matched || first == nullptr)
            continue;
        bool menuChanged = item.translated && MenuShortcutKey(ShortcutPart(item.source)) != shown;
        Finding f{CheckKind::ShortcutKeyMismatch,
                  Severity::Error,
                  item.key,
                  std::u16string(shortcut),
                  first->key,
                  values,
                  {0, 0}};
        if (!menuChanged && changed != nullptr) {
            f.key = changed->key;
            f.detail = ImportedValue(*changed);
            f.other = item.key;
            f.otherText = shortcut;
        } else if (!menuChanged) {
            // No key changed: the image's own texts, as the image has them.
            f.kind = CheckKind::ShortcutKeyInSource;
            f.severity = Severity::Warning;
            f.detail = ShortcutPart(item.source);
            f.otherText.clear();
            for (const CheckedText* a : candidates) {
                if (!AcceleratorKey(a->source))
                    continue;
                if (!f.otherText.empty())
                    f.otherText += u", ";
                f.otherText += a->source;
            }
        }
        out.push_back(std::move(f));
    }
}

}  // namespace quelvar
