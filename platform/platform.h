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
    int guard = -1;         // POSIX: the view's place among the views guarded against a cut file
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

// The identity of a file: device and inode, on Windows volume serial number and file index.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of an open file, or of the file a path reaches (links followed); false when
// the system gives none.
bool IdentityOf(const File& file, FileIdentity& identity);
bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity);

// Opens an existing file to lock it: others may still read, write, rename or remove it.
Result OpenForLocking(const std::filesystem::path& path, File& file);
// Takes the exclusive lock of an open file without waiting: 0, or 33 when another open of the
// file (in this process or another) holds it. The lock goes with the file's closing, and the
// system releases it when the process ends however it ends. It keeps out only those that ask
// for it; reading and writing the file are not hindered.
Result LockExclusively(const File& file);

// Gives `file`, a new file being written, the owner, group, mode and extended attributes of
// the file at `like`, as far as the process may. Where the owner or the group cannot be kept
// (an ordinary user replacing another's file), the set-user-id or set-group-id bit is dropped
// as cp and install drop it: no new file is more privileged than the one it replaces. Returns
// false when nothing is at `like`. On Windows a new file takes its folder's permissions and
// this only says whether `like` exists.
bool TakeAttributesOf(File& file, const std::filesystem::path& like);
// Writes what the system holds of a file to its disk (fsync, FlushFileBuffers).
Result FlushFile(File& file);
// The same for a folder's entries, so that a file just renamed in it keeps its new name after a
// power loss; nothing where the system has no such call.
void FlushFolder(const std::filesystem::path& folder);

// True while a view reads its whole file: no read has met a page past the file's end and the
// file is not shorter than the view. A file that another program cuts short while it is mapped
// would end the process at the first read past its new end (SIGBUS); a view reads zeros there
// instead, and this says so. Always true on Windows, where a mapped file cannot be cut.
bool ViewIntact(const FileView& view);

// Test hook: the first time the process reaches the point named by the environment variable
// QUELVAR_TEST_STOP_AT, it stops itself (SIGSTOP), so that a test can kill it or run another
// process there and then let it go on. Nothing on Windows.
void StopPointForTesting(const char* point);

// Test hook: after `bytes` more bytes have been written through WriteBytes, every further
// write fails as on a full disk. UINT64_MAX (the default) means no limit.
void SetWriteLimitForTesting(uint64_t bytes);

}  // namespace quelvar::platform
