// File, mapping and process operations that the core needs, with one POSIX and one Win32
// implementation chosen by the build. Every operation that can fail returns 0 or a Win32
// error number; POSIX errors are translated to the nearest Win32 number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "base/result.h"

namespace quelvar::platform {

// An open file. Closed by the destructor; movable, not copyable.
struct File {
    intptr_t handle = -1;  // a file descriptor or a HANDLE; -1 when closed

    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : handle(other.handle) { other.handle = -1; }
    File& operator=(File&& other) noexcept;
    ~File();

    bool IsOpen() const { return handle != -1; }
};

// A read-only view of a whole file. Unmapped, then closed, by the destructor.
struct FileView {
    const uint8_t* data = nullptr;
    uint64_t size = 0;
    intptr_t mapping = -1;  // the Win32 mapping handle; unused on POSIX
    File file;

    FileView() = default;
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;
    ~FileView();
};

// Opens an existing file for reading (others may read it too).
Result OpenForReading(const std::filesystem::path& path, File& file);
// Creates a file for writing, replacing an existing one of that name.
Result CreateForWriting(const std::filesystem::path& path, File& file);
Result GetSize(const File& file, uint64_t& size);
// Reads up to `length` bytes; `bytesRead` is short only at the end of the file.
Result ReadBytes(File& file, void* buffer, size_t length, size_t& bytesRead);
// Writes all `length` bytes at the file position or fails (29 or the disk-full code).
Result WriteBytes(File& file, const void* bytes, size_t length);
// Maps a whole existing file read-only. An empty file gives 2: there is nothing to map.
Result MapWholeFile(const std::filesystem::path& path, FileView& view);
Result DeletePath(const std::filesystem::path& path);
// Puts `from` in place of `to` in one step where the system allows it.
Result ReplacePath(const std::filesystem::path& from, const std::filesystem::path& to);

// Test hook: after `bytes` more bytes have been written through WriteBytes, every further
// write fails as on a full disk. UINT64_MAX (the default) means no limit.
void SetWriteLimitForTesting(uint64_t bytes);

}  // namespace quelvar::platform
