// Language names as gettext writes them (de, de_DE, pt_BR, sr@latin) and the Windows language
// ids that resources carry.
#pragma once

#include <cstdint>
#include <string_view>

namespace quelvar {

// The Windows language id of a name: "ll", "ll_CC" or either with "@variant", a ".charset"
// ignored, "-" taken for "_" (BCP 47 tags) and case ignored. A bare "ll" gives the language's
// main country. A script subtag ("zh_Hant", "sr-Latn", "zh-Hant-HK") chooses among the ids of a
// language written in several scripts; after a language written in one, it is ignored. False for
// a name the table does not know.
bool LanguageIdOfName(std::string_view name, uint32_t& id);

// The name of a Windows language id ("de_DE", "sr@latin"); empty for an id the table does not
// know.
std::string_view LanguageNameOfId(uint32_t id);

}  // namespace quelvar
