#include "exchange/language_names.h"

#include <string>

namespace quelvar {

namespace {

struct LanguageName {
    uint32_t id;
    std::string_view name;
};

// One row a name. The first row of a language, in this order, is what its bare code gives.
// 0x0501 is the Windows pseudo-locale (qps-ploc) of pseudo-translations.
constexpr LanguageName kNames[] = {
    {0x0436, "af_ZA"},
    {0x041C, "sq_AL"},
    {0x0401, "ar_SA"},
    {0x0C01, "ar_EG"},
    {0x042B, "hy_AM"},
    {0x042D, "eu_ES"},
    {0x0423, "be_BY"},
    {0x0445, "bn_IN"},
    {0x0402, "bg_BG"},
    {0x0403, "ca_ES"},
    {0x0804, "zh_CN"},
    {0x0404, "zh_TW"},
    {0x0C04, "zh_HK"},
    {0x1004, "zh_SG"},
    {0x1404, "zh_MO"},
    {0x041A, "hr_HR"},
    {0x0405, "cs_CZ"},
    {0x0406, "da_DK"},
    {0x0413, "nl_NL"},
    {0x0813, "nl_BE"},
    {0x0409, "en_US"},
    {0x0809, "en_GB"},
    {0x0C09, "en_AU"},
    {0x1009, "en_CA"},
    {0x1409, "en_NZ"},
    {0x1809, "en_IE"},
    {0x0425, "et_EE"},
    {0x0464, "fil_PH"},
    {0x040B, "fi_FI"},
    {0x040C, "fr_FR"},
    {0x080C, "fr_BE"},
    {0x0C0C, "fr_CA"},
    {0x100C, "fr_CH"},
    {0x0456, "gl_ES"},
    {0x0437, "ka_GE"},
    {0x0407, "de_DE"},
    {0x0807, "de_CH"},
    {0x0C07, "de_AT"},
    {0x0408, "el_GR"},
    {0x040D, "he_IL"},
    {0x0439, "hi_IN"},
    {0x040E, "hu_HU"},
    {0x040F, "is_IS"},
    {0x0421, "id_ID"},
    {0x0410, "it_IT"},
    {0x0810, "it_CH"},
    {0x0411, "ja_JP"},
    {0x043F, "kk_KZ"},
    {0x0412, "ko_KR"},
    {0x0426, "lv_LV"},
    {0x0427, "lt_LT"},
    {0x042F, "mk_MK"},
    {0x043E, "ms_MY"},
    {0x0414, "nb_NO"},
    {0x0814, "nn_NO"},
    {0x0429, "fa_IR"},
    {0x0415, "pl_PL"},
    {0x0816, "pt_PT"},
    {0x0416, "pt_BR"},
    {0x0418, "ro_RO"},
    {0x0419, "ru_RU"},
    {0x0C1A, "sr_RS"},
    {0x081A, "sr_RS@latin"},
    {0x041B, "sk_SK"},
    {0x0424, "sl_SI"},
    {0x0C0A, "es_ES"},
    {0x080A, "es_MX"},
    {0x2C0A, "es_AR"},
    {0x0441, "sw_KE"},
    {0x041D, "sv_SE"},
    {0x0449, "ta_IN"},
    {0x044A, "te_IN"},
    {0x041E, "th_TH"},
    {0x041F, "tr_TR"},
    {0x0422, "uk_UA"},
    {0x0420, "ur_PK"},
    {0x0443, "uz_UZ"},
    {0x042A, "vi_VN"},
    {0x0501, "qps_ploc"},
    // Further languages and countries that translation platforms offer.
    {0x141A, "bs_BA"},
    {0x042C, "az_AZ"},
    {0x083C, "ga_IE"},
    {0x0461, "ne_NP"},
    {0x0446, "pa_IN"},
    {0x044E, "mr_IN"},
    {0x0447, "gu_IN"},
    {0x044B, "kn_IN"},
    {0x044C, "ml_IN"},
    {0x045B, "si_LK"},
    {0x0453, "km_KH"},
    {0x0454, "lo_LA"},
    {0x0455, "my_MM"},
    {0x045E, "am_ET"},
    {0x0452, "cy_GB"},
    {0x0450, "mn_MN"},
    {0x580A, "es_419"},
    {0x540A, "es_US"},
    {0x240A, "es_CO"},
    {0x4009, "en_IN"},
    {0x1C09, "en_ZA"},
    {0x0820, "ur_IN"},
    {0x0845, "bn_BD"},
};

// Names that stand for another: Norwegian is Bokmål; Crowdin's Serbian of Serbia and Montenegro
// (the code of the former country) is Latin, of "SP" Cyrillic; Tagalog is written as Filipino;
// "iw" is the former code of Hebrew.
constexpr LanguageName kAliases[] = {{0x0414, "no"},    {0x0414, "no_NO"}, {0x081A, "sr_CS"},
                                     {0x0C1A, "sr_SP"}, {0x0464, "tl"},    {0x0464, "tl_PH"},
                                     {0x040D, "iw"},    {0x040D, "iw_IL"}};

// Languages written in more than one script, by language, script subtag (ISO 15924, as BCP 47
// and the Unicode locale names write it) and country, as Microsoft's table of language ids
// gives them. A row without a country is what the script alone gives.
struct ScriptName {
    std::string_view language, script, country;
    uint32_t id;
};
constexpr ScriptName kScripts[] = {
    {"zh", "hans", "", 0x0804},   {"zh", "hans", "cn", 0x0804}, {"zh", "hans", "sg", 0x1004},
    {"zh", "hant", "", 0x0404},   {"zh", "hant", "tw", 0x0404}, {"zh", "hant", "hk", 0x0C04},
    {"zh", "hant", "mo", 0x1404}, {"sr", "latn", "", 0x081A},   {"sr", "latn", "cs", 0x081A},
    {"sr", "latn", "rs", 0x241A}, {"sr", "latn", "me", 0x2C1A}, {"sr", "latn", "ba", 0x181A},
    {"sr", "cyrl", "", 0x0C1A},   {"sr", "cyrl", "cs", 0x0C1A}, {"sr", "cyrl", "rs", 0x281A},
    {"sr", "cyrl", "me", 0x301A}, {"sr", "cyrl", "ba", 0x1C1A}, {"bs", "latn", "", 0x141A},
    {"bs", "cyrl", "", 0x201A},   {"uz", "latn", "", 0x0443},   {"uz", "cyrl", "", 0x0843},
    {"az", "latn", "", 0x042C},   {"az", "cyrl", "", 0x082C},   {"pa", "guru", "", 0x0446},
    {"pa", "arab", "", 0x0846},   {"sd", "arab", "", 0x0859},   {"sd", "deva", "", 0x0459},
    {"ks", "arab", "", 0x0460},   {"ks", "deva", "", 0x0860},   {"mn", "cyrl", "", 0x0450},
    {"mn", "mong", "", 0x0850},   {"tg", "cyrl", "", 0x0428},   {"ha", "latn", "", 0x0468},
    {"iu", "cans", "", 0x045D},   {"iu", "latn", "", 0x085D},   {"tzm", "arab", "", 0x045F},
    {"tzm", "latn", "", 0x085F},  {"tzm", "tfng", "", 0x105F},  {"ff", "latn", "", 0x0867},
    {"ku", "arab", "", 0x0492},
};

bool IsLetters(std::string_view s) {
    for (char c : s)
        if (c < 'a' || c > 'z')
            return false;
    return true;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// The first row whose name is `want`, or with `countryFree`, whose name without its "_CC"
// is `want`.
bool Find(std::string_view want, bool countryFree, uint32_t& id) {
    for (const LanguageName* table : {kAliases, kNames}) {
        if (table == kAliases && countryFree)
            continue;  // an alias stands for its own name only
        size_t n = table == kAliases ? std::size(kAliases) : std::size(kNames);
        for (size_t i = 0; i < n; ++i) {
            std::string name(table[i].name);
            if (countryFree) {
                size_t us = name.find('_'), at = name.find('@');
                if (us != std::string::npos)
                    name.erase(us, (at == std::string::npos ? name.size() : at) - us);
            }
            if (SameName(name, want)) {
                id = table[i].id;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool LanguageIdOfName(std::string_view name, uint32_t& id) {
    std::string n(name);
    for (char& c : n)
        c = c == '-' ? '_' : Lower(c);
    size_t dot = n.find('.');
    if (dot != std::string::npos) {
        size_t at = n.find('@', dot);
        n.erase(dot, (at == std::string::npos ? n.size() : at) - dot);
    }
    if (n.empty() || n.size() > 32)
        return false;
    // A script subtag after the language ("zh_Hant", "sr-Latn-RS", "zh_Hant_TW"): the script
    // chooses the id, with the country where the table has it; a script the language is not
    // known to be written in (the only one it has) is left out.
    size_t first = n.find('_'), at = n.find('@');
    if (first != std::string::npos && first < at) {
        size_t second = n.find('_', first + 1);
        std::string_view script =
            std::string_view(n).substr(first + 1, std::min(second, at) - first - 1);
        if (script.size() == 4 && IsLetters(script)) {
            std::string_view language = std::string_view(n).substr(0, first);
            std::string_view country;
            if (second != std::string::npos && second < at) {
                country = std::string_view(n).substr(second + 1, at - second - 1);
                if (country.empty())
                    return false;
            }
            const ScriptName* found = nullptr;
            for (const ScriptName& row : kScripts)
                if (row.language == language && row.script == script &&
                    (row.country == country || (row.country.empty() && found == nullptr)))
                    found = &row;
            if (found != nullptr && at == std::string::npos) {
                id = found->id;
                return true;
            }
            n.erase(first, std::min(second, at) - first);
        }
    }
    if (Find(n, false, id))
        return true;
    // "de_LU" or "sr_ME@latin": the language (and variant) without the country.
    size_t us = n.find('_'), variant = n.find('@');
    std::string bare = n;
    if (us != std::string::npos)
        bare.erase(us, (variant == std::string::npos ? n.size() : variant) - us);
    return Find(bare, true, id);
}

std::string_view LanguageNameOfId(uint32_t id) {
    for (const LanguageName& row : kNames)
        if (row.id == id)
            return row.name;
    // A language with the neutral sublanguage (0x0007, German of no country, as Wine's programs
    // carry many) is the bare code of the language's first row: "de".
    if (id != 0 && id <= 0x3FF)
        for (const LanguageName& row : kNames)
            if ((row.id & 0x3FF) == id)
                return row.name.substr(0, row.name.find('_'));
    return {};
}

}  // namespace quelvar
