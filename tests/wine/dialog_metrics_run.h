// Running dialog_metrics.exe under Wine and reading what it reports, for the tests that
// compare layouts with it. The records are its output lines; the format is described at the
// top of dialog_metrics.cpp.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quelvar::test {

// One line of dialog_metrics' output: a flat JSON object of texts, integers and integer lists.
struct Record {
    std::map<std::string, std::string> texts;
    std::map<std::string, std::vector<long long>> numbers;  // an integer as a list of one

    const std::string& Text(const std::string& key) const {
        static const std::string none;
        auto it = texts.find(key);
        return it == texts.end() ? none : it->second;
    }
    long long Number(const std::string& key) const {
        auto it = numbers.find(key);
        return it == numbers.end() || it->second.empty() ? 0 : it->second[0];
    }
    const std::vector<long long>& List(const std::string& key) const {
        static const std::vector<long long> none;
        auto it = numbers.find(key);
        return it == numbers.end() ? none : it->second;
    }
    bool Has(const std::string& key) const { return numbers.count(key) + texts.count(key) > 0; }
};

// Parses one output line into `record`; false when it is not the flat object dialog_metrics
// writes.
bool ParseMetricsLine(const std::string& line, Record* record);

// Whether the build has dialog_metrics.exe, wine64 and xvfb-run.
bool HaveDialogMetrics();

// Readies the tests' own Wine prefix: fonts-wine's Tahoma into its Fonts folder, where Wine
// finds it for "MS Shell Dlg". False when the fonts are missing.
bool PrepareMetricsPrefix();

// Runs dialog_metrics over `image` (every language when `language` is negative) under the user
// locale `locale` (such as "zh_CN.UTF-8": it decides the substitutes of "MS Shell Dlg") inside
// the X display of the environment, with `scratch` for its output. The records in output
// order; a failed run or an unreadable line is a test failure.
std::vector<Record> RunDialogMetrics(const std::filesystem::path& image, int language,
                                     const std::string& locale,
                                     const std::filesystem::path& scratch);

}  // namespace quelvar::test
