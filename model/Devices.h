#pragma once
// The catalogue of device types read from the definition file.
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "model/Device.h"

class TDevices {
public:
    TDevices();
    ~TDevices();
    TDevices(const TDevices&) = delete;
    TDevices& operator=(const TDevices&) = delete;

    // Reads the definition file. Raises on the first error; device types read before it
    // (including the one being read) stay in the catalogue.
    bool LoadFromFile(const std::string& path);

    // Raises std::out_of_range for a position outside the catalogue.
    TDevice* DeviceByIndex(int position) const;
    // The first device type with this id; raises "Could not find device with ID '<id>' in the
    // XML device definitions list" when there is none.
    TDevice* DeviceById(int32_t id) const;

    std::unique_ptr<pugi::xml_document> Document;
    std::vector<std::unique_ptr<TDevice>> Devices;
};
