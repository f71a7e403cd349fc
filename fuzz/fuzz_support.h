// Support shared by the fuzz targets: a private scratch directory for the files the driver
// reads and writes, and the checks every target makes on what the driver wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quelvar::fuzz {

struct Scratch {
    std::filesystem::path image;     // the image under test
    std::filesystem::path language;  // the language file import reads
    std::filesystem::path output;    // the update copy import writes
    std::filesystem::path exported;  // the language file export writes
};

// Created on first use in /dev/shm (or the temporary directory), removed at exit.
const Scratch& GetScratch();

void WriteFile(const std::filesystem::path& path, const uint8_t* data, size_t size);
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

// Reports a broken invariant and aborts, which libFuzzer records as a crash.
[[noreturn]] void Fail(const char* what);

// After a successful export: the language file written loads as a language file.
void CheckExported(const std::filesystem::path& languageFile);
// After a successful import: the update copy is an image whose resource tree the driver
// accepts again, and exporting it succeeds.
void CheckUpdateCopy(const Scratch& scratch);

// A language file that answers every line of `exported` with an edited value: each value
// gets a prefix holding escapes and a unit outside ASCII.
std::vector<uint8_t> EditEveryValue(const std::vector<uint8_t>& exported);

}  // namespace quelvar::fuzz
