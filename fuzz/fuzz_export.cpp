// Export of an arbitrary image: any bytes either export or fail with a code, and a language
// file written by a successful export loads again.
#include "driver/driver.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quelvar;
    const fuzz::Scratch& s = fuzz::GetScratch();
    fuzz::WriteFile(s.image, data, size);
    if (Export(s.image, s.exported))
        fuzz::CheckExported(s.exported);
    return 0;
}
