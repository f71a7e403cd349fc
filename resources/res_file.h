// Compiled resource files (.res), what rc, windres and llvm-rc write and a linker reads: a
// 32-byte empty resource, then one record per resource, each a RESOURCEHEADER (DataSize,
// HeaderSize, the type and the name, each 0xFFFF and an id or a zero-terminated UTF-16 text,
// then on a 4-byte boundary DataVersion, MemoryFlags, LanguageId, Version, Characteristics),
// its data and zeros to the next 4-byte boundary.
//
// The walks run on a resource tree: the records are laid out as the tree of a resource section
// (ResFileSection), and the tree the import walk writes is turned back into records
// (WriteResFile), in the file's order, every header field but DataSize and LanguageId as the
// file has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/notice.h"
#include "base/result.h"
#include "resources/tree.h"

namespace quelvar {

// A record's type or name: an id, or a text.
struct ResId {
    bool named = false;
    uint16_t id = 0;
    std::u16string text;
};

struct ResRecord {
    size_t start = 0;  // the offset of its header in the file
    uint32_t headerSize = 0;
    uint32_t dataSize = 0;
    size_t end = 0;  // where the next record starts (past the padding), at most the file's size
    size_t languageAt = 0;  // the offset of its LanguageId
    ResId type, name;
    uint16_t language = 0;
};

struct ResFile {
    std::vector<ResRecord> records;  // the empty resource first
    size_t end = 0;                  // where the records end; zeros may follow
};

struct ResFileError {
    ResFileProblem problem = ResFileProblem::NoEmptyResource;
    size_t offset = 0;  // the record's
};

// True when `bytes` begin as a compiled resource file does: the header of the empty resource
// (DataSize 0, HeaderSize 32, type 0 and name 0 as ids).
bool LooksLikeResFile(std::span<const uint8_t> bytes);

// Reads the records of a compiled resource file. Returns 0, or 11 with `error` set.
Result ReadResFile(std::span<const uint8_t> bytes, ResFile& file, ResFileError& error);

// Lays the records out, the empty one aside, as a resource section in `storage` (which the
// section views): types, names and languages sorted as a linker sorts them (texts before ids),
// two records of one type, name and language both kept. Each data entry holds the index of its
// record in its last field (reserved in an image), which the import walk copies.
ResourceSection ResFileSection(std::span<const uint8_t> bytes, const ResFile& file,
                               std::vector<uint8_t>& storage);

// The compiled resource file of the section that the import walk rebuilt from
// ResFileSection's (with targetRva 0): the records in the file's order, each with its rebuilt
// data and language; a copy that the walk added follows the record it was made of, and a record
// that a translation replaced is left out. A record whose data and language are unchanged is
// copied as it is, padding included. Returns 0, or 11 for a section that is not such a tree or
// a language beyond 16 bits.
Result WriteResFile(std::span<const uint8_t> bytes, const ResFile& file,
                    std::span<const uint8_t> rebuilt, std::vector<uint8_t>& out);

}  // namespace quelvar
