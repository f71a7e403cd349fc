#include "dialog_metrics_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "pe_builder.h"

namespace quelvar::test {
namespace {

#if defined(QUELVAR_WINE64) && defined(QUELVAR_DIALOG_METRICS)
constexpr const char* kWine = QUELVAR_WINE64;
constexpr const char* kDialogMetrics = QUELVAR_DIALOG_METRICS;
constexpr const char* kPrefix = QUELVAR_METRICS_PREFIX;
#else
constexpr const char* kWine = "";
constexpr const char* kDialogMetrics = "";
constexpr const char* kPrefix = "";
#endif

}  // namespace

bool ParseMetricsLine(const std::string& line, Record* record) {
    size_t at = 0;
    auto skip = [&](char c) {
        if (at < line.size() && line[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    auto string = [&](std::string* out) {
        if (!skip('"'))
            return false;
        for (; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] == '\\' && ++at < line.size() && line[at] == 'u') {
                out->push_back(static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16)));
                at += 4;
            } else if (at < line.size()) {
                out->push_back(line[at]);
            }
        }
        return skip('"');
    };
    auto number = [&](long long* out) {
        size_t used = 0;
        try {
            *out = std::stoll(line.substr(at), &used);
        } catch (...) {
            return false;
        }
        at += used;
        return true;
    };
    if (!skip('{'))
        return false;
    do {
        std::string key;
        if (!string(&key) || !skip(':'))
            return false;
        if (at < line.size() && line[at] == '"') {
            if (!string(&record->texts[key]))
                return false;
        } else if (skip('[')) {
            std::vector<long long>& list = record->numbers[key];
            for (long long v; !skip(']');) {
                if (!number(&v))
                    return false;
                list.push_back(v);
                skip(',');
            }
        } else {
            long long v = 0;
            if (!number(&v))
                return false;
            record->numbers[key] = {v};
        }
    } while (skip(','));
    return skip('}') && at == line.size();
}

bool HaveDialogMetrics() {
    return !std::string(kWine).empty();
}

bool PrepareMetricsPrefix() {
    // Without Tahoma Wine answers "MS Shell Dlg" with whatever fontconfig offers.
    const std::filesystem::path wineFonts = "/usr/share/wine/fonts";
    std::filesystem::path fonts = std::filesystem::path(kPrefix) / "drive_c/windows/Fonts";
    std::error_code error;
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"})
        std::filesystem::copy_file(wineFonts / file, fonts / file,
                                   std::filesystem::copy_options::skip_existing, error);
    return std::filesystem::exists(fonts / "tahoma.ttf") &&
           std::filesystem::exists(fonts / "tahomabd.ttf");
}

std::vector<Record> RunDialogMetrics(const std::filesystem::path& image, int language,
                                     const std::string& locale,
                                     const std::filesystem::path& scratch) {
    std::filesystem::path out = scratch / "metrics.jsonl";
    std::filesystem::path err = scratch / "metrics.err";
    std::string command = std::string("env WINEPREFIX='") + kPrefix +
                          "' WINEDEBUG=-all LC_ALL=" + locale + " '" + kWine + "' '" +
                          kDialogMetrics + "' 'Z:" + image.string() + "'" +
                          (language < 0 ? "" : " " + std::to_string(language)) + " >'" +
                          out.string() + "' 2>'" + err.string() + "'";
    int raw = std::system(command.c_str());
    Bytes errors = ReadFileBytes(err);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0)
        << command << "\n"
        << std::string(errors.begin(), errors.end());
    std::vector<Record> records;
    Bytes bytes = ReadFileBytes(out);
    std::string text(bytes.begin(), bytes.end());
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        Record record;
        EXPECT_TRUE(ParseMetricsLine(text.substr(start, end - start), &record))
            << text.substr(start, end - start);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace quelvar::test
