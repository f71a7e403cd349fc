// A menu item's shortcut against the accelerator table: the text after a menu item's tab
// ("Strg+Umschalt+S") promises a key that an accelerator entry of the item's command has to
// give, or the key does nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "checks/checks.h"

namespace quelvar {

// The key a shortcut names: modifiers (kAccelControl, kAccelShift, kAccelAlt) and a virtual
// key, or a character where no virtual key stands for it.
struct ShortcutKey {
    uint16_t modifiers = 0;
    uint16_t code = 0;
    bool character = false;
    bool operator==(const ShortcutKey&) const = default;
};

// The key of a menu's shortcut text: the names of an accelerator value (English, any letter
// case, modifiers in any order) or the localised names of key_names.h ("Strg+Entf"); nothing
// for text that names no key ("Ctrl+click", "Ctrl-O", two keys).
std::optional<ShortcutKey> MenuShortcutKey(std::u16string_view text);

// The key of an accelerator value as import reads it (English names, "Ctrl+'B'"); a character
// key is the key that types it: "Ctrl+'B'" (the control character 2) is Ctrl+B, "'x'" is X.
std::optional<ShortcutKey> AcceleratorKey(std::u16string_view value);

// Compares each menu item's shortcut with the accelerators of its command id in the same
// language, as the translation will be imported, and adds ShortcutKeyMismatch and
// ShortcutKeyInSource findings.
void CheckShortcutKeys(const std::vector<CheckedText>& texts, std::vector<Finding>& out);

}  // namespace quelvar
