#include "driver/language_io.h"

#include <algorithm>
#include <new>

namespace quelvar {

bool ReadWholeFile(const std::filesystem::path& path, std::vector<uint8_t>& buffer,
                   uint64_t& length) {
    platform::File file;
    if (platform::OpenForReading(path, file) != kSuccess)
        return false;
    uint64_t size = 0;
    if (platform::GetSize(file, size) != kSuccess)
        size = 0;
    if (size > length)
        size = length;
    if (size > SIZE_MAX - 16)
        return false;
    try {
        buffer.assign(static_cast<size_t>(size) + 2, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    size_t got = 0;
    if (platform::ReadBytes(file, buffer.data(), static_cast<size_t>(size), got) != kSuccess)
        got = 0;
    buffer.resize(got + 2);
    buffer[got] = 0;
    buffer[got + 1] = 0;
    length = got;
    return true;
}

LanguageFileFault LoadLanguageFile(platform::File& file, LanguageTable& table, Result& code) {
    std::vector<uint8_t> bytes;
    size_t length = 0;
    try {
        for (;;) {
            bytes.resize(std::max<size_t>(length + 65536, bytes.size() * 2));
            size_t got = 0;
            if (Result r =
                    platform::ReadBytes(file, bytes.data() + length, bytes.size() - length, got);
                r != kSuccess) {
                code = r;
                return LanguageFileFault::Unreadable;
            }
            length += got;
            if (length < bytes.size())
                break;
        }
    } catch (const std::bad_alloc&) {
        return LanguageFileFault::OutOfMemory;
    }
    // The table indexes the bytes where they are, so it keeps them.
    bytes.resize(length);
    return IndexLanguageFile(std::move(bytes), table);
}

LanguageFileFault LoadLanguageFile(const std::filesystem::path& path, LanguageTable& table,
                                   std::unique_ptr<platform::FileView>& view, Result& code) {
    view.reset();
    // Opened once: a named pipe opened again would have lost what was written into it.
    platform::File file;
    if (Result r = platform::OpenForReading(path, file); r != kSuccess) {
        code = r;
        return LanguageFileFault::Unreadable;
    }
    // Mapped where it can be: the table indexes the file's pages, which `view` keeps.
    auto mapped = std::make_unique<platform::FileView>();
    if (platform::MapOpenFile(file, *mapped) == kSuccess) {
        if (mapped->size > SIZE_MAX)
            return LanguageFileFault::OutOfMemory;
        view = std::move(mapped);
        return IndexLanguageFile(
            std::span<const uint8_t>(view->data, static_cast<size_t>(view->size)), table);
    }
    // An empty file, a pipe or a device: read to its end.
    return LoadLanguageFile(file, table, code);
}

bool LoadLanguageFile(const std::filesystem::path& path, LanguageTable& table,
                      std::unique_ptr<platform::FileView>& view) {
    Result code = kSuccess;
    return LoadLanguageFile(path, table, view, code) == LanguageFileFault::None;
}

TextSource LanguageSource(const LanguageTable& table, const platform::FileView* view) {
    // A large file is then not held in memory whole beside the image and its new section.
    if (view == nullptr)
        return LanguageFileSource(table);
    return LanguageFileSource(table, [view](uint64_t offset, uint64_t length) {
        platform::ReleasePages(*view, offset, length);
    });
}

ByteSink FileSink(platform::File& file) {
    return [&file](std::span<const uint8_t> bytes) {
        return platform::WriteBytes(file, bytes.data(), bytes.size()) == kSuccess;
    };
}

}  // namespace quelvar
