// How the driver writes its outputs: under a temporary name put in place only once complete,
// never following or truncating a file that lies at that name, so that a failed write leaves
// no part of the output and the file it would replace as it was.
#pragma once

#include <filesystem>
#include <span>

#include "base/result.h"
#include "platform/platform.h"

namespace quelvar {

enum class OutputKind {
    Stream,  // standard output, a device or a pipe: written directly, never removed
    Draft,   // written to `draft`, which then replaces `file`
    // The image's update copy: named `file` only once complete, when it replaces a stale copy
    // left there; never renamed over anything but a regular file.
    UpdateCopy,
};

struct OutputPaths {
    std::filesystem::path file;   // where the finished output goes
    std::filesystem::path draft;  // where it is written when it cannot be written unnamed
    OutputKind kind = OutputKind::Draft;
    // The file whose place the output takes, whose owner, group, mode and extended attributes
    // it keeps: `file` for a draft, the image for its update copy.
    std::filesystem::path replaces;
};

// Where an output the user named (a language file, an import's output) goes. "-" is standard
// output. A symbolic link is followed to the file it names, which is written beside it as
// "<name>.QN"; a path that reaches a device or a pipe is written directly.
OutputPaths ChosenOutput(const std::filesystem::path& path);
// The update copy of `image`: UpdateCopyPath(image), its draft that path with ".QN" appended
// once more (a name never taken for a finished copy of the image).
OutputPaths UpdateCopyOutput(const std::filesystem::path& image);

// True when the file exists and nobody may write it.
bool IsReadOnly(const std::filesystem::path& path);
// The same of a file whose status has been read.
bool IsReadOnly(const std::filesystem::file_status& status);

// An output being written.
struct OutputFile {
    platform::File file;
    // Made without a name (where the system can): named once complete, at the file's name when
    // that is free, else at the draft's, and gone without a trace when it fails.
    bool unnamed = false;
    // The finished file, once FinishOutput has named it.
    platform::FileIdentity identity;
};

// Opens where an output is written: without a name where the system allows it, else at the
// draft's name. A stale regular file at the draft's name is removed first; anything else there
// (a link, a folder) stays and fails the creation with 80. Returns 0 or the system's reason.
Result OpenOutput(const OutputPaths& paths, OutputFile& out);

// Ends an output whose file has been written, `written` being 0 or the first failure, and
// closes it. A complete output that replaces a file (always the update copy) takes that file's
// owner, group, mode and extended attributes and is written to the disk before it is named or
// renamed; it is named, or the draft renamed, only then. A stale regular file at the update
// copy's name is replaced, anything else there fails with 80. After any failure nothing of the
// output is left. Returns 0, `written`, or the system's reason the output could not be put in
// place.
Result FinishOutput(const OutputPaths& paths, OutputFile& out, Result written);

// Opens, writes and finishes an output given as pieces in file order. Returns 0, or 29 when it
// cannot be created (`created` then says why), written or put in place.
Result WriteOutput(const OutputPaths& paths, std::span<const std::span<const uint8_t>> pieces,
                   Result& created);

}  // namespace quelvar
