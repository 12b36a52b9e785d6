#pragma once

#include <string>

namespace quiltara {

// The per-user settings store: named integers and texts in the product's one
// section. The desktop application keeps them in the user's settings file;
// tests use a temporary file.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored integer, or defaultValue when the name is absent or does not
    // hold a number.
    virtual int GetInt(const std::string& name, int defaultValue) = 0;

    // Stores the value and writes it out at once, so a later failure of the
    // program cannot lose it.
    virtual void SetInt(const std::string& name, int value) = 0;

    virtual std::string GetString(const std::string& name, const std::string& defaultValue) = 0;
    virtual void SetString(const std::string& name, const std::string& value) = 0;
};

} // namespace quiltara
