#pragma once

#include <map>
#include <string>

#include "platform/SettingsStore.h"

namespace quiltara {

// A settings store held in memory, for tests and for the headless map maker,
// which never touches the user's settings file.
class MemorySettingsStore : public SettingsStore {
public:
    int GetInt(const std::string& name, int defaultValue) override;
    void SetInt(const std::string& name, int value) override;
    std::string GetString(const std::string& name, const std::string& defaultValue) override;
    void SetString(const std::string& name, const std::string& value) override;

    bool Contains(const std::string& name) const { return values_.count(name) != 0; }

private:
    std::map<std::string, std::string> values_;
};

} // namespace quiltara
