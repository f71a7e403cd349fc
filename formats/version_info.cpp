#include "formats/version_info.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/bytes.h"
#include "base/utf16.h"

namespace quelvar {

namespace {

constexpr size_t kBlockHeader = 6;  // wLength, wValueLength, wType
constexpr size_t kMaxBlockLength = 0xFFFF;
constexpr size_t kTableNameLength = 8;  // "040904B0": language, code page

enum class Kind { Root, StringFileInfo, StringTable, String, VarFileInfo, Var, Other };

struct Block {
    size_t start = 0;
    size_t end = 0;            // start + wLength
    size_t keyEnd = 0;         // just past the key's zero
    size_t valueStart = 0;     // after the key and its padding
    size_t valueEnd = 0;       // wValueLength units (text) or bytes (binary) later
    size_t childrenStart = 0;  // the value's end brought to a boundary, at most `end`
    uint16_t valueLength = 0;
    std::u16string key;
};

struct Node {
    Block block;
    Kind kind = Kind::Other;
    std::vector<Node> children;
    std::u16string itemKey;  // a String's item key: its name, or "<name>#<n>"
};

// Reads the block at the cursor, which must end inside the cursor's span.
bool ReadBlock(CheckedReader in, Block& block) {
    block.start = in.pos;
    size_t length = in.Read16();
    block.valueLength = in.Read16();
    bool text = in.Read16() != 0;  // as the system's reader takes wType
    if (!in.ok || length < kBlockHeader || !in.Has(block.start, length))
        return false;
    block.end = block.start + length;
    in = in.Within(block.end);
    TextField key = in.Text();
    if (!in.ok)
        return false;  // no terminating zero inside the block
    UnitsOf(in.bytes, key, block.key);
    block.keyEnd = in.pos;
    // The value and the children each start on a boundary, or at the block's end when that
    // comes first.
    block.valueStart = in.Align4() ? in.pos : block.end;
    block.valueEnd = block.valueStart + size_t{block.valueLength} * (text ? 2 : 1);
    block.childrenStart =
        in.Skip(block.valueEnd - block.valueStart) && in.Align4() ? in.pos : block.end;
    return true;
}

Kind ChildKind(Kind parent, std::u16string_view key) {
    switch (parent) {
        case Kind::Root:
            return key == u"StringFileInfo" ? Kind::StringFileInfo
                   : key == u"VarFileInfo"  ? Kind::VarFileInfo
                                            : Kind::Other;
        case Kind::StringFileInfo:
            return Kind::StringTable;
        case Kind::StringTable:
            return Kind::String;
        case Kind::VarFileInfo:
            return Kind::Var;
        default:
            return Kind::Other;
    }
}

// Reads the children of a node whose kind has known children, with `data` a cursor over the
// whole resource. Strict: every child must read and the children must fill their parent up
// to its last padding, values must fit their blocks; otherwise false. Lenient: the first
// child that does not read ends the parent.
bool ReadChildren(const CheckedReader& data, Node& node, bool strict) {
    if (node.kind == Kind::String || node.kind == Kind::Var || node.kind == Kind::Other)
        return true;  // leaves: read or copied whole
    const Block& block = node.block;
    if (strict && block.valueEnd > block.end)
        return false;
    CheckedReader in = data.Within(block.end);
    in.pos = block.childrenStart;
    while (in.Align4() && !in.AtEnd()) {
        Node child;
        if (!ReadBlock(in, child.block))
            return !strict;
        child.kind = ChildKind(node.kind, child.block.key);
        if (!ReadChildren(data, child, strict))
            return false;
        in.pos = child.block.end;
        node.children.push_back(std::move(child));
    }
    return true;
}

bool ReadRoot(const CheckedReader& in, Node& root, bool strict) {
    root.kind = Kind::Root;
    return ReadBlock(in, root.block) && root.block.key == u"VS_VERSION_INFO" &&
           ReadChildren(in, root, strict);
}

// Calls `each` for every String of every StringTable.
template <typename Each>
void ForStrings(Node& root, Each each) {
    for (Node& info : root.children)
        if (info.kind == Kind::StringFileInfo)
            for (Node& table : info.children)
                for (Node& string : table.children)
                    each(table, string);
}

// A String's value: its units up to the first zero or the block's end.
std::u16string_view StringValue(std::span<const uint8_t> data, const Block& block,
                                std::u16string& scratch) {
    CheckedReader in{data.first(block.end), 0, block.valueStart};
    return UnitsOf(data, in.TextOrRest(), scratch);
}

// The language of a StringTable's name ("040904B0" gives 0x0409); false for another name.
bool TableLanguage(std::u16string_view name, uint32_t& language) {
    if (name.size() != kTableNameLength)
        return false;
    uint32_t value = 0;
    for (char16_t c : name) {
        uint32_t digit = c >= u'0' && c <= u'9'   ? c - u'0'
                         : c >= u'a' && c <= u'f' ? c - u'a' + 10
                         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                  : 16;
        if (digit == 16)
            return false;
        value = value * 16 + digit;
    }
    language = value >> 16;
    return true;
}

// `name` with its language digits replaced by `language`'s, in the letter case of its own.
std::u16string RenamedTable(std::u16string_view name, uint32_t language) {
    bool lower =
        std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= u'a' && c <= u'f'; });
    const char16_t* digits = lower ? u"0123456789abcdef" : u"0123456789ABCDEF";
    std::u16string out(name);
    for (int i = 3; i >= 0; --i, language >>= 4)
        out[static_cast<size_t>(i)] = digits[language & 0xF];
    return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](auto x, auto y) { return fold(x) == fold(y); });
}

// What an import changes besides the texts: the new names of StringTables and the languages
// they had, for the Translation value.
struct Renaming {
    std::unordered_map<const Node*, std::u16string> newNames;
    std::vector<const Node*> dropped;  // tables that a renamed one replaces
    std::vector<uint32_t> languages;   // the renamed tables' former languages
    uint32_t target = 0;
};

// Renames, under another language, the tables of the resource's language or a table that is
// the only one of its StringFileInfo; tables of other languages are other translations and
// keep their names, unless a renamed table takes their name: then the translation replaces
// them, as a translated resource replaces the entry of its language.
void PlanRenaming(const ResourceContext& ctx, const Node& root, Renaming& plan) {
    if (ctx.targetLanguage > 0xFFFF || ctx.targetLanguage == ctx.resource.language)
        return;
    plan.target = ctx.targetLanguage;
    for (const Node& info : root.children) {
        if (info.kind != Kind::StringFileInfo)
            continue;
        for (const Node& table : info.children) {
            uint32_t language = 0;
            if (!TableLanguage(table.block.key, language) ||
                (language != ctx.resource.language && info.children.size() != 1))
                continue;
            plan.newNames[&table] = RenamedTable(table.block.key, plan.target);
            plan.languages.push_back(language);
        }
        for (const Node& table : info.children)
            for (const auto& [renamed, name] : plan.newNames)
                if (renamed != &table && !plan.newNames.contains(&table) &&
                    SameName(table.block.key, name))
                    plan.dropped.push_back(&table);
    }
}

// The Translation value with the renamed languages replaced by the target; a pair that then
// repeats an earlier one is left out. Empty when nothing changes.
std::vector<uint8_t> TranslationValue(std::span<const uint8_t> value, const Renaming& plan) {
    std::vector<uint8_t> out;
    bool changed = false;
    size_t pairs = value.size() / 4;
    CheckedReader in{value};
    for (size_t i = 0; i < pairs; ++i) {
        uint32_t language = in.Read16();
        uint16_t codePage = in.Read16();
        if (std::find(plan.languages.begin(), plan.languages.end(), language) !=
            plan.languages.end()) {
            language = plan.target;
            changed = true;
        }
        bool repeated = false;
        for (size_t j = 0; j < out.size(); j += 4)
            repeated = repeated || (Load16(out.data() + j) == language &&
                                    Load16(out.data() + j + 2) == codePage);
        if (repeated)
            continue;
        out.resize(out.size() + 4);
        Store16(out.data() + out.size() - 4, static_cast<uint16_t>(language));
        Store16(out.data() + out.size() - 2, codePage);
    }
    if (!changed)
        return {};
    out.insert(out.end(), value.begin() + static_cast<ptrdiff_t>(4 * pairs), value.end());
    return out;
}

struct Rebuild {
    ResourceContext& ctx;
    std::span<const uint8_t> data;
    SectionWriter out;  // the block alone: it starts on a boundary of the section
    const Renaming& plan;
    bool tooLong = false;
    size_t longest = 0;
};

std::span<const uint8_t> Bytes(const Rebuild& r, size_t from, size_t to) {
    return r.data.subspan(from, to - from);
}

// After the content (the last child, or the value), what the source had up to the block's end:
// its padding to the boundary where that ended on one, else the bytes as they are.
void WriteTail(Rebuild& r, size_t contentEnd, const Block& block) {
    if (contentEnd >= block.end)
        return;
    if (block.end - contentEnd < 4 && AlignFrom(r.ctx.dataRva, block.end) == block.end)
        AlignTo(r.out, 4, Bytes(r, contentEnd, block.end));
    else
        Append(r.out, Bytes(r, contentEnd, block.end));
}

// Sets the wLength of the block written from `start`.
void FinishBlock(Rebuild& r, size_t start) {
    size_t length = Position(r.out) - start;
    r.longest = std::max(r.longest, length);
    r.tooLong = r.tooLong || length > kMaxBlockLength;
    Patch16(r.out, start, static_cast<uint16_t>(length));
}

// Header, key (`key`, or the source's when empty) and the padding after it.
size_t WriteHead(Rebuild& r, const Block& block, std::u16string_view key) {
    size_t start = Append(r.out, Bytes(r, block.start, block.start + kBlockHeader));
    if (key.empty()) {
        Append(r.out, Bytes(r, block.start + kBlockHeader, block.keyEnd));
    } else {
        AppendUnits(r.out, key);
        Append16(r.out, 0);
    }
    AlignTo(r.out, 4, Bytes(r, block.keyEnd, block.valueStart));
    return start;
}

void WriteString(Rebuild& r, const Node& node) {
    const Block& block = node.block;
    std::u16string source;
    StringValue(r.data, block, source);
    if (!LookUpText(r.ctx, TextKey(node.itemKey), source.empty()) || r.ctx.text == source) {
        Append(r.out, Bytes(r, block.start, block.end));
        return;
    }
    size_t start = WriteHead(r, block, {});
    // wValueLength counts the text's units with its zero, as the system's reader steps over it.
    Patch16(r.out, start + 2, static_cast<uint16_t>(r.ctx.text.size() + 1));
    AppendUnits(r.out, r.ctx.text);
    Append16(r.out, 0);
    size_t sourceEnd = std::min(block.valueStart + 2 * (source.size() + 1), block.end);
    WriteTail(r, sourceEnd, block);
    FinishBlock(r, start);
}

void WriteNode(Rebuild& r, const Node& node);

// A block with children: its head and value (or `value` in place of the source's), then every
// child on a boundary, each reusing the source's padding before it.
void WriteContainer(Rebuild& r, const Node& node, std::u16string_view key,
                    const std::vector<uint8_t>* value) {
    const Block& block = node.block;
    size_t start = WriteHead(r, block, key);
    size_t valueEnd = std::min(block.valueEnd, block.end);
    if (value != nullptr) {
        Append(r.out, *value);
        Patch16(r.out, start + 2, static_cast<uint16_t>(value->size()));
    } else {
        Append(r.out, Bytes(r, block.valueStart, valueEnd));
    }
    size_t previousEnd = valueEnd;
    for (const Node& child : node.children) {
        bool dropped =
            std::find(r.plan.dropped.begin(), r.plan.dropped.end(), &child) != r.plan.dropped.end();
        if (!dropped) {
            AlignTo(r.out, 4,
                    Bytes(r, std::min(previousEnd, child.block.start), child.block.start));
            WriteNode(r, child);
        }
        previousEnd = child.block.end;
    }
    WriteTail(r, previousEnd, block);
    FinishBlock(r, start);
}

void WriteNode(Rebuild& r, const Node& node) {
    switch (node.kind) {
        case Kind::String:
            WriteString(r, node);
            return;
        case Kind::Other:
            Append(r.out, Bytes(r, node.block.start, node.block.end));
            return;
        case Kind::Var: {
            std::vector<uint8_t> value;
            if (node.block.key == u"Translation" && node.block.valueEnd <= node.block.end)
                value =
                    TranslationValue(Bytes(r, node.block.valueStart, node.block.valueEnd), r.plan);
            WriteContainer(r, node, {}, value.empty() ? nullptr : &value);
            return;
        }
        default: {
            auto renamed = r.plan.newNames.find(&node);
            WriteContainer(r, node, renamed == r.plan.newNames.end() ? u"" : renamed->second,
                           nullptr);
        }
    }
}

// Gives every String its item key: its name, numbered from its second time in the resource.
void KeyStrings(Node& root) {
    std::unordered_map<std::u16string, uint32_t> seen;
    ForStrings(root, [&seen](Node&, Node& string) {
        string.itemKey = string.block.key;
        uint32_t n = ++seen[string.block.key];
        if (n > 1) {
            string.itemKey.push_back(u'#');
            AppendDecimal(string.itemKey, n);
        }
    });
}

void ExportStrings(ResourceContext& ctx, std::span<const uint8_t> data, Node& root) {
    std::u16string value;
    ForStrings(root, [&](Node& table, Node& string) {
        if (ctx.describe)
            ctx.place = u"version " + string.block.key + u" (" + table.block.key + u")";
        ctx.role = TextRole::VersionString;
        ExportText(ctx, TextKey(string.itemKey), StringValue(data, string.block, value));
    });
}

}  // namespace

void ProcessVersionStrings(ResourceContext& ctx, std::span<const uint8_t> data) {
    Node root;
    if (!ReadRoot(TemplateCursor(ctx, data), root, true)) {
        CopyUnchanged(ctx, data);
        return;
    }
    KeyStrings(root);
    if (!IsImport(ctx)) {
        ExportStrings(ctx, data, root);
        return;
    }
    Renaming plan;
    PlanRenaming(ctx, root, plan);
    Rebuild r{ctx, data, {}, plan};
    WriteNode(r, root);
    if (r.tooLong) {
        // A block would outgrow its 16-bit length: the resource stays as it was.
        std::u16string_view key = ctx.keyPath.substr(0, ctx.keyPath.size() - 1);
        Notify(
            ctx,
            Notice{NoticeKind::ResourceTooLong, std::u16string(key), {r.longest, kMaxBlockLength}});
        CopyUnchanged(ctx, data);
        return;
    }
    Append(*ctx.writer, r.out.bytes);
    Append(*ctx.writer, data.subspan(root.block.end));  // bytes after the block, if any
}

}  // namespace quelvar
