#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"

namespace quelvar {
namespace {

// A script of cursor steps over bytes: each step's letter reads (2: Read16, 4: Read32,
// t: Text, r: TextOrRest, f: Field, a: Align4, s: Skip 2, w: Within two bytes further), and
// the position, `ok` and first failure after it.
struct CursorCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint64_t address;
    std::string steps;
    size_t pos;
    bool ok;
    size_t failedAt;
    uint32_t lastValue;  // the last number read (Read16/Read32, an ordinal, a text's units)
};

TEST(Cursor, StepsThroughTemplates) {
    const CursorCase cases[] = {
        {"numbers", {1, 0, 2, 0, 0, 0}, 0, "24", 6, true, 0, 2},
        {"number past end", {1, 0, 2}, 0, "24", 2, false, 2, 0},
        {"text and its zero", {'a', 0, 'b', 0, 0, 0, 7, 0}, 0, "t2", 8, true, 0, 7},
        {"text without zero", {'a', 0, 'b', 0}, 0, "t", 0, false, 0, 0},
        {"odd byte after text", {'a', 0, 'b'}, 0, "t", 0, false, 0, 0},
        {"ordinal", {0xFF, 0xFF, 5, 0, 9, 0}, 0, "f2", 6, true, 0, 9},
        {"ordinal cut short", {0xFF, 0xFF, 5}, 0, "f", 0, false, 0, 0},
        {"text field", {'x', 0, 0, 0}, 0, "f", 4, true, 0, 1},
        // Alignment counts from the address: a block at 2 mod 4 aligns two bytes earlier.
        {"align from the start", {1, 0, 0, 0, 0, 0, 0, 0}, 0, "2a", 4, true, 0, 1},
        {"align from the address", {1, 0, 0, 0, 0, 0, 0, 0}, 2, "2a", 2, true, 0, 1},
        {"align past end", {1, 0, 0}, 0, "2a", 2, false, 2, 1},
        {"align at end", {1, 0, 0, 0}, 0, "2sa", 4, true, 0, 1},
        {"reads after a failure fail", {1, 0}, 0, "42", 0, false, 0, 0},
        // A text that may end with its block: up to its zero, else to the last whole unit.
        {"text or rest to its zero", {'a', 0, 0, 0, 7, 0}, 0, "r2", 6, true, 0, 7},
        {"text or rest to the end", {'a', 0, 'b', 0}, 0, "r", 4, true, 0, 2},
        {"text or rest before an odd byte", {'a', 0, 'b'}, 0, "r", 2, true, 0, 1},
        {"text or rest at the end", {1, 0}, 0, "2r", 2, true, 0, 0},
        // A nested block's cursor reads no further than its end, and aligns as the outer one.
        {"within a block", {1, 0, 2, 0}, 0, "w22", 2, false, 2, 0},
        {"within keeps the address", {1, 0, 0, 0, 0, 0}, 2, "2wa", 2, true, 0, 1},
    };
    for (const CursorCase& c : cases) {
        SCOPED_TRACE(c.name);
        CheckedReader in{c.bytes, c.address};
        uint32_t last = 0;
        for (char step : c.steps) {
            switch (step) {
                case '2':
                    last = in.Read16();
                    break;
                case '4':
                    last = in.Read32();
                    break;
                case 't':
                    last = static_cast<uint32_t>(in.Text().units);
                    break;
                case 'f': {
                    OrdinalOrText field = in.Field();
                    last =
                        field.isOrdinal ? field.ordinal : static_cast<uint32_t>(field.text.units);
                    break;
                }
                case 'a':
                    in.Align4();
                    break;
                case 's':
                    in.Skip(2);
                    break;
                case 'r':
                    last = static_cast<uint32_t>(in.TextOrRest().units);
                    break;
                case 'w':
                    in = in.Within(in.pos + 2);
                    break;
            }
        }
        EXPECT_EQ(in.pos, c.pos);
        EXPECT_EQ(in.ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(in.failedAt, c.failedAt);
        }
        EXPECT_EQ(last, c.lastValue);
    }
}

}  // namespace
}  // namespace quelvar
