#pragma once
// The catalogue of device types read from the definition file.
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "settings/Device.h"

class TRegisterDataStore;

class TDevices {
public:
    // Every device type's tree reads and writes its values in `store`, which outlives them.
    explicit TDevices(TRegisterDataStore& store);
    ~TDevices();
    TDevices(const TDevices&) = delete;
    TDevices& operator=(const TDevices&) = delete;

    // The store every device type's tree reads and writes.
    TRegisterDataStore& Store() const { return FStore; }

    // Reads the definition file. Raises on the first error; device types read before it
    // (including the one being read) stay in the catalogue.
    bool LoadFromFile(const std::string& path);

    // Raises std::out_of_range for a position outside the catalogue.
    TDevice* DeviceByIndex(int position) const;
    // The first device type with this id; raises "Could not find device with ID '<id>' in the
    // XML device definitions list" when there is none.
    TDevice* DeviceById(int32_t id) const;

    std::unique_ptr<pugi::xml_document> Document;

private:
    TRegisterDataStore& FStore;
    // Numbers of the next group and setting: each tree counts on from the one before.
    int32_t FNextGroupId = 0;
    int32_t FNextSettingId = 0;

public:
    std::vector<std::unique_ptr<TDevice>> Devices;
};
