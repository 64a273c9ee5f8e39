#include "settings/Group.h"

#include "base/Errors.h"
#include "base/Xmlutil.h"
#include "modbus/Registerdatastore.h"
#include "settings/Setting.h"
#include "settings/Setting_checkbox.h"
#include "settings/Setting_dropdown.h"
#include "settings/Setting_int.h"
#include "settings/Setting_label.h"
#include "settings/Setting_name.h"
#include "settings/Setting_sectionlabel.h"
#include "settings/Setting_uint32.h"
#include "settings/Setting_units.h"
#include "settings/Settings.h"

#include <cstring>
#include <stdexcept>

TGroup::TGroup(TSettings* owner) : Owner(owner) {}

TGroup::~TGroup() = default;

bool TGroup::IsTemplateNode(const pugi::xml_node& element) {
    Name = XmlGetAttribute(element, "name");
    return Name == "Group";
}

void TGroup::LoadFromXml(const pugi::xml_node& element) {
    Name = XmlGetAttribute(element, "name");
    Description = XmlGetAttribute(element, "description");
    Id = Owner->NextGroupId++;
    if (Name == "Group") {
        const int copies = TenGroups ? 10 : 1;
        for (int i = 0; i < copies; ++i) {
            const std::string heading =
                IsTemplate ? std::string("Template Group") : "Group " + std::to_string(FirstGroupNumber + i);
            AddSetting(std::make_unique<TSettingSectionLabel>(this, heading));
            for (pugi::xml_node child : element.children()) {
                if (std::strcmp(child.name(), "setting") == 0)
                    AddSettingFromXml(child, FirstGroupNumber + i + 50 * Controller - 51);
            }
        }
    } else {
        for (pugi::xml_node child : element.children()) {
            if (std::strcmp(child.name(), "setting") == 0)
                AddSettingFromXml(child, 0);
        }
    }
}

void TGroup::AddSettingFromXml(const pugi::xml_node& element, int32_t copyIndex) {
    const std::string type = XmlGetAttribute(element, "value_type");
    std::unique_ptr<TSetting> setting;
    if (type == "units")
        setting = std::make_unique<TSettingUnits>(this, copyIndex);
    else if (type == "checkbox")
        setting = std::make_unique<TSettingCheckBox>(this, copyIndex);
    else if (type == "int")
        setting = std::make_unique<TSettingInt>(this, copyIndex);
    else if (type == "drop_down")
        setting = std::make_unique<TSettingDropDown>(this, copyIndex);
    else if (type == "name")
        setting = std::make_unique<TSettingName>(this, copyIndex);
    else if (type == "label")
        setting = std::make_unique<TSettingLabel>(this, copyIndex);
    else if (type == "uint32")
        setting = std::make_unique<TSettingUint32>(this, copyIndex);
    else {
        TModelError error("Unknown setting type " + type);
        XmlPlaceError(error, element);
        throw error;
    }
    if (IsTemplate)
        setting->InTemplate = true;
    try {
        setting->LoadFromXml(element);
    } catch (TModelError& error) {
        XmlPlaceError(error, element);
        throw;
    }
    AddSetting(std::move(setting));
}

void TGroup::AddSetting(std::unique_ptr<TSetting> entry) {
    entry->IndexInGroup = SettingCount;
    Settings.push_back(std::move(entry));
    ++SettingCount;
}

void TGroup::Select() {
    TRegisterDataStore& store = Owner->Store();
    if (store.IsComplete()) {
        TStoreLock lock(store.Lock()); // a polling worker services these settings too
        for (auto& entry : Settings) {
            entry->MarkForRead();
            entry->ReadFromStore();
        }
    }
    // The tree's editing state, so a group opened during a run or while disconnected stays
    // read-only.
    for (auto& entry : Settings)
        entry->SetEnabled(Owner->Enabled);
    if (Owner->View != nullptr)
        Owner->View->ShowGroup(*this);
}

void TGroup::ShowMark() {
    if (View != nullptr)
        View->ShowMark();
}

void TGroup::SetEnabled(bool enabled) {
    for (auto& entry : Settings)
        entry->SetEnabled(enabled);
}

void TGroup::UpdateDisplay() {
    for (auto& entry : Settings)
        entry->UpdateDisplay(true);
}

void TGroup::ClearPending() {
    for (auto& entry : Settings)
        entry->ClearPending();
}

void TGroup::RegisterWithStore() {
    for (auto& entry : Settings) {
        if (!entry->InTemplate)
            entry->RegisterWithStore();
    }
}

void TGroup::RefreshFromStore() {
    TStoreLock lock(Owner->Store().Lock()); // a polling worker services these settings too
    for (auto& entry : Settings) {
        entry->MarkForRead();
        entry->ReadFromStore();
    }
    // Runs on the user-interface thread, so the new contents are shown at once.
    for (auto& entry : Settings) {
        if (entry->DisplayPending) {
            entry->DisplayPending = false;
            entry->UpdateDisplay(true);
        }
    }
}

TSetting* TGroup::FindSetting(const std::string& name) const {
    for (const auto& entry : Settings) {
        if (entry->Name == name)
            return entry.get();
    }
    return nullptr;
}

bool TGroup::IsValueFree(const TSetting* setting, int32_t value) const {
    for (const auto& entry : Settings) {
        if (entry.get() != setting && entry->ExclusionGroup != -1 &&
            entry->ExclusionGroup == setting->ExclusionGroup && entry->Value == value)
            return false;
    }
    return true;
}

std::string TGroup::ExclusionPeers(const TSetting* setting) const {
    std::string peers;
    for (const auto& entry : Settings) {
        if (entry.get() != setting && entry->ExclusionGroup != -1 &&
            entry->ExclusionGroup == setting->ExclusionGroup)
            peers += " \u2022 " + entry->Name + "\n";
    }
    return peers;
}

TSetting* TGroup::EntryAt(int32_t position) const {
    if (position < 0 || position >= static_cast<int32_t>(Settings.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(position) + ")");
    return Settings[static_cast<size_t>(position)].get();
}

void TGroup::CopyToRange(TSetting* setting) {
    if (IsTemplate)
        return;
    // Each of the ten copies holds SettingCount / 10 entries; the setting's counterparts stand
    // that far apart.
    const int32_t step = SettingCount / 10;
    int32_t i = setting->IndexInGroup;
    do {
        EntryAt(i)->CopyValueFrom(setting);
        // A group of fewer than ten entries has no copies to step through.
        if (step == 0)
            break;
        i += step;
    } while (i < SettingCount);
}
