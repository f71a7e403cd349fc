// Accelerator table entries as people read and write them: "Ctrl+O", "Ctrl+Shift+F5",
// "Alt+Enter", "Ctrl++", and a character key (no VIRTKEY flag) in quotes, "Ctrl+'B'", in the
// English key names that menus show after their tab.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvar {

constexpr uint32_t kAcceleratorType = 9;

// The fFlags bits that a value says; the others (FNOINVERT, the last entry's 0x80) are kept
// from the entry the value replaces.
constexpr uint16_t kAccelVirtKey = 0x01, kAccelShift = 0x04, kAccelControl = 0x08, kAccelAlt = 0x10;
constexpr uint16_t kAccelKeyFlags = kAccelVirtKey | kAccelShift | kAccelControl | kAccelAlt;

// The value of an entry: modifiers in the order Ctrl, Shift, Alt, then the key. A virtual key
// without a name is "0x" and its hexadecimal code; a character key is the character in quotes,
// a control character (1 to 31) Ctrl with the character 64 above it in quotes (0x02 "Ctrl+'B'"),
// and one that does not print "U+" and four hexadecimal digits.
std::u16string AcceleratorText(uint16_t flags, uint16_t key);

// Reads a value back: names in any letter case, blanks between the parts. Sets `flags` to the
// kAccelKeyFlags bits it says and `key` to the code; false for text that names no key.
bool ParseAccelerator(std::u16string_view text, uint16_t& flags, uint16_t& key);

}  // namespace quelvar
