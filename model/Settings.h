#pragma once
// The settings tree of one device type. (Skeleton: the catalogue's seam only; the tree's
// groups, settings and operations are built on it.)
#include <memory>
#include <pugixml.hpp>
#include <vector>

class TDevice;
class TGroup;

// The group whose page is in the main area; none when the catalogue is created.
extern TGroup* ShownGroup;

class TSettings {
public:
    explicit TSettings(TDevice* device);
    ~TSettings();
    TSettings(const TSettings&) = delete;
    TSettings& operator=(const TSettings&) = delete;

    void LoadFromXml(const pugi::xml_node& settingsElement);

    TDevice* Device;
};
