// Small files that claim huge pictures, through every reader: what a hostile
// server can send as a tile. Each must cost little to refuse or to read.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

#include "CodecSamples.h"
#include "HostileSamples.h"
#include "image/RasterImage.h"

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

} // namespace
} // namespace quiltara
