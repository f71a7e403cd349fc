// Faults while writing: a read-only directory, a disk that fills up (the platform layer's write
// limit at every byte, a real small filesystem), a language file that cannot be created or
// written, a target that cannot be replaced. Whatever fails, the result names the failure,
// the image is byte-identical and no partial update copy or language file is left.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <set>
#include <string>

#include "driver/driver.h"
#include "pe_builder.h"
#include "platform/platform.h"

namespace quelvar {
namespace {

using test::Bytes;
using test::Id;
using test::Resource;

Bytes StringBlock(size_t unitsPerString, char16_t first) {
    std::vector<std::u16string> strings(16);
    for (size_t i = 0; i < 16; ++i)
        for (size_t u = 0; u < unitsPerString; ++u)
            strings[i].push_back(static_cast<char16_t>(first + (i + u) % 26));
    return test::StringBlock(strings);
}

Bytes Dialog() {
    Bytes b;
    test::Put32(b, 0, 0x80C80040);  // DS_SETFONT
    test::Put32(b, 4, 0);
    test::Put16(b, 8, 1);   // one control
    test::Put16(b, 18, 0);  // no menu
    test::Put16(b, 20, 0);  // standard class
    Bytes caption = test::Utf16(u"Caption");
    b.insert(b.end(), caption.begin(), caption.end());
    test::Put16(b, b.size(), 0);
    test::Put16(b, b.size(), 8);
    Bytes face = test::Utf16(u"Tahoma");
    b.insert(b.end(), face.begin(), face.end());
    test::Put16(b, b.size(), 0);
    b.resize((b.size() + 3) & ~size_t{3});
    size_t control = b.size();
    test::Put32(b, control, 0x50000000);
    test::Put32(b, control + 4, 0);
    test::Put16(b, control + 16, 100);
    test::Put16(b, control + 18, 0xFFFF);
    test::Put16(b, control + 20, 0x0080);  // a button
    Bytes title = test::Utf16(u"OK");
    b.insert(b.end(), title.begin(), title.end());
    test::Put16(b, b.size(), 0);
    test::Put16(b, b.size(), 0);  // no creation data
    return b;
}

// An image with texts of every kind; `unitsPerString` sets the size of its string tables.
Bytes TextImage(size_t unitsPerString = 20) {
    Bytes menu = {0, 0, 0, 0, 0x90, 0};  // header, then one popup that ends the menu
    Bytes text = test::Utf16(u"&File");
    menu.insert(menu.end(), text.begin(), text.end());
    menu.insert(menu.end(), {0, 0});
    return test::BuildImage({{Id(6), Id(1), 1033, StringBlock(unitsPerString, u'a')},
                             {Id(6), Id(2), 1033, StringBlock(unitsPerString, u'A')},
                             {Id(4), Id(1), 1033, menu},
                             {Id(5), Id(100), 1033, Dialog()}});
}

std::set<std::string> Listing(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// Sets the platform layer's write limit for one scope.
struct WriteLimit {
    explicit WriteLimit(uint64_t bytes) { platform::SetWriteLimitForTesting(bytes); }
    ~WriteLimit() { platform::SetWriteLimitForTesting(UINT64_MAX); }
};

struct Faults : ::testing::Test {
    test::TempDir dir;
    std::filesystem::path image = dir / "app.exe";
    std::filesystem::path language = dir / "app.lng";
    std::filesystem::path translation = dir / "de.lng";
    std::filesystem::path copy = dir / "app.exe.QN";
    Bytes img = TextImage();
    Bytes earlier = test::LanguageFile(u"6.1.0=keep me\r\n");

    void SetUp() override {
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(language, earlier);
        test::WriteFileBytes(translation,
                             test::LanguageFile(u"6.1.0=Hallo\r\n5.100.HEAD=Titel\r\n"));
    }
    // Nothing but the files the test wrote, unchanged.
    void ExpectUntouched() {
        EXPECT_EQ(test::ReadFileBytes(image), img);
        EXPECT_EQ(test::ReadFileBytes(language), earlier);
        EXPECT_EQ(Listing(dir.path), (std::set<std::string>{"app.exe", "app.lng", "de.lng"}));
    }
};

TEST_F(Faults, NamesTakenByDirectories) {
    // The update copy's name and the language file's temporary name are taken.
    std::filesystem::create_directory(copy);
    EXPECT_EQ(CodeOf(Import(image, translation, copy)), kErrorWriteFault);
    std::filesystem::remove(copy);
    std::filesystem::create_directory(dir / "app.lng.QN");
    EXPECT_EQ(CodeOf(Export(image, language)), kErrorOpenFailed);
    std::filesystem::remove(dir / "app.lng.QN");
    // The language file itself is a directory: it cannot be replaced.
    std::filesystem::create_directory(dir / "dir.lng");
    EXPECT_EQ(CodeOf(Export(image, dir / "dir.lng")), kErrorOpenFailed);
    EXPECT_TRUE(std::filesystem::is_empty(dir / "dir.lng"));
    std::filesystem::remove(dir / "dir.lng");
    ExpectUntouched();
}

// The limit counts every byte written, the header patches included: below the first limit
// that lets an operation through, every one must fail and leave nothing behind.
TEST_F(Faults, DiskFillsUpAtEveryByte) {
    ASSERT_EQ(CodeOf(Import(image, translation, copy)), kSuccess);
    Bytes full = test::ReadFileBytes(copy);
    std::filesystem::remove(copy);
    uint64_t limit = 0;
    Result r = kErrorWriteFault;
    for (; r != kSuccess && limit <= full.size() + 64; ++limit) {
        WriteLimit disk(limit);
        r = CodeOf(Import(image, translation, copy));
        if (r != kSuccess) {
            ASSERT_EQ(r, kErrorWriteFault) << limit;
            ASSERT_FALSE(std::filesystem::exists(copy)) << limit;
        }
    }
    ASSERT_EQ(r, kSuccess);
    EXPECT_GE(limit, full.size());
    EXPECT_EQ(test::ReadFileBytes(copy), full);
    std::filesystem::remove(copy);
    ExpectUntouched();

    ASSERT_EQ(CodeOf(Export(image, dir / "fresh.lng")), kSuccess);
    Bytes exported = test::ReadFileBytes(dir / "fresh.lng");
    std::filesystem::remove(dir / "fresh.lng");
    for (limit = 0; limit < exported.size(); ++limit) {
        WriteLimit disk(limit);
        ASSERT_EQ(CodeOf(Export(image, language)), kErrorWriteFault) << limit;
        ASSERT_EQ(test::ReadFileBytes(language), earlier) << limit;
    }
    ExpectUntouched();
    {
        WriteLimit disk(exported.size());
        ASSERT_EQ(CodeOf(Export(image, language)), kSuccess);
    }
    EXPECT_EQ(test::ReadFileBytes(language), exported);
}

// A new language file appears whole; one that is replaced keeps its permissions; nothing
// else is left.
TEST_F(Faults, ReplacedLanguageFileKeepsItsMode) {
    using std::filesystem::perms;
    const perms mode = perms::owner_read | perms::owner_write | perms::group_read;
    std::filesystem::permissions(language, mode);
    ASSERT_EQ(CodeOf(Export(image, language)), kSuccess);
    EXPECT_NE(test::ReadFileBytes(language), earlier);
#ifndef _WIN32  // Windows keeps a read-only attribute, not modes
    EXPECT_EQ(std::filesystem::status(language).permissions(), mode);
#endif
    std::filesystem::path fresh = dir / "new.lng";
    ASSERT_EQ(CodeOf(Export(image, fresh)), kSuccess);
    EXPECT_EQ(test::ReadFileBytes(fresh), test::ReadFileBytes(language));
    EXPECT_EQ(Listing(dir.path),
              (std::set<std::string>{"app.exe", "app.lng", "de.lng", "new.lng"}));
}

TEST_F(Faults, ReadOnlyLanguageFile) {
    // In a writable directory the new file could take the old one's place; a read-only file
    // is refused as a write into it would be, for root too.
    std::filesystem::permissions(language, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
    EXPECT_EQ(CodeOf(Export(image, language)), kErrorAccessDenied);
    ExpectUntouched();
}

// One rule for every file an operation would replace: a read-only one is refused with 5, and
// an import into a read-only image works when the output is another file.
TEST_F(Faults, ReadOnlyTargets) {
    using std::filesystem::perms;
    const perms readOnly = perms::owner_read | perms::group_read | perms::others_read;
    std::filesystem::path other = dir / "other.exe";
    ASSERT_EQ(CodeOf(Import(image, translation, other)), kSuccess);
    std::filesystem::permissions(image, readOnly);
    Failure failure = ImportInPlace(image, translation).failure;
    EXPECT_EQ(failure.code, kErrorAccessDenied);
    EXPECT_EQ(failure.cause, FailureCause::ReadOnly);
    EXPECT_EQ(failure.path, image);
    EXPECT_EQ(CodeOf(Import(image, translation, copy)), kErrorAccessDenied);  // as the dialog does
    EXPECT_EQ(CodeOf(Import(other, translation, image)), kErrorAccessDenied);
    std::filesystem::remove(other);
    EXPECT_EQ(CodeOf(Import(image, translation, other)), kSuccess);
    std::filesystem::remove(other);
    std::filesystem::permissions(image, perms::owner_read | perms::owner_write);
    ExpectUntouched();
}

// Outputs that would overwrite an input are refused by the files' identity, not their
// spelling: a hard link, a path through another folder, a language file at the update
// copy's name.
TEST_F(Faults, OutputsOverInputs) {
    std::filesystem::path hard = dir / "hard.lng";
    std::filesystem::create_hard_link(translation, hard);
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::path around = dir / "sub" / ".." / "de.lng";
    for (const std::filesystem::path* out : {&hard, &around}) {
        Failure failure = FailureOf(Import(image, translation, *out));
        EXPECT_EQ(failure.code, kErrorSharingViolation);
        EXPECT_EQ(failure.cause, FailureCause::OverwritesLanguageFile) << *out;
    }
    std::filesystem::remove(hard);
    std::filesystem::remove(dir / "sub");
    Bytes translationBytes = test::ReadFileBytes(translation);
    std::filesystem::rename(translation, copy);
    EXPECT_EQ(ImportInPlace(image, copy).failure.code, kErrorSharingViolation);
    EXPECT_EQ(test::ReadFileBytes(copy), translationBytes);
    std::filesystem::rename(copy, translation);
    // The export draft's name is the image's.
    std::filesystem::create_hard_link(image, dir / "x.lng.QN");
    EXPECT_EQ(CodeOf(Export(image, dir / "x.lng")), kErrorSharingViolation);
    std::filesystem::remove(dir / "x.lng.QN");
    ExpectUntouched();

    // A stale update copy, a regular file, is replaced.
    test::WriteFileBytes(copy, {1, 2, 3});
    EXPECT_EQ(ImportInPlace(image, translation).failure.code, kSuccess);
    EXPECT_FALSE(std::filesystem::exists(copy));
}

// What a failure names: the file and the cause.
TEST_F(Faults, FailuresNameTheFileAndTheCause) {
    test::WriteFileBytes(dir / "empty.exe", {});
    test::WriteFileBytes(dir / "u8.lng", {'6', '.', '1', '.', '0', '=', 'x', '\n'});
    test::WriteFileBytes(dir / "be.lng", {0xFE, 0xFF, 0, '6'});
    test::WriteFileBytes(dir / "bin.lng", {0x80, 0, 1});
    struct Case {
        std::filesystem::path image, language;
        Result code;
        FailureCause cause;
        std::filesystem::path named;
    } cases[] = {
        {dir / "missing.exe", translation, kErrorFileNotFound, FailureCause::NotFound,
         dir / "missing.exe"},
        {dir / "empty.exe", translation, kErrorFileNotFound, FailureCause::Empty,
         dir / "empty.exe"},
        {image, dir / "missing.lng", kErrorOpenFailed, FailureCause::NotFound, dir / "missing.lng"},
        {image, dir / "u8.lng", kErrorOpenFailed, FailureCause::Utf8, dir / "u8.lng"},
        {image, dir / "be.lng", kErrorOpenFailed, FailureCause::Utf16BigEndian, dir / "be.lng"},
        {image, dir / "bin.lng", kErrorOpenFailed, FailureCause::NotUtf16, dir / "bin.lng"},
    };
    for (const Case& c : cases) {
        std::filesystem::path out = dir / "out.exe";
        Failure failure = FailureOf(Import(c.image, c.language, out));
        EXPECT_EQ(failure.code, c.code) << c.named;
        EXPECT_EQ(failure.cause, c.cause) << c.named;
        EXPECT_EQ(failure.path, c.named);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// What follows needs POSIX: other users, mounts, devices, links, a process of its own.
#ifndef _WIN32

constexpr uid_t kNobody = 65534;

// Runs part of a test as an ordinary user, so that permissions apply although the tests may
// run as root (who may write into a read-only directory). Without root nothing changes.
struct AsOrdinaryUser {
    bool switched = false;
    AsOrdinaryUser() {
        if (geteuid() == 0)
            switched = setegid(kNobody) == 0 && seteuid(kNobody) == 0;
    }
    ~AsOrdinaryUser() {
        if (switched) {
            EXPECT_EQ(seteuid(0), 0);
            EXPECT_EQ(setegid(0), 0);
        }
    }
    bool Works() const { return geteuid() != 0; }
};

TEST_F(Faults, ReadOnlyDirectory) {
    std::filesystem::permissions(
        dir.path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                      std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    {
        AsOrdinaryUser user;
        if (!user.Works())
            GTEST_SKIP() << "cannot leave root";
        // The update copy cannot be created.
        EXPECT_EQ(CodeOf(Import(image, translation, copy)), kErrorWriteFault);
        // The language file can be neither replaced nor created.
        EXPECT_EQ(CodeOf(Export(image, language)), kErrorOpenFailed);
        EXPECT_EQ(CodeOf(Export(image, dir / "new.lng")), kErrorOpenFailed);
    }
    std::filesystem::permissions(dir.path, std::filesystem::perms::owner_all);
    ExpectUntouched();
}

TEST_F(Faults, RealFullDisk) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small filesystem needs root";
    std::filesystem::path small = dir / "small";
    std::filesystem::create_directory(small);
    // Four pages: the image takes two, the earlier language file one.
    if (mount("quelvar-test", small.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::filesystem::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};

    Bytes big = TextImage(80);
    ASSERT_GT(big.size(), 4096u);
    ASSERT_LE(big.size(), 8192u);
    std::filesystem::path smallImage = small / "app.exe";
    std::filesystem::path smallLanguage = small / "app.lng";
    test::WriteFileBytes(smallImage, big);
    test::WriteFileBytes(smallLanguage, earlier);

    EXPECT_EQ(CodeOf(Import(smallImage, translation, copy)), kSuccess);  // elsewhere: fine
    std::filesystem::path smallCopy = small / "app.exe.QN";
    EXPECT_EQ(CodeOf(Import(smallImage, translation, smallCopy)), kErrorWriteFault);
    EXPECT_EQ(CodeOf(Export(smallImage, smallLanguage)), kErrorWriteFault);
    EXPECT_EQ(test::ReadFileBytes(smallImage), big);
    EXPECT_EQ(test::ReadFileBytes(smallLanguage), earlier);
    EXPECT_EQ(Listing(small), (std::set<std::string>{"app.exe", "app.lng"}));
}

TEST_F(Faults, LanguageFileOnAFullDevice) {
    if (!std::filesystem::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    // A device is written directly; it fails as a full disk does, and is not removed.
    EXPECT_EQ(CodeOf(Export(image, "/dev/full")), kErrorWriteFault);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    ExpectUntouched();
}

TEST_F(Faults, UpdateCopyOnAFullDevice) {
    if (geteuid() != 0)
        GTEST_SKIP() << "making a device needs root";
    // A device like /dev/full, in the test's directory.
    std::filesystem::path full = dir / "full";
    if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device here";
    EXPECT_EQ(CodeOf(Import(image, translation, full)), kErrorWriteFault);
    EXPECT_TRUE(std::filesystem::is_character_file(full));
    std::filesystem::remove(full);
    // Through a link, the partial file that the link names is removed; the link stays.
    std::filesystem::path link = dir / "link.exe";
    std::filesystem::create_symlink("target.exe", link);
    {
        WriteLimit disk(100);
        EXPECT_EQ(CodeOf(Import(image, translation, link)), kErrorWriteFault);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "target.exe"));
    std::filesystem::remove(link);
    ExpectUntouched();
}

TEST_F(Faults, LanguageFileBehindALink) {
    // Export writes the file the link names, beside it, and keeps the link.
    std::filesystem::path link = dir / "link.lng";
    std::filesystem::create_symlink("app.lng", link);
    {
        WriteLimit disk(10);
        EXPECT_EQ(CodeOf(Export(image, link)), kErrorWriteFault);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    std::filesystem::remove(link);
    ExpectUntouched();

    std::filesystem::create_symlink("app.lng", link);
    ASSERT_EQ(CodeOf(Export(image, link)), kSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_NE(test::ReadFileBytes(language), earlier);
    EXPECT_EQ(Listing(dir.path),
              (std::set<std::string>{"app.exe", "app.lng", "de.lng", "link.lng"}));
}

// quelvar-cli writes the update copy and then cannot put it in the image's place: the image
// belongs to another user in a directory with the sticky bit, like /tmp.
TEST_F(Faults, TargetThatCannotBeReplaced) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run quelvar-cli as another user";
    std::filesystem::permissions(dir.path,
                                 std::filesystem::perms::all | std::filesystem::perms::sticky_bit);
    std::filesystem::path err = dir / "stderr.txt";
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(errFd, 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir.path.c_str()) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(99);
        dup2(errFd, 2);
        execl(QUELVAR_CLI, QUELVAR_CLI, "import", "app.exe", "de.lng", static_cast<char*>(nullptr));
        _exit(98);
    }
    close(errFd);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 99)
        GTEST_SKIP() << "cannot switch to another user";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    Bytes e = test::ReadFileBytes(err);
    std::string message(e.begin(), e.end());
    EXPECT_NE(message.find("replacing the image failed: access is denied (error 5)"),
              std::string::npos)
        << message;
    std::filesystem::remove(err);
    std::filesystem::permissions(dir.path, std::filesystem::perms::owner_all);

    // The image is as it was; the translated image is complete where the message says.
    EXPECT_EQ(test::ReadFileBytes(image), img);
    EXPECT_NE(message.find("stays at app.exe.QN"), std::string::npos) << message;
    std::filesystem::path expected = dir / "expected.QN";
    ASSERT_EQ(CodeOf(Import(image, translation, expected)), kSuccess);
    EXPECT_EQ(test::ReadFileBytes(copy), test::ReadFileBytes(expected));
}

#endif  // _WIN32

}  // namespace
}  // namespace quelvar
