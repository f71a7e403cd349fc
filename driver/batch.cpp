#include "driver/batch.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/platform.h"
#include "resources/res_file.h"

namespace quelvar {

namespace {

namespace fs = std::filesystem;

// False only for a file that can be read and begins neither with "MZ" nor as a compiled
// resource file (an empty one too); a file that cannot be read is taken for an image, whose
// failure says why.
bool MayBeImage(const fs::path& path) {
    platform::File file;
    if (platform::OpenRegularForReading(path, file) != kSuccess)
        return true;
    uint8_t mark[32] = {};
    size_t got = 0;
    if (platform::ReadBytes(file, mark, sizeof mark, got) != kSuccess)
        return true;
    return (got >= 2 && mark[0] == 'M' && mark[1] == 'Z') ||
           LooksLikeResFile(std::span<const uint8_t>(mark, got));
}

bool IsUpdateCopy(const fs::path& path) {
    return path.filename().native().ends_with(fs::path(kUpdateCopySuffix).native());
}

Failure FolderFailure(const fs::path& folder, const std::error_code& ec) {
    if (ec == std::errc::permission_denied)
        return Failure{kErrorAccessDenied, FailureCause::NoAccess, folder};
    return Failure{kErrorPathNotFound, FailureCause::None, folder};
}

struct Found {
    fs::path image;
    fs::path relative;  // below the folder argument, or the image's file name
    fs::path identity;  // the same for every path of one file, as far as the plan needs
    Failure preset;
    bool inFolder = false;
    bool special = false;
};

bool IsSpecial(fs::file_type type) {
    return type == fs::file_type::block || type == fs::file_type::character ||
           type == fs::file_type::fifo || type == fs::file_type::socket;
}

// The files below a folder, sorted by their relative path, with each folder among them that
// cannot be listed (the folder itself too). No link is followed, so the folder's own canonical
// path and the relative path identify a file.
void ListFolder(const fs::path& folder, std::vector<Found>& found) {
    std::vector<Found> listed;
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(folder, ec);
    if (ec)
        canonical = folder.lexically_normal();
    std::vector<fs::path> pending{folder};
    while (!pending.empty()) {
        fs::path current = std::move(pending.back());
        pending.pop_back();
        fs::directory_iterator it(current, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            std::error_code typeError;
            fs::file_type type = it->symlink_status(typeError).type();
            if (type == fs::file_type::directory) {
                pending.push_back(it->path());
                continue;
            }
            if ((type != fs::file_type::regular && !IsSpecial(type)) || IsUpdateCopy(it->path()))
                continue;
            fs::path relative = it->path().lexically_relative(folder);
            listed.push_back(
                Found{it->path(), relative, canonical / relative, {}, true, IsSpecial(type)});
        }
        if (ec)
            listed.push_back(Found{current,
                                   current.lexically_relative(folder),
                                   {},
                                   FolderFailure(current, ec),
                                   false,
                                   false});
    }
    std::sort(listed.begin(), listed.end(),
              [](const Found& a, const Found& b) { return a.relative < b.relative; });
    found.insert(found.end(), listed.begin(), listed.end());
}

// What identifies an image however it is reached.
fs::path Identity(const fs::path& image) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(image, ec);
    return ec ? image.lexically_normal() : canonical;
}

// The folders a batch made, which it removes at its end when they stay empty.
struct MadeFolders {
    std::mutex lock;
    std::vector<fs::path> paths;
};

Failure MakeFolder(const fs::path& folder, MadeFolders& made) {
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec))
        return {};
    std::vector<fs::path> missing;  // from the innermost out
    for (fs::path p = folder; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
        bool created = fs::create_directory(*p, ec);
        if (ec)
            return FolderFailure(folder, ec);
        if (created) {
            std::lock_guard<std::mutex> hold(made.lock);
            made.paths.push_back(*p);
        }
    }
    return {};
}

// Removes the folders the batch made that stayed empty, the innermost first.
void RemoveEmptyFolders(std::vector<fs::path>& made) {
    std::sort(made.begin(), made.end(), [](const fs::path& a, const fs::path& b) {
        return a.native().size() > b.native().size();
    });
    for (const fs::path& folder : made) {
        std::error_code ec;
        if (fs::is_empty(folder, ec) && !ec)
            fs::remove(folder, ec);
    }
}

// `made` is the folder this worker last made or found, which is not asked for again.
JobResult RunJob(const BatchJob& job, BatchDirection direction, const Options& options,
                 fs::path& made, MadeFolders& folders) {
    JobResult result;
    if (job.preset.code != kSuccess) {
        result.outcome = JobOutcome::Unlisted;
        result.failure = job.preset;
        return result;
    }
    if (job.special) {
        result.outcome = JobOutcome::NotAFile;
        return result;
    }
    Options own = options;
    own.notify = [&result](const Notice& notice) { result.notices.push_back(notice); };
    if (direction == BatchDirection::Import) {
        std::error_code ec;
        if (!fs::exists(job.exchange, ec)) {
            bool image = !job.found || MayBeImage(job.image);
            result.outcome = image ? JobOutcome::NoTranslation : JobOutcome::NotImage;
            return result;
        }
    }
    const fs::path& written = direction == BatchDirection::Export ? job.exchange : job.output;
    if (fs::path folder = written.parent_path(); folder != made) {
        if (Failure f = MakeFolder(folder, folders); f.code != kSuccess) {
            result.failure = f;
            return result;
        }
        made = std::move(folder);
    }
    Failure failure;
    if (direction == BatchDirection::Export) {
        if (Outcome<> done = Export(job.image, job.exchange, own); !done)
            failure = std::move(done.error());
    } else if (job.output.empty()) {
        InPlaceImport outcome = ImportInPlace(job.image, job.exchange, own);
        failure = std::move(outcome.failure);
        result.copyLeft = outcome.copyLeft;
    } else if (Outcome<> done = Import(job.image, job.exchange, job.output, own); !done) {
        failure = std::move(done.error());
    }
    if (failure.code == kSuccess)
        result.outcome = JobOutcome::Done;
    else if (failure.code == kErrorResourceDataNotFound)
        result.outcome = JobOutcome::NoResources;
    else if (job.found && !MayBeImage(job.image))
        result.outcome = JobOutcome::NotImage;
    else
        result.failure = std::move(failure);
    return result;
}

}  // namespace

const char* BatchExtension(TextFormat format) {
    return format == TextFormat::Po ? ".po" : ".lng";
}

BatchPlan PlanBatch(std::span<const fs::path> inputs, const fs::path& textFolder, TextFormat format,
                    const fs::path& outputFolder) {
    BatchPlan plan;
    std::vector<Found> found;
    for (const fs::path& input : inputs) {
        std::error_code ec;
        fs::file_type type = fs::status(input, ec).type();
        if (type == fs::file_type::directory) {
            ListFolder(input, found);
            continue;
        }
        fs::path name = input.filename();
        found.push_back(Found{input,
                              name.empty() ? input.lexically_normal().filename() : name,
                              Identity(input),
                              {},
                              false,
                              IsSpecial(type)});
    }
    std::set<fs::path> images;
    std::map<fs::path, fs::path> owners;  // a text file's path and the image it belongs to
    for (Found& f : found) {
        BatchJob job;
        job.image = f.image;
        job.preset = f.preset;
        job.found = f.inFolder;
        job.special = f.special;
        if (f.preset.code == kSuccess) {
            if (!images.insert(f.identity).second)
                continue;
            job.exchange = textFolder / f.relative;
            job.exchange += BatchExtension(format);
            auto [owner, added] = owners.emplace(job.exchange.lexically_normal(), f.image);
            if (!added) {
                plan.clash[0] = owner->second;
                plan.clash[1] = f.image;
                return plan;
            }
            if (!outputFolder.empty())
                job.output = outputFolder / f.relative;
        }
        plan.jobs.push_back(std::move(job));
    }
    return plan;
}

std::vector<JobResult> RunBatch(std::span<const BatchJob> jobs, BatchDirection direction,
                                const Options& options, unsigned threads,
                                const BatchProgress& progress) {
    std::vector<JobResult> results(jobs.size());
    std::atomic<size_t> next{0};
    std::mutex said;  // one event at a time
    size_t done = 0;
    MadeFolders folders;
    auto work = [&] {
        fs::path made;
        for (size_t i = next++; i < jobs.size(); i = next++) {
            if (progress) {
                std::lock_guard<std::mutex> lock(said);
                progress(BatchEvent{i, false, done, jobs.size()}, nullptr);
            }
            try {
                results[i] = RunJob(jobs[i], direction, options, made, folders);
            } catch (const std::bad_alloc&) {
                results[i] = JobResult{JobOutcome::Failed,
                                       Failure{kErrorOutOfMemory, FailureCause::None, {}},
                                       false,
                                       {}};
            }
            std::lock_guard<std::mutex> lock(said);
            ++done;
            if (progress)
                progress(BatchEvent{i, true, done, jobs.size()}, &results[i]);
        }
    };
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<size_t>(threads, jobs.size()));
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the threads already started and this one do the work
        }
    }
    work();
    for (std::thread& w : workers)
        w.join();
    RemoveEmptyFolders(folders.paths);
    return results;
}

}  // namespace quelvar
