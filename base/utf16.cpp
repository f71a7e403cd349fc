#include "base/utf16.h"

#include <algorithm>
#include <iterator>

#include "base/bytes.h"

namespace quelvar {

void AppendDecimal(std::u16string& out, int64_t value) {
    char16_t digits[24];
    size_t n = std::size(digits);  // the digits are written from the end
    uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[--n] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0)
        digits[--n] = u'-';
    out.append(digits + n, std::size(digits) - n);
}

namespace {

template <typename Text>
size_t FindUnitIn(Text text, char16_t unit, size_t from) {
    return std::min(FindFirstUnit(
                        text, from, [unit](EightUnits lanes) { return lanes == Lane(unit); },
                        [unit](char16_t u) { return u == unit; }),
                    text.size());
}

}  // namespace

size_t FindUnit(std::u16string_view text, char16_t unit, size_t from) {
    return FindUnitIn(text, unit, from);
}

size_t FindUnit(UnitsLE text, char16_t unit, size_t from) {
    return FindUnitIn(text, unit, from);
}

void CopyUnitsLE(const uint8_t* bytes, size_t count, char16_t* out) {
    if constexpr (std::endian::native == std::endian::little) {
        if (count != 0)
            std::memcpy(out, bytes, 2 * count);
    } else {
        for (size_t i = 0; i < count; ++i)
            out[i] = static_cast<char16_t>(Load16(bytes + 2 * i));
    }
}

void AppendUnits(std::u16string& out, UnitsLE text) {
    size_t at = out.size();
    out.resize(at + text.size());
    CopyUnitsLE(text.bytes, text.size(), out.data() + at);
}

std::u16string_view UnitsOf(std::span<const uint8_t> bytes, TextField field,
                            std::u16string& buffer) {
    buffer.resize(field.units);
    CopyUnitsLE(bytes.data() + field.at, field.units, buffer.data());
    return buffer;
}

void AppendUnitsLE(std::vector<uint8_t>& out, std::u16string_view text) {
    size_t at = out.size();
    out.resize(at + 2 * text.size());
    StoreUnitsLE(text, out.data() + at);
}

std::u16string_view ReadUnitsLE(const uint8_t* bytes, size_t available, int32_t count,
                                std::u16string& buffer) {
    size_t limit = count < 0 ? available : std::min(available, static_cast<size_t>(count));
    size_t n = UnitsBeforeZero(bytes, limit);
    buffer.resize(n);
    CopyUnitsLE(bytes, n, buffer.data());
    return buffer;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

Utf8Sequence DecodeUtf8(std::string_view text, size_t i) {
    uint8_t lead = static_cast<uint8_t>(text[i]);
    Utf8Sequence seq{lead, 1, lead < 0x80};
    if (seq.valid)
        return seq;
    size_t more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    seq.code = lead & (0x3F >> more);
    for (size_t k = 1; k <= more && i + k < text.size(); ++k) {
        uint8_t b = static_cast<uint8_t>(text[i + k]);
        if ((b & 0xC0) != 0x80)
            break;
        seq.code = (seq.code << 6) | (b & 0x3F);
        seq.length = k + 1;
    }
    static constexpr uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
    seq.valid = more > 0 && lead < 0xF5 && seq.length == more + 1 && seq.code >= kLeast[more] &&
                seq.code <= 0x10FFFF && (seq.code < 0xD800 || seq.code > 0xDFFF);
    return seq;
}

bool AppendFromUtf8(std::u16string& out, std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        Utf8Sequence seq = DecodeUtf8(text, i);
        if (!seq.valid)
            return false;
        uint32_t c = seq.code;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += seq.length;
    }
    return true;
}

void StoreUnitsLE(std::u16string_view text, uint8_t* out) {
    if constexpr (std::endian::native == std::endian::little) {
        if (!text.empty())
            std::memcpy(out, text.data(), 2 * text.size());
    } else {
        for (char16_t u : text) {
            Store16(out, u);
            out += 2;
        }
    }
}

}  // namespace quelvar
