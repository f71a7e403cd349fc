#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "driver/driver.h"
#include "driver/language_io.h"
#include "exchange/language_file.h"

namespace quelvar::fuzz {

namespace {

std::filesystem::path MakeScratchDirectory() {
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec) || access(base.c_str(), W_OK) != 0)
        base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "quelvar-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        Fail("cannot create the scratch directory");
    return pattern;
}

std::filesystem::path scratchDirectory;

void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(scratchDirectory, ec);
}

}  // namespace

const Scratch& GetScratch() {
    static const Scratch scratch = [] {
        scratchDirectory = MakeScratchDirectory();
        std::atexit(RemoveScratch);
        Scratch s;
        s.image = scratchDirectory / "image.exe";
        s.language = scratchDirectory / "import.lng";
        s.output = scratchDirectory / "image.exe.QN";
        s.exported = scratchDirectory / "export.lng";
        return s;
    }();
    return scratch;
}

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void WriteFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        Fail("cannot write a scratch file");
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void CheckExported(const std::filesystem::path& languageFile) {
    LanguageTable table;
    std::unique_ptr<platform::FileView> view;
    if (!LoadLanguageFile(languageFile, table, view))
        Fail("an exported language file does not load");
}

void CheckUpdateCopy(const Scratch& scratch) {
    if (Outcome<> done = Export(scratch.output, scratch.exported); !done) {
        std::fprintf(stderr, "export of the update copy returned %u\n",
                     static_cast<unsigned>(done.error().code));
        Fail("the update copy is no image the driver reads");
    }
    CheckExported(scratch.exported);
}

std::vector<uint8_t> EditEveryValue(const std::vector<uint8_t>& exported) {
    static constexpr char16_t kPrefix[] = u"\u00DC\\n\\\\=";
    std::vector<uint8_t> out;
    bool inKey = true;
    for (size_t i = 0; i + 1 < exported.size(); i += 2) {
        uint16_t unit = static_cast<uint16_t>(exported[i] | (exported[i + 1] << 8));
        out.push_back(exported[i]);
        out.push_back(exported[i + 1]);
        if (i == 0)
            continue;  // the byte-order mark
        if (inKey && unit == u'=') {
            for (char16_t p : std::u16string_view(kPrefix)) {
                out.push_back(static_cast<uint8_t>(p));
                out.push_back(static_cast<uint8_t>(p >> 8));
            }
            inKey = false;
        } else if (unit == u'\n') {
            inKey = true;
        }
    }
    return out;
}

}  // namespace quelvar::fuzz
