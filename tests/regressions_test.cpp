// Every input the fuzzers once found a fault with runs again here, with the result it must
// give: export, import of its own export, and import of a fixed language file that also
// sets a new language id.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "driver/driver.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

struct Expected {
    Result exported, reimported, fixed;
};

const std::map<std::string, Expected> kExpected = {
    {"crash-21bf62fe2291cb25039bce9218a7b3a4dde77deb",
     {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"crash-6059989fd81b5990488ca43ded13d633fa961138",
     {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"crash-ede3037af08b629be3cee251ecb0a9ea82afa90a",
     {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"crash-f0ca40e71c91c93ceccc927768dfea9e5aa02f48",
     {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"oom-1539085323a07e1eea7da16c3923ed341438eea1", {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"oom-6cc7e635082428f2db8d13e4e597d5d06e041df1", {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"timeout-10e5f7ef4104e04e52fd96e8a80659e769e48694",
     {kSuccess, kErrorBadFormat, kErrorBadFormat}},
    {"timeout-de0b314dcd2932dcb0f0e951ae2c2bb77c3782d1",
     {kSuccess, kErrorBadFormat, kErrorBadFormat}},
};

TEST(Regressions, EveryInputGivesItsResult) {
    test::TempDir dir;
    test::WriteFileBytes(dir / "fixed.lng",
                         test::LanguageFile(u"LANG=1031\r\n6.1.1=Hallo\\r\\nWelt\r\n"
                                            u"4.1.100=&\u00D6ffnen\r\n5.100.HEAD=Beispiel\r\n"
                                            u"5.100.FONT=Tahoma,9\r\n"));
    size_t seen = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(QUELVAR_REGRESSION_DIR)) {
        if (!entry.is_regular_file())
            continue;
        std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        auto expected = kExpected.find(name);
        ASSERT_NE(expected, kExpected.end()) << "a new regression input needs its results here";
        ++seen;
        std::filesystem::path out = dir / "out.exe";
        Result exported = CodeOf(Export(entry.path(), dir / "own.lng"));
        Result reimported =
            exported == kSuccess ? CodeOf(Import(entry.path(), dir / "own.lng", out)) : exported;
        Result fixed = CodeOf(Import(entry.path(), dir / "fixed.lng", out));
        EXPECT_EQ(exported, expected->second.exported);
        EXPECT_EQ(reimported, expected->second.reimported);
        EXPECT_EQ(fixed, expected->second.fixed);
        std::filesystem::remove(dir / "own.lng");
        std::filesystem::remove(out);
    }
    EXPECT_EQ(seen, kExpected.size());
}

}  // namespace
}  // namespace quelvar
