// The one reader of integers written as text: language ids on the command line and in
// language files, point sizes of dialog fonts.
#pragma once

#include <cstdint>
#include <string_view>

namespace quelvar {

// What ScanInteger found at the start of a text.
struct ScannedInteger {
    uint64_t magnitude = 0;  // modulo 2^64; `overflow` tells when it passed 0xFFFFFFFF
    bool negative = false;
    bool digits = false;    // at least one digit was read
    bool overflow = false;  // the magnitude passed 0xFFFFFFFF
    size_t end = 0;         // the position just past the number (and the blanks after it)
};

struct IntegerSyntax {
    bool blanks = false;  // spaces and tabs may stand before the number
    bool sign = false;    // a '+' or '-' may stand before the digits
    bool hex = false;     // "0x" or "0X" introduces hexadecimal digits
};

// Reads an integer from the start of `text` up to the first unit that cannot continue it.
template <typename Char>
ScannedInteger ScanInteger(std::basic_string_view<Char> text, IntegerSyntax syntax) {
    ScannedInteger n;
    size_t i = 0;
    auto isBlank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
    if (syntax.blanks)
        while (i < text.size() && isBlank(text[i]))
            ++i;
    if (syntax.sign && i < text.size() && (text[i] == Char('-') || text[i] == Char('+')))
        n.negative = text[i++] == Char('-');
    unsigned base = 10;
    if (syntax.hex && i + 2 < text.size() && text[i] == Char('0') &&
        (text[i + 1] == Char('x') || text[i + 1] == Char('X'))) {
        base = 16;
        i += 2;
    }
    for (; i < text.size(); ++i) {
        Char c = text[i];
        unsigned d;
        if (c >= Char('0') && c <= Char('9'))
            d = static_cast<unsigned>(c - Char('0'));
        else if (base == 16 && c >= Char('a') && c <= Char('f'))
            d = static_cast<unsigned>(c - Char('a') + 10);
        else if (base == 16 && c >= Char('A') && c <= Char('F'))
            d = static_cast<unsigned>(c - Char('A') + 10);
        else
            break;
        n.magnitude = n.magnitude * base + d;
        n.digits = true;
        if (n.magnitude > 0xFFFFFFFFull)
            n.overflow = true;
    }
    n.end = i;
    return n;
}

// A language id as the command line gives it: decimal digits, or hexadecimal digits after
// "0x", the whole text, at most 0xFFFF.
template <typename Char>
bool ParseLanguageId(std::basic_string_view<Char> text, uint32_t& id) {
    ScannedInteger n = ScanInteger(text, IntegerSyntax{.hex = true});
    if (!n.digits || n.overflow || n.end != text.size() || n.magnitude > 0xFFFF)
        return false;
    id = static_cast<uint32_t>(n.magnitude);
    return true;
}

}  // namespace quelvar
