// Writes the seed corpora from images built by mingw-w64: each image's resources are laid
// into a small synthetic image (so the seeds stay a few kilobytes), and each synthetic image
// is exported to a language file, once as exported and once with every value edited.
//
//   quelvar_fuzz_seeds CORPUS_DIR IMAGE...
// writes CORPUS_DIR/images/NAME.exe and CORPUS_DIR/languages/NAME.lng, NAME-edited.lng.
#include <cstdio>
#include <string>

#include "driver/driver.h"
#include "fuzz_support.h"
#include "pe_builder.h"

namespace {

using namespace quelvar;

test::ResId ToResId(const std::u16string& text) {
    bool digits = !text.empty();
    uint32_t id = 0;
    for (char16_t u : text) {
        digits = digits && u >= u'0' && u <= u'9';
        id = id * 10 + static_cast<uint32_t>(u - u'0');
    }
    return digits ? test::Id(id) : test::Name(text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quelvar_fuzz_seeds CORPUS_DIR IMAGE...\n");
        return 2;
    }
    std::filesystem::path corpus = argv[1];
    std::filesystem::create_directories(corpus / "images");
    std::filesystem::create_directories(corpus / "languages");
    for (int i = 2; i < argc; ++i) {
        std::filesystem::path source = argv[i];
        std::vector<test::Resource> resources;
        for (const test::ReadResource& r : test::ReadResources(test::ReadFileBytes(source))) {
            test::Resource res{ToResId(r.type), ToResId(r.name),
                               static_cast<uint32_t>(
                                   std::stoul(std::string(r.language.begin(), r.language.end()))),
                               r.data, r.codePage};
            resources.push_back(res);
        }
        std::string name = source.stem().string();
        std::filesystem::path image = corpus / "images" / (name + ".exe");
        test::WriteFileBytes(image, test::BuildImage(resources));
        std::filesystem::path language = corpus / "languages" / (name + ".lng");
        if (Outcome<> done = Export(image, language); !done) {
            std::fprintf(stderr, "export of %s failed: %u\n", image.c_str(), done.error().code);
            return 1;
        }
        test::WriteFileBytes(corpus / "languages" / (name + "-edited.lng"),
                             fuzz::EditEveryValue(test::ReadFileBytes(language)));
    }
    return 0;
}
