// Win32 implementation of the platform layer: file handles and file mappings.
#include <windows.h>

#include <vector>

#include "platform/platform.h"

namespace quelvar::platform {

namespace {

uint64_t writeLimit = UINT64_MAX;

HANDLE AsHandle(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
intptr_t FromHandle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE || h == nullptr ? -1 : reinterpret_cast<intptr_t>(h);
}

Result LastError(Result fallback) {
    DWORD e = GetLastError();
    return e != 0 ? static_cast<Result>(e) : fallback;
}

}  // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle != -1)
            CloseHandle(AsHandle(handle));
        handle = other.handle;
        other.handle = -1;
    }
    return *this;
}

File::~File() {
    if (handle != -1)
        CloseHandle(AsHandle(handle));
}

FileView::~FileView() {
    if (data != nullptr)
        UnmapViewOfFile(data);
    if (mapping != -1)
        CloseHandle(AsHandle(mapping));
}

Result OpenForReading(const std::filesystem::path& path, File& file) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FromHandle(h) == -1)
        return LastError(kErrorOpenFailed);
    file = File();
    file.handle = FromHandle(h);
    return kSuccess;
}

Result OpenRegularForReading(const std::filesystem::path& path, File& file) {
    File opened;
    if (Result r = OpenForReading(path, opened); r != kSuccess)
        return r;
    if (GetFileType(AsHandle(opened.handle)) != FILE_TYPE_DISK)
        return kErrorFileNotFound;  // a device, a pipe or a console
    file = std::move(opened);
    return kSuccess;
}

Result CreateForWriting(const std::filesystem::path& path, File& file) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    if (FromHandle(h) == -1)
        return LastError(kErrorOpenFailed);
    file = File();
    file.handle = FromHandle(h);
    return kSuccess;
}

Result CreateNew(const std::filesystem::path& path, File& file) {
    // CREATE_NEW fails on any existing name; a symbolic link is not followed.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (FromHandle(h) == -1)
        return LastError(kErrorOpenFailed);
    file = File();
    file.handle = FromHandle(h);
    return kSuccess;
}

Result CreateUnnamed(const std::filesystem::path&, File&) {
    return kErrorNotSupported;
}

Result NameFile(const File&, const std::filesystem::path&) {
    return kErrorNotSupported;
}

Result OpenStandardStream(bool output, File& file) {
    HANDLE process = GetCurrentProcess();
    HANDLE copy = nullptr;
    if (!DuplicateHandle(process, GetStdHandle(output ? STD_OUTPUT_HANDLE : STD_INPUT_HANDLE),
                         process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return LastError(kErrorOpenFailed);
    file = File();
    file.handle = FromHandle(copy);
    return kSuccess;
}

Result GetSize(const File& file, uint64_t& size) {
    LARGE_INTEGER li{};
    if (!GetFileSizeEx(AsHandle(file.handle), &li))
        return LastError(kErrorReadFault);
    size = static_cast<uint64_t>(li.QuadPart);
    return kSuccess;
}

Result ReadBytes(File& file, void* buffer, size_t length, size_t& bytesRead) {
    bytesRead = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (bytesRead < length) {
        size_t rest = length - bytesRead;
        DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD got = 0;
        if (!ReadFile(AsHandle(file.handle), out + bytesRead, chunk, &got, nullptr))
            return LastError(kErrorReadFault);
        if (got == 0)
            break;
        bytesRead += got;
    }
    return kSuccess;
}

Result ReadAt(File& file, uint64_t offset, void* buffer, size_t length, size_t& bytesRead) {
    bytesRead = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (bytesRead < length) {
        size_t rest = length - bytesRead;
        DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        uint64_t at = offset + bytesRead;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!ReadFile(AsHandle(file.handle), out + bytesRead, chunk, &got, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return LastError(kErrorReadFault);
        }
        if (got == 0)
            break;
        bytesRead += got;
    }
    return kSuccess;
}

Result WriteBytes(File& file, const void* bytes, size_t length) {
    const auto* in = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (done < length) {
        size_t rest = length - done;
        if (writeLimit != UINT64_MAX) {
            if (writeLimit == 0)
                return kErrorDiskFull;
            if (rest > writeLimit)
                rest = static_cast<size_t>(writeLimit);
        }
        DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD written = 0;
        if (!WriteFile(AsHandle(file.handle), in + done, chunk, &written, nullptr))
            return LastError(kErrorWriteFault);
        if (written == 0)
            return kErrorWriteFault;
        done += written;
        if (writeLimit != UINT64_MAX)
            writeLimit -= written;
    }
    return kSuccess;
}

Result MapWholeFile(const std::filesystem::path& path, FileView& view) {
    File file;
    if (OpenRegularForReading(path, file) != kSuccess)
        return kErrorFileNotFound;
    return MapOpenFile(file, view);
}

Result MapOpenFile(File& file, FileView& view) {
    uint64_t size = 0;
    if (GetSize(file, size) != kSuccess || size == 0)
        return kErrorFileNotFound;
    if (size > SIZE_MAX)
        return kErrorOutOfMemory;
    HANDLE mapping =
        CreateFileMappingW(AsHandle(file.handle), nullptr, PAGE_READONLY,
                           static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
    if (mapping == nullptr)
        return kErrorFileNotFound;
    const void* p = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
    if (p == nullptr) {
        CloseHandle(mapping);
        return kErrorFileNotFound;
    }
    view.mapping = reinterpret_cast<intptr_t>(mapping);
    view.data = static_cast<const uint8_t*>(p);
    view.size = size;
    view.file = std::move(file);
    return kSuccess;
}

void ReleasePages(const FileView& view, uint64_t offset, uint64_t length) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (view.data == nullptr || offset >= view.size)
        return;
    uint64_t page = info.dwPageSize;
    uint64_t end = length < view.size - offset ? offset + length : view.size;
    uint64_t from = (offset + page - 1) / page * page;
    uint64_t to = end / page * page;
    // Unlocking pages that are not locked takes them out of the working set.
    if (from < to)
        VirtualUnlock(const_cast<uint8_t*>(view.data) + from, static_cast<SIZE_T>(to - from));
}

Result DeletePath(const std::filesystem::path& path) {
    if (!DeleteFileW(path.c_str()))
        return LastError(kErrorAccessDenied);
    return kSuccess;
}

Result RemoveRegularFile(const std::filesystem::path& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return kSuccess;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return kErrorFileExists;
    return DeletePath(path);
}

namespace {

// The identity of the file a path reaches: its volume serial number and file index.
bool PathInformation(const std::filesystem::path& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
}

}  // namespace

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    // The second is often an output not made yet, so it is asked first.
    return PathInformation(b, ib) && PathInformation(a, ia) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

Result ReplacePath(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return LastError(kErrorAccessDenied);
    return kSuccess;
}

namespace {

FileIdentity IdentityOfInformation(const BY_HANDLE_FILE_INFORMATION& info) {
    return FileIdentity{info.dwVolumeSerialNumber,
                        (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

bool IdentityOf(const File& file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(AsHandle(file.handle), &info))
        return false;
    identity = IdentityOfInformation(info);
    return true;
}

bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!PathInformation(path, info))
        return false;
    identity = IdentityOfInformation(info);
    return true;
}

Result OpenForLocking(const std::filesystem::path& path, File& file) {
    // Shared for deleting too, so that the file can be replaced while the lock is held.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FromHandle(h) == -1)
        return LastError(kErrorOpenFailed);
    file = File();
    file.handle = FromHandle(h);
    return kSuccess;
}

Result LockExclusively(const File& file) {
    // A byte far past any file's end: a lock there keeps no reader or writer of the file out.
    OVERLAPPED where{};
    where.OffsetHigh = 0x7FFFFFFF;
    if (!LockFileEx(AsHandle(file.handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                    1, 0, &where)) {
        DWORD e = GetLastError();
        return e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING ? kErrorLockViolation
                                                                  : static_cast<Result>(e);
    }
    return kSuccess;
}

bool TakeAttributesOf(File&, const std::filesystem::path& like) {
    return GetFileAttributesW(like.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result FlushFile(File& file) {
    if (!FlushFileBuffers(AsHandle(file.handle)))
        return LastError(kErrorWriteFault);
    return kSuccess;
}

void FlushFolder(const std::filesystem::path&) {}

bool ViewIntact(const FileView&) {
    return true;
}

void StopPointForTesting(const char*) {}

void SetWriteLimitForTesting(uint64_t bytes) {
    writeLimit = bytes;
}

}  // namespace quelvar::platform
