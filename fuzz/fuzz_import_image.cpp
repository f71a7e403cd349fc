// Import into an arbitrary image, once with a fixed language file (which also gives every
// resource a new language) and once with the image's own export with every value edited.
// An update copy written by a successful import must be an image the driver reads again.
#include "driver/driver.h"
#include "exchange/language_file.h"
#include "fuzz_support.h"

namespace {

// Keys that the seed images have, a "LANG" line and lines the loader has to step over.
constexpr char16_t kFixedLines[] =
    u"\uFEFFLANG=1031\r\n"
    u"6.1.1=Hallo\\r\\nWelt\r\n"
    u"6.2.17=\\\\\r\n"
    u"4.1.100=&\u00D6ffnen\r\n"
    u"4.1.P0=&Datei\r\n"
    u"5.100.HEAD=Beispiel\r\n"
    u"5.100.FONT=Tahoma,9\r\n"
    u"5.100.S0=\r\n"
    u"5.ABOUT.FONT=,\r\n"
    u"no key line\r\n";

std::vector<uint8_t> FixedLanguageFile() {
    std::vector<uint8_t> bytes;
    for (char16_t u : std::u16string_view(kFixedLines)) {
        bytes.push_back(static_cast<uint8_t>(u));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    static const std::vector<uint8_t> fixed = FixedLanguageFile();
    const fuzz::Scratch& s = fuzz::GetScratch();
    fuzz::WriteFile(s.image, data, size);

    fuzz::WriteFile(s.language, fixed.data(), fixed.size());
    if (Import(s.image, s.language, s.output))
        fuzz::CheckUpdateCopy(s);

    if (!Export(s.image, s.exported))
        return 0;
    std::vector<uint8_t> edited = fuzz::EditEveryValue(fuzz::ReadFile(s.exported));
    fuzz::WriteFile(s.language, edited.data(), edited.size());
    if (Import(s.image, s.language, s.output))
        fuzz::CheckUpdateCopy(s);
    return 0;
}
