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
// Opens an existing regular file for reading, as an image is read: a device, pipe or socket
// fails with 2 at once (a pipe is not waited for), a folder with 5.
Result OpenRegularForReading(const std::filesystem::path& path, File& file);
// Creates a file for writing, replacing an existing one of that name.
Result CreateForWriting(const std::filesystem::path& path, File& file);
// Creates a new file for writing. Fails with 80 when anything has that name, a symbolic link
// included: no existing file is followed or truncated.
Result CreateNew(const std::filesystem::path& path, File& file);
// Creates a file without a name in `folder` for writing: nothing of it is seen until NameFile
// names it, and closed unnamed it is gone. Fails (with 50 where the system or the file system
// has no such files) and the caller then writes under a temporary name instead.
Result CreateUnnamed(const std::filesystem::path& folder, File& file);
// Gives a file made by CreateUnnamed the name `path`; fails with 80 when anything has it.
Result NameFile(const File& file, const std::filesystem::path& path);
// Opens a copy of standard input (`output` false) or standard output (true).
Result OpenStandardStream(bool output, File& file);
Result GetSize(const File& file, uint64_t& size);
// Reads up to `length` bytes; `bytesRead` is short only at the end of the file.
Result ReadBytes(File& file, void* buffer, size_t length, size_t& bytesRead);
// Reads up to `length` bytes from `offset` on, leaving the file position alone; `bytesRead` is
// short only at the end of the file.
Result ReadAt(File& file, uint64_t offset, void* buffer, size_t length, size_t& bytesRead);
// Writes all `length` bytes at the file position or fails (29 or the disk-full code).
Result WriteBytes(File& file, const void* bytes, size_t length);
// Maps a whole existing regular file read-only (opened as OpenRegularForReading opens it). An
// empty file gives 2: there is nothing to map.
Result MapWholeFile(const std::filesystem::path& path, FileView& view);
// Maps the whole of an open file, which the view then holds. On failure (an empty file, a pipe)
// the file stays open and unread.
Result MapOpenFile(File& file, FileView& view);
// Gives back the pages of a view that lie wholly inside [offset, offset + length): the system
// reads them from the file again when they are next touched, so a view read from front to back
// need not keep all of it in memory. Only a hint: where the system cannot, nothing happens.
void ReleasePages(const FileView& view, uint64_t offset, uint64_t length);
Result DeletePath(const std::filesystem::path& path);
// Removes the name when it is a regular file; a symbolic link, a folder or a device stays, and
// so does a link's target. Returns 0 when the name is then free (nothing had it, or the file
// is removed), 80 when something else stays there, or the reason the file was not removed.
Result RemoveRegularFile(const std::filesystem::path& path);
// True when both paths reach one existing file (the same device and inode; on Windows the same
// volume serial number and file index), whatever their spelling and links.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);
// Puts `from` in place of `to` in one step where the system allows it.
Result ReplacePath(const std::filesystem::path& from, const std::filesystem::path& to);

// Test hook: after `bytes` more bytes have been written through WriteBytes, every further
// write fails as on a full disk. UINT64_MAX (the default) means no limit.
void SetWriteLimitForTesting(uint64_t bytes);

}  // namespace quelvar::platform
