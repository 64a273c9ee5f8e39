#include "app/Registry.h"

#include "base/Usersettingskeys.h"

#include <QSettings>
#include <QString>

int32_t ReadRegistryInteger(const std::string& name, int32_t defaultValue) {
    QSettings key(UserSettings::Organization, UserSettings::Application);
    const QString valueName = QString::fromStdString(name);
    if (key.contains(valueName)) {
        bool ok = false;
        const int value = key.value(valueName).toInt(&ok);
        if (ok)
            return value;
    }
    key.setValue(valueName, defaultValue);
    return defaultValue;
}

bool ReadRegistryBool(const std::string& name, bool defaultValue) {
    return ReadRegistryInteger(name, defaultValue ? 1 : 0) != 0;
}

void WriteRegistryInteger(const std::string& name, int32_t value) {
    QSettings key(UserSettings::Organization, UserSettings::Application);
    key.setValue(QString::fromStdString(name), value);
}

void WriteRegistryBool(const std::string& name, bool value) {
    WriteRegistryInteger(name, value ? 1 : 0);
}
