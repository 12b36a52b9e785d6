#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/ImagePreview.h"
#include "run/CreateMapRun.h"

namespace quiltara {

class CancelFlag;

// The side of the previews of a run's images, in pixels.
inline constexpr std::uint32_t kRunImagePreviewSide = 72;

// One image a run saved, as the window lists it when the run is over.
struct RunImage {
    std::string path;     // as the run saved it
    std::string fileName; // the name alone
    std::string folder;   // the folder it lies in ("." for the current folder)
    std::uintmax_t fileBytes = 0;
    std::optional<ImagePreview> preview; // none: the file could not be read back

    // "512 x 512 pixels, 431.2 kB"; the size alone when the pixels could not be read.
    std::string SizeText() const;
};

// Every image of the outcome that was saved (layers and composites alike), in
// the outcome's order, each with its file's size and a preview read back from
// the finished file. Reading stops with nothing more once cancel is requested.
std::vector<RunImage> DescribeRunImages(const CreateMapOutcome& outcome,
                                        std::uint32_t previewSide = kRunImagePreviewSide,
                                        const CancelFlag* cancel = nullptr);

// A file's size for people: "845 bytes", "43.1 kB", "1.2 MB", "4.8 GB"
// (decimal units, as file managers show them).
std::string FileSizeText(std::uintmax_t bytes);

} // namespace quiltara
