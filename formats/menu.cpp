// Menu templates (resource type 4), standard and extended. Both are visited as one flat run of
// items in template order up to the end of the data: the nesting of popups and the flag that
// ends a level play no part. Every item carries one text; on import everything but the texts
// is copied unchanged.
//
// Items without a usable id are keyed "P0", "P1", ... by a counter that runs through the whole
// template: in a standard template every popup and every item whose id is 0 or 0xFFFF, in an
// extended one every item whose 32-bit id is exactly 0 or exactly 0xFFFF. Other items are keyed
// by their id (in an extended template, its low 16 bits).
//
// An item whose fixed part or text runs past the end of the data is no item: it yields no line,
// and import copies the rest of the data, from where that item starts, unchanged.
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/utf16.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

// Standard item: mtOption (u16), mtID (u16, absent in popups), text.
constexpr uint16_t kStandardPopup = 0x10;  // MF_POPUP
// Extended item, on a 4-byte boundary: dwType (u32), dwState (u32), menuId (u32 at 8),
// bResInfo (u16 at 12), text from 14; a popup's text is followed by a u32 help id on the next
// 4-byte boundary. The boundaries are those of the addresses, as the system walks the template
// where it lies in the image; the rebuilt section keeps every resource on one.
constexpr uint16_t kExtendedPopup = 0x01;
constexpr size_t kExtendedIdOffset = 8;
constexpr size_t kHelpIdSize = 4;

// The counter of the "P%d" keys of one template.
struct PKeys {
    unsigned next = 0;
    std::u16string text;
};

ItemKey NextPKey(PKeys& keys) {
    keys.text.clear();
    keys.text.push_back(u'P');
    AppendDecimal(keys.text, keys.next++);
    return TextKey(keys.text);
}

// Import: copies the bytes [from, to) of the template unchanged.
void CopyRange(ResourceContext& ctx, const uint8_t* data, size_t from, size_t to) {
    if (to > from)
        CopyUnchanged(ctx, std::span(data + from, to - from));
}

// Export writes the text's line; import writes its translation, or the text itself, at the
// output. The text at `at` is known to end inside the data.
void ProcessItemText(ResourceContext& ctx, ItemKey key, const uint8_t* data, size_t size,
                     size_t at) {
    size_t available = (size - at) / 2;
    if (IsImport(ctx))
        ImportText(ctx, key, data + at, available, -1);
    else
        ExportText(ctx, key, data + at, available, -1);
}

// Import, extended template: brings the output to the next 4-byte boundary (the template starts
// on one). The source's fill bytes are reused as far as they go, zeros after them; a text of
// another length can need more or fewer fill bytes than the source.
void AlignOutput(ResourceContext& ctx, const uint8_t* fill, size_t fillLength) {
    if (IsImport(ctx))
        AlignTo(*ctx.writer, 4, std::span(fill, fillLength));
}

// The levels of a menu as its items come, for the place and group of each text on export: a
// popup opens a level, the item flagged as the last of its level closes it (and the levels
// whose last item was the popup just closed). Both layouts use 0x80 for "last".
constexpr uint16_t kLastItem = 0x80;

struct MenuLevels {
    struct Level {
        std::u16string name;  // the popup's text without its accelerator marks
        uint32_t group;
        bool lastInParent;
    };
    std::vector<Level> open;
    uint32_t nextGroup = 1;  // the top level is group 0
};

// An item's text as the user reads it in a path: "&&" is "&", other "&" marks go, and a
// shortcut after a tab is left out.
std::u16string Readable(std::u16string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size() && text[i] != u'\t'; ++i) {
        if (text[i] != u'&')
            out.push_back(text[i]);
        else if (i + 1 < text.size() && text[i + 1] == u'&')
            out.push_back(text[++i]);
    }
    return out;
}

// Export: sets the place ("File > Open") and group of the item at `textAt`, then moves the
// levels past it.
void EnterItem(ResourceContext& ctx, MenuLevels& levels, const uint8_t* data, TextField field,
               bool popup, bool last) {
    if (!ctx.describe)
        return;
    std::u16string text(field.units, u'\0');
    CopyUnitsLE(data + field.at, field.units, text.data());
    ctx.place.clear();
    for (const MenuLevels::Level& level : levels.open) {
        ctx.place += level.name;
        ctx.place += u" > ";
    }
    std::u16string readable = Readable(text);
    ctx.place += readable;
    ctx.group = levels.open.empty() ? 0 : levels.open.back().group;
    if (popup) {
        levels.open.push_back({readable, levels.nextGroup++, last});
    } else if (last) {
        while (!levels.open.empty()) {
            bool closesParent = levels.open.back().lastInParent;
            levels.open.pop_back();
            if (!closesParent)
                break;
        }
    }
}

// Both headers hold at offset 2 the number of bytes between their first 4 bytes and the first
// item. Copies the data up to the first item and moves the cursor there; for data that ends
// before any item, copies all of it and returns false.
bool StartItems(ResourceContext& ctx, CheckedReader& in) {
    if (in.bytes.size() >= 4) {
        size_t first = 4 + size_t{in.U16(2)};
        if (first < in.bytes.size()) {
            CopyRange(ctx, in.bytes.data(), 0, first);
            in.pos = first;
            return true;
        }
    }
    CopyUnchanged(ctx, in.bytes);
    return false;
}

void ProcessMenu(ResourceContext& ctx, CheckedReader& in) {
    // Header: versionNumber, offset.
    if (!StartItems(ctx, in))
        return;
    const uint8_t* data = in.bytes.data();
    size_t size = in.bytes.size();

    PKeys keys;
    MenuLevels levels;
    size_t at = in.pos;
    while (!in.AtEnd()) {
        uint16_t option = in.Read16();
        bool popup = (option & kStandardPopup) != 0;
        uint16_t id = popup ? 0 : in.Read16();
        size_t textAt = in.pos;
        TextField text = in.Text();
        if (!in.ok)
            break;
        ItemKey key = popup || id == 0 || id == 0xFFFF ? NextPKey(keys) : NumberKey(id);
        ctx.role = popup ? TextRole::Popup : TextRole::MenuItem;
        EnterItem(ctx, levels, data, text, popup, (option & kLastItem) != 0);
        CopyRange(ctx, data, at, textAt);
        ProcessItemText(ctx, key, data, size, textAt);
        at = in.pos;
    }
    // An item cut short by the end of the data.
    CopyRange(ctx, data, at, size);
}

void ProcessMenuEx(ResourceContext& ctx, CheckedReader& in) {
    // Header: wVersion, wOffset, dwHelpId.
    if (!StartItems(ctx, in))
        return;
    const uint8_t* data = in.bytes.data();
    size_t size = in.bytes.size();

    PKeys keys;
    MenuLevels levels;
    size_t at = in.pos;
    while (!in.AtEnd()) {
        in.Skip(kExtendedIdOffset);  // dwType, dwState
        uint32_t id = in.Read32();
        uint16_t flags = in.Read16();
        bool popup = (flags & kExtendedPopup) != 0;
        size_t textAt = in.pos;
        TextField text = in.Text();
        size_t textEnd = in.pos;
        size_t helpAt = 0;
        if (popup) {
            in.Align4();
            helpAt = in.pos;
            in.Skip(kHelpIdSize);
        }
        if (!in.ok)
            break;
        size_t itemEnd = in.pos;
        ItemKey key = id == 0 || id == 0xFFFF ? NextPKey(keys) : NumberKey(id & 0xFFFF);

        ctx.role = popup ? TextRole::Popup : TextRole::MenuItem;
        EnterItem(ctx, levels, data, text, popup, (flags & kLastItem) != 0);
        CopyRange(ctx, data, at, textAt);
        ProcessItemText(ctx, key, data, size, textAt);
        if (popup) {
            AlignOutput(ctx, data + textEnd, helpAt - textEnd);
            CopyRange(ctx, data, helpAt, itemEnd);
        }
        // The next item starts on the next 4-byte boundary. Data that ends before that
        // boundary ends with the last item: its remaining bytes are copied as they are.
        if (!in.Align4()) {
            CopyRange(ctx, data, itemEnd, size);
            at = size;
            break;
        }
        AlignOutput(ctx, data + itemEnd, in.pos - itemEnd);
        at = in.pos;
    }
    // An item cut short by the end of the data.
    CopyRange(ctx, data, at, size);
}

}  // namespace

void ProcessMenuResource(ResourceContext& ctx, std::span<const uint8_t> data) {
    CheckedReader in = TemplateCursor(ctx, data);
    if (data.size() < 2)
        CopyUnchanged(ctx, data);
    else if (in.U16(0) == 0)
        ProcessMenu(ctx, in);
    else
        ProcessMenuEx(ctx, in);
}

}  // namespace quelvar
