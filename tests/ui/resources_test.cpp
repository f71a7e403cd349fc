// The compiled resources of quelvar.exe, 64-bit and 32-bit, read back byte by byte with a
// resource directory reader of the test's own: language 2052 everywhere, the string block with
// its terminating zeros counted, the dialog template, the eight icon images, the version and
// the manifest.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "tests/pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;

// Every resource of an image: (type, name, language) -> data, numeric ids only.
struct Resources {
    Bytes image;
    std::map<std::vector<uint32_t>, Bytes> data;
};

uint32_t FileOffset(const Bytes& image, uint32_t sectionTable, uint16_t sections, uint32_t rva) {
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* h = image.data() + sectionTable + 40 * i;
        uint32_t va = Load32(h + 12), raw = Load32(h + 16), pointer = Load32(h + 20);
        if (rva >= va && rva - va < raw)
            return pointer + (rva - va);
    }
    throw std::runtime_error("address outside the sections");
}

Resources ReadResources(const std::filesystem::path& path) {
    Resources r{test::ReadFileBytes(path), {}};
    const Bytes& d = r.image;
    uint32_t nt = Load32(&d[0x3C]);
    uint16_t sections = Load16(&d[nt + 6]);
    uint16_t optionalSize = Load16(&d[nt + 20]);
    uint16_t magic = Load16(&d[nt + 24]);
    uint32_t directory = nt + 24 + (magic == 0x20B ? 112 : 96) + 2 * 8;
    uint32_t table = nt + 24 + optionalSize;
    uint32_t root = FileOffset(d, table, sections, Load32(&d[directory]));
    std::function<void(uint32_t, std::vector<uint32_t>)> walk = [&](uint32_t at,
                                                                    std::vector<uint32_t> ids) {
        uint32_t count = Load16(&d[at + 12]) + Load16(&d[at + 14]);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t name = Load32(&d[at + 16 + 8 * i]), target = Load32(&d[at + 20 + 8 * i]);
            std::vector<uint32_t> next = ids;
            next.push_back(name);
            if (target & 0x80000000u) {
                walk(root + (target & 0x7FFFFFFF), next);
            } else {
                uint32_t entry = root + target;
                uint32_t offset = FileOffset(d, table, sections, Load32(&d[entry]));
                r.data[next] =
                    Bytes(d.begin() + offset, d.begin() + offset + Load32(&d[entry + 4]));
            }
        }
    };
    walk(root, {});
    return r;
}

std::u16string Units(const uint8_t* p, size_t count) {
    std::u16string text;
    for (size_t i = 0; i < count; ++i)
        text += static_cast<char16_t>(Load16(p + 2 * i));
    return text;
}

class ProgramResources : public ::testing::TestWithParam<const char*> {};

TEST_P(ProgramResources, AreAsDesigned) {
    Resources r = ReadResources(GetParam());
    std::map<uint32_t, int> types;
    for (const auto& [ids, bytes] : r.data) {
        ASSERT_EQ(ids.size(), 3u);
        EXPECT_EQ(ids[2], 2052u) << "type " << ids[0] << " name " << ids[1];
        ++types[ids[0]];
    }
    // Dialog 200, string blocks 32 to 34, icon group 100 with eight images, one version
    // resource, one manifest.
    EXPECT_EQ(types, (std::map<uint32_t, int>{{3, 8}, {5, 1}, {6, 3}, {14, 1}, {16, 1}, {24, 1}}));

    // The string block: ids 496 to 511, texts at 500 to 511, each with its zero counted.
    const Bytes& block = r.data.at({6, 32, 2052});
    const std::u16string texts[16] = {u"",
                                      u"",
                                      u"",
                                      u"",
                                      u"Quelvar",
                                      u"操作成功完成。",
                                      u"操作失败。\n\n",
                                      u"可执行文件 (*.exe;*.dll)|*.exe;*.dll|所有文件 (*.*)|*.*|",
                                      u"当前目标文件就是本程序的可执行文件。\n\nQuelvar "
                                      u"将自动退出当前程序，以便使新的程序文件生效。",
                                      u"语言文件 (*.lng)|*.lng|PO 文件 (*.po;*.pot)|*.po;*.pot|"
                                      u"所有文件 (*.*)|*.*|",
                                      u"语言文件已存在：\n%1\n\n要替换它吗？",
                                      u"翻译后的程序保留在 %1。",
                                      u"Quelvar 的更新未能完成，新的程序文件保留在：\n%1\n\n"
                                      u"再次启动 Quelvar 即可完成更新。",
                                      u"Quelvar 有一个尚未完成的更新：\n%1\n\n现在完成更新吗？",
                                      u"Quelvar %1\n\n%2\n\n翻译 Windows "
                                      u"程序的字符串表、菜单、对话框和版本信息。\n以 C++20 "
                                      u"编写，用 mingw-w64 构建。",
                                      u"关于 Quelvar(&A)..."};
    size_t stored[16] = {};
    for (int i = 0; i < 16; ++i)
        stored[i] = texts[i].empty() ? 0 : texts[i].size() + 1;
    size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        size_t n = Load16(&block[at]);
        EXPECT_EQ(n, stored[i]) << "string " << 496 + i;
        std::u16string expected = texts[i];
        if (!expected.empty())
            expected += u'\0';
        EXPECT_EQ(Units(&block[at + 2], n), expected) << "string " << 496 + i;
        at += 2 + 2 * n;
    }
    EXPECT_EQ(at, block.size());

    // The dialog: a standard template with the styles, size, title and font as designed.
    const Bytes& dialog = r.data.at({5, 200, 2052});
    EXPECT_EQ(Load32(&dialog[0]), 0x90C80848u);
    EXPECT_EQ(Load32(&dialog[4]), 0x00040410u);
    EXPECT_EQ(Load16(&dialog[8]), 14);  // controls
    EXPECT_EQ(Load16(&dialog[14]), 206);
    EXPECT_EQ(Load16(&dialog[16]), 123);
    EXPECT_EQ(Units(&dialog[18], 12), std::u16string(u"\0\0Quelvar\0\x9MS", 12));
    // The first control: the icon, its class Static by number and its title icon 100.
    const uint8_t* icon = &dialog[(18 + 2 * 24 + 3) & ~3u];
    EXPECT_EQ(Load32(icon), 0x50000103u);
    EXPECT_EQ(Load16(icon + 16), 321);
    EXPECT_EQ(Units(icon + 18, 4), (std::u16string{0xFFFF, 0x0082, 0xFFFF, 100}));

    // The icon group: 16, 32 and 48 pixels, each at 8 and at 32 bits per pixel, and 64 and 256
    // (written as 0) at 32 bits per pixel.
    const Bytes& group = r.data.at({14, 100, 2052});
    ASSERT_EQ(Load16(&group[4]), 8);
    std::multimap<int, int> images;
    for (int i = 0; i < 8; ++i) {
        const uint8_t* e = &group[6 + 14 * i];
        const int side = e[0] == 0 ? 256 : e[0];
        images.emplace(side, Load16(e + 6));
        const Bytes& image = r.data.at({3, Load16(e + 12), 2052});
        EXPECT_EQ(Load32(e + 8), image.size());
        EXPECT_EQ(Load32(&image[4]), static_cast<uint32_t>(side));  // BITMAPINFOHEADER biWidth
    }
    EXPECT_EQ(images,
              (std::multimap<int, int>{
                  {16, 8}, {16, 32}, {32, 8}, {32, 32}, {48, 8}, {48, 32}, {64, 32}, {256, 32}}));

    // The version: the project's, major.minor.patch.0 as numbers and major.minor.patch as
    // the texts of FileVersion and ProductVersion; translation language 0, code page 0.
    const Bytes& version = r.data.at({16, 1, 2052});
    std::u16string all = Units(version.data(), version.size() / 2);
    const uint8_t* fixed = &version[40];  // VS_FIXEDFILEINFO after "VS_VERSION_INFO"
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(QUELVAR_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(Load32(fixed), 0xFEEF04BDu);
    for (int at : {8, 16}) {
        EXPECT_EQ(Load32(fixed + at), major << 16 | minor);
        EXPECT_EQ(Load32(fixed + at + 4), patch << 16);
    }
    const std::string text = QUELVAR_VERSION;
    const std::u16string versionText(text.begin(), text.end());
    for (std::u16string name : {u"FileVersion", u"ProductVersion"}) {
        size_t at = all.find(name + u'\0');
        ASSERT_NE(at, std::u16string::npos);
        at += name.size() + 1;
        at += at % 2;  // the value starts on a 4-byte boundary
        EXPECT_EQ(all.compare(at, versionText.size() + 1, versionText + u'\0'), 0) << text;
    }
    for (std::u16string s : {u"ProductName", u"Translation"})
        EXPECT_NE(all.find(s), std::u16string::npos);
    size_t translation = version.size() - 4;
    EXPECT_EQ(Load32(&version[translation]), 0u);
}

TEST_P(ProgramResources, ManifestAsksForCommonControls6AndPerMonitorDpi) {
    Resources r = ReadResources(GetParam());
    const Bytes& manifest = r.data.at({24, 1, 2052});
    std::string text(manifest.begin(), manifest.end());
    for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "publicKeyToken=\"6595b64144ccf1df\"", ">true/pm</dpiAware>",
                             ">PerMonitorV2, PerMonitor</dpiAwareness>"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

INSTANTIATE_TEST_SUITE_P(Builds, ProgramResources,
                         ::testing::Values(QUELVAR_PROGRAM_X86_64, QUELVAR_PROGRAM_I686));

}  // namespace
}  // namespace quelvar
