// The compiled resource file (.res) reader on arbitrary bytes, behind the empty resource that
// makes a file one. Records that read lay out as a tree the walk accepts, and a rebuild, without
// translations or with every text changed, writes a file whose records read again: the same
// records with the same types, names and languages in the same order (a handler may rewrite
// data that it reads in its own way, so the bytes may differ).
#include <string>
#include <vector>

#include "formats/handlers.h"
#include "fuzz_support.h"
#include "resources/res_file.h"
#include "resources/tree.h"

namespace {

using namespace quelvar;

// Rebuilds `bytes` with every text changed, or none, into `out`; false when it does not read.
bool Rebuild(std::span<const uint8_t> bytes, bool changed, ResFile& file,
             std::vector<uint8_t>& out) {
    ResFileError error;
    if (ReadResFile(bytes, file, error) != kSuccess)
        return false;
    std::vector<uint8_t> tree;
    ResourceSection section = ResFileSection(bytes, file, tree);
    if (CheckResourceTree(section) != kSuccess)
        fuzz::Fail("the records of a .res do not lay out as a valid tree");
    ExportTexts(section, ResourceHandlers(), {}, [](const TextItem&) {});
    TextSource source = [changed](std::u16string_view, std::u16string& text) {
        if (changed)
            text = u"\u00FC";
        return changed;
    };
    SectionWriter writer;
    RebuildSection(section, ResourceHandlers(), {}, source, writer);
    if (WriteResFile(bytes, file, writer.bytes, out) != kSuccess)
        fuzz::Fail("a rebuilt tree does not write as a .res");
    return true;
}

bool SameRecords(const ResFile& a, const ResFile& b) {
    if (a.records.size() != b.records.size())
        return false;
    for (size_t i = 0; i < a.records.size(); ++i) {
        const ResRecord& x = a.records[i];
        const ResRecord& y = b.records[i];
        if (x.type.named != y.type.named || x.type.id != y.type.id || x.type.text != y.type.text ||
            x.name.named != y.name.named || x.name.id != y.name.id || x.name.text != y.name.text ||
            x.language != y.language)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> kEmptyResource = {
        0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0,
        0, 0, 0, 0, 0,  0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0};
    std::vector<uint8_t> bytes(data, data + size);
    if (!LooksLikeResFile(bytes))
        bytes.insert(bytes.begin(), kEmptyResource.begin(), kEmptyResource.end());
    for (bool changed : {false, true}) {
        ResFile file, again;
        std::vector<uint8_t> out, unused;
        if (!Rebuild(bytes, changed, file, out))
            return 0;
        if (!Rebuild(out, false, again, unused) || !SameRecords(file, again))
            fuzz::Fail("a rebuilt .res does not read again with the same records");
    }
    return 0;
}
