// UTF-16 texts are sequences of 16-bit units (std::u16string); these helpers build them and
// move them to and from little-endian bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace quelvar {

void AppendDecimal(std::u16string& out, int64_t value);

// Word-at-a-time scans: four units of a text are loaded into one 64-bit word and tested at
// once (ZeroLanes and FirstLane in base/bytes.h).
inline uint64_t LoadFourUnits(const char16_t* units) {
    uint64_t word;
    std::memcpy(&word, units, sizeof word);
    return word;
}

// The word with `unit` in every lane.
constexpr uint64_t EveryLane(char16_t unit) {
    return uint64_t{unit} * 0x0001000100010001ull;
}

// Eight units at a time, where the compiler has vectors: a comparison of a vector of units
// sets every bit of the lanes it holds for.
typedef uint16_t EightUnits __attribute__((vector_size(16)));

// A unit as the value of a lane, to compare EightUnits with (clang 14 crashes on a comparison
// of a vector with a char16_t).
constexpr uint16_t Lane(char16_t unit) {
    return unit;
}

inline EightUnits LoadEightUnits(const char16_t* units) {
    EightUnits lanes;
    std::memcpy(&lanes, units, sizeof lanes);
    return lanes;
}

// A text held as little-endian bytes and read where it lies (a mapped file): `size` units
// from `bytes`.
struct UnitsLE {
    const uint8_t* bytes = nullptr;
    size_t count = 0;

    size_t size() const { return count; }
    char16_t operator[](size_t i) const { return static_cast<char16_t>(Load16(bytes + 2 * i)); }
    UnitsLE substr(size_t from, size_t n) const { return UnitsLE{bytes + 2 * from, n}; }
};

inline EightUnits LoadEightUnits(std::u16string_view text, size_t i) {
    return LoadEightUnits(text.data() + i);
}

inline EightUnits LoadEightUnits(UnitsLE text, size_t i) {
    EightUnits lanes;
    std::memcpy(&lanes, text.bytes + 2 * i, sizeof lanes);
    if constexpr (std::endian::native == std::endian::big)
        lanes = (lanes << 8) | (lanes >> 8);
    return lanes;
}

// The index of the first lane that a comparison holds for, or 8 for none.
template <typename Lanes>
size_t FirstTrueLane(Lanes lanes) {
    static_assert(sizeof lanes == 16);
    uint64_t halves[2];
    std::memcpy(halves, &lanes, sizeof halves);
    if (halves[0] != 0)
        return FirstLane(halves[0]);
    return halves[1] != 0 ? 4 + FirstLane(halves[1]) : 8;
}

// The position of the first unit at or after `from` of `text` for which `match` holds:
// `matchLanes` tests eight units at once and `match` one. `text` is a std::u16string_view or
// UnitsLE.
template <typename Text, typename MatchLanes, typename Match>
size_t FindFirstUnit(Text text, size_t from, MatchLanes matchLanes, Match match) {
    size_t i = from;
    for (; i + 8 <= text.size(); i += 8)
        if (size_t lane = FirstTrueLane(matchLanes(LoadEightUnits(text, i))); lane < 8)
            return i + lane;
    while (i < text.size() && !match(text[i]))
        ++i;
    return i;
}

// The position of the first `unit` at or after `from` in `text`, or text.size().
size_t FindUnit(std::u16string_view text, char16_t unit, size_t from = 0);
size_t FindUnit(UnitsLE text, char16_t unit, size_t from = 0);

// The text without the blanks (U+0020) it begins and ends with.
inline std::u16string_view TrimSpaces(std::u16string_view text) {
    while (!text.empty() && text.front() == u' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    return text;
}

// Converts `count` little-endian units at `bytes` into `out`.
void CopyUnitsLE(const uint8_t* bytes, size_t count, char16_t* out);
// Appends the units of `text` to `out`.
void AppendUnits(std::u16string& out, UnitsLE text);
// The units of a text that a cursor read from `bytes` (CheckedReader::Text), put in `buffer`.
std::u16string_view UnitsOf(std::span<const uint8_t> bytes, TextField field,
                            std::u16string& buffer);
// Stores the units of `text` at `out` as little-endian bytes.
void StoreUnitsLE(std::u16string_view text, uint8_t* out);

// Appends the units of `text` to `out` as little-endian bytes.
void AppendUnitsLE(std::vector<uint8_t>& out, std::u16string_view text);

// The units of a text held as little-endian bytes: at most `available` units, ending before
// the first zero unit, or after `count` units when `count` is not negative.
std::u16string_view ReadUnitsLE(const uint8_t* bytes, size_t available, int32_t count,
                                std::u16string& buffer);

// UTF-8 of a text, for the edges that speak it (terminals, UTF-8 files). A lone surrogate,
// which no UTF-8 text can hold, becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// One UTF-8 sequence read at `i` of a text: its code point and its length in bytes. A sequence
// that is no UTF-8 (a stray or missing continuation byte, an overlong form, a surrogate or a
// value past U+10FFFF) is not `valid`: it covers its lead byte and the continuation bytes that
// follow, up to as many as the lead byte announces, and holds the bits they give.
struct Utf8Sequence {
    uint32_t code = 0;
    size_t length = 1;
    bool valid = false;
};
Utf8Sequence DecodeUtf8(std::string_view text, size_t i);

// Appends the UTF-16 of a UTF-8 text to `out`. False, with `out` partly appended, for bytes
// that are no UTF-8: a stray or missing continuation byte, an overlong form, a surrogate or a
// value past U+10FFFF.
bool AppendFromUtf8(std::u16string& out, std::string_view text);

}  // namespace quelvar
