#include "settings/Device.h"

#include "base/Convert.h"
#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "settings/Settings.h"

#include <cstring>

TDevice::TDevice(TRegisterDataStore& store) : Settings(std::make_unique<TSettings>(this, store)) {}

TDevice::~TDevice() = default;

void TDevice::LoadFromXml(const pugi::xml_node& element, const pugi::xml_node& root) {
    Name = XmlGetAttribute(element, "name");
    DeviceId = StrToInt(XmlGetAttribute(element, "device_id"));
    LiveStatusId = StrToInt(XmlGetAttribute(element, "live_status_id"));
    SettingsId = StrToInt(XmlGetAttribute(element, "settings_id"));

    for (pugi::xml_node child : root.children()) {
        if (std::strcmp(child.name(), "settings") != 0)
            continue;
        int32_t id = 0;
        try {
            id = StrToInt(XmlGetAttribute(child, "settings_id"));
        } catch (TModelError& error) {
            XmlPlaceError(error, child);
            throw;
        }
        if (id == SettingsId) {
            Settings->LoadFromXml(child);
            return;
        }
    }
    throw TModelError("Could not find a settings node with id " + std::to_string(SettingsId));
}
