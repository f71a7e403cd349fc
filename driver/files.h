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
    Stream,      // standard output, a device or a pipe: written directly, never removed
    Draft,       // written to `draft`, which then replaces `file`
    UpdateCopy,  // the image's update copy: written as a new file under its own name
};

struct OutputPaths {
    std::filesystem::path file;   // where the finished output goes
    std::filesystem::path draft;  // where it is written; `file` for a stream or an update copy
    OutputKind kind = OutputKind::Draft;
};

// Where an output the user named (a language file, an import's output) goes. "-" is standard
// output. A symbolic link is followed to the file it names, which is written beside it as
// "<name>.QN"; a path that reaches a device or a pipe is written directly.
OutputPaths ChosenOutput(const std::filesystem::path& path);
// The update copy at `copy` itself.
OutputPaths UpdateCopyOutput(const std::filesystem::path& copy);

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
};

// Opens where an output is written. A stale regular file at a draft or update copy's name is
// removed first; anything else there (a link, a folder) stays and fails the creation with 80.
// Returns 0 or the system's reason.
Result OpenOutput(const OutputPaths& paths, OutputFile& out);

// Ends an output whose file has been written, `written` being 0 or the first failure, and
// closes it: a complete draft replaces the file with its permissions; after any failure the
// draft or update copy is removed. Returns 0, `written`, or the system's reason the draft
// could not take the file's place.
Result FinishOutput(const OutputPaths& paths, OutputFile& out, Result written);

// Opens, writes and finishes an output given as pieces in file order. Returns 0, or 29 when it
// cannot be created (`created` then says why), written or put in place.
Result WriteOutput(const OutputPaths& paths, std::span<const std::span<const uint8_t>> pieces,
                   Result& created);

}  // namespace quelvar
