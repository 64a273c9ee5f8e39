// Settings files, the comma-separated export and the factory defaults of a settings tree.
#include "base/Convert.h"
#include "base/Csv.h"
#include "base/Errors.h"
#include "base/Savefile.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Device.h"
#include "settings/Group.h"
#include "settings/Setting.h"
#include "settings/Settings.h"
#include "settings/Settingsload.h"

#include <cstring>

namespace {

// The group elements of the device element whose ID is the group's; raises when there is none.
std::vector<pugi::xml_node> GroupElements(const TGroup& group, const pugi::xml_node& deviceElement) {
    std::vector<pugi::xml_node> found;
    for (pugi::xml_node child : deviceElement.children()) {
        if (std::strcmp(child.name(), "group") != 0)
            continue;
        // A missing ID reads as empty text, which the conversion refuses.
        if (StrToInt(child.attribute("ID").value()) == group.Id)
            found.push_back(child);
    }
    if (found.empty())
        throw TModelError("Could not find settings group '" + group.Name + "' in the XML document");
    return found;
}

} // namespace

void TGroup::SaveToXml(pugi::xml_node& deviceElement) {
    pugi::xml_node element = deviceElement.append_child("group");
    element.append_attribute("name") = Name.c_str();
    element.append_attribute("ID") = Id;
    for (auto& entry : Settings)
        entry->SaveToXml(element);
}

void TGroup::LoadFromSettingsXml(const pugi::xml_node& deviceElement) {
    for (const pugi::xml_node& element : GroupElements(*this, deviceElement)) {
        for (auto& entry : Settings)
            entry->LoadFromSettingsXml(element);
    }
}

void TGroup::ExportCsv(TCsvWriter& csv) {
    for (auto& entry : Settings)
        entry->AddCsvLine(csv);
}

void TGroup::RestoreDefaults() {
    for (auto& entry : Settings)
        entry->RestoreDefault();
}

void TSettings::SaveToFile(const std::string& path) const {
    SaveFileContent(path, SaveToText());
}

std::string TSettings::SaveToText() const {
    pugi::xml_document document;
    pugi::xml_node settings = document.append_child("settings");
    pugi::xml_node device = settings.append_child("device");
    device.append_attribute("name") = Device != nullptr ? Device->Name.c_str() : "";
    device.append_attribute("device_id") = Device != nullptr ? Device->DeviceId : 0;
    for (const auto& group : Groups)
        group->SaveToXml(device);
    return XmlDocumentText(document);
}

void TSettings::LoadFromFile(const std::string& path, const TLoadOptions& options) {
    LoadWarnings.clear();
    pugi::xml_document document;
    XmlLoadFile(document, path);
    const pugi::xml_node root = document.document_element();
    if (std::strcmp(root.name(), "settings") != 0)
        throw TModelError("Could not find root node 'settings' in XML document");
    const pugi::xml_node device = XmlFindChild(root, "device");
    if (!device)
        throw TModelError("Could not find node 'device' in XML document");
    const std::string name = Device != nullptr ? Device->Name : std::string();
    const int32_t deviceId = Device != nullptr ? Device->DeviceId : 0;
    if (std::string(device.attribute("name").value()) != name) {
        throw TModelError("Device name is not ' " + name +
                          ".'\nThis settings file has been created for a different type of device.");
    }
    if (StrToInt(device.attribute("device_id").value()) != deviceId)
        throw TModelError("Device id is not ' " + std::to_string(deviceId) + "'");

    // Every group and every value is found, converted and checked before anything is applied,
    // so a file that fails leaves the tree and the register image as they were. The walk by
    // numbers is the one the values are applied in, so the first problem is reported as it
    // would be met.
    std::vector<TPendingValue> pending;
    pending.reserve(EntryCount());
    std::vector<std::string> warnings;
    if (options.ByName) {
        TNameMatch match = MatchByName(*this, device);
        for (const TNameMatch::TPair& pair : match.Pairs)
            pending.push_back({pair.Entry, pair.Entry->LoadValue(pair.Element)});
        warnings = std::move(match.Notes);
    } else {
        // Numbers alone would move values into settings of other names, or fail on a file
        // whose names are all there: such a file is loaded by names or not at all.
        const std::string conflict = NumberNameConflict(*this, device);
        try {
            for (const auto& group : Groups) {
                for (const pugi::xml_node& element : GroupElements(*group, device)) {
                    for (auto& entry : group->Settings)
                        pending.push_back({entry.get(), entry->FindLoadedValue(element)});
                }
            }
        } catch (const TModelError& e) {
            if (conflict.empty())
                throw;
            throw TOtherDefinitionsError(e.what(), MatchByName(*this, device).Notes);
        }
        if (!conflict.empty())
            throw TOtherDefinitionsError(conflict, MatchByName(*this, device).Notes);
    }
    const std::vector<std::string> outside = CheckLoadedValues(pending, CurrentUnits);
    if (!outside.empty() && !options.AllowOutOfRange)
        throw TOutOfLimitsError(outside);

    // The whole file reaches the image at once: a worker never sends half of it.
    TStoreLock lock(Store().Lock());
    for (const TPendingValue& value : pending) {
        value.Entry->ApplyLoadedValue(value.Loaded);
        if (!value.Loaded.Warning.empty())
            warnings.push_back(value.Loaded.Warning);
    }
    for (const std::string& value : outside)
        warnings.push_back("Loaded outside its limits: " + value);
    LoadWarnings = std::move(warnings);
}

void TSettings::ExportCsv(const std::string& path) const {
    SaveFileContent(path, ExportCsvText());
}

std::string TSettings::ExportCsvText() const {
    TCsvWriter csv;
    csv.AddRow({"Setting Name", "Value"});
    for (const auto& group : Groups)
        group->ExportCsv(csv);
    return csv.Text();
}

void TSettings::RestoreDefaults() {
    TStoreLock lock(Store().Lock());
    for (auto& group : Groups)
        group->RestoreDefaults();
}
