#include "driver/driver.h"

#include "base/utf16.h"

#include <algorithm>
#include <new>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "driver/files.h"
#include "driver/language_io.h"
#include "driver/po_files.h"
#include "driver/steps.h"
#include "exchange/language_file.h"
#include "exchange/language_names.h"
#include "formats/handlers.h"
#include "pe/headers.h"
#include "pe/rebuild.h"
#include "platform/platform.h"

namespace quelvar {

namespace {

Failure Fail(Result code, const std::filesystem::path& path,
             FailureCause cause = FailureCause::None) {
    return Failure{code, cause, path};
}

// What a system's reason for not opening a file says of it.
FailureCause CauseOf(Result systemCode) {
    switch (systemCode) {
        case kErrorFileNotFound:
            return FailureCause::NotFound;
        case kErrorPathNotFound:
            return FailureCause::NoFolder;
        case kErrorAccessDenied:
            return FailureCause::NoAccess;
        case kErrorFileExists:
            return FailureCause::NameTaken;
        default:
            return FailureCause::None;
    }
}

FailureCause CauseOf(LanguageFileFault fault, Result systemCode) {
    switch (fault) {
        case LanguageFileFault::Unreadable:
            return CauseOf(systemCode);
        case LanguageFileFault::Empty:
            return FailureCause::Empty;
        case LanguageFileFault::Utf8:
            return FailureCause::Utf8;
        case LanguageFileFault::Utf8WithMark:
            return FailureCause::Utf8WithMark;
        case LanguageFileFault::Utf16BigEndian:
            return FailureCause::Utf16BigEndian;
        case LanguageFileFault::NoByteOrderMark:
            return FailureCause::NotUtf16;
        case LanguageFileFault::CrLineEnds:
            return FailureCause::CrLineEnds;
        default:
            return FailureCause::None;
    }
}

// A device, pipe or socket, links followed.
bool IsSpecialFile(const std::filesystem::path& path) {
    using std::filesystem::file_type;
    std::error_code ec;
    file_type type = std::filesystem::status(path, ec).type();
    return type == file_type::block || type == file_type::character || type == file_type::fifo ||
           type == file_type::socket;
}

// Why a file could not be opened for reading: a folder or a device is named as such, and a
// missing file whose folder is missing too says so (the systems do not all tell the two
// apart).
FailureCause CauseOfReading(const std::filesystem::path& path, FailureCause cause) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        return FailureCause::Folder;
    if (IsSpecialFile(path))
        return FailureCause::NotAFile;
    std::filesystem::path folder = path.parent_path();
    if (cause == FailureCause::NotFound && !folder.empty() &&
        !std::filesystem::exists(folder, ec) && !ec)
        return FailureCause::NoFolder;
    return cause;
}

}  // namespace

FailureCause CauseOfReading(const std::filesystem::path& path, Result systemCode) {
    return CauseOfReading(path, CauseOf(systemCode));
}

// An output that could not be created: the draft is named when something else has its name;
// otherwise the file asked for, whose folder is missing (a file being created cannot be) or
// refuses it.
Failure CreationFailure(Result code, const OutputPaths& paths, Result system) {
    FailureCause cause = CauseOf(system);
    if (cause == FailureCause::NameTaken)
        return Fail(code, paths.kind == OutputKind::UpdateCopy ? paths.file : paths.draft, cause);
    return Fail(code, paths.file, cause == FailureCause::NotFound ? FailureCause::NoFolder : cause);
}

Failure ReadingFailure(Result code, const std::filesystem::path& path, Result system) {
    return Fail(code, path, CauseOfReading(path, CauseOf(system)));
}

Failure ImageFailure(const std::filesystem::path& imagePath, const OpenedImage& opened,
                     Result code) {
    if (opened.reached)
        return Fail(code, imagePath);
    std::error_code ec;
    bool empty = std::filesystem::is_regular_file(imagePath, ec) &&
                 std::filesystem::file_size(imagePath, ec) == 0 && !ec;
    return empty ? Fail(kErrorFileNotFound, imagePath, FailureCause::Empty)
                 : ReadingFailure(kErrorFileNotFound, imagePath, code);
}

Result OpenImage(const std::filesystem::path& imagePath, OpenedImage& opened) {
    if (Result r = platform::MapWholeFile(imagePath, opened.view); r != kSuccess)
        return r;
    opened.bytes =
        std::span<const uint8_t>(opened.view.data, static_cast<size_t>(opened.view.size));
    opened.reached = true;
    opened.fileSize = opened.view.size;
    if (LooksLikeResFile(opened.bytes)) {
        opened.resFile = true;
        try {
            if (Result r = ReadResFile(opened.bytes, opened.res, opened.resError); r != kSuccess)
                return r;
            opened.section = ResFileSection(opened.bytes, opened.res, opened.resTree);
        } catch (const std::bad_alloc&) {
            return kErrorOutOfMemory;
        }
        return kSuccess;
    }
    if (Result r = pe::ReadImageHeaders(opened.bytes, opened.headers); r != kSuccess)
        return r;
    if (Result r = pe::FindResourceSection(opened.bytes, opened.headers, opened.location);
        r != kSuccess)
        return r;
    const pe::SectionHeader& s = *opened.location.section;
    opened.section = ResourceSection{opened.bytes.subspan(s.rawPointer, s.rawSize), s.rva,
                                     opened.location.RootOffset()};
    return kSuccess;
}

Result ReadImageForExport(const std::filesystem::path& imagePath, OpenedImage& opened) {
    constexpr size_t kHeaderBytes = 4096;
    thread_local std::vector<uint8_t> buffer;  // the headers, then the resource section
    platform::File file;
    uint64_t size = 0;
    if (Result r = platform::OpenRegularForReading(imagePath, file); r != kSuccess)
        return r;
    if (Result r = platform::GetSize(file, size); r != kSuccess)
        return r;
    if (size == 0)
        return kErrorFileNotFound;  // as mapping it says
    size_t front = static_cast<size_t>(std::min<uint64_t>(size, kHeaderBytes));
    if (buffer.size() < front)
        buffer.resize(kHeaderBytes);
    size_t got = 0;
    if (Result r = platform::ReadAt(file, 0, buffer.data(), front, got); r != kSuccess)
        return r;
    opened.reached = true;
    opened.fileSize = size;
    opened.bytes = std::span<const uint8_t>(buffer.data(), got);
    if (LooksLikeResFile(opened.bytes)) {  // read whole
        opened.reached = false;
        return OpenImage(imagePath, opened);
    }
    Result r = pe::ReadImageHeaders(opened.bytes, opened.headers);
    if (r == kSuccess)
        r = pe::FindResourceSection(opened.bytes, size, opened.headers, opened.location);
    if (r != kSuccess && !(r == kErrorBadFormat && got < size))
        return r;
    const pe::SectionHeader* s = opened.location.section;
    if (r == kSuccess && s->rawSize <= kReadSectionLimit) {
        if (buffer.size() < kHeaderBytes + s->rawSize)
            buffer.resize(kHeaderBytes + s->rawSize);
        uint8_t* at = buffer.data() + kHeaderBytes;
        if (Result rr = platform::ReadAt(file, s->rawPointer, at, s->rawSize, got); rr != kSuccess)
            return rr;
        if (got == s->rawSize) {
            opened.bytes = std::span<const uint8_t>(buffer.data(), front);
            opened.section = ResourceSection{std::span<const uint8_t>(at, got), s->rva,
                                             opened.location.RootOffset()};
            return kSuccess;
        }
    }
    // Headers that reach past the first page, a large section, or a file that shrank while it
    // was read: the mapping of the whole file says what it holds.
    opened.reached = false;
    opened.section = {};
    return OpenImage(imagePath, opened);
}

void TellUnreadableResFile(const std::filesystem::path& path, const OpenedImage& opened,
                           Result code, const NoticeSink& notify) {
    if (opened.resFile && code == kErrorBadFormat && notify)
        notify(Notice{NoticeKind::ResFileUnreadable,
                      path.u16string(),
                      {static_cast<uint64_t>(opened.resError.problem), opened.resError.offset}});
}

Failure LoadLanguage(const std::filesystem::path& languagePath, LanguageTable& table,
                     std::unique_ptr<platform::FileView>& view, const NoticeSink& notify) {
    Result code = kSuccess;
    LanguageFileFault fault;
    if (languagePath == kStandardStream) {
        platform::File input;
        code = platform::OpenStandardStream(false, input);
        fault =
            code != kSuccess ? LanguageFileFault::Unreadable : LoadLanguageFile(input, table, code);
    } else {
        fault = LoadLanguageFile(languagePath, table, view, code);
    }
    if (fault == LanguageFileFault::None) {
        if (table.unendedLine != 0 && notify)
            notify(Notice{NoticeKind::LastLineUnended,
                          languagePath == kStandardStream ? u"-" : languagePath.u16string(),
                          {table.unendedLine, 0}});
        return {};
    }
    if (fault == LanguageFileFault::OutOfMemory)
        return Fail(kErrorOutOfMemory, languagePath);
    return Fail(kErrorOpenFailed, languagePath, CauseOfReading(languagePath, CauseOf(fault, code)));
}

std::vector<LanguageTexts> CountTextLanguages(const ResourceSection& section) {
    std::vector<LanguageTexts> counts;
    for (uint32_t language : HandledLanguages(section, ResourceHandlers()))
        counts.push_back(LanguageTexts{language, 0});
    ExportTexts(section, ResourceHandlers(), WalkOptions{}, [&counts](const TextItem& item) {
        auto at = std::lower_bound(
            counts.begin(), counts.end(), item.resource->language,
            [](const LanguageTexts& l, uint32_t language) { return l.language < language; });
        if (at != counts.end() && at->language == item.resource->language)
            ++at->texts;
    });
    return counts;
}

Result ChooseTranslatedLanguage(const ResourceSection& section, WalkOptions& walk) {
    std::vector<uint32_t> languages = HandledLanguages(section, ResourceHandlers());
    bool neutral = !languages.empty() && languages[0] == 0;
    size_t spoken = languages.size() - neutral;  // the languages other than neutral
    if (walk.languageFilter == kAllLanguages) {
        if (spoken > 1) {
            if (walk.notify) {
                std::u16string list;
                for (const LanguageTexts& l : CountTextLanguages(section))
                    AppendLanguageCount(list, l.language, l.texts);
                walk.notify(Notice{
                    NoticeKind::SeveralSourceLanguages, std::move(list), {languages.size(), 0}});
            }
            return kErrorInvalidParameter;
        }
        if (languages.empty())
            return kSuccess;  // nothing to translate
        walk.languageFilter = languages.back();
    }
    // The neutral resources of a program in one language are that language's.
    walk.withNeutral = spoken == 1 && walk.languageFilter == languages.back();
    return kSuccess;
}

bool OnlySpokenLanguage(const ResourceSection& section, uint32_t language) {
    std::vector<uint32_t> languages = HandledLanguages(section, ResourceHandlers());
    std::erase(languages, 0u);
    return language != 0 && languages.size() == 1 && languages[0] == language;
}

namespace {

// Writes the texts, or with `pseudoExpand` their pseudo-translations, to a language file.
Failure ExportSection(const ResourceSection& section, const WalkOptions& options,
                      const OutputPaths& paths, std::optional<unsigned> pseudoExpand,
                      const OpenedImage& opened, const std::filesystem::path& imagePath) {
    OutputFile out;
    if (Result r = OpenOutput(paths, out); r != kSuccess)
        return CreationFailure(kErrorOpenFailed, paths, r);
    Result written;
    try {
        LanguageFileWriter writer;
        BeginLanguageFile(writer, FileSink(out.file));
        if (!pseudoExpand) {
            ExportTexts(section, ResourceHandlers(), options,
                        [&writer](const TextItem& item) { WriteLanguageLine(writer, item); });
        } else {
            // The language the texts were taken from, so that an import knows it.
            std::u16string lang = u"LANG=";
            AppendDecimal(lang, kPseudoLanguage);
            lang += u"\r\n";
            if (options.languageFilter != kAllLanguages) {
                lang += kSourceLanguageKey;
                lang += u'=';
                AppendDecimal(lang, options.languageFilter);
                lang += u"\r\n";
            }
            AppendUnitsLE(writer.pending, lang);
            std::u16string pseudo;
            ExportTexts(section, ResourceHandlers(), options, [&](const TextItem& item) {
                if (PseudoTranslation(item, *pseudoExpand, pseudo))
                    WriteLanguageLine(writer, TextItem{item.key, pseudo, {}, 0, item.resource});
            });
        }
        written = FinishLanguageFile(writer);
    } catch (const std::bad_alloc&) {
        written = kErrorOutOfMemory;
    }
    // Texts read from a mapping whose file was cut short meanwhile are zeros, not texts.
    if (written == kSuccess && opened.view.data != nullptr && !platform::ViewIntact(opened.view)) {
        FinishOutput(paths, out, kErrorFileInvalid);
        return Fail(kErrorFileInvalid, imagePath, FailureCause::Changed);
    }
    if (Result r = FinishOutput(paths, out, written); r != kSuccess)
        return r == written ? Fail(r, paths.file) : Fail(kErrorOpenFailed, paths.file, CauseOf(r));
    return {};
}

// Import adding a language: the target is required and another language than the source.
Failure CheckAddedLanguage(WalkOptions& options) {
    options.addLanguage = true;
    if (options.languageOverride == kNoLanguageOverride)
        return Fail(kErrorInvalidParameter, {}, FailureCause::NoTargetLanguage);
    if (options.languageFilter == options.languageOverride)
        return Fail(kErrorInvalidParameter, {}, FailureCause::TargetIsSource);
    return {};
}

// The number of texts a language file holds: its lines with a key, "LANG" and "SOURCE_LANG"
// aside.
uint64_t CountLanguageFileTexts(const LanguageTable& table) {
    uint64_t texts = 0;
    for (const KeyLine& line : LanguageFileKeyLines(table))
        texts += line.key != u"LANG" && line.key != kSourceLanguageKey;
    return texts;
}

// Says that no text of a translation is in the image and fails with 13.
Failure NoTextApplies(const std::filesystem::path& imagePath,
                      const std::filesystem::path& languagePath, uint64_t texts,
                      const NoticeSink& notify) {
    if (notify) {
        std::u16string paths = languagePath.u16string();
        paths += u'\0';
        paths += imagePath.u16string();
        notify(Notice{NoticeKind::NoTextApplies, std::move(paths), {texts, 0}});
    }
    return Fail(kErrorInvalidData, languagePath, FailureCause::NoTextApplies);
}

Failure ImportSection(const OpenedImage& opened, const std::filesystem::path& imagePath,
                      const pe::RebuildPlan& plan, WalkOptions options,
                      const std::filesystem::path& languagePath, OutputPaths& output,
                      OutputFile& out, const Options& choices) {
    std::span<const uint8_t> image = opened.bytes;
    const pe::ImageHeaders& headers = opened.headers;
    const ResourceSection& section = opened.section;
    LoadedTranslation loaded;
    loaded.format = ChosenFormat(choices, languagePath);
    loaded.useFuzzy = choices.useFuzzy;
    // With a check first, what the loading says waits for the check's report.
    std::vector<Notice> held;
    Options loading = choices;
    const NoticeSink notify = options.notify;
    if (choices.checkFirst) {
        loading.notify = [&held](const Notice& notice) { held.push_back(notice); };
        options.notify = loading.notify;
    }
    auto release = [&] {
        options.notify = notify;
        for (const Notice& notice : held)
            if (notify)
                notify(notice);
        held.clear();
    };
    Failure loadFailure;
    uint64_t poMatches = 0;
    if (loaded.format == TextFormat::Po) {
        loadFailure =
            LoadPoTranslation(languagePath, section, loading, options, loaded.catalog, &poMatches);
        if (loadFailure.code == kErrorInvalidParameter)
            loadFailure = Fail(kErrorInvalidParameter, imagePath, FailureCause::SeveralLanguages);
    } else {
        loadFailure = LoadLanguage(languagePath, loaded.table, loaded.view, loading.notify);
        // One source language is translated: the chosen one, the file's SOURCE_LANG, else the
        // image's only one. A file without texts and without LANG changes nothing and needs
        // none; a LANG value that is no language id is refused below.
        if (loadFailure.code == kSuccess) {
            const LanguageTable& table = loaded.table;
            uint32_t language, fileSource;
            if (ReadSourceLanguage(table, fileSource) != kSuccess)
                loadFailure = Fail(kErrorInvalidData, languagePath);
            else if (fileSource != kNoLanguageOverride && options.languageFilter == kAllLanguages)
                options.languageFilter = fileSource;
            size_t lines = (FindValue(table, u"LANG") ? 1u : 0u) +
                           (FindValue(table, kSourceLanguageKey) ? 1u : 0u);
            if (loadFailure.code == kSuccess && ReadLanguageOverride(table, language) == kSuccess &&
                (table.entries > lines || language != kNoLanguageOverride ||
                 choices.targetLanguage != kNoLanguageOverride || choices.addLanguage))
                if (Result r = ChooseTranslatedLanguage(section, options); r != kSuccess)
                    loadFailure = Fail(r, imagePath, FailureCause::SeveralLanguages);
        }
    }
    if (loadFailure.code == kSuccess && choices.checkFirst) {
        CheckReport report;
        WalkOptions quiet = options;
        quiet.notify = {};
        // A check that cannot run leaves the import to go on, as one that finds nothing.
        if (CheckLoadedTranslation(section, quiet, loaded, report,
                                   choices.layout ? &*choices.layout : nullptr) == kSuccess &&
            !choices.checkFirst(report)) {
            release();
            return Fail(kErrorCancelled, {});
        }
    }
    release();
    if (loadFailure.code != kSuccess)
        return loadFailure;
    TextSource source;
    uint64_t applied = 0;
    if (loaded.format == TextFormat::Po) {
        uint64_t texts = 0;
        for (const PoEntry& entry : loaded.catalog.entries)
            texts += entry.hasContext;
        if (texts > 0 && poMatches == 0)
            return NoTextApplies(imagePath, languagePath, texts, options.notify);
        source = PoSource(loaded.catalog, choices.useFuzzy);
    } else {
        const LanguageTable& table = loaded.table;
        if (Result r = ReadLanguageOverride(table, options.languageOverride); r != kSuccess) {
            // The failure alone cannot show which value was refused: a notice quotes it.
            if (options.notify) {
                std::u16string value;
                if (auto found = FindValue(table, u"LANG"))
                    AppendUnits(value, *found);
                options.notify(Notice{NoticeKind::LanguageValueRefused, value, {}});
            }
            return Fail(r, languagePath);
        }
        source = LanguageSource(table, loaded.view.get());
    }
    // The texts the translation gives: none at all means a file made for another image.
    source = [inner = std::move(source), &applied](std::u16string_view key, std::u16string& text) {
        bool found = inner(key, text);
        applied += found;
        return found;
    };
    platform::StopPointForTesting("import-loaded");
    if (choices.targetLanguage != kNoLanguageOverride)
        options.languageOverride = choices.targetLanguage;
    if (choices.addLanguage)
        if (Failure f = CheckAddedLanguage(options); f.code != kSuccess)
            return f;
    // A translation cut to fit is cut in each language's resource that takes it: said once,
    // as is a refused accelerator, with the line that holds it.
    std::set<std::u16string> cut;
    std::unordered_map<std::u16string, size_t> lineOf;
    if (notify)
        options.notify = [&](const Notice& notice) {
            if (notice.kind == NoticeKind::AcceleratorRefused) {
                if (!cut.insert(notice.key).second)
                    return;
                if (lineOf.empty())
                    for (const KeyLine& k : TranslationKeyLines(loaded))
                        lineOf.emplace(k.key, k.line);  // the first line wins
                Notice said = notice;
                auto line = lineOf.find(notice.key.substr(0, notice.counts[1]));
                said.counts[0] = line == lineOf.end() ? 0 : line->second;
                notify(said);
            } else if (notice.kind != NoticeKind::TextCut || cut.insert(notice.key).second) {
                notify(notice);
            }
        };
    if (loaded.format == TextFormat::Po && options.languageOverride == kNoLanguageOverride &&
        options.notify)
        options.notify(Notice{NoticeKind::LanguageKept, {}, {}});
    options.targetRva = opened.resFile ? 0 : plan.targetRva;
    SectionWriter writer;
    // Room for the usual growth (translations a quarter longer than the texts they replace);
    // the section grows if they need more.
    size_t rawSize = opened.resFile ? section.bytes.size() : plan.resource->rawSize;
    writer.bytes.reserve(rawSize + rawSize / 4 + 65536);
    RebuildSection(section, ResourceHandlers(), options, source, writer);
    // What was read from a mapping whose file another program cut short meanwhile is zeros
    // (or could not be written from): the image or language file changed, not the output.
    auto changedInput = [&]() -> const std::filesystem::path* {
        const platform::FileView* language = loaded.view.get();
        for (auto [view, path] :
             {std::pair{&opened.view, &imagePath}, std::pair{language, &languagePath}})
            if (view != nullptr && view->data != nullptr && !platform::ViewIntact(*view))
                return path;
        return nullptr;
    };
    if (loaded.format == TextFormat::Lng && applied == 0 && changedInput() == nullptr)
        if (uint64_t texts = CountLanguageFileTexts(loaded.table); texts > 0)
            return NoTextApplies(imagePath, languagePath, texts, options.notify);
    pe::UpdatedImage updated;
    std::vector<uint8_t> resFile;  // a compiled resource file is written whole
    if (opened.resFile) {
        if (Result r = WriteResFile(image, opened.res, writer.bytes, resFile); r != kSuccess)
            return Fail(r, imagePath);
        updated.pieces.push_back(resFile);
    } else if (Result r = pe::BuildUpdatedImage(image, headers, plan, writer.bytes, updated,
                                                choices.unsign);
               r != kSuccess) {
        return Fail(r, {});
    }
    if (Result r = OpenOutput(output, out); r != kSuccess)
        return CreationFailure(kErrorWriteFault, output, r);
    Result written = kSuccess;
    for (size_t i = 0; i < updated.pieces.size() && written == kSuccess; ++i) {
        written =
            platform::WriteBytes(out.file, updated.pieces[i].data(), updated.pieces[i].size());
        platform::StopPointForTesting("output-partly-written");
    }
    if (const std::filesystem::path* path = changedInput()) {
        FinishOutput(output, out, kErrorFileInvalid);
        return Fail(kErrorFileInvalid, *path, FailureCause::Changed);
    }
    written = FinishOutput(output, out, written == kSuccess ? kSuccess : kErrorWriteFault);
    if (written == kErrorFileExists)
        return Fail(kErrorWriteFault, output.file, FailureCause::NameTaken);
    if (written != kSuccess)
        return Fail(kErrorWriteFault, output.file);
    pe::CertificateTable certificate;
    if (options.notify && !opened.resFile && pe::FindCertificateTable(image, headers, certificate))
        options.notify(Notice{NoticeKind::SignedImage, {}, {choices.unsign ? 1u : 0u, 0}});
    if (options.notify) {
        std::u16string target;
        if (options.languageOverride != kNoLanguageOverride)
            AppendDecimal(target, options.languageOverride);
        options.notify(
            Notice{NoticeKind::Imported, std::move(target), {applied, options.languageFilter}});
    }
    return {};
}

// Refuses outputs that would destroy what is being read: an output, or the draft it is written
// to, that is the image or (for import) the language file, whatever the paths' spelling.
Failure CheckOutputs(const std::filesystem::path& imagePath,
                     const std::filesystem::path* languagePath, const OutputPaths& output) {
    if (output.file == kStandardStream)
        return {};
    for (const std::filesystem::path* out : {&output.file, &output.draft}) {
        if (platform::SameFile(imagePath, *out))
            return Fail(kErrorSharingViolation, *out, FailureCause::OverwritesImage);
        if (languagePath != nullptr && *languagePath != kStandardStream &&
            platform::SameFile(*languagePath, *out))
            return Fail(kErrorSharingViolation, *out, FailureCause::OverwritesLanguageFile);
    }
    // A folder would refuse the draft's move only after the whole work; the code is the one
    // that move gives.
    if (output.kind == OutputKind::Stream)
        return {};
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(output.file, ec);
    if (output.kind == OutputKind::Draft && !ec &&
        status.type() == std::filesystem::file_type::directory)
        return Fail(languagePath == nullptr ? kErrorOpenFailed : kErrorWriteFault, output.file,
                    FailureCause::Folder);
    // A read-only file is refused, as a write into it would be, although a new file could
    // take its place; the update copy's file to replace is the image.
    if (output.kind == OutputKind::UpdateCopy ? IsReadOnly(imagePath) : !ec && IsReadOnly(status))
        return Fail(kErrorAccessDenied,
                    output.kind == OutputKind::UpdateCopy ? imagePath : output.file,
                    FailureCause::ReadOnly);
    return {};
}

// The lock of an image whose update copy is being written, on a file of its own.
struct ImageLock {
    platform::File file;
    platform::FileIdentity identity;  // of the file locked; none when it could not be opened
};

// Locks the file at `image`, which stays locked until `lock` is closed. Fails with 33 when
// another run holds it. A file that could not be opened gets no lock: opening the image to
// read it then says why.
Failure LockImage(const std::filesystem::path& image, ImageLock& lock) {
    // The run that held the lock may have put its copy in the image's place meanwhile: the
    // locked file must be the one the image's name still gives.
    for (int attempt = 0; attempt < 16; ++attempt) {
        lock = ImageLock{};
        if (platform::OpenForLocking(image, lock.file) != kSuccess)
            return {};
        Result r = platform::LockExclusively(lock.file);
        if (r == kErrorLockViolation)
            return Fail(r, image, FailureCause::Busy);
        platform::FileIdentity named;
        // A file system without locks locks nothing, and the import goes on as before.
        if (!platform::IdentityOf(lock.file, lock.identity) ||
            (platform::IdentityOf(image, named) && named == lock.identity))
            return {};
    }
    return Fail(kErrorFileInvalid, image, FailureCause::Changed);
}

// Opens the image, the whole of it for an import and only what an export reads otherwise;
// a .res file that cannot be read is said first.
Failure OpenWorkImage(const std::filesystem::path& imagePath, bool whole, const Options& options,
                      OpenedImage& opened) {
    if (Result r = whole ? OpenImage(imagePath, opened) : ReadImageForExport(imagePath, opened);
        r != kSuccess) {
        TellUnreadableResFile(imagePath, opened, r, options.notify);
        return ImageFailure(imagePath, opened, r);
    }
    return {};
}

WalkOptions WalkOptionsOf(const Options& options) {
    WalkOptions walk;
    walk.languageFilter = options.languageFilter;
    walk.notify = options.notify;
    walk.rightToLeft = options.rightToLeft;
    return walk;
}

Failure ExportImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath, const Options& options) {
    OpenedImage opened;
    if (Failure f = OpenWorkImage(imagePath, false, options, opened); f.code != kSuccess)
        return f;
    uint64_t needed = 0;
    for (const pe::SectionHeader& s : opened.headers.sections)
        if (s.rawSize != 0)
            needed = std::max(needed, uint64_t{s.rawPointer} + s.rawSize);
    if (needed > opened.fileSize && options.notify)
        options.notify(Notice{NoticeKind::ImageCutShort, {}, {opened.fileSize, needed}});
    const ResourceSection& section = opened.section;
    if (Result r = CheckResourceTree(section); r != kSuccess)
        return Fail(r, imagePath);
    OutputPaths output = ChosenOutput(languagePath);
    if (Failure f = CheckOutputs(imagePath, nullptr, output); f.code != kSuccess)
        return f;

    WalkOptions walk = WalkOptionsOf(options);
    try {
        if (ChosenFormat(options, languagePath) == TextFormat::Po) {
            PoExport extra = MakePoExport(imagePath);
            if (options.pseudoExpand) {
                extra.pseudoExpand = options.pseudoExpand;
                extra.language = LanguageNameOfId(kPseudoLanguage);
            }
            return ExportPo(section, walk, languagePath, extra);
        }
        // A pseudo-translation holds one language's texts: other languages share their keys.
        if (options.pseudoExpand && walk.languageFilter == kAllLanguages)
            walk.languageFilter = ChooseSourceLanguage(section, walk);
        if (walk.languageFilter != kAllLanguages)
            walk.withNeutral = OnlySpokenLanguage(section, walk.languageFilter);
        return ExportSection(section, walk, output, options.pseudoExpand, opened, imagePath);
    } catch (const std::bad_alloc&) {
        return Fail(kErrorOutOfMemory, {});
    }
}

// Imports into `outputPath`; the image's update copy is written under the image's lock, the
// caller's (`held`) or this run's own. `written` receives the identity of the file written.
Failure ImportImage(const std::filesystem::path& imagePath,
                    const std::filesystem::path& languagePath,
                    const std::filesystem::path& outputPath, const Options& options,
                    const ImageLock* held = nullptr, platform::FileIdentity* written = nullptr) {
    const bool updateCopy = outputPath == UpdateCopyPath(imagePath);
    ImageLock own;
    if (updateCopy && held == nullptr) {
        if (Failure f = LockImage(imagePath, own); f.code != kSuccess)
            return f;
        held = &own;
    }
    OpenedImage opened;
    if (Failure f = OpenWorkImage(imagePath, true, options, opened); f.code != kSuccess)
        return f;
    platform::FileIdentity read;
    if (held != nullptr && held->file.IsOpen() &&
        (!platform::IdentityOf(opened.view.file, read) || read != held->identity))
        return Fail(kErrorFileInvalid, imagePath, FailureCause::Changed);
    pe::RebuildPlan plan;
    if (!opened.resFile) {
        if (Result r = pe::PlanRebuild(opened.bytes, opened.headers, opened.location, plan);
            r != kSuccess)
            return Fail(r, imagePath);
    }
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return Fail(r, imagePath);
    OutputPaths output = updateCopy ? UpdateCopyOutput(imagePath) : ChosenOutput(outputPath);
    if (Failure f = CheckOutputs(imagePath, &languagePath, output); f.code != kSuccess)
        return f;

    WalkOptions walk = WalkOptionsOf(options);
    try {
        OutputFile out;
        Failure f =
            ImportSection(opened, imagePath, plan, walk, languagePath, output, out, options);
        if (f.code == kSuccess && written != nullptr)
            *written = out.identity;
        return f;
    } catch (const std::bad_alloc&) {
        return Fail(kErrorOutOfMemory, {});
    }
}

}  // namespace

FailureText TextOfFailure(const Failure& failure) {
    switch (failure.cause) {
        case FailureCause::None:
            break;
        case FailureCause::NotFound:
            return failure.code == kErrorPathNotFound ? FailureText::NoSuchFolder
                                                      : FailureText::NoSuchFile;
        case FailureCause::NoAccess:
            return FailureText::AccessDenied;
        case FailureCause::Empty:
            return FailureText::Empty;
        case FailureCause::ReadOnly:
            return FailureText::ReadOnly;
        case FailureCause::OverwritesImage:
            return FailureText::OverwritesImage;
        case FailureCause::OverwritesLanguageFile:
            return FailureText::OverwritesLanguageFile;
        case FailureCause::Utf8:
            return FailureText::Utf8;
        case FailureCause::Utf8WithMark:
            return FailureText::Utf8WithMark;
        case FailureCause::Utf16BigEndian:
            return FailureText::Utf16BigEndian;
        case FailureCause::NotUtf16:
            return FailureText::NotUtf16;
        case FailureCause::NameTaken:
            return FailureText::NameTaken;
        case FailureCause::NoFolder:
            return FailureText::NoSuchFolder;
        case FailureCause::Folder:
            return FailureText::Folder;
        case FailureCause::NoTargetLanguage:
            return FailureText::NoTargetLanguage;
        case FailureCause::TargetIsSource:
            return FailureText::TargetIsSource;
        case FailureCause::SeveralLanguages:
            return FailureText::SeveralLanguages;
        case FailureCause::NotAFile:
            return FailureText::NotAFile;
        case FailureCause::CrLineEnds:
            return FailureText::CrLineEnds;
        case FailureCause::PoFile:
            return FailureText::PoFile;
        case FailureCause::NoTextApplies:
            return FailureText::NoTextApplies;
        case FailureCause::Busy:
            return FailureText::Busy;
        case FailureCause::Changed:
            return FailureText::Changed;
    }
    switch (failure.code) {
        case kErrorFileNotFound:
            return FailureText::NoSuchFile;
        case kErrorPathNotFound:
            return FailureText::NoSuchFolder;
        case kErrorAccessDenied:
            return FailureText::AccessDenied;
        case kErrorBadFormat:
            return FailureText::NotAnImage;
        case kErrorInvalidData:
            return FailureText::UnusableLanguage;
        case kErrorOutOfMemory:
            return FailureText::OutOfMemory;
        case kErrorWriteFault:
            return FailureText::CannotWrite;
        case kErrorSharingViolation:
            return FailureText::OverwritesInput;
        case kErrorOpenFailed:
            return FailureText::LanguageFileUnusable;
        case kErrorDiskFull:
            return FailureText::DiskFull;
        case kErrorFilenameExcedRange:
            return FailureText::NameTooLong;
        case kErrorResourceDataNotFound:
            return FailureText::NoResources;
        default:
            return FailureText::Other;
    }
}

TextFormat FormatOfPath(const std::filesystem::path& path) {
    std::u8string e = path.extension().u8string();
    for (char8_t& c : e)
        c = c >= u8'A' && c <= u8'Z' ? static_cast<char8_t>(c - u8'A' + u8'a') : c;
    return e == u8".po" || e == u8".pot" ? TextFormat::Po : TextFormat::Lng;
}

std::filesystem::path UpdateCopyPath(const std::filesystem::path& imagePath) {
    std::filesystem::path copy = imagePath;
    copy += kUpdateCopySuffix;
    return copy;
}

std::filesystem::path DefaultLanguagePath(const std::filesystem::path& imagePath) {
    using string = std::filesystem::path::string_type;
    const string& path = imagePath.native();
    if (path.empty())
        return {};
    size_t nameStart = path.find_last_of(string{std::filesystem::path::preferred_separator, '/'});
    nameStart = nameStart == string::npos ? 0 : nameStart + 1;
    size_t dot = path.rfind('.');
    string result = dot != string::npos && dot >= nameStart ? path.substr(0, dot) : path;
    result += std::filesystem::path(".lng").native();
    return result;
}

bool PseudoTranslation(const TextItem& item, unsigned expandPercent, std::u16string& out) {
    // A font and an accelerator's key are no texts to translate.
    if (item.role == TextRole::Font || item.role == TextRole::Accelerator)
        return false;
    out = PseudoTranslate(item.text, expandPercent);
    return true;
}

Outcome<> Export(const std::filesystem::path& imagePath, const std::filesystem::path& languagePath,
                 const Options& options) {
    return OutcomeOf(ExportImage(imagePath, languagePath, options));
}

Outcome<> Import(const std::filesystem::path& imagePath, const std::filesystem::path& languagePath,
                 const std::filesystem::path& outputPath, const Options& options) {
    return OutcomeOf(ImportImage(imagePath, languagePath, outputPath, options));
}

InPlaceImport ImportInPlace(const std::filesystem::path& imagePath,
                            const std::filesystem::path& languagePath, const Options& options) {
    InPlaceImport outcome;
    auto fail = [&](Failure failure) {
        outcome.failure = std::move(failure);
        return outcome;
    };
    // Through a link, the file it names is translated and the link stays.
    std::filesystem::path image = LinkTarget(imagePath);
    std::filesystem::path copy = UpdateCopyPath(image);
    ImageLock lock;
    if (Failure f = LockImage(image, lock); f.code != kSuccess)
        return fail(f);
    platform::FileIdentity written;
    if (Failure f = ImportImage(image, languagePath, copy, options, &lock, &written);
        f.code != kSuccess)
        return fail(f);
    platform::StopPointForTesting("update-copy-named");
    // Only this run's own copy is moved, and only over the file it read: another program may
    // have replaced either meanwhile.
    platform::FileIdentity named;
    if (!platform::IdentityOf(copy, named) || named != written)
        return fail(Fail(kErrorFileInvalid, copy, FailureCause::Changed));
    if (lock.file.IsOpen() && (!platform::IdentityOf(image, named) || named != lock.identity)) {
        platform::DeletePath(copy);
        return fail(Fail(kErrorFileInvalid, image, FailureCause::Changed));
    }
    // Windows replaces no file that is open, the lock's own handle included. A run that takes
    // the lock from here on reads the image this rename replaces, and its own check above
    // fails.
    lock = ImageLock{};
    if (Result moved = platform::ReplacePath(copy, image); moved != kSuccess) {
        outcome.copyLeft = true;
        return fail(Failure{moved, CauseOf(moved), image});
    }
    // The new name lasts through a power loss: the file's bytes were written before it.
    platform::FlushFolder(image.parent_path());
    return outcome;
}

Outcome<std::vector<LanguageTexts>> TextLanguages(const std::filesystem::path& imagePath) {
    OpenedImage opened;
    if (Result r = ReadImageForExport(imagePath, opened); r != kSuccess)
        return Failed(
            Fail(opened.reached ? r : kErrorFileNotFound, imagePath,
                 opened.reached ? FailureCause::None : CauseOfReading(imagePath, CauseOf(r))));
    if (Result r = CheckResourceTree(opened.section); r != kSuccess)
        return Failed(Fail(r, imagePath));
    try {
        return CountTextLanguages(opened.section);
    } catch (const std::bad_alloc&) {
        return Failed(Fail(kErrorOutOfMemory, {}));
    }
}

bool IsCompleteImage(const std::filesystem::path& path) {
    OpenedImage opened;
    if (OpenImage(path, opened) != kSuccess)
        return false;
    for (const pe::SectionHeader& s : opened.headers.sections)
        if (uint64_t{s.rawPointer} + s.rawSize > opened.bytes.size())
            return false;
    return true;
}

}  // namespace quelvar
