#include "text_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "scratch_folder.h"

namespace fs = std::filesystem;
using namespace store;

namespace {

class TextFile : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const { return (fs::path(dir_) / name).string(); }
    void write(const std::string& name, const std::string& content) const {
        std::ofstream(path(name), std::ios::binary) << content;
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

    ScratchFolder folder_{"store_test"};
    const std::string dir_ = folder_.Path();
};

const char kBinaryBytes[] = "TOP  , 1440 ,\r\n\0\xff\r";
const std::string kBinary(kBinaryBytes, sizeof kBinaryBytes - 1);

}  // namespace

TEST_F(TextFile, ReadsBytesAsTheyAre) {
    write("a", kBinary);
    fs::create_directory(path("folder"));
    EXPECT_EQ(ReadTextFile(path("a")), kBinary);
    EXPECT_EQ(ReadTextFile(path("a"), 3), "TOP");
    EXPECT_EQ(FileSize(path("a")), kBinary.size());
    EXPECT_EQ(ReadTextFile(path("missing")), std::nullopt);
    EXPECT_EQ(ReadTextFile(path("folder")), std::nullopt);
    EXPECT_EQ(FileSize(path("missing")), std::nullopt);
}

TEST_F(TextFile, EnsureFileExistsCreatesButNeverTruncates) {
    write("old", "keep");
    fs::create_directory(path("folder"));
    EXPECT_TRUE(EnsureFileExists(path("old")));
    EXPECT_EQ(ReadTextFile(path("old")), "keep");
    EXPECT_TRUE(EnsureFileExists(path("new")));
    EXPECT_EQ(ReadTextFile(path("new")), "");
    EXPECT_FALSE(EnsureFileExists(path("nofolder/x")));
    EXPECT_FALSE(EnsureFileExists(path("folder")));
}

TEST_F(TextFile, ReplaceOverwritesAnOldFileAndKeepsItsPermissions) {
    write("settings", "old");
#ifndef _WIN32
    ASSERT_EQ(chmod(path("settings").c_str(), 0640), 0);
    const mode_t oldMask = umask(022);
#endif
    EXPECT_TRUE(ReplaceFileContent(path("settings"), kBinary));
    EXPECT_TRUE(ReplaceFileContent(path("new"), "x"));
    EXPECT_EQ(ReadTextFile(path("settings")), kBinary);
    EXPECT_EQ(ReadTextFile(path("new")), "x");
    // Names come as UTF-8 from the window, also where the system's are not.
    const std::string umlaut = dir_ + "/Kan\xc3\xa4le.tbl";
    EXPECT_TRUE(ReplaceFileContent(umlaut, "y"));
    EXPECT_TRUE(ReplaceFileContent(umlaut, "z"));
    EXPECT_EQ(ReadTextFile(umlaut), "z");
    EXPECT_TRUE(fs::exists(fs::u8path(umlaut)));
    EXPECT_EQ(entries(), 3u);  // no temporary file left over
#ifndef _WIN32
    umask(oldMask);
    struct stat st;
    ASSERT_EQ(stat(path("settings").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(stat(path("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
#endif
}

TEST_F(TextFile, FailedReplaceLeavesEverythingAsItWas) {
    write("plainfile", "x");
    fs::create_directory(path("table"));
    write("table/inside", "survives");
    for (const std::string target : {"nofolder/t", "plainfile/t", "table"}) {
        std::string error;
        EXPECT_FALSE(ReplaceFileContent(path(target), "new", &error)) << target;
        EXPECT_FALSE(error.empty()) << target;
        EXPECT_EQ(entries(), 2u) << target;
    }
    EXPECT_EQ(ReadTextFile(path("table/inside")), "survives");
    EXPECT_EQ(ReadTextFile(path("plainfile")), "x");
}

#ifndef _WIN32
TEST_F(TextFile, ReplaceSavesThroughLinksAndRespectsReadOnlyFiles) {
    // A linked settings file stays a link; the file it names gets the content.
    fs::create_directory(path("real"));
    write("real/settings.ini", "old");
    fs::create_symlink("real/settings.ini", path("linked.ini"));
    EXPECT_TRUE(ReplaceFileContent(path("linked.ini"), "new"));
    EXPECT_TRUE(fs::is_symlink(path("linked.ini")));
    EXPECT_EQ(ReadTextFile(path("real/settings.ini")), "new");

    // A file made read-only is as writable as a direct write would find it
    // (root may still write it).
    write("pinned.ini", "pinned");
    ASSERT_EQ(chmod(path("pinned.ini").c_str(), 0444), 0);
    const bool writable = access(path("pinned.ini").c_str(), W_OK) == 0;
    EXPECT_EQ(ReplaceFileContent(path("pinned.ini"), "changed"), writable);
    EXPECT_EQ(ReadTextFile(path("pinned.ini")), writable ? "changed" : "pinned");
    EXPECT_EQ(entries(), 3u);  // real/, linked.ini, pinned.ini: no temporary file
}
#endif

TEST_F(TextFile, AppendAddsToTheEndAndReportsFailures) {
    EXPECT_TRUE(AppendToFile(path("log"), "one\r\n"));
    EXPECT_TRUE(AppendToFile(path("log"), "two\r\n"));
    EXPECT_EQ(ReadTextFile(path("log")), "one\r\ntwo\r\n");
    fs::create_directory(path("folder"));
    EXPECT_FALSE(AppendToFile(path("folder"), "x"));
    EXPECT_FALSE(AppendToFile(path("nofolder/log"), "x"));

#ifndef _WIN32
    // A full disk must neither go unnoticed nor leak the descriptor.
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = openFiles();
    std::string error;
    EXPECT_FALSE(AppendToFile("/dev/full", "line\r\n", &error));
    EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
    EXPECT_EQ(openFiles(), before);
#endif
}

#ifndef _WIN32

// Runs body in a child process that cannot bypass file permissions (root
// becomes nobody there) and gives back its exit status.
int RunUnprivileged(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST_F(TextFile, ReplaceInAReadOnlyFolderRewritesAWritableFile) {
    struct Case {
        const char* name;
        const char* old;  // nullptr: no such file
        std::string content;
        rlim_t sizeLimit;
        bool saved;
        const char* after;
    };
    const Case cases[] = {
        {"shrinks", "TOP,1440,\r\nLEFT,2000,\r\n", "TOP,0,\r\n", RLIM_INFINITY, true, "TOP,0,\r\n"},
        {"grows", "A\r\n", "A\r\nB\r\n", RLIM_INFINITY, true, "A\r\nB\r\n"},
        // A full disk in the middle of the rewrite puts the old content back.
        {"disk full", "old-content\r\n", std::string(64, 'x'), 16, false, "old-content\r\n"},
        {"missing", nullptr, "new", RLIM_INFINITY, false, nullptr},
    };
    for (const Case& c : cases) {
        if (c.old) {
            write(c.name, c.old);
            ASSERT_EQ(chmod(path(c.name).c_str(), 0666), 0);
        }
    }
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    for (const Case& c : cases) {
        const int status = RunUnprivileged([&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.sizeLimit, c.sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            const bool saved = ReplaceFileContent(path(c.name), c.content, &error);
            return saved == c.saved && saved == error.empty() ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << c.name;
        if (c.after) {
            EXPECT_EQ(ReadTextFile(path(c.name)), c.after) << c.name;
        } else {
            EXPECT_FALSE(fs::exists(path(c.name))) << c.name;
        }
    }
    chmod(dir_.c_str(), 0700);
    EXPECT_EQ(entries(), 3u);  // no temporary file, nothing created
}
#endif
