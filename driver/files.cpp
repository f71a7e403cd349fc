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
        return {path, path, OutputKind::Stream, {}};
    // The type of what the path reaches, links followed, as /dev/stdout reaches a pipe.
    std::error_code ec;
    file_type own = std::filesystem::symlink_status(path, ec).type();
    file_type type = own == file_type::symlink ? std::filesystem::status(path, ec).type() : own;
    if (type == file_type::block || type == file_type::character || type == file_type::fifo ||
        type == file_type::socket)
        return {path, path, OutputKind::Stream, {}};
    OutputPaths paths{
        own == file_type::symlink ? LinkTarget(path) : path, {}, OutputKind::Draft, {}};
    paths.draft = paths.file;
    paths.draft += kUpdateCopySuffix;
    paths.replaces = paths.file;
    return paths;
}

OutputPaths UpdateCopyOutput(const std::filesystem::path& image) {
    std::filesystem::path copy = UpdateCopyPath(image);
    return {copy, UpdateCopyPath(copy), OutputKind::UpdateCopy, image};
}

bool IsReadOnly(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::status(path, ec);
    return !ec && IsReadOnly(status);
}

bool IsReadOnly(const std::filesystem::file_status& status) {
    using std::filesystem::perms;
    perms mode = status.permissions();
    return mode != perms::unknown &&
           (mode & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

namespace {

// True when a link, folder or device has the name: only a regular file there is replaced.
bool NameTakenByOther(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    return !ec && std::filesystem::exists(status) &&
           status.type() != std::filesystem::file_type::regular;
}

// A complete output that takes another file's place: that file's owner, group, mode and
// extended attributes, and on the disk before it has a name.
Result PrepareToReplace(const std::filesystem::path& replaced, OutputFile& out, bool always) {
    if (!platform::TakeAttributesOf(out.file, replaced) && !always)
        return kSuccess;
    return platform::FlushFile(out.file);
}

}  // namespace

Result OpenOutput(const OutputPaths& paths, OutputFile& out) {
    out.unnamed = false;
    if (paths.kind == OutputKind::Stream)
        return paths.file == kStandardStream ? platform::OpenStandardStream(true, out.file)
                                             : platform::CreateForWriting(paths.file, out.file);
    // Refused before any work, as the naming would refuse it after all of it.
    if (paths.kind == OutputKind::UpdateCopy && NameTakenByOther(paths.file))
        return kErrorFileExists;
    bool draftFree = platform::RemoveRegularFile(paths.draft) == kSuccess;
    // Without a name, creating the file does not hold up others making files in the folder
    // (on Linux, the folder stays locked while a new file is given its inode), and a run that
    // is killed leaves nothing. An update copy never needs its draft's name then.
    if (paths.kind == OutputKind::UpdateCopy || draftFree) {
        std::filesystem::path folder = paths.file.parent_path();
        if (platform::CreateUnnamed(folder.empty() ? "." : folder, out.file) == kSuccess) {
            out.unnamed = true;
            return kSuccess;
        }
    }
    return platform::CreateNew(paths.draft, out.file);
}

Result FinishOutput(const OutputPaths& paths, OutputFile& out, Result written) {
    const bool unnamed = out.unnamed;
    const bool copy = paths.kind == OutputKind::UpdateCopy;
    out.unnamed = false;
    if (paths.kind == OutputKind::Stream) {
        out.file = platform::File();
        return written;  // nothing to move, and a device is never removed
    }
    if (written == kSuccess && (copy || !unnamed))
        written = PrepareToReplace(paths.replaces, out, copy);
    if (written == kSuccess && !platform::IdentityOf(out.file, out.identity))
        out.identity = {};
    if (written != kSuccess) {
        out.file = platform::File();  // an unnamed file goes with its last handle
        if (!unnamed)
            platform::DeletePath(paths.draft);
        return written;
    }
    if (unnamed) {
        written = platform::NameFile(out.file, paths.file);
        if (written == kErrorFileExists && copy) {
            // A stale update copy (of a run that could not put it in place) gives way; this
            // run holds the image's lock, so no other run is making one.
            written = platform::RemoveRegularFile(paths.file);
            if (written == kSuccess)
                written = platform::NameFile(out.file, paths.file);
        }
        if (written != kErrorFileExists || copy) {
            out.file = platform::File();
            return written;
        }
        // A file that replaces another is named as the draft, and then goes on as a draft.
        written = PrepareToReplace(paths.replaces, out, false);
        if (written == kSuccess)
            written = platform::NameFile(out.file, paths.draft);
        out.file = platform::File();
        if (written != kSuccess)
            return written;
    }
    out.file = platform::File();  // closed before it is moved
    written = copy && NameTakenByOther(paths.file) ? kErrorFileExists
                                                   : platform::ReplacePath(paths.draft, paths.file);
    if (written != kSuccess)
        platform::DeletePath(paths.draft);
    return written;
}

Result WriteOutput(const OutputPaths& paths, std::span<const std::span<const uint8_t>> pieces,
                   Result& created) {
    OutputFile out;
    created = OpenOutput(paths, out);
    if (created != kSuccess)
        return kErrorWriteFault;
    Result written = kSuccess;
    for (size_t i = 0; i < pieces.size() && written == kSuccess; ++i)
        written = platform::WriteBytes(out.file, pieces[i].data(), pieces[i].size());
    return FinishOutput(paths, out, written == kSuccess ? kSuccess : kErrorWriteFault) == kSuccess
               ? kSuccess
               : kErrorWriteFault;
}

}  // namespace quelvar
