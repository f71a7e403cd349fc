// The PO reader on arbitrary bytes, and the writer against it: whatever the reader accepts,
// written again entry by entry, reads back to the same entries.
#include <string>

#include "base/utf16.h"
#include "exchange/po.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    PoCatalog catalog;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (ParsePo(bytes, catalog).problem != PoProblem::None)
        return 0;
    std::string again;
    if (catalog.hasHeader) {
        AppendPoString(again, "msgid", "");
        AppendPoString(again, "msgstr", catalog.header);
    }
    for (const PoEntry& e : catalog.entries) {
        again += e.fuzzy ? "\n#, fuzzy\n" : "\n";
        if (e.hasContext)
            AppendPoString(again, "msgctxt", ToUtf8(e.context));
        AppendPoString(again, "msgid", ToUtf8(e.id));
        AppendPoString(again, "msgstr", ToUtf8(e.str));
    }
    PoCatalog back;
    if (ParsePo(again, back).problem != PoProblem::None)
        fuzz::Fail("what the writer wrote does not read");
    if (back.header != catalog.header || back.entries.size() != catalog.entries.size())
        fuzz::Fail("the header or the number of entries changed");
    for (size_t i = 0; i < back.entries.size(); ++i) {
        const PoEntry& a = catalog.entries[i];
        const PoEntry& b = back.entries[i];
        if (a.context != b.context || a.id != b.id || a.str != b.str || a.fuzzy != b.fuzzy ||
            a.hasContext != b.hasContext)
            fuzz::Fail("an entry written again reads back differently");
    }
    return 0;
}
