// What a resource handler is given and may do. A handler knows one resource type's layout:
// on export it reports each text with its item key to the text sink; on import it writes the
// rebuilt resource through the section writer, each text replaced by what the text source
// gives for its key. Handlers know nothing of any text file format, of the tree around the
// resource or of where the new section's bytes go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/notice.h"
#include "resources/section_writer.h"

namespace quelvar {

// The key of one text inside a resource: a numeric id or a text key ("HEAD", "P3").
struct ItemKey {
    uint32_t number = 0;
    std::u16string_view text;  // empty for a numeric key
};

inline ItemKey NumberKey(uint32_t id) {
    return ItemKey{id, {}};
}
inline ItemKey TextKey(std::u16string_view text) {
    return ItemKey{0, text};
}
void AppendItemKey(std::u16string& out, ItemKey key);

// Where a resource lies in the tree, named as keys name it.
struct ResourceInfo {
    std::u16string_view type;  // the type's decimal id ("6") or its name
    std::u16string_view name;  // the same of the resource's name
    uint32_t language = 0;     // the language entry's id; kNamedLanguage when it is a name
    uint32_t typeId = 0;       // the numeric type id; 0 for a type named by a text
    // The type as resource scripts name it ("MENU"), from its handler's row; empty for none.
    std::string_view scriptName;
};

// What a text is in its resource. The checks and the exchange formats go by it, never by keys.
enum class TextRole : uint8_t {
    Other,          // a text of a type that says no more
    Caption,        // a dialog's caption
    Font,           // a dialog's font, "typeface,point size": no text to translate
    Control,        // a dialog control's title
    MenuItem,       // a menu command
    Popup,          // a menu item that opens a submenu
    String,         // a string table entry (at most 65535 units)
    VersionString,  // a value of the version information
    Message,        // a message table entry
    Accelerator,    // an accelerator's key and modifiers: no text to translate
};

// A dialog control's window class: a predefined one by its ordinal (0x80 button, 0x81 edit,
// 0x82 static, 0x83 list box, 0x84 scroll bar, 0x85 combo box) or a class name.
struct ControlClass {
    uint16_t ordinal = 0;      // 0 when named
    std::u16string_view name;  // empty for an ordinal
    uint32_t style = 0;        // the control's window style
};
constexpr uint32_t kNamedLanguage = 0xFFFFFFFF;

// One text found on export. The views are valid during the sink's call only.
struct TextItem {
    std::u16string_view key;    // the full key: key path and item key, "6.32.500"
    std::u16string_view text;   // the source text, never empty
    std::u16string_view place;  // where the text lives, for a translator ("File > Open")
    // Texts that one user sees together (one menu level, one dialog) share a group number
    // within their resource.
    uint32_t group = 0;
    const ResourceInfo* resource = nullptr;
    TextRole role = TextRole::Other;
    ControlClass control = {};  // a Control's class and style, when the export describes
    // The item key's number: a menu item's or an accelerator's command id; 0 for a text key.
    uint32_t id = 0;
};

// Export: receives every text in the order of the tree and of the resources' layouts.
using TextSink = std::function<void(const TextItem& item)>;
// Import: sets `text` to the replacement for a full key and returns true, or returns false
// when the text stays as it is.
using TextSource = std::function<bool(std::u16string_view key, std::u16string& text)>;

// Whether import gives translated dialogs the right-to-left layout (the extended style
// WS_EX_LAYOUTRTL, which mirrors them).
enum class RightToLeft {
    ByLanguage,  // when they receive a new language id that is written right to left
    Always,      // every translated dialog
    Never,       // the extended styles stay as they are
};

// True for a language id whose script runs right to left: Arabic, Hebrew, Persian, Urdu and
// the others by primary language, and the Arabic-script forms of languages that are also
// written in other scripts (Punjabi, Sindhi, Kashmiri, Tamazight).
bool IsRightToLeftLanguage(uint32_t language);

// How often each numeric item key has come up in one resource: an open-addressing table
// (linear probing, at most half full) that keeps its memory from one resource to the next.
struct OccurrenceCounts {
    struct Slot {
        uint32_t key = 0;
        uint32_t count = 0;  // 0 for a free slot
    };
    std::vector<Slot> slots;
    std::vector<uint32_t> used;  // the slots taken, so that clearing touches only them
};

// Counts one more occurrence of `key` and returns how many there have been.
uint32_t CountOccurrence(OccurrenceCounts& counts, uint32_t key);
// Forgets every count.
void ClearOccurrences(OccurrenceCounts& counts);

// One resource handed to its handler.
struct ResourceContext {
    uint32_t nameId = 0;             // the resource's numeric name; 0 for a name given as a text
    uint32_t dataRva = 0;            // the address of its data in the source image
    std::u16string_view keyPath;     // "6.32.": what every full key of this resource starts with
    const TextSink* sink = nullptr;  // export
    const TextSource* source = nullptr;  // import; null reads as "no replacements"
    SectionWriter* writer = nullptr;     // import: null on export
    const NoticeSink* notify = nullptr;  // null or empty: notices are dropped
    ResourceInfo resource;
    // Import: the language id the rebuilt resource is stored under (its own, or the language
    // the walk gives translated resources); kNamedLanguage for a language named by a text.
    uint32_t targetLanguage = kNamedLanguage;
    RightToLeft rightToLeft = RightToLeft::ByLanguage;  // import
    // Export: the place and group that the next texts are reported with (see TextItem). Only
    // worked out when `describe` is set: a sink that has no use for them spares the cost.
    bool describe = false;
    std::u16string place;
    uint32_t group = 0;
    // Export: what the next texts are (see TextItem), set by the handler.
    TextRole role = TextRole::Other;
    ControlClass control;
    std::u16string key, text;  // scratch space, kept to spare allocations
    // How often each numeric item key has come up in the resource so far; the walk clears it
    // for every resource. Text keys ("HEAD", "P3") are unique by construction.
    OccurrenceCounts occurrences;
};

inline bool IsImport(const ResourceContext& ctx) {
    return ctx.writer != nullptr;
}

using ResourceHandler = void (*)(ResourceContext& ctx, std::span<const uint8_t> data);

// A row of the handler table: the numeric resource type id, its handler and the type's name
// in resource scripts (what PO references name resources by).
struct HandlerEntry {
    uint32_t typeId;
    ResourceHandler handler;
    std::string_view scriptName;
};

// Numeric item keys can repeat within one resource (two menu items with one id). The first
// occurrence of a key in the resource is keyed as it is, the n-th (n > 1) as "<key>#<n>", so
// every text has a key of its own: "4.102.40001", "4.102.40001#2". Import looks "<key>#<n>"
// up first and then "<key>", so that files written without the numbers apply as they did.

// Export: reports a text under `key`. A text with no unit is not reported, unless its key is
// a repeated one ("<key>#<n>"): its empty line keeps import from giving it the text of the
// line of "<key>".
void ExportText(ResourceContext& ctx, ItemKey key, std::u16string_view text);
// Export: reports the text held as little-endian units at `text`: at most `available` units,
// ending before the first zero unit, or after `count` units when `count` is not negative.
void ExportText(ResourceContext& ctx, ItemKey key, const uint8_t* text, size_t available,
                int32_t count);
// Import: the replacement for the text under `key`, in `ctx.text`; false when there is none.
// Import writes only keys that export writes: a text that export skips (`sourceEmpty`, and not
// a repeated key) is never looked up, so that a line for a separator or an empty control takes
// no effect.
bool LookUpText(ResourceContext& ctx, ItemKey key, bool sourceEmpty);
// Import: writes the replacement of the text under `key` followed by a zero unit or, without
// one (or for an empty source text, see LookUpText), the source text: up to and including its zero
// (count -1; a zero is added when the data ends first) or exactly `count` units. Returns the number
// of units written.
size_t ImportText(ResourceContext& ctx, ItemKey key, const uint8_t* text, size_t available,
                  int32_t count);
// Import: copies bytes of the source unchanged. Does nothing on export.
void CopyUnchanged(ResourceContext& ctx, std::span<const uint8_t> bytes);
// Passes a notice on to the walk's receiver, when it has one.
void Notify(const ResourceContext& ctx, const Notice& notice);
// A cursor over the resource's data whose Align4 counts in the source image's addresses, as
// the system does where it walks a template in the mapped image (menus, dialogs, version
// information).
inline CheckedReader TemplateCursor(const ResourceContext& ctx, std::span<const uint8_t> data) {
    return CheckedReader{data, ctx.dataRva};
}

}  // namespace quelvar
