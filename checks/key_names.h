// The names that localised Windows versions give the keys of a shortcut ("Strg+N" in German,
// "Suppr" in French), and the English names they stand for. The table is plain data, so that
// every reader of shortcuts (menu texts, accelerator tables) can use it.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quelvar {

struct KeyName {
    std::u16string_view localised;  // as the localised system writes it
    std::u16string_view english;    // the English name: "Ctrl", "Shift", "Del", ...
    std::string_view languages;     // where it is used, for the reader of the table
};

// Every row of the table.
std::span<const KeyName> LocalisedKeyNames();

// A shortcut ("Strg+Umschalt+N", "ctrl+n") in one spelling: each key name in its English form
// with the case of the table, other keys with ASCII letters in upper case, joined by "+".
// Two shortcuts name the same keys when these are equal.
std::u16string CanonicalShortcut(std::u16string_view shortcut);

}  // namespace quelvar
