// Other programs at work on the same files: a second run on the image, a run killed midway, a
// file cut short or replaced while it is read, an image of another owner. Runs of quelvar-cli
// stop themselves at named points (QUELVAR_TEST_STOP_AT) and the rival acts while they wait,
// so that no timing decides what a test sees.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "pe_builder.h"
#include "platform/platform.h"

namespace quelvar {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Id;

test::ImageOptions RelocsAfterResources() {
    test::ImageOptions options;
    options.sectionAfterResources = true;
    return options;
}

// An image of several pages: string tables of long strings; `relocs` adds a section after them.
Bytes LargeImage(bool relocs = false) {
    std::vector<test::Resource> resources;
    for (uint32_t block = 1; block <= 4; ++block) {
        std::vector<std::u16string> strings(16, std::u16string(200, u'a'));
        strings[0] = u"first";
        resources.push_back({Id(6), Id(block), 1033, test::StringBlock(strings)});
    }
    return relocs ? test::BuildImage(resources, RelocsAfterResources())
                  : test::BuildImage(resources);
}

std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

struct Interference : ::testing::Test {
    test::TempDir dir;
    fs::path image = dir / "app.exe";
    fs::path copy = dir / "app.exe.QN";
    fs::path german = dir / "de.lng";
    fs::path french = dir / "fr.lng";
    Bytes img = LargeImage();

    void SetUp() override {
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(german, test::LanguageFile(u"6.1.0=Hallo\r\n6.2.0=Welt\r\n"));
        test::WriteFileBytes(french, test::LanguageFile(u"6.1.0=Bonjour\r\n"));
    }
    // The image as an import of `translation` makes it.
    Bytes Translated(const fs::path& translation) {
        fs::path out = dir / "expected.exe";
        EXPECT_EQ(CodeOf(Import(image, translation, out)), kSuccess);
        Bytes bytes = test::ReadFileBytes(out);
        fs::remove(out);
        return bytes;
    }
};

// A run that holds the image's lock keeps every other import of it out, also one that writes
// the update copy for the dialog program.
TEST_F(Interference, LockedImageIsLeftAlone) {
    platform::File held;
    ASSERT_EQ(platform::OpenForLocking(image, held), kSuccess);
    ASSERT_EQ(platform::LockExclusively(held), kSuccess);
    Failure failure = ImportInPlace(image, german).failure;
    EXPECT_EQ(failure.code, kErrorLockViolation);
    EXPECT_EQ(failure.cause, FailureCause::Busy);
    EXPECT_EQ(failure.path, image);
    EXPECT_EQ(CodeOf(Import(image, german, copy)), kErrorLockViolation);
    EXPECT_EQ(test::ReadFileBytes(image), img);
    EXPECT_EQ(Listing(dir.path), (std::set<std::string>{"app.exe", "de.lng", "fr.lng"}));
    held = platform::File();
    Bytes expected = Translated(german);
    EXPECT_EQ(ImportInPlace(image, german).failure.code, kSuccess);
    EXPECT_EQ(test::ReadFileBytes(image), expected);
}

// Export of an image whose sections reach past its end (a copy whose writing never finished)
// says so.
TEST_F(Interference, ExportOfAnImageCutShortWarns) {
    fs::path cut = dir / "cut.exe";
    img = LargeImage(true);
    test::WriteFileBytes(image, img);
    test::WriteFileBytes(cut, Bytes(img.begin(), img.end() - 0x100));
    std::vector<Notice> notices;
    Options options;
    options.notify = [&notices](const Notice& notice) { notices.push_back(notice); };
    for (const fs::path* exported : {&image, &cut}) {
        notices.clear();
        ASSERT_EQ(CodeOf(Export(*exported, dir / "out.lng", options)), kSuccess);
        bool warned = exported == &cut;
        ASSERT_EQ(notices.size(), warned ? 1u : 0u) << *exported;
        if (warned) {
            EXPECT_EQ(notices[0].kind, NoticeKind::ImageCutShort);
            EXPECT_EQ(notices[0].counts[0], img.size() - 0x100);
            EXPECT_EQ(notices[0].counts[1], img.size());
        }
    }
}

#ifndef _WIN32

constexpr uid_t kNobody = 65534;

// A run of quelvar-cli in the test's folder that stops itself at `point`; "" runs it through.
struct CliRun {
    pid_t pid = -1;
    int status = 0;  // the exit status, or minus the signal that ended it
    std::string said;
};

CliRun Start(const test::TempDir& dir, const char* point, const std::vector<std::string>& args,
             uid_t user = 0) {
    CliRun run;
    fs::path err = dir / ("run" + std::to_string(getpid()) + "-" + point + ".err");
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(errFd, 0);
    run.pid = fork();
    if (run.pid == 0) {
        std::vector<char*> argv{const_cast<char*>(QUELVAR_CLI)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (chdir(dir.path.c_str()) != 0 || setenv("QUELVAR_TEST_STOP_AT", point, 1) != 0)
            _exit(99);
        if (user != 0 && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
            _exit(99);
        dup2(errFd, 2);
        execv(QUELVAR_CLI, argv.data());
        _exit(98);
    }
    close(errFd);
    int raw = 0;
    EXPECT_EQ(waitpid(run.pid, &raw, *point != '\0' ? WUNTRACED : 0), run.pid);
    if (WIFSTOPPED(raw))
        return run;
    run.pid = -1;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    Bytes e = test::ReadFileBytes(err);
    run.said.assign(e.begin(), e.end());
    fs::remove(err);
    return run;
}

// Lets a stopped run go on (or kills it) and waits for its end.
void Finish(const test::TempDir& dir, CliRun& run, int signal, const char* point) {
    ASSERT_NE(run.pid, -1) << "the run did not stop at " << point;
    kill(run.pid, signal);
    int raw = 0;
    ASSERT_EQ(waitpid(run.pid, &raw, 0), run.pid);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    fs::path err = dir / ("run" + std::to_string(getpid()) + "-" + point + ".err");
    Bytes e = test::ReadFileBytes(err);
    run.said.assign(e.begin(), e.end());
    fs::remove(err);
}

void Replace(const fs::path& path, const Bytes& bytes) {
    fs::path fresh = path;
    fresh += ".fresh";
    test::WriteFileBytes(fresh, bytes);
    fs::rename(fresh, path);
}

// An in-place import stopped at a point while another program acts: whatever happens, the
// image is the one it was, this run's whole translation or the other program's file, what the
// run says is true, and an update copy left is complete.
TEST_F(Interference, ImportStoppedWhileAnotherActs) {
    const Bytes translated = Translated(german);
    const Bytes foreign(4000, 'x');
    enum class Left { Image, Translation, Foreign, FirstKilobyte };
    struct Case {
        const char* what;
        const char* point;
        int signal;  // SIGKILL ends the run, SIGCONT lets it go on
        std::function<void()> meanwhile;
        int status;
        const char* says;
        Left left;
        std::set<std::string> listing;
    } cases[] = {
        {"killed while writing the copy",
         "output-partly-written",
         SIGKILL,
         [] {},
         -SIGKILL,
         "",
         Left::Image,
         {"app.exe", "de.lng", "fr.lng"}},
        {"killed before the copy takes the image's place",
         "update-copy-named",
         SIGKILL,
         [] {},
         -SIGKILL,
         "",
         Left::Image,
         {"app.exe", "app.exe.QN", "de.lng", "fr.lng"}},
        {"a second import meanwhile",
         "update-copy-named",
         SIGCONT,
         [&] {
             CliRun rival = Start(dir, "", {"import", "app.exe", "fr.lng"});
             EXPECT_EQ(rival.status, 1);
             EXPECT_NE(rival.said.find("import failed: app.exe: another run is importing into "
                                       "this image; run again once it has finished (error 33)"),
                       std::string::npos)
                 << rival.said;
             EXPECT_EQ(test::ReadFileBytes(image), img);
         },
         0,
         "",
         Left::Translation,
         {"app.exe", "de.lng", "fr.lng"}},
        {"the image replaced meanwhile",
         "update-copy-named",
         SIGCONT,
         [&] { Replace(image, foreign); },
         1,
         "import failed: app.exe: another program cut the file short or replaced it meanwhile; "
         "nothing was written (error 1006)",
         Left::Foreign,
         {"app.exe", "de.lng", "fr.lng"}},
        {"the update copy replaced meanwhile",
         "update-copy-named",
         SIGCONT,
         [&] { Replace(copy, foreign); },
         1,
         "import failed: app.exe.QN: another program",
         Left::Image,
         {"app.exe", "app.exe.QN", "de.lng", "fr.lng"}},
        {"the image cut short meanwhile",
         "import-loaded",
         SIGCONT,
         [&] { fs::resize_file(image, 1024); },
         1,
         "import failed: app.exe: another program cut",
         Left::FirstKilobyte,
         {"app.exe", "de.lng", "fr.lng"}},
        {"the language file cut short meanwhile",
         "import-loaded",
         SIGCONT,
         [&] { fs::resize_file(german, 4); },
         1,
         "import failed: de.lng: another program cut",
         Left::Image,
         {"app.exe", "de.lng", "fr.lng"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(german, test::LanguageFile(u"6.1.0=Hallo\r\n6.2.0=Welt\r\n"));
        CliRun run = Start(dir, c.point, {"import", "app.exe", "de.lng"});
        c.meanwhile();
        Finish(dir, run, c.signal, c.point);
        EXPECT_EQ(run.status, c.status) << run.said;
        EXPECT_NE(run.said.find(c.says), std::string::npos) << run.said;
        Bytes now = test::ReadFileBytes(image);
        switch (c.left) {
            case Left::Image:
                EXPECT_EQ(now, img);
                break;
            case Left::Translation:
                EXPECT_EQ(now, translated);
                break;
            case Left::Foreign:
                EXPECT_EQ(now, foreign);
                break;
            case Left::FirstKilobyte:
                EXPECT_EQ(now, Bytes(img.begin(), img.begin() + 1024));
                break;
        }
        EXPECT_EQ(Listing(dir.path), c.listing);
        // An update copy left behind is the complete translation, or the other program's file.
        if (fs::exists(copy)) {
            Bytes left = test::ReadFileBytes(copy);
            EXPECT_TRUE(left == translated || left == foreign);
            fs::remove(copy);
        }
    }
    // After all that, an import works.
    test::WriteFileBytes(image, img);
    test::WriteFileBytes(german, test::LanguageFile(u"6.1.0=Hallo\r\n6.2.0=Welt\r\n"));
    EXPECT_EQ(Start(dir, "", {"import", "app.exe", "de.lng"}).status, 0);
    EXPECT_EQ(test::ReadFileBytes(image), translated);
}

// An image cut short during import --batch fails alone; the batch goes on and sums up.
TEST_F(Interference, BatchGoesOnPastAnImageCutShort) {
    fs::create_directories(dir / "tree");
    fs::create_directories(dir / "lng");
    for (const char* name : {"a.exe", "b.exe"}) {
        test::WriteFileBytes(dir / "tree" / name, img);
        fs::copy_file(german, dir / "lng" / (std::string(name) + ".lng"));
    }
    const Bytes translated = Translated(german);
    CliRun run =
        Start(dir, "import-loaded", {"import", "--batch", "--from", "lng", "tree", "-j", "1"});
    fs::resize_file(dir / "tree/a.exe", 1024);
    Finish(dir, run, SIGCONT, "import-loaded");
    EXPECT_EQ(run.status, 1) << run.said;
    EXPECT_NE(run.said.find("2 images, 1 done"), std::string::npos) << run.said;
    EXPECT_NE(run.said.find("import failed: tree/a.exe: another program cut"), std::string::npos)
        << run.said;
    EXPECT_EQ(test::ReadFileBytes(dir / "tree/b.exe"), translated);
}

// An image or language file replaced keeps its owner, group, mode and extended attributes
// where the process may keep them; where it may not, the new file loses the set-user-id and
// set-group-id bits instead of becoming a privileged file of the run's user.
TEST_F(Interference, ReplacedFilesKeepOwnerOrLosePrivileges) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files other owners";
    struct Case {
        const char* what;
        bool importing;  // else exporting over the language file
        uid_t owner;
        mode_t mode;
        uid_t runAs;
        uid_t wantOwner;
        mode_t wantMode;
    } cases[] = {
        {"a set-user-id image of nobody, by root", true, kNobody, 04751, 0, kNobody, 04751},
        {"a set-group-id image of nobody, by root", true, kNobody, 02755, 0, kNobody, 02755},
        {"a set-id image of root, by nobody", true, 0, 06777, kNobody, kNobody, 0777},
        {"a language file of nobody, by root", false, kNobody, 0640, 0, kNobody, 0640},
    };
    fs::permissions(dir.path, fs::perms::all);
    fs::path language = dir / "app.lng";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path& target = c.importing ? image : language;
        test::WriteFileBytes(image, img);
        test::WriteFileBytes(language, test::LanguageFile(u"6.1.0=x\r\n"));
        ASSERT_EQ(chown(target.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(chmod(target.c_str(), c.mode), 0);
        bool xattrs = setxattr(target.c_str(), "user.quelvar", "kept", 4, 0) == 0;
        std::vector<std::string> args{c.importing ? "import" : "export", "app.exe",
                                      c.importing ? "de.lng" : "app.lng"};
        CliRun run = Start(dir, "", args, c.runAs);
        ASSERT_EQ(run.status, 0) << run.said;
        struct stat st {};
        ASSERT_EQ(stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.wantOwner);
        EXPECT_EQ(st.st_gid, c.wantOwner);
        EXPECT_EQ(st.st_mode & 07777, c.wantMode);
        char value[8] = {};
        if (xattrs) {
            EXPECT_EQ(getxattr(target.c_str(), "user.quelvar", value, sizeof(value)), 4);
        }
        EXPECT_EQ(std::string(value, xattrs ? 4 : 0), xattrs ? "kept" : "");
        EXPECT_EQ(Listing(dir.path),
                  (std::set<std::string>{"app.exe", "app.lng", "de.lng", "fr.lng"}));
    }
}

#endif  // _WIN32

}  // namespace
}  // namespace quelvar
