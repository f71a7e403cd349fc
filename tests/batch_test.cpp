// The batch runner's work queue: every job runs once on any number of threads, its events come
// one at a time in order, and the results do not depend on the threads.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/batch.h"
#include "pe_builder.h"

namespace quelvar {
namespace {

TEST(Batch, EveryJobRunsOnceWhateverTheThreads) {
    test::TempDir dir;
    std::vector<BatchJob> jobs;
    for (int i = 0; i < 40; ++i) {
        std::string name = "image" + std::to_string(i) + ".exe";
        test::Bytes image = test::BuildImage(
            {{test::Id(6), test::Id(1), 1033, test::StringBlock({std::u16string(i + 1, u'x')})}});
        if (i % 7 == 3)
            image.resize(300);  // fails
        test::WriteFileBytes(dir / name, image);
        jobs.push_back(BatchJob{dir / name, dir / "lng" / (name + ".lng"), {}, {}, false});
    }
    std::vector<JobOutcome> first;
    for (unsigned threads : {1u, 3u, 8u}) {
        SCOPED_TRACE(threads);
        std::vector<int> started(jobs.size()), finished(jobs.size());
        size_t lastDone = 0;
        bool ordered = true;
        std::vector<JobResult> results = RunBatch(
            jobs, BatchDirection::Export, {}, threads,
            [&](const BatchEvent& event, const JobResult* result) {
                ++(result != nullptr ? finished : started)[event.job];
                ordered = ordered && event.total == jobs.size() &&
                          (result == nullptr ? event.done == lastDone
                                             : event.done == lastDone + 1 && event.finished);
                lastDone = event.done;
            });
        EXPECT_TRUE(ordered);
        EXPECT_EQ(lastDone, jobs.size());
        EXPECT_EQ(started, std::vector<int>(jobs.size(), 1));
        EXPECT_EQ(finished, std::vector<int>(jobs.size(), 1));
        std::vector<JobOutcome> outcomes;
        for (const JobResult& r : results)
            outcomes.push_back(r.outcome);
        if (first.empty())
            first = outcomes;
        EXPECT_EQ(outcomes, first);
        EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), JobOutcome::Failed), 6);
    }
}

}  // namespace
}  // namespace quelvar
