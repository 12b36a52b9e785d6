#include "run/RunImages.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/CancelFlag.h"

namespace quiltara {

std::string FileSizeText(std::uintmax_t bytes) {
    if (bytes < 1000) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    // 999.95 kB would print as "1000.0 kB": it is shown as the next unit.
    while (value >= 999.95 && unit + 1 < std::size(kUnits)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string RunImage::SizeText() const {
    const std::string size = FileSizeText(fileBytes);
    if (!preview) {
        return size;
    }
    return std::to_string(preview->width) + " x " + std::to_string(preview->height) + " pixels, " +
           size;
}

std::vector<RunImage> DescribeRunImages(const CreateMapOutcome& outcome, std::uint32_t previewSide,
                                        const CancelFlag* cancel) {
    namespace fs = std::filesystem;
    std::vector<RunImage> images;
    for (const StitchedLayer& stitched : outcome.images) {
        if (!stitched.saved) {
            continue; // the progress list says why
        }
        RunImage image;
        image.path = stitched.path;
        const fs::path path(stitched.path);
        image.fileName = path.filename().string();
        image.folder = path.has_parent_path() ? path.parent_path().string() : std::string(".");
        std::error_code error;
        const std::uintmax_t bytes = fs::file_size(path, error);
        image.fileBytes = error ? 0 : bytes;
        const auto stop = [cancel] { return cancel != nullptr && cancel->Requested(); };
        if (!stop()) {
            image.preview = ReadImagePreview(stitched.path, previewSide, stop);
        }
        images.push_back(std::move(image));
    }
    return images;
}

} // namespace quiltara
