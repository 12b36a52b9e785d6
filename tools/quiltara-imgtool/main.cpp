// quiltara-imgtool: the image library from the command line, for developers
// and bug reports.
//
//   quiltara-imgtool info FILE [ID]   what LoadFile(FILE, ID) gives (ID 0 by default)
//   quiltara-imgtool rgba FILE OUT    the decoded pixels as raw RGBA, rows top to bottom
//   quiltara-imgtool convert IN OUT   LoadFile(IN, 0), then SaveFile(OUT, 4): a PNG
//
// Exit status 0 on success; otherwise 1 with the error text on stderr (2 for
// a wrong command line).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace {

using quiltara::RasterImage;

int Usage() {
    std::fputs(
        "usage: quiltara-imgtool info FILE [ID]\n"
        "       quiltara-imgtool rgba FILE OUT\n"
        "       quiltara-imgtool convert IN OUT\n",
        stderr);
    return 2;
}

int Failure(const char* what, const RasterImage& image) {
    std::fprintf(stderr, "%s: %s\n", what, image.ErrorText());
    return 1;
}

bool ParseId(const char* text, std::uint32_t& id) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 0xFFFFFFFFul) {
        return false;
    }
    id = static_cast<std::uint32_t>(value);
    return true;
}

int Info(const std::string& path, std::uint32_t id) {
    RasterImage image;
    const bool loaded = image.LoadFile(path, id);
    std::printf("success: %s\n", loaded ? "yes" : "no");
    std::printf("width: %d\n", image.Width());
    std::printf("height: %d\n", image.Height());
    std::printf("bits per pixel: %d\n", image.BitsPerPixel());
    std::printf("format id: %u\n", image.FormatId());
    std::printf("palette size: %u\n", image.ColorCount());
    std::printf("transparent index: %d\n", image.TransparentIndex());
    std::printf("alpha plane: %s\n", image.HasAlpha() ? "yes" : "no");
    std::printf("error text: %s\n", image.ErrorText());
    return loaded ? 0 : Failure(path.c_str(), image);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

int Rgba(const std::string& path, const std::string& out) {
    RasterImage image;
    if (!image.LoadFile(path, quiltara::kFormatUnknown)) {
        return Failure(path.c_str(), image);
    }
    const std::vector<std::uint8_t> pixels = quiltara::RgbaReadback(image);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(out.c_str(), "wb"));
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", out.c_str(), std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(pixels.data(), 1, pixels.size(), file.get()) == pixels.size();
    if (std::fclose(file.release()) != 0 || !written) {
        std::fprintf(stderr, "%s: cannot write the pixels\n", out.c_str());
        return 1;
    }
    return 0;
}

int Convert(const std::string& in, const std::string& out) {
    RasterImage image;
    if (!image.LoadFile(in, quiltara::kFormatUnknown)) {
        return Failure(in.c_str(), image);
    }
    image.SetErrorText("");
    if (!image.SaveFile(out, quiltara::kFormatPng)) {
        if (image.ErrorText()[0] == '\0') {
            std::fprintf(stderr, "%s: cannot open the file for writing\n", out.c_str());
            return 1;
        }
        return Failure(out.c_str(), image);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string command = argv[1];
    if (command == "info" && (argc == 3 || argc == 4)) {
        std::uint32_t id = 0;
        if (argc == 4 && !ParseId(argv[3], id)) {
            return Usage();
        }
        return Info(argv[2], id);
    }
    if (command == "rgba" && argc == 4) {
        return Rgba(argv[2], argv[3]);
    }
    if (command == "convert" && argc == 4) {
        return Convert(argv[2], argv[3]);
    }
    return Usage();
}
