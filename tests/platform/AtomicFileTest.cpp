#include "platform/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <system_error>

#include "TestPaths.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;

void Write(AtomicFile& file, const std::string& text) {
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file.Stream()), text.size());
}

TEST(AtomicFile, TheFinalNameChangesOnlyWhenTheFileIsCommitted) {
    test::TempDir dir;
    const fs::path target = dir / "map.png";
    std::ofstream(target) << "earlier";
    {
        AtomicFile file(target);
        EXPECT_EQ(file.TemporaryPath().parent_path(), dir.Path());
        Write(file, "new content");
        file.Close();
        EXPECT_EQ(ReadFile(target), "earlier");
        EXPECT_EQ(ReadFile(file.TemporaryPath()), "new content");
        file.Commit();
    }
    EXPECT_EQ(ReadFile(target), "new content");
    EXPECT_EQ(test::FilesBelow(dir.Path()), std::set<std::string>{"map.png"});

    // Not committed (an error, an exception): the temporary file goes, the
    // final name keeps what it had. The same for an explicit Discard().
    {
        AtomicFile abandoned(target);
        Write(abandoned, "half");
        AtomicFile discarded(target);
        EXPECT_NE(abandoned.TemporaryPath(), discarded.TemporaryPath());
        discarded.Discard();
        EXPECT_FALSE(fs::exists(discarded.TemporaryPath()));
    }
    EXPECT_EQ(ReadFile(target), "new content");
    EXPECT_EQ(test::FilesBelow(dir.Path()), std::set<std::string>{"map.png"});
}

TEST(AtomicFile, FailuresAreReportedAndLeaveNothing) {
    test::TempDir dir;
    EXPECT_THROW(AtomicFile(dir / "missing" / "map.png"), std::system_error);
    // The final name is a folder: the rename fails, the temporary file goes.
    fs::create_directory(dir / "taken");
    fs::create_directory(dir / "taken" / "inside");
    AtomicFile file(dir / "taken");
    Write(file, "x");
    EXPECT_THROW(file.Commit(), std::system_error);
    EXPECT_TRUE(test::FilesBelow(dir.Path()).empty());
}

TEST(AtomicFile, UnfinishedFilesCanBeRemovedAtOnce) {
    test::TempDir dir;
    AtomicFile unfinished(dir / "a.png");
    AtomicFile finished(dir / "b.png");
    finished.Commit();
    RemoveUnfinishedFiles();
    EXPECT_EQ(test::FilesBelow(dir.Path()), std::set<std::string>{"b.png"});
}

} // namespace
} // namespace quiltara
