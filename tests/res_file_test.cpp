// Compiled resource files (.res): read into the tree the walks run on, written back in the
// file's order, and taken by the driver as it takes an image.
#include <gtest/gtest.h>

#include "driver/batch.h"
#include "driver/driver.h"
#include "formats/handlers.h"
#include "pe_builder.h"
#include "resources/res_file.h"
#include "resources/tree.h"

namespace quelvar {
namespace {

using test::Bytes;

void Add(Bytes& b, const Bytes& more) {
    for (uint8_t byte : more)
        b.push_back(byte);
}
Bytes Ordinal(uint16_t id) {
    return {0xFF, 0xFF, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
}
Bytes Text(std::u16string_view name) {
    Bytes b = test::Utf16(name);
    b.resize(b.size() + 2);
    return b;
}

// One record: its type and name as written, DataVersion 0, MemoryFlags, LanguageId, Version 7
// and Characteristics 9, the data and its padding.
Bytes Record(const Bytes& type, const Bytes& name, uint16_t language, const Bytes& data,
             uint16_t memoryFlags = 0x1030) {
    Bytes b(8);
    Add(b, type);
    Add(b, name);
    b.resize((b.size() + 3) / 4 * 4 + 16);
    size_t fields = b.size() - 16;
    test::Put32(b, 0, static_cast<uint32_t>(data.size()));
    test::Put32(b, 4, static_cast<uint32_t>(b.size()));
    test::Put16(b, fields + 4, memoryFlags);
    test::Put16(b, fields + 6, language);
    test::Put32(b, fields + 8, 7);
    test::Put32(b, fields + 12, 9);
    Add(b, data);
    b.resize((b.size() + 3) / 4 * 4);
    return b;
}

Bytes ResFileOf(const std::vector<Bytes>& records) {
    Bytes b = Record(Ordinal(0), Ordinal(0), 0, {}, 0);
    for (const Bytes& r : records)
        Add(b, r);
    return b;
}

// Out of a linker's order: a string table before a named type and a named dialog, a German
// table after them.
std::vector<Bytes> SampleRecords() {
    return {Record(Ordinal(6), Ordinal(1), 1033, test::StringBlock({u"Hello", u"World"})),
            Record(Text(u"MYDATA"), Text(u"ONE"), 1033, {1, 2, 3}, 0x0010),
            Record(Ordinal(5), Text(u"ABOUT"), 1033, test::CaptionDialog(u"About")),
            Record(Ordinal(6), Ordinal(1), 1031, test::StringBlock({u"Hallo"}))};
}

WalkOptions Translating(uint32_t source, uint32_t target, bool add) {
    WalkOptions options;
    options.languageFilter = source;
    options.languageOverride = target;
    options.addLanguage = add;
    return options;
}

// The file's keys with their languages ("6.1.0@1033 ") and its rebuild with 6.1.1 translated.
Bytes Rebuild(std::span<const uint8_t> bytes, const WalkOptions& options, std::string* keys) {
    ResFile file;
    ResFileError error;
    EXPECT_EQ(ReadResFile(bytes, file, error), kSuccess);
    std::vector<uint8_t> tree, out;
    ResourceSection section = ResFileSection(bytes, file, tree);
    EXPECT_EQ(CheckResourceTree(section), kSuccess);
    ExportTexts(section, ResourceHandlers(), {}, [&](const TextItem& item) {
        for (char16_t c : item.key)
            *keys += static_cast<char>(c);
        *keys += '@';
        *keys += std::to_string(item.resource->language);
        *keys += ' ';
    });
    TextSource source = [](std::u16string_view key, std::u16string& text) {
        text = u"Welt!";
        return key == u"6.1.1";
    };
    SectionWriter writer;
    RebuildSection(section, ResourceHandlers(), options, source, writer);
    EXPECT_EQ(WriteResFile(bytes, file, writer.bytes, out), kSuccess);
    return out;
}

TEST(ResFile, ReadsAsALinkedTreeAndWritesBackEveryByte) {
    Bytes res = ResFileOf(SampleRecords());
    res.resize(res.size() + 4);  // zeros after the last record stay
    std::string keys;
    // German alone is translated: its table has no text 6.1.1.
    EXPECT_EQ(Rebuild(res, Translating(1031, kNoLanguageOverride, false), &keys), res);
    EXPECT_EQ(keys, "5.ABOUT.HEAD@1033 6.1.0@1031 6.1.0@1033 6.1.1@1033 ");
}

// Translations into 1036 of the English records: in place, beside them (addLanguage), and the
// German ones over the English (the replaced record is left out). The records keep the file's
// order and every header field but DataSize and LanguageId.
TEST(ResFile, TranslatedRecordsKeepTheirPlaceAndFields) {
    Bytes hello = test::StringBlock({u"Hello", u"World"});
    Bytes welt = test::StringBlock({u"Hello", u"Welt!"});
    Bytes about = test::CaptionDialog(u"About");
    Bytes custom = Record(Text(u"MYDATA"), Text(u"ONE"), 1033, {1, 2, 3}, 0x0010);
    Bytes german = Record(Ordinal(6), Ordinal(1), 1031, test::StringBlock({u"Hallo"}));
    struct Case {
        const char* name;
        WalkOptions options;
        std::vector<Bytes> expected;
    } cases[] = {
        {"in place",
         Translating(1033, 1036, false),
         {Record(Ordinal(6), Ordinal(1), 1036, welt),
          Record(Text(u"MYDATA"), Text(u"ONE"), 1036, {1, 2, 3}, 0x0010),
          Record(Ordinal(5), Text(u"ABOUT"), 1036, about), german}},
        {"added",
         Translating(1033, 1036, true),
         {Record(Ordinal(6), Ordinal(1), 1033, hello), Record(Ordinal(6), Ordinal(1), 1036, welt),
          custom, Record(Ordinal(5), Text(u"ABOUT"), 1033, about),
          Record(Ordinal(5), Text(u"ABOUT"), 1036, about), german}},
        {"replacing",
         Translating(1031, 1033, false),
         {custom, Record(Ordinal(5), Text(u"ABOUT"), 1033, about),
          Record(Ordinal(6), Ordinal(1), 1033, test::StringBlock({u"Hallo"}))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string keys;
        EXPECT_EQ(Rebuild(ResFileOf(SampleRecords()), c.options, &keys), ResFileOf(c.expected));
    }
}

// Bytes whose records do not read are refused with the problem and the record's offset.
TEST(ResFile, RefusesRecordsThatDoNotRead) {
    Bytes valid = ResFileOf({Record(Ordinal(6), Ordinal(1), 1033, test::StringBlock({u"Hi"}))});
    auto patched = [&](size_t at, uint32_t value) {
        Bytes b = valid;
        test::Put32(b, at, value);
        return b;
    };
    Bytes truncated = ResFileOf({});
    Add(truncated, {1, 0, 0});
    Bytes unterminated = ResFileOf({});
    Add(unterminated, {0, 0, 0, 0, 32, 0, 0, 0});
    Add(unterminated, test::Utf16(u"ABCDEFGHIJKL"));  // up to the header's end
    struct Case {
        const char* name;
        Bytes bytes;
        ResFileProblem problem;
        size_t offset;
    } cases[] = {
        {"no empty resource", Record(Ordinal(6), Ordinal(1), 1033, {}),
         ResFileProblem::NoEmptyResource, 0},
        {"truncated record", truncated, ResFileProblem::RecordTruncated, 32},
        {"header too small", patched(36, 20), ResFileProblem::HeaderTooSmall, 32},
        {"fields past the header", patched(36, 28), ResFileProblem::HeaderTooSmall, 32},
        {"header past the end", patched(36, 0x10000), ResFileProblem::HeaderPastEnd, 32},
        {"data past the end", patched(32, 0xFFFFFFF0), ResFileProblem::DataPastEnd, 32},
        {"name without its zero", unterminated, ResFileProblem::NameUnterminated, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResFile file;
        ResFileError error;
        EXPECT_EQ(ReadResFile(c.bytes, file, error), kErrorBadFormat);
        EXPECT_EQ(error.problem, c.problem);
        EXPECT_EQ(error.offset, c.offset);
    }
}

// The .res files that windres and llvm-rc compile from the scripts that the sample images are
// linked from, per language: export (language file, PO file, pseudo-translation) and check give
// what the image gives, and an import of the file's own texts gives back every byte.
TEST(ResFileDriver, SamplesReadAsTheirImagesAndImportBackEveryByte) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "no mingw-w64 at configure time";
    test::TempDir dir;
    const std::pair<const char*, const char*> pairs[] = {
        {"basic.windres.res", "basic64.exe"},         {"basic.llvm.res", "basic64.exe"},
        {"languages.windres.res", "languages64.exe"}, {"languages.llvm.res", "languages64.exe"},
        {"strings.windres.res", "strings64.exe"},     {"strings.llvm.res", "strings64.exe"},
        {"versions.windres.res", "versions64.exe"},   {"versions.llvm.res", "versions64.exe"},
        {"dialogs.windres.res", "dialogs64.exe"},     {"menus.windres.res", "menus32.exe"},
        {"messages.windres.res", "messages64.exe"}};
    std::filesystem::create_directories(dir / "r");
    std::filesystem::create_directories(dir / "e");
    for (auto [res, exe] : pairs) {
        if (!std::filesystem::exists(samples / res))
            continue;  // llvm-rc was not installed
        // Under one name, which a PO file's header gives: a file is known by its content.
        std::filesystem::copy_file(samples / res, dir / "r/app",
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(samples / exe, dir / "e/app",
                                   std::filesystem::copy_options::overwrite_existing);
        std::vector<LanguageTexts> languages = TextLanguages(dir / "r/app").value();
        ASSERT_FALSE(languages.empty()) << res;
        for (const LanguageTexts& l : languages) {
            SCOPED_TRACE(std::string(res) + " " + std::to_string(l.language));
            for (const char* name : {"texts.lng", "texts.po", "pseudo.lng"}) {
                Options options;
                options.languageFilter = l.language;
                if (name[0] == 'p')
                    options.pseudoExpand = 35;
                ASSERT_EQ(CodeOf(Export(dir / "r/app", dir / "r" / name, options)), kSuccess);
                ASSERT_EQ(CodeOf(Export(dir / "e/app", dir / "e" / name, options)), kSuccess);
                Bytes exported = test::ReadFileBytes(dir / "r" / name);
                EXPECT_EQ(exported, test::ReadFileBytes(dir / "e" / name)) << name;
                if (name != std::string("texts.lng"))
                    continue;  // a PO file's msgstrs are empty
                Outcome<CheckReport> ofRes = CheckImage(dir / "r/app", dir / "r" / name, options);
                Outcome<CheckReport> ofExe = CheckImage(dir / "e/app", dir / "r" / name, options);
                ASSERT_TRUE(ofRes && ofExe);
                EXPECT_EQ(ofRes->texts, ofExe->texts);
                EXPECT_EQ(ofRes->findings.size(), ofExe->findings.size());
                std::filesystem::path out = dir / "out.res";
                ASSERT_EQ(CodeOf(Import(dir / "r/app", dir / "r" / name, out, options)), kSuccess);
                EXPECT_EQ(test::ReadFileBytes(out), test::ReadFileBytes(samples / res)) << name;
            }
        }
    }
}

// A folder of .res files goes through --batch as a folder of images does: found by their
// content, exported, and translated in place.
TEST(ResFileDriver, BatchTakesResFiles) {
    std::filesystem::path samples = test::SampleImageDir();
    if (samples.empty())
        GTEST_SKIP() << "no mingw-w64 at configure time";
    test::TempDir dir;
    std::filesystem::create_directories(dir / "tree");
    std::filesystem::copy_file(samples / "versions.windres.res", dir / "tree/app.rsc");
    test::WriteFileBytes(dir / "tree/notes.txt", {'n', 'o'});
    std::filesystem::path tree = dir / "tree";
    BatchPlan plan = PlanBatch(std::span(&tree, 1), dir / "lng", TextFormat::Lng, {});
    ASSERT_EQ(plan.jobs.size(), 2u);
    std::vector<JobResult> results = RunBatch(plan.jobs, BatchDirection::Export, {}, 1, {});
    EXPECT_EQ(results[0].outcome, JobOutcome::Done);
    EXPECT_EQ(results[1].outcome, JobOutcome::NotImage);
    std::u16string text = test::LanguageText(test::ReadFileBytes(dir / "lng/app.rsc.lng"));
    size_t at = text.find(u"16.1.FileDescription=");
    ASSERT_NE(at, std::u16string::npos);
    text.insert(at + 21, u"Neu: ");
    test::WriteFileBytes(dir / "lng/app.rsc.lng", test::LanguageFile(text));
    results = RunBatch(plan.jobs, BatchDirection::Import, {}, 1, {});
    EXPECT_EQ(results[0].outcome, JobOutcome::Done);
    std::filesystem::path again = dir / "again.lng";
    ASSERT_EQ(CodeOf(Export(dir / "tree/app.rsc", again)), kSuccess);
    EXPECT_NE(test::LanguageText(test::ReadFileBytes(again)).find(u"=Neu: "), std::u16string::npos);
}

// A .res file whose records do not read fails with 11 and a notice that names it, the problem
// and the record; nothing is written.
TEST(ResFileDriver, UnreadableRecordsAreSaidAndNothingIsWritten) {
    test::TempDir dir;
    Bytes res = ResFileOf({Record(Ordinal(6), Ordinal(1), 1033, test::StringBlock({u"Hi"}))});
    test::Put32(res, 32, 0x1000);  // DataSize past the end
    test::WriteFileBytes(dir / "app.res", res);
    test::WriteFileBytes(dir / "de.lng", test::LanguageFile(u"6.1.1=Hallo\r\n"));
    std::filesystem::path out = dir / "out.res";
    for (const std::filesystem::path* output :
         {static_cast<std::filesystem::path*>(nullptr), &out}) {
        std::vector<Notice> notices;
        Options options;
        options.notify = [&](const Notice& n) { notices.push_back(n); };
        Failure failure =
            FailureOf(output ? Import(dir / "app.res", dir / "de.lng", *output, options)
                             : Export(dir / "app.res", dir / "x.lng", options));
        EXPECT_EQ(failure.code, kErrorBadFormat);
        EXPECT_EQ(failure.path, dir / "app.res");
        ASSERT_EQ(notices.size(), 1u);
        EXPECT_EQ(notices[0].kind, NoticeKind::ResFileUnreadable);
        EXPECT_EQ(notices[0].key, (dir / "app.res").u16string());
        EXPECT_EQ(notices[0].counts[0], static_cast<uint64_t>(ResFileProblem::DataPastEnd));
        EXPECT_EQ(notices[0].counts[1], 32u);
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_FALSE(std::filesystem::exists(dir / "x.lng"));
    }
}

}  // namespace
}  // namespace quelvar
