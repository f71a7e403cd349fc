#include "exchange/po.h"

#include <cstdio>

#include "base/number.h"
#include "base/utf16.h"
#include "exchange/language_names.h"

namespace quelvar {

namespace {

// Line breaking as the GNU tools do it: the pair rules of Unicode line breaking, for the
// classes below. A break may come before a unit when the last unit before it that is no
// space allows it: directly, or only with spaces in between.
enum BreakClass : uint8_t {
    kSpace,
    kExclamation,
    kQuotationMark,
    kAlphabetic,
    kPrefix,
    kPostfix,
    kQuote,
    kOpen,
    kCloseParen,
    kInfix,
    kHyphen,
    kNumeric,
    kBreakAfter,
    kClose,
    kIdeographic,
    kOpenWide,
    kNonStarter,
    kBreakBoth,
    kInseparable,
    kGlue,
};

// Bit c of row r: a break between a unit of class r and one of class c.
constexpr uint32_t kDirectBreaks[] = {0xFDCFC, 0x2C8BC, 0x00000, 0x2C000, 0x20034, 0x24034, 0x00000,
                                      0x00000, 0x2C080, 0x2C0BC, 0xAC0BC, 0x2C000, 0xAC8BC, 0x2C888,
                                      0x2C89C, 0x00000, 0x2C8BC, 0x0C8BC, 0x2C8BC, 0x00000};
constexpr uint32_t kBreaksAfterSpaces[] = {
    0xFDCFC, 0xFDCFC, 0xF5C7C, 0xFDCFC, 0xFDCFC, 0xFDCFC, 0xF5C7C, 0x00000, 0xFDCFC, 0xFDCFC,
    0xFDCFC, 0xFDCFC, 0xFDCFC, 0xEDCFC, 0xFDCFC, 0x00000, 0xFDCFC, 0xDDCFC, 0xFDCFC, 0xFDCFC};

// The classes of ' ' to '~'.
constexpr uint8_t kAsciiClasses[95] = {
    0,  1,  2, 3, 4, 5, 3, 6, 7, 8, 3, 4, 9, 10, 9, 9, 11, 11, 11, 11, 11, 11, 11, 11,
    11, 11, 9, 9, 3, 3, 3, 1, 3, 3, 3, 3, 3, 3,  3, 3, 3,  3,  3,  3,  3,  3,  3,  3,
    3,  3,  3, 3, 3, 3, 3, 3, 3, 3, 3, 7, 4, 8,  3, 3, 3,  3,  3,  3,  3,  3,  3,  3,
    3,  3,  3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  3, 3, 3,  3,  3,  7,  12, 13, 3};

bool IsWide(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

unsigned Columns(uint32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x300 && c < 0x370) || c == 0x200B)
        return 0;
    return IsWide(c) ? 2 : 1;
}

uint8_t ClassOf(uint32_t c) {
    if (c >= 0x20 && c < 0x7F)
        return kAsciiClasses[c - 0x20];
    switch (c) {
        case 0xA0:
            return kGlue;
        case 0xAB:
        case 0xBB:
        case 0x2018:
        case 0x2019:
        case 0x201C:
        case 0x201D:
            return kQuote;
        case 0x2013:
            return kBreakAfter;
        case 0x2014:
            return kBreakBoth;
        case 0x2026:
            return kInseparable;
        case 0x3001:
        case 0x3002:
        case 0x3009:
        case 0x300B:
        case 0x300D:
        case 0x300F:
        case 0x3011:
        case 0x3015:
        case 0xFF09:
        case 0xFF0C:
        case 0xFF0E:
            return kClose;
        case 0x3008:
        case 0x300A:
        case 0x300C:
        case 0x300E:
        case 0x3010:
        case 0x3014:
        case 0xFF08:
            return kOpenWide;
        case 0xFF01:
        case 0xFF1F:
            return kExclamation;
        case 0x30FB:
        case 0x30FC:
        case 0xFF1A:
        case 0xFF1B:
            return kNonStarter;
    }
    return IsWide(c) ? kIdeographic : kAlphabetic;
}

// One unit of an escaped portion: where it starts, its class and columns, and whether a
// break before it is ruled out (inside an escape, or before a closing "\n").
struct EscapedUnit {
    size_t at;
    uint8_t cls;
    uint8_t columns;
    bool keep;
};

char EscapeLetter(char c) {
    switch (c) {
        case '\a':
            return 'a';
        case '\b':
            return 'b';
        case '\f':
            return 'f';
        case '\n':
            return 'n';
        case '\r':
            return 'r';
        case '\t':
            return 't';
        case '\v':
            return 'v';
        case '\\':
        case '"':
            return c;
    }
    return 0;
}

constexpr unsigned kLineWidth = 78;  // 79 columns, the closing quote included

// Appends one portion (text up to and including a line break) as lines of strings, the first
// starting at column `column`.
void AppendPortion(std::string& out, std::string_view portion, unsigned column,
                   std::string& escaped, std::vector<EscapedUnit>& units) {
    escaped.clear();
    units.clear();
    for (size_t i = 0; i < portion.size();) {
        Utf8Sequence seq = DecodeUtf8(portion, i);
        size_t length = seq.length;
        uint32_t c = seq.code;
        char letter = length == 1 ? EscapeLetter(portion[i]) : 0;
        if (letter != 0) {
            units.push_back({escaped.size(), kPrefix, 1, false});  // the backslash
            escaped.push_back('\\');
            units.push_back({escaped.size(), ClassOf(static_cast<uint8_t>(letter)), 1, true});
            escaped.push_back(letter);
        } else {
            units.push_back({escaped.size(), ClassOf(c), static_cast<uint8_t>(Columns(c)), false});
            escaped.append(portion.substr(i, length));
        }
        i += length;
    }
    if (!portion.empty() && portion.back() == '\n')
        units[units.size() - 2].keep = true;

    // Greedy filling: a piece runs from one break opportunity to the next; a piece that does
    // not fit its line moves to the next one, unless it starts the line.
    std::vector<size_t> breaks;
    size_t lastBreak = SIZE_MAX;
    size_t lastNonSpace = SIZE_MAX;
    unsigned piece = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const EscapedUnit& u = units[i];
        bool can = false;
        if (!u.keep && u.cls != kSpace && lastNonSpace != SIZE_MAX) {
            const uint32_t* rules = lastNonSpace + 1 < i ? kBreaksAfterSpaces : kDirectBreaks;
            can = (rules[units[lastNonSpace].cls] >> u.cls) & 1;
        }
        if (can) {
            if (lastBreak != SIZE_MAX && column + piece > kLineWidth) {
                breaks.push_back(lastBreak);
                column = 1;
            }
            lastBreak = i;
            column += piece;
            piece = 0;
        }
        piece += u.columns;
        if (u.cls != kSpace)
            lastNonSpace = i;
    }
    if (lastBreak != SIZE_MAX && column + piece > kLineWidth)
        breaks.push_back(lastBreak);

    size_t from = 0;
    breaks.push_back(units.size());
    for (size_t b : breaks) {
        size_t to = b < units.size() ? units[b].at : escaped.size();
        out.push_back('"');
        out.append(escaped, from, to - from);
        out.append("\"\n");
        from = to;
    }
}

// Would the first portion of a string, after `keyword "`, need a break?
bool NeedsBreak(std::string_view portion, unsigned column) {
    std::string probe, escaped;
    std::vector<EscapedUnit> units;
    AppendPortion(probe, portion, column, escaped, units);
    return probe.find('\n') + 1 != probe.size();
}

}  // namespace

void AppendPoString(std::string& out, std::string_view keyword, std::string_view utf8) {
    size_t firstEnd = utf8.find('\n');
    firstEnd = firstEnd == std::string_view::npos ? utf8.size() : firstEnd + 1;
    unsigned column = static_cast<unsigned>(keyword.size()) + 2;
    out.append(keyword);
    out.push_back(' ');
    if (!utf8.empty() && (firstEnd < utf8.size() || NeedsBreak(utf8.substr(0, firstEnd), column))) {
        out.append("\"\"\n");
        column = 1;
    }
    std::string escaped;
    std::vector<EscapedUnit> units;
    size_t start = 0;
    do {
        size_t end = utf8.find('\n', start);
        end = end == std::string_view::npos ? utf8.size() : end + 1;
        AppendPortion(out, utf8.substr(start, end - start), column, escaped, units);
        column = 1;
        start = end;
    } while (start < utf8.size());
}

void AppendPoHeader(std::string& out, const PoHeader& header) {
    std::u16string source;
    AppendDecimal(source, header.sourceLanguage);
    std::string_view sourceName = LanguageNameOfId(header.sourceLanguage);
    const std::pair<std::string_view, std::string_view> fields[] = {
        {"Project-Id-Version", header.projectVersion},
        {"Report-Msgid-Bugs-To", ""},
        {"POT-Creation-Date", header.creationDate},
        {"PO-Revision-Date",
         header.translated ? std::string_view(header.creationDate) : "YEAR-MO-DA HO:MI+ZONE"},
        {"Last-Translator", header.translated ? "" : "FULL NAME <EMAIL@ADDRESS>"},
        {"Language-Team", header.translated ? "" : "LANGUAGE <LL@li.org>"},
        {"Language", header.language},
        {"MIME-Version", "1.0"},
        {"Content-Type", "text/plain; charset=UTF-8"},
        {"Content-Transfer-Encoding", "8bit"},
        {"X-Accelerator-Marker", "&"},
    };
    std::string text;
    for (const auto& [name, value] : fields)
        text.append(name).append(": ").append(value).append("\n");
    // The source language: its id and, when known, its name ("1033 en_US").
    text.append("X-Source-Language: ").append(ToUtf8(source));
    if (!sourceName.empty())
        text.append(" ").append(sourceName);
    text.append("\n");
    AppendPoString(out, "msgid", "");
    AppendPoString(out, "msgstr", text);
}

namespace {

// A resource as "#:" names it, "MENU:102:1033": a reference of the form "file:line" that the
// GNU tools keep as it is. Units other than letters, digits, "_", "-" and "." become "_".
std::string Reference(const ResourceInfo& resource) {
    std::string out;
    auto append = [&out](std::u16string_view part) {
        for (char16_t u : part) {
            bool plain = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') ||
                         (u >= u'a' && u <= u'z') || u == u'_' || u == u'-' || u == u'.';
            out.push_back(plain ? static_cast<char>(u) : '_');
        }
    };
    if (!resource.scriptName.empty())
        out = resource.scriptName;
    else
        append(resource.type);
    out.push_back(':');
    append(resource.name);
    out.push_back(':');
    if (resource.language == kNamedLanguage) {
        out += "0";
    } else {
        std::u16string id;
        AppendDecimal(id, resource.language);
        append(id);
    }
    return out;
}

}  // namespace

void AppendPoEntry(PoWriter& writer, const TextItem& item, std::u16string_view translation) {
    if (!writer.contexts.emplace(item.key).second)
        return;
    std::string& out = writer.out;
    out.push_back('\n');
    if (!item.place.empty()) {
        std::string place = ToUtf8(item.place);
        for (char& c : place)
            if (static_cast<unsigned char>(c) < 0x20)
                c = ' ';
        out.append("#. ").append(place).append("\n");
    }
    if (item.resource != nullptr)
        out.append("#: ").append(Reference(*item.resource)).append("\n");
    AppendPoString(out, "msgctxt", ToUtf8(item.key));
    AppendPoString(out, "msgid", ToUtf8(item.text));
    AppendPoString(out, "msgstr", ToUtf8(translation));
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Appends the bytes of the quoted string at `i` of `line` (at its opening quote) to `out`.
PoProblem ReadString(std::string_view line, size_t i, std::string& out) {
    if (i >= line.size() || line[i] != '"')
        return PoProblem::UnexpectedLine;
    for (++i;; ++i) {
        if (i >= line.size())
            return PoProblem::UnterminatedString;
        char c = line[i];
        if (c == '"')
            break;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= line.size())
            return PoProblem::UnterminatedString;
        c = line[i];
        switch (c) {
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 'a':
                out.push_back('\a');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'v':
                out.push_back('\v');
                break;
            case '\\':
            case '"':
            case '\'':
            case '?':
                out.push_back(c);
                break;
            case 'x': {
                int value = 0, digits = 0;
                while (digits < 2 && i + 1 < line.size() && HexValue(line[i + 1]) >= 0) {
                    value = value * 16 + HexValue(line[++i]);
                    ++digits;
                }
                if (digits == 0)
                    return PoProblem::BadEscape;
                out.push_back(static_cast<char>(value));
                break;
            }
            default: {
                if (c < '0' || c > '7')
                    return PoProblem::BadEscape;
                int value = c - '0';
                for (int digits = 1;
                     digits < 3 && i + 1 < line.size() && line[i + 1] >= '0' && line[i + 1] <= '7';
                     ++digits)
                    value = value * 8 + (line[++i] - '0');
                if (value > 0xFF)
                    return PoProblem::BadEscape;
                out.push_back(static_cast<char>(value));
            }
        }
    }
    for (++i; i < line.size(); ++i)
        if (!IsBlank(line[i]))
            return PoProblem::UnexpectedLine;
    return PoProblem::None;
}

// The entry being read.
struct PendingEntry {
    std::string context, id, str;
    bool hasContext = false, hasId = false, hasStr = false, fuzzy = false;
    uint64_t line = 0;
    std::string* field = nullptr;  // where continuation strings go
};

bool Started(const PendingEntry& e) {
    return e.hasContext || e.hasId;
}

PoError Finish(PendingEntry& e, PoCatalog& catalog) {
    PoError error{PoProblem::None, e.line};
    if (!Started(e)) {
        bool fuzzy = e.fuzzy;
        e = PendingEntry{};
        e.fuzzy = fuzzy;
        return error;
    }
    if (!e.hasStr) {
        error.problem = PoProblem::MissingMsgstr;
        return error;
    }
    if (!e.hasContext && e.id.empty()) {
        if (catalog.header.empty()) {
            catalog.header = e.str;
            catalog.headerLine = e.line;
        }
        e = PendingEntry{};
        return error;
    }
    PoEntry entry;
    entry.hasContext = e.hasContext;
    entry.fuzzy = e.fuzzy;
    entry.line = e.line;
    if (!AppendFromUtf8(entry.context, e.context) || !AppendFromUtf8(entry.id, e.id) ||
        !AppendFromUtf8(entry.str, e.str)) {
        error.problem = PoProblem::BadUtf8;
        return error;
    }
    if (entry.hasContext) {
        if (!catalog.byContext.emplace(entry.context, catalog.entries.size()).second) {
            error.problem = PoProblem::DuplicateContext;
            return error;
        }
    }
    catalog.entries.push_back(std::move(entry));
    e = PendingEntry{};
    return error;
}

}  // namespace

namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// A charset whose text is read as UTF-8: UTF-8 itself, ASCII, or none named.
bool ReadsAsUtf8(std::string_view charset) {
    for (std::string_view name :
         {"", "UTF-8", "UTF8", "CHARSET", "ASCII", "US-ASCII", "ANSI_X3.4-1968"})
        if (SameLetters(charset, name))
            return true;
    return false;
}

// The header entry, once read, and the whole file: a charset that is not UTF-8 is refused
// when the file holds bytes beyond ASCII, which would be read wrongly.
PoError CheckHeader(const PoCatalog& catalog, std::string_view bytes, bool& checked) {
    if (checked || catalog.headerLine == 0)
        return {};
    checked = true;
    if (ReadsAsUtf8(PoCharset(catalog)))
        return {};
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return {PoProblem::Charset, catalog.headerLine};
    return {};
}

}  // namespace

PoError ParsePo(std::string_view bytes, PoCatalog& catalog) {
    catalog = PoCatalog{};
    // The magic number of a .mo file, in either byte order.
    if (bytes.substr(0, 4) == "\xDE\x12\x04\x95" || bytes.substr(0, 4) == "\x95\x04\x12\xDE")
        return {PoProblem::Compiled, 0};
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    bool headerChecked = false;
    PendingEntry e;
    uint64_t lineNumber = 0;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        size_t i = 0;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        line.remove_prefix(i);
        if (line.empty())
            continue;
        if (line[0] == '#') {
            // A comment starts the next entry; its flags ("#, fuzzy") belong to that entry.
            // Obsolete entries ("#~") are left out with their flags.
            if (e.hasStr)
                if (PoError r = Finish(e, catalog); r.problem != PoProblem::None)
                    return r;
            if (PoError r = CheckHeader(catalog, bytes, headerChecked);
                r.problem != PoProblem::None)
                return r;
            if (line.substr(0, 2) == "#~") {
                e.fuzzy = false;
            } else if (line.substr(0, 2) == "#,") {
                std::string_view flags = line.substr(2);
                for (size_t f = flags.find("fuzzy"); f != std::string_view::npos;
                     f = flags.find("fuzzy", f + 1)) {
                    bool before = f == 0 || flags[f - 1] == ',' || IsBlank(flags[f - 1]);
                    size_t after = f + 5;
                    if (before &&
                        (after == flags.size() || flags[after] == ',' || IsBlank(flags[after])))
                        e.fuzzy = true;
                }
            }
            continue;
        }
        if (line[0] == '"') {
            if (e.field == nullptr)
                return {PoProblem::MsgstrBeforeMsgid, lineNumber};
            if (PoProblem p = ReadString(line, 0, *e.field); p != PoProblem::None)
                return {p, lineNumber};
            continue;
        }
        size_t word = 0;
        while (word < line.size() && !IsBlank(line[word]) && line[word] != '"' && line[word] != '[')
            ++word;
        std::string_view keyword = line.substr(0, word);
        if (keyword == "msgid_plural" ||
            (keyword == "msgstr" && word < line.size() && line[word] == '['))
            return {PoProblem::Plural, lineNumber};
        if (keyword == "msgctxt" || keyword == "msgid") {
            if (e.hasStr)
                if (PoError r = Finish(e, catalog); r.problem != PoProblem::None)
                    return r;
            if (PoError r = CheckHeader(catalog, bytes, headerChecked);
                r.problem != PoProblem::None)
                return r;
            if (e.hasId || (keyword == "msgctxt" && e.hasContext))
                return {PoProblem::UnexpectedLine, lineNumber};
            if (!Started(e))
                e.line = lineNumber;
            if (keyword == "msgctxt") {
                e.hasContext = true;
                e.field = &e.context;
            } else {
                e.hasId = true;
                e.field = &e.id;
            }
        } else if (keyword == "msgstr") {
            if (!e.hasId)
                return {PoProblem::MsgstrBeforeMsgid, lineNumber};
            if (e.hasStr)
                return {PoProblem::UnexpectedLine, lineNumber};
            e.hasStr = true;
            e.field = &e.str;
        } else {
            return {PoProblem::UnexpectedLine, lineNumber};
        }
        while (word < line.size() && IsBlank(line[word]))
            ++word;
        if (PoProblem p = ReadString(line, word, *e.field); p != PoProblem::None)
            return {p, lineNumber};
    }
    if (PoError r = Finish(e, catalog); r.problem != PoProblem::None)
        return r;
    if (PoError r = CheckHeader(catalog, bytes, headerChecked); r.problem != PoProblem::None)
        return r;
    // msgfmt refuses a file without a header entry, or with an empty one.
    if (catalog.header.empty()) {
        if (catalog.headerLine == 0 && catalog.entries.empty())
            return {PoProblem::Empty, 1};
        return {PoProblem::NoHeader, catalog.headerLine != 0   ? catalog.headerLine
                                     : catalog.entries.empty() ? 1
                                                               : catalog.entries[0].line};
    }
    return {};
}

std::string PoCharset(const PoCatalog& catalog) {
    std::string type = PoHeaderField(catalog, "Content-Type");
    size_t at = type.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string charset = type.substr(at + 8);
    size_t end = charset.find_first_of("; \t");
    return end == std::string::npos ? charset : charset.substr(0, end);
}

std::string PoHeaderField(const PoCatalog& catalog, std::string_view name) {
    std::string_view header = catalog.header;
    for (size_t start = 0; start < header.size();) {
        size_t end = header.find('\n', start);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view line = header.substr(start, end - start);
        start = end + 1;
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && IsBlank(value.front()))
                value.remove_prefix(1);
            while (!value.empty() && (IsBlank(value.back()) || value.back() == '\r'))
                value.remove_suffix(1);
            return std::string(value);
        }
    }
    return {};
}

bool PoSourceLanguage(const PoCatalog& catalog, uint32_t& id) {
    std::string value = PoHeaderField(catalog, "X-Source-Language");
    ScannedInteger n = ScanInteger(std::string_view(value), IntegerSyntax{});
    if (!n.digits || n.overflow || n.magnitude > 0xFFFF ||
        (n.end < value.size() && !IsBlank(value[n.end])))
        return false;
    id = static_cast<uint32_t>(n.magnitude);
    return true;
}

TextSource PoSource(const PoCatalog& catalog, bool useFuzzy) {
    return [&catalog, useFuzzy](std::u16string_view key, std::u16string& text) {
        auto it = catalog.byContext.find(std::u16string(key));
        if (it == catalog.byContext.end())
            return false;
        const PoEntry& entry = catalog.entries[it->second];
        if (entry.str.empty() || (entry.fuzzy && !useFuzzy))
            return false;
        text = entry.str;
        return true;
    };
}

}  // namespace quelvar
