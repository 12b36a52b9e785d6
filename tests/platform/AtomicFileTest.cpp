#include "platform/AtomicFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "TestPaths.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;

void Write(AtomicFile& file, const std::string& text) {
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file.Stream()), text.size());
}

// Every case holds for both kinds of temporary file: the nameless one most
// file systems give, and the .part name the others get.
const AtomicFile::Naming kNamings[] = {AtomicFile::Naming::Hidden, AtomicFile::Naming::Named};

std::string Describe(AtomicFile::Naming naming) {
    return naming == AtomicFile::Naming::Hidden ? "hidden" : "named";
}

TEST(AtomicFile, TheFinalNameChangesOnlyWhenTheFileIsCommitted) {
    for (const AtomicFile::Naming naming : kNamings) {
        SCOPED_TRACE(Describe(naming));
        test::TempDir dir;
        const fs::path target = dir / "map.png";
        std::ofstream(target) << "earlier";
        {
            AtomicFile file(target, AtomicFile::Durability::Synced, naming);
            if (file.IsNamed()) {
                EXPECT_EQ(file.TemporaryPath().parent_path(), dir.Path());
                EXPECT_THAT(file.TemporaryPath().filename().string(),
                            ::testing::StartsWith("map.png."));
            } else {
                EXPECT_EQ(test::FilesBelow(dir.Path()), std::set<std::string>{"map.png"});
            }
            Write(file, "new content");
            file.Close();
            EXPECT_EQ(ReadFile(target), "earlier");
            EXPECT_EQ(ReadFile(file.TemporaryPath()), "new content");
            file.Commit();
        }
        EXPECT_EQ(ReadFile(target), "new content");
        // A new name too; the umask decides the mode, as for any saved file.
        {
            AtomicFile file(dir / "new.png", AtomicFile::Durability::Flushed, naming);
            Write(file, "first");
            file.Commit();
        }
        EXPECT_EQ(ReadFile(dir / "new.png"), "first");
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(fs::status(dir / "new.png").permissions(), static_cast<fs::perms>(0666 & ~mask));
        EXPECT_EQ(test::FilesBelow(dir.Path()), (std::set<std::string>{"map.png", "new.png"}));

        // Not committed (an error, an exception): the temporary file goes, the
        // final name keeps what it had. The same for an explicit Discard().
        {
            AtomicFile abandoned(target, AtomicFile::Durability::Synced, naming);
            Write(abandoned, "half");
            AtomicFile discarded(target, AtomicFile::Durability::Synced, naming);
            EXPECT_NE(abandoned.TemporaryPath(), discarded.TemporaryPath());
            discarded.Discard();
        }
        EXPECT_EQ(ReadFile(target), "new content");
        EXPECT_EQ(test::FilesBelow(dir.Path()), (std::set<std::string>{"map.png", "new.png"}));
    }
}

TEST(AtomicFile, FailuresAreReportedAndLeaveNothing) {
    for (const AtomicFile::Naming naming : kNamings) {
        SCOPED_TRACE(Describe(naming));
        test::TempDir dir;
        EXPECT_THROW(
            AtomicFile(dir / "missing" / "map.png", AtomicFile::Durability::Synced, naming),
            std::system_error);
        // The final name is a folder: the rename fails, the temporary file goes.
        fs::create_directory(dir / "taken");
        fs::create_directory(dir / "taken" / "inside");
        AtomicFile file(dir / "taken", AtomicFile::Durability::Synced, naming);
        Write(file, "x");
        EXPECT_THROW(file.Commit(), std::system_error);
        EXPECT_TRUE(test::FilesBelow(dir.Path()).empty());
    }
}

TEST(AtomicFile, UnfinishedFilesCanBeRemovedAtOnce) {
    for (const AtomicFile::Naming naming : kNamings) {
        SCOPED_TRACE(Describe(naming));
        test::TempDir dir;
        AtomicFile unfinished(dir / "a.png", AtomicFile::Durability::Synced, naming);
        AtomicFile finished(dir / "b.png", AtomicFile::Durability::Synced, naming);
        finished.Commit();
        RemoveUnfinishedFiles();
        EXPECT_EQ(test::FilesBelow(dir.Path()), std::set<std::string>{"b.png"});
    }
}

extern "C" void RemoveAndEnd(int signal) {
    RemoveUnfinishedFiles(true);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A signal ends a process whose threads make, commit and drop named
// temporary files: whenever it comes (as a file is made, as its slot is
// rewritten, after the handler has looked), no .part file stays.
TEST(AtomicFile, ASignalWhileThreadsWriteLeavesNoNamedFileBehind) {
    for (int run = 0; run < 40; ++run) {
        test::TempDir dir;
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGTERM, RemoveAndEnd);
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([&dir, t] {
                    try {
                        for (int i = 0;; ++i) {
                            AtomicFile file(dir / std::to_string(t * 8 + i % 8),
                                            AtomicFile::Durability::Flushed,
                                            AtomicFile::Naming::Named);
                            if (i % 2 == 0) {
                                file.Commit();
                            }
                        }
                    } catch (const std::system_error&) { // the process is ending
                    }
                });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
            ::_exit(0);
        }
        ::usleep(static_cast<useconds_t>(2000 + run * 500));
        ::kill(child, SIGTERM);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << run;
        EXPECT_THAT(test::FilesBelow(dir.Path()),
                    ::testing::Each(::testing::Not(::testing::EndsWith(".part"))));
    }
}

// What no signal handler can do: a process killed outright leaves no
// unfinished file where the file system has nameless files.
TEST(AtomicFile, AKilledProcessLeavesNoHiddenFileBehind) {
    test::TempDir dir;
    if (AtomicFile(dir / "probe.png").IsNamed()) {
        GTEST_SKIP() << "this file system has no nameless files";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicFile file(dir / "map.png");
        std::fputs("half an image", file.Stream());
        std::fflush(file.Stream());
        ::raise(SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(test::FilesBelow(dir.Path()).empty());
}

} // namespace
} // namespace quiltara
