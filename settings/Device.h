#pragma once
// One device type of the definition file, with its settings tree and the connection state
// the main window sets when the user connects.
#include <cstdint>
#include <memory>
#include <pugixml.hpp>
#include <string>

class TRegisterDataStore;
class TSettings;

class TDevice {
public:
    // The device type's tree reads and writes its values in `store`.
    explicit TDevice(TRegisterDataStore& store);
    ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Reads the device element; `root` is the document element, among whose children the
    // settings element with the device's settings_id is looked up.
    void LoadFromXml(const pugi::xml_node& element, const pugi::xml_node& root);

    std::string Name;
    int32_t DeviceId = 0;
    std::unique_ptr<TSettings> Settings;
    int32_t CommPort = 0;
    int32_t Address = 0;
    bool Online = false;
    int32_t LiveStatusId = 0;
    int32_t SettingsId = 0;
};
