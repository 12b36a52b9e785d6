#pragma once

// Two runs that make the same map write the same file but for the moment it
// was made: the comparisons of whole files leave that out.
#include <cstdint>
#include <string>

namespace quiltara::test {

// A PNG file's bytes without its "Creation Time" text chunk; other data as it is.
inline std::string WithoutCreationTime(const std::string& file) {
    const std::string signature = "\x89PNG\r\n\x1a\n";
    if (file.compare(0, signature.size(), signature) != 0) {
        return file;
    }
    std::string kept = signature;
    for (std::size_t at = signature.size(); at + 12 <= file.size();) {
        const auto byte = [&](std::size_t i) { return std::uint32_t{std::uint8_t(file[at + i])}; };
        const std::size_t length = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
        const std::size_t whole = 12 + length;
        if (at + whole > file.size()) {
            return file; // not a file of whole chunks: compared as it is
        }
        if (file.compare(at + 4, 4 + 14, "tEXtCreation Time\0", 18) != 0) {
            kept.append(file, at, whole);
        }
        at += whole;
    }
    return kept;
}

} // namespace quiltara::test
