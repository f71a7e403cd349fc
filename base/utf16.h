// UTF-16 texts are sequences of 16-bit units (std::u16string); these helpers build them and
// move them to and from little-endian bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvar {

void AppendDecimal(std::u16string& out, int64_t value);

// Appends the units of `text` to `out` as little-endian bytes.
void AppendUnitsLE(std::vector<uint8_t>& out, std::u16string_view text);

// The units of a text held as little-endian bytes: at most `available` units, ending before
// the first zero unit, or after `count` units when `count` is not negative.
std::u16string_view ReadUnitsLE(const uint8_t* bytes, size_t available, int32_t count,
                                std::u16string& buffer);

// UTF-8 of a text, for the edges that speak it (terminals, UTF-8 files). A lone surrogate,
// which no UTF-8 text can hold, becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Appends the UTF-16 of a UTF-8 text to `out`. False, with `out` partly appended, for bytes
// that are no UTF-8: a stray or missing continuation byte, an overlong form, a surrogate or a
// value past U+10FFFF.
bool AppendFromUtf8(std::u16string& out, std::string_view text);

}  // namespace quelvar
