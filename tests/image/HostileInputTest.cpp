// Small files that claim huge pictures, through every reader: what a hostile
// server can send as a tile. Each must cost little to refuse or to read.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "CodecSamples.h"
#include "HostileSamples.h"
#include "TestPaths.h"
#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The peak resident memory that decoding the bytes adds, in megabytes,
// measured in a child process so that nothing the test did before hides it.
std::optional<long> DecodingPeakMegabytes(const test::Bytes& bytes) {
    int channel[2];
    if (pipe(channel) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const long before = PeakKilobytes();
        {
            RasterImage image;
            test::DecodeBytes(image, bytes, kFormatUnknown);
        }
        const long grown = (PeakKilobytes() - before) / 1024;
        const bool sent = write(channel[1], &grown, sizeof grown) == sizeof grown;
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    long grown = -1;
    const bool received = child > 0 && read(channel[0], &grown, sizeof grown) == sizeof grown;
    close(channel[0]);
    int status = 0;
    if (child > 0) {
        waitpid(child, &status, 0);
    }
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return grown;
}

TEST(HostileFiles, NoneCostsMoreThanAFewHundredMegabytes) {
    if (kSanitized) {
        GTEST_SKIP() << "the sanitizers' shadow memory makes resident sizes meaningless";
    }
    for (const test::HostileSample& sample : test::HostileSamples()) {
        SCOPED_TRACE(sample.name);
        EXPECT_LT(sample.bytes.size(), 100u * 1024);
        const std::optional<long> peak = DecodingPeakMegabytes(sample.bytes);
        ASSERT_TRUE(peak.has_value()) << "the decoding child did not report";
        EXPECT_LT(*peak, 300) << "megabytes";
    }
}

// Every file fails or yields a picture, under every combination of the
// caller's limits; with tile limits each is refused for its size.
TEST(HostileFiles, TileLimitsRefuseEveryOneByItsDeclaredSize) {
    for (const test::HostileSample& sample : test::HostileSamples()) {
        SCOPED_TRACE(sample.name);
        RasterImage image;
        image.SetReadLimits(ReadLimits{4096, 4096, true});
        EXPECT_FALSE(test::DecodeBytes(image, sample.bytes, kFormatUnknown));
        EXPECT_FALSE(image.HasPixels());
        RasterImage named;
        named.SetReadLimits(ReadLimits{4096, 4096, false});
        const std::uint32_t id = sample.name.ends_with(".png")   ? kFormatPng
                                 : sample.name.ends_with(".jpg") ? kFormatJpeg
                                 : sample.name.ends_with(".gif") ? kFormatGif
                                 : sample.name.ends_with(".bmp") ? kFormatBmp
                                                                 : kFormatTiff;
        EXPECT_FALSE(test::DecodeBytes(named, sample.bytes, id));
        if (sample.name.find("long") == std::string::npos) {
            // Every one but the chunk-length files declares a huge picture.
            EXPECT_NE(std::string(named.ErrorText()).find("larger than the 4096 x 4096 accepted"),
                      std::string::npos)
                << named.ErrorText();
        }
    }
}

// A picture of each format, 40 x 30, as our writers (or libjpeg) make it.
std::vector<std::pair<std::uint32_t, test::Bytes>> OneOfEachFormat() {
    std::vector<std::pair<std::uint32_t, test::Bytes>> files;
    RasterImage colour(40, 30, 24, 0);
    test::FillPattern(colour);
    RasterImage indexed(40, 30, 8, 0);
    test::FillPattern(indexed);
    files.emplace_back(kFormatPng, test::EncodeBytes(colour, kFormatPng));
    files.emplace_back(kFormatJpeg, test::EncodeBytes(colour, kFormatJpeg));
    files.emplace_back(kFormatGif, test::EncodeBytes(indexed, kFormatGif));
    files.emplace_back(kFormatBmp, test::EncodeBytes(colour, kFormatBmp));
    files.emplace_back(kFormatTiff, test::EncodeBytes(colour, kFormatTiff));
    return files;
}

// Every reader refuses a picture wider or taller than the caller's limits,
// with a text naming the size, and reads one of exactly the limits.
TEST(ReadLimits, EveryReaderRefusesPicturesBeyondThemAndTakesTheirSize) {
    for (const auto& [id, bytes] : OneOfEachFormat()) {
        SCOPED_TRACE(testing::Message() << "format " << id);
        ASSERT_FALSE(bytes.empty());
        for (const ReadLimits limits : {ReadLimits{39, 30, false}, ReadLimits{40, 29, false}}) {
            for (const std::uint32_t readAs : {id, std::uint32_t{kFormatUnknown}}) {
                RasterImage image(2, 2, 8, 7);
                image.SetReadLimits(limits);
                EXPECT_FALSE(test::DecodeBytes(image, bytes, readAs));
                EXPECT_EQ(image.Width(), 2); // the caller's image is left as it was
                if (readAs != kFormatUnknown) {
                    EXPECT_NE(std::string(image.ErrorText()).find("40 x 30 pixels is larger"),
                              std::string::npos)
                        << image.ErrorText();
                }
            }
        }
        RasterImage exact;
        exact.SetReadLimits(ReadLimits{40, 30, true});
        ASSERT_TRUE(test::DecodeBytes(exact, bytes, kFormatUnknown)) << exact.ErrorText();
        EXPECT_EQ(exact.Width(), 40);
        EXPECT_EQ(exact.FormatId(), id);
        EXPECT_EQ(exact.GetReadLimits().maxWidth, 40u);
    }
}

// A 46000 x 46000 PNG header is refused for its size, before the reader asks
// for the 6 GB its pixels would need.
TEST(ReadLimits, AreAppliedBeforeThePixelsAreAllocated) {
    RasterImage small(8, 8, 24, 0);
    const test::Bytes png = test::PngClaiming(test::EncodeBytes(small, kFormatPng), 46000, 46000);
    RasterImage image;
    image.SetReadLimits(ReadLimits{4096, 4096, false});
    EXPECT_FALSE(test::DecodeBytes(image, png, kFormatPng));
    EXPECT_STREQ(image.ErrorText(), "46000 x 46000 pixels is larger than the 4096 x 4096 accepted");
}

// Inputs a fuzzer once crashed or tripped on: each still decodes or fails
// cleanly, and each decoded picture reads back and is writable as PNG.
TEST(FuzzRegressions, EveryKeptInputDecodesCleanlyAndWritesAsPng) {
    struct LimitGuard {
        LimitGuard() { SetPixelBlockLimit(64ull << 20); } // the fuzzer's
        ~LimitGuard() { SetPixelBlockLimit(0); }
    } limit;
    const std::filesystem::path folder = test::TestDataDir() / "fuzz-regressions";
    const std::set<std::string> names = test::FilesBelow(folder);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        for (const std::uint32_t id : {std::uint32_t{kFormatUnknown}, std::uint32_t{kFormatPng}}) {
            RasterImage image;
            if (!test::DecodeBytes(image, test::ReadBytes(folder / name), id)) {
                continue;
            }
            if (std::uint64_t{static_cast<std::uint32_t>(image.Width())} *
                    static_cast<std::uint32_t>(image.Height()) >
                (std::uint64_t{1} << 24)) {
                continue; // as the fuzzer, which only decodes pictures this large
            }
            EXPECT_EQ(RgbaReadback(image).size(),
                      static_cast<std::size_t>(image.Width()) * image.Height() * 4);
            MemoryStream out;
            out.OpenEmpty();
            testing::internal::CaptureStderr();
            EXPECT_TRUE(image.Encode(&out, kFormatPng)) << image.ErrorText();
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        }
    }
}

} // namespace
} // namespace quiltara
