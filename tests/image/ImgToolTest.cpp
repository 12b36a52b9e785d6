// quiltara-imgtool as a developer runs it: exit status, printed fields and
// the files it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "CodecSamples.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun RunTool(const test::TempDir& dir, const std::string& arguments) {
    const auto tool = test::BinaryDir() / "tools" / "quiltara-imgtool" / "quiltara-imgtool";
    const std::string command = "'" + tool.string() + "' " + arguments + " >'" +
                                (dir / "stdout").string() + "' 2>'" + (dir / "stderr").string() +
                                "'";
    const int raw = std::system(command.c_str());
    const test::Bytes out = test::ReadBytes(dir / "stdout");
    const test::Bytes err = test::ReadBytes(dir / "stderr");
    return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(out.begin(), out.end()),
                   std::string(err.begin(), err.end())};
}

std::string Sample(const char* name) {
    return "'" + (test::TestDataDir() / "codecs" / name).string() + "'";
}

TEST(ImgTool, InfoPrintsWhatLoadFileGives) {
    test::TempDir dir;
    const ToolRun gif = RunTool(dir, "info " + Sample("palette8.gif"));
    EXPECT_EQ(gif.status, 0);
    EXPECT_NE(gif.out.find("success: yes\n"), std::string::npos) << gif.out;
    EXPECT_NE(gif.out.find("width: 11\nheight: 7\nbits per pixel: 8\nformat id: 2\n"
                           "palette size: 256\ntransparent index: 5\nalpha plane: no\n"),
              std::string::npos)
        << gif.out;

    const ToolRun jpeg = RunTool(dir, "info " + Sample("colour.jpg") + " 4");
    EXPECT_EQ(jpeg.status, 0);
    EXPECT_NE(jpeg.out.find("format id: 3\n"), std::string::npos) << jpeg.out;

    test::WriteBytes(dir / "junk.png", test::Bytes(64, 'j'));
    const ToolRun junk = RunTool(dir, "info '" + (dir / "junk.png").string() + "' 4");
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.out.find("success: no\n"), std::string::npos);
    EXPECT_NE(junk.err.find("Not a PNG file"), std::string::npos) << junk.err;
}

TEST(ImgTool, RgbaWritesTheReadBackTopRowFirst) {
    test::TempDir dir;
    const auto out = dir / "pixels.rgba";
    ASSERT_EQ(
        RunTool(dir, "rgba " + Sample("palette4-alpha.png") + " '" + out.string() + "'").status, 0);
    RasterImage image;
    ASSERT_TRUE(image.LoadFile((test::TestDataDir() / "codecs" / "palette4-alpha.png").string(),
                               kFormatUnknown));
    EXPECT_EQ(test::ReadBytes(out), RgbaReadback(image));
    EXPECT_EQ(test::ReadBytes(out).size(), 8u * 8u * 4u);
}

TEST(ImgTool, ConvertWritesPngAndReportsFailures) {
    test::TempDir dir;
    const auto out = dir / "out.png";
    ASSERT_EQ(RunTool(dir, "convert " + Sample("rgb.bmp") + " '" + out.string() + "'").status, 0);
    RasterImage source;
    ASSERT_TRUE(source.LoadFile((test::TestDataDir() / "codecs" / "rgb.bmp").string(), 0));
    RasterImage converted;
    ASSERT_TRUE(converted.LoadFile(out.string(), kFormatPng));
    EXPECT_EQ(converted.FormatId(), 4u);
    EXPECT_EQ(RgbaReadback(converted), RgbaReadback(source));

    const ToolRun missing =
        RunTool(dir, "convert '" + (dir / "absent.bmp").string() + "' '" + out.string() + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(RunTool(dir, "convert").status, 2);
    EXPECT_EQ(RunTool(dir, "info a b c").status, 2);
    EXPECT_EQ(RunTool(dir, "info a notanumber").status, 2);
}

} // namespace
} // namespace quiltara
