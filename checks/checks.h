// Checks of a translation against the program's own texts: the mistakes a tool can see that
// break a program or its look (an accelerator letter used twice in one menu level or dialog,
// a printf or FormatMessage placeholder lost or reordered, a menu shortcut's tab dropped, line
// breaks that differ, a text far too long). Findings are values; the front ends word them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/handler.h"

namespace quelvar {

enum class Severity { Warning, Error };

enum class CheckKind {
    AcceleratorCollision,  // `detail` the letter, `other` the key and `otherText` the text
    AcceleratorDropped,    // `detail` the source's letter
    AcceleratorAdded,      // `detail` the translation's letter
    AcceleratorOnBlank,    // an '&' before a blank, a tab or the end: no usable access key
    PrintfPlaceholders,    // `detail` the source's sequence, `otherText` the translation's
    FormatMessageInserts,  // the same for FormatMessage inserts (compared as sets)
    ShortcutTabLost,       // `detail` the source's shortcut
    // `detail` the source's shortcut, `otherText` the translation's; key names of the table
    // in key_names.h ("Strg+N" for "Ctrl+N") are no change.
    ShortcutChanged,
    // `detail` the character ("\n", with FormatMessage's "%n", "\r", "\t"), `counts` source and
    // translation; a warning for line breaks in a string table, else an error.
    ControlCharacters,
    LeadingOrTrailingBlanks,
    DoubledSpaces,
    EndPunctuation,     // `detail` the source's ending, `otherText` the translation's
    TooLong,            // `counts` source and translation lengths
    TooLongToStore,     // `counts` translation length and the most the resource stores
    BadFont,            // the FONT value is not "typeface,size" with a size from 1 to 72
    UnknownKey,         // a key of the translation that the image does not have
    SourceTextChanged,  // `detail` the text the translation was made for, `otherText` the image's
    UnendedLastLine,    // the language file's last line has no line break and is not read
    // The layout of dialogs (check --layout). `detail` names the font measured with, `counts`
    // what the text needs and what the control gives (pixels, or lines), `ofSource` when the
    // source is so already (then a warning: not the translator's doing).
    LayoutClipped,
    LayoutTooManyLines,
    LayoutOutside,      // the control reaches beyond the dialog: counts its extent, the dialog's
    LayoutTextOutside,  // its text would run past the dialog's edge from where it starts
    LayoutCrowded,      // within 10 % of the control's width: a warning
    LayoutNotMeasured,  // `detail` why: a template that does not read, a font not found
    // A menu item's shortcut and the accelerators of its command name different keys, as the
    // translation will be imported: `detail` the text of the finding's key (the shortcut after
    // the tab, or the accelerator's value), `other` the other side's key and `otherText` its
    // text. An error where the translation made them differ; a warning, keyed by the menu
    // item, where the image's own texts already differ (ShortcutKeyInSource).
    ShortcutKeyMismatch,
    ShortcutKeyInSource,
};

struct Finding {
    CheckKind kind;
    Severity severity;
    std::u16string key;
    std::u16string detail;
    std::u16string other;
    std::u16string otherText;
    uint64_t counts[2] = {0, 0};
    bool ofSource = false;  // layout findings: the source has it as well
};

// One text of the image as export reports it, with its translation when the translation has
// one.
struct CheckedText {
    std::u16string key, source, place;
    uint32_t group = 0;
    // Its resource: the key path ("4.102.") and, from an export, the language id after it.
    // Texts group within one resource.
    std::u16string resource;
    uint32_t language = 0;  // the resource's language id
    uint32_t id = 0;        // the item's number: a menu item's or an accelerator's command id
    uint32_t typeId = 0;    // the resource's numeric type, 0 for a named one
    TextRole role = TextRole::Other;
    uint16_t controlClass = 0;  // a Control's class: its ordinal, or 0 with `controlClassName`
    std::u16string controlClassName;
    uint32_t controlStyle = 0;
    bool translated = false;
    std::u16string translation;
    // The source text the translation was made for, when the file says it (a PO msgid).
    std::optional<std::u16string> madeFor;
};

// Collects the image's texts (use as the sink of an export walk that describes places) and
// looks up each one's translation.
void AddCheckedText(std::vector<CheckedText>& texts, const TextItem& item,
                    const TextSource& translations);

// The findings on the translated texts of one resource (or of several whose texts are not
// interleaved): each text's own into `perText`, those on the accelerator letters of its menu
// levels and dialogs into `accelerators`.
void CheckResourceTexts(const std::vector<CheckedText>& texts, std::vector<Finding>& perText,
                        std::vector<Finding>& accelerators);
// A key of the translation that the image lacks.
Finding UnknownKey(std::u16string_view key);
// True for the keys of a language file that are no texts ("LANG", "SOURCE_LANG").
bool IsSettingKey(std::u16string_view key);

// Every finding on the translated texts, in the order of the texts. `translationKeys` are the
// keys the translation file holds: those the image lacks are reported.
std::vector<Finding> CheckTranslation(const std::vector<CheckedText>& texts,
                                      const std::vector<std::u16string>& translationKeys);

// The letter marked by '&' ("&&" is a literal ampersand), or 0 for none (also for an '&'
// before a blank or a tab).
char16_t AcceleratorOf(std::u16string_view text);

// A pseudo-translation of a text: accented look-alikes, framed by brackets and padded by
// `expandPercent`, keeping placeholders, escapes, the shortcut after a tab and accelerators.
std::u16string PseudoTranslate(std::u16string_view text, unsigned expandPercent);

}  // namespace quelvar
