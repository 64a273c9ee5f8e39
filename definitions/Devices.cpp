#include "definitions/Devices.h"

#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "settings/Settings.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>

TDevices::TDevices(TRegisterDataStore& store) : FStore(store) {}

TDevices::~TDevices() {
    // Device types first: their trees may refer to nodes of the document.
    Devices.clear();
    Document.reset();
}

bool TDevices::LoadFromFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw TModelError("Could not find XML document : " + path);

    Document = std::make_unique<pugi::xml_document>();
    XmlLoadFile(*Document, path);

    const pugi::xml_node root = Document->document_element();
    if (std::strcmp(root.name(), "rur") != 0) {
        TModelError refused(std::string("Could not find parent tag: ") + "rur");
        XmlPlaceError(refused, root);
        throw refused;
    }

    for (pugi::xml_node child : root.children()) {
        if (std::strcmp(child.name(), "device") != 0)
            continue;
        // Appended before it is read, so a failing device type stays in the catalogue.
        Devices.push_back(std::make_unique<TDevice>(FStore));
        TSettings& tree = *Devices.back()->Settings;
        tree.NextGroupId = FNextGroupId;
        tree.NextSettingId = FNextSettingId;
        try {
            Devices.back()->LoadFromXml(child, root);
        } catch (TModelError& refused) {
            FNextGroupId = tree.NextGroupId;
            FNextSettingId = tree.NextSettingId;
            XmlPlaceError(refused, child);
            throw;
        }
        FNextGroupId = tree.NextGroupId;
        FNextSettingId = tree.NextSettingId;
    }
    return true;
}

TDevice* TDevices::DeviceByIndex(int position) const {
    // Said plainly: with nothing to choose from, any position is out of bounds.
    if (Devices.empty())
        throw std::out_of_range("There are no device types in the definition file.");
    if (position < 0 || static_cast<size_t>(position) >= Devices.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(position) + ")");
    return Devices[static_cast<size_t>(position)].get();
}

TDevice* TDevices::DeviceById(int32_t id) const {
    for (const auto& device : Devices) {
        if (device->DeviceId == id)
            return device.get();
    }
    throw TModelError("Could not find device with ID '" + std::to_string(id) +
                      "' in the XML device definitions list");
}
