// POSIX implementation of the platform layer: file descriptors and mmap.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quelvar::platform {

namespace {

uint64_t writeLimit = UINT64_MAX;

Result FromErrno(int error, Result fallback) {
    switch (error) {
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kErrorAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENOMEM:
            return kErrorOutOfMemory;
        case ENAMETOOLONG:
            return kErrorFilenameExcedRange;
        case EEXIST:
            return kErrorFileExists;
        default:
            return fallback;
    }
}

// Mapped views guarded against their file being cut short: a read past the file's new end
// raises SIGBUS, whose handler puts a page of zeros where the file's page was and marks the
// view. A place holds 0 when free, 1 while it is being taken, else the view's first byte.
struct GuardedView {
    std::atomic<uintptr_t> start{0};
    std::atomic<size_t> length{0};
    std::atomic<bool> cut{false};
};
constexpr int kGuardedViews = 256;
GuardedView guardedViews[kGuardedViews];
struct sigaction earlierBusAction {};
uintptr_t pageSize = 4096;

void OnBusError(int signal, siginfo_t* info, void* context) {
    auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardedView& view : guardedViews) {
        uintptr_t start = view.start.load(std::memory_order_acquire);
        if (start > 1 && at >= start && at - start < view.length.load(std::memory_order_relaxed)) {
            void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
            if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
                MAP_FAILED)
                break;
            view.cut.store(true, std::memory_order_relaxed);
            return;  // the read is done again, and reads zeros
        }
    }
    // Not a guarded view's: as it would have been without this handler.
    if ((earlierBusAction.sa_flags & SA_SIGINFO) != 0 && earlierBusAction.sa_sigaction != nullptr) {
        earlierBusAction.sa_sigaction(signal, info, context);
        return;
    }
    if (earlierBusAction.sa_handler != SIG_DFL && earlierBusAction.sa_handler != SIG_IGN &&
        earlierBusAction.sa_handler != nullptr) {
        earlierBusAction.sa_handler(signal);
        return;
    }
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigaction(SIGBUS, &plain, nullptr);  // the fault comes again and ends the process
}

// Guards a view; a view stays unguarded when every place is taken.
void Guard(FileView& view) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        long page = sysconf(_SC_PAGESIZE);
        if (page > 0)
            pageSize = static_cast<uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &earlierBusAction);
    });
    for (int i = 0; i < kGuardedViews; ++i) {
        uintptr_t empty = 0;
        if (!guardedViews[i].start.compare_exchange_strong(empty, 1))
            continue;
        guardedViews[i].cut.store(false);
        guardedViews[i].length.store(static_cast<size_t>(view.size));
        guardedViews[i].start.store(reinterpret_cast<uintptr_t>(view.data),
                                    std::memory_order_release);
        view.guard = i;
        return;
    }
}

}  // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (handle != -1)
            close(static_cast<int>(handle));
        handle = other.handle;
        other.handle = -1;
    }
    return *this;
}

File::~File() {
    if (handle != -1)
        close(static_cast<int>(handle));
}

FileView::~FileView() {
    if (guard >= 0)
        guardedViews[guard].start.store(0, std::memory_order_release);
    if (data != nullptr)
        munmap(const_cast<uint8_t*>(data), static_cast<size_t>(size));
}

Result OpenForReading(const std::filesystem::path& path, File& file) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FromErrno(errno, kErrorOpenFailed);
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return kErrorAccessDenied;
    }
    file = File();
    file.handle = fd;
    return kSuccess;
}

Result OpenRegularForReading(const std::filesystem::path& path, File& file) {
    // Without O_NONBLOCK, opening a pipe would wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FromErrno(errno, kErrorOpenFailed);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return S_ISDIR(st.st_mode) ? kErrorAccessDenied : kErrorFileNotFound;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file = File();
    file.handle = fd;
    return kSuccess;
}

Result CreateForWriting(const std::filesystem::path& path, File& file) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return FromErrno(errno, kErrorOpenFailed);
    file = File();
    file.handle = fd;
    return kSuccess;
}

Result CreateNew(const std::filesystem::path& path, File& file) {
    // O_EXCL fails on any existing name, a dangling link too; O_NOFOLLOW says so twice.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return FromErrno(errno, kErrorOpenFailed);
    file = File();
    file.handle = fd;
    return kSuccess;
}

Result CreateUnnamed(const std::filesystem::path& folder, File& file) {
#ifdef O_TMPFILE
    // The file is named through /proc (linkat with AT_EMPTY_PATH needs a privilege); without
    // it the file could not be named.
    static const bool procMounted = access("/proc/self/fd", X_OK) == 0;
    if (!procMounted)
        return kErrorNotSupported;
    int fd = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return FromErrno(errno, kErrorNotSupported);
    file = File();
    file.handle = fd;
    return kSuccess;
#else
    (void)folder;
    (void)file;
    return kErrorNotSupported;
#endif
}

Result NameFile(const File& file, const std::filesystem::path& path) {
    std::string self = "/proc/self/fd/" + std::to_string(file.handle);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return FromErrno(errno, kErrorAccessDenied);
    return kSuccess;
}

Result OpenStandardStream(bool output, File& file) {
    int fd = fcntl(output ? STDOUT_FILENO : STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return FromErrno(errno, kErrorOpenFailed);
    file = File();
    file.handle = fd;
    return kSuccess;
}

Result GetSize(const File& file, uint64_t& size) {
    struct stat st {};
    if (fstat(static_cast<int>(file.handle), &st) != 0)
        return FromErrno(errno, kErrorReadFault);
    size = static_cast<uint64_t>(st.st_size);
    return kSuccess;
}

namespace {

// Reads until `length` bytes are in or the file ends; `read(at, count, done)` reads up to
// `count` bytes into `at`, `done` having been read before, as read(2) does.
template <typename ReadSome>
Result ReadFully(void* buffer, size_t length, size_t& bytesRead, ReadSome read) {
    bytesRead = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (bytesRead < length) {
        ssize_t r = read(out + bytesRead, length - bytesRead, bytesRead);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return FromErrno(errno, kErrorReadFault);
        }
        if (r == 0)
            break;
        bytesRead += static_cast<size_t>(r);
    }
    return kSuccess;
}

}  // namespace

Result ReadBytes(File& file, void* buffer, size_t length, size_t& bytesRead) {
    int fd = static_cast<int>(file.handle);
    return ReadFully(buffer, length, bytesRead,
                     [fd](uint8_t* at, size_t count, size_t) { return read(fd, at, count); });
}

Result ReadAt(File& file, uint64_t offset, void* buffer, size_t length, size_t& bytesRead) {
    int fd = static_cast<int>(file.handle);
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) - length) {
        bytesRead = 0;
        return kSuccess;  // no file reaches that far
    }
    return ReadFully(buffer, length, bytesRead,
                     [fd, offset](uint8_t* at, size_t count, size_t done) {
                         return pread(fd, at, count, static_cast<off_t>(offset + done));
                     });
}

Result WriteBytes(File& file, const void* bytes, size_t length) {
    const auto* in = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (done < length) {
        size_t chunk = length - done;
        if (writeLimit != UINT64_MAX) {
            if (writeLimit == 0)
                return kErrorDiskFull;
            if (chunk > writeLimit)
                chunk = static_cast<size_t>(writeLimit);
        }
        if (chunk > static_cast<size_t>(SSIZE_MAX))
            chunk = static_cast<size_t>(SSIZE_MAX);
        ssize_t w = write(static_cast<int>(file.handle), in + done, chunk);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return FromErrno(errno, kErrorWriteFault);
        }
        if (w == 0)
            return kErrorWriteFault;
        done += static_cast<size_t>(w);
        if (writeLimit != UINT64_MAX)
            writeLimit -= static_cast<uint64_t>(w);
    }
    return kSuccess;
}

Result MapWholeFile(const std::filesystem::path& path, FileView& view) {
    File file;
    if (Result r = OpenRegularForReading(path, file); r != kSuccess)
        return r;
    return MapOpenFile(file, view);
}

Result MapOpenFile(File& file, FileView& view) {
    uint64_t size = 0;
    if (Result r = GetSize(file, size); r != kSuccess)
        return r;
    if (size == 0)
        return kErrorFileNotFound;
    if (size > SIZE_MAX)
        return kErrorOutOfMemory;
    void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE,
                   static_cast<int>(file.handle), 0);
    if (p == MAP_FAILED)
        return FromErrno(errno, kErrorFileNotFound);
    view.data = static_cast<const uint8_t*>(p);
    view.size = size;
    view.file = std::move(file);
    Guard(view);
    return kSuccess;
}

bool ViewIntact(const FileView& view) {
    if (view.guard >= 0 && guardedViews[view.guard].cut.load())
        return false;
    uint64_t size = 0;
    return GetSize(view.file, size) != kSuccess || size >= view.size;
}

void ReleasePages(const FileView& view, uint64_t offset, uint64_t length) {
    long pageSize = sysconf(_SC_PAGESIZE);
    if (view.data == nullptr || pageSize <= 0 || offset >= view.size)
        return;
    uint64_t page = static_cast<uint64_t>(pageSize);
    uint64_t end = length < view.size - offset ? offset + length : view.size;
    uint64_t from = (offset + page - 1) / page * page;  // the mapping starts at a page
    uint64_t to = end / page * page;
    if (from < to)
        madvise(const_cast<uint8_t*>(view.data) + from, static_cast<size_t>(to - from),
                MADV_DONTNEED);
}

Result DeletePath(const std::filesystem::path& path) {
    if (unlink(path.c_str()) != 0)
        return FromErrno(errno, kErrorAccessDenied);
    return kSuccess;
}

Result RemoveRegularFile(const std::filesystem::path& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return kSuccess;
    if (!S_ISREG(st.st_mode))
        return kErrorFileExists;
    return DeletePath(path);
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {
    }, sb{};
    // The second is often an output not made yet, so it is asked first.
    return stat(b.c_str(), &sb) == 0 && stat(a.c_str(), &sa) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

Result ReplacePath(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (rename(from.c_str(), to.c_str()) != 0)
        return FromErrno(errno, kErrorAccessDenied);
    return kSuccess;
}

bool IdentityOf(const File& file, FileIdentity& identity) {
    struct stat st {};
    if (fstat(static_cast<int>(file.handle), &st) != 0)
        return false;
    identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool IdentityOf(const std::filesystem::path& path, FileIdentity& identity) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    identity = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

Result OpenForLocking(const std::filesystem::path& path, File& file) {
    return OpenForReading(path, file);
}

Result LockExclusively(const File& file) {
    while (flock(static_cast<int>(file.handle), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? kErrorLockViolation : FromErrno(errno, kErrorNotSupported);
    }
    return kSuccess;
}

namespace {

// Copies the extended attributes of `like` (POSIX access lists and file capabilities among
// them) to the open file; those the process may not set, or the file system not hold, are left.
void CopyExtendedAttributes(int fd, const std::filesystem::path& like) {
    ssize_t length = listxattr(like.c_str(), nullptr, 0);
    if (length <= 0)
        return;
    std::vector<char> names(static_cast<size_t>(length));
    length = listxattr(like.c_str(), names.data(), names.size());
    if (length <= 0)
        return;
    std::vector<char> value;
    for (size_t at = 0; at < static_cast<size_t>(length); at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        ssize_t size = getxattr(like.c_str(), name, nullptr, 0);
        if (size < 0)
            continue;
        value.resize(static_cast<size_t>(size));
        size = getxattr(like.c_str(), name, value.data(), value.size());
        if (size >= 0)
            fsetxattr(fd, name, value.data(), static_cast<size_t>(size), 0);
    }
}

}  // namespace

bool TakeAttributesOf(File& file, const std::filesystem::path& like) {
    struct stat was {};
    if (stat(like.c_str(), &was) != 0)
        return false;
    int fd = static_cast<int>(file.handle);
    // Owner and group first: a change of owner clears the set-user-id bit and capabilities.
    if (fchown(fd, was.st_uid, was.st_gid) != 0)
        (void)fchown(fd, static_cast<uid_t>(-1), was.st_gid);  // a group of the user's own
    CopyExtendedAttributes(fd, like);
    struct stat now {};
    mode_t mode = was.st_mode & 07777;
    if (fstat(fd, &now) != 0 || now.st_uid != was.st_uid)
        mode &= ~static_cast<mode_t>(S_ISUID);
    if (fstat(fd, &now) != 0 || now.st_gid != was.st_gid)
        mode &= ~static_cast<mode_t>(S_ISGID);
    fchmod(fd, mode);
    return true;
}

Result FlushFile(File& file) {
    while (fsync(static_cast<int>(file.handle)) != 0) {
        if (errno == EINTR)
            continue;
        // A file system that cannot flush (a pipe, some special ones) has nothing to lose.
        return errno == EINVAL || errno == EROFS ? kSuccess : FromErrno(errno, kErrorWriteFault);
    }
    return kSuccess;
}

void FlushFolder(const std::filesystem::path& folder) {
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

void StopPointForTesting(const char* point) {
    static const char* wanted = std::getenv("QUELVAR_TEST_STOP_AT");
    static std::atomic<bool> stopped{false};
    if (wanted != nullptr && std::strcmp(wanted, point) == 0 && !stopped.exchange(true))
        raise(SIGSTOP);
}

void SetWriteLimitForTesting(uint64_t bytes) {
    writeLimit = bytes;
}

}  // namespace quelvar::platform
