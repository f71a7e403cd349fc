// export --batch and import --batch: many images at once, a progress line on a terminal (plain
// lines elsewhere) and a summary.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "exchange/language_names.h"

#ifdef _WIN32
#include <io.h>
#define QUELVAR_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define QUELVAR_ISATTY(f) isatty(fileno(f))
#endif

namespace quelvar::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The widest progress line: terminals are at least this wide.
constexpr size_t kLineWidth = 79;

const char* Verb(BatchDirection direction) {
    return direction == BatchDirection::Export ? "export" : "import";
}

// What the single-image command says of a failure, as it says it.
void SayFailure(const BatchCommand& command, const Reporting& report, const BatchJob& job,
                const JobResult& result) {
    if (result.outcome == JobOutcome::Unlisted) {
        report.fail("listing a folder", result.failure);
        return;
    }
    if (!result.copyLeft) {
        report.fail(Verb(command.direction), result.failure);
        return;
    }
    std::fprintf(stderr, "quelvar-cli: the translated image stays at %s\n",
                 report.show(UpdateCopyPath(LinkTarget(job.image))).c_str());
    Failure failure = result.failure;
    failure.path.clear();  // the line above names both files
    report.fail("replacing the image", failure);
}

// The progress of the run as the user sees it: one line rewritten on a terminal, one line an
// image otherwise, nothing with -q but failures and notices.
struct Progress {
    const BatchCommand& command;
    const Reporting& report;
    std::span<const BatchJob> jobs;
    bool terminal = false;
    Clock::time_point start = Clock::now();
    Clock::time_point drawn{};
    size_t shown = 0;    // the length of the progress line on the screen, 0 when none
    size_t current = 0;  // the job started last

    void Clear() {
        if (shown > 0)
            std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown), "");
        shown = 0;
    }

    void Draw(const BatchEvent& event, bool now) {
        if (!event.finished)
            current = event.job;
        Clock::time_point t = Clock::now();
        if (!now && t - drawn < std::chrono::milliseconds(100))
            return;
        drawn = t;
        char text[64];
        int n = std::snprintf(text, sizeof text, "[%zu/%zu]", event.done, event.total);
        if (event.done > 0 && event.done < event.total) {
            double seconds = std::chrono::duration<double>(t - start).count();
            double rest = static_cast<double>(event.total - event.done);
            auto left = static_cast<unsigned long>(seconds / event.done * rest + 0.5);
            std::snprintf(text + n, sizeof text - n, " %lu:%02lu left", left / 60, left % 60);
        }
        std::string line = text;
        std::string file = report.show(jobs[current].image);
        size_t room = kLineWidth > line.size() + 1 ? kLineWidth - line.size() - 1 : 0;
        if (file.size() > room) {
            // The end of the path, cut at the start of a UTF-8 sequence.
            size_t cut = file.size() - std::min(file.size(), room > 3 ? room - 3 : 0);
            while (cut < file.size() && (static_cast<uint8_t>(file[cut]) & 0xC0) == 0x80)
                ++cut;
            file = room > 3 ? "..." + file.substr(cut) : "";
        }
        line += " " + file;
        size_t erase = shown > line.size() ? shown - line.size() : 0;
        std::fprintf(stderr, "\r%s%*s", line.c_str(), static_cast<int>(erase), "");
        if (erase > 0)
            std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
        shown = line.size();
    }

    // A job's notices, after a line that names its image (what an import did is said in its
    // status line).
    void SayNotices(const BatchJob& job, const std::vector<Notice>& notices) {
        std::string image = report.show(job.image);
        bool named = false;
        for (const Notice& notice : notices) {
            if (notice.kind == NoticeKind::Imported)
                continue;
            if (!named)
                std::fprintf(stderr, "quelvar-cli: %s:\n", image.c_str());
            named = true;
            report.tell(notice);
        }
    }

    // What an import did: ": 12 texts of language 1033 (en_US) translated, now 1031 (de_DE)".
    static std::string ImportDone(const std::vector<Notice>& notices) {
        auto language = [](uint64_t id) {
            std::string name(LanguageNameOfId(static_cast<uint32_t>(id)));
            return std::to_string(id) + (name.empty() ? "" : " (" + name + ")");
        };
        for (const Notice& notice : notices) {
            if (notice.kind != NoticeKind::Imported)
                continue;
            std::string done = ": " + std::to_string(notice.counts[0]) +
                               (notice.counts[0] == 1 ? " text" : " texts");
            if (notice.counts[1] <= 0xFFFF)
                done += " of language " + language(notice.counts[1]);
            done += " translated";
            if (!notice.key.empty())
                done += ", now language " + language(std::stoul(ToUtf8(notice.key)));
            return done;
        }
        return "";
    }

    void Finished(const BatchJob& job, const JobResult& result) {
        bool plain = !command.quiet && !terminal;
        if (terminal && !result.notices.empty())
            Clear();
        if (plain) {
            std::string image = report.show(job.image);
            bool exported = command.direction == BatchDirection::Export;
            const std::filesystem::path& written = exported             ? job.exchange
                                                   : job.output.empty() ? job.image
                                                                        : job.output;
            switch (result.outcome) {
                case JobOutcome::Done:
                    // As the single-image commands say it.
                    std::fprintf(stderr, "%s %s %s %s%s\n", exported ? "exported" : "imported",
                                 report.show(exported ? job.image : job.exchange).c_str(),
                                 exported ? "to" : "into", report.show(written).c_str(),
                                 exported ? "" : ImportDone(result.notices).c_str());
                    break;
                case JobOutcome::NoResources:
                    std::fprintf(stderr, "skipped %s: the image has no resources\n", image.c_str());
                    break;
                case JobOutcome::NoTranslation:
                    std::fprintf(stderr, "skipped %s: no file %s\n", image.c_str(),
                                 report.show(job.exchange).c_str());
                    break;
                case JobOutcome::NotAFile:
                    std::fprintf(stderr, "skipped %s: a device, pipe or socket, not a file\n",
                                 image.c_str());
                    break;
                case JobOutcome::Failed:
                case JobOutcome::Unlisted:
                    SayFailure(command, report, job, result);
                    break;
                case JobOutcome::NotImage:
                    break;  // counted in the summary
            }
        }
        SayNotices(job, result.notices);
    }
};

}  // namespace

int RunBatchCommand(const BatchCommand& command, const Reporting& report) {
    BatchPlan plan =
        PlanBatch(command.inputs, command.textFolder, command.format, command.outputFolder);
    if (!plan.clash[0].empty()) {
        std::string problem =
            "two images would share a file in the folder: " + report.show(plan.clash[0]) + " and " +
            report.show(plan.clash[1]);
        return Usage(Verb(command.direction), problem);
    }
    Progress progress{command, report, plan.jobs};
    progress.terminal = !command.quiet && QUELVAR_ISATTY(stderr);
    Options options = command.options;
    options.notify = {};
    std::vector<JobResult> results =
        RunBatch(plan.jobs, command.direction, options, command.threads,
                 [&progress](const BatchEvent& event, const JobResult* result) {
                     if (result != nullptr)
                         progress.Finished(progress.jobs[event.job], *result);
                     if (progress.terminal)
                         progress.Draw(event, event.done == event.total);
                 });
    progress.Clear();

    size_t counts[7] = {0, 0, 0, 0, 0, 0, 0};
    for (const JobResult& r : results)
        ++counts[static_cast<size_t>(r.outcome)];
    auto count = [&counts](JobOutcome outcome) {
        return std::to_string(counts[static_cast<size_t>(outcome)]);
    };
    size_t failed = counts[static_cast<size_t>(JobOutcome::Failed)];
    size_t unlisted = counts[static_cast<size_t>(JobOutcome::Unlisted)];
    if (!command.quiet) {
        size_t others = counts[static_cast<size_t>(JobOutcome::NotImage)];
        size_t special = counts[static_cast<size_t>(JobOutcome::NotAFile)];
        size_t images = results.size() - others - special - unlisted;
        std::string summary = std::string("quelvar-cli: ") + Verb(command.direction) +
                              " --batch: " + std::to_string(images) + " images, " +
                              count(JobOutcome::Done) + " done, " + count(JobOutcome::NoResources) +
                              " skipped (no resources)";
        if (command.direction == BatchDirection::Import)
            summary += ", " + count(JobOutcome::NoTranslation) + " skipped (no " +
                       (BatchExtension(command.format) + 1) + " file)";
        summary += ", " + std::to_string(failed) + " failed";
        if (others > 0)
            summary += "; " + std::to_string(others) + " other files are no program images";
        if (special > 0)
            summary += "; " + std::to_string(special) + " devices or pipes skipped";
        if (unlisted > 0)
            summary += "; " + std::to_string(unlisted) + " folders cannot be listed";
        std::fprintf(stderr, "%s\n", summary.c_str());
    }
    // The failures close the output, one line each, -q or not.
    for (size_t i = 0; i < results.size(); ++i)
        if (results[i].outcome == JobOutcome::Failed || results[i].outcome == JobOutcome::Unlisted)
            SayFailure(command, report, plan.jobs[i], results[i]);
    return failed + unlisted > 0 ? 1 : 0;
}

}  // namespace quelvar::cli
