#include "driver/files.h"

#include "driver/driver.h"

namespace quelvar {

std::filesystem::path LinkTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec))
        return path;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved;
}

OutputPaths ChosenOutput(const std::filesystem::path& path) {
    using std::filesystem::file_type;
    if (path == kStandardStream)
        return {path, path, OutputKind::Stream};
    // The type of what the path reaches, links followed, as /dev/stdout reaches a pipe.
    std::error_code ec;
    file_type type = std::filesystem::status(path, ec).type();
    if (type == file_type::block || type == file_type::character || type == file_type::fifo ||
        type == file_type::socket)
        return {path, path, OutputKind::Stream};
    OutputPaths paths{LinkTarget(path), {}, OutputKind::Draft};
    paths.draft = paths.file;
    paths.draft += kUpdateCopySuffix;
    return paths;
}

OutputPaths UpdateCopyOutput(const std::filesystem::path& copy) {
    return {copy, copy, OutputKind::UpdateCopy};
}

bool IsReadOnly(const std::filesystem::path& path) {
    using std::filesystem::perms;
    std::error_code ec;
    perms mode = std::filesystem::status(path, ec).permissions();
    return !ec && mode != perms::unknown &&
           (mode & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

Result OpenOutput(const OutputPaths& paths, platform::File& file) {
    if (paths.kind == OutputKind::Stream)
        return paths.file == kStandardStream ? platform::OpenStandardStream(true, file)
                                             : platform::CreateForWriting(paths.file, file);
    platform::RemoveRegularFile(paths.draft);
    return platform::CreateNew(paths.draft, file);
}

Result FinishOutput(const OutputPaths& paths, Result written) {
    if (paths.kind == OutputKind::Stream)
        return written;  // nothing to move, and a device is never removed
    if (written == kSuccess && paths.kind == OutputKind::UpdateCopy)
        return kSuccess;
    if (written == kSuccess) {
        // The finished file keeps the permissions of the one it replaces.
        std::error_code ec;
        auto perms = std::filesystem::status(paths.file, ec).permissions();
        if (!ec)
            std::filesystem::permissions(paths.draft, perms, ec);
        written = platform::ReplacePath(paths.draft, paths.file);
        if (written == kSuccess)
            return kSuccess;
    }
    platform::DeletePath(paths.draft);
    return written;
}

Result WriteOutput(const OutputPaths& paths, std::span<const std::span<const uint8_t>> pieces,
                   Result& created) {
    platform::File out;
    created = OpenOutput(paths, out);
    if (created != kSuccess)
        return kErrorWriteFault;
    Result written = kSuccess;
    for (size_t i = 0; i < pieces.size() && written == kSuccess; ++i)
        written = platform::WriteBytes(out, pieces[i].data(), pieces[i].size());
    out = platform::File();  // closed before it is moved or removed
    return FinishOutput(paths, written == kSuccess ? kSuccess : kErrorWriteFault) == kSuccess
               ? kSuccess
               : kErrorWriteFault;
}

}  // namespace quelvar
