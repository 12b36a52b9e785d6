#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quiltara::make {

// "a,b,,c" split at the separator: "a", "b", "", "c"; an empty text is one
// empty part.
std::vector<std::string> SplitList(const std::string& text, char separator);

// A whole number and nothing else around it.
bool ParseInt(const std::string& text, int& value);

// A finite number and nothing else around it.
bool ParseDouble(const std::string& text, double& value);

// Exactly count comma-separated numbers, each read by parse.
template <typename Number, typename Parser>
bool ParseNumbers(const std::string& text, std::size_t count, std::vector<Number>& numbers,
                  Parser parse) {
    const std::vector<std::string> parts = SplitList(text, ',');
    if (parts.size() != count) {
        return false;
    }
    numbers.assign(count, Number{});
    for (std::size_t i = 0; i < count; ++i) {
        if (!parse(parts[i], numbers[i])) {
            return false;
        }
    }
    return true;
}

} // namespace quiltara::make
