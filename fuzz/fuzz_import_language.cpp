// Import of an arbitrary language file into a fixed image holding string tables, menus and
// dialogs (the image named by QUELVAR_FUZZ_IMAGE, a seed of the image corpus).
#include <cstdlib>

#include "driver/driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    const fuzz::Scratch& s = fuzz::GetScratch();
    static const bool ready = [&] {
        std::vector<uint8_t> image = fuzz::ReadFile(QUELVAR_FUZZ_IMAGE);
        if (image.empty())
            fuzz::Fail("the fixed image " QUELVAR_FUZZ_IMAGE " cannot be read");
        fuzz::WriteFile(s.image, image.data(), image.size());
        return true;
    }();
    (void)ready;
    fuzz::WriteFile(s.language, data, size);
    if (Import(s.image, s.language, s.output))
        fuzz::CheckUpdateCopy(s);
    return 0;
}
