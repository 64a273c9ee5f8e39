#include "model/Settings.h"

TGroup* ShownGroup = nullptr;

TSettings::TSettings(TDevice* device) : Device(device) {}

TSettings::~TSettings() = default;

void TSettings::LoadFromXml(const pugi::xml_node& settingsElement) {
    (void)settingsElement;
}
