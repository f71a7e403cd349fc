// The language file loader and lookup on arbitrary bytes: every indexed key is found again,
// keys and values lie inside the loaded text and hold no line break, the same bytes loaded
// from a file index the same way, and escaping then decoding a value gives it back.
#include <cstring>
#include <string>

#include "driver/language_io.h"
#include "exchange/language_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    LanguageTable table;
    bool parsed = ParseLanguageFile(data, size, table);
    if (parsed != (size >= 2 && data[0] == 0xFF && data[1] == 0xFE))
        fuzz::Fail("the byte-order mark decides whether a file loads");
    if (!parsed)
        return 0;

    std::u16string copy;
    AppendUnits(copy, table.units);
    std::u16string_view units(copy);
    TextSource source = LanguageFileSource(table);  // asked in the index's order, not the file's
    size_t used = 0;
    for (const LanguageSlot& place : table.slots) {
        if (place.entry == UINT32_MAX)
            continue;
        ++used;
        if (place.entry >= table.keys.size())
            fuzz::Fail("an index slot names no entry");
        const LanguageEntry& slot = table.keys[place.entry];
        if (slot.keyLength >= slot.valueStart ||
            uint64_t{slot.valueStart} + slot.valueLength > units.size())
            fuzz::Fail("an index entry points outside the loaded text");
        std::u16string_view key =
            units.substr(slot.valueStart - 1 - slot.keyLength, slot.keyLength);
        std::u16string_view value = units.substr(slot.valueStart, slot.valueLength);
        if (units[slot.valueStart - 1] != u'=')
            fuzz::Fail("a key does not end at an equals sign");
        for (std::u16string_view part : {key, value})
            if (part.find_first_of(std::u16string_view(u"\r\n\0", 3)) != part.npos)
                fuzz::Fail("a key or value holds a line break or a zero unit");
        auto found = FindValue(table, key);
        if (!found || found->bytes != data + 2 + 2 * slot.valueStart ||
            found->size() != value.size())
            fuzz::Fail("an indexed key is not found again");
        std::u16string appended, sourced;
        AppendDecoded(appended, *found);
        if (appended != DecodeValue(value) || !source(key, sourced) || sourced != appended)
            fuzz::Fail("a value decoded where it lies differs from its decoded copy");

        std::u16string decoded = DecodeValue(value);
        std::u16string escaped;
        for (char16_t u : decoded)
            AppendEscaped(escaped, u);
        if (DecodeValue(escaped) != decoded)
            fuzz::Fail("escaping a decoded value does not decode back to it");
    }
    if (used != table.entries)
        fuzz::Fail("the entry count does not match the index");
    // A key made of the input's first units, whatever they are, is looked up safely.
    FindValue(table, units.substr(0, 8));

    const fuzz::Scratch& s = fuzz::GetScratch();
    fuzz::WriteFile(s.language, data, size);
    LanguageTable loaded;
    std::unique_ptr<platform::FileView> view;
    bool loads = LoadLanguageFile(s.language, loaded, view);
    // A file whose lines end in CR alone reads as no line: the file loader refuses it.
    if (table.crLineEnds) {
        if (loads)
            fuzz::Fail("a file whose lines end in CR alone loads");
        return 0;
    }
    if (!loads || loaded.entries != table.entries || loaded.units.size() != table.units.size() ||
        (units.size() != 0 &&
         std::memcmp(loaded.units.bytes, table.units.bytes, 2 * units.size()) != 0))
        fuzz::Fail("the same bytes load differently from a file");
    return 0;
}
