#include "platform/MemorySettingsStore.h"

#include <charconv>

namespace quiltara {

int MemorySettingsStore::GetInt(const std::string& name, int defaultValue) {
    const auto found = values_.find(name);
    if (found == values_.end()) {
        return defaultValue;
    }
    const std::string& text = found->second;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return defaultValue;
    }
    return value;
}

void MemorySettingsStore::SetInt(const std::string& name, int value) {
    values_[name] = std::to_string(value);
}

std::string MemorySettingsStore::GetString(const std::string& name,
                                           const std::string& defaultValue) {
    const auto found = values_.find(name);
    return found == values_.end() ? defaultValue : found->second;
}

void MemorySettingsStore::SetString(const std::string& name, const std::string& value) {
    values_[name] = value;
}

} // namespace quiltara
