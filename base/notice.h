// Notices: what an operation tells its user without failing (a text cut to fit its format, an
// entry replaced). Like failures they travel as values; only the front ends turn them into
// text, and a quiet front end drops them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/utf16.h"

namespace quelvar {

enum class NoticeKind {
    TextCut,  // a translation longer than its format allows: `key`, `counts` = {given, kept}
    // Import: the translations of resource `key` ("16.1") would make one of its blocks longer
    // than its 16-bit length holds; the resource is kept as it was. `counts` = {the block's
    // length in bytes, the most its length holds}.
    ResourceTooLong,
    // Import refused the language file's "LANG" value (error 13): `key` is the value as written.
    LanguageValueRefused,
    // Import with a language filter and a new language id: the translated resource `key`
    // ("6.1") replaced the entry that had that id. `counts` = {replaced language, translated
    // language}.
    EntryReplaced,
    // Export without a language filter of an image whose resources have texts in several
    // languages under the same keys: `key` lists the languages with their numbers of texts
    // (see LanguageList), `counts[0]` their number.
    LanguageKeysCollide,
    // Export to a PO file: the source language chosen on an image of several languages,
    // `counts` = {language id, number of languages}.
    SourceLanguageChosen,
    FuzzySkipped,        // import: `counts[0]` fuzzy translations were not applied
    SourceTextsChanged,  // import: `counts[0]` applied translations have a msgid that differs
                         // from the program's text
    // Harvest: a key (`key`) found in only one image, `counts[0]` 0 for the original, 1 for
    // the translated build.
    KeyInOneImage,
    // Import of a translation into an image of several languages without a source language:
    // `key` the languages with their numbers of texts (see LanguageList); `counts[0]` their
    // number.
    SeveralSourceLanguages,
    // A language file's last line has no line break and is not read: `key` the file's path,
    // `counts[0]` the line's number.
    LastLineUnended,
    // Import of a signed image (one with a certificate table): `counts[0]` 0 when the table
    // was kept, its signature no longer matching the translated image, 1 when it was removed.
    SignedImage,
    // Import: no text of the translation is in the image (error 13). `key` the translation's
    // path and the image's path, separated by a zero unit; `counts[0]` the translation's texts.
    NoTextApplies,
    // PO import without a Language field or --lang-id: the resources keep their language.
    LanguageKept,
    // Harvest: the translated build has several languages that could be the translation's:
    // `key` lists them with their numbers of texts (see LanguageList), `counts[0]` their number.
    TranslatedLanguageUnclear,
    // Import done: `counts` = {the texts translated, the source language}; `key` the language
    // id the translated resources received in decimal, empty when they kept theirs.
    Imported,
    // Export of an image whose sections reach past the end of its file (a copy whose writing
    // never finished, a file cut short): `counts` = {the file's size, the size its sections
    // need}.
    ImageCutShort,
    // A resource that does not read as its type (`key` the resource, "11.1"): exported without
    // texts, copied unchanged on import. `counts` = {ResourceProblem, the message id, or the
    // offset, where the problem lies}.
    ResourceUnreadable,
    // Import: a translated accelerator that names no key (`key` the full key, "=" and the
    // value); the entry keeps its key. `counts` = {the line of the translation that holds it,
    // 0 when not known; the length of the full key in `key`}.
    AcceleratorRefused,
    // A compiled resource file (.res) whose records do not read (the operation fails with 11):
    // `key` the file's path, `counts` = {ResFileProblem, the offset of the record}.
    ResFileUnreadable,
};

// Why a resource does not read as its type (NoticeKind::ResourceUnreadable).
enum class ResourceProblem : uint64_t {
    BlocksPastEnd,    // message table: the block count or the blocks run past the resource
    EntryPastEnd,     // message table: an entry runs past the resource (`counts[1]` its id)
    BlocksOverlap,    // message table: two blocks' entries, or entries and blocks, overlap
    BadEntryLength,   // message table: a Length of 0 or not a multiple of 4 (the id)
    IdsOutOfOrder,    // message table: a block's ids not above the last block's (its LowId)
    UnknownEncoding,  // message table: an entry flagged neither ANSI, UTF-16 nor UTF-8 (the id)
    NoLastEntry,      // accelerator table: no entry flagged as the last
};

// Why a compiled resource file does not read (NoticeKind::ResFileUnreadable).
enum class ResFileProblem : uint64_t {
    NoEmptyResource,   // it does not begin with the 32-byte empty resource
    RecordTruncated,   // a record's DataSize and HeaderSize run past the file's end
    HeaderTooSmall,    // a HeaderSize below what the record's fields take
    HeaderPastEnd,     // a HeaderSize that runs past the file's end
    DataPastEnd,       // a DataSize that runs past the file's end
    NameUnterminated,  // a type or name text without its zero inside the header
    TooManyRecords,    // more than 65536 records
};

// Languages and their numbers of texts as a notice's `key` gives them: "<id>:<texts>" in
// decimal, separated by blanks, in ascending order of ids ("1031:12 1033:14"). Appends one.
inline void AppendLanguageCount(std::u16string& list, uint32_t language, uint64_t texts) {
    if (!list.empty())
        list += u' ';
    AppendDecimal(list, language);
    list += u':';
    AppendDecimal(list, static_cast<int64_t>(texts));
}

struct Notice {
    NoticeKind kind;
    std::u16string key;           // the text or resource the notice is about, when any
    uint64_t counts[2] = {0, 0};  // numbers the kind defines
};

// Receives the notices of one operation; an empty function drops them.
using NoticeSink = std::function<void(const Notice& notice)>;

}  // namespace quelvar
