#pragma once

#include <QSettings>
#include <QString>

#include "platform/SettingsStore.h"

namespace quiltara {

// The settings store as a QSettings INI file, every value in the group
// "Quiltara". The user's store is ~/.config/Quiltara/Quiltara.ini.
class QtSettingsStore : public SettingsStore {
public:
    // The current user's store (organisation "Quiltara", application "Quiltara").
    QtSettingsStore();
    // A store in the given INI file; tests use this with a temporary file.
    explicit QtSettingsStore(const QString& iniPath);

    int GetInt(const std::string& name, int defaultValue) override;
    void SetInt(const std::string& name, int value) override;
    std::string GetString(const std::string& name, const std::string& defaultValue) override;
    void SetString(const std::string& name, const std::string& value) override;

    QString FileName() const { return settings_.fileName(); }

private:
    QSettings settings_;
};

} // namespace quiltara
