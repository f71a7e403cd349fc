// Accelerator tables (resource type 9): entries of 8 bytes {u16 fFlags, u16 wAnsi (the key),
// u16 wId (the command), u16 padding}, the last one flagged 0x80. Each entry is keyed by its
// command id, "#<n>" for the n-th key of one command. Import rewrites the key and modifiers of
// an entry whose value changed; everything else keeps its bytes.
#include "formats/accelerator.h"

#include "base/bytes.h"
#include "base/utf16.h"
#include "formats/handlers.h"

namespace quelvar {

namespace {

constexpr size_t kEntrySize = 8;
constexpr uint16_t kLastEntry = 0x80;

struct KeyName {
    uint16_t code;
    std::u16string_view name;
};

// Virtual keys by name; the first name of a code is the one written, the others are read too.
constexpr KeyName kKeyNames[] = {
    {0x03, u"Break"},  {0x08, u"Backspace"}, {0x09, u"Tab"},        {0x0C, u"Clear"},
    {0x0D, u"Enter"},  {0x0D, u"Return"},    {0x13, u"Pause"},      {0x14, u"CapsLock"},
    {0x1B, u"Esc"},    {0x1B, u"Escape"},    {0x20, u"Space"},      {0x21, u"PgUp"},
    {0x21, u"PageUp"}, {0x22, u"PgDn"},      {0x22, u"PageDown"},   {0x23, u"End"},
    {0x24, u"Home"},   {0x25, u"Left"},      {0x26, u"Up"},         {0x27, u"Right"},
    {0x28, u"Down"},   {0x2C, u"PrtScn"},    {0x2D, u"Ins"},        {0x2D, u"Insert"},
    {0x2E, u"Del"},    {0x2E, u"Delete"},    {0x2F, u"Help"},       {0x5D, u"Apps"},
    {0x6A, u"Num*"},   {0x6B, u"Num+"},      {0x6D, u"Num-"},       {0x6E, u"Num."},
    {0x6F, u"Num/"},   {0x90, u"NumLock"},   {0x91, u"ScrollLock"}, {0xBA, u";"},
    {0xBB, u"+"},      {0xBB, u"="},         {0xBC, u","},          {0xBD, u"-"},
    {0xBE, u"."},      {0xBF, u"/"},         {0xC0, u"`"},          {0xDB, u"["},
    {0xDC, u"\\"},     {0xDD, u"]"},         {0xDE, u"'"},
};

struct Modifier {
    uint16_t flag;
    std::u16string_view name;
};
constexpr Modifier kModifiers[] = {{kAccelControl, u"Ctrl"},
                                   {kAccelControl, u"Control"},
                                   {kAccelShift, u"Shift"},
                                   {kAccelAlt, u"Alt"}};

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    return true;
}

void AppendHex(std::u16string& out, uint32_t value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out.push_back(u"0123456789ABCDEF"[(value >> shift) & 0xF]);
}

// A number of hexadecimal digits, the whole text; false for none or too many.
bool ReadHex(std::u16string_view text, uint16_t& value) {
    if (text.empty() || text.size() > 4)
        return false;
    uint32_t v = 0;
    for (char16_t c : text) {
        char16_t u = Upper(c);
        if (u >= u'0' && u <= u'9')
            v = v * 16 + (u - u'0');
        else if (u >= u'A' && u <= u'F')
            v = v * 16 + (u - u'A' + 10);
        else
            return false;
    }
    value = static_cast<uint16_t>(v);
    return true;
}

// The virtual key a name stands for: a letter or digit, a name of the table, "F1" to "F24",
// "Num0" to "Num9" or "0x" and hexadecimal digits.
bool VirtualKey(std::u16string_view name, uint16_t& key) {
    if (name.size() == 1 && ((Upper(name[0]) >= u'A' && Upper(name[0]) <= u'Z') ||
                             (name[0] >= u'0' && name[0] <= u'9'))) {
        key = Upper(name[0]);
        return true;
    }
    for (const KeyName& k : kKeyNames)
        if (SameName(name, k.name)) {
            key = k.code;
            return true;
        }
    auto number = [](std::u16string_view digits, unsigned& n) {
        n = 0;
        if (digits.empty() || digits.size() > 2)
            return false;
        for (char16_t c : digits) {
            if (c < u'0' || c > u'9')
                return false;
            n = n * 10 + (c - u'0');
        }
        return true;
    };
    unsigned n = 0;
    if (name.size() >= 2 && Upper(name[0]) == u'F' && number(name.substr(1), n) && n >= 1 &&
        n <= 24) {
        key = static_cast<uint16_t>(0x70 + n - 1);
        return true;
    }
    if (name.size() == 4 && SameName(name.substr(0, 3), u"Num") && number(name.substr(3), n)) {
        key = static_cast<uint16_t>(0x60 + n);
        return true;
    }
    if (name.size() > 2 && name[0] == u'0' && Upper(name[1]) == u'X')
        return ReadHex(name.substr(2), key);
    return false;
}

}  // namespace

std::u16string AcceleratorText(uint16_t flags, uint16_t key) {
    std::u16string out;
    bool virtualKey = (flags & kAccelVirtKey) != 0;
    bool controlCharacter = !virtualKey && key >= 1 && key <= 31;
    if ((flags & kAccelControl) || controlCharacter)
        out += u"Ctrl+";
    if (flags & kAccelShift)
        out += u"Shift+";
    if (flags & kAccelAlt)
        out += u"Alt+";
    if (!virtualKey) {
        char16_t c = controlCharacter ? static_cast<char16_t>(key + 0x40) : key;
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u"U+";
            AppendHex(out, c, 4);
        } else {
            out.push_back(u'\'');
            out.push_back(c);
            out.push_back(u'\'');
        }
        return out;
    }
    if ((key >= u'A' && key <= u'Z') || (key >= u'0' && key <= u'9')) {
        out.push_back(key);
    } else if (key >= 0x70 && key <= 0x87) {
        out.push_back(u'F');
        AppendDecimal(out, key - 0x70 + 1);
    } else if (key >= 0x60 && key <= 0x69) {
        out += u"Num";
        AppendDecimal(out, key - 0x60);
    } else {
        for (const KeyName& k : kKeyNames)
            if (k.code == key) {
                out += k.name;
                return out;
            }
        out += u"0x";
        AppendHex(out, key, key > 0xFF ? 4 : 2);
    }
    return out;
}

bool ParseAccelerator(std::u16string_view text, uint16_t& flags, uint16_t& key) {
    flags = 0;
    std::u16string_view rest = TrimSpaces(text);
    // Modifiers, each followed by "+"; what remains is the key ("Ctrl++" names the key "+").
    for (bool more = true; more;) {
        more = false;
        for (const Modifier& m : kModifiers) {
            if (rest.size() <= m.name.size() || !SameName(rest.substr(0, m.name.size()), m.name))
                continue;
            std::u16string_view after = TrimSpaces(rest.substr(m.name.size()));
            if (after.size() < 2 || after[0] != u'+')
                continue;
            flags |= m.flag;
            rest = TrimSpaces(after.substr(1));
            more = true;
            break;
        }
    }
    if (rest.empty())
        return false;
    uint16_t code = 0;
    if (rest.size() == 3 && rest.front() == u'\'' && rest.back() == u'\'') {
        code = rest[1];
        if (code >= 0xD800 && code <= 0xDFFF)
            return false;
        // Ctrl with a character from 'A' to '_' (or a small letter) is the control character.
        char16_t c = Upper(static_cast<char16_t>(code));
        if ((flags & kAccelControl) && c > 0x40 && c <= 0x5F) {
            code = static_cast<uint16_t>(c - 0x40);
            flags &= ~kAccelControl;
        }
        if (code >= 1 && code <= 31)
            flags &= ~kAccelControl;
        key = code;
        return true;
    }
    if (rest.size() == 6 && SameName(rest.substr(0, 2), u"U+") && ReadHex(rest.substr(2), code)) {
        if (code >= 1 && code <= 31)
            flags &= ~kAccelControl;  // a control character says Ctrl itself
        key = code;
        return true;
    }
    if (!VirtualKey(rest, code))
        return false;
    flags |= kAccelVirtKey;
    key = code;
    return true;
}

void ProcessAcceleratorTable(ResourceContext& ctx, std::span<const uint8_t> data) {
    size_t end = 0;  // just past the entry flagged last
    for (CheckedReader in{data}; in.Remaining() >= kEntrySize;) {
        uint16_t flags = in.Read16();
        in.Skip(kEntrySize - 2);
        if (flags & kLastEntry) {
            end = in.pos;
            break;
        }
    }
    if (end == 0) {
        Notify(ctx, Notice{NoticeKind::ResourceUnreadable,
                           std::u16string(ctx.keyPath.substr(0, ctx.keyPath.size() - 1)),
                           {static_cast<uint64_t>(ResourceProblem::NoLastEntry), 0}});
        CopyUnchanged(ctx, data);
        return;
    }
    std::u16string value;
    for (CheckedReader in{data.first(end)}; !in.AtEnd();) {
        const uint8_t* entry = data.data() + in.pos;
        uint16_t flags = in.Read16(), key = in.Read16(), id = in.Read16();
        in.Skip(kEntrySize - 6);  // padding
        value = AcceleratorText(flags, key);
        if (!IsImport(ctx)) {
            if (ctx.describe) {
                ctx.place = u"accelerator of command ";
                AppendDecimal(ctx.place, id);
            }
            ctx.role = TextRole::Accelerator;
            ExportText(ctx, NumberKey(id), value);
            continue;
        }
        uint16_t newFlags = 0, newKey = 0;
        if (!LookUpText(ctx, NumberKey(id), value.empty()) || ctx.text == value) {
            Append(*ctx.writer, std::span(entry, kEntrySize));
            continue;
        }
        if (!ParseAccelerator(ctx.text, newFlags, newKey)) {
            // Never half an entry: the entry keeps its key, and the value is said.
            size_t keyLength = ctx.key.size();
            Notify(
                ctx,
                Notice{NoticeKind::AcceleratorRefused, ctx.key + u"=" + ctx.text, {0, keyLength}});
            Append(*ctx.writer, std::span(entry, kEntrySize));
            continue;
        }
        Append16(*ctx.writer, static_cast<uint16_t>((flags & ~kAccelKeyFlags) | newFlags));
        Append16(*ctx.writer, newKey);
        Append(*ctx.writer, std::span(entry + 4, 4));
    }
    CopyUnchanged(ctx, data.subspan(end));
}

}  // namespace quelvar
