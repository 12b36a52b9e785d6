#include "image/PngText.h"

#include <png.h>

namespace quiltara {

void SetPngText(png_structp png, png_infop info, const std::vector<PngTextEntry>& text) {
    if (text.empty()) {
        return;
    }
    std::vector<png_text> chunks(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        png_text& chunk = chunks[i];
        chunk.compression =
            text[i].international ? PNG_ITXT_COMPRESSION_NONE : PNG_TEXT_COMPRESSION_NONE;
        chunk.key = const_cast<png_charp>(text[i].keyword.c_str());
        chunk.text = const_cast<png_charp>(text[i].text.c_str());
        chunk.text_length = text[i].international ? 0 : text[i].text.size();
        chunk.itxt_length = text[i].international ? text[i].text.size() : 0;
        chunk.lang = nullptr;
        chunk.lang_key = nullptr;
    }
    png_set_text(png, info, chunks.data(), static_cast<int>(chunks.size()));
}

} // namespace quiltara
