// String table blocks through whole export and import runs: keys and ids, escapes, counted
// strings with and without their zero, edited values read back by an independent reader,
// blocks no reader can use, and images built by windres, also through quelvar-cli.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "driver/driver.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Id;
using test::ReadResource;
using test::Resource;

Bytes Block(const std::vector<std::u16string>& strings) {
    return test::StringBlock(strings);
}

// The 16 counted strings of a block, as a reader sees them; throws when they run past it.
std::vector<std::u16string> Strings(const Bytes& block) {
    std::vector<std::u16string> out;
    size_t at = 0;
    for (size_t k = 0; k < 16; ++k) {
        size_t n = test::Get16(block, at);
        std::u16string s;
        for (size_t i = 0; i < n; ++i)
            s.push_back(static_cast<char16_t>(test::Get16(block, at + 2 + 2 * i)));
        out.push_back(s);
        at += 2 + 2 * n;
    }
    return out;
}

std::u16string Z(std::u16string s) {
    return s + u'\0';
}

Resource Strings6(uint32_t block, Bytes data, uint32_t language = 1033) {
    return Resource{Id(6), Id(block), language, std::move(data), 0};
}

struct Runner {
    test::TempDir dir;

    std::u16string Export(const Bytes& image) {
        test::WriteFileBytes(dir / "in.exe", image);
        EXPECT_EQ(CodeOf(quelvar::Export(dir / "in.exe", dir / "out.lng")), kSuccess);
        return test::LanguageText(test::ReadFileBytes(dir / "out.lng"));
    }

    std::vector<ReadResource> Import(const Bytes& image, std::u16string_view language,
                                     uint32_t source = kAllLanguages) {
        test::WriteFileBytes(dir / "in.exe", image);
        test::WriteFileBytes(dir / "in.lng", test::LanguageFile(language));
        std::filesystem::path out = dir / "out.exe";
        EXPECT_EQ(CodeOf(quelvar::Import(dir / "in.exe", dir / "in.lng", out, OfLanguage(source))),
                  kSuccess);
        return test::ReadResources(test::ReadFileBytes(out));
    }
};

const ReadResource& Find(const std::vector<ReadResource>& all, std::u16string_view type,
                         std::u16string_view name, std::u16string_view language = u"1033") {
    for (const ReadResource& r : all)
        if (r.type == type && r.name == name && r.language == language)
            return r;
    throw std::runtime_error("resource not found");
}

TEST(StringTable, ExportWritesNonEmptyStringsByIdInWalkOrder) {
    Bytes image = test::BuildImage({
        Strings6(1, Block({u"zero", u"", u"x"})),
        Strings6(32, Block({u"",
                            u"",
                            u"",
                            u"",
                            Z(u"Quelvar"),
                            Z(u""),
                            Z(u"Failed.\n\n"),
                            std::u16string(u"ab\0c", 4),
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            {},
                            u"a\\b\r"})),
    });
    Runner run;
    EXPECT_EQ(run.Export(image),
              u"6.1.0=zero\r\n6.1.2=x\r\n"
              u"6.32.500=Quelvar\r\n6.32.502=Failed.\\n\\n\r\n6.32.503=ab\r\n"
              u"6.32.511=a\\\\b\\r\r\n");
}

TEST(StringTable, UnchangedRoundTripGivesBackEveryBlock) {
    Bytes withZeros = Block({Z(u"One"), u"", Z(u"Two\r\n"), Z(u"")});
    Bytes withoutZeros = Block({u"One", u"", u"Two\r\n", u"\u4F60\u597D"});
    Bytes rcdata = {'o', 'd', 'd'};
    Bytes image = test::BuildImage({Strings6(1, withZeros), Strings6(2, withoutZeros),
                                    Strings6(3, Block({std::u16string(u"ab\0c", 4)})),
                                    Resource{Id(10), Id(7), 1033, rcdata, 0}});
    Runner run;
    std::u16string exported = run.Export(image);
    auto result = run.Import(image, exported);

    // A translation counts a zero only where its source string did.
    EXPECT_EQ(Find(result, u"6", u"1").data, withZeros);
    EXPECT_EQ(Find(result, u"6", u"2").data, withoutZeros);
    // Units after a zero inside a string are not exported, so they do not come back.
    EXPECT_EQ(Strings(Find(result, u"6", u"3").data)[0], Z(u"ab"));
    EXPECT_EQ(Find(result, u"10", u"7").data, rcdata);
}

// A translation carries a counted zero where its source string had one (as LoadStringW then
// returns the length the program's own strings have); an empty value is one zero unit; a slot
// without a text, which export skips, is not written. The other language keeps every byte.
TEST(StringTable, ImportWritesEditedValuesWithTheZeroOfTheirSource) {
    const Bytes german = Block({u"", u"behalten", u"alt"});
    Bytes image = test::BuildImage({
        Strings6(32, Block({u"", u"keep", u"old", u"old", u"old", Z(u"old"), Z(u""),
                            std::u16string(u"ab\0c", 4)})),
        Strings6(32, german, 1031),
    });
    Runner run;
    auto result = run.Import(image,
                             u"6.32.496=x\r\n"              // an empty slot: ignored
                             u"6.32.498=a\\\\b\\r\\nc\r\n"  // escapes decoded
                             u"6.32.499=\r\n"               // an empty value
                             u"6.32.500=longer than before, = and all\r\n"
                             u"6.32.501=neu\r\n"
                             u"6.32.502=y\r\n"  // only a zero: nothing to translate
                             u"6.32.503=cd\r\n"
                             u"6.99.9999=no such block\r\n",
                             1033);
    std::vector<std::u16string> expected = {
        u"",       u"keep", u"a\\b\r\nc", Z(u""), u"longer than before, = and all",
        Z(u"neu"), Z(u""),  Z(u"cd")};
    expected.resize(16);
    EXPECT_EQ(Strings(Find(result, u"6", u"32").data), expected);
    EXPECT_EQ(Find(result, u"6", u"32", u"1031").data, german);
    EXPECT_EQ(result.size(), 2u);
}

TEST(StringTable, BlocksWithoutIdsOrWithStringsPastTheirDataAreKept) {
    Bytes good = Block({u"a"});
    Bytes pastEnd = {5, 0, 'a', 0, 'b', 0};  // claims 5 units, holds 2
    Bytes fifteen = Block({u"a"});
    fifteen.resize(fifteen.size() - 2);  // the 16th length word is missing
    Bytes tail = Block({u"t"});
    tail.insert(tail.end(), {0xAB, 0xCD, 0xEF});
    std::vector<Resource> resources = {
        Strings6(1, good),
        Strings6(2, pastEnd),
        Strings6(3, fifteen),
        Strings6(0, good),
        Strings6(4097, good),
        Resource{Id(6), test::Name(u"TEXT"), 1033, good, 0},
        Resource{Id(6), test::Name(u"07"), 1033, good, 0},
        Strings6(5, tail),
    };
    Bytes image = test::BuildImage(resources);
    Runner run;
    EXPECT_EQ(run.Export(image), u"6.1.0=a\r\n6.5.64=t\r\n");

    auto result = run.Import(image, u"6.1.0=A\r\n6.2.16=B\r\n6.3.32=C\r\n6.5.64=T\r\n");
    EXPECT_EQ(Strings(Find(result, u"6", u"1").data)[0], u"A");
    EXPECT_EQ(Find(result, u"6", u"2").data, pastEnd);
    EXPECT_EQ(Find(result, u"6", u"3").data, fifteen);
    EXPECT_EQ(Find(result, u"6", u"0").data, good);
    EXPECT_EQ(Find(result, u"6", u"4097").data, good);
    EXPECT_EQ(Find(result, u"6", u"TEXT").data, good);
    EXPECT_EQ(Find(result, u"6", u"07").data, good);
    // Bytes after the 16 strings stay after them.
    Bytes rebuilt = Find(result, u"6", u"5").data;
    EXPECT_EQ(Strings(rebuilt)[0], u"T");
    EXPECT_EQ(Bytes(rebuilt.end() - 3, rebuilt.end()), (Bytes{0xAB, 0xCD, 0xEF}));
}

TEST(StringTable, TranslationTooLongForTheLengthWordIsCut) {
    Bytes image = test::BuildImage({Strings6(1, Block({u"a", u"b", u"c", Z(u"d"), Z(u"e")}))});
    std::u16string huge(70000, u'x');
    // The cut falls inside a surrogate pair, which goes as a whole; with a counted zero the
    // text keeps one unit less.
    auto pair = [](size_t before) { return std::u16string(before, u'y') + u"\U0001F600zz"; };
    Runner run;
    auto result = run.Import(image, u"6.1.0=" + huge + u"\r\n6.1.1=" + pair(65534) +
                                        u"\r\n6.1.2=next\r\n6.1.3=" + huge + u"\r\n6.1.4=" +
                                        pair(65533) + u"\r\n");
    auto strings = Strings(Find(result, u"6", u"1").data);
    EXPECT_EQ(strings[0], std::u16string(65535, u'x'));
    EXPECT_EQ(strings[1], std::u16string(65534, u'y'));
    EXPECT_EQ(strings[2], u"next");
    EXPECT_EQ(strings[3], Z(std::u16string(65534, u'x')));
    EXPECT_EQ(strings[4], Z(std::u16string(65533, u'y')));
}

// Images built by windres from samples/strings.rc.

const std::u16string kSampleExport =
    u"6.1.1=Hello\r\n"
    u"6.1.2=Line one\\r\\nLine two\\nEnd\r\n"
    u"6.1.3=C:\\\\Temp\\\\\r\n"
    u"6.1.4=Gr\u00F6\u00DFe: 5 \u20AC \U0001F600\r\n"
    u"6.1.15=Last\r\n"
    u"6.1.1=\u4F60\u597D\r\n"
    u"6.32.500=Quelvar\r\n"
    u"6.32.502=Operation failed.\\n\\n\r\n"
    u"6.32.505=Language files (*.lng)|*.lng|\r\n"
    u"6.32.500=\u7FFB\u8BD1\u5668\r\n"
    u"6.32.502=\u64CD\u4F5C\u5931\u8D25\u3002\\n\\n\r\n"
    u"16.1.FileDescription=\u5B57\u7B26\u4E32\r\n"
    u"16.1.ProductName=Strings Sample\r\n"
    u"16.1.ProductVersion=2.5\r\n";

class StringTableSample : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::SampleImageDir().empty())
            GTEST_SKIP() << "no mingw-w64";
        image = test::ReadFileBytes(test::SampleImageDir() / "strings32.exe");
        source = test::ReadResources(image);
    }
    Bytes image;
    std::vector<ReadResource> source;
};

// Every resource but the string blocks 1 and 32 is byte-identical to the source.
void ExpectOthersUnchanged(const std::vector<ReadResource>& source,
                           const std::vector<ReadResource>& result) {
    ASSERT_EQ(result.size(), source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        EXPECT_EQ(result[i].type + u"/" + result[i].name, source[i].type + u"/" + source[i].name);
        if (source[i].type == u"6" && (source[i].name == u"1" || source[i].name == u"32"))
            continue;
        EXPECT_EQ(result[i].data, source[i].data);
    }
}

TEST_F(StringTableSample, ExportAndUnchangedImport) {
    Runner run;
    ASSERT_EQ(run.Export(image), kSampleExport);

    auto result = run.Import(image, kSampleExport, 1033);
    ExpectOthersUnchanged(source, result);
    // Block 32 stores every zero, block 1 none, as windres stores it: both identical.
    EXPECT_EQ(Find(result, u"6", u"32").data, Find(source, u"6", u"32").data);
    // The language not translated keeps every byte; block 1, without zeros, comes back identical.
    EXPECT_EQ(Find(result, u"6", u"32", u"2052").data, Find(source, u"6", u"32", u"2052").data);
    EXPECT_EQ(Find(result, u"6", u"1").data, Find(source, u"6", u"1").data);
}

TEST_F(StringTableSample, CommandLineExportAndImport) {
#ifdef _WIN32
    GTEST_SKIP() << "drives quelvar-cli through a POSIX shell";
#endif
    test::TempDir dir;
    test::WriteFileBytes(dir / "app.exe", image);
    std::string app = (dir / "app.exe").string();
    std::string cli = QUELVAR_CLI;
    ASSERT_EQ(std::system((cli + " export '" + app + "' >/dev/null").c_str()), 0);
    std::u16string exported = test::LanguageText(test::ReadFileBytes(dir / "app.lng"));
    EXPECT_EQ(exported, kSampleExport);

    test::WriteFileBytes(dir / "app.lng",
                         test::LanguageFile(u"6.1.3=D:\\\\\r\n6.32.500=\u8BD1\r\n6.1.0=new\r\n"));
    ASSERT_EQ(std::system((cli + " import '" + app + "' '" + (dir / "app.lng").string() +
                           "' --language 1033 >/dev/null")
                              .c_str()),
              0);
    auto result = test::ReadResources(test::ReadFileBytes(dir / "app.exe"));
    ExpectOthersUnchanged(source, result);
    auto english = Strings(Find(result, u"6", u"1").data);
    EXPECT_EQ(english[0], u"");  // an empty slot: export has no line for it, import neither
    EXPECT_EQ(english[1], u"Hello");
    EXPECT_EQ(english[3], u"D:\\");
    EXPECT_EQ(Strings(Find(result, u"6", u"32").data)[4], Z(u"\u8BD1"));
    EXPECT_EQ(Find(result, u"6", u"32", u"2052").data, Find(source, u"6", u"32", u"2052").data);
    EXPECT_EQ(Strings(Find(result, u"6", u"32").data)[6], Z(u"Operation failed.\n\n"));
}

}  // namespace
}  // namespace quelvar
