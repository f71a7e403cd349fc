// quelvar-bench: builds large synthetic images full of string tables, with a language file
// that translates every string, and times export, import and, for reference, a plain copy of
// the image file. Each time is the median of several runs; export and import are also given
// as multiples of the copy. Three sizes (half, full, double) show how the cost grows.
//
// The batch scenario exports every image of a product folder with one worker thread and with
// two, as `quelvar-cli export --batch` does.
//
// The stress scenario (POSIX) imports into the real image in place in child processes: 100
// imports killed at a random moment, and 100 pairs of imports of two translations into one
// image at once. After each, the image must be the original or a whole translation of a run
// that said it succeeded, and an update copy left beside it must be whole.
//
// usage: quelvar-bench [RUNS [SIZE]]   (RUNS: runs per measurement, default 7; SIZE: real,
//                                       batch, stress, half, full or double to run that one
//                                       alone; stress runs only when named)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "driver/batch.h"
#include "driver/driver.h"
#include "pe_builder.h"
#include "platform/platform.h"

namespace {

using quelvar::test::Bytes;
using quelvar::test::Id;
using quelvar::test::Resource;

struct Workload {
    const char* label;
    uint32_t blocks;     // string table blocks 1..blocks
    uint32_t languages;  // each block is present in this many languages
};

// Full size: every id of every block, 4096 blocks of 16 strings, in one language. Block
// numbers end at 4096, so the double size carries each block in a second language.
constexpr Workload kWorkloads[] = {
    {"half", 2048, 1},
    {"full", 4096, 1},
    {"double", 4096, 2},
};

constexpr uint32_t kLanguages[] = {1033, 2052};

// Non-text resources (bitmaps, icons, data) that import copies: 64 KiB per 256 blocks.
constexpr size_t kOpaqueResourceSize = 64 * 1024;

// Lengths of user interface texts: mostly labels, some sentences, a few paragraphs.
size_t TextLength(std::mt19937& rng) {
    uint32_t kind = rng() % 100;
    if (kind < 70)
        return 3 + rng() % 28;
    if (kind < 95)
        return 30 + rng() % 91;
    return 120 + rng() % 281;
}

std::u16string Text(std::mt19937& rng, size_t length, bool cjk) {
    static constexpr char16_t kLatin[] =
        u"abcdefghijklmnopqrstuvwxyz      ,.:&%ABCDEFGHIJ\u00E9\u00FC";
    std::u16string text;
    text.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t r = rng() % 1000;
        if (r < 4)
            text.push_back(u'\n');
        else if (r < 6)
            text.push_back(u'\\');
        else if (cjk)
            text.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x5000));
        else
            text.push_back(kLatin[rng() % (std::size(kLatin) - 1)]);
    }
    return text;
}

void AppendUnits(Bytes& out, std::u16string_view units) {
    for (char16_t u : units) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
}

void AppendAscii(Bytes& out, const std::string& text) {
    for (char c : text) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
}

struct Generated {
    Bytes image;
    Bytes language;  // a translation of every string
    size_t strings = 0;
    // The language translated: an image of several languages is translated one at a time.
    uint32_t source = quelvar::kAllLanguages;
};

Generated Generate(const Workload& w) {
    std::mt19937 rng(20240607);
    Generated g;
    g.language = {0xFF, 0xFE};
    std::vector<Resource> resources;
    for (uint32_t l = 0; l < w.languages; ++l) {
        for (uint32_t b = 1; b <= w.blocks; ++b) {
            Bytes block;
            for (uint32_t k = 0; k < 16; ++k) {
                // Half of the strings count a terminating zero, as some compilers store them.
                std::u16string text = Text(rng, TextLength(rng), l != 0);
                if (rng() % 2)
                    text.push_back(0);
                quelvar::test::Put16(block, block.size(), static_cast<uint16_t>(text.size()));
                AppendUnits(block, text);
                ++g.strings;

                std::u16string translation = Text(rng, TextLength(rng), l == 0);
                AppendAscii(g.language, "6." + std::to_string(b) + "." +
                                            std::to_string((b - 1) * 16 + k) + "=");
                for (char16_t u : translation) {
                    if (u == u'\n')
                        AppendAscii(g.language, "\\n");
                    else if (u == u'\\')
                        AppendAscii(g.language, "\\\\");
                    else
                        AppendUnits(g.language, std::u16string_view(&u, 1));
                }
                AppendAscii(g.language, "\r\n");
            }
            resources.push_back(Resource{Id(6), Id(b), kLanguages[l], std::move(block), 0});
        }
    }
    uint32_t opaque = w.blocks * w.languages / 256;
    for (uint32_t i = 0; i < opaque; ++i) {
        Bytes data(kOpaqueResourceSize);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(rng());
        resources.push_back(Resource{Id(10), Id(100 + i), 1033, std::move(data), 0});
    }
    g.image = quelvar::test::BuildImage(resources);
    return g;
}

// The real-image scenario: Wine's shell32.dll when the machine has Wine (a large program with
// thousands of texts and relocations after its resources), else an image of the same shape.
// The translation changes every text of the image's own export.
constexpr const char* kRealImages[] = {
    "/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll",
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll",
    "/usr/lib/wine/i386-windows/shell32.dll",
    "/usr/lib/wine/x86_64-windows/shell32.dll",
};

void Check(quelvar::Result r, const char* what);
// The same for what the driver returns.
template <class T>
void Check(const quelvar::Outcome<T>& outcome, const char* what) {
    Check(outcome ? quelvar::kSuccess : outcome.error().code, what);
}

Generated RealImage(const std::filesystem::path& dir, std::string& name) {
    Generated g;
    for (const char* path : kRealImages) {
        if (std::filesystem::exists(path)) {
            g.image = quelvar::test::ReadFileBytes(path);
            name = path;
            break;
        }
    }
    if (g.image.empty()) {
        // 13 MB: 500 blocks of strings, opaque data, relocations after the resources.
        std::mt19937 rng(20261208);
        std::vector<Resource> resources;
        for (uint32_t b = 1; b <= 500; ++b) {
            std::vector<std::u16string> strings;
            for (int k = 0; k < 16; ++k)
                strings.push_back(Text(rng, TextLength(rng), false));
            resources.push_back(Resource{Id(6), Id(b), 1033, quelvar::test::StringBlock(strings)});
        }
        resources.push_back(Resource{Id(10), Id(1), 1033, Bytes(12'000'000, 0x5A)});
        quelvar::test::ImageOptions options;
        options.sectionAfterResources = true;
        g.image = quelvar::test::BuildImage(resources, options);
        name = "a generated image of that shape (no shell32.dll here)";
    }
    auto image = dir / "real.dll";
    auto exported = dir / "real.lng";
    quelvar::test::WriteFileBytes(image, g.image);
    g.source = 1033;  // English: shell32.dll has 49 languages
    Check(quelvar::Export(image, exported, quelvar::OfLanguage(g.source)),
          "export of the real image");
    std::u16string text = quelvar::test::LanguageText(quelvar::test::ReadFileBytes(exported));
    std::u16string translated;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find(u'\n', start);
        end = end == std::u16string::npos ? text.size() : end + 1;
        std::u16string line = text.substr(start, end - start);
        size_t eq = line.find(u'=');
        if (eq != std::u16string::npos) {
            line.insert(eq + 1, u"\u00DC ");
            ++g.strings;
        }
        translated += line;
        start = end;
    }
    g.language = quelvar::test::LanguageFile(translated);
    return g;
}

// One measurement: the wall-clock time and the processor time of the process (user and
// system), in milliseconds. The processor time is what a busy machine disturbs least.
struct Time {
    double wall = 0;
    double cpu = 0;
};

template <typename Step>
Time Measure(Step step) {
    auto wallStart = std::chrono::steady_clock::now();
    std::clock_t cpuStart = std::clock();
    step();
    std::clock_t cpuEnd = std::clock();
    auto wallEnd = std::chrono::steady_clock::now();
    return Time{std::chrono::duration<double, std::milli>(wallEnd - wallStart).count(),
                1000.0 * static_cast<double>(cpuEnd - cpuStart) / CLOCKS_PER_SEC};
}

Time Median(std::vector<Time> times) {
    size_t mid = times.size() / 2;
    Time median;
    std::nth_element(times.begin(), times.begin() + mid, times.end(),
                     [](const Time& a, const Time& b) { return a.wall < b.wall; });
    median.wall = times[mid].wall;
    std::nth_element(times.begin(), times.begin() + mid, times.end(),
                     [](const Time& a, const Time& b) { return a.cpu < b.cpu; });
    median.cpu = times[mid].cpu;
    return median;
}

void Check(quelvar::Result r, const char* what) {
    if (r != quelvar::kSuccess) {
        std::fprintf(stderr, "quelvar-bench: %s failed with error %u\n", what,
                     static_cast<unsigned>(r));
        std::exit(1);
    }
}

// The reference: the image file read whole and written to a new file.
void CopyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    quelvar::platform::File in;
    Check(quelvar::platform::OpenForReading(from, in), "opening the image");
    uint64_t size = 0;
    Check(quelvar::platform::GetSize(in, size), "reading the image's size");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t got = 0;
    Check(quelvar::platform::ReadBytes(in, bytes.data(), bytes.size(), got), "reading the image");
    quelvar::platform::File out;
    Check(quelvar::platform::CreateForWriting(to, out), "creating the copy");
    Check(quelvar::platform::WriteBytes(out, bytes.data(), got), "writing the copy");
}

struct Timings {
    Time copy, exported, imported;
};

// Runs copy, export and import in turn, `runs` times, so that a change in the machine's load
// touches all three alike.
Timings TimeWorkload(const Generated& g, const std::filesystem::path& dir, int runs) {
    auto image = dir / "image.exe";
    auto exported = dir / "exported.lng";
    auto translated = dir / "translated.lng";
    // A new file each time: an output that replaces a file, as an update copy does, is flushed
    // to the disk first, which would time the disk.
    auto updated = dir / "imported.exe";
    quelvar::test::WriteFileBytes(image, g.image);
    quelvar::test::WriteFileBytes(translated, g.language);
    std::vector<Time> copy, exports, imports;
    for (int i = 0; i < runs; ++i) {
        copy.push_back(Measure([&] { CopyFile(image, dir / "copy.exe"); }));
        exports.push_back(Measure([&] {
            Check(quelvar::Export(image, exported, quelvar::OfLanguage(g.source)), "export");
        }));
        std::filesystem::remove(updated);
        imports.push_back(Measure([&] {
            Check(quelvar::Import(image, translated, updated, quelvar::OfLanguage(g.source)),
                  "import");
        }));
    }
    return Timings{Median(copy), Median(exports), Median(imports)};
}

// The batch scenario: Wine's 64-bit programs and libraries when the machine has Wine, else a
// generated product of that make-up (two thirds of its images with texts, a third without).
constexpr const char* kProductFolders[] = {
    "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
    "/usr/lib/wine/x86_64-windows",
};

std::filesystem::path Product(const std::filesystem::path& dir, std::string& name) {
    for (const char* folder : kProductFolders) {
        std::error_code ec;
        if (std::filesystem::is_directory(folder, ec)) {
            name = folder;
            return folder;
        }
    }
    std::mt19937 rng(20261209);
    auto product = dir / "product";
    for (uint32_t i = 0; i < 700; ++i) {
        std::vector<Resource> resources;
        if (i % 3 != 2) {
            uint32_t blocks = 1 + rng() % 40;
            for (uint32_t b = 1; b <= blocks; ++b) {
                std::vector<std::u16string> strings;
                for (int k = 0; k < 16; ++k)
                    strings.push_back(Text(rng, TextLength(rng), false));
                resources.push_back(
                    Resource{Id(6), Id(b), 1033, quelvar::test::StringBlock(strings)});
            }
            resources.push_back(
                Resource{Id(5), Id(100), 1033, quelvar::test::CaptionDialog(u"Options")});
        }
        resources.push_back(Resource{Id(10), Id(1), 1033, Bytes(rng() % 200'000, 0x5A)});
        Bytes image = quelvar::test::BuildImage(resources);
        if (i % 3 == 2)
            quelvar::test::Put32(image, quelvar::test::kNtOffset + 24 + 96 + 16, 0);
        auto sub = product / (i % 2 ? "programs" : "libraries");
        std::filesystem::create_directories(sub);
        quelvar::test::WriteFileBytes(sub / ("image" + std::to_string(i) + ".dll"), image);
    }
    name = "a generated product of 700 images (no Wine here)";
    return product;
}

// The processor time of the calling thread, in milliseconds.
double ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double MedianOf(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Times the export of every image of the product with one and with two worker threads, in
// turn, `runs` times. Besides the clocks of the process, the processor time of the busiest
// worker: on a machine that others keep busy the wall clock shows the share of the processors
// this process gets rather than what a second thread gives, and the busiest worker's time is
// what the run would take with a processor of its own for each thread.
void TimeBatch(const std::filesystem::path& dir, int runs) {
    std::string name;
    std::filesystem::path product = Product(dir, name);
    std::filesystem::path inputs[] = {product};
    std::vector<Time> times[2];
    std::vector<double> busiest[2];
    size_t done = 0, files = 0;
    for (int i = 0; i < runs; ++i) {
        for (unsigned threads : {1u, 2u}) {
            // Each run writes into a folder of its own, as a first export of a product does.
            // Replacing the files of the run before would measure the file system's freeing
            // of the old files as well (and on ext4 without a journal, inodes freed in the
            // last minutes are skipped one by one when a new file is made).
            auto out = dir / "batch" / (std::to_string(i) + "-" + std::to_string(threads));
            quelvar::BatchPlan plan = quelvar::PlanBatch(inputs, out, quelvar::TextFormat::Lng, {});
            files = plan.jobs.size();
            std::map<std::thread::id, std::pair<double, double>> spans;  // first, last
            auto progress = [&spans](const quelvar::BatchEvent&, const quelvar::JobResult*) {
                double now = ThreadCpu();
                spans.try_emplace(std::this_thread::get_id(), now, now).first->second.second = now;
            };
            std::vector<quelvar::JobResult> results;
            times[threads - 1].push_back(Measure([&] {
                results = quelvar::RunBatch(plan.jobs, quelvar::BatchDirection::Export, {}, threads,
                                            progress);
            }));
            double most = 0;
            for (const auto& [thread, span] : spans)
                most = std::max(most, span.second - span.first);
            busiest[threads - 1].push_back(most);
            done = std::count_if(results.begin(), results.end(), [](const auto& r) {
                return r.outcome == quelvar::JobOutcome::Done;
            });
        }
    }
    Time one = Median(times[0]), two = Median(times[1]);
    double busy[2] = {MedianOf(busiest[0]), MedianOf(busiest[1])};
    std::printf("\nbatch: %s, %zu files, %zu with texts exported\n", name.c_str(), files, done);
    std::printf("  %-5s %9s %9s %15s\n", "", "wall", "cpu", "busiest worker");
    std::printf("  -j 1  %9.1f %9.1f %15.1f\n", one.wall, one.cpu, busy[0]);
    std::printf("  -j 2  %9.1f %9.1f %15.1f\n", two.wall, two.cpu, busy[1]);
    std::printf("  speedup of -j 2: %.2fx wall clock, %.2fx by the busiest worker\n",
                one.wall / two.wall, busy[0] / busy[1]);
}

#ifndef _WIN32
// An in-place import in a child process; its pid.
pid_t StartImport(const std::filesystem::path& image, const std::filesystem::path& language) {
    pid_t child = fork();
    if (child == 0)
        _exit(quelvar::ImportInPlace(image, language).failure.code == quelvar::kSuccess ? 0 : 1);
    return child;
}

// True when the child exited with 0.
bool Succeeded(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Stress(const std::filesystem::path& dir) {
    std::string name;
    Generated g = RealImage(dir, name);
    auto image = dir / "stress.dll";
    auto copy = quelvar::UpdateCopyPath(image);
    auto first = dir / "first.lng";
    auto second = dir / "second.lng";
    quelvar::test::WriteFileBytes(first, g.language);
    Bytes other = g.language;  // every value begins with another letter
    for (size_t i = 0; i + 4 <= other.size(); i += 2)
        if (other[i] == '=' && other[i + 1] == 0 && other[i + 2] == 0xDC && other[i + 3] == 0)
            other[i + 2] = 0xC4;
    quelvar::test::WriteFileBytes(second, other);
    // The images a run can leave: each translation, and each over the other's.
    auto translate = [&](const Bytes& from, const std::filesystem::path& language) {
        quelvar::test::WriteFileBytes(image, from);
        Check(quelvar::ImportInPlace(image, language).failure.code, "import");
        return quelvar::test::ReadFileBytes(image);
    };
    const Bytes a = translate(g.image, first), b = translate(g.image, second);
    const Bytes ba = translate(b, first), ab = translate(a, second);
    auto elapsed = Measure([&] { translate(g.image, first); });
    std::printf("\nstress: %s, one import in place %.1f ms\n", name.c_str(), elapsed.wall);

    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> moment(0, static_cast<int>(elapsed.wall * 1000 * 1.2));
    int partial = 0, copies = 0, whole = 0, untouched = 0, translated = 0;
    for (int i = 0; i < 100; ++i) {
        quelvar::test::WriteFileBytes(image, g.image);
        std::filesystem::remove(copy);
        pid_t child = StartImport(image, first);
        usleep(static_cast<useconds_t>(moment(rng)));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        Bytes now = quelvar::test::ReadFileBytes(image);
        untouched += now == g.image;
        translated += now == a;
        partial += now != g.image && now != a;
        if (std::filesystem::exists(copy)) {
            ++copies;
            Bytes left = quelvar::test::ReadFileBytes(copy);
            whole += left == a;
            partial += left != a;
        }
    }
    std::printf(
        "  100 imports killed: %d images untouched, %d translated, %d update copies left "
        "(%d whole), %d partial\n",
        untouched, translated, copies, whole, partial);

    int foreign = 0, pairPartial = 0, both = 0, one = 0, none = 0;
    for (int i = 0; i < 100; ++i) {
        quelvar::test::WriteFileBytes(image, g.image);
        std::filesystem::remove(copy);
        pid_t p = StartImport(image, first), q = StartImport(image, second);
        bool firstOk = Succeeded(p), secondOk = Succeeded(q);
        Bytes now = quelvar::test::ReadFileBytes(image);
        bool known = now == g.image || now == a || now == b || now == ab || now == ba;
        bool right = firstOk && secondOk ? now == ab || now == ba
                     : firstOk           ? now == a
                     : secondOk          ? now == b
                                         : now == g.image;
        pairPartial += !known || std::filesystem::exists(copy);
        foreign += known && !right;
        both += firstOk && secondOk;
        one += firstOk != secondOk;
        none += !firstOk && !secondOk;
    }
    std::printf(
        "  100 pairs of imports: %d both succeeded one after the other, %d one refused "
        "(another run was importing), %d none; %d partial, %d foreign images\n",
        both, one, none, pairPartial, foreign);
}
#endif

// check and check --layout of the real image's full translation, in turn `runs` times: the
// layout check measures every dialog twice (source and translation) with stand-in fonts.
void TimeCheck(const Generated& g, const std::filesystem::path& dir, int runs) {
    auto image = dir / "checked.dll";
    auto translated = dir / "checked.lng";
    quelvar::test::WriteFileBytes(image, g.image);
    quelvar::test::WriteFileBytes(translated, g.language);
    quelvar::Options plain;
    plain.languageFilter = g.source;
    quelvar::Options layout = plain;
    layout.layout = quelvar::LayoutSettings{};
    std::vector<Time> checks, layouts;
    size_t findings = 0;
    // The first check --layout of the process opens and hints its fonts; the next ones find
    // them open (a command line run is always the first).
    Time first{};
    for (int i = 0; i < runs; ++i) {
        auto check = [&](const quelvar::Options& options, const char* what) {
            quelvar::Outcome<quelvar::CheckReport> report =
                quelvar::CheckImage(image, translated, options);
            Check(report ? quelvar::kSuccess : report.error().code, what);
            findings = report ? report->findings.size() : 0;
        };
        checks.push_back(Measure([&] { check(plain, "check"); }));
        layouts.push_back(Measure([&] { check(layout, "check --layout"); }));
        if (i == 0)
            first = layouts.back();
    }
    Time c = Median(checks), l = Median(layouts);
    std::printf(
        "  check --layout (%zu findings): %-5s %.1f, check %.1f, %.2fx; %-5s %.1f, check "
        "%.1f, %.2fx (goal: 2x)\n",
        findings, "wall", l.wall, c.wall, l.wall / c.wall, "cpu", l.cpu, c.cpu, l.cpu / c.cpu);
    std::printf(
        "  check --layout, the first of the process (fonts opened): wall %.1f, cpu %.1f, "
        "%.2fx\n",
        first.wall, first.cpu, first.cpu / c.cpu);
}

// The real image's dialogs laid out and drawn to PNG in memory: those of its source language
// with the full translation beside them, and every dialog of every language alone.
void TimePictures(const Generated& g, const std::filesystem::path& dir, int runs) {
    auto image = dir / "drawn.dll";
    auto translated = dir / "drawn.lng";
    quelvar::test::WriteFileBytes(image, g.image);
    quelvar::test::WriteFileBytes(translated, g.language);
    for (bool pairs : {true, false}) {
        quelvar::Options options;
        options.languageFilter = pairs ? g.source : quelvar::kAllLanguages;
        std::vector<Time> times;
        size_t dialogs = 0, drawn = 0, bytes = 0;
        for (int i = 0; i < runs; ++i) {
            times.push_back(Measure([&] {
                quelvar::Outcome<std::vector<quelvar::LaidOutDialog>> outcome =
                    quelvar::LayOutDialogs(image, pairs ? &translated : nullptr, options, {});
                Check(outcome, "preview");
                const std::vector<quelvar::LaidOutDialog>& laidOut = *outcome;
                dialogs = laidOut.size();
                drawn = bytes = 0;
                std::vector<uint8_t> png;
                std::string problem;
                for (const quelvar::LaidOutDialog& d : laidOut) {
                    if (quelvar::DrawLaidOutDialog(d, quelvar::PictureFormat::Png, {}, png,
                                                   problem)) {
                        ++drawn;
                        bytes += png.size();
                    }
                }
            }));
        }
        Time t = Median(times);
        std::printf(
            "  preview to PNG, %s (%zu of %zu dialogs drawn, %.1f kB): wall %.1f, cpu "
            "%.1f%s\n",
            pairs ? "source and translation" : "every language", drawn, dialogs, bytes / 1e3,
            t.wall, t.cpu, pairs ? "" : " (goal: 5000 on one core)");
    }
}

void PrintRow(const char* clock, double copy, double exported, double imported) {
    std::printf("  %-5s %9.2f %9.1f %7.1fx %9.1f %7.1fx\n", clock, copy, exported, exported / copy,
                imported, imported / copy);
}

// With QUELVAR_BENCH_KEEP set to a folder, a generated image and its translation are also
// written there (<label>.exe, <label>.lng), to measure the command line on them.
void KeepFiles(const Generated& g, const char* label) {
    const char* keep = std::getenv("QUELVAR_BENCH_KEEP");
    if (keep == nullptr)
        return;
    std::filesystem::path dir(keep);
    quelvar::test::WriteFileBytes(dir / (std::string(label) + ".exe"), g.image);
    quelvar::test::WriteFileBytes(dir / (std::string(label) + ".lng"), g.language);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    const char* only = argc > 2 ? argv[2] : nullptr;
    if (runs < 1 || argc > 3) {
        std::fprintf(stderr, "usage: quelvar-bench [RUNS [real|batch|stress|half|full|double]]\n");
        return 2;
    }
    quelvar::test::TempDir dir;
    std::printf(
        "medians of %d runs, in milliseconds; export and import also as multiples of the "
        "copy\n",
        runs);
    if (only != nullptr && std::string(only) == "stress") {
#ifndef _WIN32
        Stress(dir.path);
#endif
        return 0;
    }
    std::vector<Timings> all;
    if (only == nullptr || std::string(only) == "real") {
        std::string name;
        Generated g = RealImage(dir.path, name);
        std::printf("\nreal: %s, %zu texts, image %.1f MB, language file %.1f MB\n", name.c_str(),
                    g.strings, g.image.size() / 1e6, g.language.size() / 1e6);
        std::printf("  %-5s %9s %9s %8s %9s %8s\n", "", "copy", "export", "", "import", "");
        Timings t = TimeWorkload(g, dir.path, runs);
        PrintRow("wall", t.copy.wall, t.exported.wall, t.imported.wall);
        PrintRow("cpu", t.copy.cpu, t.exported.cpu, t.imported.cpu);
        TimeCheck(g, dir.path, runs);
        if (quelvar::PicturesAvailable())
            TimePictures(g, dir.path, runs);
    }
    if (only == nullptr || std::string(only) == "batch")
        TimeBatch(dir.path, runs);
    for (const Workload& w : kWorkloads) {
        if (only != nullptr && std::string(only) != w.label)
            continue;
        Generated g = Generate(w);
        KeepFiles(g, w.label);
        std::printf("\n%s: %u blocks, %zu strings, image %.1f MB, language file %.1f MB\n", w.label,
                    w.blocks * w.languages, g.strings, g.image.size() / 1e6,
                    g.language.size() / 1e6);
        std::printf("  %-5s %9s %9s %8s %9s %8s\n", "", "copy", "export", "", "import", "");
        Timings t = TimeWorkload(g, dir.path, runs);
        PrintRow("wall", t.copy.wall, t.exported.wall, t.imported.wall);
        PrintRow("cpu", t.copy.cpu, t.exported.cpu, t.imported.cpu);
        all.push_back(t);
    }
    if (all.size() != std::size(kWorkloads))
        return 0;
    std::printf("\ngrowth of the processor time (wall clock in brackets)\n");
    const char* steps[] = {"full / half", "double / full"};
    for (size_t i = 0; i < 2; ++i) {
        const Timings& a = all[i];
        const Timings& b = all[i + 1];
        std::printf("  %-13s export %.2fx (%.2fx), import %.2fx (%.2fx)\n", steps[i],
                    b.exported.cpu / a.exported.cpu, b.exported.wall / a.exported.wall,
                    b.imported.cpu / a.imported.cpu, b.imported.wall / a.imported.wall);
    }
    return 0;
}
