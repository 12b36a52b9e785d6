#include "gui/QtSettingsStore.h"

namespace quiltara {

namespace {

QString Key(const std::string& name) {
    return QStringLiteral("Quiltara/") + QString::fromStdString(name);
}

} // namespace

QtSettingsStore::QtSettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quiltara"),
                QStringLiteral("Quiltara")) {}

QtSettingsStore::QtSettingsStore(const QString& iniPath)
    : settings_(iniPath, QSettings::IniFormat) {}

int QtSettingsStore::GetInt(const std::string& name, int defaultValue) {
    const QVariant value = settings_.value(Key(name));
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : defaultValue;
}

void QtSettingsStore::SetInt(const std::string& name, int value) {
    settings_.setValue(Key(name), value);
    settings_.sync();
}

std::string QtSettingsStore::GetString(const std::string& name, const std::string& defaultValue) {
    const QVariant value = settings_.value(Key(name));
    if (!value.isValid()) {
        return defaultValue;
    }
    return value.toString().toStdString();
}

void QtSettingsStore::SetString(const std::string& name, const std::string& value) {
    settings_.setValue(Key(name), QString::fromStdString(value));
    settings_.sync();
}

} // namespace quiltara
