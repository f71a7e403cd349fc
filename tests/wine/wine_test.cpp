// Translated images read back through the Windows resource loader under Wine: every text that
// export found, edited, must come back from LoadStringW, LoadMenuIndirectW and the dialog
// templates that FindResourceExW finds exactly as edited, and every other text as it was. A
// translated program must still start and find its own resources.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/batch.h"
#include "driver/driver.h"
#include "formats/accelerator.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

using test::Bytes;
using Texts = std::map<std::u16string, std::u16string>;

#if defined(QUELVAR_WINE64) && defined(QUELVAR_LOADER_CHECK)
constexpr const char* kWine = QUELVAR_WINE64;
constexpr const char* kLoaderCheck = QUELVAR_LOADER_CHECK;
#else
constexpr const char* kWine = "";
constexpr const char* kLoaderCheck = "";
#endif

#define SKIP_WITHOUT_WINE()         \
    if (std::string(kWine).empty()) \
    GTEST_SKIP() << "wine64 or mingw-w64 was not found at configure time"

std::filesystem::path Sample(const char* name) {
#ifdef QUELVAR_SAMPLE_DIR
    return std::filesystem::path(QUELVAR_SAMPLE_DIR) / name;
#else
    return name;
#endif
}

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The key=value lines of a language file, in file order, values as written (escapes kept).
std::vector<std::pair<std::u16string, std::u16string>> Lines(const Bytes& file) {
    std::u16string text = test::LanguageText(file);
    std::vector<std::pair<std::u16string, std::u16string>> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(u"\r\n", start);
        if (end == std::u16string::npos)
            end = text.size();
        std::u16string line = text.substr(start, end - start);
        size_t eq = line.find(u'=');
        if (eq != std::u16string::npos)
            lines.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        start = end + 2;
    }
    return lines;
}

std::string Windows(const std::filesystem::path& path) {
    return "'Z:" + path.string() + "'";
}

// Runs a Windows program under wine64 in the prefix of the build tree, with the user locale
// `locale`; returns its exit status and its standard output.
int RunWine(const std::string& arguments, const std::string& locale,
            const std::filesystem::path& scratch, std::string* output = nullptr) {
    std::filesystem::path out = scratch / "wine.out";
    std::filesystem::path err = scratch / "wine.err";
    std::string command = std::string("env WINEPREFIX='") + QUELVAR_WINE_PREFIX +
                          "' WINEDEBUG=-all LC_ALL=" + locale + " '" + kWine + "' " + arguments +
                          " >'" + out.string() + "' 2>'" + err.string() + "'";
    int raw = std::system(command.c_str());
    int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (output != nullptr) {
        Bytes b = test::ReadFileBytes(out);
        output->assign(b.begin(), b.end());
    }
    if (status != 0) {
        Bytes e = test::ReadFileBytes(err);
        ADD_FAILURE() << command << "\nexit " << status << ": " << std::string(e.begin(), e.end());
    }
    return status;
}

// The user locale that leads the loader to resources of `language` when a program asks for
// no language: needed for ids with a neutral sublanguage, which no thread locale names.
std::string LocaleFor(uint16_t language) {
    switch (language & 0x3FF) {
        case 0x04:
            return "zh_CN.UTF-8";
        case 0x07:
            return "de_DE.UTF-8";
        default:
            return "en_US.UTF-8";
    }
}

// The texts of one language of an image as the Windows resource loader reads them; with
// `bytes`, the size and hash of each resource and the dialogs laid out right to left.
Texts LoaderTexts(const std::filesystem::path& image, uint16_t language,
                  const std::filesystem::path& scratch, bool bytes = false) {
    std::filesystem::path out = scratch / "loaded.lng";
    std::filesystem::remove(out);
    if (RunWine(Windows(kLoaderCheck) + (bytes ? " --bytes " : " ") + Windows(image) + " " +
                    std::to_string(language) + " " + Windows(out),
                LocaleFor(language), scratch) != 0)
        return {};
    Texts texts;
    for (auto& [key, value] : Lines(test::ReadFileBytes(out)))
        texts[key] = value;
    return texts;
}

std::string Show(const Texts& texts) {
    std::string s;
    for (const auto& [key, value] : texts)
        s += Utf8(key) + "=" + Utf8(value) + "\n";
    return s;
}

// Exports the texts of `language`, edits every one of them and imports the edited file into
// `translated` for that language only. Returns the edited lines.
Texts Translate(const std::filesystem::path& image, uint16_t language,
                const std::filesystem::path& translated, const std::filesystem::path& scratch) {
    std::filesystem::path exported = scratch / "exported.lng";
    std::filesystem::path edited = scratch / "edited.lng";
    EXPECT_EQ(CodeOf(Export(image, exported, OfLanguage(language))), kSuccess);
    Texts edits;
    std::u16string text;
    for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
        EXPECT_EQ(edits.count(key), 0u) << Utf8(key) << " exported twice";
        // Accelerators and messages are read by MessagesAndAcceleratorsReadBackTranslated.
        if (key.starts_with(u"9.") || key.starts_with(u"11."))
            continue;
        bool font = key.size() > 5 && key.substr(key.size() - 5) == u".FONT";
        edits[key] = font ? u"Tahoma,11" : u"«" + value + u"» ü";
        text += key + u"=" + edits[key] + u"\r\n";
    }
    test::WriteFileBytes(edited, test::LanguageFile(text));
    EXPECT_EQ(CodeOf(Import(image, edited, translated, OfLanguage(language))), kSuccess);
    return edits;
}

// Translates one language of an image and checks the result through the loader: the edited
// texts come back as edited, every other text of that language as it was. Returns the number
// of texts translated.
size_t CheckTranslation(const std::filesystem::path& image, uint16_t language,
                        const test::TempDir& dir) {
    std::filesystem::path translated = dir / ("translated-" + std::to_string(language) + ".exe");
    Texts edits = Translate(image, language, translated, dir.path);
    Texts before = LoaderTexts(image, language, dir.path);
    Texts after = LoaderTexts(translated, language, dir.path);
    EXPECT_FALSE(before.empty());
    // Version information is not read here (see VersionInformationUnderANewLanguage).
    std::erase_if(edits, [](const auto& edit) { return edit.first.starts_with(u"16."); });
    // Export keys its texts as the loader finds them.
    for (const auto& [key, value] : edits)
        EXPECT_EQ(before.count(key), 1u) << Utf8(key) << " is not what the loader reads";
    Texts expected = before;
    for (const auto& [key, value] : edits)
        expected[key] = value;
    EXPECT_EQ(Show(after), Show(expected)) << "language " << language;
    return edits.size();
}

// The numeric languages of an image's string tables, menus and dialogs.
std::set<uint16_t> TextLanguages(const std::filesystem::path& image) {
    std::set<uint16_t> languages;
    for (const auto& r : test::ReadResources(test::ReadFileBytes(image)))
        if (r.type == u"4" || r.type == u"5" || r.type == u"6")
            languages.insert(static_cast<uint16_t>(std::stoul(Utf8(r.language))));
    return languages;
}

// What loader_check's `mode` ("messages", "lengths") reads of one language of an image; empty
// when it fails.
Texts LoaderCheckLines(const char* mode, const std::filesystem::path& image, uint16_t language,
                       const std::filesystem::path& scratch) {
    std::filesystem::path out = scratch / (std::string(mode) + ".lng");
    std::filesystem::remove(out);
    Texts texts;
    if (RunWine(Windows(kLoaderCheck) + " --" + mode + " " + Windows(image) + " " +
                    std::to_string(language) + " " + Windows(out),
                LocaleFor(language), scratch) == 0)
        for (auto& [key, value] : Lines(test::ReadFileBytes(out)))
            texts[key] = value;
    return texts;
}

// Message tables as FormatMessageW reads them and accelerator tables as LoadAcceleratorsW and
// CopyAcceleratorTableW give them ("<fVirt>:<key>"), of one language of an image.
Texts MessageTexts(const std::filesystem::path& image, uint16_t language,
                   const std::filesystem::path& scratch) {
    return LoaderCheckLines("messages", image, language, scratch);
}

// Every message and accelerator of one language translated (messages framed, accelerators with
// Shift toggled), imported for that language alone and read back through the loader: a sample
// that windmc and windres built (UTF-16 and ANSI messages) and Wine's own images.
TEST(Loader, MessagesAndAcceleratorsReadBackTranslated) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    std::filesystem::path wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    struct Case {
        std::filesystem::path image;
        uint16_t language;
    } cases[] = {{Sample("messages64.exe"), 1033}, {Sample("messages64.exe"), 1031},
                 {wine / "fsutil.exe", 1033},      {wine / "wininet.dll", 1033},
                 {wine / "notepad.exe", 1033},     {wine / "regedit.exe", 1033}};
    size_t messages = 0, accelerators = 0;
    for (const Case& c : cases) {
        if (!std::filesystem::exists(c.image))
            continue;
        SCOPED_TRACE(c.image.string() + " " + std::to_string(c.language));
        std::filesystem::path exported = dir / "exported.lng", edited = dir / "edited.lng",
                              translated = dir / "translated.exe";
        ASSERT_EQ(CodeOf(Export(c.image, exported, OfLanguage(c.language))), kSuccess);
        Texts before = MessageTexts(c.image, c.language, dir.path);
        Texts expected = before;
        std::u16string text;
        for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
            std::u16string edit;
            if (key.starts_with(u"11.1.")) {
                edit = u"«" + value + u"» ü";
                ASSERT_EQ(before.count(key), 1u)
                    << Utf8(key) << " is not what FormatMessageW reads";
                expected[key] = u"«" + before[key] + u"» ü";
                ++messages;
            } else if (key.starts_with(u"9.")) {
                uint16_t flags = 0, code = 0;
                ASSERT_TRUE(ParseAccelerator(value, flags, code)) << Utf8(value);
                flags ^= kAccelShift;
                edit = AcceleratorText(flags, code);
                ASSERT_EQ(before.count(key), 1u) << Utf8(key) << " is not what the loader reads";
                unsigned kept = std::stoul(Utf8(before[key])) & ~unsigned{kAccelKeyFlags};
                std::string loaded = std::to_string(kept | flags) + ":" + std::to_string(code);
                expected[key] = std::u16string(loaded.begin(), loaded.end());
                ++accelerators;
            } else {
                continue;
            }
            text += key + u"=" + edit + u"\r\n";
        }
        test::WriteFileBytes(edited, test::LanguageFile(text));
        ASSERT_EQ(CodeOf(Import(c.image, edited, translated, OfLanguage(c.language))), kSuccess);
        EXPECT_EQ(Show(MessageTexts(translated, c.language, dir.path)), Show(expected));
    }
    if (messages + accelerators == 0)
        GTEST_SKIP() << "no image with message or accelerator tables";
    EXPECT_GT(messages, 0u);
    EXPECT_GT(accelerators, 0u);
}

TEST(Loader, SampleImagesReadBackTranslated) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    for (const char* name :
         {"basic32.exe", "basic64.exe", "basic32reloc.exe", "basic64reloc.exe", "basic32debug.exe",
          "basic64debug.exe", "dialogs32.exe", "dialogs64.exe"}) {
        SCOPED_TRACE(name);
        size_t translated = 0;
        for (uint16_t language : TextLanguages(Sample(name)))
            translated += CheckTranslation(Sample(name), language, dir);
        EXPECT_GT(translated, 0u);
    }
}

// One language translated, the other read back exactly as before.
TEST(Loader, OneLanguageOfSeveral) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    for (const char* name : {"languages32.exe", "languages64.exe"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(TextLanguages(Sample(name)), (std::set<uint16_t>{1031, 1033}));
        EXPECT_GT(CheckTranslation(Sample(name), 1031, dir), 0u);
        EXPECT_EQ(Show(LoaderTexts(dir / "translated-1031.exe", 1033, dir.path)),
                  Show(LoaderTexts(Sample(name), 1033, dir.path)));
    }
}

// English translated into German where German resources already exist: the translation
// replaces them, so that FindResourceExW and LoadStringW find it and not the old German texts.
// The block that only German has stays as it was.
TEST(Loader, TranslationReplacesTheTargetLanguage) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    for (const char* name : {"languages32.exe", "languages64.exe"}) {
        SCOPED_TRACE(name);
        std::filesystem::path exported = dir / "en.lng", edited = dir / "de.lng";
        std::filesystem::path translated = dir / "de.exe";
        ASSERT_EQ(CodeOf(Export(Sample(name), exported, OfLanguage(1033))), kSuccess);
        Texts expected = LoaderTexts(Sample(name), 1031, dir.path);
        ASSERT_EQ(expected.count(u"6.3.40"), 1u);
        std::u16string text = u"LANG=1031\r\n";
        for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
            expected.erase(key);
            expected[key] = u"[de] " + value;
            text += key + u"=" + expected[key] + u"\r\n";
        }
        test::WriteFileBytes(edited, test::LanguageFile(text));
        ASSERT_EQ(CodeOf(Import(Sample(name), edited, translated, OfLanguage(1033))), kSuccess);
        EXPECT_EQ(Show(LoaderTexts(translated, 1031, dir.path)), Show(expected));
    }
}

// A translation added beside the original: each language id gives its own texts through
// LoadStringW, LoadMenuIndirectW and FindResourceExW, and the original's resources keep every
// byte. The translation into Arabic lays its dialogs out right to left, not the originals.
TEST(Loader, AddedLanguageBesideTheOriginal) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    struct Case {
        const char* image;
        uint16_t source, target;
    };
    for (const Case& c : {Case{"basic64.exe", 1033, 1031}, Case{"dialogs32.exe", 1033, 1025},
                          Case{"languages64.exe", 1033, 1031}}) {
        SCOPED_TRACE(c.image);
        std::filesystem::path image = Sample(c.image);
        std::filesystem::path exported = dir / "source.lng", edited = dir / "target.lng";
        std::filesystem::path added = dir / "added.exe";
        ASSERT_EQ(CodeOf(Export(image, exported, OfLanguage(c.source))), kSuccess);
        // What the target language had that the source has not (a German-only block) stays.
        Texts expected = LoaderTexts(image, c.target, dir.path);
        std::string number = std::to_string(c.target);
        std::u16string id(number.begin(), number.end());
        std::u16string text = u"LANG=" + id + u"\r\n";
        for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
            bool font = key.ends_with(u".FONT");
            std::u16string translated = font ? value : u"[" + id + u"] " + value;
            text += key + u"=" + translated + u"\r\n";
            if (!key.starts_with(u"16."))  // version information is read by --version
                expected[key] = translated;
        }
        test::WriteFileBytes(edited, test::LanguageFile(text));
        Options options;
        options.languageFilter = c.source;
        options.addLanguage = true;
        ASSERT_EQ(CodeOf(Import(image, edited, added, options)), kSuccess);

        EXPECT_EQ(Show(LoaderTexts(added, c.target, dir.path)), Show(expected));
        EXPECT_EQ(Show(LoaderTexts(added, c.source, dir.path)),
                  Show(LoaderTexts(image, c.source, dir.path)));
        EXPECT_EQ(Show(LoaderTexts(added, c.source, dir.path, true)),
                  Show(LoaderTexts(image, c.source, dir.path, true)));
        Texts layout = LoaderTexts(added, c.target, dir.path, true);
        size_t dialogs = 0, mirrored = 0;
        for (const auto& [key, value] : layout) {
            dialogs += key.starts_with(u"5.") && !key.ends_with(u".LAYOUTRTL");
            mirrored += key.ends_with(u".LAYOUTRTL");
        }
        EXPECT_EQ(mirrored, c.target == 1025 ? dialogs : 0u);
        EXPECT_TRUE(c.target != 1025 || dialogs > 0);
    }
}

// Version information as Windows programs read it (GetFileVersionInfoW, VerQueryValueW): under
// German the English table is renamed and carries the new text, the German table it replaces
// and the English name are gone, and Translation names German.
TEST(Loader, VersionInformationUnderANewLanguage) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    std::filesystem::path edited = dir / "de.lng", translated = dir / "de.exe";
    std::filesystem::path out = dir / "version.lng";
    const std::u16string german = u"\\StringFileInfo\\040704B0\\";
    const std::u16string english = u"\\StringFileInfo\\040904B0\\FileDescription";
    const std::u16string translation = u"\\VarFileInfo\\Translation";
    auto read = [&](const std::filesystem::path& image) {
        std::string queries;
        for (std::u16string q :
             {german + u"FileDescription", german + u"CompanyName", english, translation})
            queries += " '" + Utf8(q) + "'";
        std::filesystem::remove(out);
        Texts texts;
        if (RunWine(Windows(kLoaderCheck) + " --version " + Windows(image) + " " + Windows(out) +
                        queries,
                    "en_US.UTF-8", dir.path) == 0)
            for (auto& [key, value] : Lines(test::ReadFileBytes(out)))
                texts[key] = value;
        return Show(texts);
    };
    std::filesystem::path sample = Sample("versions64.exe");
    EXPECT_EQ(read(sample), Show(Texts{{german + u"FileDescription", u"Texteditor"},
                                       {german + u"CompanyName", u"Quelvar-Beispiele"},
                                       {english, u"Text editor"},
                                       {translation, u"040904B0 040704B0"}}));
    test::WriteFileBytes(edited, test::LanguageFile(u"LANG=1031\r\n"
                                                    u"16.1.FileDescription=Textbearbeitung\r\n"));
    ASSERT_EQ(CodeOf(Import(sample, edited, translated)), kSuccess);
    EXPECT_EQ(read(translated), Show(Texts{{german + u"FileDescription", u"Textbearbeitung"},
                                           {german + u"CompanyName", u"Quelvar samples"},
                                           {translation, u"040704B0"}}));
}

// The language file of `exported` with every text prefixed by "[<target>] " (fonts kept) and
// LANG=<target>; `expected` receives the texts as the loader should read them.
Bytes Edited(const std::filesystem::path& exported, uint16_t target, Texts& expected) {
    std::string number = std::to_string(target);
    std::u16string id(number.begin(), number.end());
    std::u16string text = u"LANG=" + id + u"\r\n";
    for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
        std::u16string translated = key.ends_with(u".FONT") ? value : u"[" + id + u"] " + value;
        text += key + u"=" + translated + u"\r\n";
        if (!key.starts_with(u"16."))  // version information is read by --version
            expected[key] = translated;
    }
    return test::LanguageFile(text);
}

// Every way of translating one language of a program of several (a language file, a PO file,
// a pseudo-translation, a batch, a language added) translates that language alone: through
// the loader the translation is found under its new id and the other language as it was. A
// translation that does not say which language it translates is refused and writes nothing.
TEST(Loader, EveryRouteTranslatesOneLanguage) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    const std::filesystem::path image = Sample("languages64.exe");
    const uint16_t source = 1033, target = 1036, other = 1031;
    const std::string otherBefore = Show(LoaderTexts(image, other, dir.path));
    const std::string sourceBefore = Show(LoaderTexts(image, source, dir.path));
    std::filesystem::path exported = dir / "en.lng", edited = dir / "fr.lng";
    ASSERT_EQ(CodeOf(Export(image, exported, OfLanguage(source))), kSuccess);
    Texts expected;
    test::WriteFileBytes(edited, Edited(exported, target, expected));
    Options fromSource;
    fromSource.languageFilter = source;

    std::filesystem::path refused = dir / "refused.exe";
    EXPECT_EQ(CodeOf(Import(image, edited, refused)), kErrorInvalidParameter);
    EXPECT_FALSE(std::filesystem::exists(refused));

    struct Route {
        const char* what;
        // Translates; returns the translated image, and may change the texts expected.
        std::function<std::filesystem::path(Texts& expected)> run;
    };
    const Route routes[] = {
        {"language file",
         [&](Texts&) {
             std::filesystem::path out = dir / "lng.exe";
             EXPECT_EQ(CodeOf(Import(image, edited, out, fromSource)), kSuccess);
             return out;
         }},
        {"PO file, its source language from its header",
         [&](Texts&) {
             std::filesystem::path po = dir / "fr.po", out = dir / "po.exe";
             EXPECT_TRUE(ConvertTranslation(edited, po, &image, fromSource));
             EXPECT_EQ(CodeOf(Import(image, po, out, Options{})), kSuccess);
             return out;
         }},
        {"pseudo-translation",
         [&](Texts& expected) {
             std::filesystem::path po = dir / "qps.po", out = dir / "qps.exe";
             Options pseudo;
             pseudo.pseudoExpand = 35;
             EXPECT_EQ(CodeOf(Export(image, po, pseudo)), kSuccess);
             // Under French: Wine's loader does not take the pseudo-locale as a UI language.
             Options french;
             french.targetLanguage = 1036;
             EXPECT_EQ(CodeOf(Import(image, po, out, french)), kSuccess);
             // Its texts are the pseudo-translations the translated image exports.
             expected.clear();
             std::filesystem::path back = dir / "qps.lng";
             EXPECT_EQ(CodeOf(Export(out, back, OfLanguage(1036))), kSuccess);
             for (auto& [key, value] : Lines(test::ReadFileBytes(back)))
                 expected[key] = value;
             return out;
         }},
        {"batch",
         [&](Texts&) {
             std::filesystem::path copy = dir / "product" / "app.exe";
             std::filesystem::create_directories(copy.parent_path());
             std::filesystem::copy_file(image, copy,
                                        std::filesystem::copy_options::overwrite_existing);
             BatchJob job{copy, dir / "lng" / "app.exe.lng", dir / "out" / "app.exe", {}, false};
             auto run = [&](BatchDirection direction, const Options& options) {
                 std::vector<JobResult> r = RunBatch(std::span(&job, 1), direction, options, 1, {});
                 EXPECT_EQ(r[0].outcome, JobOutcome::Done);
             };
             // The unchanged files of an export without --language leave the image as it was.
             run(BatchDirection::Export, Options{});
             std::vector<JobResult> r =
                 RunBatch(std::span(&job, 1), BatchDirection::Import, Options{}, 1, {});
             EXPECT_EQ(r[0].outcome, JobOutcome::Failed);
             EXPECT_EQ(r[0].failure.code, kErrorInvalidParameter);
             EXPECT_FALSE(std::filesystem::exists(job.output));
             run(BatchDirection::Export, fromSource);
             EXPECT_EQ(test::ReadFileBytes(job.exchange), test::ReadFileBytes(exported));
             std::filesystem::copy_file(edited, job.exchange,
                                        std::filesystem::copy_options::overwrite_existing);
             run(BatchDirection::Import, fromSource);
             return job.output;
         }},
        {"language added",
         [&](Texts&) {
             std::filesystem::path out = dir / "added.exe";
             Options adding = fromSource;
             adding.addLanguage = true;
             EXPECT_EQ(CodeOf(Import(image, edited, out, adding)), kSuccess);
             return out;
         }},
    };
    for (const Route& route : routes) {
        SCOPED_TRACE(route.what);
        Texts want = expected;
        std::filesystem::path translated = route.run(want);
        ASSERT_TRUE(std::filesystem::exists(translated));
        EXPECT_EQ(Show(LoaderTexts(translated, target, dir.path)), Show(want));
        EXPECT_EQ(Show(LoaderTexts(translated, other, dir.path)), otherBefore);
        if (std::string(route.what) == "language added") {
            EXPECT_EQ(Show(LoaderTexts(translated, source, dir.path)), sourceBefore);
        }
    }
}

// Language-neutral version information (as all of Wine's images have it) goes with the image's
// only language (here neutral too: the strings of mciqtz32.dll are). Translated in place it takes
// the new language, and every user reads the translation; added as a language it is copied and the
// neutral original stays, which Wine's GetFileVersionInfoW gives to every user (its loader tries
// language 0 first).
TEST(Loader, NeutralVersionInformationGoesWithTheOnlyLanguage) {
    SKIP_WITHOUT_WINE();
    std::filesystem::path dll = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/mciqtz32.dll";
    if (!std::filesystem::exists(dll))
        GTEST_SKIP() << "Wine's mciqtz32.dll is not installed";
    test::TempDir dir;
    std::filesystem::path edited = dir / "de.lng", out = dir / "version.lng";
    test::WriteFileBytes(edited,
                         test::LanguageFile(u"LANG=1031\r\n16.1.FileDescription=MCI-Treiber\r\n"));
    const std::u16string english = u"\\StringFileInfo\\040904B0\\FileDescription";
    const std::u16string german = u"\\StringFileInfo\\040704B0\\FileDescription";
    auto read = [&](const std::filesystem::path& image, const char* locale) {
        std::filesystem::remove(out);
        Texts texts;
        if (RunWine(Windows(kLoaderCheck) + " --version " + Windows(image) + " " + Windows(out) +
                        " '" + Utf8(english) + "' '" + Utf8(german) + "'",
                    locale, dir.path) == 0)
            for (auto& [key, value] : Lines(test::ReadFileBytes(out)))
                texts[key] = value;
        return Show(texts);
    };
    auto languages = [](const std::filesystem::path& image) {
        std::set<std::u16string> found;
        for (const auto& r : test::ReadResources(test::ReadFileBytes(image)))
            if (r.type == u"16")
                found.insert(r.language);
        return found;
    };
    ASSERT_EQ(languages(dll), (std::set<std::u16string>{u"0"}));
    const std::string original = Show(Texts{{english, u"Wine DirectShow MCI Driver"}});
    const std::string translated = Show(Texts{{german, u"MCI-Treiber"}});
    std::filesystem::path replaced = dir / "replaced.dll", added = dir / "added.dll";
    ASSERT_EQ(CodeOf(Import(dll, edited, replaced)), kSuccess);
    Options adding;
    adding.addLanguage = true;
    ASSERT_EQ(CodeOf(Import(dll, edited, added, adding)), kSuccess);
    EXPECT_EQ(languages(replaced), (std::set<std::u16string>{u"1031"}));
    EXPECT_EQ(languages(added), (std::set<std::u16string>{u"0", u"1031"}));
    for (const char* locale : {"de_DE.UTF-8", "en_US.UTF-8"}) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(read(replaced, locale), translated);
        EXPECT_EQ(read(added, locale), original);
    }
}

// A program of a Debian package: Wine's own notepad, 64-bit, with its resources in some fifty
// languages, followed by relocations, debug sections and a symbol table.
TEST(Loader, WineNotepad) {
    SKIP_WITHOUT_WINE();
    std::filesystem::path notepad = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe";
    if (!std::filesystem::exists(notepad))
        GTEST_SKIP() << "Wine's notepad.exe is not installed";
    test::TempDir dir;
    std::filesystem::copy_file(notepad, dir / "notepad.exe");
    EXPECT_GT(CheckTranslation(dir / "notepad.exe", 7, dir), 0u);  // German, neutral sublanguage
    EXPECT_EQ(Show(LoaderTexts(dir / "translated-7.exe", 1033, dir.path)),
              Show(LoaderTexts(dir / "notepad.exe", 1033, dir.path)));

    // A two-line translation from English into German: refused without --language; with it,
    // German reads English's texts with the one translated, and Chinese keeps its own.
    std::filesystem::path en = dir / "en.lng", de = dir / "de.lng", out = dir / "de.exe";
    ASSERT_EQ(CodeOf(Export(dir / "notepad.exe", en, OfLanguage(1033))), kSuccess);
    auto [key, value] = Lines(test::ReadFileBytes(en)).front();
    test::WriteFileBytes(de, test::LanguageFile(u"LANG=7\r\n" + key + u"=[de] " + value + u"\r\n"));
    EXPECT_EQ(CodeOf(Import(dir / "notepad.exe", de, out)), kErrorInvalidParameter);
    ASSERT_EQ(CodeOf(Import(dir / "notepad.exe", de, out, OfLanguage(1033))), kSuccess);
    Texts expected = LoaderTexts(dir / "notepad.exe", 7, dir.path);
    for (const auto& [k, v] : LoaderTexts(dir / "notepad.exe", 1033, dir.path))
        expected[k] = v;
    expected[key] = u"[de] " + value;
    EXPECT_EQ(Show(LoaderTexts(out, 7, dir.path)), Show(expected));
    EXPECT_EQ(Show(LoaderTexts(out, 2052, dir.path)),
              Show(LoaderTexts(dir / "notepad.exe", 2052, dir.path)));
}

// The lengths LoadStringW returns for the strings of one language of an image.
Texts LoaderLengths(const std::filesystem::path& image, uint16_t language,
                    const std::filesystem::path& scratch) {
    return LoaderCheckLines("lengths", image, language, scratch);
}

// A translated string counts a terminating zero in the length LoadStringW returns only where
// the program's own string did: none for strings as windres and Wine's resource compiler
// store them, one in a block that stores every zero. An import of the image's own texts gives
// back every string table byte for byte.
TEST(Loader, StringLengthsFollowTheSource) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    std::vector<std::filesystem::path> images = {Sample("basic64.exe"), Sample("strings64.exe")};
    std::filesystem::path notepad = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe";
    if (std::filesystem::exists(notepad)) {
        std::filesystem::copy_file(notepad, dir / "notepad.exe");
        images.push_back(dir / "notepad.exe");
    }
    for (const std::filesystem::path& image : images) {
        SCOPED_TRACE(image.filename().string());
        std::filesystem::path exported = dir / "own.lng", edited = dir / "edited.lng";
        std::filesystem::path same = dir / "same.exe", translated = dir / "translated.exe";
        ASSERT_EQ(CodeOf(Export(image, exported, OfLanguage(1033))), kSuccess);
        ASSERT_EQ(CodeOf(Import(image, exported, same, OfLanguage(1033))), kSuccess);
        std::u16string text;
        std::set<std::u16string> keys;
        for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
            if (key.starts_with(u"6.")) {
                text += key + u"=[" + value + u"]\r\n";  // two units longer
                keys.insert(key);
            }
        }
        test::WriteFileBytes(edited, test::LanguageFile(text));
        ASSERT_EQ(CodeOf(Import(image, edited, translated, OfLanguage(1033))), kSuccess);

        // The lengths of the exported strings (a block that no reader can use is left out).
        auto lengths = [&](const std::filesystem::path& file, unsigned added) {
            Texts all = LoaderLengths(file, 1033, dir.path), out;
            for (const std::u16string& key : keys) {
                std::string n =
                    all.count(key) ? std::to_string(std::stoul(Utf8(all[key])) + added) : "none";
                out[key] = std::u16string(n.begin(), n.end());
            }
            return Show(out);
        };
        ASSERT_FALSE(keys.empty());
        std::string before = lengths(image, 2);
        EXPECT_EQ(lengths(same, 2), before);
        EXPECT_EQ(lengths(translated, 0), before);
        auto original = test::ReadResources(test::ReadFileBytes(image));
        auto unchanged = test::ReadResources(test::ReadFileBytes(same));
        ASSERT_EQ(unchanged.size(), original.size());
        for (size_t i = 0; i < original.size(); ++i)
            EXPECT_EQ(unchanged[i].data, original[i].data) << Utf8(original[i].name);
    }
}

uint16_t SectionCount(const std::filesystem::path& image) {
    Bytes b = test::ReadFileBytes(image);
    return test::Get16(b, test::Get32(b, 60) + 6);
}

// The image with the section after ".reloc" (the first debug section, whose long name the
// header holds as an offset into the symbol table's strings) no longer discardable, so that
// it has to stay where it is: import then adds a new resource section after the last one.
std::filesystem::path WithPinnedDebugSection(const std::filesystem::path& image,
                                             const std::filesystem::path& copy) {
    Bytes b = test::ReadFileBytes(image);
    size_t nt = test::Get32(b, 60);
    size_t table = nt + 24 + test::Get16(b, nt + 20);
    for (size_t i = 0; i + 1 < test::Get16(b, nt + 6); ++i) {
        size_t header = table + 40 * i;
        if (std::string(b.begin() + header, b.begin() + header + 7) == std::string(".reloc\0", 7)) {
            size_t next = header + 40;
            test::Put32(b, next + 36, test::Get32(b, next + 36) & ~0x02000000u);
            break;
        }
    }
    test::WriteFileBytes(copy, b);
    return copy;
}

// A translated 64-bit program still starts and finds its translated resources: with its
// relocations, debug sections and symbol table moved behind the grown resource section, or
// with a new resource section after them all.
TEST(Wine, TranslatedProgramRuns) {
    SKIP_WITHOUT_WINE();
    test::TempDir dir;
    std::filesystem::path moved = Sample("show_texts64.exe");
    std::filesystem::path pinned = WithPinnedDebugSection(moved, dir / "pinned.exe");
    for (const auto& program : {moved, pinned}) {
        SCOPED_TRACE(program.filename().string());
        std::string output;
        ASSERT_EQ(RunWine(Windows(program), "en_US.UTF-8", dir.path, &output), 0);
        EXPECT_EQ(output, "Hello\nSample\n");

        std::filesystem::path translated = dir / "show.exe";
        Texts edits = Translate(program, 1033, translated, dir.path);
        ASSERT_EQ(edits.count(u"5.100.HEAD"), 1u);
        EXPECT_EQ(SectionCount(translated), SectionCount(program) + (program == pinned ? 1 : 0));
        std::u16string string = edits.count(u"6.1.1") ? edits[u"6.1.1"] : u"Hello";
        ASSERT_EQ(RunWine(Windows(translated), "en_US.UTF-8", dir.path, &output), 0);
        EXPECT_EQ(output, Utf8(string) + "\n" + Utf8(edits[u"5.100.HEAD"]) + "\n");
        EXPECT_GT(CheckTranslation(program, 1033, dir), 0u);
    }
}

// Wine's reg.exe, translated with every English string prefixed, prints its usage text, a
// string of its string table, translated.
TEST(Wine, TranslatedWineProgramRuns) {
    SKIP_WITHOUT_WINE();
    std::filesystem::path reg = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/reg.exe";
    if (!std::filesystem::exists(reg))
        GTEST_SKIP() << "Wine's reg.exe is not installed";
    test::TempDir dir;
    std::filesystem::path exported = dir / "reg.lng";
    std::filesystem::path edited = dir / "reg-de.lng";
    ASSERT_EQ(CodeOf(Export(reg, exported, OfLanguage(1033))), kSuccess);
    std::u16string text;
    for (auto& [key, value] : Lines(test::ReadFileBytes(exported)))
        text += key + u"=[de] " + value + u"\r\n";
    ASSERT_FALSE(text.empty());
    test::WriteFileBytes(edited, test::LanguageFile(text));
    // Under another name than reg.exe, so that Wine runs this file and not its own program.
    std::filesystem::path translated = dir / "reg-de.exe";
    ASSERT_EQ(CodeOf(Import(reg, edited, translated, OfLanguage(1033))), kSuccess);

    std::string original, output;
    ASSERT_EQ(RunWine(Windows(reg) + " /?", "en_US.UTF-8", dir.path, &original), 0);
    ASSERT_EQ(RunWine(Windows(translated) + " /?", "en_US.UTF-8", dir.path, &output), 0);
    EXPECT_EQ(output, "[de] " + original);
}

// Runs a command line of the build machine; true when it exits with 0.
bool RunHere(const std::string& command) {
    int raw = std::system(command.c_str());
    bool ok = WIFEXITED(raw) && WEXITSTATUS(raw) == 0;
    EXPECT_TRUE(ok) << command;
    return ok;
}

// A .res translated between the resource compiler and the linker, as a build does it: every
// text of one language edited under a new language id (messages framed, accelerators with
// Shift toggled), in place or added beside the source language, windres -i turns the file into
// an object and g++ links it; the program's
// resources read back through the loader as the translation gives them, and every other text as
// the image linked from the original .res has it. (windres -i refuses its own .res of basic.rc
// and strings.rc: it reads their version information's odd length as a longer one.)
TEST(Loader, TranslatedResFileLinksAndReadsBack) {
    SKIP_WITHOUT_WINE();
#if defined(QUELVAR_WINDRES_X86_64) && defined(QUELVAR_GXX_X86_64) && defined(QUELVAR_SAMPLE_STUB)
    test::TempDir dir;
    struct Case {
        const char* res;
        const char* linked;
        uint16_t source, target;
        bool add = false;  // --add-language: the source language stays as it was
    } cases[] = {{"languages.windres.res", "languages64.exe", 1033, 1036},
                 {"versions.llvm.res", "versions64.exe", 1033, 1031, true},
                 {"languages.llvm.res", "languages64.exe", 1031, 1031},
                 {"dialogs.windres.res", "dialogs64.exe", 2052, 1036},
                 {"menus.windres.res", "menus32.exe", 1033, 1033},
                 {"messages.windres.res", "messages64.exe", 1033, 1036}};
    for (const Case& c : cases) {
        if (!std::filesystem::exists(Sample(c.res)))
            continue;  // llvm-rc was not installed
        SCOPED_TRACE(c.res);
        std::filesystem::path exported = dir / "exported.lng", edited = dir / "edited.lng",
                              translated = dir / "translated.res", object = dir / "translated.o",
                              program = dir / "translated.exe";
        ASSERT_EQ(CodeOf(Export(Sample(c.res), exported, OfLanguage(c.source))), kSuccess);
        Texts texts = LoaderTexts(Sample(c.linked), c.source, dir.path);
        Texts messages = MessageTexts(Sample(c.linked), c.source, dir.path);
        std::string lang = "LANG=" + std::to_string(c.target) + "\r\n";
        std::u16string text(lang.begin(), lang.end());
        for (auto& [key, value] : Lines(test::ReadFileBytes(exported))) {
            if (key.starts_with(u"9.")) {
                uint16_t flags = 0, code = 0;
                ASSERT_TRUE(ParseAccelerator(value, flags, code)) << Utf8(value);
                flags ^= kAccelShift;
                ASSERT_EQ(messages.count(key), 1u) << Utf8(key);
                unsigned kept = std::stoul(Utf8(messages[key])) & ~unsigned{kAccelKeyFlags};
                std::string loaded = std::to_string(kept | flags) + ":" + std::to_string(code);
                messages[key] = std::u16string(loaded.begin(), loaded.end());
                text += key + u"=" + AcceleratorText(flags, code) + u"\r\n";
                continue;
            }
            std::u16string edit = key.ends_with(u".FONT") ? u"Tahoma,11" : u"«" + value + u"» ü";
            text += key + u"=" + edit + u"\r\n";
            if (key.starts_with(u"11.")) {
                ASSERT_EQ(messages.count(key), 1u) << Utf8(key);
                messages[key] = u"«" + messages[key] + u"» ü";
            } else if (!key.starts_with(u"16.")) {
                ASSERT_EQ(texts.count(key), 1u) << Utf8(key) << " is not what the loader reads";
                texts[key] = edit;
            }
        }
        test::WriteFileBytes(edited, test::LanguageFile(text));
        Options options;
        options.languageFilter = c.source;
        options.addLanguage = c.add;
        ASSERT_EQ(CodeOf(Import(Sample(c.res), edited, translated, options)), kSuccess);
        ASSERT_TRUE(RunHere(std::string(QUELVAR_WINDRES_X86_64) + " -i '" + translated.string() +
                            "' -o '" + object.string() + "'"));
        ASSERT_TRUE(RunHere(std::string(QUELVAR_GXX_X86_64) + " -O2 -static -mwindows '" +
                            QUELVAR_SAMPLE_STUB + "' '" + object.string() + "' -o '" +
                            program.string() + "'"));
        EXPECT_EQ(Show(LoaderTexts(program, c.target, dir.path)), Show(texts));
        EXPECT_EQ(Show(MessageTexts(program, c.target, dir.path)), Show(messages));
        if (c.add) {
            EXPECT_EQ(Show(LoaderTexts(program, c.source, dir.path)),
                      Show(LoaderTexts(Sample(c.linked), c.source, dir.path)));
        }
    }
#else
    GTEST_SKIP() << "mingw-w64 was not found at configure time";
#endif
}

}  // namespace
}  // namespace quelvar
