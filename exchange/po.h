// gettext PO files: one entry a text, its key as msgctxt, the source text as msgid and the
// translation as msgstr. Texts are UTF-16 in the core and UTF-8 in the file. A lone surrogate,
// which UTF-8 cannot hold, is written as U+FFFD (the entry's msgid then differs from the
// program's text, which import says).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "resources/handler.h"

namespace quelvar {

// The header entry's fields that export fills.
struct PoHeader {
    std::string projectVersion;   // "Program 1.2" or the image's file name
    std::string creationDate;     // "2024-05-01 12:00+0000"
    std::string language;         // the target language's name; empty when not known
    uint32_t sourceLanguage = 0;  // the Windows language id of the msgids
};

// Appends a keyword and its string as the GNU tools write them: escaped, and wrapped at the
// line breaks of the text and where a line would pass 79 columns.
void AppendPoString(std::string& out, std::string_view keyword, std::string_view utf8);

// Appends the header entry.
void AppendPoHeader(std::string& out, const PoHeader& header);

// Export: collects the entries of one PO file.
struct PoWriter {
    std::string out;
    std::unordered_set<std::u16string> contexts;  // the keys written so far
};

// Appends the entry of one text with `translation` as its msgstr. A key that came before is
// skipped: the first text of a key is the one an import replaces.
void AppendPoEntry(PoWriter& writer, const TextItem& item, std::u16string_view translation);

// What is wrong at a line of a PO file.
enum class PoProblem {
    None,
    UnterminatedString,  // a string without its closing quote
    BadEscape,           // a backslash before a letter that is no escape
    BadUtf8,             // a string that is no UTF-8
    UnexpectedLine,      // a line that is no keyword, string or comment
    MsgstrBeforeMsgid,   // msgstr or a string with no msgid before it
    MissingMsgstr,       // an entry that ends without msgstr
    DuplicateContext,    // a msgctxt that an earlier entry has
    Plural,              // msgid_plural or msgstr[n]: plural forms have no place in resources
    Empty,               // the file holds no entry at all (line 1)
    NoHeader,            // no header entry (msgid ""): at the first entry's line
};

struct PoEntry {
    std::u16string context, id, str;
    bool hasContext = false;
    bool fuzzy = false;
    uint64_t line = 0;  // where its first keyword stands
};

// A read PO file: the header's msgstr (UTF-8) and the live entries in file order. Obsolete
// entries ("#~") are left out; the header entry is not among the entries.
struct PoCatalog {
    std::string header;
    bool hasHeader = false;
    std::vector<PoEntry> entries;
    std::unordered_map<std::u16string, size_t> byContext;  // msgctxt -> entry index
};

struct PoError {
    PoProblem problem = PoProblem::None;
    uint64_t line = 0;
};

// Reads a PO file's bytes: CR LF or LF lines, an optional UTF-8 byte-order mark.
PoError ParsePo(std::string_view bytes, PoCatalog& catalog);

// The value of a header field ("Language"), without blanks around it; empty when missing.
std::string PoHeaderField(const PoCatalog& catalog, std::string_view name);

// The Windows language id the "X-Source-Language" field gives; false without one.
bool PoSourceLanguage(const PoCatalog& catalog, uint32_t& id);

// Import: the msgstr of the entry with the key as msgctxt, when it is not empty and, unless
// `useFuzzy`, the entry is not fuzzy.
TextSource PoSource(const PoCatalog& catalog, bool useFuzzy);

}  // namespace quelvar
