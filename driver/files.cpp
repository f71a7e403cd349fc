#include "driver/files.h"

#include <new>

#include "driver/driver.h"

namespace quelvar {

namespace {

// Removes what a failed write left of the update copy: the file, or the file a symbolic link
// names. A device or a pipe that was written to is left alone.
void RemovePartialCopy(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path file = path;
    if (std::filesystem::is_symlink(path, ec))
        file = std::filesystem::weakly_canonical(path, ec);
    if (!ec && std::filesystem::is_regular_file(file, ec))
        platform::DeletePath(file);
}

}  // namespace

LanguageFilePaths ExportPaths(const std::filesystem::path& languagePath) {
    using std::filesystem::file_type;
    std::error_code ec;
    LanguageFilePaths paths{languagePath, {}};
    if (std::filesystem::is_symlink(languagePath, ec)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(languagePath, ec);
        if (!ec)
            paths.file = resolved;
    }
    file_type type = std::filesystem::status(paths.file, ec).type();
    paths.draft = paths.file;
    if (type != file_type::block && type != file_type::character && type != file_type::fifo &&
        type != file_type::socket)
        paths.draft += kUpdateCopySuffix;
    return paths;
}

Result CreateLanguageFileDraft(const LanguageFilePaths& paths, platform::File& file) {
    using std::filesystem::perms;
    std::error_code ec;
    // A renamed draft would replace a read-only file all the same: refuse it as a write
    // into it would be refused.
    perms mode = std::filesystem::status(paths.file, ec).permissions();
    if (!ec && mode != perms::unknown &&
        (mode & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none)
        return kErrorOpenFailed;
    if (platform::CreateForWriting(paths.draft, file) != kSuccess)
        return kErrorOpenFailed;
    return kSuccess;
}

Result PutLanguageFileInPlace(const LanguageFilePaths& paths, Result written) {
    if (paths.draft == paths.file)
        return written;  // written directly: nothing to move, and a device is never removed
    if (written == kSuccess) {
        // The finished file keeps the permissions of the one it replaces.
        std::error_code ec;
        auto perms = std::filesystem::status(paths.file, ec).permissions();
        if (!ec)
            std::filesystem::permissions(paths.draft, perms, ec);
        if (platform::ReplacePath(paths.draft, paths.file) == kSuccess)
            return kSuccess;
        written = kErrorOpenFailed;
    }
    platform::DeletePath(paths.draft);
    return written;
}

Result WriteLanguageFileAtomically(const std::filesystem::path& languagePath,
                                   const std::function<void(LanguageFileWriter&)>& fill) {
    LanguageFilePaths paths = ExportPaths(languagePath);
    platform::File file;
    if (Result r = CreateLanguageFileDraft(paths, file); r != kSuccess)
        return r;
    Result written;
    try {
        LanguageFileWriter writer;
        BeginLanguageFile(writer, file);
        fill(writer);
        written = FinishLanguageFile(writer);
    } catch (const std::bad_alloc&) {
        written = kErrorOutOfMemory;
    }
    file = platform::File();  // closed before it is moved or removed
    return PutLanguageFileInPlace(paths, written);
}

Result WriteUpdateCopy(const std::filesystem::path& path,
                       std::span<const std::span<const uint8_t>> pieces) {
    platform::File out;
    if (platform::CreateForWriting(path, out) != kSuccess)
        return kErrorWriteFault;
    for (std::span<const uint8_t> piece : pieces) {
        if (platform::WriteBytes(out, piece.data(), piece.size()) != kSuccess) {
            out = platform::File();
            RemovePartialCopy(path);
            return kErrorWriteFault;
        }
    }
    return kSuccess;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace quelvar
