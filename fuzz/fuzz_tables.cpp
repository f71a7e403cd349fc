// The message table and accelerator table handlers on arbitrary resource data, and the
// readers of accelerator values and menu shortcuts on arbitrary text. The first byte chooses:
// 0 a message table, 1 an accelerator table, 2 a text (the rest as UTF-16 units). A table that
// exports texts must take every text changed and export the changed texts from what it wrote;
// a value that reads must read again, to the same key, from the text it is written as.
#include <string>
#include <vector>

#include "base/bytes.h"
#include "checks/shortcuts.h"
#include "formats/accelerator.h"
#include "formats/handlers.h"
#include "fuzz_support.h"

namespace {

using namespace quelvar;

struct Exported {
    std::vector<std::u16string> keys, texts;
};

Exported Export(ResourceHandler handler, std::span<const uint8_t> data) {
    Exported out;
    TextSink sink = [&out](const TextItem& item) {
        out.keys.emplace_back(item.key);
        out.texts.emplace_back(item.text);
    };
    ResourceContext ctx;
    ctx.keyPath = u"1.1.";
    ctx.sink = &sink;
    ctx.describe = true;
    handler(ctx, data);
    return out;
}

void Tables(ResourceHandler handler, bool accelerators, std::span<const uint8_t> data) {
    Exported before = Export(handler, data);
    for (const std::u16string& text : before.texts)
        if (text.size() > 30000)
            return;  // changed, it may not fit its entry's 16-bit length
    std::vector<std::u16string> changed;
    for (size_t i = 0; i < before.texts.size(); ++i) {
        if (!accelerators) {
            changed.push_back(u"\u00FC%1\r\n" + before.texts[i]);
            continue;
        }
        uint16_t flags = 0, key = 0;
        if (!ParseAccelerator(before.texts[i], flags, key))
            fuzz::Fail("an exported accelerator does not read");
        changed.push_back(AcceleratorText(flags ^ kAccelAlt, key));
    }
    size_t next = 0;
    TextSource source = [&](std::u16string_view key, std::u16string& text) {
        // Keys are asked in export order; a repeated key falls back to its first form.
        for (size_t i = next; i < before.keys.size(); ++i)
            if (before.keys[i] == key) {
                text = changed[i];
                next = i + 1;
                return true;
            }
        return false;
    };
    SectionWriter writer;
    ResourceContext ctx;
    ctx.keyPath = u"1.1.";
    ctx.source = &source;
    ctx.writer = &writer;
    handler(ctx, data);
    Exported after = Export(handler, writer.bytes);
    if (after.texts != changed)
        fuzz::Fail("a rebuilt table does not give back its changed texts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    std::span<const uint8_t> rest(data + 1, size - 1);
    switch (data[0]) {
        case 0:
            Tables(ProcessMessageTable, false, rest);
            break;
        case 1:
            Tables(ProcessAcceleratorTable, true, rest);
            break;
        default: {
            std::u16string text;
            for (size_t i = 0; i + 1 < rest.size(); i += 2)
                text.push_back(static_cast<char16_t>(Load16(rest.data() + i)));
            uint16_t flags = 0, key = 0, flags2 = 0, key2 = 0;
            if (ParseAccelerator(text, flags, key) &&
                (!ParseAccelerator(AcceleratorText(flags, key), flags2, key2) || flags2 != flags ||
                 key2 != key))
                fuzz::Fail("an accelerator value does not read back as written");
            // The same text after a menu item's tab, in any language's key names.
            MenuShortcutKey(text);
        }
    }
    return 0;
}
