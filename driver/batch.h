// Export and import over many images at once: the jobs a list of images and folders gives, and
// worker threads that run them, each image on its own, so that one that fails stops no other.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "base/notice.h"
#include "driver/driver.h"

namespace quelvar {

enum class BatchDirection { Export, Import };

// One image and the files it goes with.
struct BatchJob {
    std::filesystem::path image;
    // The text file export writes and import reads: the folder of text files, then the image's
    // path relative to the folder argument it was found in (its file name for an image given
    // alone), with ".lng" or ".po" appended to the whole name, so that "app.exe" and "app.dll"
    // of one folder keep files of their own.
    std::filesystem::path exchange;
    // Import: where the translated image goes (the output folder and the same relative path);
    // empty translates the image in place.
    std::filesystem::path output;
    // A folder that cannot be listed (`image` is the folder), and why; 0 when none.
    Failure preset;
    // Found below a folder argument: a file that begins neither with "MZ" nor as a compiled
    // resource file (.res) is then no program image and skipped, not failed.
    bool found = false;
    // A device, pipe or socket: skipped, never opened.
    bool special = false;
};

struct BatchPlan {
    std::vector<BatchJob> jobs;
    // Two different images whose text files would have one name (the same relative path below
    // two folder arguments): both paths, empty when none. The plan is then unusable.
    std::filesystem::path clash[2];
};

// The text file extension of a format: ".po" for PO, else ".lng".
const char* BatchExtension(TextFormat format);

// Lists the jobs of `inputs`: an argument that is a folder gives every regular file below it
// (links, to files or folders, are not followed, nor update copies ending in ".QN" taken),
// sorted by path, and a job for each device, pipe or socket and for each folder that cannot be
// listed; any other argument is an image itself, tried as given. An image reached twice
// (through two arguments) makes one job. `textFolder` holds the text files; `outputFolder`, when
// not empty, the translated images of an import.
BatchPlan PlanBatch(std::span<const std::filesystem::path> inputs,
                    const std::filesystem::path& textFolder, TextFormat format,
                    const std::filesystem::path& outputFolder);

enum class JobOutcome {
    Done,
    NoResources,    // the image has no resources (1812): skipped
    NoTranslation,  // import: no text file for the image in the folder: skipped
    NotImage,       // a file found in a folder that is neither an image nor a .res: skipped
    Failed,
    NotAFile,  // a device, pipe or socket: skipped without being opened
    Unlisted,  // a folder that cannot be listed: failed (`failure` says why)
};

struct JobResult {
    JobOutcome outcome = JobOutcome::Failed;
    Failure failure;        // Failed: what failed, as the single-image operations say it
    bool copyLeft = false;  // in-place import: the translated image stays at its update copy
    std::vector<Notice> notices;
};

// A job starts or ends; `done` jobs of `total` have ended, this one included when `finished`.
struct BatchEvent {
    size_t job = 0;
    bool finished = false;
    size_t done = 0;
    size_t total = 0;
};

// Called on one thread at a time, in the order the events happen.
using BatchProgress = std::function<void(const BatchEvent& event, const JobResult* result)>;

// Runs every job on `threads` worker threads (0: one a processor), each taking the next job
// not yet taken, with `options` (its notify is replaced per job: notices are kept in the job's
// result). Folders that a text file or an output lies in are created, and those
// of them that stay empty are removed at the end. Returns one result a job, in the jobs'
// order. `progress` may be empty.
std::vector<JobResult> RunBatch(std::span<const BatchJob> jobs, BatchDirection direction,
                                const Options& options, unsigned threads,
                                const BatchProgress& progress);

}  // namespace quelvar
