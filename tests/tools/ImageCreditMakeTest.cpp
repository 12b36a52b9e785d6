// The credit quiltara-make writes into its images and, with
// --stamp-attribution, draws in their corner, read back as a user's tools
// read them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

#include "QuiltaraMakeFixture.h"
#include "image/RasterImage.h"

namespace quiltara::make {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

std::string Latin1ToUtf8(const std::string& text) {
    std::string utf8;
    for (unsigned char c : text) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The text chunks before the image data, by keyword, as UTF-8; "iTXt:" in
// front of the texts that came in international chunks.
std::map<std::string, std::string> PngTexts(const std::filesystem::path& path) {
    std::map<std::string, std::string> texts;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        ADD_FAILURE() << "no image " << path;
        return texts;
    }
    struct Reader {
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        ~Reader() { png_destroy_read_struct(&png, &info, nullptr); }
    } reader;
    if (setjmp(png_jmpbuf(reader.png)) != 0) {
        ADD_FAILURE() << "unreadable PNG " << path;
        return texts;
    }
    png_init_io(reader.png, file.get());
    png_read_info(reader.png, reader.info);
    png_textp chunks = nullptr;
    const int count = png_get_text(reader.png, reader.info, &chunks, nullptr);
    for (int i = 0; i < count; ++i) {
        const bool international = chunks[i].compression == PNG_ITXT_COMPRESSION_NONE;
        texts[chunks[i].key] =
            international ? "iTXt:" + std::string(chunks[i].text) : Latin1ToUtf8(chunks[i].text);
    }
    return texts;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

// The credit's tags of the first directory; GDAL's document under its tag number.
std::map<std::string, std::string> TiffTexts(const std::filesystem::path& path) {
    std::map<std::string, std::string> texts;
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFOpen(path.c_str(), "r"));
    if (!tif) {
        ADD_FAILURE() << "unreadable TIFF " << path;
        return texts;
    }
    const std::map<std::string, ttag_t> tags = {{"Copyright", TIFFTAG_COPYRIGHT},
                                                {"ImageDescription", TIFFTAG_IMAGEDESCRIPTION},
                                                {"Software", TIFFTAG_SOFTWARE},
                                                {"DateTime", TIFFTAG_DATETIME}};
    for (const auto& [name, tag] : tags) {
        const char* text = nullptr;
        if (TIFFGetField(tif.get(), tag, &text) != 0 && text != nullptr) {
            texts[name] = text;
        }
    }
    // A tag libtiff does not know is read as one with its count passed.
    std::uint32_t length = 0;
    const char* gdal = nullptr;
    if (TIFFGetField(tif.get(), 42112, &length, &gdal) != 0 && gdal != nullptr) {
        texts["42112"] = std::string(gdal, strnlen(gdal, length));
    }
    return texts;
}

struct Writer {
    const char* name;
    std::vector<std::string> args;
    bool tiff;
};

struct Credit {
    const char* name;
    std::string attribution; // empty: the map service
    std::string expectedSource;
    bool international;
};

class ImageCredit : public QuiltaraMake {
protected:
    // One run of one tile of the road map; the image's path.
    std::filesystem::path Run(const test::DemoServer& server, const Credit& credit,
                              const Writer& writer, const std::string& extra = "") {
        std::vector<std::string> args = {tiles_, "--zoom=5", "--layers=map", "--existing=overwrite",
                                         "--keep-tiles"};
        if (quiet_) {
            args.push_back("--quiet");
        }
        if (credit.attribution.empty()) {
            args.push_back("--template-map=" + server.Template(MapLayer::Map));
        } else {
            sources_.Write("mine.json",
                           sources_.Source(server, "Mine",
                                           R"(, "attribution": ")" + credit.attribution +
                                               R"(", "terms": "https://mine.example/terms")"));
            args.push_back("--source=mine");
            shellPrefix_ = sources_.Prefix();
        }
        args.insert(args.end(), writer.args.begin(), writer.args.end());
        if (!extra.empty()) {
            args.push_back(extra);
        }
        args.push_back((out_ / (std::string(writer.name) + credit.name + ".png")).string());
        const Finished finished = Make(args);
        EXPECT_EQ(finished.status, 0) << finished.out << finished.err;
        printed_ = finished.out + finished.err;
        return out_ / ("Map_" + std::string(writer.name) + credit.name + ".png");
    }

    UserSources sources_;
    std::string tiles_ = "--tiles=10,20,10,20";
    bool quiet_ = true;
    std::string printed_;
};

TEST_F(ImageCredit, EveryWriterCarriesTheSourcesCreditAsItsReadersShowIt) {
    test::DemoServer server;
    const std::vector<Writer> writers = {{"streamed", {}, false},
                                         {"inmemory", {"--in-memory"}, false},
                                         {"geotiff", {"--format=tiff"}, true}};
    const std::vector<Credit> credits = {
        {"service", "", "Google Maps (terms of use: https://www.google.com/help/terms_maps/)",
         false},
        {"latin", "\u00a9 Stra\u00dfenkarte & <Mine>",
         "Mine (terms of use: https://mine.example/terms)", false},
        {"cyrillic", "\u00a9 \u041a\u0430\u0440\u0442\u0430",
         "Mine (terms of use: https://mine.example/terms)", true},
    };
    const std::time_t before = std::time(nullptr);
    for (const Writer& writer : writers) {
        for (const Credit& credit : credits) {
            SCOPED_TRACE(std::string(writer.name) + " " + credit.name);
            const std::filesystem::path image = Run(server, credit, writer);
            const std::string attribution =
                credit.attribution.empty() ? "Google Maps" : credit.attribution;
            if (!writer.tiff) {
                const auto texts = PngTexts(image);
                EXPECT_EQ(texts.at("Copyright"),
                          (credit.international ? "iTXt:" : "") + attribution);
                EXPECT_EQ(texts.at("Source"), credit.expectedSource);
                EXPECT_EQ(texts.at("Software"), "Quiltara 0.1.0");
                EXPECT_THAT(texts.at("Creation Time"),
                            MatchesRegex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} [A-Z][a-z]{2} "
                                         "20[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT"));
                continue;
            }
            const auto texts = TiffTexts(image);
            EXPECT_EQ(texts.at("Copyright"), attribution);
            EXPECT_EQ(texts.at("ImageDescription"), credit.expectedSource);
            EXPECT_EQ(texts.at("Software"), "Quiltara 0.1.0");
            std::tm made{};
            ASSERT_NE(strptime(texts.at("DateTime").c_str(), "%Y:%m:%d %H:%M:%S", &made), nullptr);
            EXPECT_GE(timegm(&made), before);
            EXPECT_LE(timegm(&made), std::time(nullptr));
            EXPECT_THAT(texts.at("42112"), HasSubstr("<Item name=\"SOURCE\">"));
            const std::string escaped = credit.name == std::string("latin")
                                            ? "\u00a9 Stra\u00dfenkarte &amp; &lt;Mine&gt;"
                                            : attribution;
            EXPECT_THAT(texts.at("42112"),
                        HasSubstr("<Item name=\"ATTRIBUTION\">" + escaped + "</Item>"));
        }
    }
}

// The smallest box holding every pixel where the two images differ, as
// left, top, right, bottom counted from the top left; all -1 when none does.
std::array<int, 4> DifferingBox(const RasterImage& a, const RasterImage& b) {
    std::array<int, 4> box = {-1, -1, -1, -1};
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            if (a.PixelColor(x, y) == b.PixelColor(x, y)) {
                continue;
            }
            const int top = a.Height() - 1 - y;
            box = box[0] < 0 ? std::array<int, 4>{x, top, x, top}
                             : std::array<int, 4>{std::min(box[0], x), std::min(box[1], top),
                                                  std::max(box[2], x), std::max(box[3], top)};
        }
    }
    return box;
}

TEST_F(ImageCredit, TheStampLiesInTheBottomRightCornerAndLeavesTheRestAlone) {
    test::DemoServer server;
    const Credit service{"service", "", "", false};
    auto read = [](const std::filesystem::path& path) {
        RasterImage image(path.string(), kFormatPng);
        EXPECT_TRUE(image.HasPixels()) << path;
        return image;
    };
    tiles_ = "--tiles=10,20,11,21";
    const RasterImage plain = read(Run(server, service, {"plain", {}, false}));
    const RasterImage stamped =
        read(Run(server, service, {"stamped", {}, false}, "--stamp-attribution"));
    // "Google Maps" fits on one line: nothing to say.
    EXPECT_THAT(printed_, Not(HasSubstr("attribution")));
    const RasterImage whole =
        read(Run(server, service, {"whole", {"--in-memory"}, false}, "--stamp-attribution"));

    const std::array<int, 4> box = DifferingBox(plain, stamped);
    ASSERT_GE(box[0], 0) << "no strip drawn";
    EXPECT_EQ(box[2], 511);
    EXPECT_EQ(box[3], 511);
    // One line of small text, the ground around it.
    EXPECT_LE(511 - box[1], 20);
    EXPECT_LE(511 - box[0], 100);
    EXPECT_GE(511 - box[0], 50);
    EXPECT_EQ(DifferingBox(stamped, whole)[0], -1) << "the stitchers draw different strips";
}

TEST_F(ImageCredit, AStripWiderThanTheImageIsWrappedOrShortenedAndSaysSo) {
    test::DemoServer server;
    const std::string words = "Tiles by the Example Mapping Cooperative and its many contributors";
    struct Case {
        const char* name;
        std::string attribution;
        const char* said; // how the note is given
        const char* note;
    };
    // The wrapped strip is a progress line, the shortened one the run's message.
    const std::vector<Case> cases = {
        {"wrapped", words, "\n", "is wrapped onto 2 lines to fit the image's width of 256 pixels."},
        {"shortened", words + ", " + words + ", " + words + ", " + words, "[Quiltara] ",
         "is shortened to fit the image's width of 256 pixels."},
    };
    quiet_ = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Credit credit{c.name, c.attribution, "", false};
        const Writer writer{c.name, {}, false};
        const std::filesystem::path plainPath = Run(server, credit, writer);
        const RasterImage plain(plainPath.string(), kFormatPng);
        const std::filesystem::path path = Run(server, credit, writer, "--stamp-attribution");
        EXPECT_THAT(printed_, HasSubstr(c.said + ("The attribution on " + path.string() + " ") +
                                        c.note + "\n"));
        const RasterImage stamped(path.string(), kFormatPng);
        const std::array<int, 4> box = DifferingBox(plain, stamped);
        ASSERT_GE(box[0], 0);
        EXPECT_GE(box[0], 0);
        EXPECT_LE(box[0], 20) << "a strip as wide as the image";
        EXPECT_EQ(box[3], 255);
        EXPECT_GT(255 - box[1], 25) << "more than one line";
        EXPECT_LT(255 - box[1], 60) << "three lines at most";
    }
}

} // namespace
} // namespace quiltara::make
