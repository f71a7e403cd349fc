#include "base/utf16.h"

#include <algorithm>

#include "base/bytes.h"

namespace quelvar {

void AppendDecimal(std::u16string& out, int64_t value) {
    char16_t digits[24];
    size_t n = 0;
    uint64_t v = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (value < 0)
        out.push_back(u'-');
    while (n > 0)
        out.push_back(digits[--n]);
}

void AppendUnitsLE(std::vector<uint8_t>& out, std::u16string_view text) {
    size_t at = out.size();
    out.resize(at + 2 * text.size());
    for (char16_t u : text) {
        Store16(out.data() + at, u);
        at += 2;
    }
}

std::u16string_view ReadUnitsLE(const uint8_t* bytes, size_t available, int32_t count,
                                std::u16string& buffer) {
    buffer.clear();
    size_t limit = count < 0 ? available : std::min(available, static_cast<size_t>(count));
    for (size_t i = 0; i < limit; ++i) {
        char16_t u = static_cast<char16_t>(Load16(bytes + 2 * i));
        if (u == 0)
            break;
        buffer.push_back(u);
    }
    return buffer;
}

}  // namespace quelvar
